// The graph's steps as the capture and the probe use them: the two source
// roles, pins, the grabber's rules, failures and their texts, the movie's
// facts, and stopping cleanly.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>
#include <thread>

#include "tests/media/rig.h"

extern "C" {
#include <libavutil/error.h>
}

namespace {

using namespace media;
using namespace mediatest;

std::string makeMovie(const TempDir& dir, const std::string& name,
                      testmovies::MovieSpec spec = testmovies::MovieSpec{}) {
    spec.path = dir.file(name);
    std::string error;
    EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
    return spec.path;
}

// A filter with pins in the order input, output, input, output.
class MixedPins : public Filter {
public:
    MixedPins() {
        for (int i = 0; i < 4; ++i)
            pins_.push_back(std::make_unique<Pinlet>(*this, i % 2 ? PinDirection::Output
                                                                  : PinDirection::Input));
    }
    int pinCount() const override { return static_cast<int>(pins_.size()); }
    Pin* pin(int index) const override { return pins_[index].get(); }

private:
    struct Pinlet : Pin {
        Pinlet(Filter& f, PinDirection d) : owner(f), dir(d) {}
        PinDirection direction() const override { return dir; }
        MajorType majorType() const override { return MajorType::Video; }
        Filter& filter() const override { return owner; }
        Filter& owner;
        PinDirection dir;
    };
    std::vector<std::unique_ptr<Pinlet>> pins_;
};

TEST(FindPin, CountsOnlyPinsOfTheAskedDirection) {
    MixedPins f;
    Pin* p = reinterpret_cast<Pin*>(1);
    EXPECT_EQ(findPin(f, PinDirection::Output, 1, &p), S_OK);
    EXPECT_EQ(p, f.pin(3));
    EXPECT_EQ(findPin(f, PinDirection::Output, 2, &p), E_FAIL);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(inputPin(f, 0), f.pin(0));
    EXPECT_EQ(outputPin(f, 0), f.pin(1));
    EXPECT_EQ(inputPin(f, -1), nullptr);
}

TEST(Sources, AsfReaderRefusesOtherFilesWhenJoiningAndTheAsyncReaderTakesThem) {
    TempDir dir;
    const std::string avi = makeMovie(dir, "clip.avi");
    std::unique_ptr<FilterGraph> graph;
    ASSERT_EQ(FilterGraph::create(&graph), S_OK);

    std::unique_ptr<SourceFilter> asf;
    ASSERT_EQ(SourceFilter::create(SourceRole::AsfReader, &asf), S_OK);
    EXPECT_EQ(asf->load(""), E_NO_FILE_NAME);
    EXPECT_EQ(graph->addFilter(*asf, "SourceWMV"), E_NO_FILE_LOADED);
    // Any name loads; the file is judged when the filter joins the graph.
    EXPECT_EQ(asf->load(dir.file("does-not-exist.wmv")), S_OK);
    EXPECT_EQ(asf->load(avi), S_OK);
    const Result refused = graph->addFilter(*asf, "SourceWMV");
    EXPECT_TRUE(failed(refused));
    EXPECT_FALSE(resultText(refused).empty());
    EXPECT_EQ(asf->pinCount(), 0);

    std::unique_ptr<SourceFilter> async;
    ASSERT_EQ(SourceFilter::create(SourceRole::AsyncReader, &async), S_OK);
    ASSERT_EQ(async->load(avi), S_OK);
    EXPECT_EQ(graph->addFilter(*async, "Source"), S_OK);
    EXPECT_EQ(graph->addFilter(*async, "Source"), E_ALREADY_IN_GRAPH);
    EXPECT_EQ(async->role(), SourceRole::AsyncReader);
    ASSERT_EQ(async->pinCount(), 1);
    EXPECT_EQ(outputPin(*async, 0)->majorType(), MajorType::Video);
}

TEST(Sources, WmvWithSoundFirstHasTheVideoOnItsSecondPin) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.audio = true;
    spec.audioFirst = true;
    const std::string wmv = makeMovie(dir, "clip.wmv", spec);
    std::unique_ptr<FilterGraph> graph;
    std::unique_ptr<SourceFilter> asf;
    FilterGraph::create(&graph);
    SourceFilter::create(SourceRole::AsfReader, &asf);
    asf->load(wmv);
    ASSERT_EQ(graph->addFilter(*asf, "SourceWMV"), S_OK);
    ASSERT_EQ(asf->pinCount(), 2);
    EXPECT_EQ(outputPin(*asf, 0)->majorType(), MajorType::Audio);
    EXPECT_EQ(outputPin(*asf, 1)->majorType(), MajorType::Video);
    EXPECT_EQ(&outputPin(*asf, 1)->filter(), asf.get());
    EXPECT_EQ(inputPin(*asf, 0), nullptr);
    Pin* none = nullptr;
    EXPECT_EQ(findPin(*asf, PinDirection::Output, 2, &none), E_FAIL);

