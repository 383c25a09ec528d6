#include "app/dialog_units.h"

#include <QFontMetrics>

namespace {

// a × b / c rounded half away from zero, without intermediate overflow.
int mulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics m(font);
    // The average over the 52 Latin letters, rounded, is the width the
    // classic dialog managers measure; a font's own "average" is often the
    // width of 'x' alone.
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = (m.horizontalAdvance(letters) + 26) / 52;
    baseY_ = m.height();
    if (baseX_ < 1)
        baseX_ = 1;
    if (baseY_ < 1)
        baseY_ = 1;
}

int DialogUnits::x(int units) const {
    return mulDiv(units, baseX_, 4);
}

int DialogUnits::y(int units) const {
    return mulDiv(units, baseY_, 8);
}

QRect DialogUnits::rect(int x0, int y0, int width, int height) const {
    const int left = x(x0);
    const int top = y(y0);
    return QRect(left, top, x(x0 + width) - left, y(y0 + height) - top);
}
