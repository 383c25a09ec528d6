#include "settings/dialog/font_chooser.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "settings/dialog/color_button.h"
#include "settings/dialog/value_convert.h"

CFontChooser::CFontChooser(const FontChoice& initial, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Font"));

    // Qt's font chooser, embedded as a plain widget without its own buttons,
    // so the colour row and the buttons below belong to the same dialog.
    fonts_ = new QFontDialog(initial.font, this);
    fonts_->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    fonts_->setWindowFlags(Qt::Widget);
    fonts_->setSizeGripEnabled(false);

    auto* colourLabel = new QLabel(tr("Colour:"), this);
    color_ = new CColorButton(this);
    color_->setObjectName(QStringLiteral("textColor"));
    color_->setColor(toColorRef(initial.color));
    color_->setFixedSize(40, 20);
    colourLabel->setBuddy(color_);
    connect(color_, &QAbstractButton::clicked, this, &CFontChooser::chooseColor);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(colourLabel);
    colourRow->addWidget(color_);
    colourRow->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fonts_);
    layout->addLayout(colourRow);
    layout->addWidget(buttons);
    fonts_->show();
}

FontChoice CFontChooser::choice() const {
    return FontChoice{fonts_->currentFont(), toQColor(color_->color())};
}

void CFontChooser::chooseColor() {
    const QColor chosen = QColorDialog::getColor(toQColor(color_->color()), this, tr("Text colour"),
                                                 QColorDialog::DontUseNativeDialog);
    if (chosen.isValid())
        color_->setColor(toColorRef(chosen));
}
