// Batches on movies the tests make: folders, the output folder, parallel
// work, frames beside the sheet, and the frame choice from the command line.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "capture/layout.h"
#include "cli/cli.h"
#include "platform/fs/atomic_file.h"
#include "render/raster_image.h"
#include "tests/capture/sheet_reader.h"
#include "tests/support/footage.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"
#include "tests/support/timeline.h"

namespace fs = std::filesystem;

namespace {

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// Every file below `root`, as paths relative to it, sorted.
std::vector<std::string> tree(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files.push_back(fs::relative(e.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

// Everything below `root`, hidden folders and files included.
std::vector<std::string> everything(const fs::path& root) {
    std::vector<std::string> entries;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(root, ec))
        entries.push_back(fs::relative(e.path(), root).string());
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The summary: the text after the last live-line clearing.
std::string summaryOf(const std::string& err) {
    const size_t at = err.rfind("\033[K", err.size() - 1);
    return at == std::string::npos ? err : err.substr(at + 3);
}

class Batches : public ::testing::Test {
protected:
    std::string movie(const std::string& relative, int frames = 50, int width = 176,
                      int height = 144) {
        testmovies::MovieSpec spec;
        spec.path = (dir / relative).string();
        fs::create_directories(fs::path(spec.path).parent_path());
        spec.frames = frames;
        spec.width = width;
        spec.height = height;
        if (fs::path(relative).extension().empty())
            spec.container = "avi";
        std::string error;
        EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
        return spec.path;
    }

    int run(std::vector<std::string> args, bool terminal = false, bool outTerminal = false) {
        std::vector<std::string> all{"stillwick-cli", "--options", (dir / "options.swk").string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<const char*> argv;
        for (const std::string& a : all)
            argv.push_back(a.c_str());
        std::ostringstream o, e;
        const int code =
            cli::run(static_cast<int>(argv.size()), argv.data(), o, e, terminal, outTerminal);
        out = o.str();
        err = e.str();
        return code;
    }

    testmovies::TempDir temp;
    const fs::path dir = temp.path();
    std::string out;
    std::string err;
};

TEST_F(Batches, FoldersGiveTheirMoviesFoundByReadingNotByName) {
    movie("lib/a.mp4");
    movie("lib/b.avi");
    movie("lib/.hidden.avi");
    movie("lib/sub/c.mkv");
    movie("lib/sub/no extension");
    std::ofstream(dir / "lib/notes.txt") << "not a movie";
    RasterImage cover;
    ASSERT_TRUE(cover.create(64, 64));
    ASSERT_TRUE(cover.savePng((dir / "lib/cover.png").string()));
    testmovies::MovieSpec wav;
    wav.path = (dir / "lib/sound.wav").string();
    wav.video = false;
    wav.audio = true;
    ASSERT_EQ(testmovies::make(wav, nullptr), 0);
    const std::string lib = (dir / "lib").string();

    ASSERT_EQ(run({"-r", "--output-dir", (dir / "out").string(), lib}, true), 0) << err;
    EXPECT_EQ(tree(dir / "out"),
              (std::vector<std::string>{"a.jpg", "b.jpg", "sub/c.jpg", "sub/no extension.jpg"}));
    EXPECT_EQ(lines(out),
              (std::vector<std::string>{(dir / "out/a.jpg").string(), (dir / "out/b.jpg").string(),
                                        (dir / "out/sub/c.jpg").string(),
                                        (dir / "out/sub/no extension.jpg").string()}));
    // On a terminal the run ends with the summary, after the live line is gone.
    ASSERT_GT(err.size(), 1u);
    EXPECT_EQ(err.back(), '\n');
    const std::string last = err.substr(err.rfind("\033[K", err.size() - 1) + 3);
    EXPECT_EQ(last.rfind("4 sheets, 0 failed, 3 files were no movies, ", 0), 0u) << last;
    EXPECT_EQ(std::count(last.begin(), last.end(), '\n'), 1);

    // Without -r: the top of the folder only. Beside the movies, in the
    // chosen format; the next run passes over those sheets.
    ASSERT_EQ(run({"--format", "png", lib}), 0) << err;
    EXPECT_EQ(lines(out), (std::vector<std::string>{(dir / "lib/a.png").string(),
                                                    (dir / "lib/b.png").string()}));
    ASSERT_EQ(run({"-y", "--info", lib}), 0) << err;
    EXPECT_EQ(out.find("a.png"), std::string::npos) << out;
    EXPECT_NE(out.find("File Name\t: a.mp4"), std::string::npos) << out;
    EXPECT_NE(out.find("File Name\t: b.avi"), std::string::npos) << out;
    // A file named on the command line is always tried, and fails alone.
    EXPECT_EQ(run({(dir / "lib/notes.txt").string()}), 1);
    EXPECT_EQ(lines(err).size(), 1u) << err;
}

TEST_F(Batches, SheetsThatWouldLandOnEachOtherAreRefusedNotReplaced) {
    movie("a/clip.avi", 30);
    movie("b/clip.avi", 60);
    const std::string outDir = (dir / "out").string();
    for (const char* overwrite : {"-q", "-y"}) {
        EXPECT_EQ(
            run({overwrite, "--output-dir", outDir, (dir / "a").string(), (dir / "b").string()}),
            1);
        const std::vector<std::string> said = lines(err);
        ASSERT_EQ(said.size(), 1u) << err;
        EXPECT_EQ(said[0].rfind((dir / "b/clip.avi").string() + ": ", 0), 0u) << said[0];
        EXPECT_NE(said[0].find((dir / "a/clip.avi").string()), std::string::npos) << said[0];
        EXPECT_EQ(tree(dir / "out"), std::vector<std::string>{"clip.jpg"});
        fs::remove_all(dir / "out");
    }
    // With -r from a common folder, the sub-folders keep them apart.
    ASSERT_EQ(run({"-r", "--output-dir", outDir, dir.string()}), 0) << err;
    EXPECT_EQ(tree(dir / "out"), (std::vector<std::string>{"a/clip.jpg", "b/clip.jpg"}));
}

TEST_F(Batches, ParallelSheetsAreByteForByteTheSerialOnes) {
    std::vector<std::string> movies;
    movies.push_back(movie("m/one.avi", 80));
    movies.push_back(movie("m/two.mkv", 120, 320, 240));
    movies.push_back(movie("m/three.mp4", 60, 352, 288));
    movies.push_back(movie("m/four.mpg", 90));
    movies.push_back(movie("m/five.mov", 40, 240, 136));
    const std::string folder = (dir / "m").string();
    ASSERT_EQ(run({"-j", "1", "--output-dir", (dir / "serial").string(), "--frames-dir",
                   (dir / "serial-frames").string(), folder}),
              0)
        << err;
    const std::string serialList = out;
    ASSERT_EQ(run({"-j", "3", "--output-dir", (dir / "parallel").string(), "--frames-dir",
                   (dir / "parallel-frames").string(), folder}),
              0)
        << err;
    // The list comes in the same order, whatever order the sheets were done in.
    std::string expected = serialList;
    for (size_t at; (at = expected.find("/serial/")) != std::string::npos;)
        expected.replace(at, 8, "/parallel/");
    EXPECT_EQ(out, expected);
    for (const char* pair : {"serial|parallel", "serial-frames|parallel-frames"}) {
        const std::string names(pair);
        const fs::path a = dir / names.substr(0, names.find('|'));
        const fs::path b = dir / names.substr(names.find('|') + 1);
        const std::vector<std::string> files = tree(a);
        EXPECT_EQ(files, tree(b));
        EXPECT_GE(files.size(), 5u);
        for (const std::string& f : files)
            EXPECT_TRUE(bytesOf(a / f) == bytesOf(b / f)) << f;
    }
}

// Width and height from a PNG's header.
std::pair<int, int> pngSize(const fs::path& path) {
    const std::string b = bytesOf(path);
    if (b.size() < 24 || b.compare(1, 3, "PNG") != 0)
        return {0, 0};
    auto be32 = [&](size_t at) {
        return (static_cast<uint8_t>(b[at]) << 24) | (static_cast<uint8_t>(b[at + 1]) << 16) |
               (static_cast<uint8_t>(b[at + 2]) << 8) | static_cast<uint8_t>(b[at + 3]);
    };
    return {static_cast<int>(be32(16)), static_cast<int>(be32(20))};
}

TEST_F(Batches, FramesAreWrittenAtFullSizeNumberedWithTheirTimes) {
    const std::string clip = movie("Clip One.avi", 100, 320, 240);
    const fs::path frames = dir / "frames";
    ASSERT_EQ(run({"--columns", "3", "--rows", "2", "--frames-dir", frames.string(),
                   "--frames-format", "png", clip}),
              0)
        << err;
    // Seven moments apart over 4 s: the first frame at or after each.
    const std::vector<testmovies::TimelineFrame> timeline = testmovies::decodeTimeline(clip);
    const std::vector<int64_t> moments = capturePositions(40'000'000, 6);
    std::vector<std::string> expected;
    for (size_t k = 0; k < moments.size(); ++k) {
        const testmovies::TimelineFrame& f = testmovies::expectedFrame(timeline, moments[k]);
        const int64_t ms = f.num * 1000 / (f.den * 10'000'000);
        char name[64];
        std::snprintf(name, sizeof name, "Clip One-%02zu-00h00m%02lld.%03llds.png", k + 1,
                      static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
        expected.push_back(name);
    }
    EXPECT_EQ(tree(frames), expected);
    for (const std::string& name : expected)
        EXPECT_EQ(pngSize(frames / name), std::make_pair(320, 240)) << name;

    // Frames already there are not replaced without -y, and the movie fails.
    EXPECT_EQ(run({"-y", "--columns", "3", "--rows", "2", "--frames-dir", frames.string(),
                   "--frames-format", "png", "-o", (dir / "again.jpg").string(), clip}),
              0)
        << err;
    EXPECT_EQ(run({"--columns", "3", "--rows", "2", "--frames-dir", frames.string(),
                   "--frames-format", "png", "-o", (dir / "third.jpg").string(), clip}),
              1);
    EXPECT_NE(err.find("exists"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "third.jpg"));
}

// The middle of a cell, clear of the time stamp, read as a frame index.
int cellIndex(const SheetPicture& sheet, const CellRect& cell) {
    const int memoryRow = sheet.height - 1 - (cell.y + cell.height / 2);
    return testmovies::indexFromBgr(sheet.pixels.data(), sheet.stride, cell.x + cell.width / 4,
                                    memoryRow, cell.width / 2, cell.height / 4);
}

SheetLayout layoutFor(int rows, int columns) {
    Options o = Options::defaults();
    o.rows = rows;
    o.columns = columns;
    o.headerEnabled = 0;
    SheetLayout layout;
    std::string error;
    EXPECT_TRUE(computeLayout(o, 176, 144, 0, 0, layout, error)) << error;
    return layout;
}

TEST_F(Batches, SkipsAndIntervalsFromTheCommandLine) {
    const std::string clip = movie("clip.avi", 100); // 4 s at 25 frames a second
    const std::string sheet = (dir / "sheet.bmp").string();
    ASSERT_EQ(run({"--header", "off", "--columns", "3", "--rows", "1", "--skip-start", "1s",
                   "--skip-end", "25%", "-o", sheet, clip}),
              0)
        << err;
    // The moments of 1 … 3 s: 1.5, 2.0 and 2.5 s, frames 38, 50 and 63.
    SheetPicture picture;
    ASSERT_TRUE(readBmp(sheet, picture));
    const SheetLayout three = layoutFor(1, 3);
    EXPECT_EQ(picture.width, three.sheetWidth);
    const int expected[] = {38, 50, 63};
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(cellIndex(picture, three.cellAt(k)), expected[k]) << k;

    // A frame every half second over 4 s, 2 across: 7 cells → 4 rows.
    ASSERT_EQ(
        run({"-y", "--header", "off", "--columns", "2", "--interval", "0.5", "-o", sheet, clip}), 0)
        << err;
    ASSERT_TRUE(readBmp(sheet, picture));
    const SheetLayout grid = layoutFor(4, 2);
    EXPECT_EQ(picture.height, grid.sheetHeight);
    EXPECT_EQ(cellIndex(picture, grid.cellAt(0)), 12); // 4 s / 9 = 0.44 s → frame 12

    // Choices that cannot work are usage errors.
    EXPECT_EQ(run({"--interval", "0", clip}), 2);
    EXPECT_EQ(run({"--interval", "5", "--rows", "3", clip}), 2);
    EXPECT_EQ(run({"--skip-start", "ten", clip}), 2);
    EXPECT_EQ(run({"--skip-start", "60%", "--skip-end", "50%", clip}), 1);
    EXPECT_NE(err.find("leaves nothing"), std::string::npos) << err;
}

TEST_F(Batches, OptionsThatContradictEachOtherAreUsageErrors) {
    const std::string clip = movie("clip.avi", 10);
    const std::vector<std::vector<std::string>> bad = {
        {"-o", "x.jpg", "--output-dir", "out", clip},
        {"-o", "x.jpg", "--format", "png", clip},
        {"--json", clip},
        {"--info", "--frames-dir", "f", clip},
        {"--frames-format", "png", clip},
        {"--format", "gif", clip},
        {"-j", "0", clip},
        {"-o", "x.jpg", dir.string()},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(run(args), 2) << args[0] << " " << args[1];
        EXPECT_FALSE(err.empty());
    }
}

// With --frames-dir the output folder, a movie's frame may bear the name of
// another movie's sheet. The frame never replaces it, whatever the order of
// work and even with -y: that movie fails with one line, and leaves nothing.
TEST_F(Batches, AFrameNeverReplacesASheetEvenInTheOutputFolderAndWithY) {
    const std::string clip = movie("m/clip.avi", 50);
    // The name the one frame of a 1 × 1 sheet of clip.avi gets.
    ASSERT_EQ(run({"--columns", "1", "--rows", "1", "--frames-dir", (dir / "probe").string(), "-o",
                   (dir / "probe.jpg").string(), clip}),
              0)
        << err;
    const std::vector<std::string> probe = tree(dir / "probe");
    ASSERT_EQ(probe.size(), 1u);
    const std::string frameName = probe[0];
    const std::string colliderStem = frameName.substr(0, frameName.size() - 4);
    const std::string collider = movie("m/" + colliderStem + ".avi", 30);
    ASSERT_EQ(run({"--columns", "1", "--rows", "1", "-o", (dir / "alone.jpg").string(), collider}),
              0)
        << err;
    const std::string colliderSheet = bytesOf(dir / "alone.jpg");

    const fs::path out = dir / "out";
    for (const char* jobs : {"1", "2"}) {
        for (const bool overwrite : {true, false}) {
            SCOPED_TRACE(std::string(jobs) + (overwrite ? " -y" : ""));
            fs::remove_all(out);
            std::vector<std::string> args{
                "-j",           jobs,         "--columns",         "1",
                "--rows",       "1",          "--output-dir",      out.string(),
                "--frames-dir", out.string(), (dir / "m").string()};
            if (overwrite)
                args.insert(args.begin(), "-y");
            EXPECT_EQ(run(args), 1);
            const std::vector<std::string> said = lines(err);
            ASSERT_EQ(said.size(), 1u) << err;
            EXPECT_EQ(said[0].rfind(clip + ": ", 0), 0u) << said[0];
            EXPECT_NE(said[0].find("the sheet of " + collider), std::string::npos) << said[0];
            // The collider's sheet and frame; nothing of clip.avi, nothing hidden.
            const std::vector<std::string> left = everything(out);
            ASSERT_EQ(left.size(), 2u) << testing::PrintToString(left);
            EXPECT_EQ(left[0].rfind(colliderStem + "-01-", 0), 0u) << left[0];
            EXPECT_EQ(left[1], frameName);
            EXPECT_TRUE(bytesOf(out / frameName) == colliderSheet) << "the sheet was changed";
        }
    }
}

// A movie that fails after its frames came takes them all back, moved into
// place or not; one whose sheet is made keeps them.
TEST_F(Batches, AMovieThatFailsLeavesNoFrames) {
    const std::string clip = movie("clip.avi", 50);
    const fs::path frames = dir / "frames";
    const std::vector<std::string> grid = {"--columns",    "3", "--rows", "2", "--frames-dir",
                                           frames.string()};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), grid.begin(), grid.end());
        return args;
    };
    // The sheet cannot be written: its folder is not there.
    EXPECT_EQ(run(with({"-o", (dir / "nowhere" / "sheet.jpg").string(), clip})), 1);
    EXPECT_EQ(lines(err).size(), 1u) << err;
    EXPECT_EQ(everything(frames), std::vector<std::string>{});

    // Another run makes the sheet while this one writes it.
    static fs::path appearing;
    appearing = dir / "sheet.jpg";
    AtomicFile::testing().beforeMove = [](const std::string& finalPath) {
        if (finalPath == appearing.string())
            std::ofstream(appearing) << "the other run's sheet";
    };
    EXPECT_EQ(run(with({"-o", appearing.string(), clip})), 1);
    AtomicFile::testing() = {};
    EXPECT_NE(err.find("appeared"), std::string::npos) << err;
    EXPECT_EQ(everything(frames), std::vector<std::string>{});
    EXPECT_EQ(bytesOf(appearing), "the other run's sheet");

    // Made: the six frames stay, and nothing hidden beside them.
    EXPECT_EQ(run(with({"-o", (dir / "made.jpg").string(), clip})), 0) << err;
    EXPECT_EQ(everything(frames).size(), 6u) << testing::PrintToString(everything(frames));
    EXPECT_EQ(tree(frames).size(), 6u);
}

// A sheet whose movie is damaged in the middle is made, said so in one line
// (also with -q) and counted apart; such a run ends with 3, unless a movie
// failed, which still gives 1.
TEST_F(Batches, IncompleteSheetsAreCountedApartAndEndTheRunWithThree) {
    movie("lib/good.avi", 50);
    testmovies::FootageSpec spec;
    spec.kind = testmovies::Footage::DamagedMiddle;
    const std::string damaged = (dir / "lib" / "damaged.mov").string();
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, damaged, &error), 0) << error;
    const std::string lib = (dir / "lib").string();

    ASSERT_EQ(run({"-y", "--output-dir", (dir / "out").string(), lib}, true), 3) << err;
    EXPECT_EQ(lines(out).size(), 2u) << out;
    EXPECT_NE(err.find(damaged + ": no picture at 00:00:"), std::string::npos) << err;
    EXPECT_EQ(summaryOf(err).rfind("2 sheets, 1 incomplete, 0 failed, ", 0), 0u) << summaryOf(err);

    ASSERT_EQ(run({"-y", "-q", "--output-dir", (dir / "out").string(), lib}), 3) << err;
    EXPECT_EQ(out, "");
    ASSERT_EQ(lines(err).size(), 1u) << err;
    EXPECT_EQ(lines(err)[0].rfind(damaged + ": no picture at ", 0), 0u) << err;

    const std::string missing = (dir / "gone.avi").string();
    ASSERT_EQ(run({"-y", "--output-dir", (dir / "out").string(), lib, missing}, true), 1) << err;
    EXPECT_EQ(summaryOf(err).rfind("2 sheets, 1 incomplete, 1 failed, ", 0), 0u) << summaryOf(err);
}

// A run that finds nothing to make says why and fails, -q or not.
TEST_F(Batches, ARunThatFindsNothingSaysWhyAndFails) {
    fs::create_directories(dir / "empty");
    EXPECT_EQ(run({"-q", (dir / "empty").string()}), 1);
    EXPECT_EQ(err, "stillwick-cli: no movie found in " + (dir / "empty").string() +
                       ": no files in it\n");
    EXPECT_EQ(out, "");

    fs::create_directories(dir / "notes" / "sub");
    std::ofstream(dir / "notes" / "todo.txt") << "not a movie";
    movie("notes/sub/deep.avi", 10);
    EXPECT_EQ(run({(dir / "notes").string()}), 1);
    EXPECT_EQ(err, "stillwick-cli: no movie found in " + (dir / "notes").string() +
                       ": 1 file was looked at and holds no moving pictures; 1 sub-folder not "
                       "looked in (use -r)\n");
    EXPECT_EQ(run({"-q", "-r", (dir / "notes").string()}), 0) << err;

    // `-r --output-dir . .`: the current folder is looked in although the
    // sheets go there; when all it holds is a sheet of ours, that is said.
    const fs::path here = dir / "here";
    movie("here/clip.avi", 10);
    const fs::path old = fs::current_path();
    fs::current_path(here);
    const int made = run({"-r", "--output-dir", ".", "."});
    const std::string madeErr = err;
    fs::remove(here / "clip.avi");
    const int nothing = run({"-r", "--output-dir", ".", "."});
    fs::current_path(old);
    EXPECT_EQ(made, 0) << madeErr;
    EXPECT_TRUE(fs::exists(here / "clip.jpg"));
    EXPECT_EQ(nothing, 1);
    EXPECT_EQ(err, "stillwick-cli: no movie found in .: 1 file was looked at and holds no moving "
                   "pictures\n");
}

// The length of the box that starts at `at` in an MP4 file.
uint64_t boxSize(const std::string& bytes, size_t at) {
    uint64_t size = 0;
    for (size_t i = 0; i < 4; ++i)
        size = size << 8 | static_cast<uint8_t>(bytes[at + i]);
    return size;
}

// An MP4 cut right after its header: a container with a video stream and no
// picture. In a folder it is a movie that fails, not a file passed over.
TEST_F(Batches, AHeaderWithoutPicturesFailsInAFolderAndIsNotPassedOver) {
    const std::string whole = (dir / "whole.mp4").string();
    std::string error;
    ASSERT_EQ(testmovies::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=640x360:r=25:d=10", "-c:v",
                                     "libx264", "-preset", "ultrafast", "-g", "50", "-movflags",
                                     "+faststart", whole},
                                    &error),
              0)
        << error;
    // ftyp, moov, (free), then mdat: keep the boxes before mdat, its header
    // and a few bytes of the first picture.
    const std::string bytes = bytesOf(whole);
    size_t at = 0;
    while (at + 8 <= bytes.size() && bytes.compare(at + 4, 4, "mdat") != 0)
        at += boxSize(bytes, at);
    ASSERT_LT(at + 8, bytes.size());
    fs::create_directories(dir / "lib");
    std::ofstream(dir / "lib" / "cut.mp4", std::ios::binary) << bytes.substr(0, at + 8 + 200);
    std::ofstream(dir / "lib" / "notes.txt") << "not a movie";
    movie("lib/good.avi", 20);

    ASSERT_EQ(run({"--output-dir", (dir / "out").string(), (dir / "lib").string()}, true), 1);
    const std::string cut = (dir / "lib" / "cut.mp4").string();
    const std::string summary = summaryOf(err);
    EXPECT_EQ(summary.rfind("1 sheet, 1 failed, 1 file was no movie, ", 0), 0u) << summary;
    EXPECT_NE(err.find("\r\033[K" + cut + ": No picture could be decoded from cut.mp4.\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(tree(dir / "out"), std::vector<std::string>{"good.jpg"});
}

// A newline or an escape sequence in a name can neither split a failure's
// one line nor reach the terminal. Lists on a standard output that is not a
// terminal keep the exact bytes; on a terminal they are quoted too.
TEST_F(Batches, NamesAreShownSafelyOnTheErrorOutput) {
    const std::string good = movie("a\nb.avi", 10);
    const std::string junk = (dir / "e\033[31mred\n.avi").string();
    std::ofstream(junk) << "not a movie";
    ASSERT_EQ(run({"-y", junk, good}, true), 1);
    const std::string sheet = (dir / "a\nb.jpg").string();
    EXPECT_EQ(out, sheet + "\n");
    EXPECT_EQ(err.find("\033[31m"), std::string::npos) << err;
    const std::string failureLine = "$'" + dir.string() + "/e\\033[31mred\\n.avi': ";
    EXPECT_NE(err.find("\r\033[K" + failureLine), std::string::npos) << err;
    // Everything written above the live line is one line per item.
    const std::string above = err.substr(err.find(failureLine));
    EXPECT_EQ(above.find('\n'), above.find("\r\033[K") - 1) << above;

    ASSERT_EQ(run({"-y", good}, false, true), 0) << err;
    EXPECT_EQ(out, "$'" + dir.string() + "/a\\nb.jpg'\n");

    // Names inside a reason are shown the same way: still one line.
    ASSERT_EQ(run({good}), 1);
    EXPECT_EQ(err, "$'" + dir.string() + "/a\\nb.avi': $'" + dir.string() +
                       "/a\\nb.jpg' exists (use -y to replace it)\n");
    // The information text on a terminal too.
    ASSERT_EQ(run({"--info", good}, false, true), 0) << err;
    EXPECT_EQ(out.rfind("File Name\t: $'a\\nb.avi'\n", 0), 0u) << out;
}

} // namespace
