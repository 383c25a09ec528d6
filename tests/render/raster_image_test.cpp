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

// Memory rows of an image painted in the given colour, as a bit set per pixel.
bool painted(const RasterImage& image, int x, int row) {
    return image.pixel(x, row) == 0x00112233;
}

} // namespace

TEST(RasterImage, StrideRoundsThreeBytesPerPixelUpToFour) {
    EXPECT_EQ(RasterImage::strideFor(0), 0);
    EXPECT_EQ(RasterImage::strideFor(1), 4);
    EXPECT_EQ(RasterImage::strideFor(4), 12);
    EXPECT_EQ(RasterImage::strideFor(5), 16);
    EXPECT_EQ(RasterImage::strideFor(156), 468);
    EXPECT_EQ(RasterImage::strideFor(640), 1920);
    EXPECT_EQ(RasterImage::strideFor(-1), 0);
    EXPECT_EQ(RasterImage::strideFor(INT_MAX), 0); // would not fit the 32-bit stride
}

TEST(RasterImage, CreateFillsTheHeaderAndZeroesThePixels) {
    struct Case {
        int width, height, stride;
        uint32_t size;
    };
    for (const Case& c :
         {Case{0, 0, 0, 0}, Case{1, 1, 4, 4}, Case{5, 2, 16, 32}, Case{156, 117, 468, 54756}}) {
        RasterImage image;
        ASSERT_TRUE(image.create(c.width, c.height));
        EXPECT_NE(image.pixels, nullptr);
        EXPECT_EQ(image.borrowed, 0);
        EXPECT_EQ(image.stride, c.stride);
        EXPECT_EQ(image.header.biSizeImage, c.size);
        EXPECT_EQ(image.header.biSize, 40u);
        EXPECT_EQ(image.header.biWidth, c.width);
        EXPECT_EQ(image.header.biHeight, c.height);
        EXPECT_EQ(image.header.biPlanes, 1);
        EXPECT_EQ(image.header.biBitCount, 24);
        EXPECT_EQ(image.header.biCompression, 0u);
        EXPECT_EQ(image.dpiX, 96);
        EXPECT_EQ(image.dpiY, 96);
        for (uint32_t i = 0; i < c.size; ++i)
            ASSERT_EQ(image.pixels[i], 0) << i;
    }
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
        EXPECT_EQ(image.pixels, nullptr);
        EXPECT_EQ(image.width(), 0);
        EXPECT_EQ(image.stride, 0);
        // Everything stays safe on the refused image.
        image.fill(1, 2, 3);
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
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.header.biSizeImage, 0u);
    EXPECT_TRUE(image.create(64, 64)); // and recovers once memory is there
}

TEST(RasterImage, FillRectIsShiftedAtTheTopLeftAndCutAtTheBottomRight) {
    RasterImage image;
    ASSERT_TRUE(image.create(100, 100));
    // Shifted, not cut: columns 0..9 of picture rows 0..9, memory rows 90..99.
    image.fillRect(-5, 0, 10, 10, 0x11, 0x22, 0x33);
    for (int row = 0; row < 100; ++row) {
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(painted(image, x, row), x <= 9 && row >= 90) << x << "," << row;
    }
    image.fill(0, 0, 0);
    // Cut: columns 95..99 of picture rows 95..99, memory rows 0..4.
    image.fillRect(95, 95, 10, 10, 0x11, 0x22, 0x33);
    for (int row = 0; row < 100; ++row) {
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(painted(image, x, row), x >= 95 && row <= 4) << x << "," << row;
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
        image.fillRect(x, y, w, h, 9, 9, 9);
    for (uint32_t i = 0; i < image.header.biSizeImage; ++i)
        ASSERT_EQ(image.pixels[i], 0);
    // Huge sizes are cut, not overflowed.
    image.fillRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0x11, 0x22, 0x33);
    EXPECT_TRUE(painted(image, 19, 0));
}

TEST(RasterImage, PixelsAreBlueGreenRedAndTheRowPaddingIsNotWritten) {
    RasterImage image;
    ASSERT_TRUE(image.create(5, 2));
    image.fill(238, 242, 247);
    for (int row = 0; row < 2; ++row) {
        const uint8_t* p = image.pixels + row * image.stride;
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(p[3 * x], 247);
            EXPECT_EQ(p[3 * x + 1], 242);
            EXPECT_EQ(p[3 * x + 2], 238);
            EXPECT_EQ(image.pixel(x, row), 0x00EEF2F7u);
        }
        EXPECT_EQ(p[15], 0) << "padding";
    }
}

TEST(RasterImage, ReleaseFreesOwnedPixelsOnceAndNeverBorrowedOnes) {
    RasterImage owned;
    ASSERT_TRUE(owned.create(8, 8));
    owned.release();
    EXPECT_EQ(owned.pixels, nullptr);
    owned.release(); // a second release does nothing (ASan would see a double free)

    uint8_t memory[2 * 12];
    std::memset(memory, 0x5a, sizeof memory);
    RasterImage view;
    view.attach(4, 2, memory);
    EXPECT_EQ(view.borrowed, 1);
    EXPECT_EQ(view.stride, 12);
    EXPECT_EQ(view.pixel(3, 1), 0x005A5A5Au);
    view.release();
    view.release();
    EXPECT_EQ(view.pixels, memory);
    for (uint8_t b : memory)
        EXPECT_EQ(b, 0x5a);
}

TEST(RasterImage, AttachingAnImpossibleSizeGivesAViewWithoutPixels) {
    uint8_t memory[16] = {};
    RasterImage view;
    view.attach(INT_MAX, INT_MAX, memory);
    EXPECT_EQ(view.pixels, nullptr);
    RasterImage sheet;
    ASSERT_TRUE(sheet.create(10, 10));
    EXPECT_FALSE(sheet.drawScaled(0, 0, 10, 10, view));
}

TEST(RasterImage, MovingHandsOverThePixels) {
    RasterImage a;
    ASSERT_TRUE(a.create(3, 3));
    uint8_t* block = a.pixels;
    RasterImage b(std::move(a));
    EXPECT_EQ(b.pixels, block);
    EXPECT_EQ(a.pixels, nullptr);
    EXPECT_EQ(a.width(), 0);
    RasterImage c;
    ASSERT_TRUE(c.create(1, 1));
    c = std::move(b); // frees c's own block first (ASan checks the leak)
    EXPECT_EQ(c.pixels, block);
    EXPECT_EQ(c.width(), 3);
}
