#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "reference_resampler.h"
#include "render/pixel_block.h"
#include "render/raster_image.h"
#include "render/resample.h"
#include "test_support.h"

namespace {

constexpr Rgb kBlack{0, 0, 0};

Rgb rgb(uint8_t r, uint8_t g, uint8_t b) {
    return Rgb{r, g, b};
}

int channelDistance(Rgb a, Rgb b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

RasterImage uniformImage(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    RasterImage image;
    EXPECT_TRUE(image.create(width, height));
    image.fill(Rgb{r, g, b});
    return image;
}

// The reference's result of drawing `source` into a w x h canvas.
RasterImage drawnBySample(const RasterImage& source, unsigned w, unsigned h) {
    RasterImage out;
    EXPECT_TRUE(out.create(int(w), int(h)));
    EXPECT_TRUE(reference::drawScaled(out, 0, 0, w, h, source));
    return out;
}

RasterImage drawnFast(const RasterImage& source, unsigned w, unsigned h) {
    RasterImage out;
    EXPECT_TRUE(out.create(int(w), int(h)));
    EXPECT_TRUE(out.drawScaled(0, 0, w, h, source));
    return out;
}

// Box blur by its definition: the window sum over clamped coordinates.
RasterImage blurredByDefinition(const RasterImage& image, int r) {
    RasterImage out;
    EXPECT_TRUE(out.create(image.width(), image.height()));
    const int d = (2 * r + 1) * (2 * r + 1);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                int sum = 0;
                for (int dy = -r; dy <= r; ++dy) {
                    for (int dx = -r; dx <= r; ++dx) {
                        const int yy = std::clamp(y + dy, 0, image.height() - 1);
                        const int xx = std::clamp(x + dx, 0, image.width() - 1);
                        sum += image.row(yy)[3 * xx + ch];
                    }
                }
                out.row(y)[3 * x + ch] = uint8_t(sum / d);
            }
        }
    }
    return out;
}

} // namespace

// ---- Kernel -------------------------------------------------------------------

TEST(Lanczos, WeightsMatchTheKernel) {
    EXPECT_EQ(resample::lanczosWeight(0.0f, 6.0f), 1.0f);
    EXPECT_NEAR(resample::lanczosWeight(0.5f, 6.0f), 0.629372f, 1e-6);
    EXPECT_NEAR(resample::lanczosWeight(1.5f, 6.0f), -0.191053f, 1e-6);
    EXPECT_NEAR(resample::lanczosWeight(5.5f, 6.0f), -0.005201f, 1e-6);
    EXPECT_EQ(resample::lanczosWeight(6.5f, 6.0f), 0.0f);
    EXPECT_EQ(resample::lanczosWeight(-6.5f, 6.0f), 0.0f);
    for (float x : {0.25f, 1.0f, 2.7f, 4.5f, 5.99f})
        EXPECT_EQ(resample::lanczosWeight(-x, 6.0f), resample::lanczosWeight(x, 6.0f)) << x;
    // With the single-precision pi the zeros at integers are only nearly zero.
    EXPECT_LT(std::fabs(resample::lanczosWeight(1.0f, 6.0f)), 1e-6f);
}

// ---- Samplers -------------------------------------------------------------------

TEST(Samplers, WorkedExampleFootprintsOf640x480Into156x117) {
    const float scale = 640.0f / 156.0f;
    EXPECT_FLOAT_EQ(scale, 4.1025643f);
    EXPECT_FLOAT_EQ(resample::sourcePosition(0, scale), 1.5512822f);

    // Column 0 covers columns 0..3 fully and 0.1025643 of column 4: with
    // only column 4 white, the average is 255 * 0.1025643 / 4.1025643 = 6.375.
    RasterImage source = uniformImage(640, 480, 0, 0, 0);
    source.fillRect(4, 0, 1, 480, rgb(0, 255, 0));
    const Rgb first = reference::sampleArea(source, resample::sourcePosition(0, scale),
                                            resample::sourcePosition(50, scale), scale, scale);
    EXPECT_EQ(first, rgb(0, 6, 0));

    // Column 155 ends exactly at the source edge: cell 640 lies outside (it
    // would read white) but weighs 0, so a black source stays black.
    const Rgb last = reference::sampleArea(source, resample::sourcePosition(155, scale),
                                           resample::sourcePosition(50, scale), scale, scale);
    EXPECT_EQ(last, kBlack);

    // The fast path agrees on both (row 50 from the bottom is row 66).
    RasterImage fast = drawnFast(source, 156, 117);
    EXPECT_EQ(fast.pixel(0, 66), first);
    EXPECT_EQ(fast.pixel(155, 66), kBlack);
}

