#include "platform/text/font.h"

#include <ft2build.h>
#include FT_ADVANCES_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <hb-ft.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "platform/text/font_internal.h"
#include "platform/text/utf8.h"

namespace text {
namespace {

constexpr int kDefaultEm = 12;
// Heights beyond this are clamped: no sheet cell is that tall, and one glyph
// at this size already takes a megabyte to render.
constexpr int kMaxEm = 1000;
constexpr size_t kGlyphBudget = size_t{4} << 20;
constexpr size_t kCharMapLimit = 4096;
// Light hinting snaps only vertically, so the advances stay as designed and
// glyphs can sit at quarter-pixel positions without changing shape.
constexpr FT_Int32 kLoadFlags = FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT;
constexpr FT_Fixed kObliqueShear = 0x0366A; // about 12 degrees, as FreeType slants
constexpr FT_Fixed kOutlineRadius = 64;     // one pixel, in 26.6

// FreeType wants face creation and destruction serialised per library, and
// fontconfig's configuration is shared; both are used only under this lock.
std::mutex g_systemMutex;

struct DescriptionHash {
    size_t operator()(const FontDescription& r) const {
        size_t h = std::hash<std::string>()(r.face);
        const auto mix = [&h](uint64_t v) { h = h * 1099511628211ull ^ std::hash<uint64_t>()(v); };
        mix(static_cast<uint32_t>(r.height));
        mix(static_cast<uint32_t>(r.width));
        mix(static_cast<uint32_t>(r.weight));
        mix((r.italic ? 1u : 0u) | (r.underline ? 2u : 0u) | (r.strikeOut ? 4u : 0u) |
            (r.fixedPitch ? 8u : 0u) | (static_cast<uint32_t>(r.kind) << 8));
        return h;
    }
};

class Registry {
public:
    static Registry& instance() {
        static Registry registry;
        return registry;
    }
    ~Registry() {
        fonts.clear(); // the fonts' faces belong to the library
        if (library)
            FT_Done_FreeType(library);
    }

    FT_Library library = nullptr;
    bool fontconfigReady = false;
    std::mutex mapMutex;
    std::unordered_map<FontDescription, std::unique_ptr<Font>, DescriptionHash> fonts;

private:
    Registry() {
        if (FT_Init_FreeType(&library) != 0)
            library = nullptr;
        fontconfigReady = FcInit() == FcTrue;
    }
};

const char* genericFamily(const FontDescription& description) {
    if (description.fixedPitch)
        return "monospace";
    switch (description.kind) {
    case FontKind::Serif:
        return "serif";
    case FontKind::Sans:
        return "sans-serif";
    case FontKind::Monospace:
        return "monospace";
    case FontKind::Script:
        return "cursive";
    case FontKind::Decorative:
        return "fantasy";
    case FontKind::Any:
        break;
    }
    return nullptr;
}

int patternInt(FcPattern* pattern, const char* object, int fallback) {
    int value = 0;
    if (FcPatternGetInteger(pattern, object, 0, &value) == FcResultMatch)
        return value;
    double real = 0;
    if (FcPatternGetDouble(pattern, object, 0, &real) == FcResultMatch)
        return static_cast<int>(real);
    return fallback;
}

std::string patternString(FcPattern* pattern, const char* object) {
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || !value)
        return {};
    return reinterpret_cast<const char*>(value);
}

FT_Face openFace(FT_Library library, FcPattern* candidate) {
    const std::string file = patternString(candidate, FC_FILE);
    if (file.empty() || !library)
        return nullptr;
    const int index = patternInt(candidate, FC_INDEX, 0);
    FT_Face face = nullptr;
    std::lock_guard lock(g_systemMutex);
    if (FT_New_Face(library, file.c_str(), index, &face) != 0)
        return nullptr;
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
        FT_Done_Face(face);
        return nullptr;
    }
    return face;
}

void closeFace(FT_Face face) {
    if (!face)
        return;
    std::lock_guard lock(g_systemMutex);
    FT_Done_Face(face);
}

