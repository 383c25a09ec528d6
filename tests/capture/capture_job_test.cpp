// The desktop program's job around the capture: which files it takes, what it
// hands a watcher while the sheet grows, and the frame choice and the
// information block's colour it passes on.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <vector>

#include "capture/capture.h"
#include "capture/capture_job.h"
#include "capture/layout.h"
#include "tests/capture/sheet_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace fs = std::filesystem;

namespace {

TEST(InformationColor, BlackOrWhiteByTheBackgroundsLuminance) {
    constexpr COLORREF black = RGB(0, 0, 0);
    constexpr COLORREF white = RGB(255, 255, 255);
    EXPECT_EQ(readableTextColor(RGB(255, 255, 255)), black);
    EXPECT_EQ(readableTextColor(RGB(238, 242, 247)), black); // the default background
    EXPECT_EQ(readableTextColor(RGB(0, 0, 0)), white);
    EXPECT_EQ(readableTextColor(RGB(20, 24, 48)), white);
    // Green weighs most, blue least: pure green is light, pure blue dark.
    EXPECT_EQ(readableTextColor(RGB(0, 255, 0)), black);
    EXPECT_EQ(readableTextColor(RGB(0, 0, 255)), white);
    EXPECT_EQ(readableTextColor(RGB(255, 0, 0)), black);
    // The turn is where black and white contrast equally (luminance 0.179):
    // between grey 117 and 118 once the sRGB curve is undone, not at 128.
    EXPECT_EQ(readableTextColor(RGB(117, 117, 117)), white);
    EXPECT_EQ(readableTextColor(RGB(118, 118, 118)), black);
}

class RecordingSink : public ui::MessageSink {
public:
    void post(uint32_t id, intptr_t, intptr_t) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ids_.push_back(id);
        changed_.notify_all();
    }
    bool waitFor(uint32_t id) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(120), [&] {
            for (uint32_t m : ids_)
                if (m == id)
                    return true;
            return false;
        });
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return ids_.size();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        ids_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint32_t> ids_;
};

// Stands in for the program's live settings while a job runs.
struct LiveOptions {
    LiveOptions() : saved(g_options) { g_options = &options; }
    ~LiveOptions() { g_options = saved; }
    Options options = Options::defaults();
    Options* saved;
};

// The centre of a cell, read from a sheet in memory (picture rows).
uint32_t centre(const RasterImage& sheet, const CellRect& c) {
    return sheet.pixel(c.x + c.width / 2, sheet.height() - 1 - (c.y + c.height / 2));
}

class Watcher : public SheetWatcher {
public:
    Watcher(RecordingSink& sink, const SheetLayout& layout) : sink_(sink), layout_(layout) {}
    void sheetPainted(const RasterImage& sheet) override {
        ++painted;
        for (int64_t k = 0; k < layout_.cells; ++k)
            allBlackAtFirst = allBlackAtFirst && centre(sheet, layout_.cellAt(k)) == 0;
    }
    void momentDone(int moment, int moments, const RasterImage& sheet) override {
        order.push_back(moment);
        total = moments;
        // Before its step is posted: probe, begin and the earlier steps.
        messagesBefore.push_back(sink_.count());
        drawnWhenDone = drawnWhenDone && centre(sheet, layout_.cellAt(moment)) != 0;
        if (moment + 1 < layout_.cells)
            nextStillBlack = nextStillBlack && centre(sheet, layout_.cellAt(moment + 1)) == 0;
    }
    int painted = 0;
    int total = 0;
    bool allBlackAtFirst = true;
    bool drawnWhenDone = true;
    bool nextStillBlack = true;
    std::vector<int> order;
    std::vector<size_t> messagesBefore;

private:
    RecordingSink& sink_;
    const SheetLayout& layout_;
};

class Job : public ::testing::Test {
protected:
    std::string makeMovie(const std::string& name, int frames = 50) {
        testmovies::MovieSpec wanted;
        wanted.path = dir.file(name);
        wanted.frames = frames;
        std::string error;
        EXPECT_EQ(testmovies::make(wanted, &error), 0) << error;
        return wanted.path;
    }
    testmovies::TempDir dir;
};

TEST_F(Job, AFileWithVideoIsTakenWhateverItsName) {
    const std::string avi = makeMovie("source.avi");
    fs::copy_file(avi, dir.file("clip.bin"));
    RecordingSink sink;
    CaptureJob job(&sink);
    ASSERT_TRUE(job.acceptMovie(dir.file("clip.bin")));
    // Not taken until the probe has spoken.
    EXPECT_EQ(job.moviePath(), "");
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    EXPECT_TRUE(job.finishProbe().ok());
    EXPECT_TRUE(job.probeTaken());
    EXPECT_EQ(job.moviePath(), dir.file("clip.bin"));
    EXPECT_TRUE(job.movieReady());
    EXPECT_EQ(job.movie().facts.videoWidth, 176);
}

