// The command line as a user runs it on real-world kinds of movie: the
// program itself, started as a process, so that everything the media
// libraries might print reaches the same error stream a terminal would show.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "capture/capture.h"
#include "capture/cell_painter.h"
#include "capture/layout.h"
#include "tests/capture/sheet_reader.h"
#include "tests/support/footage.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace {

using testmovies::Footage;

constexpr int kFps = 25;
constexpr int kFrames = 150;

int frameAt(int64_t position) {
    const int64_t n = (position * kFps + 10'000'000 - 1) / 10'000'000;
    return static_cast<int>(std::min<int64_t>(n, kFrames - 1));
}

class FootageCommandLine : public testing::TestWithParam<Footage> {
protected:
    testmovies::ProgramRun cli(const std::vector<std::string>& args) {
        // Another build of the program can be put to the same test.
        const char* program = std::getenv("STILLWICK_CLI");
        std::vector<std::string> all{program ? program : STILLWICK_CLI,
                                     "--options",
                                     dir.file("options.swk"),
                                     "--header",
                                     "off",
                                     "-y"};
        all.insert(all.end(), args.begin(), args.end());
        return testmovies::runProgram(all);
    }
    testmovies::TempDir dir;
};

TEST_P(FootageCommandLine, EveryCellRightNothingPrintedButWhatIsWrong) {
    const Footage kind = GetParam();
    testmovies::FootageSpec spec;
    spec.kind = kind;
    spec.frames = kFrames;
    const std::string movie = dir.file(std::string("movie") + testmovies::footageExtension(kind));
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, movie, &error), 0) << error;
    const std::string sheetPath = dir.file("sheet.bmp");

    // Quiet: not a word on either stream, whatever the libraries met, but
    // for the one line of an incomplete sheet.
    const bool damaged = kind == Footage::DamagedMiddle;
    const testmovies::ProgramRun quiet = cli({"-q", "-o", sheetPath, movie});
    EXPECT_EQ(quiet.exitCode, damaged ? 3 : 0) << quiet.err;
    EXPECT_EQ(quiet.out, "");

    // Plain: the sheet's name, and one line only where moments had no
    // picture; such a sheet is incomplete (exit status 3).
    const testmovies::ProgramRun run = cli({"-o", sheetPath, movie});
    EXPECT_EQ(run.exitCode, damaged ? 3 : 0) << run.err;
    EXPECT_EQ(run.out, sheetPath + "\n");
    EXPECT_EQ(quiet.err, run.err);

    int width = 0, height = 0, shownW = 0, shownH = 0;
    testmovies::footageSizes(kind, &width, &height, &shownW, &shownH);
    Options o = Options::defaults();
    o.headerEnabled = 0;
    SheetLayout layout;
    ASSERT_TRUE(computeLayout(o, shownW, shownH, 0, 0, layout, error)) << error;
    SheetPicture sheet;
    ASSERT_TRUE(readBmp(sheetPath, sheet));
    ASSERT_EQ(sheet.width, layout.sheetWidth);
    ASSERT_EQ(sheet.height, layout.sheetHeight);

    const std::vector<int64_t> moments =
        capturePositions(static_cast<int64_t>(kFrames) * 10'000'000 / kFps, layout.cells);
    std::string missing;
    int exact = 0;
    for (int64_t k = 0; k < layout.cells; ++k) {
        const CellRect cell = layout.cellAt(k);
        // The middle of the cell, clear of the time stamp.
        const int index = testmovies::indexFromBgr(
            sheet.pixels.data(), sheet.stride, cell.x + cell.width / 4,
            sheet.height - 1 - (cell.y + cell.height / 2), cell.width / 2, cell.height / 4);
        const int want = frameAt(moments[k]);
        if (kind == Footage::DamagedMiddle && want >= spec.damageFrom && want < spec.damageTo) {
            // The first whole frame stands in when it comes before the next
            // moment; otherwise the cell is marked empty on the background.
            const int64_t firstWhole = int64_t{spec.damageTo} * 10'000'000 / kFps;
            if (k + 1 < layout.cells && firstWhole < moments[static_cast<size_t>(k + 1)]) {
                EXPECT_EQ(index, spec.damageTo) << "cell " << k;
                continue;
            }
            missing += (missing.empty() ? "" : ", ") + timeText(MediaTime::fromUnits(moments[k]));
            const uint32_t background = (uint32_t{o.backgroundColor.r} << 16) |
                                        (uint32_t{o.backgroundColor.g} << 8) | o.backgroundColor.b;
            EXPECT_EQ(sheet.rgb(cell.x + 4, cell.y + 4), background)
                << "cell " << k << " should be marked empty";
            continue;
        }
        EXPECT_EQ(index, want) << "cell " << k;
        exact += index == want;
    }
    RecordProperty("exact_cells", exact);
    EXPECT_EQ(run.err, missing.empty() ? "" : movie + ": no picture at " + missing + "\n");
}

