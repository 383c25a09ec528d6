// The text layer on arbitrary bytes: the UTF-8 decoder against what UTF-8
// is, then measuring and drawing with outline, tabs, one line or many, in
// several faces and sizes, onto a picture of the measured size.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/text/utf8.h"
#include "render/raster_image.h"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "text fuzzer: %s\n", what);
        std::abort();
    }
}

void encode(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decoding never stalls, never reads past the end and yields only Unicode
// scalar values; valid text survives decoding and encoding unchanged, and
// invalid text yields at least one replacement character.
void checkDecoder(std::string_view text) {
    std::string again;
    bool replaced = false;
    for (size_t at = 0; at < text.size();) {
        const size_t before = at;
        const char32_t c = text::decodeUtf8(text, at);
        check(at > before && at - before <= 4 && at <= text.size(), "the decoder lost its place");
        check(c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF), "not a Unicode scalar value");
        replaced = replaced || c == text::kReplacementChar;
        encode(c, again);
    }
    if (text::isValidUtf8(text))
        check(again == text, "valid UTF-8 did not survive decoding");
    else
        check(replaced, "invalid UTF-8 decoded without a replacement");
}

constexpr const char* kFaces[] = {
    "Arial", "DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono", "Liberation Sans",
    "",      "No Such Face"};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("FONTCONFIG_FILE", STILLWICK_FUZZ_FONTS_CONF, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 2048)
        return -1;
    const uint8_t flags = data[0];
    const uint8_t height = data[1];
    const uint8_t face = data[2];
    const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);
    checkDecoder(text);

    // The text layer keeps every font it was asked for, with up to 4 MiB of
    // glyphs each, until the process ends; the program asks for one or two.
    // A fixed few sizes keep the fuzzer's memory bounded in the same way.
    static constexpr int32_t kHeights[] = {-8, -11, -16, -27, 12, 20};
    FontDescription font;
    font.height = kHeights[height % std::size(kHeights)];
    font.weight = (flags & 0x40) ? 700 : 400;
    font.italic = (flags & 0x20) != 0;
    font.underline = (flags & 0x10) != 0;
    font.face = kFaces[face % std::size(kFaces)];
    TextFlags format;
    format.singleLine = (flags & 1) != 0;
    format.expandTabs = (flags & 2) != 0;
    const bool outline = (flags & 4) != 0;

    const TextSize measured = measureText(text, format, font);
    check(measured.width >= 0 && measured.height >= 0, "a measured box of negative size");

    // Drawn into a picture of its size (within reason), then half as wide so
    // the text is cut at the edge.
    const int width = static_cast<int>(std::min<int64_t>(int64_t{measured.width} + 2, 1024));
    const int height2 = static_cast<int>(std::min<int64_t>(int64_t{measured.height} + 2, 512));
    RasterImage picture;
    if (!picture.create(std::max(width, 1), std::max(height2, 1)))
        return 0;
    picture.fill(Rgb{30, 60, 90});
    TextBox box{1, 1, width - 1, height2 - 1};
    if (flags & 8) {
        format.alignBottom = true;
        box.top = -height2;
    }
    picture.drawText(text, box, format, outline, font, Rgb{255, 255, 0});
    const TextBox half{width / 2, 0, width, height2};
    picture.drawText(text, half, format, !outline, font, Rgb{0, 0, 0});
    return 0;
}
