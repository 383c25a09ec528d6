// End-to-end captures of movies made by the tests themselves: which frame lands
// in which cell, what the progress reports say, and how failures are reported.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sys/resource.h>
#include <vector>

#include "capture/capture.h"
#include "capture/layout.h"
#include "capture/movie_probe.h"
#include "tests/capture/sheet_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"
#include "tests/support/timeline.h"

namespace fs = std::filesystem;

namespace {

// Counts the moments and stops the run after `stopAfter` of them.
class CountingProgress : public CaptureProgress {
public:
    explicit CountingProgress(int stopAfter = -1) : stopAfter_(stopAfter) {}
    bool cancelled() override { return stopAfter_ >= 0 && moments >= stopAfter_; }
    void sheetPainted(const RasterImage& sheet) override {
        EXPECT_GT(sheet.width(), 0);
        ++painted;
    }
    bool wantsFullFrames() const override { return true; }
    void frameArrived(int moment, const MediaTime& time, const RasterImage& frame) override {
        EXPECT_EQ(moment, moments); // before its moment is done
        EXPECT_GE(time.ticks, 0);
        EXPECT_EQ(frame.width(), 176);
        ++frames;
    }
    void momentDone(int moment, const RasterImage&) override {
        EXPECT_EQ(moment, moments);
        ++moments;
    }
    int painted = 0;
    int frames = 0;
    int moments = 0;

private:
    int stopAfter_;
};

class Capture : public ::testing::Test {
protected:
    // A small movie of the frame colour code, with the maker's defaults.
    std::string makeMovie(const char* name) {
        testmovies::MovieSpec spec;
        spec.path = name;
        return makeMovie(spec);
    }

    std::string makeMovie(testmovies::MovieSpec spec) {
        spec.path = dir.file(spec.path);
        std::string error;
        EXPECT_EQ(testmovies::make(spec, &error), 0) << spec.path << ": " << error;
        return spec.path;
    }

    // The probe's facts and text, which a capture needs, for a sheet at `target`.
    CaptureInput probed(const std::string& movie, const std::string& target) {
        const ProbeResult probe = MovieProbe::probe(movie);
        EXPECT_TRUE(probe.ok()) << probe.infoText;
        return CaptureInput{movie, probe.facts, probe.infoText, target, {}};
    }

    // A capture that also checks what the front end hears: the painted
    // sheet once, then a frame and a moment for every cell.
    CaptureResult capture(const CaptureInput& input, const Options& o) {
        CountingProgress progress;
        CaptureResult result = captureSheet(input, o, progress);
        if (result.ok()) {
            EXPECT_EQ(progress.painted, 1);
            EXPECT_EQ(progress.moments, o.rows * o.columns);
            EXPECT_EQ(progress.frames, progress.moments);
        }
        return result;
    }

