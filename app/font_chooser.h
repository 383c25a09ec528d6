#pragma once
// The chooser for the sheet's text: a font chooser with a colour swatch
// beside it, because the colour of the time stamps is picked together with
// their font. The dialog owns its child widgets through Qt's parent chain.

#include <QDialog>

#include "app/dialog_seams.h"

class QFontDialog;
class CColorButton;

class CFontChooser : public QDialog {
    Q_OBJECT
public:
    explicit CFontChooser(const FontChoice& initial, QWidget* parent = nullptr);

    FontChoice choice() const;

private:
    void chooseColor();

    QFontDialog* fonts_ = nullptr;
    CColorButton* color_ = nullptr;
};
