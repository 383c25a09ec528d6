// End-to-end captures of movies made by the tests themselves: which frame lands
// in which cell, what the messages say, and how failures are reported.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "capture/capture_job.h"
#include "capture/layout.h"
#include "tests/capture/sheet_reader.h"
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
        done_.notify_all();
    }
    // Waits for a message of the given kind and returns everything so far.
    std::vector<Message> waitFor(uint32_t id) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait_for(lock, std::chrono::seconds(120), [&] {
            return std::any_of(messages_.begin(), messages_.end(),
                               [&](const Message& m) { return m.id == id; });
        });
        return messages_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<Message> messages_;
};

// Stands in for the program's live settings for the length of a test, and
// puts the previous pointer back however the test ends.
struct LiveOptions {
    LiveOptions() : saved(g_options) { g_options = &options; }
    ~LiveOptions() { g_options = saved; }
    Options options = Options::defaults();
    Options* saved;
};

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("stillwick-capture-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A small movie of the frame colour code, with the maker's defaults.
    std::string makeMovie(const char* name) {
        testmovies::MovieSpec spec;
        spec.path = name;
        return makeMovie(spec);
    }

    std::string makeMovie(testmovies::MovieSpec spec) {
        spec.path = (dir / spec.path).string();
        std::string error;
        EXPECT_EQ(testmovies::make(spec, &error), 0) << spec.path << ": " << error;
        return spec.path;
    }

    // Probes the movie into the job; the facts must be there for a capture.
    void probe(CaptureJob& job, const std::string& movie) {
        job.moviePath = movie;
        ASSERT_EQ(MovieProbe::probe(&job), 0) << job.infoText;
    }

    fs::path dir;
};

struct ContainerCase {
    const char* file;
    const char* codec;
    int fpsNum, fpsDen;
    int frames;
    int bFrames;
};

// The first frame at or after a position, or the last frame past the end.
int expectedFrame(int64_t position, const ContainerCase& c) {
    // Frame n starts at n * fpsDen / fpsNum seconds.
    int64_t num = position * c.fpsNum;
    int64_t den = int64_t{10'000'000} * c.fpsDen;
    int64_t n = (num + den - 1) / den;
    return static_cast<int>(std::min<int64_t>(n, c.frames - 1));
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

        CaptureJob job;
        probe(job, movie);
        EXPECT_EQ(job.videoWidth, 176);
        EXPECT_EQ(job.videoHeight, 144);
        const double seconds = static_cast<double>(c.frames) * c.fpsDen / c.fpsNum;
        EXPECT_NEAR(job.duration / 1e7, seconds, 0.1);

        job.targetPath = (dir / (std::string(c.file) + ".bmp")).string();
        ASSERT_EQ(job.run(o), 0) << job.errorText;

        SheetPicture sheet;
        ASSERT_TRUE(readBmp(job.targetPath, sheet));
        SheetLayout layout;
        std::string error;
        ASSERT_TRUE(computeLayout(o, 176, 144, 0, 0, layout, error));
        const std::vector<int64_t> moments = capturePositions(job.duration, 12);
        const int blockHeight = sheet.height - layout.gridHeight - o.spacingY;
        for (int k = 0; k < 12; ++k) {
            const int col = k % o.columns, row = k / o.columns;
            const int x = layout.cellX(col, o) + 20;
            const int y = layout.cellY(row, o) + blockHeight + o.spacingY + 10;
            // A patch in the upper part of the cell, clear of the time stamp.
            const int memoryRow = sheet.height - 1 - (y + 40);
            int got =
                testmovies::indexFromBgr(sheet.pixels.data(), sheet.stride, x, memoryRow, 80, 40);
            EXPECT_EQ(got, expectedFrame(moments[k], c)) << "cell " << k;
        }
    }
}

