#pragma once
// Conversions between the settings record's values (numbers shown as decimal
// text in edit boxes, colours, font descriptions) and what Qt works with.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringView>

#include <cstdint>

#include "platform/types/font_description.h"
#include "platform/types/rgb.h"

// Leading blanks, an optional sign, then decimal digits up to the first other
// character; no digits gives 0. A number beyond 32 bits saturates at the
// nearest limit instead of wrapping.
int32_t parseLeadingInt(QStringView text);

QColor toQColor(Rgb color);
Rgb toRgb(const QColor& color);

QString faceName(const FontDescription& font);

// The pixel density the font sizes of the sheet are counted in. The sheet is
// a picture, so a point size means the same number of pixels on every screen.
constexpr int kSheetDpi = 96;

QFont toQFont(const FontDescription& font);
// Writes the face, em height, weight and style of `font` into `out`, with
// the face's own proportions; the pitch and kind keep their values. The face
// name is cut at a character boundary to the 31 bytes the settings file
// keeps, so the record holds what will be saved.
void storeQFont(const QFont& font, FontDescription& out);