// The average character width, in font units, as the OS/2 table first
// defined it: lowercase letters and the space, weighted by how often they
// occur in English text. From version 3 on the table averages every glyph
// instead, which for faces with large character sets (Liberation's, say)
// gives wider tab stops than the faces they stand in for; so for those the
// old average is measured from the face's own advances. Zero when the face
// lacks one of the letters.
double weightedLowercaseWidth(FT_Face face) {
    static constexpr int kWeights[26] = {64, 14, 27, 35, 100, 20, 14, 42, 63, 3,  6, 35, 20,
                                         56, 56, 17, 4,  49,  56, 71, 31, 10, 18, 3, 18, 2};
    const auto advance = [face](FT_ULong c) -> double {
        const FT_UInt id = FT_Get_Char_Index(face, c);
        FT_Fixed value = 0;
        if (id == 0 || FT_Get_Advance(face, id, FT_LOAD_NO_SCALE, &value) != 0)
            return -1;
        return static_cast<double>(value);
    };
    double sum = advance(' ');
    if (sum < 0)
        return 0;
    sum *= 166;
    for (int i = 0; i < 26; ++i) {
        const double width = advance(static_cast<FT_ULong>('a' + i));
        if (width < 0)
            return 0;
        sum += width * kWeights[i];
    }
    return sum / 1000;
}

// Mean advance, in font units, of the printable ASCII characters the face has.
double meanAsciiWidth(FT_Face face) {
    double sum = 0;
    int count = 0;
    for (FT_ULong c = 0x20; c < 0x7F; ++c) {
        const FT_UInt id = FT_Get_Char_Index(face, c);
        FT_Fixed advance = 0;
        if (id != 0 && FT_Get_Advance(face, id, FT_LOAD_NO_SCALE, &advance) == 0 && advance > 0) {
            sum += static_cast<double>(advance);
            ++count;
        }
    }
    return count > 0 ? sum / count : face->units_per_EM / 2.0;
}

double averageWidthUnits(FT_Face face, const TT_OS2* os2) {
    if (os2 && os2->xAvgCharWidth > 0 && os2->version < 3)
        return os2->xAvgCharWidth;
    if (const double weighted = weightedLowercaseWidth(face); weighted > 0)
        return weighted;
    if (os2 && os2->xAvgCharWidth > 0)
        return os2->xAvgCharWidth;
    return meanAsciiWidth(face);
}

int roundPositive(double v) {
    return static_cast<int>(std::max<long>(1, std::lround(v)));
}

