#pragma once
// A font as the settings ask for it and the text layer finds it.

#include <cstdint>
#include <string>

// The kind of face wanted when the named face is not installed: it only
// decides between substitutes.
enum class FontKind : uint8_t {
    Any,
    Serif,
    Sans,
    Monospace,
    Script,
    Decorative,
};

struct FontDescription {
    // UTF-8; empty asks for the default face.
    std::string face;
    // In pixels. Negative: the em height (-11 is an 11-pixel em). Positive:
    // the cell height, ascent plus descent, which the em is derived from for
    // the face found. 0: the default size.
    int32_t height = 0;
    // The average character width in pixels; 0 keeps the face's proportions.
    int32_t width = 0;
    // 1..1000 as in OpenType (400 regular, 700 bold); 0 is regular.
    int32_t weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    // With `kind`, only decides between substitutes: a fixed-pitch request
    // prefers a monospaced face whatever the kind.
    bool fixedPitch = false;
    FontKind kind = FontKind::Any;

    friend bool operator==(const FontDescription&, const FontDescription&) = default;
};
