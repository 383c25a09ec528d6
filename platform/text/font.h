#pragma once
// Fonts for text drawn into pictures: fontconfig picks the face, FreeType
// renders and strokes the glyphs, HarfBuzz shapes the runs.
//
// Ownership: every font lives in one process-wide cache that owns it until the
// process ends; `findFont` hands out pointers into that cache, which stay valid
// for the rest of the run. A font owns its FreeType faces (the matched face
// and the fallback faces it opens when a character is missing), their HarfBuzz
// fonts, a stroker and a cache of rendered glyphs. All of that is guarded by
// the font's own lock: two threads may draw with the same font at once (they
// take turns inside it) and with different fonts in parallel.
//
// Coordinates are picture coordinates: x to the right, y downwards, in pixels.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types/font_description.h"

namespace text {

// Whole pixels, as the layout uses them.
struct FontMetrics {
    int emPixels = 0;         // vertical pixels per em the glyphs are rendered at
    int ascent = 0;           // above the baseline
    int descent = 0;          // below the baseline
    int lineHeight = 0;       // ascent + descent: the cell height and the line distance
    int averageCharWidth = 0; // from the face's OS/2 table, else measured over ASCII
    int tabWidth = 0;         // tab stops: every eight average character widths
    int underlineTop = 0;     // below the baseline
    int underlineThickness = 0;
    int strikeOutTop = 0; // above the baseline (the top edge of the bar)
    int strikeOutThickness = 0;
};

class Font;

// The font that best fits the description, from the cache or matched now.
// A face name that is not valid UTF-8 is read as Latin-1, the code page of
// older settings. Null only when fontconfig knows no usable font at all.
Font* findFont(const FontDescription& description);

const FontMetrics& fontMetrics(const Font& font);
// The family and file of the matched face (fallback faces not included).
const std::string& fontFamily(const Font& font);
const std::string& fontFile(const Font& font);

struct LayoutFlags {
    bool singleLine = false;  // line breaks are not honoured (and not drawn)
    bool expandTabs = false;  // tabs jump to the next tab stop; otherwise they take no room
    bool alignBottom = false; // for drawing: y is the block's bottom edge, not its top
};

struct TextExtent {
    int64_t width = 0;  // the widest line's advance, rounded up to whole pixels
    int64_t height = 0; // lines x line height
    int lines = 0;
};

// Lines break at "\n", "\r\n" and "\r"; a break at the very end starts no new
// line, and empty text has no lines at all. Other control characters take no
// room. Each line is shaped in runs of one face: characters the matched face
// lacks come from fontconfig's next best face that has them.
TextExtent measureText(Font& font, std::string_view text, LayoutFlags flags);

// A coverage mask in picture coordinates: `coverage` holds `height` rows of
// `width` bytes, `pitch` apart, 0 transparent to 255 fully covered; a null
// `coverage` covers the whole box.
struct GlyphMask {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int pitch = 0;
    const uint8_t* coverage = nullptr;
};

enum class MaskLayer { Outline, Fill };

// Receives the masks of one `renderText` call. It is called with the font's
// lock held and must not use the same font itself.
class MaskSink {
public:
    virtual void draw(const GlyphMask& mask, MaskLayer layer) = 0;

protected:
    ~MaskSink() = default;
};

// Right and bottom are exclusive.
struct ClipBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Lays the text out from (x, y) (the block's top-left corner, or with
// `alignBottom` its bottom-left) and hands the sink each glyph mask that
// reaches into `clip`: with `outline`, first the stroked outlines of every
// glyph and decoration line, then all fills. Masks may reach outside the clip
// box; the sink cuts them. Returns the text's extent, as `measureText` would.
TextExtent renderText(Font& font, std::string_view text, LayoutFlags flags, int64_t x, int64_t y,
                      const ClipBox& clip, bool outline, MaskSink& sink);

} // namespace text
