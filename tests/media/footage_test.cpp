// Movies as cameras, broadcasters and old collections make them: every
// moment of a contact sheet must give the frame shown at or after it, with
// its own time, whatever the container does with key frames, time stamps and
// picture order.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/media/rig.h"
#include "tests/support/footage.h"
#include "tests/support/run_program.h"

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

// The colour code of one field of a delivered picture: its even (0) or odd
// (1) rows of the picture's middle.
int fieldIndex(const Delivery& d, int parity) {
    const int stride = (d.width * 3 + 3) & ~3;
    double sum[3] = {0, 0, 0};
    int n = 0;
    for (int y = d.height / 4 + parity; y < d.height * 3 / 4; y += 2) {
        const uint8_t* row = d.pixels.data() + static_cast<size_t>(d.height - 1 - y) * stride;
        for (int x = d.width / 4; x < d.width * 3 / 4; ++x, ++n)
            for (int c = 0; c < 3; ++c)
                sum[c] += row[3 * x + c];
    }
    if (n == 0)
        return -1;
    const auto level = [&](int c) { return static_cast<uint8_t>(sum[c] / n + 0.5); };
    return testmovies::indexFromColor(level(2), level(1), level(0));
}

class FootageFrames : public testing::TestWithParam<Footage> {};

TEST_P(FootageFrames, EveryMomentGetsItsOwnFrameAndTime) {
    TempDir dir;
    testmovies::FootageSpec spec;
    spec.kind = GetParam();
    spec.compactFields = true;
    const std::string path =
        dir.file(std::string("movie") + testmovies::footageExtension(spec.kind));
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, path, &error), 0) << error;

    Rig rig;
    ASSERT_TRUE(rig.open(path).ok());
    ASSERT_TRUE(rig.reader().measure().ok());
    const int64_t duration = rig.reader().length();
    // The end of the last frame, within a millisecond.
    EXPECT_NEAR(duration / 1e7, static_cast<double>(spec.frames) / kFps, 1e-3);

    const int64_t step = duration / (kMoments + 1);
    std::vector<int64_t> positions;
    for (int i = 1; i <= kMoments; ++i)
        positions.push_back(i * step);
    // As a sheet asks for them: all at once, so that a damaged moment knows
    // where the next one is.
    std::vector<Delivery> all;
    ASSERT_TRUE(rig.grabAll(positions, &all).ok());
    // The same bytes on every run, whatever the threads' timing.
    for (int run = 0; run < 2; ++run) {
        Rig again;
        ASSERT_TRUE(again.open(path, 2).ok());
        std::vector<Delivery> repeat;
        ASSERT_TRUE(again.grabAll(positions, &repeat).ok());
        for (size_t i = 0; i < positions.size(); ++i)
            ASSERT_TRUE(repeat[i].pixels == all[i].pixels) << "run " << run << ", moment " << i;
    }
    int exact = 0;
    for (int i = 1; i <= kMoments; ++i) {
        const int64_t position = i * step;
        const Delivery& d = all[static_cast<size_t>(i - 1)];
        const int want = frameAt(position, spec.frames);
        if (spec.kind == Footage::DamagedMiddle && want >= spec.damageFrom &&
            want < spec.damageTo) {
            // The picture shown then is destroyed: the first frame that
            // decodes, when it comes before the next moment, with its own
            // time; otherwise nothing, rather than a frame from another
            // moment.
            if (d.calls == 1) {
                EXPECT_EQ(d.index, spec.damageTo) << "moment " << i;
                EXPECT_LT(d.seconds * 1e7, static_cast<double>((i + 1) * step)) << "moment " << i;
                EXPECT_NEAR(d.seconds, static_cast<double>(d.index) / kFps, 1e-6);
            }
            continue;
        }
        ASSERT_EQ(d.calls, 1) << "moment " << i;
        EXPECT_EQ(d.index, want) << "moment " << i << " at " << position / 1e7 << " s";
        if (testmovies::footageHasFieldPictures(spec.kind)) {
            // Field by field: both fields of the picture are the frame's
            // own, none left over from another picture.
            for (int parity : {0, 1})
                EXPECT_EQ(fieldIndex(d, parity), want) << "moment " << i << ", field " << parity;
        }
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
                                         Footage::Mp4CoverAfter, Footage::DamagedMiddle,
                                         Footage::TsH264Paff, Footage::MtsH264Paff,
                                         Footage::EsH264Paff, Footage::MkvH264Paff,
                                         Footage::TsMpeg2Fields, Footage::EsH264,
                                         Footage::EsH264NoB, Footage::EsHevc, Footage::EsHevcNoB),
                         kindName);

} // namespace