// ---- drawScaled ----------------------------------------------------------------

TEST(DrawScaled, FastPathEqualsThePerSampleAlgorithmOnRandomPictures) {
    struct Case {
        int sw, sh;
        unsigned w, h;
    };
    const Case cases[] = {
        {640, 480, 156, 117}, // area
        {1920, 1080, 156, 88}, {7, 5, 3, 2},
        {300, 3, 7, 2},        {100, 75, 156, 117}, // Lanczos, enlarged
        {64, 48, 64, 48},                           // Lanczos, same size
        {1, 1, 9, 4},          {5, 30, 5, 200},
        {320, 100, 156, 117},                  // mixed: reduced across, enlarged down
        {100, 320, 117, 156},                  // mixed the other way round
        {37, 23, 5, 200},      {33, 2, 13, 2}, // mixed with scale exactly 1 down
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.w << "x" << c.h);
        const RasterImage source = randomImage(c.sw, c.sh, seed++);
        const RasterImage expected = drawnBySample(source, c.w, c.h);
        const RasterImage fast = drawnFast(source, c.w, c.h);
        EXPECT_LE(maxChannelDifference(fast, expected), 1);
    }
}

TEST(DrawScaled, ClippedRectanglesMatchTheSameDrawingUnclipped) {
    const RasterImage source = randomImage(90, 60, 7);
    // On a large canvas the whole 70 x 50 rectangle fits at (30, 20); on a
    // small one, placed so it reaches past an edge, only a part is drawn.
    for (auto [path, w, h] :
         {std::tuple{"area", 70u, 50u}, {"lanczos", 120u, 80u}, {"mixed", 70u, 80u}}) {
        SCOPED_TRACE(path);
        RasterImage whole;
        ASSERT_TRUE(whole.create(200, 200));
        ASSERT_TRUE(whole.drawScaled(30, 20, w, h, source));
        for (auto [x, y] : {std::pair{-20, -10}, {15, 12}, {-40, 25}, {25, -30}}) {
            RasterImage part = uniformImage(40, 30, 1, 2, 3);
            ASSERT_TRUE(part.drawScaled(x, y, w, h, source));
            for (int py = 0; py < 30; ++py) {
                for (int px = 0; px < 40; ++px) {
                    const bool inside = px >= x && px < x + int(w) && py >= y && py < y + int(h);
                    const Rgb expected =
                        inside ? whole.pixel(30 + px - x, 20 + py - y) : rgb(1, 2, 3);
                    ASSERT_EQ(part.pixel(px, py), expected) << px << "," << py;
                }
            }
        }
    }
}

TEST(DrawScaled, SameSizeDrawReproducesTheSourceExactly) {
    const RasterImage source = randomImage(64, 48, 3);
    EXPECT_EQ(maxChannelDifference(drawnFast(source, 64, 48), source), 0);
    EXPECT_EQ(maxChannelDifference(drawnBySample(source, 64, 48), source), 0);
}

TEST(DrawScaled, UniformColourComesThroughEveryPath) {
    const RasterImage flat = uniformImage(640, 480, 37, 150, 201);
    const RasterImage small = uniformImage(100, 75, 37, 150, 201);
    const RasterImage wide = uniformImage(320, 100, 37, 150, 201);
    const RasterImage target = uniformImage(156, 117, 37, 150, 201);
    // Lanczos (enlarged, edges included) is exact; the area average may lose
    // one unit to truncation.
    EXPECT_EQ(maxChannelDifference(drawnFast(small, 156, 117), target), 0);
    EXPECT_LE(maxChannelDifference(drawnFast(flat, 156, 117), target), 1);
    EXPECT_LE(maxChannelDifference(drawnFast(wide, 156, 117), target), 1);
}

TEST(DrawScaled, BottomRowsStayAtTheBottom) {
    // Blue below, red above.
    for (auto [sw, sh] : {std::pair{640, 480}, {100, 75}, {320, 100}}) {
        RasterImage source = uniformImage(sw, sh, 255, 0, 0);
        source.fillRect(0, sh / 2, sw, sh - sh / 2, rgb(0, 0, 255));
        RasterImage sheet = uniformImage(200, 160, 0, 0, 0);
        // Row 10 is the top of the rectangle, row 126 its bottom.
        ASSERT_TRUE(sheet.drawScaled(20, 10, 156, 117, source));
        // (within the unit the area average may lose to truncation)
        EXPECT_LE(channelDistance(sheet.pixel(100, 126 - 5), rgb(0, 0, 255)), 1) << sw;
        EXPECT_LE(channelDistance(sheet.pixel(100, 10 + 4), rgb(255, 0, 0)), 1) << sw;
        EXPECT_EQ(sheet.pixel(100, 8), kBlack) << "above the rectangle";
        EXPECT_EQ(sheet.pixel(100, 127), kBlack) << "below the rectangle";
    }
}

