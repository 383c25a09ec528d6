// Text on pictures, on top of the text layer: this file turns the box and
// flags into a layout and blends the glyph masks into the picture. Only the
// pixels under the glyphs are read and written, so a time stamp costs the
// same on any size of sheet.

#include <algorithm>
#include <limits>

#include "platform/text/font.h"
#include "render/raster_image.h"

namespace {

text::LayoutFlags layoutFlags(TextFlags flags) {
    text::LayoutFlags layout;
    layout.singleLine = flags.singleLine;
    layout.expandTabs = flags.expandTabs;
    layout.alignBottom = flags.alignBottom;
    return layout;
}

int32_t saturated(int64_t extent) {
    return static_cast<int32_t>(std::clamp<int64_t>(extent, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Blends masks into the picture, cut to the clip box: each channel moves from
// what is there towards the colour by the coverage.
class Blender final : public text::MaskSink {
public:
    Blender(RasterImage& image, const text::ClipBox& clip, Rgb fill)
        : image_(image), clip_(clip), fill_{fill.r, fill.g, fill.b} {}

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
            uint8_t* row = image_.row(y);
            const uint8_t* coverage =
                mask.coverage ? mask.coverage + static_cast<ptrdiff_t>(y - mask.y) * mask.pitch
                              : nullptr;
            for (int x = left; x < right; ++x) {
                const unsigned a = coverage ? coverage[x - mask.x] : 255u;
                if (a == 0)
                    continue;
                uint8_t* p = row + static_cast<ptrdiff_t>(x) * RasterImage::kBytesPerPixel;
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
    uint8_t fill_[3]; // in the pixels' order
};

} // namespace

TextSize measureText(std::string_view text, TextFlags flags, const FontDescription& font) {
    text::Font* face = text::findFont(font);
    if (!face)
        return {};
    const text::TextExtent extent = text::measureText(*face, text, layoutFlags(flags));
    return TextSize{saturated(extent.width), saturated(extent.height)};
}

void RasterImage::drawText(std::string_view text, const TextBox& box, TextFlags flags, bool outline,
                           const FontDescription& font, Rgb colour) {
    if (!pixels_ || text.empty())
        return;
    text::Font* face = text::findFont(font);
    if (!face)
        return;

    // Text is cut to the layout box and to the picture.
    text::ClipBox clip;
    clip.left = std::max(box.left, 0);
    clip.top = std::max(box.top, 0);
    clip.right = std::min(box.right, width_);
    clip.bottom = std::min(box.bottom, height_);
    if (clip.right <= clip.left || clip.bottom <= clip.top)
        return;

    Blender blender(*this, clip, colour);
    text::renderText(*face, text, layoutFlags(flags), box.left,
                     flags.alignBottom ? box.bottom : box.top, clip, outline, blender);
}
