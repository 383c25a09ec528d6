#include "capture/cell_painter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A flat picture of the cell's size, as the reader delivers it.
media::Frame flatFrame(int w, int h, uint8_t r, uint8_t g, uint8_t b, double seconds) {
    media::Frame f;
    f.found = true;
    f.time = MediaTime{static_cast<int64_t>(seconds * 1000 + 0.5), 1, 1000};
    f.picture.width = w;
    f.picture.height = h;
    f.picture.rgb.resize(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < f.picture.rgb.size(); i += 3) {
        f.picture.rgb[i] = r;
        f.picture.rgb[i + 1] = g;
        f.picture.rgb[i + 2] = b;
    }
    return f;
}

// The colour as 0xRRGGBB.
uint32_t at(const RasterImage& img, int x, int y) {
    const Rgb c = img.pixel(x, y);
    return uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
}

class Painter : public ::testing::Test {
protected:
    void SetUp() override {
        options = Options::defaults();
        options.timeStampsEnabled = 0;
        options.headerEnabled = 0;
        std::string error;
        ASSERT_TRUE(computeLayout(options, 720, 576, 0, 0, layout, error)) << error;
        ASSERT_EQ(layout.thumbWidth, 146.25f);
        ASSERT_TRUE(sheet.create(791, 655));
        sheet.fill(Rgb{238, 242, 247});
    }
    media::Frame cellFrame(uint8_t r, uint8_t g, uint8_t b, double seconds) {
        const CellRect c = layout.cellAt(0);
        return flatFrame(c.width, c.height, r, g, b, seconds);
    }
    Options options;
    SheetLayout layout;
    RasterImage sheet;
    CaptureProgress progress;
};

TEST(ToRasterImage, APictureIsTakenRowForRowAndAWrongSizedOneNotAtAll) {
    media::Picture picture;
    picture.width = 2;
    picture.height = 3;
    for (uint8_t i = 0; i < 18; ++i)
        picture.rgb.push_back(i);
    const RasterImage image = toRasterImage(picture);
    ASSERT_EQ(image.width(), 2);
    ASSERT_EQ(image.height(), 3);
    EXPECT_EQ(at(image, 0, 0), 0x000102u); // the first row is the top row
    EXPECT_EQ(at(image, 1, 0), 0x030405u);
    EXPECT_EQ(at(image, 1, 2), 0x0F1011u);

    // Bytes that do not make up the size stated are not read past or in part.
    picture.rgb.resize(17);
    EXPECT_FALSE(toRasterImage(picture).hasPixels());
    picture.rgb.resize(19);
    EXPECT_FALSE(toRasterImage(picture).hasPixels());
    // An empty picture is an empty image.
    EXPECT_EQ(toRasterImage(media::Picture{}).width(), 0);
}

TEST_F(Painter, FrameLandsInItsCellAtTheTruncatedPosition) {
    CellPainter painter(sheet, layout, options, progress);
    // Column 1, row 1 of a 5-column grid: x = 166.25, y = 137.
    painter.drawFrame(6, cellFrame(255, 0, 0, 12.0));
    EXPECT_EQ(at(sheet, 166, 137), 0xFF0000u);
    EXPECT_EQ(at(sheet, 166 + 145, 137 + 116), 0xFF0000u);
    EXPECT_EQ(at(sheet, 165, 137), 0xEEF2F7u);
    EXPECT_EQ(at(sheet, 166 + 146, 137), 0xEEF2F7u);
    EXPECT_EQ(at(sheet, 166, 136), 0xEEF2F7u);
    EXPECT_EQ(at(sheet, 166, 137 + 117), 0xEEF2F7u);
}

