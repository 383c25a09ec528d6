// Frame choice beyond the exact frame: how blank a frame is, and how many
// rows an interval asks for.

#include <gtest/gtest.h>

#include <random>

#include "capture/blank_frame.h"
#include "capture/frame_choice.h"

namespace {

// A grey picture with a rectangle of another grey, painted in picture rows.
RasterImage picture(int w, int h, uint8_t ground) {
    RasterImage image;
    EXPECT_TRUE(image.create(w, h));
    image.fill(Rgb{ground, ground, ground});
    return image;
}

TEST(BlankFrames, UniformPicturesAndTheirNoiseAreBlank) {
    for (uint8_t level : {0, 16, 128, 235, 255}) {
        RasterImage flat = picture(320, 180, level);
        EXPECT_EQ(luminanceSpread(flat), 0) << int(level);
        EXPECT_TRUE(isNearlyUniform(flat));
    }
    // Grain of ±8 levels on black is still black.
    RasterImage grainy = picture(320, 180, 0);
    std::mt19937 random(7);
    for (int y = 0; y < grainy.height(); ++y)
        for (int x = 0; x < grainy.width(); ++x) {
            const auto v = static_cast<uint8_t>(16 + static_cast<int>(random() % 17) - 8);
            grainy.fillRect(x, y, 1, 1, Rgb{v, v, v});
        }
    EXPECT_TRUE(isNearlyUniform(grainy)) << luminanceSpread(grainy);
}

TEST(BlankFrames, ALogoIsNoContentButALineOfTitlesIs) {
    // 1 % of the picture: a channel logo on black.
    RasterImage logo = picture(400, 200, 0);
    logo.fillRect(360, 10, 20, 40, Rgb{255, 255, 255});
    EXPECT_TRUE(isNearlyUniform(logo));
    // 5 %: a line of white titles on black.
    RasterImage titles = picture(400, 200, 0);
    titles.fillRect(100, 150, 200, 20, Rgb{255, 255, 255});
    EXPECT_FALSE(isNearlyUniform(titles));
}

TEST(BlankFrames, TheThresholdLiesBetweenTheBottomOfAFadeAndADimPicture) {
    // Half the picture one level, half another: the spread is their distance
    // in luminance, and the limit itself still counts as uniform.
    for (int step : {kUniformSpread - 1, kUniformSpread, kUniformSpread + 1, 60}) {
        RasterImage halves = picture(200, 100, 40);
        const auto top = static_cast<uint8_t>(40 + step);
        halves.fillRect(0, 0, 200, 50, Rgb{top, top, top});
        EXPECT_EQ(luminanceSpread(halves), step);
        EXPECT_EQ(isNearlyUniform(halves), step <= kUniformSpread) << step;
    }
    // A full-range gradient dimmed to 8 % is the bottom of a fade; at 15 % it
    // is a dark picture.
    for (double dim : {0.08, 0.15}) {
        RasterImage gradient = picture(256, 64, 0);
        for (int x = 0; x < 256; ++x) {
            const auto v = static_cast<uint8_t>(x * dim);
            gradient.fillRect(x, 0, 1, 64, Rgb{v, v, v});
        }
        EXPECT_EQ(isNearlyUniform(gradient), dim < 0.1) << dim;
    }
    // Colour counts by its luminance: pure red and pure blue halves differ.
    RasterImage colours = picture(100, 100, 0);
    colours.fillRect(0, 0, 100, 50, Rgb{255, 0, 0});
    colours.fillRect(0, 50, 100, 50, Rgb{0, 0, 255});
    EXPECT_EQ(luminanceSpread(colours), 77 - 29);
}

TEST(BlankFrames, LargeFramesAreSampledAndEmptyOnesHaveNoSpread) {
    RasterImage big = picture(3840, 2160, 10);
    big.fillRect(0, 0, 3840, 1080, Rgb{200, 200, 200});
    EXPECT_EQ(luminanceSpread(big), 190);
    RasterImage none;
    EXPECT_EQ(luminanceSpread(none), 0);
}

TEST(FrameChoice, AnIntervalPicksTheRowsThatComeClosest) {
    const int64_t minute = 600'000'000;
    FrameChoice all;
    // 2 h, a frame a minute, 6 across: 119 cells between the ends → 20 rows.
    EXPECT_EQ(rowsForInterval(120 * minute, 6, all, TimeSpan{60, false}), 20);
    // 30 s every 5 s, 5 across: one row, exactly 5 s apart.
    EXPECT_EQ(rowsForInterval(300'000'000, 5, all, TimeSpan{5, false}), 1);
    EXPECT_EQ(momentStep(300'000'000, 5, all), 50'000'000);
    // Longer than the movie, or no columns: still one row.
    EXPECT_EQ(rowsForInterval(300'000'000, 5, all, TimeSpan{90, false}), 1);
    EXPECT_EQ(rowsForInterval(300'000'000, 0, all, TimeSpan{5, false}), 1);
    // A share of the movie: 2 % is 49 cells → 10 rows of 5.
    EXPECT_EQ(rowsForInterval(120 * minute, 5, all, TimeSpan{2, true}), 10);
    // Skips shorten the part the interval is spread over.
    FrameChoice trimmed;
    trimmed.skipStart = TimeSpan{10, true};
    trimmed.skipEnd = TimeSpan{10, true};
    EXPECT_EQ(rowsForInterval(100 * minute, 4, trimmed, TimeSpan{60, false}), 20);
    EXPECT_EQ(momentStep(100 * minute, 80, trimmed), 80 * minute / 81);
    // Nothing left of the movie: no step.
    trimmed.skipStart = TimeSpan{60, true};
    trimmed.skipEnd = TimeSpan{60, true};
    EXPECT_EQ(momentStep(100 * minute, 80, trimmed), 0);
}

} // namespace