    // Only the video pin can feed the grabber.
    std::unique_ptr<SampleGrabber> grabber;
    SampleGrabber::create(&grabber);
    ASSERT_EQ(graph->addFilter(*grabber, "Grabber"), S_OK);
    grabber->setMediaType({MajorType::Video, SubType::RGB24});
    EXPECT_EQ(graph->connect(*outputPin(*asf, 0), *inputPin(*grabber, 0)), E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(graph->connect(*inputPin(*grabber, 0), *outputPin(*asf, 1)), E_WRONG_DIRECTION);
    EXPECT_EQ(graph->connect(*outputPin(*asf, 1), *inputPin(*grabber, 0)), S_OK);
    EXPECT_EQ(graph->connect(*outputPin(*asf, 1), *inputPin(*grabber, 0)), E_ALREADY_CONNECTED);
}

TEST(Grabber, AcceptsOnlyRgb24VideoAndOnlyOneShotCallbacks) {
    TempDir dir;
    const std::string movie = makeMovie(dir, "clip.mov");
    std::unique_ptr<SampleGrabber> grabber;
    ASSERT_EQ(SampleGrabber::create(&grabber), S_OK);
    EXPECT_EQ(grabber->setBufferSamples(true), E_NOTIMPL);
    EXPECT_EQ(grabber->setBufferSamples(false), S_OK);
    EXPECT_EQ(grabber->setOneShot(false), E_NOTIMPL);
    EXPECT_EQ(grabber->setOneShot(true), S_OK);
    EXPECT_EQ(grabber->setCallback(nullptr, 0), E_NOTIMPL);
    int32_t w = 0, h = 0;
    EXPECT_EQ(grabber->getConnectedSize(&w, &h), E_NOT_CONNECTED);
    ASSERT_EQ(grabber->pinCount(), 2);
    EXPECT_EQ(inputPin(*grabber, 0), grabber->pin(0));
    EXPECT_EQ(outputPin(*grabber, 0), grabber->pin(1));

    std::unique_ptr<FilterGraph> graph;
    std::unique_ptr<SourceFilter> source;
    FilterGraph::create(&graph);
    SourceFilter::create(SourceRole::AsyncReader, &source);
    source->load(movie);
    ASSERT_EQ(graph->addFilter(*source, "Source"), S_OK);
    Pin& video = *outputPin(*source, 0);
    Pin& in = *inputPin(*grabber, 0);
    EXPECT_EQ(graph->connect(video, in), E_NOT_IN_GRAPH);
    ASSERT_EQ(graph->addFilter(*grabber, "Grabber"), S_OK);
    EXPECT_EQ(graph->connect(video, in), E_TYPE_NOT_ACCEPTED); // no type set yet
    for (MediaType wrong : {MediaType{MajorType::Video, SubType::Unknown},
                            MediaType{MajorType::Audio, SubType::RGB24}}) {
        grabber->setMediaType(wrong);
        EXPECT_EQ(graph->connect(video, in), E_TYPE_NOT_ACCEPTED);
    }
    grabber->setMediaType({MajorType::Video, SubType::RGB24});
    EXPECT_EQ(graph->setPositions(0), E_NOT_CONNECTED);
    ASSERT_EQ(graph->connect(video, in), S_OK);
    EXPECT_EQ(grabber->getConnectedSize(&w, &h), S_OK);
    EXPECT_EQ(w, 176);
    EXPECT_EQ(h, 144);
    EXPECT_EQ(graph->setPositions(-1), E_INVALIDARG);
    EXPECT_EQ(graph->run(), E_NOT_RENDERED);
}

TEST(Runs, RunWithoutSeekShowsTheFirstFrameAndAnUnarmedRunDeliversNothing) {
    TempDir dir;
    const std::string movie = makeMovie(dir, "clip.mkv");
    Rig rig;
    ASSERT_EQ(rig.open(movie), S_OK);
    int32_t event = -1;
    EXPECT_EQ(rig.graph().waitForCompletion(-1, &event), S_OK); // nothing was run
    EXPECT_EQ(event, EC_COMPLETE);

    Delivery first;
    ASSERT_EQ(rig.runAndWait(&first), S_OK);
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(first.index, 0);
    EXPECT_EQ(first.seconds, 0.0);
    Delivery again;
    ASSERT_EQ(rig.runAndWait(&again), S_OK); // not sought again: one-shot stays silent
    EXPECT_EQ(again.calls, 0);
    EXPECT_EQ(again.event, EC_COMPLETE);
}

TEST(Runs, TimedWaitsDeliverNothingUntilTheFrameIsThere) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.pattern = testmovies::Pattern::Pleasant;
    spec.indexPatch = true;
    spec.width = 640;
    spec.height = 360;
    spec.frames = 250;
    spec.gop = 250;
    const std::string movie = makeMovie(dir, "clip.mp4", spec);
    Rig rig;
    ASSERT_EQ(rig.open(movie), S_OK);
    ASSERT_EQ(rig.graph().setPositions(90'000'000), S_OK); // deep into the only GOP
    ASSERT_EQ(rig.graph().run(), S_OK);
    Delivery d;
    Result hr = E_TIMEOUT;
    int waits = 0;
    while ((hr = rig.wait(&d, 1)) == E_TIMEOUT) {
        EXPECT_EQ(d.calls, 0);
        ASSERT_LT(++waits, 100000);
    }
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(d.calls, 1);
    EXPECT_EQ(d.event, EC_COMPLETE);
    const int stride = (640 * 3 + 3) & ~3;
    const testmovies::Box box = testmovies::indexPatchBox(640, 360);
    EXPECT_EQ(testmovies::indexFromBgr(d.pixels.data(), stride, box.x + 4, 360 - box.y - box.h + 4,
                                       box.w - 8, box.h - 8),
              225);
}

