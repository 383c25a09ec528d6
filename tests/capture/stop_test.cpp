// The probe, the capture and the desktop program's job stopped while they
// read a long elementary stream: each ends where it stands, says it was
// cancelled and leaves no sheet; and a pipe given as the movie is refused.
//
// The stream is read from memory through a source that trips at a chosen
// read (setting the stop flag, or cancelling the job) and stalls every read
// after it, so the work cannot race to its end before the stop is seen.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "capture/capture.h"
#include "capture/capture_job.h"
#include "capture/movie_probe.h"
#include "platform/media/movie_reader.h"
#include "tests/support/fifo.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tripping_source.h"

namespace {

constexpr int kCopies = 30; // 300 seconds of stream
constexpr const char* kMovie = "memory/long.m1v";

class Moments : public CaptureProgress {
public:
    void momentDone(int, const RasterImage&) override { ++done; }
    int done = 0;
};

class StoppedWork : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> bytes = testmovies::longElementaryStream(scratch, kCopies);
        ASSERT_FALSE(bytes.empty());
        source.add(kMovie, std::move(bytes));
        // The probe of the whole stream: its facts, and the reads its opening
        // takes before the length is measured.
        const int64_t before = source.reads();
        std::unique_ptr<media::MovieReader> reader;
        ASSERT_TRUE(media::MovieReader::open(kMovie, nullptr, &reader).ok());
        openingReads = source.reads() - before;
        probe = MovieProbe::probe(kMovie);
        ASSERT_TRUE(probe.ok()) << probe.errorText;
        ASSERT_NEAR(static_cast<double>(probe.facts.duration) / 1e7, kCopies * 10.0, 1.0);
    }

    CaptureInput input(const std::string& target) {
        CaptureInput in;
        in.moviePath = kMovie;
        in.facts = probe.facts;
        in.infoText = probe.infoText;
        in.targetPath = target;
        in.stop = &stop;
        return in;
    }

    testmovies::TempDir scratch; // the stream's piece
    testmovies::TempDir sheets;  // nothing may be left here
    testmovies::TrippingSource source;
    ProbeResult probe;
    int64_t openingReads = 0;
    std::atomic<bool> stop{false};
};

TEST_F(StoppedWork, AProbeStopsWhileOpeningAndWhileReadingTheWholeStreamForItsLength) {
    for (const int64_t at : {int64_t{1}, openingReads + 5}) {
        SCOPED_TRACE(at);
        stop = false;
        source.arm(at, &stop);
        const ProbeResult r = MovieProbe::probe(kMovie, &stop);
        EXPECT_TRUE(source.tripped());
        EXPECT_EQ(r.code, -1);
        EXPECT_EQ(r.errorText, kProbeCancelledText);
        EXPECT_NE(r.infoText.find(kProbeCancelledText), std::string::npos);
        EXPECT_FALSE(r.facts.usable());
        EXPECT_LE(source.readsAfterTrip(), 4);
    }
}

TEST_F(StoppedWork, ACaptureStopsWhileItsFrameIsSoughtAndWritesNothing) {
    // One moment, in the middle of the stream: found by decoding from the
    // stream's start. Without a stop the sheet is made; halfway through
    // those reads the stop ends the search, before the moment is done.
    Options o = Options::defaults();
    o.rows = 1;
    o.columns = 1;
    const int64_t before = source.reads();
    Moments whole;
    ASSERT_TRUE(captureSheet(input(sheets.file("whole.jpg")), o, whole).ok());
    ASSERT_EQ(whole.done, 1);
    const int64_t captureReads = source.reads() - before;
    ASSERT_TRUE(std::filesystem::remove(sheets.file("whole.jpg")));

    const std::string target = sheets.file("sheet.jpg");
    source.arm(captureReads / 2, &stop);
    Moments moments;
    const CaptureResult r = captureSheet(input(target), o, moments);
    EXPECT_TRUE(source.tripped());
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.errorText, kCancelledText);
    EXPECT_EQ(moments.done, 0);
    EXPECT_TRUE(sheets.entries().empty());

    // A stop set before the run opens nothing at all.
    const int64_t idle = source.reads();
    const CaptureResult early = captureSheet(input(target), o, moments);
    EXPECT_EQ(early.errorText, kCancelledText);
    EXPECT_EQ(source.reads(), idle);
    EXPECT_TRUE(sheets.entries().empty());
}