// Fixes the pixel size from the request and the matched face, then the
// metrics the layout uses, taken from the same tables Windows reads them
// from, so sizes and line distances match what the settings were made with.
void computeMetrics(Font& font, FT_Face face, const FontDescription& request) {
    const double upem = face->units_per_EM;
    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const bool haveOs2 = os2 && os2->version != 0xFFFF;
    double winAscent = 0, winDescent = 0;
    if (haveOs2) {
        winAscent = os2->usWinAscent;
        winDescent = os2->usWinDescent;
    }
    if (winAscent + winDescent <= 0) {
        winAscent = face->ascender;
        winDescent = -face->descender;
    }
    if (winAscent + winDescent <= 0) {
        winAscent = upem * 0.8;
        winDescent = upem * 0.2;
    }
    const double cellUnits = winAscent + winDescent;

    FontMetrics& m = font.metrics;
    // 64-bit, so that the most negative height has a magnitude too.
    const int64_t height = request.height;
    bool exactCell = false;
    if (height < 0) {
        m.emPixels = static_cast<int>(std::min<int64_t>(-height, kMaxEm));
    } else if (height > 0) {
        const double em = static_cast<double>(height) * upem / cellUnits;
        exactCell = em <= kMaxEm;
        m.emPixels = std::clamp(roundPositive(em), 1, kMaxEm);
    } else {
        m.emPixels = kDefaultEm;
    }
    const double em = m.emPixels;
    if (exactCell) {
        const int cell = static_cast<int>(height);
        m.ascent = std::clamp(static_cast<int>(std::lround(cell * winAscent / cellUnits)), 0, cell);
        m.descent = cell - m.ascent;
    } else {
        // Rounded up, so that a line's cell holds its glyphs' extremes.
        m.ascent = static_cast<int>(std::ceil(winAscent * em / upem - 1.0 / 64));
        m.descent = static_cast<int>(std::ceil(winDescent * em / upem - 1.0 / 64));
    }
    m.ascent = std::max(m.ascent, 0);
    m.descent = std::max(m.descent, 0);
    if (m.ascent + m.descent == 0)
        m.ascent = 1;
    m.lineHeight = m.ascent + m.descent;

    const double averageUnits = averageWidthUnits(face, haveOs2 ? os2 : nullptr);
    const double naturalAverage = averageUnits * em / upem;
    if (request.width != 0) {
        const int64_t asked =
            std::min<int64_t>(std::abs(static_cast<int64_t>(request.width)), kMaxEm);
        font.xPixels =
            std::clamp(roundPositive(em * static_cast<double>(asked) / naturalAverage), 1, kMaxEm);
        m.averageCharWidth = roundPositive(naturalAverage * font.xPixels / em);
    } else {
        font.xPixels = m.emPixels;
        m.averageCharWidth = roundPositive(naturalAverage);
    }
    m.tabWidth = 8 * m.averageCharWidth;

    m.underlineThickness = face->underline_thickness > 0
                               ? roundPositive(face->underline_thickness * em / upem)
                               : std::max(1, m.emPixels / 14);
    const double underlineCentre = -face->underline_position * em / upem;
    m.underlineTop =
        std::max(1, static_cast<int>(std::lround(underlineCentre - m.underlineThickness / 2.0)));
    if (m.underlineTop + m.underlineThickness > m.descent)
        m.underlineTop = std::max(1, m.descent - m.underlineThickness);
    if (haveOs2 && os2->yStrikeoutSize > 0) {
        m.strikeOutThickness = roundPositive(os2->yStrikeoutSize * em / upem);
        m.strikeOutTop = static_cast<int>(std::lround(os2->yStrikeoutPosition * em / upem));
    } else {
        m.strikeOutThickness = m.underlineThickness;
        m.strikeOutTop = static_cast<int>(std::lround(em * 0.3)) + m.strikeOutThickness / 2;
    }
}

// Sizes the face and adds what the face itself cannot give: a bolder or
// slanted look when it is lighter or more upright than asked.
bool prepareSlot(Font& font, FT_Face face, FcPattern* candidate, FaceSlot& out) {
    if (FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(font.xPixels),
                           static_cast<FT_UInt>(font.metrics.emPixels)) != 0)
        return false;
    out.face = face;
    const int faceWeight = patternInt(candidate, FC_WEIGHT, FC_WEIGHT_REGULAR);
    if (font.requestedWeight >= FC_WEIGHT_DEMIBOLD && faceWeight + 50 <= font.requestedWeight)
        out.embolden = static_cast<FT_Pos>(font.metrics.emPixels) * 64 / 24;
    out.oblique =
        font.requestedItalic && patternInt(candidate, FC_SLANT, FC_SLANT_ROMAN) == FC_SLANT_ROMAN;
    out.shaper = hb_ft_font_create(face, nullptr);
    hb_ft_font_set_load_flags(out.shaper, kLoadFlags);
    return true;
}