TEST(Runs, SeeksThatLeaveTheAnnouncedOrderStillGetTheirFrames) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.frames = 100;
    spec.gop = 25;
    spec.bFrames = 2;
    const std::string movie = makeMovie(dir, "clip.mp4", spec);
    Rig rig;
    ASSERT_EQ(rig.open(movie, 2), S_OK);
    rig.graph().announcePositions({4'000'000, 20'000'000, 36'000'000});
    for (auto [position, index] : {std::pair<int64_t, int>{4'000'000, 10},
                                   {36'000'000, 90}, // skips one announced position
                                   {20'000'000, 50},
                                   {20'000'000, 50},
                                   {1, 1}}) {
        Delivery d;
        ASSERT_EQ(rig.grab(position, &d), S_OK);
        EXPECT_EQ(d.index, index) << position;
    }
}

TEST(Frames, AreBottomUpBlueGreenRed) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.pattern = testmovies::Pattern::Pleasant;
    spec.indexPatch = true;
    spec.width = 320;
    spec.height = 240;
    spec.frames = 30;
    const std::string movie = makeMovie(dir, "clip.mp4", spec);
    Rig rig;
    ASSERT_EQ(rig.open(movie), S_OK);
    Delivery d;
    ASSERT_EQ(rig.grab(8'000'000, &d), S_OK); // frame 20
    ASSERT_EQ(d.calls, 1);
    const int stride = (320 * 3 + 3) & ~3;
    const testmovies::Box box = testmovies::indexPatchBox(320, 240);
    // The patch sits at the top of the picture, so at the end of the memory.
    const int inset = 4;
    const int memoryRow = 240 - box.y - box.h + inset;
    EXPECT_EQ(testmovies::indexFromBgr(d.pixels.data(), stride, box.x + inset, memoryRow,
                                       box.w - 2 * inset, box.h - 2 * inset),
              20);
    EXPECT_NE(testmovies::indexFromBgr(d.pixels.data(), stride, box.x + inset, box.y + inset,
                                       box.w - 2 * inset, box.h - 2 * inset),
              20);
}