TEST(DrawScaled, MixedPathAveragesAcrossWhatItReduces) {
    // One-pixel black and white columns, reduced 2.05 times across and
    // enlarged down: averaging by area gives grey near the middle (the inner
    // Lanczos samples beat a little), where sampling at single points would
    // land anywhere between black and white.
    RasterImage source;
    ASSERT_TRUE(source.create(320, 100));
    for (int x = 1; x < 320; x += 2)
        source.fillRect(x, 0, 1, 100, rgb(255, 255, 255));
    const RasterImage out = drawnFast(source, 156, 117);
    for (int x = 10; x < 146; ++x) {
        const int grey = out.pixel(x, 58).b;
        EXPECT_NEAR(grey, 127, 20) << x;
    }
}

TEST(DrawScaled, RefusesEmptyRectanglesAndEmptyPictures) {
    const RasterImage source = randomImage(30, 20, 5);
    RasterImage sheet = uniformImage(50, 50, 9, 9, 9);
    const std::vector<uint8_t> before(sheet.row(0), sheet.row(0) + sheet.stride() * 50);
    const auto unchanged = [&] {
        return std::memcmp(before.data(), sheet.row(0), before.size()) == 0;
    };
    EXPECT_FALSE(sheet.drawScaled(0, 0, 0, 10, source));
    EXPECT_FALSE(sheet.drawScaled(0, 0, 10, 0, source));
    RasterImage none;
    EXPECT_FALSE(none.drawScaled(0, 0, 10, 10, source));
    EXPECT_FALSE(sheet.drawScaled(0, 0, 10, 10, none));
    RasterImage zero;
    ASSERT_TRUE(zero.create(0, 0));
    EXPECT_FALSE(sheet.drawScaled(0, 0, 10, 10, zero));
    RasterImage thin;
    ASSERT_TRUE(thin.create(0, 40));
    EXPECT_FALSE(sheet.drawScaled(0, 0, 10, 10, thin));
    EXPECT_TRUE(unchanged());
    // Wholly outside: nothing to do, nothing wrong.
    EXPECT_TRUE(sheet.drawScaled(50, 0, 10, 10, source));
    EXPECT_TRUE(sheet.drawScaled(-10, 0, 10, 10, source));
    EXPECT_TRUE(sheet.drawScaled(INT_MIN, INT_MIN, 10, 10, source));
    EXPECT_TRUE(unchanged());
    // An enormous rectangle only costs what is visible.
    EXPECT_TRUE(sheet.drawScaled(0, 0, UINT_MAX, UINT_MAX, source));
    EXPECT_TRUE(sheet.drawScaled(INT_MIN, INT_MIN, UINT_MAX, UINT_MAX, source));
}

// ---- boxBlur -----------------------------------------------------------------------

TEST(BoxBlur, SingleWhitePixelBecomesASquareOfFives) {
    RasterImage image = uniformImage(21, 17, 0, 0, 0);
    image.fillRect(10, 7, 1, 1, rgb(255, 255, 255));
    image.boxBlur(3);
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 21; ++x) {
            const bool near = std::abs(x - 10) <= 3 && std::abs(y - 7) <= 3;
            ASSERT_EQ(image.pixel(x, y), near ? rgb(5, 5, 5) : kBlack) << x << "," << y;
        }
    }
}

TEST(BoxBlur, RunningSumEqualsTheWindowSum) {
    for (auto [w, h, r] : {std::tuple{37, 29, 3}, {5, 40, 10}, {3, 2, 10}, {1, 7, 2}, {64, 1, 4}}) {
        RasterImage image = randomImage(w, h, uint32_t(w * 100 + h));
        const RasterImage expected = blurredByDefinition(image, r);
        image.boxBlur(int16_t(r));
        EXPECT_EQ(maxChannelDifference(image, expected), 0) << w << "x" << h << " r" << r;
    }
}

TEST(BoxBlur, AStopLeavesThePictureAsItWasAndAnUnsetFlagChangesNothing) {
    const RasterImage original = randomImage(40, 30, 5);
    std::atomic<bool> stop{true};
    RasterImage stopped = randomImage(40, 30, 5);
    stopped.boxBlur(3, &stop);
    EXPECT_EQ(maxChannelDifference(stopped, original), 0);
    stop = false;
    RasterImage blurred = randomImage(40, 30, 5);
    blurred.boxBlur(3, &stop);
    EXPECT_EQ(maxChannelDifference(blurred, blurredByDefinition(original, 3)), 0);
}

