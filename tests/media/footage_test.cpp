// Movies as cameras, broadcasters and old collections make them: every
// moment of a contact sheet must give the frame shown at or after it, with
// its own time, whatever the container does with key frames, time stamps and
// picture order.

#include <gtest/gtest.h>

#include "tests/media/rig.h"
#include "tests/support/footage.h"

namespace {

using namespace mediatest;
using testmovies::Footage;

constexpr int kFps = 25;
constexpr int kMoments = 25;

// The frame shown at or after `position`: frame n starts at n / 25 s.
int frameAt(int64_t position, int frames) {
    const int64_t n = (position * kFps + 10'000'000 - 1) / 10'000'000;
    return static_cast<int>(std::min<int64_t>(n, frames - 1));
}

class FootageFrames : public testing::TestWithParam<Footage> {};

TEST_P(FootageFrames, EveryMomentGetsItsOwnFrameAndTime) {
    TempDir dir;
    testmovies::FootageSpec spec;
    spec.kind = GetParam();
    const std::string path =
        dir.file(std::string("movie") + testmovies::footageExtension(spec.kind));
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, path, &error), 0) << error;

    Rig rig;
    ASSERT_EQ(rig.open(path), media::S_OK);
    int64_t duration = 0;
    ASSERT_EQ(rig.graph().getDuration(&duration), media::S_OK);
    // The end of the last frame, within a millisecond.
    EXPECT_NEAR(duration / 1e7, static_cast<double>(spec.frames) / kFps, 1e-3);

    const int64_t step = duration / (kMoments + 1);
    int exact = 0;
    for (int i = 1; i <= kMoments; ++i) {
        const int64_t position = i * step;
        Delivery d;
        ASSERT_EQ(rig.grab(position, &d), media::S_OK);
        const int want = frameAt(position, spec.frames);
        if (spec.kind == Footage::DamagedMiddle && want >= spec.damageFrom &&
            want < spec.damageTo) {
            // The picture shown then is destroyed: nothing, rather than a
            // frame from another moment.
            EXPECT_EQ(d.calls, 0) << "moment " << i << " got frame " << d.index;
            continue;
        }
        ASSERT_EQ(d.calls, 1) << "moment " << i;
        EXPECT_EQ(d.index, want) << "moment " << i << " at " << position / 1e7 << " s";
        EXPECT_NEAR(d.seconds, static_cast<double>(want) / kFps, 1e-6) << "moment " << i;
        exact += d.index == want;
    }
    RecordProperty("exact_cells", exact);
}

std::string kindName(const testing::TestParamInfo<Footage>& info) {
    return testmovies::footageName(info.param);
}

INSTANTIATE_TEST_SUITE_P(RealFootage, FootageFrames,
                         testing::Values(Footage::TsH264OneKeyFrame, Footage::TsH264ManyKeyFrames,
                                         Footage::TsH264Interlaced, Footage::TsHevc,
                                         Footage::TsMpeg2, Footage::PsMpeg2OpenGop,
                                         Footage::AviMpeg4BFrames, Footage::MkvCoverFirst,
                                         Footage::Mp4CoverAfter, Footage::DamagedMiddle),
                         kindName);

} // namespace
