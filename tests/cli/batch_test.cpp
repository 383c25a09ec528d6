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
#include "render/raster_image.h"
#include "tests/capture/sheet_reader.h"
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

    int run(std::vector<std::string> args, bool terminal = false) {
        std::vector<std::string> all{"stillwick-cli", "--options", (dir / "options.swk").string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<const char*> argv;
        for (const std::string& a : all)
            argv.push_back(a.c_str());
        std::ostringstream o, e;
        const int code = cli::run(static_cast<int>(argv.size()), argv.data(), o, e, terminal);
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

} // namespace
