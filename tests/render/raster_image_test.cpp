#include <array>
#include <climits>
#include <cstring>

#include <gtest/gtest.h>

#include "render/pixel_block.h"
#include "render/raster_image.h"
#include "test_support.h"

namespace {

// Makes every pixel block allocation fail while it exists.
class FailingAllocation {
public:
    FailingAllocation() {
        pixel_block::allocatorOverride() = [](size_t) -> void* { return nullptr; };
    }
    ~FailingAllocation() { pixel_block::allocatorOverride() = nullptr; }
};

constexpr Rgb kPaint{0x11, 0x22, 0x33};

bool painted(const RasterImage& image, int x, int y) {
    return image.pixel(x, y) == kPaint;
}

size_t byteCount(const RasterImage& image) {
    return static_cast<size_t>(image.stride()) * static_cast<size_t>(image.height());
}

} // namespace

TEST(RasterImage, RowsAreThreeBytesAPixelWithoutPadding) {
    EXPECT_EQ(RasterImage::strideFor(0), 0);
    EXPECT_EQ(RasterImage::strideFor(1), 3);
    EXPECT_EQ(RasterImage::strideFor(5), 15);
    EXPECT_EQ(RasterImage::strideFor(156), 468);
    EXPECT_EQ(RasterImage::strideFor(-1), 0);
    EXPECT_EQ(RasterImage::strideFor(INT_MAX), 0); // beyond the pixel limit
}

TEST(RasterImage, CreateGivesTheSizeAndZeroesThePixels) {
    for (auto [w, h] : {std::pair{0, 0}, {1, 1}, {5, 2}, {156, 117}}) {
        RasterImage image;
        ASSERT_TRUE(image.create(w, h));
        EXPECT_TRUE(image.hasPixels());
        EXPECT_FALSE(image.borrowed());
        EXPECT_EQ(image.width(), w);
        EXPECT_EQ(image.height(), h);
        EXPECT_EQ(image.stride(), 3 * w);
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < 3 * w; ++i)
                ASSERT_EQ(image.row(y)[i], 0) << i << "," << y;
    }
}

TEST(RasterImage, CreateCopyTakesTheRowsAsTheyAre) {
    const uint8_t rows[2 * 6] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    RasterImage image;
    ASSERT_TRUE(image.createCopy(2, 2, rows));
    EXPECT_EQ(image.pixel(0, 0), (Rgb{1, 2, 3}));
    EXPECT_EQ(image.pixel(1, 0), (Rgb{4, 5, 6}));
    EXPECT_EQ(image.pixel(0, 1), (Rgb{7, 8, 9}));
    EXPECT_EQ(image.pixel(1, 1), (Rgb{10, 11, 12}));
    EXPECT_FALSE(image.borrowed());
}

TEST(RasterImage, AbsurdSizesAreRefusedWithoutPixels) {
    for (auto [w, h] : {std::pair{-1, 5},
                        {5, -1},
                        {INT_MIN, INT_MIN},
                        {100000, 100000},
                        {INT_MAX, 0},
                        {0, INT_MAX},
                        {INT_MAX, INT_MAX}}) {
        RasterImage image;
        EXPECT_EQ(image.create(w, h), w == 0) << w << " x " << h;
        if (w == 0)
            continue; // 0 x n has no pixel bytes and is a valid, empty image
        EXPECT_FALSE(image.hasPixels());
        EXPECT_EQ(image.width(), 0);
        EXPECT_EQ(image.stride(), 0);
        // Everything stays safe on the refused image.
        image.fill(Rgb{1, 2, 3});
        image.boxBlur(3);
        EXPECT_FALSE(image.drawScaled(0, 0, 10, 10, image));
    }
}

TEST(RasterImage, FailedAllocationLeavesNoPixels) {
    RasterImage image;
    {
        FailingAllocation failing;
        EXPECT_FALSE(image.create(64, 64));
    }
    EXPECT_FALSE(image.hasPixels());
    EXPECT_EQ(image.width(), 0);
    EXPECT_EQ(image.height(), 0);
    EXPECT_TRUE(image.create(64, 64)); // and recovers once memory is there
}

