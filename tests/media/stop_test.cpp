// Stopping the reader's work from another thread while it is under way —
// opening, measuring the length of a stream that must be read whole, waiting
// for a frame that is far into such a stream — and files that are no files.
//
// The long stream is read from memory through a source that sets the stop
// flag at a chosen read and stalls every read after it: the reads after the
// trip count what the stop did not prevent, without a clock.

#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>

#include "platform/media/media_facts.h"
#include "platform/media/movie_reader.h"
#include "tests/media/rig.h"
#include "tests/support/fifo.h"
#include "tests/support/tripping_source.h"

extern "C" {
#include <libavutil/error.h>
}

namespace {

using namespace media;
using namespace mediatest;

constexpr int kCopies = 40; // 400 seconds of stream

class StopTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> bytes = testmovies::longElementaryStream(dir, kCopies);
        ASSERT_FALSE(bytes.empty());
        size = bytes.size();
        source.add(kName, std::move(bytes));
    }
    // Reads that the whole stream takes, at least.
    int64_t wholeStreamReads() const { return static_cast<int64_t>(size / (1 << 15)); }

    static constexpr const char* kName = "memory/long.m1v";
    TempDir dir;
    testmovies::TrippingSource source;
    size_t size = 0;
    std::atomic<bool> stop{false};
};

TEST_F(StopTest, TheLengthOfAnElementaryStreamIsReadWholeUnlessStopped) {
    // Without a stop the length comes from reading every byte.
    {
        std::unique_ptr<MovieReader> reader;
        ASSERT_TRUE(MovieReader::open(kName, &stop, &reader).ok());
        const int64_t before = source.reads();
        ASSERT_TRUE(reader->measure().ok());
        EXPECT_GE(source.reads() - before, wholeStreamReads());
        EXPECT_NEAR(static_cast<double>(reader->length()) / 1e7, kCopies * 10.0, 1.0);
    }
    // Stopped a few reads in, the measurement ends at once, says why, and a
    // second try is not answered from what the stopped one saw.
    std::unique_ptr<MovieReader> reader;
    ASSERT_TRUE(MovieReader::open(kName, &stop, &reader).ok());
    source.arm(5, &stop);
    const Result first = reader->measure();
    EXPECT_TRUE(first.isCancelled());
    EXPECT_EQ(first.text(), "The operation was cancelled.");
    EXPECT_TRUE(source.tripped());
    EXPECT_LE(source.readsAfterTrip(), 2);
    EXPECT_TRUE(reader->measure().isCancelled());

    // The facts the command line prints stop the same way.
    stop = false;
    source.arm(5, &stop);
    MediaFacts facts;
    EXPECT_TRUE(readMediaFacts(kName, FactsDepth::Full, &facts, &stop).isCancelled());
}

TEST_F(StopTest, OpeningStopsWithTheFlag) {
    // Tripped at the first read: the stream parameters are never all read.
    source.arm(1, &stop);
    std::unique_ptr<MovieReader> reader;
    EXPECT_TRUE(MovieReader::open(kName, &stop, &reader).isCancelled());
    EXPECT_LE(source.readsAfterTrip(), 4);

    // With the flag set already, nothing is opened.
    const int64_t before = source.reads();
    EXPECT_TRUE(MovieReader::open(kName, &stop, &reader).isCancelled());
    EXPECT_EQ(source.reads(), before);
    EXPECT_FALSE(reader);
}

TEST_F(StopTest, TheSearchForAFrameFarIntoTheStreamEndsWithTheFlag) {
    std::unique_ptr<MovieReader> reader;
    ASSERT_TRUE(MovieReader::open(kName, &stop, &reader).ok());
    reader->setCores(1);
    // The last seconds: found only by decoding from the start of the stream.
    const int64_t position = (kCopies * 10 - 2) * int64_t{10'000'000};
    source.arm(20, &stop);
    int delivered = 0;
    const Result rc = reader->frames({position}, FrameRequest{}, [&](size_t, Frame&&) {
        ++delivered;
        return true;
    });
    EXPECT_TRUE(rc.isCancelled());
    EXPECT_EQ(delivered, 0);
    EXPECT_TRUE(source.tripped());
    // The reader stays stopped.
    EXPECT_TRUE(
        reader->frames({0}, FrameRequest{}, [](size_t, Frame&&) { return true; }).isCancelled());
}

TEST_F(StopTest, WithoutTheFlagTheSameSearchDeliversTheFrame) {
    // The control for the test above: the frame is there to be found.
    Rig rig;
    ASSERT_TRUE(rig.open(kName, 1).ok());
    const int64_t position = (kCopies * 10 - 2) * int64_t{10'000'000};
    Delivery d;
    ASSERT_TRUE(rig.grab(position, &d).ok());
    EXPECT_EQ(d.calls, 1);
    EXPECT_NEAR(d.seconds, kCopies * 10.0 - 2, 0.05);
}

TEST(NotAFile, PipesDevicesAndOtherProtocolsAreRefusedUnopened) {
    TempDir dir;
    testmovies::Fifo fifo(dir.file("pipe.mpg"));
    ASSERT_TRUE(fifo.made());
    for (const std::string& path : {fifo.path(), std::string("/dev/null"), std::string("pipe:0")}) {
        SCOPED_TRACE(path);
        std::unique_ptr<MovieReader> reader;
        const Result rc = MovieReader::open(path, nullptr, &reader);
        EXPECT_EQ(rc.code(), ResultCode::NotRegularFile);
        EXPECT_NE(rc.text().find("not a regular file"), std::string::npos);
        MediaFacts facts;
        EXPECT_EQ(readMediaFacts(path, FactsDepth::Streams, &facts).code(),
                  ResultCode::NotRegularFile);
    }
    EXPECT_EQ(fifo.rescues(), 0);
}

TEST(NotAFile, ALinkToAMovieIsStillAMovie) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.path = dir.file("clip.avi");
    ASSERT_EQ(testmovies::make(spec, nullptr), 0);
    const std::string link = dir.file("link.avi");
    ASSERT_EQ(::symlink(spec.path.c_str(), link.c_str()), 0);
    std::unique_ptr<MovieReader> reader;
    EXPECT_TRUE(MovieReader::open(link, nullptr, &reader).ok());
    // A missing file keeps FFmpeg's own reason.
    const Result missing = MovieReader::open(dir.file("missing.avi"), nullptr, &reader);
    EXPECT_EQ(missing.text(), "No such file or directory.");
}

} // namespace