TEST_F(Capture, MessagesAnnounceStepAndFinish) {
    std::string movie = makeMovie("steps.avi");

    RecordingSink sink;
    LiveOptions live;
    {
        CaptureJob job;
        job.notifyWindow = &sink;
        ASSERT_TRUE(job.acceptMovie(movie));
        auto probeMessages = sink.waitFor(ui::WM_PROBE_DONE);
        ASSERT_EQ(probeMessages.size(), 1u);
        EXPECT_EQ(probeMessages[0].wParam, 0);
        EXPECT_EQ(probeMessages[0].lParam, 0);

        ASSERT_EQ(job.startCapture((dir / "steps.jpg").string()), 0);
        auto all = sink.waitFor(ui::WM_CAPTURE_DONE);
        job.wait();
        ASSERT_EQ(all.size(), 1u + 1u + 25u + 1u);
        EXPECT_EQ(all[1].id, ui::WM_CAPTURE_BEGIN);
        EXPECT_EQ(all[1].lParam, 25 << 16);
        for (size_t i = 2; i < 27; ++i)
            EXPECT_EQ(all[i].id, ui::WM_CAPTURE_STEP);
        EXPECT_EQ(all.back().id, ui::WM_CAPTURE_DONE);
        EXPECT_EQ(all.back().wParam, 0) << job.errorText;
        EXPECT_FALSE(job.busy());
    }
    std::ifstream jpeg(dir / "steps.jpg", std::ios::binary);
    EXPECT_EQ(jpeg.get(), 0xFF);
    EXPECT_EQ(jpeg.get(), 0xD8);
}

TEST_F(Capture, NoCellsWritesTheBackgroundAtOnce) {
    std::string movie = makeMovie("empty-grid.avi");
    RecordingSink sink;
    LiveOptions live; // outlives the job, whose worker reads it
    live.options.rows = 0;
    live.options.headerEnabled = 0;
    CaptureJob job;
    probe(job, movie);
    job.notifyWindow = &sink;
    ASSERT_EQ(job.startCapture((dir / "bg.bmp").string()), 0);
    auto all = sink.waitFor(ui::WM_CAPTURE_DONE);
    job.wait();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].id, ui::WM_CAPTURE_BEGIN);
    EXPECT_EQ(all[0].lParam, 0);
    EXPECT_EQ(all[1].wParam, 0) << job.errorText;
    SheetPicture sheet;
    ASSERT_TRUE(readBmp((dir / "bg.bmp").string(), sheet));
    EXPECT_EQ(sheet.width, 775); // (10 + 143) x 5 + 10 for a 176 x 144 movie
    EXPECT_EQ(sheet.height, 20);
    for (int y = 0; y < sheet.height; ++y)
        for (int x = 0; x < sheet.width; ++x)
            ASSERT_EQ(sheet.rgb(x, y), 0xEEF2F7u);
}

TEST_F(Capture, FailuresNameTheCauseWithTheirHints) {
    testmovies::MovieSpec audioOnly;
    audioOnly.path = "sound.avi";
    audioOnly.video = false;
    audioOnly.audio = true;
    const std::string audio = makeMovie(audioOnly);
    const std::string garbage = (dir / "garbage.mpg").string();
    ASSERT_EQ(testmovies::writeRandomBytes(garbage, 4096, 7, nullptr), 0);
    const std::string missing = (dir / "missing.avi").string();

    struct Case {
        std::string movie;
        std::string text;
    } cases[] = {
        {missing, "No such file or directory."},
        {garbage, ""}, // whatever the demuxers make of it, it is no movie
        {audio, ""},
    };
    for (const Case& c : cases) {
        CaptureJob job;
        job.moviePath = c.movie;
        // Facts of an earlier, good movie: the failure must come from the media.
        job.videoWidth = 176;
        job.videoHeight = 144;
        job.duration = 20'000'000;
        job.targetPath = (dir / "never.jpg").string();
        EXPECT_EQ(job.run(Options::defaults()), -1) << c.movie;
        EXPECT_FALSE(job.errorText.empty());
        if (!c.text.empty()) {
            EXPECT_EQ(job.errorText, c.text);
        }
        EXPECT_FALSE(fs::exists(job.targetPath));
    }
    CaptureJob job;
    job.moviePath = audio;
    job.videoWidth = 176;
    job.videoHeight = 144;
    job.targetPath = (dir / "never.jpg").string();
    EXPECT_EQ(job.run(Options::defaults()), -1);
    const std::string hint = "\nTry installing ffdshow!";
    ASSERT_GT(job.errorText.size(), hint.size());
    EXPECT_EQ(job.errorText.substr(job.errorText.size() - hint.size()), hint);
}

