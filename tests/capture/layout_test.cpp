#include "capture/capture.h"
#include "capture/cell_painter.h"
#include "capture/file_names.h"
#include "capture/frame_choice.h"
#include "capture/layout.h"
#include "capture/movie_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

std::string formatInfo(const std::string& path, float fps, int width, int height,
                       int64_t duration) {
    return MovieProbe::formatInfo(path, MovieFacts{duration, width, height, fps});
}

struct LayoutCase {
    int videoWidth, videoHeight;
    float thumbWidth, thumbHeight;
    int sheetWidth, gridHeight;
    std::vector<int> lefts, tops;
    int cellWidth, cellHeight;
};

TEST(Layout, WorkedExamplesWithTheBlockOff) {
    const LayoutCase cases[] = {
        {720,
         576,
         146.25f,
         117.0f,
         791,
         645,
         {10, 166, 322, 478, 635},
         {10, 137, 264, 391, 518},
         146,
         117},
        {640,
         480,
         156.0f,
         117.0f,
         840,
         645,
         {10, 176, 342, 508, 674},
         {10, 137, 264, 391, 518},
         156,
         117},
        {1280,
         720,
         156.0f,
         87.75f,
         840,
         498,
         {10, 176, 342, 508, 674},
         {10, 107, 205, 303, 401},
         156,
         87},
    };
    Options o = Options::defaults();
    o.headerEnabled = 0;
    for (const LayoutCase& c : cases) {
        SheetLayout l;
        std::string error;
        ASSERT_TRUE(computeLayout(o, c.videoWidth, c.videoHeight, 0, 0, l, error)) << error;
        SCOPED_TRACE(std::to_string(c.videoWidth) + "x" + std::to_string(c.videoHeight));
        EXPECT_EQ(l.thumbWidth, c.thumbWidth);
        EXPECT_EQ(l.thumbHeight, c.thumbHeight);
        EXPECT_EQ(l.sheetWidth, c.sheetWidth);
        EXPECT_EQ(l.gridHeight, c.gridHeight);
        // Without a block the bottom margin is twice the spacing.
        EXPECT_EQ(l.sheetHeight, c.gridHeight + 10);
        EXPECT_EQ(l.top, 0);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(l.cell(i, 0).x, c.lefts[i]) << "column " << i;
            EXPECT_EQ(l.cell(0, i).y, c.tops[i]) << "row " << i;
            EXPECT_EQ(l.cellAt(6 * i).x, c.lefts[i]) << "cell " << 6 * i;
            EXPECT_EQ(l.cellAt(6 * i).y, c.tops[i]) << "cell " << 6 * i;
        }
        EXPECT_EQ(l.cell(4, 4).width, c.cellWidth);
        EXPECT_EQ(l.cell(4, 4).height, c.cellHeight);
        EXPECT_EQ(l.cells, 25);
    }
}

// Frames, shadows and stamps are placed from one rectangle per cell, so a
// fractional thumbnail size cannot put them a pixel apart.
TEST(Layout, ShadowAndStampFollowTheirCell) {
    Options o = Options::defaults();
    o.headerEnabled = 0;
    o.shadowOffsetX = -4;
    o.shadowOffsetY = 6;
    o.spacingX = 3;
    o.spacingY = 0;
    o.frameWidth = 131;
    o.frameHeight = 97;
    SheetLayout l;
    std::string error;
    // 640 x 480 into 131 x 97: thumbnails 129.33 wide, whose fourth column
    // starts at 399.99.
    ASSERT_TRUE(computeLayout(o, 640, 480, 0, 0, l, error)) << error;
    const CellRect cell = l.cell(3, 2);
    EXPECT_EQ(cell.x, 399);
    EXPECT_EQ(cell.y, 194);
    EXPECT_EQ(cell.width, 129);
    EXPECT_EQ(cell.height, 97);
    const CellRect shadow = l.shadowOf(cell);
    EXPECT_EQ(shadow.x, 395);
    EXPECT_EQ(shadow.y, 200);
    EXPECT_EQ(shadow.width, cell.width);
    EXPECT_EQ(shadow.height, cell.height);
    const CellRect stamp = SheetLayout::stampOf(cell);
    EXPECT_EQ(stamp.x, cell.x + 3);
    EXPECT_EQ(stamp.x + stamp.width, cell.x + cell.width - 3);
    EXPECT_EQ(stamp.y, cell.y);
    EXPECT_EQ(stamp.y + stamp.height, cell.y + cell.height);
    // Offsets beyond any sheet saturate instead of overflowing.
    o.shadowOffsetX = INT_MAX;
    ASSERT_TRUE(computeLayout(o, 640, 480, 0, 0, l, error)) << error;
    EXPECT_EQ(l.shadowOf(l.cell(4, 0)).x, INT_MAX);
}

