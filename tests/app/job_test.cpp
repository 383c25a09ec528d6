// The desktop program's worker around the probe and the capture: which files
// it takes, the messages it posts, what it hands a watcher while the sheet
// grows, the frame choice and the information block's colour it passes on,
// and one worker at a time.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "app/capture_job.h"
#include "capture/capture.h"
#include "capture/layout.h"
#include "tests/capture/sheet_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace fs = std::filesystem;

namespace {

class RecordingSink : public ui::MessageSink {
public:
    struct Message {
        uint32_t id;
        intptr_t wParam, lParam;
    };
    void post(uint32_t id, intptr_t wParam, intptr_t lParam) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back({id, wParam, lParam});
        changed_.notify_all();
    }
    bool waitFor(uint32_t id) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(120), [&] {
            return std::any_of(messages_.begin(), messages_.end(),
                               [&](const Message& m) { return m.id == id; });
        });
    }
    std::vector<Message> messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_.size();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
};

// The centre of a cell, read from a sheet in memory (picture rows).
Rgb centre(const RasterImage& sheet, const CellRect& c) {
    return sheet.pixel(c.x + c.width / 2, c.y + c.height / 2);
}

class Watcher : public SheetWatcher {
public:
    Watcher(RecordingSink& sink, const SheetLayout& layout) : sink_(sink), layout_(layout) {}
    void sheetPainted(const RasterImage& sheet) override {
        ++painted;
        for (int64_t k = 0; k < layout_.cells; ++k)
            allBlackAtFirst = allBlackAtFirst && centre(sheet, layout_.cellAt(k)) == Rgb{};
    }
    void momentDone(int moment, int moments, const RasterImage& sheet) override {
        order.push_back(moment);
        total = moments;
        // Before its step is posted: probe, begin and the earlier steps.
        messagesBefore.push_back(sink_.count());
        drawnWhenDone = drawnWhenDone && centre(sheet, layout_.cellAt(moment)) != Rgb{};
        if (moment + 1 < layout_.cells)
            nextStillBlack = nextStillBlack && centre(sheet, layout_.cellAt(moment + 1)) == Rgb{};
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

// The probe alone decides what is a movie: a name promising video that is
// not there is refused, and video under any name is taken.
TEST_F(Job, AFileIsTakenForTheVideoInItNotForItsName) {
    const std::string movie = makeMovie("first.avi");
    testmovies::MovieSpec soundOnly;
    soundOnly.path = dir.file("x.avi");
    soundOnly.video = false;
    soundOnly.audio = true;
    std::string error;
    ASSERT_EQ(testmovies::make(soundOnly, &error), 0) << error;
    std::ofstream(dir.file("a.mp")) << "not a movie, although mp is part of mpg\n";
    fs::copy_file(movie, dir.file("clip.bin"));

    RecordingSink sink;
    CaptureJob job(&sink);
    auto probe = [&](const std::string& path) {
        sink.clear();
        EXPECT_TRUE(job.acceptMovie(path)) << path;
        EXPECT_TRUE(sink.waitFor(ui::WM_PROBE_DONE)) << path;
        return job.finishProbe();
    };

    ASSERT_TRUE(probe(movie).ok());
    ASSERT_TRUE(job.probeTaken());
    ASSERT_TRUE(job.movieReady());
    const std::string firstInfo = job.movie().infoText;

    // Refused, each with its reason; the movie before them stays, facts and all.
    for (const std::string name : {"x.avi", "a.mp", "missing.mkv"}) {
        SCOPED_TRACE(name);
        const ProbeResult refused = probe(dir.file(name));
        EXPECT_FALSE(refused.ok() && refused.facts.usable());
        EXPECT_FALSE(refused.errorText().empty());
        EXPECT_FALSE(job.probeTaken());
        EXPECT_EQ(job.moviePath(), movie);
        EXPECT_EQ(job.movie().infoText, firstInfo);
        EXPECT_TRUE(job.movieReady());
    }

    // Video under a name no list knows, stored as given.
    EXPECT_TRUE(probe(dir.file("clip.bin")).ok());
    EXPECT_TRUE(job.probeTaken());
    EXPECT_EQ(job.moviePath(), dir.file("clip.bin"));
    EXPECT_TRUE(job.movieReady());
    EXPECT_EQ(job.movie().facts.videoWidth, 176);
    EXPECT_NE(job.movie().infoText.find("clip.bin"), std::string::npos);

    EXPECT_FALSE(job.busy());
    EXPECT_FALSE(job.acceptMovie(""));
}

// Not taken until the probe has spoken, even when the name says movie.
TEST_F(Job, NothingIsTakenBeforeTheProbeEnds) {
    const std::string movie = makeMovie("clip.avi");
    RecordingSink sink;
    CaptureJob job(&sink);
    ASSERT_TRUE(job.acceptMovie(movie));
    EXPECT_EQ(job.moviePath(), "");
    EXPECT_FALSE(job.movieReady());
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    EXPECT_TRUE(job.finishProbe().ok());
    EXPECT_EQ(job.moviePath(), movie);
}

TEST_F(Job, AWatcherSeesEachCellAsItsMomentEnds) {
    const std::string movie = makeMovie("grow.avi", 100);
    Options settings = Options::defaults();
    settings.rows = 2;
    settings.columns = 3;
    settings.headerEnabled = 0;
    settings.timeStampsEnabled = 0;
    settings.shadowEnabled = 0;
    SheetLayout layout;
    std::string error;
    ASSERT_TRUE(computeLayout(settings, 176, 144, 0, 0, layout, error));

    RecordingSink sink;
    Watcher watcher(sink, layout);
    CaptureJob job(&sink);
    ASSERT_TRUE(job.acceptMovie(movie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    job.finishProbe();
    job.setSheetWatcher(&watcher);
    ASSERT_TRUE(job.startCapture(dir.file("grow.bmp"), settings));
    ASSERT_TRUE(sink.waitFor(ui::WM_CAPTURE_DONE));
    ASSERT_TRUE(job.finishCapture().ok()) << job.finishCapture().errorText();

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
    Options settings = Options::defaults();
    settings.rows = 1;
    settings.columns = 2;
    settings.timeStampsEnabled = 0;
    settings.headerEnabled = 1;
    settings.headerPosition = BottomLeft;
    settings.backgroundColor = (Rgb{0, 0, 0});

    RecordingSink sink;
    CaptureJob job(&sink);
    ASSERT_TRUE(job.acceptMovie(movie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    const std::string infoText = job.finishProbe().infoText;

    auto capture = [&](const std::string& target, const FrameChoice& choice,
                       InformationColor color) {
        sink.clear();
        EXPECT_TRUE(job.startCapture(target, settings, choice, color));
        EXPECT_TRUE(sink.waitFor(ui::WM_CAPTURE_DONE));
        EXPECT_TRUE(job.finishCapture().ok()) << job.finishCapture().errorText();
        SheetPicture sheet;
        EXPECT_TRUE(readBmp(target, sheet));
        return sheet;
    };
    const TextSize measured = measureText(infoText, TextFlags{.expandTabs = true}, settings.font);
    SheetLayout layout;
    std::string error;
    ASSERT_TRUE(computeLayout(settings, 176, 144, measured.width, measured.height, layout, error));
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

// The capture works on the settings as they were when it started: the live
// record is the settings dialog's to change meanwhile.
TEST_F(Job, TheCaptureKeepsTheSettingsItStartedWith) {
    const std::string movie = makeMovie("snapshot.avi", 100);
    Options settings = Options::defaults();
    settings.rows = 1;
    settings.columns = 2;
    settings.headerEnabled = 0;
    settings.shadowEnabled = 0;
    settings.timeStampsEnabled = 0;
    SheetLayout layout;
    std::string error;
    ASSERT_TRUE(computeLayout(settings, 176, 144, 0, 0, layout, error));

    RecordingSink sink;
    CaptureJob job(&sink);
    ASSERT_TRUE(job.acceptMovie(movie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    ASSERT_TRUE(job.finishProbe().ok());
    ASSERT_TRUE(job.startCapture(dir.file("snapshot.bmp"), settings));
    settings.rows = 4;
    settings.columns = 4;
    settings.frameWidth = 50;
    settings.backgroundColor = (Rgb{255, 0, 0});
    ASSERT_TRUE(sink.waitFor(ui::WM_CAPTURE_DONE));
    ASSERT_TRUE(job.finishCapture().ok()) << job.finishCapture().errorText();
    EXPECT_EQ(job.captureFrames(), 2);

    SheetPicture sheet;
    ASSERT_TRUE(readBmp(dir.file("snapshot.bmp"), sheet));
    EXPECT_EQ(sheet.width, layout.sheetWidth);
    EXPECT_EQ(sheet.height, layout.sheetHeight);
    EXPECT_EQ(sheet.rgb(0, 0), 0xEEF2F7u);
    EXPECT_EQ(sink.messages().size(), 1u + 1u + 2u + 1u);
}

TEST_F(Job, MessagesAnnounceStepAndFinish) {
    const std::string movie = makeMovie("steps.avi");
    RecordingSink sink;
    Options settings = Options::defaults();
    {
        CaptureJob job(&sink);
        ASSERT_TRUE(job.acceptMovie(movie));
        ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
        const auto probeMessages = sink.messages();
        ASSERT_EQ(probeMessages.size(), 1u);
        EXPECT_EQ(probeMessages[0].wParam, 0);
        EXPECT_EQ(probeMessages[0].lParam, 0);
        EXPECT_EQ(job.finishProbe().facts.videoWidth, 176);

        ASSERT_TRUE(job.startCapture(dir.file("steps.jpg"), settings));
        ASSERT_TRUE(sink.waitFor(ui::WM_CAPTURE_DONE));
        EXPECT_TRUE(job.finishCapture().ok()) << job.finishCapture().errorText();
        const auto all = sink.messages();
        ASSERT_EQ(all.size(), 1u + 1u + 25u + 1u);
        EXPECT_EQ(all[1].id, ui::WM_CAPTURE_BEGIN);
        EXPECT_EQ(all[1].wParam, 0);
        EXPECT_EQ(all[1].lParam, 0);
        EXPECT_EQ(job.captureFrames(), 25);
        for (size_t i = 2; i < 27; ++i)
            EXPECT_EQ(all[i].id, ui::WM_CAPTURE_STEP);
        EXPECT_EQ(all.back().id, ui::WM_CAPTURE_DONE);
        EXPECT_EQ(all.back().wParam, 0);
        EXPECT_FALSE(job.busy());
    }
    std::ifstream jpeg(dir.file("steps.jpg"), std::ios::binary);
    EXPECT_EQ(jpeg.get(), 0xFF);
    EXPECT_EQ(jpeg.get(), 0xD8);
}

TEST_F(Job, NoCellsWritesTheBackgroundAtOnce) {
    const std::string movie = makeMovie("empty-grid.avi");
    RecordingSink sink;
    Options settings = Options::defaults();
    settings.rows = 0;
    settings.headerEnabled = 0;
    CaptureJob job(&sink);
    ASSERT_TRUE(job.acceptMovie(movie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    ASSERT_TRUE(job.finishProbe().ok());
    ASSERT_TRUE(job.startCapture(dir.file("bg.bmp"), settings));
    ASSERT_TRUE(sink.waitFor(ui::WM_CAPTURE_DONE));
    EXPECT_TRUE(job.finishCapture().ok()) << job.finishCapture().errorText();
    const auto all = sink.messages();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].id, ui::WM_CAPTURE_BEGIN);
    EXPECT_EQ(all[1].lParam, 0);
    EXPECT_EQ(job.captureFrames(), 0);
    EXPECT_EQ(all[2].wParam, 0);
    SheetPicture sheet;
    ASSERT_TRUE(readBmp(dir.file("bg.bmp"), sheet));
    EXPECT_EQ(sheet.width, 775); // (10 + 143) x 5 + 10 for a 176 x 144 movie
    EXPECT_EQ(sheet.height, 20);
    for (int y = 0; y < sheet.height; ++y)
        for (int x = 0; x < sheet.width; ++x)
            ASSERT_EQ(sheet.rgb(x, y), 0xEEF2F7u);
}

// A count of more than 16 bits reaches the window whole: 300 × 300 is not
// 90000 mod 65536. Such a sheet may still be refused by the capture; BEGIN
// comes first all the same, then DONE with the reason.
TEST_F(Job, TheFrameCountIsNotCutToSixteenBits) {
    const std::string movie = makeMovie("many.avi");
    RecordingSink sink;
    Options settings = Options::defaults();
    CaptureJob job(&sink);
    ASSERT_TRUE(job.acceptMovie(movie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    ASSERT_TRUE(job.finishProbe().ok());

    const struct {
        int rows, columns;
        int64_t frames;
    } grids[] = {{300, 300, 90000}, {256, 256, 65536}, {-3, 5, 0}};
    for (const auto& grid : grids) {
        SCOPED_TRACE(grid.frames);
        settings.rows = grid.rows;
        settings.columns = grid.columns;
        sink.clear();
        ASSERT_TRUE(job.startCapture(dir.file("many.jpg"), settings));
        EXPECT_EQ(job.captureFrames(), grid.frames);
        ASSERT_TRUE(sink.waitFor(ui::WM_CAPTURE_DONE));
        const CaptureResult& result = job.finishCapture();
        EXPECT_FALSE(result.ok());
        EXPECT_FALSE(result.errorText().empty());
        const auto all = sink.messages();
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0].id, ui::WM_CAPTURE_BEGIN);
        EXPECT_EQ(all[1].id, ui::WM_CAPTURE_DONE);
        EXPECT_EQ(job.captureFrames(), grid.frames);
    }
    EXPECT_FALSE(fs::exists(dir.file("many.jpg")));
}

TEST_F(Job, OneWorkerAtATime) {
    const std::string movie = makeMovie("busy.avi", 250);
    RecordingSink sink;
    Options settings = Options::defaults();
    {
        CaptureJob job(&sink);
        ASSERT_TRUE(job.acceptMovie(movie));
        ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
        ASSERT_TRUE(job.finishProbe().ok());
        ASSERT_TRUE(job.startCapture(dir.file("a.jpg"), settings));
        // While the capture runs nothing else starts; the destructor then
        // cancels and waits, so the job outlives the thread.
        if (job.busy()) {
            EXPECT_FALSE(job.startCapture(dir.file("b.jpg"), settings));
            EXPECT_FALSE(job.acceptMovie(movie));
        }
    }
    EXPECT_FALSE(fs::exists(dir.file("b.jpg")));
}

} // namespace
