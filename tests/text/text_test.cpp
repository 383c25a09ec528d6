// RasterImage::drawText: measuring, blending, outlines and clipping, checked
// on real pixels with the fonts the test configuration allows.
#include "render/raster_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/text/font.h"

namespace {

constexpr const char* kInfo = "File Name\t: clip.avi\nAverage FPS\t: 25.00\n"
                              "Resolution\t: 720x576\nDuration\t: 00:01:40";
constexpr const char* kStamp = "01:02:03.45";
constexpr TextFlags kStampFormat{.singleLine = true, .alignBottom = true};
constexpr TextFlags kInfoFormat{.expandTabs = true};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};

FontDescription sheetFont(int32_t height = -11, int32_t weight = 700, std::string face = "Arial") {
    FontDescription f;
    f.face = std::move(face);
    f.height = height;
    f.weight = weight;
    f.kind = FontKind::Sans;
    return f;
}

struct Canvas {
    Canvas(int w, int h, uint8_t r, uint8_t g, uint8_t b) : background{r, g, b} {
        image.create(w, h);
        image.fill(background);
    }
    Rgb at(int x, int y) const { return image.pixel(x, y); }
    bool changed(int x, int y) const { return at(x, y) != background; }
    void draw(std::string_view s, TextBox box, TextFlags flags, bool outline,
              const FontDescription& font = sheetFont(), Rgb colour = kWhite) {
        image.drawText(s, box, flags, outline, font, colour);
    }
    std::vector<uint8_t> bytes() const {
        return {image.row(0), image.row(0) + image.stride() * image.height()};
    }
    Rgb background;
    RasterImage image;
};

// Channel 0 is red, 1 green, 2 blue.
int channel(Rgb c, int i) {
    return i == 0 ? c.r : i == 1 ? c.g : c.b;
}

int64_t measuredWidth(std::string_view s, const FontDescription& font = sheetFont()) {
    return measureText(s, TextFlags{.singleLine = true}, font).width;
}

// Every pixel of `clipped` equals `reference` inside `box` (shifted by dx,
// dy in the reference) and is background outside it.
void expectSameInside(const Canvas& clipped, const Canvas& reference, TextBox box, int dx = 0,
                      int dy = 0) {
    int differences = 0;
    for (int y = 0; y < clipped.image.height(); ++y)
        for (int x = 0; x < clipped.image.width(); ++x) {
            const bool inside = x >= box.left && x < box.right && y >= box.top && y < box.bottom;
            const Rgb want = inside ? reference.at(x + dx, y + dy) : clipped.background;
            differences += clipped.at(x, y) != want;
        }
    EXPECT_EQ(differences, 0);
}

TEST(DrawText, MeasuringTheInformationBlock) {
    const FontDescription font = sheetFont();
    const text::FontMetrics& m = text::fontMetrics(*text::findFont(font));

    const TextSize size = measureText(kInfo, kInfoFormat, font);

    // Each line is label, tab, value: the value starts at the first tab stop
    // right of the label.
    const char* labels[] = {"File Name", "Average FPS", "Resolution", "Duration"};
    const char* values[] = {": clip.avi", ": 25.00", ": 720x576", ": 00:01:40"};
    int64_t widest = 0;
    for (int i = 0; i < 4; ++i) {
        const int64_t stop = (measuredWidth(labels[i]) / m.tabWidth + 1) * m.tabWidth;
        widest = std::max(widest, stop + measuredWidth(values[i]));
    }
    EXPECT_EQ(size.width, widest);
    EXPECT_EQ(size.height, 4 * m.lineHeight);
    // Without tabs expanded the labels and values run together.
    EXPECT_LT(measureText(kInfo, TextFlags{}, font).width, widest);
    // One line, its breaks not honoured.
    EXPECT_EQ(measureText(kInfo, TextFlags{.singleLine = true}, font).height, m.lineHeight);
}

