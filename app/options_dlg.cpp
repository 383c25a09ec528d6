#include "app/options_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/accessible.h"
#include "app/color_button.h"
#include "app/value_convert.h"
#include "capture/capture.h"
#include "capture/layout.h"
#include "render/raster_image.h"
#include "settings/options.h"

namespace {

QString number(int32_t v) {
    return QString::number(v);
}

// Wide enough for the longest number any box takes (five digits) with room
// to spare, whatever the font.
void fitDigits(QLineEdit* box, int digits) {
    const QFontMetrics m(box->font());
    box->setFixedWidth(m.horizontalAdvance(QString(digits, QLatin1Char('0'))) +
                       2 * m.averageCharWidth() + 8);
}

// A stand-in information text for a sheet without a movie: four lines, which
// is all its height depends on.
std::string placeholderInfo(const Options& o) {
    MovieFacts f;
    f.videoWidth = o.frameWidth;
    f.videoHeight = o.frameHeight;
    return MovieProbe::formatInfo("movie", f);
}

} // namespace

COptionsDlg::COptionsDlg(Options& options, QWidget* parent, const DialogSeams& seams)
    : QDialog(parent), seams_(seams), options_(options) {
    build();
    loadControls();
}

void COptionsDlg::setMovie(const MovieFacts& facts, const std::string& infoText) {
    hasMovie_ = facts.usable();
    movie_ = facts;
    infoText_ = infoText;
    revalidate();
}

QLineEdit* COptionsDlg::numberBox(const char* name, int lowest, int highest) {
    auto* box = new QLineEdit(this);
    box->setObjectName(QLatin1String(name));
    auto* validator = new QIntValidator(lowest, highest, box);
    // Plain digits whatever the desktop's language: the settings file
    // stores numbers, not their local spelling.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    validator->setLocale(c);
    box->setValidator(validator);
    box->setProperty("lowest", lowest);
    box->setProperty("highest", highest);
    box->setAccessibleDescription(tr("A whole number from %1 to %2.").arg(lowest).arg(highest));
    fitDigits(box, 6);
    connect(box, &QLineEdit::textChanged, this, &COptionsDlg::OnModified);
    return box;
}

QLineEdit* COptionsDlg::spanBox(const char* name) {
    auto* box = new QLineEdit(this);
    box->setObjectName(QLatin1String(name));
    // Seconds ("90", "1.5s") or a share of the movie ("5%"); the final
    // word is TimeSpan::parse, this only keeps other characters out.
    box->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,9}(\\.[0-9]{0,6})?[s%]?")), box));
    box->setPlaceholderText(tr("none"));
    box->setToolTip(tr("Seconds (90, 1.5s) or a share of the movie (5%); empty for none."));
    box->setAccessibleDescription(box->toolTip());
    fitDigits(box, 6);
    connect(box, &QLineEdit::textChanged, this, &COptionsDlg::OnModified);
    return box;
}