class Sink : public ui::MessageSink {
public:
    void post(uint32_t id, intptr_t, intptr_t) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ids_.push_back(id);
        changed_.notify_all();
    }
    bool waitFor(uint32_t id) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(120), [&] {
            return std::find(ids_.begin(), ids_.end(), id) != ids_.end();
        });
    }
    size_t count(uint32_t id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count(ids_.begin(), ids_.end(), id));
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint32_t> ids_;
};

// Stands in for the desktop program's live settings while a job runs.
struct OneCell {
    OneCell() : saved(g_options) {
        options.rows = 1;
        options.columns = 1;
        g_options = &options;
    }
    ~OneCell() { g_options = saved; }
    OneCell(const OneCell&) = delete;
    OneCell& operator=(const OneCell&) = delete;
    Options options = Options::defaults();
    Options* saved;
};

TEST_F(StoppedWork, TheDesktopJobCancelsItsProbeAndItsCaptureWhereTheyStand) {
    OneCell settings;
    Sink sink;
    CaptureJob job(&sink);

    // Cancelled while the probe reads the stream for its length.
    source.arm(openingReads + 5, nullptr, [&] { job.cancel(); });
    ASSERT_TRUE(job.acceptMovie(kMovie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    const ProbeResult& cancelled = job.finishProbe();
    EXPECT_TRUE(source.tripped());
    EXPECT_EQ(cancelled.errorText, kProbeCancelledText);
    EXPECT_LE(source.readsAfterTrip(), 4);

    // A cancel is for the work under way only: the next probe runs through.
    source.disarm();
    ASSERT_TRUE(job.acceptMovie(kMovie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    ASSERT_TRUE(job.finishProbe().ok());
    ASSERT_TRUE(job.movieReady());

    // A whole capture of the one moment, for its reads; then one cancelled
    // halfway through them, before its moment is done.
    int64_t before = source.reads();
    ASSERT_TRUE(job.startCapture(sheets.file("whole.png")));
    ASSERT_TRUE(sink.waitFor(ui::WM_CAPTURE_DONE));
    ASSERT_TRUE(job.finishCapture().ok());
    ASSERT_EQ(sink.count(ui::WM_CAPTURE_STEP), 1u);
    const int64_t captureReads = source.reads() - before;
    ASSERT_TRUE(std::filesystem::remove(sheets.file("whole.png")));

    Sink quiet;
    CaptureJob second(&quiet);
    ASSERT_TRUE(second.acceptMovie(kMovie));
    ASSERT_TRUE(quiet.waitFor(ui::WM_PROBE_DONE));
    ASSERT_TRUE(second.finishProbe().ok());
    source.arm(captureReads / 2, nullptr, [&] { second.cancel(); });
    ASSERT_TRUE(second.startCapture(sheets.file("sheet.png")));
    ASSERT_TRUE(quiet.waitFor(ui::WM_CAPTURE_DONE));
    const CaptureResult& r = second.finishCapture();
    EXPECT_TRUE(source.tripped());
    EXPECT_EQ(r.errorText, kCancelledText);
    EXPECT_EQ(quiet.count(ui::WM_CAPTURE_STEP), 0u);
    EXPECT_TRUE(sheets.entries().empty());
}

TEST(NotAFileMovie, APipeIsRefusedByTheProbeAndTheCapture) {
    testmovies::TempDir dir;
    testmovies::Fifo fifo(dir.file("movie.mpg"));
    ASSERT_TRUE(fifo.made());
    const ProbeResult r = MovieProbe::probe(fifo.path());
    EXPECT_EQ(r.code, -1);
    EXPECT_NE(r.errorText.find("not a regular file"), std::string::npos) << r.errorText;
    EXPECT_NE(r.infoText.find("movie.mpg"), std::string::npos);

    // Facts from another file do not make the pipe readable.
    CaptureInput in;
    in.moviePath = fifo.path();
    in.facts.duration = 100'000'000;
    in.facts.videoWidth = 176;
    in.facts.videoHeight = 144;
    in.targetPath = dir.file("sheet.jpg");
    CaptureProgress quiet;
    const CaptureResult c = captureSheet(in, Options::defaults(), quiet);
    EXPECT_FALSE(c.ok());
    EXPECT_NE(c.errorText.find("not a regular file"), std::string::npos) << c.errorText;
    EXPECT_EQ(fifo.rescues(), 0);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"movie.mpg"});
}

} // namespace