TEST_F(Painter, StampStaysInsideItsRectangleAtTheBottom) {
    {
        CellPainter painter(sheet, layout, options, progress);
        painter.drawFrame(6, cellFrame(90, 90, 90, 3723.456));
    }
    RasterImage plain;
    ASSERT_TRUE(plain.create(791, 655));
    std::copy(sheet.row(0), sheet.row(0) + sheet.stride() * sheet.height(), plain.row(0));

    options.timeStampsEnabled = 1;
    CellPainter painter(sheet, layout, options, progress);
    EXPECT_TRUE(painter.stampsFit());
    painter.drawFrame(6, cellFrame(90, 90, 90, 3723.456));
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

// A moment without a picture is a visible empty cell on the background with
// an outline in the text colour, never black and never a neighbour's frame.
TEST_F(Painter, AMomentWithoutAPictureIsAnOutlinedEmptyCell) {
    options.timeStampsEnabled = 1;
    options.textColor = Rgb{200, 30, 40};
    for (int k = 0; k < 3; ++k) {
        const CellRect c = layout.cellAt(k);
        sheet.fillRect(c.x, c.y, c.width, c.height, Rgb{0, 0, 0});
    }
    CellPainter painter(sheet, layout, options, progress);
    painter.drawFrame(0, cellFrame(0, 200, 0, 1.0));
    painter.drawEmpty(1, 20'000'000);
    painter.drawFrame(2, cellFrame(0, 200, 0, 3.0));
    const CellRect empty = layout.cellAt(1);
    EXPECT_EQ(at(sheet, 50, 50), 0x00C800u);
    EXPECT_EQ(at(sheet, layout.cellAt(2).x + 40, 50), 0x00C800u);
    // The outline: the text colour edged in black, as the stamps are.
    EXPECT_EQ(at(sheet, empty.x, empty.y + 5), 0u);
    EXPECT_EQ(at(sheet, empty.x + 1, empty.y + 5), 0xC81E28u);
    EXPECT_EQ(at(sheet, empty.x + empty.width - 2, empty.y + 5), 0xC81E28u);
    EXPECT_EQ(at(sheet, empty.x + 3, empty.y + 5), 0u);
    EXPECT_EQ(at(sheet, empty.x + 5, empty.y + 5), 0xEEF2F7u); // inside: background
    int black = 0, ink = 0;
    for (int y = empty.y; y < empty.y + empty.height; ++y)
        for (int x = empty.x; x < empty.x + empty.width; ++x) {
            const uint32_t p = at(sheet, x, y);
            black += p == 0;
            ink += p == 0xC81E28u;
        }
    // Only the text's thin outline is black; the words are drawn in ink.
    EXPECT_LT(black, empty.width * empty.height / 10);
    EXPECT_GT(ink, 2 * (empty.width + empty.height) + 50);
}

// A stamp wider than its cell is drawn smaller, not cut off; too narrow a
// cell for even the smallest legible stamp gets none.
TEST_F(Painter, StampsShrinkToFitNarrowCellsOrAreLeftOut) {
    options.timeStampsEnabled = 1;
    options.columns = 5;
    std::string error;
    SheetLayout narrow;
    options.frameWidth = 46;
    options.frameHeight = 115;
    ASSERT_TRUE(computeLayout(options, 224, 560, 0, 0, narrow, error)) << error;
    ASSERT_TRUE(sheet.create(narrow.sheetWidth, narrow.sheetHeight));
    sheet.fill(Rgb{255, 255, 255});
    const CellRect c = narrow.cellAt(0);
    CellPainter painter(sheet, narrow, options, progress);
    EXPECT_TRUE(painter.stampsFit()) << c.width;
    painter.drawFrame(0, flatFrame(c.width, c.height, 90, 90, 90, 7.0));
    // Something of the stamp is drawn near the cell's right inset: the
    // whole text reaches across the cell.
    const CellRect s = SheetLayout::stampOf(c);
    int rightmost = 0;
    for (int y = c.y; y < c.y + c.height; ++y)
        for (int x = c.x; x < c.x + c.width; ++x)
            if (at(sheet, x, y) != 0x5A5A5Au)
                rightmost = std::max(rightmost, x);
    EXPECT_GT(rightmost, s.x + s.width / 2);
    EXPECT_LT(rightmost, s.x + s.width);

    options.frameWidth = 12;
    options.frameHeight = 30;
    SheetLayout tiny;
    ASSERT_TRUE(computeLayout(options, 224, 560, 0, 0, tiny, error)) << error;
    CellPainter none(sheet, tiny, options, progress);
    EXPECT_FALSE(none.stampsFit());
}

TEST(TimeText, IsTheExactTimeTruncatedToHundredths) {
    EXPECT_EQ(timeText(MediaTime{464, 1, 100}), "00:00:04.64");
    EXPECT_EQ(timeText(MediaTime{115, 1, 100}), "00:00:01.15");
    EXPECT_EQ(timeText(MediaTime{59999, 1, 1000}), "00:00:59.99");
    EXPECT_EQ(timeText(MediaTime{3723456, 1, 1000}), "01:02:03.45");
    EXPECT_EQ(timeText(MediaTime{0, 1, 25}), "00:00:00.00");
    EXPECT_EQ(timeText(MediaTime{36000050, 1, 100}), "100:00:00.50");
    // Frame 116 of a 25 fps movie on a 90 kHz clock: 4.64 s exactly.
    EXPECT_EQ(timeText(MediaTime{116 * 3600, 1, 90000}), "00:00:04.64");
}

// Over the clocks movies come with and many frames of each: the stamp's
// hundredths H are those of the exact time t, H/100 <= t < (H+1)/100, checked
// by cross-multiplying in integers.
TEST(TimeText, EveryFrameOfEveryClockReadsItsExactTimeTruncated) {
    struct Clock {
        int64_t num, den, ticksPerFrame;
    };
    for (const Clock c :
         {Clock{1, 90000, 3600}, Clock{1, 90000, 3003}, Clock{1, 1000, 40}, Clock{1, 1000, 33},
          Clock{1001, 30000, 1}, Clock{1, 25, 1}, Clock{1, 48000, 1920}, Clock{1, 48000, 1601}}) {
        for (int64_t frame = 0; frame < 200000; frame += frame < 1000 ? 1 : 997) {
            const MediaTime t{frame * c.ticksPerFrame, c.num, c.den};
            const std::string text = timeText(t);
            int hh = 0, mm = 0, ss = 0, cc = 0;
            ASSERT_EQ(std::sscanf(text.c_str(), "%d:%d:%d.%d", &hh, &mm, &ss, &cc), 4) << text;
            ASSERT_TRUE(mm < 60 && ss < 60 && cc < 100) << text;
            // Every product stays below 2^63 for these clocks and frames.
            const int64_t h = ((int64_t{hh} * 60 + mm) * 60 + ss) * 100 + cc;
            const int64_t exact = t.ticks * c.num * 100; // over den
            ASSERT_LE(h * c.den, exact) << text << " " << c.num << "/" << c.den << " " << frame;
            ASSERT_GT((h + 1) * c.den, exact)
                << text << " " << c.num << "/" << c.den << " " << frame;
        }
    }
}

} // namespace