TEST(BoxBlur, RadiusLimitsAndFlatPictures) {
    const RasterImage original = randomImage(30, 25, 11);
    RasterImage a = randomImage(30, 25, 11);
    RasterImage b = randomImage(30, 25, 11);
    a.boxBlur(25);
    b.boxBlur(10);
    EXPECT_EQ(maxChannelDifference(a, b), 0);
    for (int16_t radius : {int16_t{0}, int16_t{-1}, int16_t{INT16_MIN}}) {
        RasterImage c = randomImage(30, 25, 11);
        c.boxBlur(radius);
        EXPECT_EQ(maxChannelDifference(c, original), 0);
    }
    RasterImage flat = uniformImage(30, 25, 238, 242, 247);
    flat.boxBlur(7);
    EXPECT_EQ(maxChannelDifference(flat, uniformImage(30, 25, 238, 242, 247)), 0);
    RasterImage single = uniformImage(1, 1, 1, 2, 3);
    single.boxBlur(3);
    EXPECT_EQ(single.pixel(0, 0), rgb(1, 2, 3));
}

TEST(BoxBlur, FailedAllocationLeavesThePictureUnchanged) {
    RasterImage image = randomImage(40, 30, 13);
    const RasterImage original = randomImage(40, 30, 13);
    const uint8_t* block = image.row(0);
    pixel_block::allocatorOverride() = [](size_t) -> void* { return nullptr; };
    image.boxBlur(3);
    pixel_block::allocatorOverride() = nullptr;
    EXPECT_EQ(image.row(0), block);
    EXPECT_EQ(maxChannelDifference(image, original), 0);
}

TEST(BoxBlur, BorrowedPixelsAreBlurredInPlaceAndNothingBeyondThemIsWritten) {
    const RasterImage original = randomImage(5, 9, 17);
    const size_t bytes = size_t(original.stride()) * 9;
    std::vector<uint8_t> memory(original.row(0), original.row(0) + bytes);
    memory.resize(bytes + 16, 0xAB); // the owner's bytes after the picture
    RasterImage view;
    view.attach(5, 9, memory.data());
    view.boxBlur(2);
    EXPECT_EQ(view.row(0), memory.data());
    EXPECT_EQ(maxChannelDifference(view, blurredByDefinition(original, 2)), 0);
    for (size_t i = bytes; i < memory.size(); ++i)
        EXPECT_EQ(memory[i], 0xAB) << i;
}

// ---- Pictures to look at ---------------------------------------------------------------

TEST(Pictures, ScaledTestCardsAndASoftShadow) {
    const RasterImage card = testCard(1920, 1080);
    keepForInspection(card, "card_1920x1080");
    keepForInspection(drawnFast(card, 156, 88), "card_area_156x88");
    const RasterImage smallCard = testCard(100, 75);
    keepForInspection(drawnFast(smallCard, 312, 234), "card_lanczos_100x75_to_312x234");
    const RasterImage wideCard = testCard(320, 100);
    const RasterImage mixed = drawnFast(wideCard, 156, 117);
    keepForInspection(mixed, "card_mixed_320x100_to_156x117");
    // The red corner stays top-left and the blue one bottom-left.
    const RasterImage area = drawnFast(card, 156, 88);
    EXPECT_GT(area.pixel(0, 0).r, 240);
    EXPECT_LT(area.pixel(0, 0).b, 15);
    EXPECT_GT(area.pixel(0, 87).b, 240);
    EXPECT_LT(area.pixel(0, 87).r, 15);

    // A sheet with blurred shadows behind two frames.
    RasterImage sheet = uniformImage(360, 160, 238, 242, 247);
    sheet.fillRect(24, 24, 156, 117, rgb(120, 120, 120));
    sheet.fillRect(204, 24, 156 - 20, 117, rgb(120, 120, 120));
    sheet.boxBlur(3);
    ASSERT_TRUE(sheet.drawScaled(20, 20, 156, 117, card));
    ASSERT_TRUE(sheet.drawScaled(200, 20, 136, 117, smallCard));
    keepForInspection(sheet, "sheet_with_shadows");
    // The shadow fades out over the blur radius below the frame.
    const int y = 24 + 117 + 1;
    EXPECT_LT(sheet.pixel(100, y).b, sheet.pixel(100, y + 3).b);
}
