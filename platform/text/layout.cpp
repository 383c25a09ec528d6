#include <algorithm>

#include "platform/text/font.h"
#include "platform/text/font_internal.h"
#include "platform/text/utf8.h"

namespace text {
namespace {

bool isControl(hb_codepoint_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// Shapes codepoints [runStart, runEnd) with one face, the segment around them
// serving as context, and places the glyphs from `pen` on. Returns the pen
// after the run.
int64_t shapeRun(Font& font, size_t segmentStart, size_t segmentEnd, size_t runStart, size_t runEnd,
                 uint16_t slotIndex, int64_t pen, int64_t baseline, bool keepGlyphs) {
    const FaceSlot& slot = font.slots[slotIndex];
    hb_buffer_t* buffer = font.buffer;
    hb_buffer_clear_contents(buffer);
    hb_buffer_add_codepoints(
        buffer, font.codepoints.data() + segmentStart, static_cast<int>(segmentEnd - segmentStart),
        static_cast<unsigned>(runStart - segmentStart), static_cast<int>(runEnd - runStart));
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(slot.shaper, buffer, nullptr, 0);

    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    for (unsigned i = 0; i < count; ++i) {
        if (keepGlyphs) {
            PlacedGlyph glyph;
            glyph.x = pen + positions[i].x_offset;
            // Offsets point up; rows count down. Rounded to whole rows, as the
            // baseline is.
            glyph.baseline = baseline - ((positions[i].y_offset + 32) >> 6);
            glyph.glyphId = infos[i].codepoint;
            glyph.slot = slotIndex;
            font.placed.push_back(glyph);
        }
        pen += positions[i].x_advance;
        if (positions[i].x_advance != 0)
            pen += slot.embolden;
    }
    return pen;
}

// Lays out `font.codepoints` as one line; returns its width in pixels.
int64_t layoutLine(Font& font, LayoutFlags flags, int64_t baseline, bool keepGlyphs) {
    const std::vector<hb_codepoint_t>& cps = font.codepoints;
    const int64_t tab = static_cast<int64_t>(font.metrics.tabWidth) * 64;
    int64_t pen = 0;
    size_t i = 0;
    while (i < cps.size()) {
        if (cps[i] == '\t' && flags.expandTabs && tab > 0) {
            // The next stop strictly right of the pen, as tabs always move.
            pen = (std::max<int64_t>(pen, 0) / tab + 1) * tab;
            ++i;
            continue;
        }
        if (isControl(cps[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < cps.size() && !isControl(cps[end]))
            ++end;
        // Runs of one face: a face change splits the shaping, with the rest
        // of the segment still given as context.
        size_t runStart = i;
        uint16_t runSlot = font.slotFor(cps[i], -1);
        for (size_t k = i + 1; k < end; ++k) {
            const uint16_t slot = font.slotFor(cps[k], runSlot);
            if (slot != runSlot) {
                pen = shapeRun(font, i, end, runStart, k, runSlot, pen, baseline, keepGlyphs);
                runStart = k;
                runSlot = slot;
            }
        }
        pen = shapeRun(font, i, end, runStart, end, runSlot, pen, baseline, keepGlyphs);
        i = end;
    }
    return (std::max<int64_t>(pen, 0) + 63) / 64;
}

TextExtent layout(Font& font, std::string_view text, LayoutFlags flags, bool keepGlyphs) {
    font.placed.clear();
    font.lines.clear();
    TextExtent extent;
    const int64_t lineHeight = font.metrics.lineHeight;
    size_t pos = 0;
    while (pos < text.size()) {
        font.codepoints.clear();
        while (pos < text.size()) {
            const char32_t c = decodeUtf8(text, pos);
            if (!flags.singleLine && (c == '\n' || c == '\r')) {
                if (c == '\r' && pos < text.size() && text[pos] == '\n')
                    ++pos;
                break;
            }
            font.codepoints.push_back(static_cast<hb_codepoint_t>(c));
        }
        PlacedLine line;
        line.top = extent.lines * lineHeight;
        line.width = layoutLine(font, flags, line.top + font.metrics.ascent, keepGlyphs);
        font.lines.push_back(line);
        extent.width = std::max(extent.width, line.width);
        ++extent.lines;
    }
    extent.height = extent.lines * lineHeight;
    return extent;
}

bool reaches(int64_t x, int64_t y, int64_t width, int64_t height, const ClipBox& clip) {
    return width > 0 && height > 0 && x < clip.right && x + width > clip.left && y < clip.bottom &&
           y + height > clip.top;
}

void emitBar(int64_t x, int64_t y, int64_t width, int64_t height, bool outlined,
             const ClipBox& clip, MaskSink& sink) {
    if (outlined) {
        x -= 1;
        y -= 1;
        width += 2;
        height += 2;
    }
    // Only the part inside the clip box is handed on, so the numbers fit.
    const int64_t left = std::max<int64_t>(x, clip.left);
    const int64_t top = std::max<int64_t>(y, clip.top);
    const int64_t right = std::min<int64_t>(x + width, clip.right);
    const int64_t bottom = std::min<int64_t>(y + height, clip.bottom);
    if (!reaches(left, top, right - left, bottom - top, clip))
        return;
    GlyphMask mask;
    mask.x = static_cast<int>(left);
    mask.y = static_cast<int>(top);
    mask.width = static_cast<int>(right - left);
    mask.height = static_cast<int>(bottom - top);
    sink.draw(mask, outlined ? MaskLayer::Outline : MaskLayer::Fill);
}

} // namespace

TextExtent measureText(Font& font, std::string_view text, LayoutFlags flags) {
    std::lock_guard lock(font.mutex);
    return layout(font, text, flags, false);
}

TextExtent renderText(Font& font, std::string_view text, LayoutFlags flags, int64_t x, int64_t y,
                      const ClipBox& clip, bool outline, MaskSink& sink) {
    std::lock_guard lock(font.mutex);
    const TextExtent extent = layout(font, text, flags, true);
    if (clip.right <= clip.left || clip.bottom <= clip.top)
        return extent;
    const int64_t top = flags.alignBottom ? y - extent.height : y;
    const FontMetrics& m = font.metrics;
    // Glyphs farther than this from the clip box cannot reach into it (wide
    // ligatures, slanted or stacked marks included), so they are not even
    // rendered.
    const int64_t margin = 4 * static_cast<int64_t>(m.emPixels) + 4;

    for (int pass = outline ? 0 : 1; pass < 2; ++pass) {
        const bool stroked = pass == 0;
        const MaskLayer layer = stroked ? MaskLayer::Outline : MaskLayer::Fill;
        for (const PlacedLine& line : font.lines) {
            const int64_t baseline = top + line.top + m.ascent;
            if (font.underline)
                emitBar(x, baseline + m.underlineTop, line.width, m.underlineThickness, stroked,
                        clip, sink);
            if (font.strikeOut)
                emitBar(x, baseline - m.strikeOutTop, line.width, m.strikeOutThickness, stroked,
                        clip, sink);
        }
        for (const PlacedGlyph& placed : font.placed) {
            const int64_t baseline = top + placed.baseline;
            const int64_t position = x * 64 + placed.x;
            const int64_t pixel = position >> 6;
            if (baseline + margin < clip.top || baseline - margin > clip.bottom ||
                pixel + margin < clip.left || pixel - margin > clip.right)
                continue;
            const int phase = static_cast<int>((position & 63) >> 4);
            const Glyph& glyph = font.glyph(placed.slot, placed.glyphId, phase, stroked);
            const int64_t left = pixel + glyph.left;
            const int64_t glyphTop = baseline - glyph.top;
            if (!reaches(left, glyphTop, glyph.width, glyph.height, clip))
                continue;
            GlyphMask mask;
            mask.x = static_cast<int>(left);
            mask.y = static_cast<int>(glyphTop);
            mask.width = glyph.width;
            mask.height = glyph.height;
            mask.pitch = glyph.width;
            mask.coverage = glyph.coverage.data();
            sink.draw(mask, layer);
        }
    }
    return extent;
}

} // namespace text
