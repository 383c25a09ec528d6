#include "settings/dialog/options_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>

#include "settings/dialog/color_button.h"
#include "settings/dialog/dialog_units.h"
#include "settings/dialog/fitted_width.h"
#include "settings/dialog/value_convert.h"
#include "settings/options.h"

namespace {

// Rectangles in dialog units: x, y, width, height.
struct Box {
    int x, y, w, h;
};

void place(const DialogUnits& du, QWidget* w, Box b) {
    w->setGeometry(du.rect(b.x, b.y, b.w, b.h));
}

// Labels, check boxes and buttons keep their place but grow to their text
// when the running font is wider than the one the layout was drawn for.
void placeFitted(const DialogUnits& du, QWidget* w, Box b) {
    QRect r = du.rect(b.x, b.y, b.w, b.h);
    r.setWidth(std::max(r.width(), fittedWidth(w)));
    w->setGeometry(r);
}

void placeGroup(const DialogUnits& du, QGroupBox* g, Box b) {
    place(du, g, b);
    // A frame drawn around its neighbours, not a container: it stays below
    // them and lets their clicks through.
    g->setAttribute(Qt::WA_TransparentForMouseEvents);
    g->setFocusPolicy(Qt::NoFocus);
    g->lower();
}

QString number(int32_t v) {
    return QString::number(v);
}

} // namespace

COptionsDlg::COptionsDlg(QWidget* parent, const DialogSeams& seams)
    : QDialog(parent), seams_(seams), options_(g_options) {
    Q_ASSERT(options_);
    build();
    loadControls();
}

QLineEdit* COptionsDlg::numberBox(const char* name, bool digitsOnly) {
    auto* box = new QLineEdit(this);
    box->setObjectName(QLatin1String(name));
    if (digitsOnly) {
        // Only digits reach the box from the keyboard; a regular expression
        // rather than an integer validator, which would also reject a long
        // number that the conversion on save saturates.
        box->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), box));
    }
    connect(box, &QLineEdit::textChanged, this, &COptionsDlg::OnModified);
    return box;
}

