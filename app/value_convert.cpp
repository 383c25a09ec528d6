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

QColor toQColor(Rgb color) {
    return QColor(color.r, color.g, color.b);
}

Rgb toRgb(const QColor& color) {
    const QColor rgb = color.toRgb();
    return Rgb{static_cast<uint8_t>(rgb.red()), static_cast<uint8_t>(rgb.green()),
               static_cast<uint8_t>(rgb.blue())};
}

QString faceName(const FontDescription& font) {
    return QString::fromStdString(font.face);
}

QFont toQFont(const FontDescription& font) {
    QFont f(faceName(font));
    // A negative height is the em height, a positive one the cell height;
    // for choosing a font the difference hardly shows, so both become the
    // em size. Choosers list point sizes, so the pixels are given as points
    // at the sheet's density. Zero asks for the default size.
    const int64_t height = font.height < 0 ? -static_cast<int64_t>(font.height) : font.height;
    if (height > 0)
        f.setPointSizeF(static_cast<double>(std::min<int64_t>(height, 4096)) * 72.0 / kSheetDpi);
    if (font.weight > 0)
        f.setWeight(static_cast<QFont::Weight>(std::clamp(font.weight, 1, 1000)));
    f.setItalic(font.italic);
    f.setUnderline(font.underline);
    f.setStrikeOut(font.strikeOut);
    return f;
}

void storeQFont(const QFont& font, FontDescription& out) {
    int pixels = font.pixelSize();
    if (pixels <= 0) {
        const double points = font.pointSizeF() > 0 ? font.pointSizeF() : 8.0;
        pixels = static_cast<int>(std::lround(points * kSheetDpi / 72.0));
    }
    out.height = -std::max(pixels, 1);
    out.width = 0;
    out.weight = static_cast<int32_t>(font.weight());
    out.italic = font.italic();
    out.underline = font.underline();
    out.strikeOut = font.strikeOut();

    constexpr qsizetype kFaceBytes = 31;
    QByteArray face = font.family().toUtf8();
    qsizetype length = std::min<qsizetype>(face.size(), kFaceBytes);
    // Never end inside a multi-byte character: back up over continuation
    // bytes to the start of the character that does not fit.
    if (length < face.size())
        while (length > 0 && (static_cast<unsigned char>(face[length]) & 0xC0) == 0x80)
            --length;
    out.face.assign(face.constData(), static_cast<size_t>(length));
}
