#include "platform/text/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<char32_t> decodeAll(std::string_view s) {
    std::vector<char32_t> out;
    size_t pos = 0;
    while (pos < s.size()) {
        const size_t before = pos;
        out.push_back(text::decodeUtf8(s, pos));
        EXPECT_GT(pos, before);
        EXPECT_LE(pos, s.size());
    }
    return out;
}

constexpr char32_t R = text::kReplacementChar;

TEST(Utf8, DecodesEveryLength) {
    EXPECT_EQ(decodeAll("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              (std::vector<char32_t>{U'a', U'\u00E9', U'\u20AC', U'\U0001F600'}));
    EXPECT_EQ(decodeAll("\xF4\x8F\xBF\xBF"), (std::vector<char32_t>{U'\U0010FFFF'}));
}

TEST(Utf8, IllFormedBytesBecomeOneReplacementPerBadSubpart) {
    // Stray continuation and impossible lead bytes: one each.
    EXPECT_EQ(decodeAll("\x80\xFF"
                        "a"),
              (std::vector<char32_t>{R, R, U'a'}));
    // Overlong forms, a surrogate and a value past U+10FFFF are refused at
    // their second byte, which then stands alone.
    EXPECT_EQ(decodeAll("\xC0\xAF"), (std::vector<char32_t>{R, R}));
    EXPECT_EQ(decodeAll("\xE0\x80\xAF"), (std::vector<char32_t>{R, R, R}));
    EXPECT_EQ(decodeAll("\xED\xA0\x80"), (std::vector<char32_t>{R, R, R}));
    EXPECT_EQ(decodeAll("\xF4\x90\x80\x80"), (std::vector<char32_t>{R, R, R, R}));
    // A sequence cut short keeps the character that interrupted it.
    EXPECT_EQ(decodeAll("\xE2\x82"
                        "a"),
              (std::vector<char32_t>{R, U'a'}));
    EXPECT_EQ(decodeAll("\xF0\x9F\x98"
                        "\xC3\xA9"),
              (std::vector<char32_t>{R, U'\u00E9'}));
}

TEST(Utf8, NeverReadsPastTheView) {
    // The bytes after the view would complete the sequence; the decoder must
    // not look at them.
    const std::string storage = "ab\xE2\x82\xAC";
    EXPECT_EQ(decodeAll(std::string_view(storage.data(), 4)),
              (std::vector<char32_t>{U'a', U'b', R}));
    EXPECT_EQ(decodeAll(std::string_view(storage.data(), 3)),
              (std::vector<char32_t>{U'a', U'b', R}));
}

TEST(Utf8, ValidityTellsGenuineReplacementFromDamage) {
    EXPECT_TRUE(text::isValidUtf8(""));
    EXPECT_TRUE(text::isValidUtf8("Caf\xC3\xA9 \xEF\xBF\xBD"));
    EXPECT_FALSE(text::isValidUtf8("Caf\xE9"));
    EXPECT_FALSE(text::isValidUtf8("\xF0\x9F\x98"));
}

TEST(Utf8, NamesThatAreNotUtf8AreReadAsLatin1) {
    EXPECT_EQ(text::utf8OrLatin1(""), "");
    EXPECT_EQ(text::utf8OrLatin1("Caf\xC3\xA9"), "Caf\xC3\xA9"); // valid: unchanged
    EXPECT_EQ(text::utf8OrLatin1("Caf\xE9"), "Caf\xC3\xA9");
    // One stray byte makes the whole name Latin-1, including bytes that
    // would have been UTF-8.
    EXPECT_EQ(text::utf8OrLatin1("\xC3\xA9\xFF"), "\xC3\x83\xC2\xA9\xC3\xBF");
    EXPECT_TRUE(text::isValidUtf8(text::utf8OrLatin1("\x80\x9F\xA0\xFF")));
}

} // namespace