TEST(DrawText, FillBlendsTowardsTheColourOnlyUnderTheGlyphs) {
    Canvas canvas(220, 40, 40, 90, 160);
    const Rgb colour{250, 200, 20};
    const TextBox rect{5, 5, 215, 35};
    canvas.draw("01:02:03.45 Wgy", rect, TextFlags{}, false, sheetFont(-16), colour);

    int changed = 0, solid = 0, wrong = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 220; ++x) {
            if (!canvas.changed(x, y))
                continue;
            ++changed;
            wrong += x < rect.left || x >= rect.right || y < rect.top || y >= rect.bottom;
            const Rgb now = canvas.at(x, y);
            for (int c = 0; c < 3; ++c) {
                const int old = channel(canvas.background, c);
                const int want = channel(colour, c);
                const int v = channel(now, c);
                wrong += v < std::min(old, want) || v > std::max(old, want);
            }
            solid += now == colour;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(solid, 20);
    // The background between and around the glyphs stays.
    EXPECT_GT(changed, 100);
    EXPECT_LT(changed, (rect.right - rect.left) * (rect.bottom - rect.top) * 2 / 5);
}

TEST(DrawText, OutlineAddsBlackAlongTheGlyphEdges) {
    Canvas plain(120, 30, 128, 128, 128);
    Canvas outlined(120, 30, 128, 128, 128);
    const TextBox rect{3, 0, 117, 30};
    plain.draw(kStamp, rect, kStampFormat, false);
    outlined.draw(kStamp, rect, kStampFormat, true);

    int dark = 0, farFromGlyph = 0, fillCovered = 0, darkInPlain = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 120; ++x) {
            darkInPlain += channel(plain.at(x, y), 2) < 128;
            // Full cover in the plain drawing is (nearly) full cover on top
            // of the stroke too: a coverage of 254 rounds differently there.
            if (plain.at(x, y) == kWhite)
                fillCovered += channel(outlined.at(x, y), 1) < 253;
            if (channel(outlined.at(x, y), 2) >= 64)
                continue;
            ++dark;
            bool near = false;
            for (int dy = -2; dy <= 2 && !near; ++dy)
                for (int dx = -2; dx <= 2 && !near; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    near = nx >= 0 && ny >= 0 && nx < 120 && ny < 30 && plain.changed(nx, ny);
                }
            farFromGlyph += !near;
        }
    EXPECT_EQ(darkInPlain, 0);
    EXPECT_GT(dark, 40);
    EXPECT_EQ(farFromGlyph, 0);
    // The fill is drawn over the stroke.
    EXPECT_EQ(fillCovered, 0);
}

TEST(DrawText, StampsAreCutAtTheRightAndTopOfTheirRectangle) {
    ASSERT_GT(measuredWidth(kStamp), 45);
    Canvas reference(320, 70, 30, 30, 40);
    reference.draw(kStamp, TextBox{3, 0, 300, 60}, kStampFormat, true);
    Canvas narrow(320, 70, 30, 30, 40);
    const TextBox cut{3, 0, 40, 60};
    narrow.draw(kStamp, cut, kStampFormat, true);
    expectSameInside(narrow, reference, cut);
    int nearEdge = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 30; x < 40; ++x)
            nearEdge += narrow.changed(x, y);
    EXPECT_GT(nearEdge, 0);

    // A stamp taller than its frame keeps its bottom on the frame's bottom
    // and loses its top.
    const FontDescription big = sheetFont(-40);
    Canvas tall(320, 70, 30, 30, 40);
    tall.draw(kStamp, TextBox{3, 0, 300, 70}, kStampFormat, true, big);
    Canvas low(320, 70, 30, 30, 40);
    const TextBox frame{3, 50, 300, 70};
    low.draw(kStamp, frame, kStampFormat, true, big);
    expectSameInside(low, tall, frame);
    int inFrame = 0;
    for (int x = 0; x < 320; ++x)
        inFrame += low.changed(x, 55);
    EXPECT_GT(inFrame, 0);
}

TEST(DrawText, RectanglesPartlyOutsideThePictureAreCutAtItsEdges) {
    // The same drawing on a larger picture, shifted, is the reference.
    const int dx = 70, dy = 40;
    for (const TextBox rect : {TextBox{-30, -20, 100, 25}, TextBox{30, 15, 300, 300}}) {
        Canvas small(60, 30, 238, 242, 247);
        Canvas large(400, 400, 238, 242, 247);
        small.draw(kInfo, rect, kInfoFormat, true, sheetFont(), kBlack);
        large.draw(kInfo, TextBox{rect.left + dx, rect.top + dy, rect.right + dx, rect.bottom + dy},
                   kInfoFormat, true, sheetFont(), kBlack);
        expectSameInside(small, large, TextBox{0, 0, 60, 30}, dx, dy);
        int changed = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 60; ++x)
                changed += small.changed(x, y);
        EXPECT_GT(changed, 0);
    }
}

