// The probe and the capture stopped while they read a long elementary stream:
// each ends where it stands, says it was cancelled and leaves no sheet; and a
// pipe given as the movie is refused.
//
// The stream is read from memory through a source that trips at a chosen
// read (setting the stop flag) and stalls every read after it, so the work
// cannot race to its end before the stop is seen.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>

#include "capture/capture.h"
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
        ASSERT_TRUE(probe.ok()) << probe.errorText();
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
        EXPECT_FALSE(r.ok());
        EXPECT_TRUE(r.status.isCancelled());
        EXPECT_EQ(r.errorText(), kProbeCancelledText);
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
    EXPECT_TRUE(r.status.isCancelled());
    EXPECT_EQ(r.errorText(), kCancelledText);
    EXPECT_EQ(moments.done, 0);
    EXPECT_TRUE(sheets.entries().empty());

    // A stop set before the run opens nothing at all.
    const int64_t idle = source.reads();
    const CaptureResult early = captureSheet(input(target), o, moments);
    EXPECT_TRUE(early.status.isCancelled());
    EXPECT_EQ(early.errorText(), kCancelledText);
    EXPECT_EQ(source.reads(), idle);
    EXPECT_TRUE(sheets.entries().empty());
}

TEST(NotAFileMovie, APipeIsRefusedByTheProbeAndTheCapture) {
    testmovies::TempDir dir;
    testmovies::Fifo fifo(dir.file("movie.mpg"));
    ASSERT_TRUE(fifo.made());
    const ProbeResult r = MovieProbe::probe(fifo.path());
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.errorText().find("not a regular file"), std::string::npos) << r.errorText();
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
    EXPECT_NE(c.errorText().find("not a regular file"), std::string::npos) << c.errorText();
    EXPECT_EQ(fifo.rescues(), 0);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"movie.mpg"});
}

} // namespace
