#pragma once
// Conversions between the settings record's stored forms (decimal text in
// edit boxes, COLORREF colours, LOGFONTA fonts) and what Qt works with.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringView>

#include <cstdint>

#include "platform/types/win_types.h"

// Leading blanks, an optional sign, then decimal digits up to the first other
// character; no digits gives 0. A number beyond 32 bits saturates at the
// nearest limit instead of wrapping.
int32_t parseLeadingInt(QStringView text);

QColor toQColor(COLORREF color);
COLORREF toColorRef(const QColor& color);

// The face name as text, read at most LF_FACESIZE bytes even when a damaged
// file left it without a terminator.
QString faceName(const LOGFONTA& font);

// The pixel density the font sizes of the sheet are counted in. The sheet is
// a picture, so a point size means the same number of pixels on every screen.
constexpr int kSheetDpi = 96;

QFont toQFont(const LOGFONTA& font);
// Writes the face, em height, weight and style of `font` into `out`; the
// other members (precisions, quality, family bits) keep their values. The
// face name is cut at a character boundary to fit 31 bytes and a terminator,
// and the rest of the array is zeroed.
void storeQFont(const QFont& font, LOGFONTA& out);