    testmovies::TempDir dir;
};

struct ContainerCase {
    const char* file;
    const char* codec;
    int fpsNum, fpsDen;
    int frames;
    int bFrames;
};

// The middle of a cell, clear of the time stamp, read as a frame index.
int cellIndex(const SheetPicture& sheet, const CellRect& cell) {
    const int memoryRow = sheet.height - 1 - (cell.y + cell.height / 2);
    return testmovies::indexFromBgr(sheet.pixels.data(), sheet.stride, cell.x + cell.width / 4,
                                    memoryRow, cell.width / 2, cell.height / 4);
}

TEST_F(Capture, EachCellShowsTheFrameAtOrAfterItsMomentInEveryContainer) {
    const ContainerCase cases[] = {
        {"clip.avi", "mpeg4", 25, 1, 60, 0},
        {"clip.mov", "", 24, 1, 60, 0},
        {"clip.qt", "mjpeg", 25, 1, 40, 0},
        {"clip.mpg", "mpeg1video", 25, 1, 60, 0},
        {"clip.mpeg", "mpeg2video", 30000, 1001, 60, 2},
        {"clip.dat", "", 25, 1, 60, 0},
        {"clip.m1v", "", 25, 1, 60, 0},
        {"clip.rm", "rv10", 25, 1, 50, 0},
        {"clip.rmvb", "rv20", 25, 1, 50, 0},
        {"clip.wmv", "wmv2", 25, 1, 50, 0},
        {"clip.mp4", "libx264", 30000, 1001, 90, 3},
        {"clip.mkv", "", 24, 1, 60, 0},
    };
    Options o = Options::defaults();
    o.rows = 3;
    o.columns = 4;
    o.headerEnabled = 0;
    for (const ContainerCase& c : cases) {
        SCOPED_TRACE(c.file);
        testmovies::MovieSpec spec;
        spec.path = c.file;
        spec.codec = c.codec;
        spec.fpsNum = c.fpsNum;
        spec.fpsDen = c.fpsDen;
        spec.frames = c.frames;
        spec.bFrames = c.bFrames;
        spec.gop = 12;
        std::string movie = makeMovie(spec);

        const CaptureInput input = probed(movie, dir.file(std::string(c.file) + ".bmp"));
        EXPECT_EQ(input.facts.videoWidth, 176);
        EXPECT_EQ(input.facts.videoHeight, 144);
        const double seconds = static_cast<double>(c.frames) * c.fpsDen / c.fpsNum;
        EXPECT_NEAR(input.facts.duration / 1e7, seconds, 0.1);
        const CaptureResult result = capture(input, o);
        ASSERT_TRUE(result.ok()) << result.errorText();

        // Each cell against the frame FFmpeg's own decoder shows for its
        // moment, by the frames' real times (Matroska, for one, rounds them
        // to milliseconds).
        const std::vector<testmovies::TimelineFrame> timeline = testmovies::decodeTimeline(movie);
        ASSERT_EQ(timeline.size(), static_cast<size_t>(c.frames));
        SheetPicture sheet;
        ASSERT_TRUE(readBmp(input.targetPath, sheet));
        SheetLayout layout;
        std::string error;
        ASSERT_TRUE(computeLayout(o, 176, 144, 0, 0, layout, error));
        const std::vector<int64_t> moments = capturePositions(input.facts.duration, 12);
        for (int k = 0; k < 12; ++k)
            EXPECT_EQ(cellIndex(sheet, layout.cellAt(k)),
                      testmovies::expectedFrame(timeline, moments[k]).index)
                << "cell " << k;
    }
}

TEST_F(Capture, FailuresNameTheCauseWithTheirHints) {
    testmovies::MovieSpec audioOnly;
    audioOnly.path = "sound.avi";
    audioOnly.video = false;
    audioOnly.audio = true;
    const std::string audio = makeMovie(audioOnly);
    const std::string garbage = dir.file("garbage.mpg");
    ASSERT_EQ(testmovies::writeRandomBytes(garbage, 4096, 7, nullptr), 0);
    const std::string missing = dir.file("missing.avi");
    // Facts of an earlier, good movie: the failure must come from the media.
    const MovieFacts earlier{20'000'000, 176, 144, 25};

    struct Case {
        std::string movie;
        std::string text;
    } cases[] = {
        {missing, "No such file or directory."},
        {garbage, ""}, // whatever the demuxers make of it, it is no movie
        {audio, ""},
    };
    for (const Case& c : cases) {
        const CaptureInput input{c.movie, earlier, "", dir.file("never.jpg"), {}};
        const CaptureResult result = capture(input, Options::defaults());
        EXPECT_FALSE(result.ok()) << c.movie;
        EXPECT_FALSE(result.errorText().empty());
        if (!c.text.empty()) {
            EXPECT_EQ(result.errorText(), c.text);
        }
        EXPECT_FALSE(fs::exists(input.targetPath));
    }
    // A movie without video cannot be connected, and the hint says what a
    // user of this machine can do about it.
    const CaptureResult result =
        capture(CaptureInput{audio, earlier, "", dir.file("never.jpg"), {}}, Options::defaults());
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.errorText().find("The file has no video stream.\nTry installing "
                                    "libavcodec-extra"),
              std::string::npos)
        << result.errorText();
    EXPECT_EQ(result.errorText().find("DirectX"), std::string::npos);
    EXPECT_EQ(result.errorText().find("ffdshow"), std::string::npos);
}