std::string kindName(const testing::TestParamInfo<Footage>& info) {
    return testmovies::footageName(info.param);
}

INSTANTIATE_TEST_SUITE_P(RealFootage, FootageCommandLine,
                         testing::Values(Footage::TsH264OneKeyFrame, Footage::TsH264ManyKeyFrames,
                                         Footage::TsH264Interlaced, Footage::TsHevc,
                                         Footage::TsMpeg2, Footage::PsMpeg2OpenGop,
                                         Footage::AviMpeg4BFrames, Footage::MkvCoverFirst,
                                         Footage::Mp4CoverAfter, Footage::DamagedMiddle),
                         kindName);

// The geometry and colour kinds carry the pleasant pattern: here only what
// the user sees of the run; their pictures are checked cell by cell in the
// capture tests.
class ShownKindsCommandLine : public FootageCommandLine {};

TEST_P(ShownKindsCommandLine, QuietAndSuccessfulAndShapedAsShown) {
    testmovies::FootageSpec spec;
    spec.kind = GetParam();
    spec.frames = 50;
    const std::string movie =
        dir.file(std::string("movie") + testmovies::footageExtension(spec.kind));
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, movie, &error), 0) << error;
    const testmovies::ProgramRun run = cli({"-q", "-o", dir.file("sheet.bmp"), movie});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    int width = 0, height = 0, shownW = 0, shownH = 0;
    testmovies::footageSizes(spec.kind, &width, &height, &shownW, &shownH);
    Options o = Options::defaults();
    o.headerEnabled = 0;
    SheetLayout layout;
    ASSERT_TRUE(computeLayout(o, shownW, shownH, 0, 0, layout, error)) << error;
    SheetPicture sheet;
    ASSERT_TRUE(readBmp(dir.file("sheet.bmp"), sheet));
    EXPECT_EQ(sheet.width, layout.sheetWidth);
    EXPECT_EQ(sheet.height, layout.sheetHeight);
}

INSTANTIATE_TEST_SUITE_P(RealFootage, ShownKindsCommandLine,
                         testing::Values(Footage::Rotated90, Footage::Flipped,
                                         Footage::Anamorphic4x3, Footage::Hdr10, Footage::Hlg),
                         kindName);

class Outcome : public FootageCommandLine {};

