#pragma once
// Decoding UTF-8 that may be damaged: file names come from the file system and
// are not guaranteed to be valid. Each ill-formed sequence becomes one U+FFFD
// per maximal bad subpart (the usual W3C/Unicode practice), so a stray byte
// costs one replacement glyph and never swallows the characters after it.

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes the code point starting at `pos` and advances `pos` past it
// (always by at least one byte). The caller guarantees pos < text.size();
// nothing at or beyond text.size() is read.
char32_t decodeUtf8(std::string_view text, size_t& pos);

// True when the whole of `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// `text` itself when it is well-formed UTF-8; otherwise `text` read as
// Latin-1, where every byte is a character, in UTF-8. For names from older
// files written in a single-byte code page.
std::string utf8OrLatin1(std::string_view text);

} // namespace text