TEST_F(Capture, ProbeFailureClearsTheFactsAndCaptureRefuses) {
    const std::string movie = dir.file("nothing here.avi");
    const ProbeResult probe = MovieProbe::probe(movie);
    EXPECT_FALSE(probe.ok());
    EXPECT_FALSE(probe.facts.usable());
    EXPECT_EQ(probe.facts.duration, 0);
    EXPECT_EQ(probe.facts.averageFps, 0);
    EXPECT_EQ(probe.errorText(), "No such file or directory.");
    EXPECT_EQ(probe.infoText,
              "File Name\t: nothing here.avi\nError\t\t: No such file or directory.");

    const CaptureInput input{movie, probe.facts, probe.infoText, dir.file("out.jpg"), {}};
    const CaptureResult result = capture(input, Options::defaults());
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.errorText().find("nothing here.avi"), std::string::npos) << result.errorText();
    EXPECT_FALSE(fs::exists(input.targetPath));
}

TEST_F(Capture, FormatFollowsTheExtensionAndTheNameKeepsItsCase) {
    std::string movie = makeMovie("names.avi");
    Options o = Options::defaults();
    o.rows = o.columns = 1;
    struct Case {
        const char* name;
        std::vector<uint8_t> magic;
    } cases[] = {
        {"Sheet.JPG", {0xFF, 0xD8, 0xFF}},
        {"sheet.jpeg", {0xFF, 0xD8, 0xFF}},
        {"sheet.Png", {0x89, 'P', 'N', 'G'}},
        {"sheet.bmp", {'B', 'M'}},
        {"sheet", {'B', 'M'}},
        {"sheet.gif", {'B', 'M'}},
    };
    const CaptureInput probe = probed(movie, "");
    for (const Case& c : cases) {
        CaptureInput input = probe;
        input.targetPath = dir.file(c.name);
        const CaptureResult result = capture(input, o);
        ASSERT_TRUE(result.ok()) << result.errorText();
        std::ifstream in(dir.file(c.name), std::ios::binary);
        ASSERT_TRUE(in) << c.name;
        std::vector<uint8_t> head(c.magic.size());
        in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
        EXPECT_EQ(head, c.magic) << c.name;
    }
}

