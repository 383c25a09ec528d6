// Looking past blank frames, on movies with black and white stretches at
// known frames: which frame each cell gets and the time it is stamped with.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "capture/capture.h"
#include "capture/movie_probe.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace {

// The frames the cells get: the index in the picture's code patch and the
// time the capture stamps.
class FrameLog : public CaptureProgress {
public:
    struct Frame {
        int moment;
        int index;
        double seconds;
    };
    bool wantsFullFrames() const override { return true; }
    void frameArrived(int moment, const MediaTime& time, const RasterImage& frame) override {
        const testmovies::Box box = testmovies::indexPatchBox(frame.width(), frame.height());
        // The patch's middle.
        const int index = testmovies::indexFromRgb(frame.row(0), frame.stride(), box.x + box.w / 4,
                                                   box.y + box.h / 4, box.w / 2, box.h / 2);
        frames.push_back({moment, index, time.seconds()});
    }
    std::vector<Frame> frames;
};

class AvoidBlank : public ::testing::Test {
protected:
    // Pleasant pictures with the frame code in a corner, at `fps` frames a
    // second, with the given flat stretches.
    std::string makeMovie(int frames, int fps, std::vector<testmovies::FlatStretch> flat) {
        testmovies::MovieSpec spec;
        spec.path = dir.file("stretches.avi");
        spec.pattern = testmovies::Pattern::Pleasant;
        spec.indexPatch = true;
        spec.frames = frames;
        spec.fpsNum = fps;
        spec.gop = 25;
        spec.flat = std::move(flat);
        std::string error;
        EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
        return spec.path;
    }

    std::vector<FrameLog::Frame> capture(const std::string& movie, int columns, bool avoidBlank) {
        const ProbeResult probe = MovieProbe::probe(movie);
        EXPECT_TRUE(probe.ok()) << probe.errorText();
        Options o = Options::defaults();
        o.rows = 1;
        o.columns = columns;
        CaptureInput input{movie, probe.facts, probe.infoText, dir.file("sheet.bmp"), {}};
        input.choice.avoidBlank = avoidBlank;
        FrameLog log;
        const CaptureResult result = captureSheet(input, o, log);
        EXPECT_TRUE(result.ok()) << result.errorText();
        return log.frames;
    }

    testmovies::TempDir dir;
};

// 200 frames at 25 a second, four cells: moments at frames 40, 80, 120, 160,
// half a step is 20 frames.
TEST_F(AvoidBlank, EachBlankMomentGetsTheFirstPictureWithinHalfAStep) {
    const std::string movie = makeMovie(200, 25,
                                        {{35, 47, 0},     // black around the first moment
                                         {78, 85, 255},   // white around the second
                                         {115, 150, 0}}); // black past the half step
    const std::vector<FrameLog::Frame> off = capture(movie, 4, false);
    ASSERT_EQ(off.size(), 4u);
    EXPECT_EQ(off[0].index, -1); // black: no code to read
    EXPECT_EQ(off[3].index, 160);

    const std::vector<FrameLog::Frame> on = capture(movie, 4, true);
    ASSERT_EQ(on.size(), 4u);
    const int expected[] = {48, 86, -1, 160};
    const double seconds[] = {48 / 25.0, 86 / 25.0, 120 / 25.0, 160 / 25.0};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(on[k].moment, k);
        EXPECT_EQ(on[k].index, expected[k]) << "cell " << k;
        // The stamp is the delivered frame's own time.
        EXPECT_NEAR(on[k].seconds, seconds[k], 1e-6) << "cell " << k;
    }
}

// Half a step of 100 frames: the stretch is sampled before it is searched
// frame by frame, and the answer is still the first picture after it.
TEST_F(AvoidBlank, ALongHalfStepFindsTheSameFirstPicture) {
    // 60 s at 10 a second, two cells: moments at frames 200 and 400.
    const std::string movie = makeMovie(600, 10, {{190, 259, 0}, {395, 404, 255}});
    const std::vector<FrameLog::Frame> on = capture(movie, 2, true);
    ASSERT_EQ(on.size(), 2u);
    EXPECT_EQ(on[0].index, 260);
    EXPECT_NEAR(on[0].seconds, 26.0, 1e-6);
    EXPECT_EQ(on[1].index, 405);
    EXPECT_NEAR(on[1].seconds, 40.5, 1e-6);
}

} // namespace
