// Stopping the graph's work from another thread while it is under way —
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
        std::unique_ptr<FilterGraph> graph;
        ASSERT_EQ(FilterGraph::create(&graph), S_OK);
        graph->setStopFlag(&stop);
        ASSERT_EQ(graph->renderFile(kName), S_OK);
        const int64_t before = source.reads();
        int64_t duration = 0;
        ASSERT_EQ(graph->getDuration(&duration), S_OK);
        EXPECT_GE(source.reads() - before, wholeStreamReads());
        EXPECT_NEAR(static_cast<double>(duration) / 1e7, kCopies * 10.0, 1.0);
    }
    // Stopped a few reads in, the measurement ends at once, says why, and a
    // second try is not answered from what the stopped one saw.
    std::unique_ptr<FilterGraph> graph;
    ASSERT_EQ(FilterGraph::create(&graph), S_OK);
    graph->setStopFlag(&stop);
    ASSERT_EQ(graph->renderFile(kName), S_OK);
    source.arm(5, &stop);
    int64_t duration = -1;
    EXPECT_EQ(graph->getDuration(&duration), E_ABORT);
    EXPECT_TRUE(source.tripped());
    EXPECT_LE(source.readsAfterTrip(), 2);
    EXPECT_EQ(graph->getDuration(&duration), E_ABORT);
    EXPECT_EQ(resultText(E_ABORT), "The operation was cancelled.");

    // The facts the command line prints stop the same way.
    stop = false;
    source.arm(5, &stop);
    MediaFacts facts;
    EXPECT_EQ(readMediaFacts(kName, FactsDepth::Full, &facts, &stop), E_ABORT);
}

TEST_F(StopTest, OpeningStopsWithTheFlag) {
    // Tripped at the first read: the stream parameters are never all read.
    source.arm(1, &stop);
    std::unique_ptr<FilterGraph> graph;
    ASSERT_EQ(FilterGraph::create(&graph), S_OK);
    graph->setStopFlag(&stop);
    EXPECT_EQ(graph->renderFile(kName), E_ABORT);
    EXPECT_LE(source.readsAfterTrip(), 4);

    // A source joining a graph whose flag is set opens nothing.
    std::unique_ptr<SourceFilter> reader;
    ASSERT_EQ(SourceFilter::create(SourceRole::AsyncReader, &reader), S_OK);
    ASSERT_EQ(reader->load(kName), S_OK);
    const int64_t before = source.reads();
    EXPECT_EQ(graph->addFilter(*reader, "Source"), E_ABORT);
    EXPECT_EQ(source.reads(), before);
    EXPECT_EQ(reader->pinCount(), 0);
}

TEST_F(StopTest, TheWaitForAFrameFarIntoTheStreamEndsWithTheFlag) {
    Rig rig;
    ASSERT_EQ(rig.open(kName, 1), S_OK);
    rig.graph().setStopFlag(&stop);
    // The last seconds: found only by decoding from the start of the stream.
    const int64_t position = (kCopies * 10 - 2) * int64_t{10'000'000};
    ASSERT_EQ(rig.graph().setPositions(position), S_OK);
    source.arm(20, &stop);
    ASSERT_EQ(rig.graph().run(), S_OK);
    Delivery d;
    EXPECT_EQ(rig.wait(&d, -1), E_ABORT);
    EXPECT_EQ(d.event, EC_USERABORT);
    EXPECT_EQ(d.calls, 0);
    // Had the wait gone on, the search would have ended with the frame.
    // (How many reads the stop saved is not counted here: FFmpeg's own seek
    // loop reads on until its end from a reader in memory, where it gives
    // up at the next read from a file.)
    EXPECT_TRUE(source.tripped());
    // The graph stays stopped.
    EXPECT_EQ(rig.graph().setPositions(0), E_ABORT);
    EXPECT_EQ(rig.graph().run(), E_ABORT);
    EXPECT_EQ(rig.wait(&d, -1), E_ABORT);
}

TEST_F(StopTest, WithoutTheFlagTheSameWaitDeliversTheFrame) {
    // The control for the test above: the frame is there to be found.
    Rig rig;
    ASSERT_EQ(rig.open(kName, 1), S_OK);
    rig.graph().setStopFlag(&stop);
    const int64_t position = (kCopies * 10 - 2) * int64_t{10'000'000};
    Delivery d;
    ASSERT_EQ(rig.grab(position, &d), S_OK);
    EXPECT_EQ(d.calls, 1);
    EXPECT_NEAR(d.seconds, kCopies * 10.0 - 2, 0.05);
}

TEST(NotAFile, PipesDevicesAndOtherProtocolsAreRefusedUnopened) {
    TempDir dir;
    testmovies::Fifo fifo(dir.file("pipe.mpg"));
    ASSERT_TRUE(fifo.made());
    for (const std::string& path : {fifo.path(), std::string("/dev/null"), std::string("pipe:0")}) {
        SCOPED_TRACE(path);
        std::unique_ptr<FilterGraph> graph;
        ASSERT_EQ(FilterGraph::create(&graph), S_OK);
        EXPECT_EQ(graph->renderFile(path), E_NOT_REGULAR_FILE);

        std::unique_ptr<SourceFilter> reader;
        ASSERT_EQ(SourceFilter::create(SourceRole::AsyncReader, &reader), S_OK);
        ASSERT_EQ(reader->load(path), S_OK);
        EXPECT_EQ(graph->addFilter(*reader, "Source"), E_NOT_REGULAR_FILE);

        MediaFacts facts;
        EXPECT_EQ(readMediaFacts(path, FactsDepth::Streams, &facts), E_NOT_REGULAR_FILE);
    }
    EXPECT_EQ(fifo.rescues(), 0);
    EXPECT_NE(resultText(E_NOT_REGULAR_FILE).find("not a regular file"), std::string::npos);
}

TEST(NotAFile, ALinkToAMovieIsStillAMovie) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.path = dir.file("clip.avi");
    ASSERT_EQ(testmovies::make(spec, nullptr), 0);
    const std::string link = dir.file("link.avi");
    ASSERT_EQ(::symlink(spec.path.c_str(), link.c_str()), 0);
    std::unique_ptr<FilterGraph> graph;
    ASSERT_EQ(FilterGraph::create(&graph), S_OK);
    EXPECT_EQ(graph->renderFile(link), S_OK);
    // A missing file keeps FFmpeg's own reason.
    EXPECT_EQ(graph->renderFile(dir.file("missing.avi")), AVERROR(ENOENT));
}

} // namespace
