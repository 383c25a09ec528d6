// The reference's own rules at the edges and for nonsense arguments; the
// comparisons with the fast path are in scale_test.cpp.

#include "reference_resampler.h"

#include <climits>
#include <cmath>

#include <gtest/gtest.h>

#include "tests/support/rgb_print.h"

namespace {

constexpr Rgb kWhite{255, 255, 255};

Rgb rgb(uint8_t r, uint8_t g, uint8_t b) {
    return Rgb{r, g, b};
}

RasterImage uniformImage(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    RasterImage image;
    EXPECT_TRUE(image.create(width, height));
    image.fill(Rgb{r, g, b});
    return image;
}

} // namespace

TEST(ReferenceRectF, IntersectKeepsTouchingRectanglesAndEmptiesDisjointOnes) {
    using reference::RectF;
    const RectF a{0, 0, 2, 2};
    const RectF overlap = a.intersect(RectF{1, -1, 3, 1.5f});
    EXPECT_EQ(overlap.left, 1);
    EXPECT_EQ(overlap.top, 0);
    EXPECT_EQ(overlap.right, 2);
    EXPECT_EQ(overlap.bottom, 1.5f);

    const RectF touching = a.intersect(RectF{2, 0.5f, 4, 1});
    EXPECT_EQ(touching.left, 2);
    EXPECT_EQ(touching.right, 2); // zero width, but not the empty rectangle
    EXPECT_EQ(touching.top, 0.5f);
    EXPECT_EQ(touching.bottom, 1);

    const RectF disjoint = a.intersect(RectF{3, 0, 4, 1});
    EXPECT_EQ(disjoint.left, 0);
    EXPECT_EQ(disjoint.top, 0);
    EXPECT_EQ(disjoint.right, 0);
    EXPECT_EQ(disjoint.bottom, 0);
}

TEST(ReferenceSamplers, PixelOrWhiteReadsWhiteOutsideAndWithoutPixels) {
    RasterImage image = uniformImage(4, 3, 1, 2, 3);
    image.fillRect(0, 2, 4, 1, rgb(9, 8, 7)); // the bottom row
    EXPECT_EQ(reference::pixelOrWhite(image, 3, 2), rgb(1, 2, 3));
    EXPECT_EQ(reference::pixelOrWhite(image, 3, 0), rgb(9, 8, 7)); // rows count from the bottom
    for (auto [x, row] : {std::pair{-1, 0}, {4, 0}, {0, -1}, {0, 3}, {INT_MIN, INT_MAX}})
        EXPECT_EQ(reference::pixelOrWhite(image, x, row), kWhite);
    RasterImage none;
    EXPECT_EQ(reference::pixelOrWhite(none, 0, 0), kWhite);
}

TEST(ReferenceSamplers, LanczosWindowOutsideIsWhiteAndAcrossTheEdgeRepeatsTheEdge) {
    const RasterImage source = uniformImage(20, 10, 10, 100, 200);
    EXPECT_EQ(reference::sampleLanczos(source, -7.0f, 5.0f), kWhite);
    EXPECT_EQ(reference::sampleLanczos(source, 26.0f, 5.0f), kWhite);
    EXPECT_EQ(reference::sampleLanczos(source, 5.0f, -6.5f), kWhite);
    EXPECT_EQ(reference::sampleLanczos(source, NAN, 5.0f), kWhite);
    // Straddling windows neither darken nor lighten a flat picture.
    for (float x : {-6.0f, -2.5f, 0.0f, 0.3f, 19.0f, 24.9f})
        EXPECT_EQ(reference::sampleLanczos(source, x, 0.4f), rgb(10, 100, 200)) << x;
    RasterImage none;
    EXPECT_EQ(reference::sampleLanczos(none, 0, 0), kWhite);
    EXPECT_EQ(reference::sampleArea(none, 0, 0, 3, 3), kWhite);
}

TEST(ReferenceSamplers, AreaFootprintOutsideMixesInWhiteByItsArea) {
    const RasterImage source = uniformImage(40, 40, 0, 0, 0);
    // A 4 x 4 footprint from -2.5 to 1.5 in x, inside in y: 2 of its 4
    // columns lie outside, so half of it is white.
    EXPECT_EQ(reference::sampleArea(source, -0.5f, 20.0f, 4.0f, 4.0f), rgb(127, 127, 127));
    // Nonsense arguments give a colour, not a crash.
    EXPECT_EQ(reference::sampleArea(source, NAN, 0, 4, 4), kWhite);
    EXPECT_EQ(reference::sampleArea(source, 0, 0, INFINITY, 4), kWhite);
    EXPECT_EQ(reference::sampleArea(source, 1e30f, 0, 4, 4), kWhite);
}
