// The desktop program's worker stopped while its probe or its capture reads a
// long elementary stream: each ends where it stands, says it was cancelled,
// still posts its DONE message and leaves no sheet.
//
// The stream is read from memory through a source that trips at a chosen
// read (cancelling the job) and stalls every read after it, so the work
// cannot race to its end before the stop is seen.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "app/capture_job.h"
#include "capture/capture.h"
#include "capture/movie_probe.h"
#include "platform/media/movie_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tripping_source.h"

namespace {

constexpr int kCopies = 30; // 300 seconds of stream
constexpr const char* kMovie = "memory/long.m1v";

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

class StoppedJob : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> bytes = testmovies::longElementaryStream(scratch, kCopies);
        ASSERT_FALSE(bytes.empty());
        source.add(kMovie, std::move(bytes));
        // The reads the stream's opening takes before the length is measured.
        const int64_t before = source.reads();
        std::unique_ptr<media::MovieReader> reader;
        ASSERT_TRUE(media::MovieReader::open(kMovie, nullptr, &reader).ok());
        openingReads = source.reads() - before;
    }

    testmovies::TempDir scratch; // the stream's piece
    testmovies::TempDir sheets;  // nothing may be left here
    testmovies::TrippingSource source;
    int64_t openingReads = 0;
};

TEST_F(StoppedJob, ItsProbeAndItsCaptureStopWhereTheyStand) {
    Options settings = Options::defaults();
    settings.rows = 1;
    settings.columns = 1;
    Sink sink;
    CaptureJob job(&sink);

    // Cancelled while the probe reads the stream for its length.
    source.arm(openingReads + 5, nullptr, [&] { job.cancel(); });
    ASSERT_TRUE(job.acceptMovie(kMovie));
    ASSERT_TRUE(sink.waitFor(ui::WM_PROBE_DONE));
    const ProbeResult& cancelled = job.finishProbe();
    EXPECT_TRUE(source.tripped());
    EXPECT_EQ(cancelled.errorText(), kProbeCancelledText);
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
    ASSERT_TRUE(job.startCapture(sheets.file("whole.png"), settings));
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
    ASSERT_TRUE(second.startCapture(sheets.file("sheet.png"), settings));
    ASSERT_TRUE(quiet.waitFor(ui::WM_CAPTURE_DONE));
    const CaptureResult& r = second.finishCapture();
    EXPECT_TRUE(source.tripped());
    EXPECT_TRUE(r.status.isCancelled());
    EXPECT_EQ(r.errorText(), kCancelledText);
    EXPECT_EQ(quiet.count(ui::WM_CAPTURE_STEP), 0u);
    EXPECT_TRUE(sheets.entries().empty());
}

} // namespace