void COptionsDlg::build() {
    setWindowTitle(tr("Settings"));
    // Before any control exists: Qt picks a control's interface for good the
    // first time anything about it is announced.
    installAccessibleFactories();

    // Boxes first, then the groups and labels that hold them, so each label
    // can name its box for the keyboard and for assistive tools.
    // Every frame is at least a pixel wide and high, so no sheet has more
    // columns or rows than it has pixels on a side; the layout decides the
    // rest (the note says why a grid does not fit).
    columns_ = numberBox("columns", 1, kMaxSheetSide);
    rows_ = numberBox("rows", 1, kMaxSheetSide);
    frameWidth_ = numberBox("frameWidth", 1, kMaxSheetSide);
    frameHeight_ = numberBox("frameHeight", 1, kMaxSheetSide);
    spacingX_ = numberBox("spacingX", 0, kMaxSheetSide);
    spacingY_ = numberBox("spacingY", 0, kMaxSheetSide);

    shadow_ = new QCheckBox(tr("Sh&adow"), this);
    shadow_->setObjectName(QStringLiteral("shadow"));
    shadowOffsetX_ = numberBox("shadowOffsetX", 0, kMaxSheetSide);
    shadowOffsetY_ = numberBox("shadowOffsetY", 0, kMaxSheetSide);
    shadowIntensity_ = numberBox("shadowIntensity", 0, 100);

    swatch_ = new CColorButton(options_.backgroundColor, this);
    swatch_->setObjectName(QStringLiteral("swatch"));
    swatch_->setAccessibleName(tr("Background colour"));
    swatch_->setAccessibleDescription(tr("The colour behind the frames. Press Space to choose."));
    swatch_->setFixedSize(columns_->width(), columns_->sizeHint().height());
    font_ = new QPushButton(tr("&Font…"), this);
    font_->setObjectName(QStringLiteral("font"));
    font_->setAccessibleDescription(tr("The font and colour of the time stamps and the "
                                       "information block."));
    faceName_ = new QLabel(this);
    faceName_->setObjectName(QStringLiteral("faceName"));
    faceName_->setWordWrap(false);
    faceName_->setAccessibleName(tr("Font name"));

    content_ = new QCheckBox(tr("Co&ntent"), this);
    content_->setObjectName(QStringLiteral("content"));
    content_->setAccessibleDescription(tr("Show the information block (file name, frame rate, "
                                          "resolution, duration) on the sheet."));
    position_ = new QComboBox(this);
    position_->setObjectName(QStringLiteral("position"));
    // Entry i is the corner whose HeaderPosition value is i (which is also
    // the alphabetical order of the English labels).
    position_->insertItem(BottomLeft, tr("Bottom Left"));
    position_->insertItem(BottomRight, tr("Bottom Right"));
    position_->insertItem(TopLeft, tr("Top Left"));
    position_->insertItem(TopRight, tr("Top Right"));
    position_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    position_->setAccessibleDescription(tr("The corner of the information block."));
    timeStamps_ = new QCheckBox(tr("Show ti&me"), this);
    timeStamps_->setObjectName(QStringLiteral("timeStamps"));
    timeStamps_->setAccessibleDescription(tr("Stamp each frame with its time."));

    quality_ = numberBox("quality", 0, 100);
    progressive_ = new QCheckBox(tr("&Progressive"), this);
    progressive_->setObjectName(QStringLiteral("progressive"));

    skipStart_ = spanBox("skipStart");
    skipEnd_ = spanBox("skipEnd");
    avoidBlank_ = new QCheckBox(tr("Avoid &blank frames"), this);
    avoidBlank_->setObjectName(QStringLiteral("avoidBlank"));
    avoidBlank_->setAccessibleDescription(
        tr("A black, white or faded frame is replaced by the next one that is not."));
    keyFrames_ = new QCheckBox(tr("&Key frames only"), this);
    keyFrames_->setObjectName(QStringLiteral("keyFrames"));
    keyFrames_->setAccessibleDescription(
        tr("Each cell shows the key frame nearest its moment: faster, less exact."));

    restoreDefaults_ = new QPushButton(tr("Restore &defaults"), this);
    restoreDefaults_->setObjectName(QStringLiteral("restoreDefaults"));
    save_ = new QPushButton(tr("&Save"), this);
    save_->setObjectName(QStringLiteral("save"));
    save_->setDefault(true);
    cancel_ = new QPushButton(tr("&Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));

    sheetSize_ = new QLabel(this);
    sheetSize_->setObjectName(QStringLiteral("sheetSize"));
    sheetSize_->setAccessibleName(tr("Sheet size"));
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("note"));
    note_->setWordWrap(true);
    note_->setAccessibleName(tr("Problem"));
    {
        QPalette p = note_->palette();
        p.setColor(QPalette::WindowText, QColor(170, 0, 0));
        note_->setPalette(p);
    }

    // A row of a form: the label names the box for Alt+letter and for
    // assistive tools.
    auto row = [this](QFormLayout* form, const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        if (field->accessibleName().isEmpty())
            field->setAccessibleName(QString(text).remove(QLatin1Char('&')).remove(u'…'));
        form->addRow(label, field);
        return label;
    };
    auto form = [](QWidget* parent) {
        auto* f = new QFormLayout(parent);
        f->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
        f->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return f;
    };

    auto* layoutGroup = new QGroupBox(tr("Layout"), this);
    {
        QFormLayout* f = form(layoutGroup);
        row(f, tr("Co&lumns"), columns_);
        row(f, tr("&Rows"), rows_);
        row(f, tr("&Width"), frameWidth_);
        row(f, tr("&Height"), frameHeight_);
        row(f, tr("Spacing &X"), spacingX_);
        row(f, tr("Spacing &Y"), spacingY_);
    }

    auto* effects = new QGroupBox(tr("Effects"), this);
    {
        auto* v = new QVBoxLayout(effects);
        v->addWidget(shadow_);
        auto* shadowForm = form(nullptr);
        shadowForm->setContentsMargins(fontMetrics().averageCharWidth() * 3, 0, 0, 0);
        row(shadowForm, tr("Hori&zontal"), shadowOffsetX_);
        row(shadowForm, tr("&Vertical"), shadowOffsetY_);
        row(shadowForm, tr("&Intensity"), shadowIntensity_);
        shadowOffsetX_->setAccessibleName(tr("Shadow horizontal offset"));
        shadowOffsetY_->setAccessibleName(tr("Shadow vertical offset"));
        shadowIntensity_->setAccessibleName(tr("Shadow intensity"));
        v->addLayout(shadowForm);
        auto* colourForm = form(nullptr);
        row(colourForm, tr("Back&ground"), swatch_);
        v->addLayout(colourForm);
        auto* fontRow = new QHBoxLayout;
        fontRow->addWidget(font_);
        fontRow->addWidget(faceName_, 1);
        v->addLayout(fontRow);
        v->addStretch(1);
    }

    auto* annotation = new QGroupBox(tr("Annotation"), this);
    {
        auto* v = new QVBoxLayout(annotation);
        v->addWidget(content_);
        auto* f = form(nullptr);
        row(f, tr("P&osition"), position_);
        v->addLayout(f);
        v->addWidget(timeStamps_);
        v->addStretch(1);
    }

    auto* jpeg = new QGroupBox(tr("JPEG"), this);
    {
        auto* v = new QVBoxLayout(jpeg);
        auto* f = form(nullptr);
        row(f, tr("&Quality:"), quality_);
        quality_->setAccessibleName(tr("JPEG quality"));
        v->addLayout(f);
        v->addWidget(progressive_);
        v->addStretch(1);
    }

    auto* frames = new QGroupBox(tr("Frame choice"), this);
    frames->setObjectName(QStringLiteral("frameChoice"));
    {
        auto* g = new QGridLayout(frames);
        auto* startLabel = new QLabel(tr("Skip s&tart"), this);
        startLabel->setBuddy(skipStart_);
        skipStart_->setAccessibleName(tr("Skip start"));
        auto* endLabel = new QLabel(tr("Skip &end"), this);
        endLabel->setBuddy(skipEnd_);
        skipEnd_->setAccessibleName(tr("Skip end"));
        g->addWidget(startLabel, 0, 0);
        g->addWidget(skipStart_, 0, 1);
        g->addWidget(endLabel, 0, 2);
        g->addWidget(skipEnd_, 0, 3);
        g->addWidget(avoidBlank_, 1, 0, 1, 2);
        g->addWidget(keyFrames_, 1, 2, 1, 2);
        g->setColumnStretch(4, 1);
    }

    auto* right = new QVBoxLayout;
    right->addWidget(annotation);
    right->addWidget(jpeg);
    auto* groups = new QHBoxLayout;
    groups->addWidget(layoutGroup);
    groups->addWidget(effects);
    groups->addLayout(right);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(restoreDefaults_);
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(cancel_);

    auto* root = new QVBoxLayout(this);
    root->addLayout(groups);
    root->addWidget(frames);
    root->addWidget(sheetSize_);
    root->addWidget(note_);
    root->addLayout(buttons);
    // Not resizable: the dialog is as large as its contents need.
    root->setSizeConstraint(QLayout::SetFixedSize);

    // The order the eye reads: down each group, the groups left to right,
    // then the frame choice and the buttons.
    QWidget* order[] = {
        columns_, rows_,          frameWidth_,    frameHeight_,     spacingX_,    spacingY_,
        shadow_,  shadowOffsetX_, shadowOffsetY_, shadowIntensity_, swatch_,      font_,
        content_, position_,      timeStamps_,    quality_,         progressive_, skipStart_,
        skipEnd_, avoidBlank_,    keyFrames_,     restoreDefaults_, save_,        cancel_};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(save_, &QPushButton::clicked, this, &COptionsDlg::OnSave);
    connect(cancel_, &QPushButton::clicked, this, &COptionsDlg::OnCancelButton);
    connect(restoreDefaults_, &QPushButton::clicked, this, &COptionsDlg::OnRestoreDefaults);
    connect(shadow_, &QCheckBox::clicked, this, &COptionsDlg::OnShadowToggle);
    connect(content_, &QCheckBox::clicked, this, &COptionsDlg::OnHeaderToggle);
    connect(timeStamps_, &QCheckBox::clicked, this, &COptionsDlg::OnModified);
    connect(progressive_, &QCheckBox::clicked, this, &COptionsDlg::OnModified);
    connect(avoidBlank_, &QCheckBox::clicked, this, &COptionsDlg::OnModified);
    connect(keyFrames_, &QCheckBox::clicked, this, &COptionsDlg::OnModified);
    connect(position_, &QComboBox::currentIndexChanged, this, &COptionsDlg::OnModified);
    connect(swatch_, &CColorButton::clicked, this, &COptionsDlg::OnChooseColor);
    connect(font_, &QPushButton::clicked, this, &COptionsDlg::OnChooseFont);
}

void COptionsDlg::setShadowBoxesEnabled(bool enabled) {
    shadowOffsetX_->setEnabled(enabled);
    shadowOffsetY_->setEnabled(enabled);
    shadowIntensity_->setEnabled(enabled);
}

void COptionsDlg::loadFrameChoice(const FrameChoiceText& t) {
    skipStart_->setText(t.skipStart);
    skipEnd_->setText(t.skipEnd);
    avoidBlank_->setChecked(t.avoidBlank);
    keyFrames_->setChecked(t.keyFrames);
}

void COptionsDlg::loadControls() {
    loading_ = true;
    const Options& o = options_;
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
    loadFrameChoice(user_.frameChoiceText());
    loading_ = false;

    revalidate();
    // Last: setting the texts above reports them as edits.
    modified_ = false;
}

Options COptionsDlg::valuesInControls() const {
    Options o = options_;
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
    return o;
}

FrameChoiceText COptionsDlg::frameChoiceInControls() const {
    FrameChoiceText t;
    t.skipStart = skipStart_->text().trimmed();
    t.skipEnd = skipEnd_->text().trimmed();
    t.avoidBlank = avoidBlank_->isChecked();
    t.keyFrames = keyFrames_->isChecked();
    return t;
}

void COptionsDlg::revalidate() {
    QString problem;
    QLineEdit* numberBoxes[] = {columns_,         rows_,     frameWidth_,    frameHeight_,
                                spacingX_,        spacingY_, shadowOffsetX_, shadowOffsetY_,
                                shadowIntensity_, quality_};
    for (QLineEdit* box : numberBoxes) {
        // A disabled box is not the user's to fix; its value is kept as is.
        const bool bad = box->isEnabled() && !box->hasAcceptableInput();
        QPalette p = palette();
        if (bad) {
            p.setColor(QPalette::Base, QColor(255, 224, 224));
            p.setColor(QPalette::Text, Qt::black);
        }
        box->setPalette(p);
        if (bad && problem.isEmpty())
            problem = tr("%1 must be a whole number from %2 to %3.")
                          .arg(box->accessibleName(), box->property("lowest").toString(),
                               box->property("highest").toString());
    }

    const FrameChoiceText choiceText = frameChoiceInControls();
    FrameChoice choice;
    QString badSpan;
    if (!choiceText.toChoice(choice, &badSpan) && problem.isEmpty())
        problem = tr("%1 must be seconds (90, 1.5s) or a share of the movie (5%).")
                      .arg(badSpan == QLatin1String("skipStart") ? skipStart_->accessibleName()
                                                                 : skipEnd_->accessibleName());

    sizeText_.clear();
    if (problem.isEmpty()) {
        const Options o = valuesInControls();
        int textW = 0;
        int textH = 0;
        if (o.headerEnabled) {
            // Measured as the capture measures it; the block's height adds
            // to the sheet's.
            const std::string info = hasMovie_ ? infoText_ : placeholderInfo(o);
            const TextSize size = measureText(info, TextFlags{.expandTabs = true}, o.font);
            textW = size.width;
            textH = size.height;
        }
        // Without a movie, frames that fill their box: the largest sheet
        // these values can make.
        const int vw = hasMovie_ ? movie_.videoWidth : o.frameWidth;
        const int vh = hasMovie_ ? movie_.videoHeight : o.frameHeight;
        SheetLayout layout;
        std::string error;
        std::vector<int64_t> moments;
        if (!computeLayout(o, vw, vh, textW, textH, layout, error))
            problem = QString::fromStdString(error);
        else if (hasMovie_ &&
                 !captureMoments(movie_.duration, layout.cells, choice, moments, error))
            problem = QString::fromStdString(error);
        else {
            const QString size = tr("%1 × %2 px").arg(layout.sheetWidth).arg(layout.sheetHeight);
            sizeText_ = hasMovie_ ? size : tr("up to %1").arg(size);
        }
    }

    problem_ = problem;
    note_->setText(problem);
    note_->setVisible(!problem.isEmpty());
    if (sizeText_.isEmpty()) {
        sheetSize_->setText(tr("Sheet: –"));
    } else {
        const bool black = readableTextColor(swatch_->color()) == Rgb{0, 0, 0};
        sheetSize_->setText(content_->isChecked()
                                ? tr("Sheet: %1, information in %2")
                                      .arg(sizeText_, black ? tr("black") : tr("white"))
                                : tr("Sheet: %1").arg(sizeText_));
    }
    sheetSize_->setAccessibleDescription(sheetSize_->text());
    save_->setEnabled(problem.isEmpty());
    save_->setToolTip(problem);
}

QMessageBox::StandardButton COptionsDlg::message(QMessageBox::Icon icon, const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton) {
    return seams_.message(this, MessageRequest{icon, QGuiApplication::applicationDisplayName(),
                                               text, buttons, defaultButton});
}

void COptionsDlg::OnSave() {
    // Enter reaches Save even while it is disabled; the note says why not.
    revalidate();
    if (!problem_.isEmpty())
        return;
    Options& o = options_;
    const Options values = valuesInControls();
    // Field by field, so the header, the font and the text colour (which
    // the font chooser already put into the record) stay as they are.
    o.columns = values.columns;
    o.rows = values.rows;
    o.frameWidth = values.frameWidth;
    o.frameHeight = values.frameHeight;
    o.spacingX = values.spacingX;
    o.spacingY = values.spacingY;
    o.shadowOffsetX = values.shadowOffsetX;
    o.shadowOffsetY = values.shadowOffsetY;
    o.shadowIntensity = values.shadowIntensity;
    o.jpegQuality = values.jpegQuality;
    o.shadowEnabled = values.shadowEnabled;
    o.headerEnabled = values.headerEnabled;
    o.timeStampsEnabled = values.timeStampsEnabled;
    o.headerPosition = values.headerPosition;
    o.jpegProgressive = values.jpegProgressive;
    o.backgroundColor = values.backgroundColor;

    if (!o.save()) {
        // The values stay in the dialog and in the record; the user may
        // free the disk or fix the folder and save again, or cancel.
        message(QMessageBox::Critical,
                tr("The settings could not be saved.\n%1").arg(QString::fromStdString(o.lastError)),
                QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    user_.setFrameChoiceText(frameChoiceInControls());
    if (!user_.sync()) {
        message(QMessageBox::Warning,
                tr("The frame choice could not be saved in %1.").arg(user_.fileName()),
                QMessageBox::Ok, QMessageBox::Ok);
    }
    accept();
}

void COptionsDlg::OnRestoreDefaults() {
    options_.setDefaults();
    loadControls();
    // The frame choice's defaults: the classic sheet. Written only on Save.
    loading_ = true;
    loadFrameChoice(FrameChoiceText{});
    loading_ = false;
    revalidate();
    modified_ = false;
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
    options_.load();
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
    if (!loading_)
        revalidate();
}

void COptionsDlg::OnChooseColor() {
    const std::optional<QColor> chosen = seams_.chooseColor(this, toQColor(swatch_->color()));
    if (!chosen)
        return;
    swatch_->setColor(toRgb(*chosen));
    OnModified();
}

void COptionsDlg::OnChooseFont() {
    FontChoice choice{toQFont(options_.font), toQColor(options_.textColor)};
    if (!seams_.chooseFont(this, choice))
        return;
    storeQFont(choice.font, options_.font);
    options_.textColor = toRgb(choice.color);
    faceName_->setText(faceName(options_.font));
    OnModified();
}