// A movie none of whose pictures decodes makes no sheet: one line says so,
// and the run fails. The library's own complaints come only when asked for.
TEST_F(Outcome, NoPictureAtAllFailsAndWritesNothing) {
    testmovies::FootageSpec spec;
    spec.kind = Footage::DamagedMiddle;
    spec.frames = 50;
    spec.damageFrom = 0;
    spec.damageTo = 50;
    const std::string movie = dir.file("broken.mov");
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, movie, &error), 0) << error;
    const std::string sheet = dir.file("sheet.jpg");

    for (const char* quiet : {"-q", "--no-progressive"}) {
        const testmovies::ProgramRun run = cli({quiet, "-o", sheet, movie});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, movie + ": No picture could be decoded from broken.mov.\n");
        EXPECT_FALSE(std::filesystem::exists(sheet));
    }
    // -v adds what FFmpeg reports as errors, -vv more still.
    const testmovies::ProgramRun errors = cli({"-v", "-o", sheet, movie});
    const testmovies::ProgramRun everything = cli({"-vv", "-o", sheet, movie});
    EXPECT_EQ(errors.exitCode, 1);
    EXPECT_NE(errors.err.find("[mjpeg @"), std::string::npos) << errors.err;
    EXPECT_GT(everything.err.size(), errors.err.size());
    EXPECT_FALSE(std::filesystem::exists(sheet));
}

// Failures name a reason a user can act on, not a library's code word.
TEST_F(Outcome, UnreadableFilesSayWhy) {
    testmovies::MovieSpec spec;
    spec.path = dir.file("whole.mkv");
    std::string error;
    ASSERT_EQ(testmovies::make(spec, &error), 0) << error;
    const std::string cut = dir.file("cut.mkv");
    ASSERT_EQ(testmovies::writeTruncated(spec.path, cut, 212, &error), 0) << error;
    const std::string junk = dir.file("junk.mpg");
    ASSERT_EQ(testmovies::writeRandomBytes(junk, 4096, 11, &error), 0) << error;

    testmovies::ProgramRun run = cli({"-q", "--info", cut});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.find("End of file"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Unspecified error"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(cut + ": The file "), std::string::npos) << run.err;
    run = cli({"-q", "--info", junk});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, junk + ": The file is damaged, or it is not a movie the installed FFmpeg "
                              "libraries can read.\n");
}

// A download that stopped half way: the sheet is made of what can be read,
// one line says how much of the stated length that is, the run ends with 3,
// and the facts for scripts carry the readable length. With the index at
// the end (as the maker writes MP4), the cut file has none and makes no
// sheet at all.
TEST_F(Outcome, ACutShortDownloadIsSaidSoEverywhere) {
    testmovies::MovieSpec spec;
    spec.path = dir.file("whole.mkv");
    spec.frames = 250; // 10 s
    spec.gop = 25;
    spec.noise = 8;
    std::string error;
    ASSERT_EQ(testmovies::make(spec, &error), 0) << error;
    const std::string cut = dir.file("cut.mkv");
    const auto size = static_cast<size_t>(std::filesystem::file_size(spec.path));
    ASSERT_EQ(testmovies::writeTruncated(spec.path, cut, size / 2, &error), 0) << error;

    const std::string sheet = dir.file("sheet.jpg");
    testmovies::ProgramRun run = cli({"-q", "-o", sheet, cut});
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_EQ(run.out, "");
    ASSERT_EQ(run.err.rfind(cut + ": cut short, 00:00:0", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(" of 00:00:10 can be read\n"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_TRUE(std::filesystem::exists(sheet));

    run = cli({"--info", "--json", cut});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\"duration\":10.0"), std::string::npos) << run.out;
    const size_t at = run.out.find("\"readable_duration\":");
    ASSERT_NE(at, std::string::npos) << run.out;
    const double readable = std::atof(run.out.c_str() + at + 20);
    EXPECT_GT(readable, 3.0);
    EXPECT_LT(readable, 7.0);

    testmovies::MovieSpec late;
    late.path = dir.file("late.mp4");
    ASSERT_EQ(testmovies::make(late, &error), 0) << error;
    const std::string noIndex = dir.file("no-index.mp4");
    ASSERT_EQ(testmovies::writeTruncated(
                  late.path, noIndex,
                  static_cast<size_t>(std::filesystem::file_size(late.path)) / 2, &error),
              0)
        << error;
    run = cli({"-q", "-o", dir.file("none.jpg"), noIndex});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind(noIndex + ": The file ", 0), 0u) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.jpg")));
}

} // namespace
