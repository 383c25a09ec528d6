#include "app/value_convert.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

int32_t parseLeadingInt(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    // The C library's blanks: space and \t \n \v \f \r.
    while (i < n && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulate the magnitude towards the limit of the sign's side.
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > limit)
            value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

QColor toQColor(COLORREF color) {
    return QColor(GetRValue(color), GetGValue(color), GetBValue(color));
}

COLORREF toColorRef(const QColor& color) {
    const QColor rgb = color.toRgb();
    return RGB(static_cast<uint8_t>(rgb.red()), static_cast<uint8_t>(rgb.green()),
               static_cast<uint8_t>(rgb.blue()));
}

QString faceName(const LOGFONTA& font) {
    const void* end = std::memchr(font.lfFaceName, 0, LF_FACESIZE);
    const qsizetype length =
        end ? static_cast<const char*>(end) - font.lfFaceName : qsizetype(LF_FACESIZE);
    return QString::fromUtf8(font.lfFaceName, length);
}

QFont toQFont(const LOGFONTA& font) {
    QFont f(faceName(font));
    // A negative height is the em height, a positive one the cell height;
    // for choosing a font the difference hardly shows, so both become the
    // em size. Choosers list point sizes, so the pixels are given as points
    // at the sheet's density. Zero asks for the default size.
    const int64_t height = font.lfHeight < 0 ? -static_cast<int64_t>(font.lfHeight) : font.lfHeight;
    if (height > 0)
        f.setPointSizeF(static_cast<double>(std::min<int64_t>(height, 4096)) * 72.0 / kSheetDpi);
    if (font.lfWeight > 0)
        f.setWeight(static_cast<QFont::Weight>(std::clamp(font.lfWeight, 1, 1000)));
    f.setItalic(font.lfItalic != 0);
    f.setUnderline(font.lfUnderline != 0);
    f.setStrikeOut(font.lfStrikeOut != 0);
    return f;
}

void storeQFont(const QFont& font, LOGFONTA& out) {
    int pixels = font.pixelSize();
    if (pixels <= 0) {
        const double points = font.pointSizeF() > 0 ? font.pointSizeF() : 8.0;
        pixels = static_cast<int>(std::lround(points * kSheetDpi / 72.0));
    }
    out.lfHeight = -std::max(pixels, 1);
    out.lfWidth = 0;
    out.lfEscapement = 0;
    out.lfOrientation = 0;
    out.lfWeight = static_cast<int32_t>(font.weight());
    out.lfItalic = font.italic() ? 1 : 0;
    out.lfUnderline = font.underline() ? 1 : 0;
    out.lfStrikeOut = font.strikeOut() ? 1 : 0;

    QByteArray face = font.family().toUtf8();
    qsizetype length = std::min<qsizetype>(face.size(), LF_FACESIZE - 1);
    // Never end inside a multi-byte character: back up over continuation
    // bytes to the start of the character that does not fit.
    if (length < face.size())
        while (length > 0 && (static_cast<unsigned char>(face[length]) & 0xC0) == 0x80)
            --length;
    std::memset(out.lfFaceName, 0, LF_FACESIZE);
    std::memcpy(out.lfFaceName, face.constData(), static_cast<size_t>(length));
}
