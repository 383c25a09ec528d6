#include "app/font_chooser.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "app/color_button.h"
#include "app/value_convert.h"

#include <climits>
#include <cstdlib>

namespace {

// The font as the chooser can show it: an installed family (the one the
// requested name resolves to) and the named style of that family that has
// the font's weight and slant. Without a style name the chooser looks for a
// style called "Normal", and for families whose upright style is named
// otherwise ("Book", "Regular") it would select the first style listed,
// often an italic one.
QFont showable(QFont font) {
    if (!QFontDatabase::hasFamily(font.family()))
        font.setFamily(QFontInfo(font).family());
    const QStringList styles = QFontDatabase::styles(font.family());
    QString best;
    int bestDistance = INT_MAX;
    for (const QString& style : styles) {
        const QFont candidate = QFontDatabase::font(font.family(), style, 12);
        // Style names carry the width; the record has no width, so the
        // normal-width styles win.
        static const QRegularExpression width(
            QStringLiteral("condensed|expanded|narrow|wide|compressed|extended"),
            QRegularExpression::CaseInsensitiveOption);
        const int distance = std::abs(candidate.weight() - font.weight()) +
                             (candidate.italic() != font.italic() ? 10000 : 0) +
                             (width.match(style).hasMatch() ? 1000 : 0);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = style;
        }
    }
    if (!best.isEmpty())
        font.setStyleName(best);
    return font;
}

} // namespace

CFontChooser::CFontChooser(const FontChoice& initial, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Font"));

    // Qt's font chooser, embedded as a plain widget without its own buttons,
    // so the colour row and the buttons below belong to the same dialog.
    fonts_ = new QFontDialog(showable(initial.font), this);
    fonts_->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    fonts_->setWindowFlags(Qt::Widget);
    fonts_->setSizeGripEnabled(false);

    auto* colourLabel = new QLabel(tr("Colour:"), this);
    color_ = new CColorButton(toRgb(initial.color), this);
    color_->setObjectName(QStringLiteral("textColor"));
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
        color_->setColor(toRgb(chosen));
}
