// Text on pictures, on top of the text layer: this file turns the settings'
// font record into a font request, the format flags into a layout, and blends
// the glyph masks into the bitmap. Only the pixels under the glyphs are read
// and written, so a time stamp costs the same on any size of sheet.

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/text/font.h"
#include "platform/text/utf8.h"
#include "render/raster_image.h"

namespace {

// The face name is at most 32 bytes and may lack its terminator. Names from
// older files may be in a single-byte code page; those are read as Latin-1
// so fontconfig still gets valid UTF-8.
std::string faceNameOf(const LOGFONTA& font) {
    const char* name = font.lfFaceName;
    const void* end = std::memchr(name, '\0', LF_FACESIZE);
    const size_t length =
        end ? static_cast<size_t>(static_cast<const char*>(end) - name) : size_t{LF_FACESIZE};
    std::string bytes(name, length);
    if (text::isValidUtf8(bytes))
        return bytes;
    std::string latin1;
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        if (b < 0x80) {
            latin1 += c;
        } else {
            latin1 += static_cast<char>(0xC0 | (b >> 6));
            latin1 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return latin1;
}

text::FontRequest requestFor(const LOGFONTA& font) {
    text::FontRequest request;
    request.family = faceNameOf(font);
    request.height = font.lfHeight;
    request.width = font.lfWidth;
    request.weight = font.lfWeight;
    request.italic = font.lfItalic != 0;
    request.underline = font.lfUnderline != 0;
    request.strikeOut = font.lfStrikeOut != 0;
    request.pitchAndFamily = font.lfPitchAndFamily;
    return request;
}

int32_t saturatingAdd(int32_t base, int64_t extent) {
    const int64_t sum = static_cast<int64_t>(base) + extent;
    return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Blends masks into a 24-bit bottom-up bitmap, cut to the clip box: each
// channel moves from what is there towards the colour by the coverage.
class Blender final : public text::MaskSink {
public:
    Blender(RasterImage& image, const text::ClipBox& clip, COLORREF fill)
        : image_(image), clip_(clip), fill_{GetBValue(fill), GetGValue(fill), GetRValue(fill)} {}

    void draw(const text::GlyphMask& mask, text::MaskLayer layer) override {
        static constexpr uint8_t kBlack[3] = {0, 0, 0};
        const uint8_t* colour = layer == text::MaskLayer::Outline ? kBlack : fill_;
        const int left = std::max(mask.x, clip_.left);
        const int right = static_cast<int>(
            std::min<int64_t>(static_cast<int64_t>(mask.x) + mask.width, clip_.right));
        const int top = std::max(mask.y, clip_.top);
        const int bottom = static_cast<int>(
            std::min<int64_t>(static_cast<int64_t>(mask.y) + mask.height, clip_.bottom));
        for (int y = top; y < bottom; ++y) {
            uint8_t* row =
                image_.pixels + static_cast<ptrdiff_t>(image_.height() - 1 - y) * image_.stride;
            const uint8_t* coverage =
                mask.coverage ? mask.coverage + static_cast<ptrdiff_t>(y - mask.y) * mask.pitch
                              : nullptr;
            for (int x = left; x < right; ++x) {
                const unsigned a = coverage ? coverage[x - mask.x] : 255u;
                if (a == 0)
                    continue;
                uint8_t* p = row + static_cast<ptrdiff_t>(x) * 3;
                if (a == 255) {
                    p[0] = colour[0];
                    p[1] = colour[1];
                    p[2] = colour[2];
                    continue;
                }
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<uint8_t>((colour[c] * a + p[c] * (255u - a) + 127u) / 255u);
            }
        }
    }

private:
    RasterImage& image_;
    text::ClipBox clip_;
    uint8_t fill_[3]; // blue, green, red: the bytes' order in memory
};

} // namespace

void RasterImage::drawText(std::string_view text, RECT& rect, uint32_t format, bool outline,
                           const LOGFONTA& font, COLORREF textColor) {
    text::Font* face = text::findFont(requestFor(font));
    text::LayoutFlags flags;
    flags.singleLine = (format & DT_SINGLELINE) != 0;
    flags.expandTabs = (format & DT_EXPANDTABS) != 0;
    flags.alignBottom = (format & DT_BOTTOM) != 0;

    if (format & DT_CALCRECT) {
        const text::TextExtent extent =
            face ? text::measureText(*face, text, flags) : text::TextExtent{};
        rect.right = saturatingAdd(rect.left, extent.width);
        rect.bottom = saturatingAdd(rect.top, extent.height);
        return;
    }
    if (!face || !pixels || text.empty())
        return;

    // Text is cut to the layout rectangle and to the picture.
    text::ClipBox clip;
    clip.left = std::max(rect.left, 0);
    clip.top = std::max(rect.top, 0);
    clip.right = std::min(rect.right, width());
    clip.bottom = std::min(rect.bottom, height());
    if (clip.right <= clip.left || clip.bottom <= clip.top)
        return;

    Blender blender(*this, clip, textColor);
    text::renderText(*face, text, flags, rect.left, flags.alignBottom ? rect.bottom : rect.top,
                     clip, outline, blender);
}