// The JPEG parameters of the settings reach the file: a lower quality makes
// a smaller file, and a progressive one starts its frame with SOF2.
TEST_F(Capture, JpegQualityAndProgressionComeFromTheSettings) {
    std::string movie = makeMovie("jpeg.avi");
    Options o = Options::defaults();
    o.rows = o.columns = 2;
    const auto sheetBytes = [&](int quality, bool progressive) {
        CaptureInput input = probed(
            movie, dir.file("q" + std::to_string(quality) + (progressive ? "p" : "") + ".jpg"));
        o.jpegQuality = quality;
        o.jpegProgressive = progressive ? 1 : 0;
        const CaptureResult result = capture(input, o);
        EXPECT_TRUE(result.ok()) << result.errorText();
        std::ifstream in(input.targetPath, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    const std::string low = sheetBytes(20, false);
    const std::string high = sheetBytes(95, false);
    const std::string progressive = sheetBytes(95, true);
    EXPECT_LT(low.size() * 2, high.size()) << low.size() << " vs " << high.size();
    const std::string baselineMarker("\xFF\xC0", 2), progressiveMarker("\xFF\xC2", 2);
    EXPECT_NE(high.find(baselineMarker), std::string::npos);
    EXPECT_EQ(high.find(progressiveMarker), std::string::npos);
    EXPECT_NE(progressive.find(progressiveMarker), std::string::npos);
    EXPECT_EQ(progressive.find(baselineMarker), std::string::npos);
}

// What the sheet holds besides the frames: soft shadows and the information
// block, drawn where the layout puts them.
TEST_F(Capture, ShadowsAreSoftAndTheInformationBlockIsDrawn) {
    std::string movie = makeMovie("decor.avi");
    Options o = Options::defaults();
    o.rows = 1;
    o.columns = 2;
    o.headerEnabled = 1;
    o.headerPosition = BottomLeft;
    o.timeStampsEnabled = 0;
    const CaptureInput input = probed(movie, dir.file("decor.bmp"));
    const CaptureResult result = capture(input, o);
    ASSERT_TRUE(result.ok()) << result.errorText();
    SheetPicture sheet;
    ASSERT_TRUE(readBmp(input.targetPath, sheet));

    const TextSize measured = measureText(input.infoText, TextFlags{.expandTabs = true}, o.font);
    SheetLayout layout;
    std::string error;
    ASSERT_TRUE(computeLayout(o, 176, 144, measured.width, measured.height, layout, error));
    ASSERT_EQ(sheet.height, layout.sheetHeight);
    ASSERT_GT(layout.textHeight, 0);

    // The block: black text inside its rectangle, the background around it.
    int dark = 0;
    for (int y = layout.headerY; y < layout.headerY + layout.textHeight; ++y)
        for (int x = layout.headerX; x < layout.headerX + layout.textWidth; ++x)
            dark += sheet.rgb(x, y) == 0x000000u;
    EXPECT_GT(dark, 100);
    for (int x = 0; x < sheet.width; ++x)
        EXPECT_EQ(sheet.rgb(x, sheet.height - 1), 0xEEF2F7u) << x;

    // Along a row through the shadow, right of the first cell: the blur
    // leaves steps between the shadow's colour and the background, never an
    // edge from one to the other.
    const CellRect cell = layout.cellAt(0);
    const CellRect shadow = layout.shadowOf(cell);
    const int y = cell.y + cell.height / 2;
    std::set<uint32_t> shades;
    for (int x = cell.x + cell.width; x < shadow.x + shadow.width + 4; ++x)
        shades.insert(sheet.rgb(x, y));
    shades.erase(0xEEF2F7u);
    EXPECT_GE(shades.size(), 3u);
    EXPECT_EQ(shades.count(0x77797Bu), 0u) << "an unblurred shadow edge";
}

TEST_F(Capture, AFailedWriteFailsTheRunAndKeepsTheOldFile) {
    std::string movie = makeMovie("write.avi");
    CaptureInput input = probed(movie, "");

    // A folder that does not exist.
    input.targetPath = (dir.path() / "no-such-folder" / "sheet.jpg").string();
    CaptureResult result = capture(input, Options::defaults());
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.errorText().find(input.targetPath), std::string::npos) << result.errorText();

    // A disk that fills up half-way, simulated with a file size limit.
    const fs::path target = dir.path() / "old.bmp";
    std::ofstream(target) << "the old sheet";
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    input.targetPath = target.string();
    result = capture(input, Options::defaults());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.errorText().find(target.string()), std::string::npos) << result.errorText();
    std::ifstream in(target);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "the old sheet");
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST_F(Capture, DegenerateSettingsAreRefusedBeforeAnythingIsMade) {
    std::string movie = makeMovie("degenerate.avi");
    const CaptureInput input = probed(movie, dir.file("never.jpg"));
    Options o = Options::defaults();
    o.frameWidth = 0;
    const CaptureResult result = capture(input, o);
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.errorText().find("frame"), std::string::npos) << result.errorText();
    EXPECT_FALSE(fs::exists(input.targetPath));
}

// The run asks before every moment, so a stop takes effect at the next one.
TEST_F(Capture, CancellingStopsBeforeTheNextMomentAndWritesNothing) {
    std::string movie = makeMovie("cancel.avi");
    const CaptureInput input = probed(movie, dir.file("never.jpg"));
    for (int stopAfter : {0, 1, 7}) {
        CountingProgress progress(stopAfter);
        const CaptureResult result = captureSheet(input, Options::defaults(), progress);
        EXPECT_FALSE(result.ok());
        EXPECT_TRUE(result.status.isCancelled());
        EXPECT_EQ(result.errorText(), kCancelledText);
        EXPECT_EQ(progress.moments, stopAfter);
        EXPECT_FALSE(fs::exists(input.targetPath));
    }
}

} // namespace