std::unique_ptr<Font> createFont(Registry& registry, const FontDescription& request) {
    if (!registry.library || !registry.fontconfigReady)
        return nullptr;
    auto font = std::make_unique<Font>();
    const int weight = request.weight == 0 ? 400 : std::clamp(request.weight, 1, 1000);
    font->requestedWeight = FcWeightFromOpenType(weight);
    font->requestedItalic = request.italic;
    font->underline = request.underline;
    font->strikeOut = request.strikeOut;

    {
        std::lock_guard lock(g_systemMutex);
        FcPattern* pattern = FcPatternCreate();
        if (!pattern)
            return nullptr;
        // The face name first; the generic family after it only decides
        // between substitutes when the face is not installed.
        if (!request.face.empty()) {
            // fontconfig wants UTF-8.
            const std::string face = utf8OrLatin1(request.face);
            FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
        }
        if (const char* generic = genericFamily(request))
            FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(generic));
        FcPatternAddInteger(pattern, FC_WEIGHT, font->requestedWeight);
        FcPatternAddInteger(pattern, FC_SLANT, request.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        // Sorted and trimmed: the first entry is the best match, each later
        // one adds characters the earlier ones lack.
        font->candidates = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
        FcPatternDestroy(pattern);
    }
    if (!font->candidates)
        return nullptr;
    const int count = font->candidates->nfont;
    font->candidateSlots.assign(static_cast<size_t>(count), -1);

    for (int i = 0; i < count; ++i) {
        FcPattern* candidate = font->candidates->fonts[i];
        FT_Face face = openFace(registry.library, candidate);
        if (!face) {
            font->candidateSlots[static_cast<size_t>(i)] = -2;
            continue;
        }
        computeMetrics(*font, face, request);
        FaceSlot slot;
        if (!prepareSlot(*font, face, candidate, slot)) {
            closeFace(face);
            font->candidateSlots[static_cast<size_t>(i)] = -2;
            continue;
        }
        font->slots.push_back(slot);
        font->candidateSlots[static_cast<size_t>(i)] = 0;
        font->matchedCandidate = i;
        font->family = patternString(candidate, FC_FAMILY);
        font->file = patternString(candidate, FC_FILE);
        break;
    }
    if (font->slots.empty())
        return nullptr;

    if (FT_Stroker_New(registry.library, &font->stroker) != 0)
        return nullptr;
    FT_Stroker_Set(font->stroker, kOutlineRadius, FT_STROKER_LINECAP_ROUND,
                   FT_STROKER_LINEJOIN_ROUND, 0);
    font->buffer = hb_buffer_create();
    if (!hb_buffer_allocation_successful(font->buffer))
        return nullptr;
    return font;
}

bool isMark(char32_t c) {
    switch (hb_unicode_general_category(hb_unicode_funcs_get_default(), c)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_FORMAT:
        return true;
    default:
        return false;
    }
}

} // namespace

Font::~Font() {
    for (FaceSlot& slot : slots) {
        if (slot.shaper)
            hb_font_destroy(slot.shaper);
        closeFace(slot.face);
    }
    if (stroker)
        FT_Stroker_Done(stroker);
    if (buffer)
        hb_buffer_destroy(buffer);
    if (candidates)
        FcFontSetDestroy(candidates);
}

uint16_t Font::slotFor(char32_t c, int previous) {
    if (FT_Get_Char_Index(slots[0].face, c) != 0)
        return 0;
    if (previous > 0 && isMark(c) &&
        FT_Get_Char_Index(slots[static_cast<size_t>(previous)].face, c) != 0)
        return static_cast<uint16_t>(previous);
    if (const auto found = slotForChar.find(c); found != slotForChar.end())
        return found->second;

    uint16_t chosen = 0;
    for (int i = 0; i < candidates->nfont; ++i) {
        int& known = candidateSlots[static_cast<size_t>(i)];
        if (i == matchedCandidate || known == -2)
            continue;
        FcPattern* candidate = candidates->fonts[i];
        FcCharSet* charset = nullptr;
        if (FcPatternGetCharSet(candidate, FC_CHARSET, 0, &charset) != FcResultMatch ||
            !FcCharSetHasChar(charset, c))
            continue;
        if (known == -1) {
            FT_Face face = openFace(Registry::instance().library, candidate);
            FaceSlot slot;
            if (!face || slots.size() >= 0xFFFF || !prepareSlot(*this, face, candidate, slot)) {
                closeFace(face);
                known = -2;
                continue;
            }
            slots.push_back(slot);
            known = static_cast<int>(slots.size() - 1);
        }
        if (FT_Get_Char_Index(slots[static_cast<size_t>(known)].face, c) != 0) {
            chosen = static_cast<uint16_t>(known);
            break;
        }
    }
    if (slotForChar.size() >= kCharMapLimit)
        slotForChar.clear();
    slotForChar.emplace(c, chosen);
    return chosen;
}