TEST(Layout, EqualRatiosTakeTheVerticalOne) {
    Options o = Options::defaults();
    SheetLayout l;
    std::string error;
    ASSERT_TRUE(computeLayout(o, 312, 234, 0, 0, l, error));
    EXPECT_DOUBLE_EQ(l.scale, 117.0 / 234.0);
}

TEST(Layout, HeaderPositionsPlaceTheBlockAndMoveTheGrid) {
    Options o = Options::defaults();
    const int textW = 200, textH = 52;
    std::string error;
    SheetLayout l;

    o.headerPosition = BottomLeft;
    ASSERT_TRUE(computeLayout(o, 720, 576, textW, textH, l, error));
    EXPECT_EQ(l.top, 0);
    EXPECT_EQ(l.headerX, 10);
    EXPECT_EQ(l.headerY, 645);
    EXPECT_EQ(l.sheetHeight, 645 + textH + 10);

    o.headerPosition = BottomRight;
    ASSERT_TRUE(computeLayout(o, 720, 576, textW, textH, l, error));
    EXPECT_EQ(l.headerX + textW, 791 - 10); // right edge at sw - spacingX
    EXPECT_EQ(l.headerY, 645);

    o.headerPosition = TopLeft;
    ASSERT_TRUE(computeLayout(o, 720, 576, textW, textH, l, error));
    EXPECT_EQ(l.headerX, 10);
    EXPECT_EQ(l.headerY, 10);
    EXPECT_EQ(l.top, textH + 10);
    EXPECT_EQ(l.cell(0, 0).y, 10 + textH + 10);
    EXPECT_EQ(l.sheetHeight, 645 + textH + 10);

    o.headerPosition = TopRight;
    ASSERT_TRUE(computeLayout(o, 720, 576, textW, textH, l, error));
    EXPECT_EQ(l.headerX, 791 - 10 - textW);
    EXPECT_EQ(l.headerY, 10);

    // A block that is switched off takes no room whatever was measured.
    o.headerEnabled = 0;
    ASSERT_TRUE(computeLayout(o, 720, 576, textW, textH, l, error));
    EXPECT_EQ(l.top, 0);
    EXPECT_EQ(l.sheetHeight, 655);
    EXPECT_EQ(l.headerY, 645);
}

TEST(Layout, NoCellsIsABackgroundOnlySheet) {
    Options o = Options::defaults();
    o.rows = 0;
    o.headerEnabled = 0;
    SheetLayout l;
    std::string error;
    ASSERT_TRUE(computeLayout(o, 720, 576, 0, 0, l, error)) << error;
    EXPECT_EQ(l.cells, 0);
    EXPECT_EQ(l.sheetWidth, 791);
    EXPECT_EQ(l.sheetHeight, 20);
    EXPECT_TRUE(capturePositions(1000, 0).empty());
}

TEST(Layout, RefusesWhatCannotMakeASheet) {
    struct Bad {
        const char* what;
        void (*apply)(Options&);
        int videoWidth, videoHeight;
    };
    const Bad bad[] = {
        {"negative columns", [](Options& o) { o.columns = -1; }, 720, 576},
        {"negative rows", [](Options& o) { o.rows = -3; }, 720, 576},
        {"zero frame width", [](Options& o) { o.frameWidth = 0; }, 720, 576},
        {"negative frame height", [](Options& o) { o.frameHeight = -5; }, 720, 576},
        {"negative spacing", [](Options& o) { o.spacingY = -1; }, 720, 576},
        {"no video width", [](Options&) {}, 0, 576},
        {"negative video height", [](Options&) {}, 720, -2},
        {"sheet too wide", [](Options& o) { o.columns = 300; }, 720, 576},
        {"too many cells",
         [](Options& o) {
             o.columns = 300;
             o.rows = 300;
             o.frameWidth = 1;
             o.frameHeight = 1;
             o.spacingX = 0;
             o.spacingY = 0;
         },
         720, 576},
        {"sheet over 1 GiB",
         [](Options& o) {
             o.columns = 100;
             o.rows = 100;
             o.frameWidth = 300;
             o.frameHeight = 300;
         },
         100, 100},
        {"huge numbers",
         [](Options& o) {
             o.columns = INT_MAX;
             o.rows = INT_MAX;
             o.frameWidth = INT_MAX;
         },
         720, 576},
        {"thumbnail under a pixel", [](Options& o) { o.frameHeight = 1; }, 100, 1000},
    };
    for (const Bad& b : bad) {
        Options o = Options::defaults();
        b.apply(o);
        SheetLayout l;
        std::string error;
        EXPECT_FALSE(computeLayout(o, b.videoWidth, b.videoHeight, 0, 0, l, error)) << b.what;
        EXPECT_FALSE(error.empty()) << b.what;
    }
}

