#include "platform/text/utf8.h"

#include <cstdint>

namespace text {

char32_t decodeUtf8(std::string_view text, size_t& pos) {
    const size_t size = text.size();
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }

    // The lead byte fixes the length and the allowed range of the second
    // byte; the narrower ranges exclude overlong forms, surrogates and values
    // above U+10FFFF.
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        ++pos;
        return kReplacementChar;
    }

    size_t i = pos + 1;
    for (size_t k = 1; k < length; ++k, ++i) {
        if (i >= size) {
            pos = i;
            return kReplacementChar;
        }
        const uint8_t b = byte(i);
        const uint8_t lo = k == 1 ? low : 0x80;
        const uint8_t hi = k == 1 ? high : 0xBF;
        if (b < lo || b > hi) {
            // The bad byte is not consumed: it may start the next character.
            pos = i;
            return kReplacementChar;
        }
        value = (value << 6) | (b & 0x3F);
    }
    pos = i;
    return value;
}

bool isValidUtf8(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = pos;
        const char32_t c = decodeUtf8(text, pos);
        // A replacement for bad input is told from a genuine U+FFFD by the
        // bytes it stands for.
        if (c == kReplacementChar && text.substr(start, pos - start) != "\xEF\xBF\xBD")
            return false;
    }
    return true;
}

std::string utf8OrLatin1(std::string_view text) {
    if (isValidUtf8(text))
        return std::string(text);
    std::string utf8;
    utf8.reserve(text.size() * 2);
    for (const char c : text) {
        const auto b = static_cast<uint8_t>(c);
        if (b < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (b >> 6));
            utf8 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return utf8;
}

} // namespace text