namespace {

// The first frame of a movie the ffmpeg tool writes from `source` (a lavfi
// graph), losslessly, tagged with `colorspace` when one is given, as the
// graph delivers it: blue, green, red, bottom-up rows padded to 4 bytes.
struct Delivered {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
    const uint8_t* at(int x, int y) const { // y from the top
        const int stride = (width * 3 + 3) & ~3;
        return pixels.data() + static_cast<size_t>(height - 1 - y) * stride + 3 * x;
    }
};

Delivered firstFrame(const TempDir& dir, const std::string& source,
                     const std::string& colorspace = "") {
    // Matroska keeps a colour tag where the codec has no room for one.
    const std::string path = dir.file("colours.mkv");
    std::vector<std::string> args{"-f", "lavfi", "-i", source, "-c:v", "ffv1"};
    if (!colorspace.empty())
        args.insert(args.end(), {"-colorspace", colorspace});
    args.push_back(path);
    std::string error;
    EXPECT_EQ(testmovies::runFfmpeg(args, &error), 0) << error;
    Rig rig;
    Delivered out;
    if (!rig.open(path).ok())
        return out;
    Delivery d;
    EXPECT_TRUE(rig.grab(0, &d).ok());
    out.width = rig.width();
    out.height = rig.height();
    out.pixels = std::move(d.pixels);
    return out;
}

// Y′CbCr (8-bit, limited range) to R′G′B′ with the given luma weights.
void expectedRgb(double y, double cb, double cr, double kr, double kb, int rgb[3]) {
    const double kg = 1 - kr - kb;
    const double l = (y - 16) / 219, pb = (cb - 128) / 224, pr = (cr - 128) / 224;
    const double r = l + 2 * (1 - kr) * pr;
    const double b = l + 2 * (1 - kb) * pb;
    const double g = (l - kr * r - kb * b) / kg;
    for (int i = 0; i < 3; ++i) {
        const double v = i == 0 ? r : i == 1 ? g : b;
        rgb[i] = static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
    }
}

// A 10-bit ramp that spans 19 eight-bit levels over 256 pixels: converted
// from its 10 bits, it climbs one level at a time; cut to 8 bits first, the
// limited-range stretch would skip levels and leave bands.
TEST(Colours, TenBitGradientsClimbOneLevelAtATime) {
    TempDir dir;
    const Delivered f = firstFrame(
        dir, "nullsrc=s=256x16:r=25:d=0.2,format=yuv444p10le,geq=lum='400+X/4':cb=512:cr=512");
    ASSERT_EQ(f.width, 256);
    int jumps = 0, levels = 1;
    for (int x = 1; x < f.width; ++x) {
        const int step = f.at(x, 8)[1] - f.at(x - 1, 8)[1];
        EXPECT_GE(step, 0) << x;
        jumps += step > 1;
        levels += step != 0;
    }
    EXPECT_EQ(jumps, 0);
    EXPECT_NEAR(f.at(0, 8)[1], 98, 1);    // (400 − 64) / 876 × 255
    EXPECT_NEAR(f.at(255, 8)[1], 116, 1); // (463.75 − 64) / 876 × 255
    EXPECT_GE(levels, 18);
}

// 4:4:4 keeps its colour at full resolution: neighbouring columns of
// opposite colours stay opposite instead of being averaged.
TEST(Colours, FullResolutionChromaStaysSharp) {
    TempDir dir;
    const Delivered f =
        firstFrame(dir, "nullsrc=s=64x16:r=25:d=0.2,format=yuv444p,geq=lum=128:"
                        "cb='if(mod(X\\,2)\\,60\\,196)':cr='if(mod(X\\,2)\\,196\\,60)'");
    ASSERT_EQ(f.width, 64);
    for (int x = 8; x < 56; ++x) {
        const int red = f.at(x, 8)[2], blue = f.at(x, 8)[0];
        if (x % 2)
            EXPECT_GT(red - blue, 150) << x;
        else
            EXPECT_GT(blue - red, 150) << x;
    }
}

// Untagged video is taken as players take it: BT.601 below 720 lines,
// BT.709 from 720 lines up; a tag, where there is one, decides.
TEST(Colours, UntaggedMatrixFollowsTheHeightAndTagsWin) {
    TempDir dir;
    struct Case {
        const char* size;
        const char* tag; // the colour space the file is tagged with, or empty
        double kr, kb;
    } cases[] = {
        {"32x480", "", 0.299, 0.114},
        {"32x720", "", 0.2126, 0.0722},
        {"32x480", "bt709", 0.2126, 0.0722},
        {"32x720", "smpte170m", 0.299, 0.114},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.size) + " " + c.tag);
        const Delivered f = firstFrame(dir,
                                       std::string("nullsrc=s=") + c.size +
                                           ":r=25:d=0.08,format=yuv420p,geq=lum=120:cb=90:cr=170",
                                       c.tag);
        ASSERT_GT(f.width, 0);
        int want[3];
        expectedRgb(120, 90, 170, c.kr, c.kb, want);
        const uint8_t* p = f.at(f.width / 2, f.height / 2);
        EXPECT_NEAR(p[2], want[0], 2);
        EXPECT_NEAR(p[1], want[1], 2);
        EXPECT_NEAR(p[0], want[2], 2);
    }
}

} // namespace