TEST(Layout, ShadowColour) {
    Options o = Options::defaults();
    EXPECT_EQ(shadowColor(o), (Rgb{119, 121, 123}));
    o.shadowIntensity = 30; // 0.7 in single precision is just below 0.7
    EXPECT_EQ(shadowColor(o), (Rgb{166, 169, 172}));
    o.shadowIntensity = INT_MAX; // nonsense from a file, but defined
    (void)shadowColor(o);
}

TEST(Layout, MomentsAreEvenlySpacedInsideTheMovie) {
    std::vector<int64_t> p = capturePositions(1'000'000'000, 25);
    ASSERT_EQ(p.size(), 25u);
    EXPECT_EQ(p.front(), 38'461'538);
    EXPECT_EQ(p.back(), 961'538'450);
    EXPECT_EQ(p[1] - p[0], 38'461'538);
}

TEST(FrameChoice, SkipsKeepTheMomentsInsideTheRestOfTheMovie) {
    std::vector<int64_t> moments;
    std::string error;
    // Without skips: exactly the classic moments.
    for (int64_t duration :
         {int64_t{0}, int64_t{1}, int64_t{1'000'000'000}, int64_t{37'239'000'123}})
        for (int64_t cells : {0, 1, 25, 400}) {
            ASSERT_TRUE(captureMoments(duration, cells, FrameChoice{}, moments, error));
            EXPECT_EQ(moments, capturePositions(duration, cells)) << duration << " " << cells;
        }
    FrameChoice choice;
    choice.skipStart = TimeSpan{10, false};
    choice.skipEnd = TimeSpan{10, true};
    ASSERT_TRUE(captureMoments(1'000'000'000, 4, choice, moments, error)) << error;
    EXPECT_EQ(moments, (std::vector<int64_t>{260'000'000, 420'000'000, 580'000'000, 740'000'000}));
    // Skips that leave nothing are refused, not turned into odd moments.
    choice.skipStart = TimeSpan{60, false};
    choice.skipEnd = TimeSpan{40, false};
    EXPECT_FALSE(captureMoments(1'000'000'000, 4, choice, moments, error));
    EXPECT_FALSE(error.empty());
}

TEST(FrameChoice, SpansAreSecondsOrAShareOfTheMovie) {
    struct Case {
        const char* text;
        bool ok;
        int64_t units; // for a movie of 200 s
    } cases[] = {
        {"90", true, 900'000'000},
        {"90s", true, 900'000'000},
        {"1.5", true, 15'000'000},
        {"5%", true, 100'000'000},
        {"0", true, 0},
        {"500", true, 2'000'000'000},
        {"100%", true, 2'000'000'000},
        {"-1", false, 0},
        {"abc", false, 0},
        {"101%", false, 0},
        {"5%%", false, 0},
        {"", false, 0},
        {"1e999", false, 0},
        {"s", false, 0},
    };
    for (const Case& c : cases) {
        TimeSpan span;
        EXPECT_EQ(TimeSpan::parse(c.text, span), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(span.resolve(2'000'000'000), c.units) << c.text;
        }
    }
}

TEST(Layout, TruncationSaturates) {
    EXPECT_EQ(truncToInt(-1.9), -1);
    EXPECT_EQ(truncToInt(166.25), 166);
    EXPECT_EQ(truncToInt(1e300), INT_MAX);
    EXPECT_EQ(truncToInt(-1e300), INT_MIN);
    EXPECT_EQ(truncToInt(0.0 / 0.0 * 0.0), 0);
}

TEST(TimeText, TruncatesEveryPart) {
    EXPECT_EQ(timeText(3723.456), "01:02:03.45");
    EXPECT_EQ(timeText(59.999), "00:00:59.99");
    EXPECT_EQ(timeText(1.15), "00:00:01.15");
    EXPECT_EQ(timeText(4.64), "00:00:04.64");
    EXPECT_EQ(timeText(3600.0), "01:00:00.00");
    EXPECT_EQ(timeText(0.0), "00:00:00.00");
    EXPECT_EQ(timeText(360000.5), "100:00:00.50");
}

TEST(InfoText, FourLinesInTheFixedFormat) {
    std::string t =
        formatInfo("/a/b/Clip Name.avi", static_cast<float>(1.0 / 0.04), 640, 480, 37'239'000'000);
    EXPECT_EQ(t, "File Name\t: Clip Name.avi\nAverage FPS\t: 25.00\nResolution\t: 640x480\n"
                 "Duration\t: 01:02:03");
    EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 3);
}

TEST(InfoText, RatesDurationsAndNames) {
    auto line = [](const std::string& text, int n) {
        size_t begin = 0;
        for (int i = 0; i < n; ++i)
            begin = text.find('\n', begin) + 1;
        return text.substr(begin, text.find('\n', begin) - begin);
    };
    EXPECT_EQ(line(formatInfo("x.avi", static_cast<float>(1.0 / 0.0417083), 1, 1, 0), 1),
              "Average FPS\t: 23.98");
    EXPECT_EQ(line(formatInfo("x.avi", static_cast<float>(1.0 / 0.0333667), 1, 1, 0), 1),
              "Average FPS\t: 29.97");
    EXPECT_EQ(line(formatInfo("x.avi", 0, 1, 1, 0), 1), "Average FPS\t: 0.00");
    EXPECT_EQ(line(formatInfo("x.avi", 25, 1, 1, 9'999'999), 3), "Duration\t: 00:00:00");
    EXPECT_EQ(line(formatInfo("x.avi", 25, 1, 1, 3'600'000'000'000), 3), "Duration\t: 100:00:00");
    EXPECT_EQ(line(formatInfo("clip.mpg", 25, 1, 1, 0), 0), "File Name\t: clip.mpg");
    EXPECT_EQ(line(formatInfo("/x/y/", 25, 1, 1, 0), 0), "File Name\t: ");
}

TEST(InformationColor, BlackOrWhiteByTheBackgroundsLuminance) {
    constexpr Rgb black{0, 0, 0};
    constexpr Rgb white{255, 255, 255};
    EXPECT_EQ(readableTextColor(Rgb{255, 255, 255}), black);
    EXPECT_EQ(readableTextColor(Rgb{238, 242, 247}), black); // the default background
    EXPECT_EQ(readableTextColor(Rgb{0, 0, 0}), white);
    EXPECT_EQ(readableTextColor(Rgb{20, 24, 48}), white);
    // Green weighs most, blue least: pure green is light, pure blue dark.
    EXPECT_EQ(readableTextColor(Rgb{0, 255, 0}), black);
    EXPECT_EQ(readableTextColor(Rgb{0, 0, 255}), white);
    EXPECT_EQ(readableTextColor(Rgb{255, 0, 0}), black);
    // The turn is where black and white contrast equally (luminance 0.179):
    // between grey 117 and 118 once the sRGB curve is undone, not at 128.
    EXPECT_EQ(readableTextColor(Rgb{117, 117, 117}), white);
    EXPECT_EQ(readableTextColor(Rgb{118, 118, 118}), black);
}

} // namespace

namespace {

// One rule for a sheet's name, for both front ends.
TEST(FileNames, ASheetSitsBesideItsMovieWithTheLastExtensionReplaced) {
    EXPECT_EQ(sheetBeside("/m/clip.avi"), "/m/clip.jpg");
    EXPECT_EQ(sheetBeside("/m/Clip.Name.MOV"), "/m/Clip.Name.jpg");
    EXPECT_EQ(sheetBeside("/m.d/clip"), "/m.d/clip.jpg");
    EXPECT_EQ(sheetBeside("/m/.hidden"), "/m/.hidden.jpg");
    EXPECT_EQ(sheetBeside("clip.wmv", ".png"), "clip.png");
    EXPECT_EQ(stemOf("/v/holiday.2024.mp4"), "holiday.2024");
    EXPECT_TRUE(isSheetExtension(lowerExtension("A.JPEG")));
    EXPECT_FALSE(isSheetExtension(lowerExtension("a.gif")));
}

} // namespace
