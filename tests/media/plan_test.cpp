// Announced positions are found in planned passes: positions that share a key
// frame in one forward pass. The frames must be the ones a lone search finds
// for each position, in every container and whatever the grouping, while the
// decoder works through each shared stretch once. In key-frame mode each cell
// gets the key frame nearest its moment, timed by its own time stamp.

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/media/frame_finder.h"
#include "tests/media/rig.h"

namespace {

using namespace mediatest;

struct Kind {
    const char* name;
    const char* file;
    const char* container; // empty: from the extension
    const char* codec;     // empty: the container's usual codec
    int frames;
    int gop;
    int bFrames;
};

std::string kindName(const testing::TestParamInfo<Kind>& info) {
    return info.param.name;
}

std::string makeKind(const TempDir& dir, const Kind& k) {
    testmovies::MovieSpec spec;
    spec.path = dir.file(k.file);
    spec.container = k.container;
    spec.codec = k.codec;
    spec.frames = k.frames;
    spec.gop = k.gop;
    spec.bFrames = k.bFrames;
    std::string error;
    EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
    return spec.path;
}

// Evenly spaced over the movie like a sheet's moments, plus a position
// exactly on a frame and one unit after it (the same frame twice over), the
// last frame, and a position past the end.
std::vector<int64_t> sheetPositions(const std::vector<TimelineFrame>& timeline, int cells) {
    const int64_t end = floorPosition(timeline.back());
    std::vector<int64_t> p;
    for (int i = 1; i <= cells; ++i)
        p.push_back(end * i / (cells + 1));
    const int64_t mid = floorPosition(timeline[timeline.size() / 2]);
    p.push_back(mid);
    p.push_back(mid);
    p.push_back(mid + 1);
    p.push_back(end);
    p.push_back(end + 1);
    p.push_back(end + 30'000'000);
    std::sort(p.begin(), p.end());
    return p;
}

class PlannedPasses : public testing::TestWithParam<Kind> {};

TEST_P(PlannedPasses, GiveEveryPositionTheFrameALoneSearchGivesWithAnyWorkers) {
    TempDir dir;
    const std::string path = makeKind(dir, GetParam());
    const std::vector<TimelineFrame> timeline = decodeTimeline(path);
    ASSERT_EQ(timeline.size(), static_cast<size_t>(GetParam().frames));
    const std::vector<int64_t> positions = sheetPositions(timeline, 25);

    std::vector<Delivery> lone;
    {
        Rig rig;
        ASSERT_TRUE(rig.open(path).ok());
        for (int64_t p : positions) {
            Delivery d;
            ASSERT_TRUE(rig.grab(p, &d).ok());
            ASSERT_EQ(d.calls, 1) << "position " << p;
            EXPECT_EQ(d.index, expectedFrame(timeline, p).index) << "position " << p;
            lone.push_back(std::move(d));
        }
    }
    for (int workers : {1, 2, 3}) {
        Rig rig;
        ASSERT_TRUE(rig.open(path, workers).ok());
        std::vector<Delivery> all;
        ASSERT_TRUE(rig.grabAll(positions, &all).ok());
        for (size_t i = 0; i < positions.size(); ++i) {
            const Delivery& d = all[i];
            ASSERT_EQ(d.calls, 1) << workers << " workers, position " << i;
            EXPECT_EQ(d.index, lone[i].index) << workers << " workers, position " << i;
            EXPECT_EQ(d.seconds, lone[i].seconds) << workers << " workers, position " << i;
            EXPECT_TRUE(d.pixels == lone[i].pixels) << workers << " workers, position " << i;
        }
    }
}

const Kind kKinds[] = {
    {"mp4_one_gop", "m.mp4", "", "libx264", 120, 1000, 3},
    {"mp4_gop12", "m.mp4", "", "libx264", 96, 12, 3},
    {"ts_one_gop", "m.ts", "mpegts", "libx264", 120, 1000, 3},
    {"ts_gop12", "m.ts", "mpegts", "libx264", 96, 12, 2},
    {"ts_mpeg2_gop15", "m.ts", "mpegts", "mpeg2video", 90, 15, 2},
    {"ps_mpeg2_gop15", "m.mpg", "", "mpeg2video", 90, 15, 2},
    {"mkv_one_gop", "m.mkv", "", "libx264", 96, 1000, 2},
    {"m1v_elementary", "m.m1v", "", "", 72, 12, 2},
    {"avi_bframes", "m.avi", "", "mpeg4", 72, 12, 2},
    {"mp4_one_frame", "m.mp4", "", "libx264", 1, 12, 0},
    {"ts_one_frame", "m.ts", "mpegts", "libx264", 1, 12, 0},
    {"webm_vp9_gop40", "m.webm", "webm", "libvpx-vp9", 96, 40, 0},
    {"mp4_hevc_one_gop", "m.mp4", "", "libx265", 72, 1000, 3},
};

INSTANTIATE_TEST_SUITE_P(Kinds, PlannedPasses, testing::ValuesIn(kKinds), kindName);

// The cost is the union of the stretches the positions need, not their sum:
// with every position inside one long GOP, the planned capture decodes no
// frame twice.
TEST(PlannedPasses, DecodeASharedGopOnce) {
    TempDir dir;
    for (const Kind& k : {kKinds[0], kKinds[2]}) {
        SCOPED_TRACE(k.name);
        const std::string path = makeKind(dir, k);
        const std::vector<TimelineFrame> timeline = decodeTimeline(path);
        const std::vector<int64_t> positions = sheetPositions(timeline, 25);
        const auto decodeAll = [&](bool planned) {
            Rig rig;
            EXPECT_TRUE(rig.open(path, 2).ok());
            if (planned) {
                std::vector<Delivery> all;
                EXPECT_TRUE(rig.grabAll(positions, &all).ok());
            } else {
                for (int64_t p : positions) {
                    Delivery d;
                    EXPECT_TRUE(rig.grab(p, &d).ok());
                }
            }
            return rig.reader().framesDecoded();
        };
        const int64_t planned = decodeAll(true);
        const int64_t lone = decodeAll(false);
        EXPECT_LE(planned, k.frames) << "lone searches: " << lone;
        EXPECT_LT(planned * 3, lone);
    }
}

// Key-frame mode: each cell is the key frame nearest its moment when that
// lies within the tolerance, timed by its own time stamp; where the nearest
// key frame is further, the exact frame.
TEST(KeyFrameMode, CellsAreTheNearestKeyFramesWithinTheToleranceAtTheirOwnTimes) {
    TempDir dir;
    for (const Kind& k : {kKinds[1], kKinds[3], kKinds[4]}) {
        SCOPED_TRACE(k.name);
        const std::string path = makeKind(dir, k);
        const std::vector<TimelineFrame> timeline = decodeTimeline(path);
        const int64_t end = floorPosition(timeline.back());
        const int cells = 9;
        std::vector<int64_t> positions;
        for (int i = 1; i <= cells; ++i)
            positions.push_back(end * i / (cells + 1));
        const int64_t halfStep = end / (cells + 1) / 2;

        Rig rig;
        ASSERT_TRUE(rig.open(path, 2).ok());
        std::vector<Delivery> all;
        ASSERT_TRUE(rig.grabAll(positions, &all, halfStep).ok());
        int keyFramesShown = 0;
        for (size_t i = 0; i < positions.size(); ++i) {
            const int64_t p = positions[i];
            const Delivery& d = all[i];
            ASSERT_EQ(d.calls, 1);
            ASSERT_GE(d.index, 0);
            // The nearest key frame by the times the frames are shown.
            int nearest = 0;
            for (int key = 0; key < k.frames; key += k.gop) {
                const int64_t a = std::llabs(floorPosition(timeline[static_cast<size_t>(key)]) - p);
                const int64_t b =
                    std::llabs(floorPosition(timeline[static_cast<size_t>(nearest)]) - p);
                if (a < b)
                    nearest = key;
            }
            const int64_t away =
                std::llabs(floorPosition(timeline[static_cast<size_t>(nearest)]) - p);
            const int want = away <= halfStep ? nearest : expectedFrame(timeline, p).index;
            EXPECT_EQ(d.index, want) << "position " << p;
            const TimelineFrame& shown = timeline[static_cast<size_t>(d.index)];
            EXPECT_NEAR(d.seconds, static_cast<double>(shown.num) / shown.den / 1e7, 1e-9);
            keyFramesShown += d.index % k.gop == 0;
        }
        EXPECT_GE(keyFramesShown, cells / 2) << "too few moments have a key frame near";

        // A tolerance smaller than any distance to a key frame: exact frames.
        Rig exact;
        ASSERT_TRUE(exact.open(path, 2).ok());
        ASSERT_TRUE(exact.grabAll(positions, &all, 1).ok());
        for (size_t i = 0; i < positions.size(); ++i)
            EXPECT_EQ(all[i].index, expectedFrame(timeline, positions[i]).index)
                << "position " << positions[i];
    }
}

// Movies whose frames cannot be reached or timed reliably by key frame (a
// program stream, AVI's decoding-order times) keep exact frames.
TEST(KeyFrameMode, MoviesWithoutReliableKeyFrameTimesKeepExactFrames) {
    TempDir dir;
    for (const Kind& k : {kKinds[5], kKinds[8]}) {
        SCOPED_TRACE(k.name);
        const std::string path = makeKind(dir, k);
        const std::vector<TimelineFrame> timeline = decodeTimeline(path);
        const std::vector<int64_t> positions = sheetPositions(timeline, 9);
        Rig rig;
        ASSERT_TRUE(rig.open(path, 2).ok());
        std::vector<Delivery> all;
        ASSERT_TRUE(rig.grabAll(positions, &all, floorPosition(timeline.back())).ok());
        for (size_t i = 0; i < positions.size(); ++i)
            EXPECT_EQ(all[i].index, expectedFrame(timeline, positions[i]).index)
                << "position " << positions[i];
    }
}

} // namespace