TEST_F(Capture, ProbeFailureClearsTheFactsAndCaptureRefuses) {
    CaptureJob job;
    job.moviePath = (dir / "nothing here.avi").string();
    job.videoWidth = 640;
    job.videoHeight = 480;
    job.duration = 99;
    job.averageFps = 25;
    EXPECT_EQ(MovieProbe::probe(&job), -1);
    EXPECT_EQ(job.videoWidth, 0);
    EXPECT_EQ(job.videoHeight, 0);
    EXPECT_EQ(job.duration, 0);
    EXPECT_EQ(job.averageFps, 0);
    EXPECT_EQ(job.infoText.rfind("File Name\t: nothing here.avi\n", 0), 0u) << job.infoText;
    EXPECT_NE(job.infoText.find("No such file or directory"), std::string::npos);

    job.targetPath = (dir / "out.jpg").string();
    EXPECT_EQ(job.run(Options::defaults()), -1);
    EXPECT_NE(job.errorText.find("nothing here.avi"), std::string::npos) << job.errorText;
    EXPECT_FALSE(fs::exists(job.targetPath));
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
    for (const Case& c : cases) {
        CaptureJob job;
        probe(job, movie);
        job.targetPath = (dir / c.name).string();
        ASSERT_EQ(job.run(o), 0) << job.errorText;
        EXPECT_EQ(job.targetPath, (dir / c.name).string());
        std::ifstream in(dir / c.name, std::ios::binary);
        ASSERT_TRUE(in) << c.name;
        std::vector<uint8_t> head(c.magic.size());
        in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
        EXPECT_EQ(head, c.magic) << c.name;
    }
}

TEST_F(Capture, AFailedWriteFailsTheRunAndKeepsTheOldFile) {
    std::string movie = makeMovie("write.avi");
    CaptureJob job;
    probe(job, movie);

    // A folder that does not exist.
    job.targetPath = (dir / "no-such-folder" / "sheet.jpg").string();
    EXPECT_EQ(job.run(Options::defaults()), -1);
    EXPECT_NE(job.errorText.find(job.targetPath), std::string::npos) << job.errorText;

    // A disk that fills up half-way, simulated with a file size limit.
    const fs::path target = dir / "old.bmp";
    std::ofstream(target) << "the old sheet";
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    job.targetPath = target.string();
    int result = job.run(Options::defaults());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, -1);
    EXPECT_NE(job.errorText.find(target.string()), std::string::npos) << job.errorText;
    std::ifstream in(target);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "the old sheet");
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(Capture, DegenerateSettingsAreRefusedBeforeAnythingIsMade) {
    std::string movie = makeMovie("degenerate.avi");
    CaptureJob job;
    probe(job, movie);
    job.targetPath = (dir / "never.jpg").string();
    Options o = Options::defaults();
    o.frameWidth = 0;
    EXPECT_EQ(job.run(o), -1);
    EXPECT_NE(job.errorText.find("frame"), std::string::npos) << job.errorText;
    EXPECT_FALSE(fs::exists(job.targetPath));
}

TEST_F(Capture, CancelledCaptureWritesNothing) {
    std::string movie = makeMovie("cancel.avi");
    CaptureJob job;
    probe(job, movie);
    job.targetPath = (dir / "never.jpg").string();
    job.cancel();
    EXPECT_EQ(job.run(Options::defaults()), -1);
    EXPECT_EQ(job.errorText, "The capture was cancelled.");
    EXPECT_FALSE(fs::exists(job.targetPath));
}

TEST_F(Capture, OneWorkerAtATime) {
    testmovies::MovieSpec spec;
    spec.path = "busy.avi";
    spec.frames = 250;
    std::string movie = makeMovie(spec);
    RecordingSink sink;
    LiveOptions live;
    {
        CaptureJob job;
        job.notifyWindow = &sink;
        probe(job, movie);
        ASSERT_EQ(job.startCapture((dir / "a.jpg").string()), 0);
        // While the capture runs nothing else starts; the destructor then
        // cancels and waits, so the record outlives the thread.
        if (job.busy()) {
            EXPECT_EQ(job.startCapture((dir / "b.jpg").string()), -1);
            EXPECT_FALSE(job.acceptMovie(movie));
        }
    }
    EXPECT_FALSE(fs::exists(dir / "b.jpg"));
}

} // namespace
