#pragma once
// The inside of a font, shared by the matching code and the layout code of
// this folder only.
//
// Ownership: a Font owns its faces (FT_Face), each face's HarfBuzz font, the
// fontconfig list of fallback candidates, the stroker, the shaping buffer and
// the glyph cache; the destructor releases them in that dependency order
// (HarfBuzz fonts before their faces). Everything mutable is used only with
// `mutex` held.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_STROKER_H
#include <fontconfig/fontconfig.h>
#include <hb.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/text/font.h"

namespace text {

struct FaceSlot {
    FT_Face face = nullptr;
    hb_font_t* shaper = nullptr;
    FT_Pos embolden = 0;  // synthetic bold strength (26.6) when the face is lighter than asked
    bool oblique = false; // synthetic slant when the face is upright but italic was asked
};

struct Glyph {
    int left = 0; // from the pen position to the mask's left edge
    int top = 0;  // from the baseline up to the mask's top edge
    int width = 0;
    int height = 0;
    std::vector<uint8_t> coverage;
};

// A glyph placed by the layout; x in 26.6 from the block's left edge, the
// baseline in whole pixels from the block's top.
struct PlacedGlyph {
    int64_t x = 0;
    int64_t baseline = 0;
    uint32_t glyphId = 0;
    uint16_t slot = 0;
};

struct PlacedLine {
    int64_t width = 0; // pixels
    int64_t top = 0;   // from the block's top
};

class Font {
public:
    Font() = default;
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    ~Font();

    // The face for a character: the matched face when it has the glyph,
    // otherwise the first fallback that has it, otherwise the matched face
    // (which then shows its missing-glyph box). `previous` is the slot of the
    // character before, which keeps combining marks with their base.
    uint16_t slotFor(char32_t c, int previous);
    // The rendered glyph, from the cache or rendered now; valid until the
    // next call.
    const Glyph& glyph(uint16_t slot, uint32_t glyphId, int phase, bool stroked);

    mutable std::mutex mutex;
    FontMetrics metrics;
    std::string family;
    std::string file;
    bool underline = false;
    bool strikeOut = false;

    std::vector<FaceSlot> slots; // [0] is the matched face
    int xPixels = 0;             // horizontal pixels per em (differs when a width was asked)
    int requestedWeight = 0;     // fontconfig scale
    bool requestedItalic = false;
    FcFontSet* candidates = nullptr; // best first; fallbacks are searched here
    int matchedCandidate = -1;       // the entry `slots[0]` was opened from
    std::vector<int> candidateSlots; // per candidate: slot, -1 not opened yet, -2 unusable
    std::unordered_map<char32_t, uint16_t> slotForChar;
    FT_Stroker stroker = nullptr;
    hb_buffer_t* buffer = nullptr;
    std::unordered_map<uint64_t, Glyph> glyphs;
    size_t glyphBytes = 0;

    // Scratch space of the layout, kept to avoid allocations per call.
    std::vector<hb_codepoint_t> codepoints;
    std::vector<PlacedGlyph> placed;
    std::vector<PlacedLine> lines;
};

} // namespace text