void COptionsDlg::build() {
    setWindowTitle(tr("Settings"));
    const DialogUnits du(font());

    auto label = [&](const QString& text, Box b) {
        auto* l = new QLabel(text, this);
        placeFitted(du, l, b);
        return l;
    };
    auto group = [&](const QString& title, Box b) {
        auto* g = new QGroupBox(title, this);
        placeGroup(du, g, b);
        return g;
    };

    // Created in tab order.
    save_ = new QPushButton(tr("Save"), this);
    save_->setObjectName(QStringLiteral("save"));
    save_->setDefault(true);
    placeFitted(du, save_, {181, 105, 50, 14});
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    placeFitted(du, cancel_, {232, 105, 50, 14});
    restoreDefaults_ = new QPushButton(tr("Restore defaults"), this);
    restoreDefaults_->setObjectName(QStringLiteral("restoreDefaults"));
    placeFitted(du, restoreDefaults_, {7, 105, 48, 14});

    columns_ = numberBox("columns", true);
    place(du, columns_, {56, 16, 20, 12});
    rows_ = numberBox("rows", true);
    place(du, rows_, {56, 29, 20, 12});
    frameWidth_ = numberBox("frameWidth", true);
    place(du, frameWidth_, {56, 44, 20, 12});
    frameHeight_ = numberBox("frameHeight", true);
    place(du, frameHeight_, {56, 57, 20, 12});
    spacingX_ = numberBox("spacingX", true);
    place(du, spacingX_, {56, 72, 20, 12});
    spacingY_ = numberBox("spacingY", true);
    place(du, spacingY_, {56, 85, 20, 12});

    shadow_ = new QCheckBox(tr("Shadow"), this);
    shadow_->setObjectName(QStringLiteral("shadow"));
    placeFitted(du, shadow_, {95, 17, 59, 10});
    shadowOffsetX_ = numberBox("shadowOffsetX", true);
    place(du, shadowOffsetX_, {157, 28, 20, 12});
    shadowOffsetY_ = numberBox("shadowOffsetY", true);
    place(du, shadowOffsetY_, {157, 41, 20, 12});
    shadowIntensity_ = numberBox("shadowIntensity", true);
    place(du, shadowIntensity_, {157, 54, 20, 12});

    font_ = new QPushButton(tr("Font..."), this);
    font_->setObjectName(QStringLiteral("font"));
    placeFitted(du, font_, {95, 84, 31, 14});

    group(tr("Layout"), {7, 7, 78, 96});
    label(tr("Columns"), {14, 18, 30, 8});
    label(tr("Rows"), {14, 31, 21, 8});
    label(tr("Spacing X"), {14, 74, 37, 8});
    label(tr("Spacing Y"), {14, 87, 39, 8});
    label(tr("Width"), {14, 46, 35, 8});
    label(tr("Height"), {14, 59, 37, 8});

    group(tr("Effects"), {88, 7, 97, 96});
    label(tr("Horizontal"), {116, 30, 30, 8});
    label(tr("Vertical"), {116, 43, 30, 8});
    label(tr("Intensity"), {116, 56, 32, 8});

    faceName_ = new QLabel(this);
    faceName_->setObjectName(QStringLiteral("faceName"));
    faceName_->setWordWrap(false);
    place(du, faceName_, {133, 87, 45, 10});

    group(tr("Annotation"), {188, 7, 94, 55});

    swatch_ = new CColorButton(this);
    swatch_->setObjectName(QStringLiteral("swatch"));
    swatch_->setAccessibleName(tr("Background colour"));
    place(du, swatch_, {157, 70, 20, 12});
    label(tr("Background"), {95, 72, 37, 8});

    timeStamps_ = new QCheckBox(tr("Show time"), this);
    timeStamps_->setObjectName(QStringLiteral("timeStamps"));
    placeFitted(du, timeStamps_, {195, 46, 56, 10});
    content_ = new QCheckBox(tr("Content"), this);
    content_->setObjectName(QStringLiteral("content"));
    placeFitted(du, content_, {195, 17, 37, 10});

    position_ = new QComboBox(this);
    position_->setObjectName(QStringLiteral("position"));
    // Entry i is the corner whose HeaderPosition value is i (which is also
    // the alphabetical order of the English labels).
    position_->insertItem(BottomLeft, tr("Bottom Left"));
    position_->insertItem(BottomRight, tr("Bottom Right"));
    position_->insertItem(TopLeft, tr("Top Left"));
    position_->insertItem(TopRight, tr("Top Right"));
    {
        // The list's height in the layout includes its drop-down part.
        QRect r = du.rect(227, 28, 55, 12);
        r.setHeight(std::max(r.height(), position_->sizeHint().height()));
        position_->setGeometry(r);
    }
    label(tr("Position"), {199, 31, 26, 8});

    group(tr("JPEG"), {188, 62, 94, 41});
    label(tr("Quality:"), {197, 75, 26, 8});
    quality_ = numberBox("quality", false);
    place(du, quality_, {226, 74, 20, 12});
    progressive_ = new QCheckBox(tr("Progressive"), this);
    progressive_->setObjectName(QStringLiteral("progressive"));
    placeFitted(du, progressive_, {197, 88, 53, 10});

    setFixedSize(du.rect(0, 0, 288, 123).size());

    QWidget* order[] = {save_,          cancel_,        restoreDefaults_, columns_,  rows_,
                        frameWidth_,    frameHeight_,   spacingX_,        spacingY_, shadow_,
                        shadowOffsetX_, shadowOffsetY_, shadowIntensity_, font_,     swatch_,
                        timeStamps_,    content_,       position_,        quality_,  progressive_};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(save_, &QPushButton::clicked, this, &COptionsDlg::OnSave);
    connect(cancel_, &QPushButton::clicked, this, &COptionsDlg::OnCancelButton);
    connect(restoreDefaults_, &QPushButton::clicked, this, &COptionsDlg::OnRestoreDefaults);
    connect(shadow_, &QCheckBox::clicked, this, &COptionsDlg::OnShadowToggle);
    connect(content_, &QCheckBox::clicked, this, &COptionsDlg::OnHeaderToggle);
    connect(timeStamps_, &QCheckBox::clicked, this, &COptionsDlg::OnModified);
    connect(progressive_, &QCheckBox::clicked, this, &COptionsDlg::OnModified);
    connect(position_, &QComboBox::currentIndexChanged, this, &COptionsDlg::OnModified);
    connect(swatch_, &QAbstractButton::clicked, this, &COptionsDlg::OnChooseColor);
    connect(font_, &QPushButton::clicked, this, &COptionsDlg::OnChooseFont);
}

void COptionsDlg::setShadowBoxesEnabled(bool enabled) {
    shadowOffsetX_->setEnabled(enabled);
    shadowOffsetY_->setEnabled(enabled);
    shadowIntensity_->setEnabled(enabled);
}