TEST(Probe, ReadsSizeFrameTimeAndTheTrueDuration) {
    TempDir dir;
    struct Expect {
        const char* file;
        int fpsNum, fpsDen, bFrames;
        double frameTime;
    };
    // 240 frames: the elementary stream's and the program streams' lengths
    // must come from their time stamps, not from a guess by bit rate.
    for (const Expect& e :
         {Expect{"a.m1v", 25, 1, 2, 0.04}, Expect{"b.mpg", 30000, 1001, 2, 1001.0 / 30000},
          Expect{"c.mpeg", 24, 1, 2, 1.0 / 24}, Expect{"d.mp4", 25, 1, 2, 0.04},
          Expect{"e.wmv", 25, 1, 0, 0.04}, Expect{"f.rm", 25, 1, 0, 0.04}}) {
        testmovies::MovieSpec spec;
        spec.fpsNum = e.fpsNum;
        spec.fpsDen = e.fpsDen;
        spec.bFrames = e.bFrames;
        spec.frames = 240;
        spec.gop = 12;
        const std::string movie = makeMovie(dir, e.file, spec);
        std::unique_ptr<FilterGraph> graph;
        FilterGraph::create(&graph);
        ASSERT_EQ(graph->renderFile(movie), S_OK) << e.file;
        int64_t duration = 0;
        int32_t w = 0, h = 0;
        double frameTime = 0;
        ASSERT_EQ(graph->getDuration(&duration), S_OK) << e.file;
        ASSERT_EQ(graph->getVideoSize(&w, &h), S_OK);
        ASSERT_EQ(graph->getAvgTimePerFrame(&frameTime), S_OK);
        EXPECT_EQ(w, 176);
        EXPECT_EQ(h, 144);
        EXPECT_NEAR(frameTime, e.frameTime, 1e-9) << e.file;
        const double trueLength = 240 * e.frameTime;
        EXPECT_NEAR(duration / 1e7, trueLength, 1.5 * e.frameTime) << e.file;
    }
}

TEST(Probe, BrokenFilesFailWithTheirOwnReasons) {
    TempDir dir;
    std::string error;
    ASSERT_EQ(testmovies::writeRandomBytes(dir.file("garbage.avi"), 20000, 7, &error), 0);
    ASSERT_EQ(testmovies::writeEmpty(dir.file("empty.mpg"), &error), 0);
    testmovies::MovieSpec sound;
    sound.video = false;
    sound.audio = true;
    const std::string audio = makeMovie(dir, "sound.wav", sound);

    std::set<std::string> texts;
    for (const std::string& path :
         {dir.file("missing.avi"), dir.file("garbage.avi"), dir.file("empty.mpg"), audio}) {
        std::unique_ptr<FilterGraph> graph;
        FilterGraph::create(&graph);
        const Result hr = graph->renderFile(path);
        EXPECT_TRUE(failed(hr)) << path;
        texts.insert(resultText(hr));
        int32_t w, h;
        EXPECT_TRUE(failed(graph->getVideoSize(&w, &h)));
    }
    EXPECT_EQ(texts.size(), 3u) << "garbage and an empty file may share a reason, no more";
    EXPECT_TRUE(texts.count(resultText(AVERROR(ENOENT))));
    EXPECT_TRUE(texts.count(resultText(E_NO_VIDEO_STREAM)));
}

TEST(Probe, TruncatedMovieDeliversWhatItHas) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.frames = 100;
    spec.bFrames = 2;
    const std::string whole = makeMovie(dir, "whole.mpg", spec);
    std::string error;
    ASSERT_EQ(testmovies::writeTruncated(whole, dir.file("half.mpg"), 30000, &error), 0);
    Rig rig;
    ASSERT_EQ(rig.open(dir.file("half.mpg")), S_OK);
    Delivery early;
    ASSERT_EQ(rig.grab(4'000'000, &early), S_OK);
    EXPECT_EQ(early.calls, 1);
    EXPECT_GE(early.index, 9); // the container starts a few hundredths in
    EXPECT_LE(early.index, 10);
    Delivery late;
    ASSERT_EQ(rig.grab(39'000'000, &late), S_OK); // beyond what is left
    ASSERT_EQ(late.calls, 1);
    EXPECT_GT(late.index, 10);
    EXPECT_LT(late.index, 99);
}

