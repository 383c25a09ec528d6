#pragma once
// Dialog units: the layout measure of both dialogs. One horizontal unit is a
// quarter of the dialog font's average character width, one vertical unit an
// eighth of its character height, so the layout grows with the font the user
// runs the desktop with.

#include <QFont>
#include <QRect>

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    int x(int units) const;
    int y(int units) const;
    // Each edge is converted on its own, so controls that touch in units
    // still touch in pixels.
    QRect rect(int x, int y, int width, int height) const;

    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }

private:
    int baseX_;
    int baseY_;
};
