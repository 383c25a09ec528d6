// For every position the reader must deliver exactly the first frame at or after the
// position (the last frame past the end), with its time from the movie's
// start, in every container the program accepts, and the same frames however
// many workers decode them.

#include <gtest/gtest.h>

#include <set>

#include "tests/media/rig.h"

namespace {

using namespace mediatest;

struct Case {
    const char* name;
    const char* file;
    const char* codec; // empty: the container's usual codec
    int fpsNum;
    int fpsDen;
    int bFrames;
    bool audio;
    bool audioFirst;
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
    std::string fps = std::to_string(info.param.fpsNum) +
                      (info.param.fpsDen == 1 ? "" : "_" + std::to_string(info.param.fpsDen));
    return std::string(info.param.name) + "_" + fps;
}

class FrameAtPosition : public testing::TestWithParam<Case> {};

constexpr int kFrames = 48;
constexpr int kGop = 12;

TEST_P(FrameAtPosition, FirstFrameAtOrAfterThePositionWithAnyNumberOfWorkers) {
    const Case& c = GetParam();
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.path = dir.file(c.file);
    spec.codec = c.codec;
    spec.fpsNum = c.fpsNum;
    spec.fpsDen = c.fpsDen;
    spec.frames = kFrames;
    spec.gop = kGop;
    spec.bFrames = c.bFrames;
    spec.audio = c.audio;
    spec.audioFirst = c.audioFirst;
    std::string error;
    ASSERT_EQ(testmovies::make(spec, &error), 0) << error;

    // The reference: every frame decoded in order from the start.
    const std::vector<TimelineFrame> timeline = decodeTimeline(spec.path);
    ASSERT_EQ(timeline.size(), size_t{kFrames});
    for (int n = 0; n < kFrames; ++n)
        ASSERT_EQ(timeline[n].index, n) << "the maker's movie is not what the test expects";

    // Exactly at a frame's time (rounded down to a whole unit) and one unit
    // later, around key frames, B-frames and the ends.
    std::vector<int64_t> positions{0};
    for (int n : {1, 2, 5, kGop - 1, kGop, kGop + 1, 2 * kGop + 2, 3 * kGop - 1, kFrames - 2,
                  kFrames - 1}) {
        positions.push_back(floorPosition(timeline[n]));
        positions.push_back(floorPosition(timeline[n]) + 1);
    }
    positions.push_back(floorPosition(timeline.back()) + 50'000'000); // 5 s past the end

    std::vector<Delivery> reference;
    {
        Rig rig;
        ASSERT_TRUE(rig.open(spec.path).ok());
        for (int64_t p : positions) {
            Delivery d;
            ASSERT_TRUE(rig.grab(p, &d).ok());
            const TimelineFrame& want = expectedFrame(timeline, p);
            ASSERT_EQ(d.calls, 1) << "position " << p;
            EXPECT_EQ(d.index, want.index) << "position " << p;
            EXPECT_NEAR(d.seconds, static_cast<double>(want.num) / want.den / 1e7, 1e-9)
                << "position " << p;
            EXPECT_EQ(d.width, rig.width());
            EXPECT_EQ(d.height, rig.height());
            reference.push_back(std::move(d));
        }
    }
    for (int workers : {1, 2, 3}) {
        Rig rig;
        ASSERT_TRUE(rig.open(spec.path, workers).ok());
        std::vector<Delivery> all;
        ASSERT_TRUE(rig.grabAll(positions, &all).ok());
        for (size_t i = 0; i < positions.size(); ++i) {
            const Delivery& d = all[i];
            ASSERT_EQ(d.calls, 1);
            EXPECT_EQ(d.index, reference[i].index) << workers << " workers, position " << i;
            EXPECT_EQ(d.seconds, reference[i].seconds);
            EXPECT_TRUE(d.pixels == reference[i].pixels) << workers << " workers, position " << i;
        }
    }
}

// Every accepted container, each at the three common frame rates.
std::vector<Case> allCases() {
    const Case base[] = {
        {"avi_mpeg4", "m.avi", "", 25, 1, 0, true, false},
        {"avi_mpeg4_bframes", "m.avi", "mpeg4", 25, 1, 2, false, false},
        {"avi_mjpeg", "m.avi", "mjpeg", 25, 1, 0, false, false},
        {"mov", "m.mov", "", 25, 1, 2, true, false},
        {"qt", "m.qt", "", 25, 1, 0, false, false},
        {"mpg_mpeg1", "m.mpg", "", 25, 1, 2, true, false},
        {"mpeg_mpeg2", "m.mpeg", "", 25, 1, 2, true, false},
        {"vcd_dat", "m.dat", "", 25, 1, 2, true, false},
        {"m1v", "m.m1v", "", 25, 1, 2, false, false},
        {"m1v_no_bframes", "m.m1v", "", 25, 1, 0, false, false},
        {"rm_rv10", "m.rm", "", 25, 1, 0, true, false},
        {"rmvb_rv20", "m.rmvb", "", 25, 1, 0, false, false},
        {"wmv_audio_first", "m.wmv", "", 25, 1, 0, true, true},
        {"wmv_video_only", "m.wmv", "", 25, 1, 0, false, false},
        {"mp4_h264_bframes", "m.mp4", "", 25, 1, 3, true, false},
        {"mkv_h264_bframes", "m.mkv", "", 25, 1, 2, true, false},
    };
    std::vector<Case> cases;
    for (const Case& c : base) {
        for (auto [num, den] : {std::pair{25, 1}, std::pair{30000, 1001}, std::pair{24, 1}}) {
            Case k = c;
            k.fpsNum = num;
            k.fpsDen = den;
            cases.push_back(k);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Containers, FrameAtPosition, testing::ValuesIn(allCases()), caseName);

} // namespace
