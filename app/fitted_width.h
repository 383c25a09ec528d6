#pragma once
// The width a control needs to show its text uncut. A push button needs its
// text and a little air, not the wide minimum a style prefers for buttons in
// free layouts; other controls need their size hint.

#include <QPushButton>
#include <QWidget>

inline int fittedWidth(const QWidget* w) {
    if (auto* b = qobject_cast<const QPushButton*>(w)) {
        const int text = b->fontMetrics().horizontalAdvance(b->text());
        return text + 2 * b->fontMetrics().averageCharWidth() + 4;
    }
    return w->sizeHint().width();
}