TEST_F(Job, AWatcherSeesEachCellAsItsMomentEnds) {
    const std::string movie = makeMovie("grow.avi", 100);
    LiveOptions live;
    live.options.rows = 2;
    live.options.columns = 3;
    live.options.headerEnabled = 0;
    live.options.timeStampsEnabled = 0;
    live.options.shadowEnabled = 0;
    SheetLayout layout;
    std::string error;
    ASSERT_TRUE(computeLayout(live.options, 176, 144, 0, 0, layout, error));

    RecordingSink sink;
    Watcher watcher(sink, layout);
    CaptureJob job(&sink);
    ASSERT_TRUE(job.acceptMovie(movie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    job.finishProbe();
    job.setSheetWatcher(&watcher);
    ASSERT_TRUE(job.startCapture(dir.file("grow.bmp")));
    ASSERT_TRUE(sink.waitFor(ui::WM_CAPTURE_DONE));
    ASSERT_TRUE(job.finishCapture().ok()) << job.finishCapture().errorText;

    EXPECT_EQ(watcher.painted, 1);
    EXPECT_TRUE(watcher.allBlackAtFirst);
    EXPECT_EQ(watcher.order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(watcher.total, 6);
    EXPECT_TRUE(watcher.drawnWhenDone);
    EXPECT_TRUE(watcher.nextStillBlack);
    // The probe's message and BEGIN, then one step per earlier moment.
    for (size_t k = 0; k < watcher.messagesBefore.size(); ++k)
        EXPECT_EQ(watcher.messagesBefore[k], 2 + k);
    // The four messages are as they were: no new kind among them.
    EXPECT_EQ(sink.count(), 1u + 1u + 6u + 1u);
}

TEST_F(Job, TheFrameChoiceAndTheInformationColourReachTheCapture) {
    const std::string movie = makeMovie("choice.avi", 100);
    LiveOptions live;
    live.options.rows = 1;
    live.options.columns = 2;
    live.options.timeStampsEnabled = 0;
    live.options.headerEnabled = 1;
    live.options.headerPosition = BottomLeft;
    live.options.backgroundColor = RGB(0, 0, 0);

    RecordingSink sink;
    CaptureJob job(&sink);
    ASSERT_TRUE(job.acceptMovie(movie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    const std::string infoText = job.finishProbe().infoText;

    auto capture = [&](const std::string& target, const FrameChoice& choice,
                       InformationColor color) {
        sink.clear();
        EXPECT_TRUE(job.startCapture(target, choice, color));
        EXPECT_TRUE(sink.waitFor(ui::WM_CAPTURE_DONE));
        EXPECT_TRUE(job.finishCapture().ok()) << job.finishCapture().errorText;
        SheetPicture sheet;
        EXPECT_TRUE(readBmp(target, sheet));
        return sheet;
    };
    RasterImage scratch;
    scratch.create(0, 0);
    RECT measured{0, 0, 0, 0};
    scratch.drawText(infoText, measured, DT_CALCRECT | DT_EXPANDTABS, true, live.options.font,
                     live.options.textColor);
    SheetLayout layout;
    std::string error;
    ASSERT_TRUE(
        computeLayout(live.options, 176, 144, measured.right, measured.bottom, layout, error));
    auto whiteInBlock = [&](const SheetPicture& sheet) {
        int white = 0;
        for (int y = layout.headerY; y < layout.headerY + layout.textHeight; ++y)
            for (int x = layout.headerX; x < layout.headerX + layout.textWidth; ++x)
                white += sheet.rgb(x, y) == 0xFFFFFFu;
        return white;
    };
    auto firstIndex = [&](const SheetPicture& sheet) {
        const CellRect c = layout.cellAt(0);
        return testmovies::indexFromBgr(sheet.pixels.data(), sheet.stride, c.x + c.width / 4,
                                        sheet.height - 1 - (c.y + c.height / 2), c.width / 2,
                                        c.height / 4);
    };

    // The classic sheet: black on black, and the first moment a third in.
    const SheetPicture classic = capture(dir.file("classic.bmp"), {}, InformationColor::Black);
    EXPECT_EQ(whiteInBlock(classic), 0);
    EXPECT_GE(firstIndex(classic), 33);
    EXPECT_LE(firstIndex(classic), 34);

    // Skipping the first half and drawing by the background: white text, and
    // the first moment a third into the second half.
    FrameChoice half;
    half.skipStart = TimeSpan{50, true};
    const SheetPicture chosen =
        capture(dir.file("chosen.bmp"), half, InformationColor::ByBackground);
    EXPECT_GT(whiteInBlock(chosen), 100);
    EXPECT_GE(firstIndex(chosen), 66);
    EXPECT_LE(firstIndex(chosen), 67);
}

} // namespace