TEST(DrawText, AccentedNameDrawsAGlyphForEveryCharacter) {
    const auto picture = [](std::string_view s) {
        Canvas canvas(40, 30, 0, 0, 0);
        canvas.draw(s, TextBox{2, 2, 40, 30}, TextFlags{}, false, sheetFont(-16));
        return canvas.bytes();
    };
    const std::vector<uint8_t> box = picture("\xF4\x8F\xBF\xBD");
    const std::vector<uint8_t> empty = picture("");
    const std::string name = "Caf\xC3\xA9 \xC3\x9Cn\xC3\xAF"
                             "code.avi";
    for (size_t pos = 0; pos < name.size();) {
        const size_t start = pos;
        pos += (static_cast<uint8_t>(name[pos]) >= 0xC0) ? 2 : 1;
        const std::string_view c = std::string_view(name).substr(start, pos - start);
        if (c == " ")
            continue;
        const std::vector<uint8_t> drawn = picture(c);
        EXPECT_NE(drawn, empty) << c;
        EXPECT_NE(drawn, box) << c;
    }
    // The accents are really there.
    EXPECT_NE(picture("\xC3\xA9"), picture("e"));
    EXPECT_NE(picture("\xC3\x9C"), picture("U"));
    EXPECT_NE(picture("\xC3\xAF"), picture("i"));
}

TEST(DrawText, UnderlineAndStrikeOutSpanTheText) {
    FontDescription font = sheetFont(-20, 400);
    font.underline = true;
    font.strikeOut = true;
    Canvas canvas(200, 40, 0, 0, 0);
    canvas.draw("Ti Ti", TextBox{10, 5, 200, 40}, TextFlags{}, false, font);
    const int64_t width = measuredWidth("Ti Ti", font);
    const text::FontMetrics& m = text::fontMetrics(*text::findFont(sheetFont(-20, 400)));
    // Full rows: one below the baseline, one through the middle of the
    // letters (where the space between the words is otherwise empty).
    std::vector<int> fullRows;
    for (int y = 5; y < 40; ++y) {
        bool full = true;
        for (int x = 11; x < 10 + width - 1 && full; ++x)
            full = canvas.changed(x, y);
        if (full)
            fullRows.push_back(y);
    }
    const int baseline = 5 + m.ascent;
    EXPECT_TRUE(std::any_of(fullRows.begin(), fullRows.end(), [&](int y) { return y > baseline; }));
    EXPECT_TRUE(std::any_of(fullRows.begin(), fullRows.end(),
                            [&](int y) { return y < baseline - 2 && y > baseline - m.ascent; }));
}

TEST(DrawText, BadInputDrawsReplacementsOrNothing) {
    const auto picture = [](std::string_view s, TextBox rect = TextBox{2, 2, 100, 30},
                            const FontDescription& font = sheetFont()) {
        Canvas canvas(100, 30, 10, 20, 30);
        canvas.draw(s, rect, TextFlags{}, true, font);
        return canvas.bytes();
    };
    const std::vector<uint8_t> blank = Canvas(100, 30, 10, 20, 30).bytes();

    // Invalid UTF-8 shows the replacement glyph, and a sequence cut by the
    // end of the view is not completed from the bytes beyond it.
    EXPECT_EQ(picture("a\xFF"
                      "b"),
              picture("a\xEF\xBF\xBD"
                      "b"));
    const std::string storage = "ab\xE2\x82\xAC";
    EXPECT_EQ(picture(std::string_view(storage.data(), 4)), picture("ab\xEF\xBF\xBD"));
    EXPECT_NE(picture(storage), picture("ab\xEF\xBF\xBD"));

    // Nothing to draw, or nowhere to draw it.
    EXPECT_EQ(picture(""), blank);
    EXPECT_EQ(picture(kStamp, TextBox{50, 5, 50, 25}), blank);
    EXPECT_EQ(picture(kStamp, TextBox{50, 25, 20, 5}), blank);
    EXPECT_EQ(picture(kStamp, TextBox{100, 0, 200, 30}), blank);
    const TextSize empty = measureText("", TextFlags{}, sheetFont());
    EXPECT_EQ(empty.width, 0);
    EXPECT_EQ(empty.height, 0);

    // An image that never got pixels draws nothing, safely.
    RasterImage none;
    none.drawText(kStamp, TextBox{0, 0, 50, 50}, TextFlags{}, true, sheetFont(), kBlack);
    EXPECT_FALSE(none.hasPixels());

    // A face name of 32 bytes, one that is not UTF-8 (read as Latin-1, as
    // older settings have it), and absurd heights: the text is still drawn,
    // at a clamped size.
    EXPECT_NE(picture(kStamp, TextBox{2, 2, 100, 30}, sheetFont(-11, 700, std::string(32, 'A'))),
              blank);
    EXPECT_NE(picture(kStamp, TextBox{2, 2, 100, 30}, sheetFont(-11, 700, "Caf\xE9")), blank);
    EXPECT_EQ(text::findFont(sheetFont(-11, 700, "DejaVu Sans\xA0")) != nullptr, true);
    for (int32_t height : {100000, -100000}) {
        const FontDescription huge = sheetFont(height);
        // The baseline lands about 15 rows into the picture, and the middle
        // of the digit near x = 80.
        EXPECT_NE(picture("8", TextBox{-200, -890, 100, 30}, huge), blank) << height;
        const TextSize measure = measureText(kStamp, TextFlags{.singleLine = true}, huge);
        EXPECT_GT(measure.height, 100);
        EXPECT_LE(measure.height, 1300);
    }
}