TEST(RasterImage, FillRectIsShiftedAtTheTopLeftAndCutAtTheBottomRight) {
    RasterImage image;
    ASSERT_TRUE(image.create(100, 100));
    // Shifted, not cut: columns 0..9 of rows 0..9.
    image.fillRect(-5, 0, 10, 10, kPaint);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(painted(image, x, y), x <= 9 && y <= 9) << x << "," << y;
    }
    image.fill(Rgb{0, 0, 0});
    // Cut: columns 95..99 of rows 95..99.
    image.fillRect(95, 95, 10, 10, kPaint);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(painted(image, x, y), x >= 95 && y >= 95) << x << "," << y;
    }
}

TEST(RasterImage, FillRectPaintsNothingForEmptyOrOutsideRectangles) {
    RasterImage image;
    ASSERT_TRUE(image.create(20, 10));
    for (auto [x, y, w, h] : {std::array{0, 0, 0, 5},
                              {0, 0, 5, 0},
                              {0, 0, -3, 5},
                              {20, 0, 5, 5},
                              {0, 10, 5, 5},
                              {INT_MAX, 0, INT_MAX, 1},
                              {0, 0, INT_MIN, INT_MIN}})
        image.fillRect(x, y, w, h, Rgb{9, 9, 9});
    for (size_t i = 0; i < byteCount(image); ++i)
        ASSERT_EQ(image.row(0)[i], 0);
    // Huge sizes are cut, not overflowed.
    image.fillRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX, kPaint);
    EXPECT_TRUE(painted(image, 19, 9));
}

TEST(RasterImage, PixelsAreRedGreenBlueInRowsFromTheTop) {
    RasterImage image;
    ASSERT_TRUE(image.create(5, 3));
    image.fill(Rgb{238, 242, 247});
    image.fillRect(1, 0, 1, 1, Rgb{1, 2, 3});
    const uint8_t* top = image.row(0);
    EXPECT_EQ(top[0], 238);
    EXPECT_EQ(top[1], 242);
    EXPECT_EQ(top[2], 247);
    EXPECT_EQ(top[3], 1);
    EXPECT_EQ(top[4], 2);
    EXPECT_EQ(top[5], 3);
    EXPECT_EQ(image.row(1), top + 15);
    EXPECT_EQ(image.pixel(1, 0), (Rgb{1, 2, 3}));
    EXPECT_EQ(image.pixel(1, 2), (Rgb{238, 242, 247}));
}

TEST(RasterImage, ReleaseFreesOwnedPixelsOnceAndNeverBorrowedOnes) {
    RasterImage owned;
    ASSERT_TRUE(owned.create(8, 8));
    owned.release();
    EXPECT_FALSE(owned.hasPixels());
    owned.release(); // a second release does nothing (ASan would see a double free)

    uint8_t memory[2 * 12];
    std::memset(memory, 0x5a, sizeof memory);
    memory[2 * 12 - 1] = 0x07;
    RasterImage view;
    view.attach(4, 2, memory);
    EXPECT_TRUE(view.borrowed());
    EXPECT_EQ(view.stride(), 12);
    EXPECT_EQ(view.pixel(3, 1), (Rgb{0x5a, 0x5a, 0x07}));
    view.release();
    view.release();
    EXPECT_EQ(view.row(0), memory);
    for (size_t i = 0; i + 1 < sizeof memory; ++i)
        EXPECT_EQ(memory[i], 0x5a);
}

TEST(RasterImage, AttachingAnImpossibleSizeGivesAViewWithoutPixels) {
    uint8_t memory[16] = {};
    RasterImage view;
    view.attach(INT_MAX, INT_MAX, memory);
    EXPECT_FALSE(view.hasPixels());
    RasterImage sheet;
    ASSERT_TRUE(sheet.create(10, 10));
    EXPECT_FALSE(sheet.drawScaled(0, 0, 10, 10, view));
}

TEST(RasterImage, MovingHandsOverThePixels) {
    RasterImage a;
    ASSERT_TRUE(a.create(3, 3));
    const uint8_t* block = a.row(0);
    RasterImage b(std::move(a));
    EXPECT_EQ(b.row(0), block);
    EXPECT_FALSE(a.hasPixels());
    EXPECT_EQ(a.width(), 0);
    RasterImage c;
    ASSERT_TRUE(c.create(1, 1));
    c = std::move(b); // frees c's own block first (ASan checks the leak)
    EXPECT_EQ(c.row(0), block);
    EXPECT_EQ(c.width(), 3);
    EXPECT_EQ(c.stride(), 9);
}
