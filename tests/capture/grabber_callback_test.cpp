#include "capture/grabber_callback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// A flat frame in the grabber's layout: bottom-up rows padded to 4 bytes.
std::vector<uint8_t> flatFrame(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    const int stride = RasterImage::strideFor(w);
    std::vector<uint8_t> f(static_cast<size_t>(stride) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &f[static_cast<size_t>(y) * stride + 3 * x];
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    return f;
}

uint32_t at(const RasterImage& img, int x, int pictureRow) {
    return img.pixel(x, img.height() - 1 - pictureRow);
}

class Callback : public ::testing::Test {
protected:
    void SetUp() override {
        options = Options::defaults();
        options.timeStampsEnabled = 0;
        options.headerEnabled = 0;
        std::string error;
        ASSERT_TRUE(computeLayout(options, 720, 576, 0, 0, layout, error)) << error;
        ASSERT_EQ(layout.thumbWidth, 146.25f);
        ASSERT_TRUE(sheet.create(791, 655));
        sheet.fill(238, 242, 247);
        cb.options = &options;
        cb.layout = &layout;
        cb.sheet = &sheet;
        cb.videoWidth = 720;
        cb.videoHeight = 576;
    }
    Options options;
    SheetLayout layout;
    RasterImage sheet;
    GrabberCallback cb;
};

TEST_F(Callback, FrameLandsInItsCellAtTheTruncatedPosition) {
    std::vector<uint8_t> red = flatFrame(720, 576, 255, 0, 0);
    cb.cell = 6; // column 1, row 1 of a 5-column grid: x = 166.25, y = 137
    cb.BufferCB(12.0, red.data(), static_cast<long>(red.size()));
    EXPECT_EQ(cb.delivered, 1);
    EXPECT_EQ(at(sheet, 166, 137), 0xFF0000u);
    EXPECT_EQ(at(sheet, 166 + 145, 137 + 116), 0xFF0000u);
    EXPECT_EQ(at(sheet, 165, 137), 0xEEF2F7u);
    EXPECT_EQ(at(sheet, 166 + 146, 137), 0xEEF2F7u);
    EXPECT_EQ(at(sheet, 166, 136), 0xEEF2F7u);
    EXPECT_EQ(at(sheet, 166, 137 + 117), 0xEEF2F7u);
}

TEST_F(Callback, StampStaysInsideItsRectangleAtTheBottom) {
    std::vector<uint8_t> grey = flatFrame(720, 576, 90, 90, 90);
    cb.cell = 6;
    cb.BufferCB(3723.456, grey.data(), static_cast<long>(grey.size()));
    RasterImage plain;
    ASSERT_TRUE(plain.create(791, 655));
    std::copy(sheet.pixels, sheet.pixels + sheet.header.biSizeImage, plain.pixels);

    options.timeStampsEnabled = 1;
    cb.cell = 6;
    cb.BufferCB(3723.456, grey.data(), static_cast<long>(grey.size()));
    // The stamp rectangle is (169, 137) - (309, 254): the cell inset 3
    // pixels on each side.
    int changed = 0, lowest = 0, leftmost = 791;
    for (int y = 0; y < 655; ++y)
        for (int x = 0; x < 791; ++x)
            if (at(sheet, x, y) != at(plain, x, y)) {
                ++changed;
                lowest = std::max(lowest, y);
                leftmost = std::min(leftmost, x);
                EXPECT_TRUE(x >= 169 && x < 309 && y >= 137 && y < 254) << x << "," << y;
            }
    EXPECT_GT(changed, 100);
    EXPECT_GE(lowest, 254 - 4);   // sits on the cell's bottom edge
    EXPECT_LE(leftmost, 169 + 2); // starts at the inset, not further in
}

TEST_F(Callback, AMomentWithoutAFrameLeavesOnlyItsOwnCellBlack) {
    sheet.fillRect(10, 10, 146, 117, 0, 0, 0);
    sheet.fillRect(166, 10, 146, 117, 0, 0, 0);
    sheet.fillRect(322, 10, 146, 117, 0, 0, 0);
    std::vector<uint8_t> green = flatFrame(720, 576, 0, 200, 0);
    cb.cell = 0;
    cb.BufferCB(1.0, green.data(), static_cast<long>(green.size()));
    // Moment 1 delivered nothing; moment 2 still goes to its own cell.
    cb.cell = 2;
    cb.BufferCB(3.0, green.data(), static_cast<long>(green.size()));
    EXPECT_EQ(at(sheet, 50, 50), 0x00C800u);
    EXPECT_EQ(at(sheet, 200, 50), 0x000000u);
    EXPECT_EQ(at(sheet, 350, 50), 0x00C800u);
}

TEST_F(Callback, ExtraShortAndOutOfRangeDeliveriesDrawNothing) {
    std::vector<uint8_t> blue = flatFrame(720, 576, 0, 0, 255);
    std::vector<uint8_t> white = flatFrame(720, 576, 255, 255, 255);
    cb.cell = 0;
    cb.BufferCB(1.0, blue.data(), static_cast<long>(blue.size()));
    // A second frame for the same moment does not replace the first.
    cb.BufferCB(1.04, white.data(), static_cast<long>(white.size()));
    EXPECT_EQ(at(sheet, 50, 50), 0x0000FFu);
    // A buffer shorter than a frame, and cells beyond the grid, are ignored.
    cb.cell = 1;
    cb.BufferCB(2.0, white.data(), static_cast<long>(white.size() - 1));
    cb.cell = 25;
    cb.BufferCB(2.0, white.data(), static_cast<long>(white.size()));
    EXPECT_EQ(at(sheet, 200, 50), 0xEEF2F7u);
    EXPECT_EQ(cb.delivered, 4);
}

} // namespace