void COptionsDlg::loadControls() {
    const Options& o = *options_;
    columns_->setText(number(o.columns));
    rows_->setText(number(o.rows));
    frameWidth_->setText(number(o.frameWidth));
    frameHeight_->setText(number(o.frameHeight));
    spacingX_->setText(number(o.spacingX));
    spacingY_->setText(number(o.spacingY));
    shadowOffsetX_->setText(number(o.shadowOffsetX));
    shadowOffsetY_->setText(number(o.shadowOffsetY));
    shadowIntensity_->setText(number(o.shadowIntensity));
    quality_->setText(number(o.jpegQuality));

    shadow_->setChecked(o.shadowEnabled != 0);
    setShadowBoxesEnabled(o.shadowEnabled != 0);
    swatch_->setColor(o.backgroundColor);
    faceName_->setText(faceName(o.font));
    content_->setChecked(o.headerEnabled != 0);
    timeStamps_->setChecked(o.timeStampsEnabled != 0);
    progressive_->setChecked(o.jpegProgressive != 0);
    const bool known = o.headerPosition >= BottomLeft && o.headerPosition <= TopRight;
    position_->setCurrentIndex(known ? o.headerPosition : -1);
    position_->setEnabled(o.headerEnabled != 0);

    // Last: setting the texts above reports them as edits.
    modified_ = false;
}

QMessageBox::StandardButton COptionsDlg::message(QMessageBox::Icon icon, const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton) {
    return seams_.message(this, MessageRequest{icon, QGuiApplication::applicationDisplayName(),
                                               text, buttons, defaultButton});
}

void COptionsDlg::OnSave() {
    Options& o = *options_;
    o.columns = parseLeadingInt(columns_->text());
    o.rows = parseLeadingInt(rows_->text());
    o.frameWidth = parseLeadingInt(frameWidth_->text());
    o.frameHeight = parseLeadingInt(frameHeight_->text());
    o.spacingX = parseLeadingInt(spacingX_->text());
    o.spacingY = parseLeadingInt(spacingY_->text());
    o.shadowOffsetX = parseLeadingInt(shadowOffsetX_->text());
    o.shadowOffsetY = parseLeadingInt(shadowOffsetY_->text());
    o.shadowIntensity = parseLeadingInt(shadowIntensity_->text());
    o.jpegQuality = std::clamp(parseLeadingInt(quality_->text()), 0, 100);
    o.shadowEnabled = shadow_->isChecked() ? 1 : 0;
    o.headerEnabled = content_->isChecked() ? 1 : 0;
    o.timeStampsEnabled = timeStamps_->isChecked() ? 1 : 0;
    o.headerPosition = position_->currentIndex();
    o.jpegProgressive = progressive_->isChecked() ? 1 : 0;
    o.backgroundColor = swatch_->color();

    if (!o.save()) {
        // The values stay in the dialog and in the record; the user may
        // free the disk or fix the folder and save again, or cancel.
        message(QMessageBox::Critical,
                tr("The settings could not be saved.\n%1").arg(QString::fromStdString(o.lastError)),
                QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    accept();
}

void COptionsDlg::OnRestoreDefaults() {
    options_->setDefaults();
    loadControls();
}

void COptionsDlg::OnCancelButton() {
    if (modified_) {
        const QMessageBox::StandardButton answer =
            message(QMessageBox::Warning, tr("Save Changes?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
        if (answer == QMessageBox::Yes) {
            OnSave();
            return;
        }
        if (answer != QMessageBox::No)
            return;
    }
    // Undoes the font, text colour and defaults this visit put into the
    // record. A file that vanished meanwhile is recreated with the defaults.
    options_->load();
    QDialog::reject();
}

void COptionsDlg::reject() {
    OnCancelButton();
}

void COptionsDlg::OnShadowToggle() {
    setShadowBoxesEnabled(shadow_->isChecked());
    OnModified();
}

void COptionsDlg::OnHeaderToggle() {
    position_->setEnabled(content_->isChecked());
    OnModified();
}

void COptionsDlg::OnModified() {
    modified_ = true;
}

void COptionsDlg::OnChooseColor() {
    const std::optional<QColor> chosen = seams_.chooseColor(this, toQColor(swatch_->color()));
    if (!chosen)
        return;
    swatch_->setColor(toColorRef(*chosen));
    OnModified();
}

void COptionsDlg::OnChooseFont() {
    FontChoice choice{toQFont(options_->font), toQColor(options_->textColor)};
    if (!seams_.chooseFont(this, choice))
        return;
    LOGFONTA font = options_->font;
    storeQFont(choice.font, font);
    options_->font = font;
    options_->textColor = toColorRef(choice.color);
    faceName_->setText(faceName(options_->font));
    OnModified();
}