TEST(ResultText, EveryCodeHasAText) {
    const Result ours[] = {S_OK,
                           S_FALSE,
                           E_FAIL,
                           E_OUTOFMEMORY,
                           E_INVALIDARG,
                           E_NOTIMPL,
                           E_NO_FILE_NAME,
                           E_NO_FILE_LOADED,
                           E_ALREADY_IN_GRAPH,
                           E_NOT_IN_GRAPH,
                           E_NO_VIDEO_STREAM,
                           E_NO_DECODER,
                           E_TYPE_NOT_ACCEPTED,
                           E_NOT_CONNECTED,
                           E_ALREADY_CONNECTED,
                           E_WRONG_DIRECTION,
                           E_NOT_RENDERED,
                           E_NO_CALLBACK,
                           E_BAD_VIDEO_SIZE,
                           E_TIMEOUT,
                           E_NOT_SEEKABLE,
                           E_NO_CONVERSION};
    std::set<std::string> seen;
    for (Result r : ours) {
        const std::string text = resultText(r);
        EXPECT_FALSE(text.empty());
        EXPECT_TRUE(seen.insert(text).second) << "two codes share: " << text;
    }
    // The codes real files end in read as something a user can act on.
    EXPECT_EQ(resultText(AVERROR_INVALIDDATA), "The file is damaged, or it is not a movie the "
                                               "installed FFmpeg libraries can read.");
    EXPECT_EQ(resultText(AVERROR_EOF),
              "The file ends before its first picture: it is cut short or empty.");
    EXPECT_EQ(resultText(AVERROR_PATCHWELCOME), "This movie uses a feature the installed FFmpeg "
                                                "libraries do not support (FFmpeg: Not yet "
                                                "implemented in FFmpeg, patches welcome).");
    EXPECT_EQ(resultText(AVERROR(EAGAIN)), "Resource temporarily unavailable.");
    EXPECT_EQ(resultText(AVERROR(ENOENT)), "No such file or directory.");
    EXPECT_EQ(resultText(static_cast<Result>(0x8004FFFFu)), "Unknown error 0x8004FFFF.");
    EXPECT_EQ(resultText(-1234567), "Unknown error 0xFFED2979.");
}

// Destroying a graph while its workers search stops them at the next packet:
// the work done after the destruction began is a few frames per worker, not
// the rest of the searches (hundreds of frames each, from the only key frame
// to the end of a long GOP).
TEST(Lifetime, DestroyingTheGraphOrItsFiltersMidRunStopsAtOnce) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.pattern = testmovies::Pattern::Pleasant;
    spec.noise = 16;
    spec.width = 320;
    spec.height = 180;
    spec.frames = 1000;
    spec.gop = 1000;
    spec.bFrames = 0;
    const std::string movie = makeMovie(dir, "long.mp4", spec);
    // Moments near the end of the one GOP: each search decodes every frame
    // from the start.
    const std::vector<int64_t> positions = {380'000'000, 390'000'000, 395'000'000};
    constexpr int64_t kAfterStop = 60;

    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        auto rig = std::make_unique<Rig>();
        ASSERT_EQ(rig->open(movie, 2), S_OK);
        const int64_t before = decodedFrameCount();
        rig->graph().announcePositions(positions);
        if (variant < 2) {
            ASSERT_EQ(rig->graph().setPositions(positions[0]), S_OK);
            ASSERT_EQ(rig->graph().run(), S_OK);
        }
        // Decoding is under way once the first frames come out.
        for (int i = 0; i < 60000 && decodedFrameCount() < before + 20; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GE(decodedFrameCount(), before + 20) << "nothing was decoded";
        const int64_t atStop = decodedFrameCount();
        if (variant == 0)
            rig->dropFilters(); // as a failed capture releases them: filters first
        else
            rig->dropGraph();
        rig.reset();
        EXPECT_LT(decodedFrameCount() - atStop, kAfterStop);
        EXPECT_LT(decodedFrameCount() - before, 500) << "a search ran to its end";
    }
}

} // namespace

namespace {

// The frame code other tests rely on: every index reads back through the
// noise lossy coding adds, and a colour between codes reads as none.
TEST(TestMovieCode, SurvivesCodingNoiseAndRefusesColoursBetweenCodes) {
    for (int n = 0; n <= testmovies::kMaxIndex; ++n) {
        uint8_t r, g, b;
        testmovies::colorForIndex(n, &r, &g, &b);
        ASSERT_FALSE(r == 0 && g == 0 && b == 0) << "an empty cell must not read as a frame";
        for (int d : {-8, 0, 8}) {
            const auto shift = [d](uint8_t v) {
                return static_cast<uint8_t>(std::clamp(v + d, 0, 255));
            };
            ASSERT_EQ(testmovies::indexFromColor(shift(r), shift(g), shift(b)), n) << d;
        }
    }
    EXPECT_EQ(testmovies::indexFromColor(0, 0, 0), -1);
    EXPECT_EQ(testmovies::indexFromColor(0, 0, 12), -1); // halfway between two levels
}

} // namespace
