#include "app/color_button.h"

#include <QPainter>

#include "app/value_convert.h"
#include "capture/capture.h"

CColorButton::CColorButton(Rgb color, QWidget* parent) : QAbstractButton(parent), color_(color) {
    setFocusPolicy(Qt::StrongFocus);
}

void CColorButton::setColor(Rgb color) {
    color_ = color;
    update();
}

QSize CColorButton::sizeHint() const {
    return QSize(32, 20);
}

void CColorButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, Qt::black);
    p.fillRect(r.adjusted(1, 1, -1, -1), toQColor(color_));
    if (hasFocus()) {
        // A dotted ring inside the frame, in whichever of black and white
        // stands out on the colour, so the focus shows on any colour.
        const QColor ring = toQColor(readableTextColor(color_));
        QPen pen(ring, 1, Qt::DotLine);
        p.setPen(pen);
        p.drawRect(r.adjusted(3, 3, -4, -4));
    }
}
