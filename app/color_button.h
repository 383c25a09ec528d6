#pragma once
// The colour swatch: a button that shows one colour inside a one-pixel black
// frame, with a dotted ring while it has the keyboard focus, clicked (or
// Space) to choose another colour.

#include <QAbstractButton>

#include "platform/types/rgb.h"

class CColorButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CColorButton(Rgb color, QWidget* parent = nullptr);

    Rgb color() const { return color_; }
    // Repaints at once, so a new colour never waits for the next exposure.
    void setColor(Rgb color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Rgb color_;
};