const Glyph& Font::glyph(uint16_t slotIndex, uint32_t glyphId, int phase, bool stroked) {
    const uint64_t key = (static_cast<uint64_t>(slotIndex) << 40) |
                         (static_cast<uint64_t>(glyphId) << 3) |
                         (static_cast<uint64_t>(phase & 3) << 1) | (stroked ? 1u : 0u);
    if (const auto found = glyphs.find(key); found != glyphs.end())
        return found->second;

    Glyph result;
    const FaceSlot& slot = slots[slotIndex];
    if (FT_Load_Glyph(slot.face, glyphId, kLoadFlags) == 0 &&
        slot.face->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_Outline* outline = &slot.face->glyph->outline;
        if (slot.embolden)
            FT_Outline_EmboldenXY(outline, slot.embolden, slot.embolden);
        if (slot.oblique) {
            FT_Matrix shear = {0x10000, kObliqueShear, 0, 0x10000};
            FT_Outline_Transform(outline, &shear);
        }
        FT_Glyph shape = nullptr;
        if (FT_Get_Glyph(slot.face->glyph, &shape) == 0) {
            bool ok = !stroked || FT_Glyph_Stroke(&shape, stroker, 1) == 0;
            FT_Vector shift = {static_cast<FT_Pos>(phase & 3) * 16, 0};
            ok = ok && FT_Glyph_Transform(shape, nullptr, &shift) == 0;
            ok = ok && FT_Glyph_To_Bitmap(&shape, FT_RENDER_MODE_NORMAL, nullptr, 1) == 0;
            if (ok) {
                const auto* bitmapGlyph = reinterpret_cast<FT_BitmapGlyph>(shape);
                const FT_Bitmap& bitmap = bitmapGlyph->bitmap;
                if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.width > 0 &&
                    bitmap.rows > 0) {
                    result.left = bitmapGlyph->left;
                    result.top = bitmapGlyph->top;
                    result.width = static_cast<int>(bitmap.width);
                    result.height = static_cast<int>(bitmap.rows);
                    result.coverage.resize(static_cast<size_t>(result.width) * result.height);
                    const int pitch = bitmap.pitch;
                    for (int row = 0; row < result.height; ++row) {
                        // A negative pitch stores the rows bottom-up.
                        const int from = pitch >= 0 ? row : result.height - 1 - row;
                        std::copy_n(bitmap.buffer + static_cast<ptrdiff_t>(from) * std::abs(pitch),
                                    result.width,
                                    result.coverage.begin() +
                                        static_cast<ptrdiff_t>(row) * result.width);
                    }
                }
            }
            FT_Done_Glyph(shape);
        }
    }

    if (glyphBytes + result.coverage.size() > kGlyphBudget) {
        glyphs.clear();
        glyphBytes = 0;
    }
    glyphBytes += result.coverage.size();
    return glyphs.emplace(key, std::move(result)).first->second;
}

Font* findFont(const FontDescription& request) {
    Registry& registry = Registry::instance();
    std::lock_guard lock(registry.mapMutex);
    if (const auto found = registry.fonts.find(request); found != registry.fonts.end())
        return found->second.get();
    // A request that matches nothing is remembered too, so it is not retried
    // on every call.
    auto font = createFont(registry, request);
    Font* result = font.get();
    registry.fonts.emplace(request, std::move(font));
    return result;
}

const FontMetrics& fontMetrics(const Font& font) {
    return font.metrics;
}

const std::string& fontFamily(const Font& font) {
    return font.family;
}

const std::string& fontFile(const Font& font) {
    return font.file;
}

} // namespace text
