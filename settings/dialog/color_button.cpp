#include "settings/dialog/color_button.h"

#include <QPainter>

#include "settings/dialog/value_convert.h"
#include "settings/options.h"

CColorButton::CColorButton(QWidget* parent) : QAbstractButton(parent) {
    if (g_options)
        color_ = g_options->backgroundColor;
    setFocusPolicy(Qt::StrongFocus);
}

void CColorButton::setColor(COLORREF color) {
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
}
