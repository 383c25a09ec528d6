#pragma once
// The colour swatch: a button that shows one colour inside a one-pixel black
// frame, with a dotted ring while it has the keyboard focus, clicked (or
// Space) to choose another colour.

#include <QAbstractButton>

#include "platform/types/win_types.h"

class CColorButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CColorButton(COLORREF color, QWidget* parent = nullptr);

    COLORREF color() const { return color_; }
    // Repaints at once, so a new colour never waits for the next exposure.
    void setColor(COLORREF color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    COLORREF color_;
};