TEST(DrawText, TwoThreadsDrawOnTwoPicturesAtOnce) {
    // Each thread draws a sheet of stamps in the shared sheet font and in a
    // font of its own that nobody has asked for yet, so faces are created,
    // glyphs rendered and fallbacks opened while the other thread draws.
    const auto sheet = [](int offset, const FontDescription& own) {
        Canvas canvas(791, 655, 50, 60, 70);
        for (int i = 0; i < 25; ++i) {
            const int x = 10 + (i % 5) * 160, y = 10 + (i / 5) * 125;
            const std::string stamp = "00:0" + std::to_string((i + offset) % 10) + ":1" +
                                      std::to_string(i % 7) + ".45 \xE2\x98\x83";
            canvas.draw(stamp, TextBox{x + 3, y, x + 153, y + 117}, kStampFormat, true,
                        i % 2 ? own : sheetFont());
        }
        canvas.draw(kInfo, TextBox{10, 560, 300, 640}, kInfoFormat, false, own, kBlack);
        return canvas.bytes();
    };
    FontDescription serif = sheetFont(-13, 400, "Liberation Serif");
    serif.italic = true;
    const FontDescription mono = sheetFont(-12, 700, "DejaVu Sans Mono");
    std::vector<uint8_t> a, b;
    std::thread one([&] {
        for (int i = 0; i < 10; ++i)
            a = sheet(0, serif);
    });
    std::thread two([&] {
        for (int i = 0; i < 10; ++i)
            b = sheet(3, mono);
    });
    one.join();
    two.join();
    EXPECT_EQ(a, sheet(0, serif));
    EXPECT_EQ(b, sheet(3, mono));
    EXPECT_NE(a, b);
}

TEST(DrawText, SamplePicture) {
    // Two frames with their stamps and the information block, as on a sheet
    // with the default settings.
    Canvas sheet(360, 200, 238, 242, 247);
    sheet.image.fillRect(10, 10, 156, 117, Rgb{20, 24, 30});
    sheet.image.fillRect(186, 10, 156, 117, Rgb{225, 228, 220});
    for (const int left : {10, 186})
        sheet.draw(kStamp, TextBox{left + 3, 10, left + 153, 127}, kStampFormat, true);
    const TextSize size = measureText(kInfo, kInfoFormat, sheetFont());
    EXPECT_GT(size.width, 100);
    sheet.draw(kInfo, TextBox{10, 140, 10 + size.width, 140 + size.height}, kInfoFormat, false,
               sheetFont(), kBlack);
    // Accents, and a character only a fallback face has.
    sheet.draw("Caf\xC3\xA9 \xC3\x9Cn\xC3\xAF"
               "code \xE2\x98\x83.avi",
               TextBox{186, 140, 350, 160}, TextFlags{}, false, sheetFont(), kBlack);
    EXPECT_TRUE(sheet.image.saveBmp(std::string(TEXT_TEST_OUTPUT_DIR) + "/text_sample.bmp"));
}

} // namespace
