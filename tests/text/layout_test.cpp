// The text layer on its own: which face a request gets, its metrics, and the
// masks it hands out.
#include "platform/text/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>
#include <utility>
#include <vector>

namespace {

FontDescription request(std::string face, int32_t height = -11, int32_t weight = 400) {
    FontDescription r;
    r.face = std::move(face);
    r.height = height;
    r.weight = weight;
    return r;
}

// Collects the fill coverage of one call as a sparse picture.
class Collector final : public text::MaskSink {
public:
    void draw(const text::GlyphMask& mask, text::MaskLayer layer) override {
        if (layer != text::MaskLayer::Fill)
            return;
        for (int y = 0; y < mask.height; ++y)
            for (int x = 0; x < mask.width; ++x) {
                const int a = mask.coverage ? mask.coverage[y * mask.pitch + x] : 255;
                if (a > 0)
                    coverage[{mask.x + x, mask.y + y}] = a;
            }
    }
    std::map<std::pair<int, int>, int> coverage;
};

std::map<std::pair<int, int>, int> rendered(text::Font& font, std::string_view s) {
    Collector sink;
    text::renderText(font, s, {}, 0, 0, text::ClipBox{-1000, -1000, 1000, 1000}, false, sink);
    return sink.coverage;
}

TEST(FontMatching, ArialResolvesToItsMetricCompatibleSubstitute) {
    text::Font* regular = text::findFont(request("Arial"));
    text::Font* bold = text::findFont(request("Arial", -11, 700));
    ASSERT_NE(regular, nullptr);
    ASSERT_NE(bold, nullptr);
    EXPECT_EQ(text::fontFamily(*regular), "Liberation Sans");
    EXPECT_NE(text::fontFile(*bold).find("LiberationSans-Bold"), std::string::npos);
    // The same request gives the same cached font.
    EXPECT_EQ(text::findFont(request("Arial")), regular);
    // Family names are matched without regard to case.
    EXPECT_EQ(text::fontFamily(*text::findFont(request("dejavu serif"))), "DejaVu Serif");
}

TEST(FontMatching, UnknownOrEmptyFaceFallsBackToARealFace) {
    for (const char* name : {"No Such Face 9f3a", ""}) {
        text::Font* font = text::findFont(request(name));
        ASSERT_NE(font, nullptr) << name;
        EXPECT_TRUE(std::filesystem::exists(text::fontFile(*font))) << name;
        EXPECT_FALSE(rendered(*font, "Abc").empty()) << name;
    }
}

TEST(FontMatching, PitchAndKindChooseTheSubstituteForAMissingFace) {
    const auto familyFor = [](bool fixedPitch, FontKind kind) {
        FontDescription d = request("No Such Face 9f3a");
        d.fixedPitch = fixedPitch;
        d.kind = kind;
        return text::fontFamily(*text::findFont(d));
    };
    EXPECT_EQ(familyFor(false, FontKind::Serif), "DejaVu Serif");
    EXPECT_EQ(familyFor(false, FontKind::Sans), "DejaVu Sans");
    EXPECT_EQ(familyFor(false, FontKind::Monospace), "DejaVu Sans Mono");
    // A fixed pitch wins over the kind.
    EXPECT_EQ(familyFor(true, FontKind::Serif), "DejaVu Sans Mono");
    // An installed face is taken whatever the kind says.
    FontDescription arial = request("Arial");
    arial.kind = FontKind::Monospace;
    EXPECT_EQ(text::fontFamily(*text::findFont(arial)), "Liberation Sans");
}

TEST(FontMetrics, HeightRulesAndTabStops) {
    // Negative: the em height in pixels; the cell is ascent + descent.
    const text::FontMetrics& em = text::fontMetrics(*text::findFont(request("Arial", -11)));
    EXPECT_EQ(em.emPixels, 11);
    EXPECT_EQ(em.lineHeight, em.ascent + em.descent);
    EXPECT_GE(em.lineHeight, 12);
    EXPECT_LE(em.lineHeight, 14);
    EXPECT_EQ(em.tabWidth, 8 * em.averageCharWidth);
    // The stand-in for Arial gives Arial's average width (0.44 em), not the
    // mean over its many extra glyphs (0.58 em), so tab stops fall where the
    // sheet's layout expects them.
    EXPECT_EQ(em.averageCharWidth, 5);
    EXPECT_EQ(text::fontMetrics(*text::findFont(request("Arial", -100))).averageCharWidth, 44);

    // Positive: the cell height itself, so the em is smaller.
    const text::FontMetrics& cell = text::fontMetrics(*text::findFont(request("Arial", 30)));
    EXPECT_EQ(cell.lineHeight, 30);
    EXPECT_LT(cell.emPixels, 30);

    // Zero: some ordinary size.
    const text::FontMetrics& def = text::fontMetrics(*text::findFont(request("Arial", 0)));
    EXPECT_GE(def.emPixels, 8);
    EXPECT_LE(def.emPixels, 20);
}

TEST(FontMetrics, AbsurdHeightsAreClamped) {
    for (int32_t height : {100000, -100000, INT_MAX, INT_MIN}) {
        text::Font* font = text::findFont(request("Arial", height));
        ASSERT_NE(font, nullptr) << height;
        const text::FontMetrics& m = text::fontMetrics(*font);
        EXPECT_LE(m.emPixels, 1000) << height;
        EXPECT_LE(m.lineHeight, 1300) << height;
        EXPECT_GT(m.lineHeight, 100) << height;
    }
}

TEST(FontMetrics, BoldIsWiderThanRegular) {
    const std::string_view s = "File Name: clip.avi";
    const auto regular = text::measureText(*text::findFont(request("Arial", -11, 400)), s, {});
    const auto bold = text::measureText(*text::findFont(request("Arial", -11, 700)), s, {});
    EXPECT_GT(bold.width, regular.width);
    EXPECT_EQ(bold.height, regular.height);
}

TEST(FontMetrics, AskedWidthScalesTheGlyphsSideways) {
    FontDescription wide = request("Arial", -11);
    wide.width = 10;
    text::Font& font = *text::findFont(wide);
    EXPECT_EQ(text::fontMetrics(font).averageCharWidth, 10);
    EXPECT_EQ(text::fontMetrics(font).lineHeight,
              text::fontMetrics(*text::findFont(request("Arial", -11))).lineHeight);
    const auto normal = text::measureText(*text::findFont(request("Arial", -11)), "Duration", {});
    EXPECT_GT(text::measureText(font, "Duration", {}).width, normal.width * 3 / 2);
}

TEST(FontMatching, StylesTheFaceLacksAreMadeUp) {
    // This face comes in one upright regular style only.
    const std::string face = "DejaVu Math TeX Gyre";
    text::Font& regular = *text::findFont(request(face, -20, 400));
    text::Font& bold = *text::findFont(request(face, -20, 700));
    FontDescription italicRequest = request(face, -20, 400);
    italicRequest.italic = true;
    text::Font& italic = *text::findFont(italicRequest);
    ASSERT_EQ(text::fontFile(bold), text::fontFile(regular));
    ASSERT_EQ(text::fontFile(italic), text::fontFile(regular));

    const std::string_view s = "Hill";
    EXPECT_GT(text::measureText(bold, s, {}).width, text::measureText(regular, s, {}).width);
    const auto ink = [](const std::map<std::pair<int, int>, int>& coverage) {
        long sum = 0;
        for (const auto& [at, a] : coverage)
            sum += a;
        return sum;
    };
    EXPECT_GT(ink(rendered(bold, s)), ink(rendered(regular, s)) * 11 / 10);
    // Slanted: the same advances, but the tops of the letters lean right.
    EXPECT_EQ(text::measureText(italic, s, {}).width, text::measureText(regular, s, {}).width);
    const auto rightmostInTopRow = [](const std::map<std::pair<int, int>, int>& coverage) {
        int top = INT_MAX, right = INT_MIN;
        for (const auto& [at, a] : coverage)
            top = std::min(top, at.second);
        for (const auto& [at, a] : coverage)
            if (at.second == top)
                right = std::max(right, at.first);
        return right;
    };
    EXPECT_GT(rightmostInTopRow(rendered(italic, "l")),
              rightmostInTopRow(rendered(regular, "l")) + 1);
}

TEST(Fallback, MissingGlyphsComeFromAnotherFace) {
    // Liberation Sans has no snowman and no replacement character; DejaVu
    // Sans has both. No installed face has the private-use U+10FFFD, which
    // therefore shows the missing-glyph box.
    text::Font& font = *text::findFont(request("Arial", -20));
    const auto box = rendered(font, "\xF4\x8F\xBF\xBD");
    ASSERT_FALSE(box.empty());
    for (const char* s : {"\xE2\x98\x83", "\xEF\xBF\xBD"}) {
        const auto glyph = rendered(font, s);
        EXPECT_FALSE(glyph.empty()) << s;
        EXPECT_NE(glyph, box) << s;
    }
}

TEST(Layout, LinesTabsAndControls) {
    text::Font& font = *text::findFont(request("Arial"));
    const text::FontMetrics& m = text::fontMetrics(font);
    const auto one = text::measureText(font, "ab", {});
    EXPECT_EQ(one.lines, 1);
    EXPECT_EQ(one.height, m.lineHeight);

    // \n, \r\n and \r each break once; a final break opens no new line.
    EXPECT_EQ(text::measureText(font, "a\nb\r\nc\rd", {}).lines, 4);
    EXPECT_EQ(text::measureText(font, "a\n", {}).lines, 1);
    EXPECT_EQ(text::measureText(font, "a\n\n", {}).lines, 2);
    EXPECT_EQ(text::measureText(font, "", {}).lines, 0);
    EXPECT_EQ(text::measureText(font, "", {}).width, 0);

    text::LayoutFlags single;
    single.singleLine = true;
    const auto joined = text::measureText(font, "ab\r\nab", single);
    EXPECT_EQ(joined.lines, 1);
    EXPECT_EQ(joined.width, text::measureText(font, "abab", {}).width);

    // A tab goes to the next stop strictly to the right, or takes no room at
    // all when tabs are not expanded.
    text::LayoutFlags tabs;
    tabs.expandTabs = true;
    const int64_t c = text::measureText(font, "c", {}).width;
    EXPECT_EQ(text::measureText(font, "ab\tc", tabs).width, m.tabWidth + c);
    EXPECT_EQ(text::measureText(font, "\tc", tabs).width, m.tabWidth + c);
    EXPECT_EQ(text::measureText(font, "\t\tc", tabs).width, 2 * m.tabWidth + c);
    EXPECT_EQ(text::measureText(font, "ab\tc", {}).width, text::measureText(font, "abc", {}).width);
}

} // namespace
