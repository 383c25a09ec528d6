// The settings dialog against a real settings file in a fresh folder per test.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <climits>
#include <cstring>
#include <memory>

#include "app/color_button.h"
#include "app/font_chooser.h"
#include "app/options_dlg.h"
#include "app/user_settings.h"
#include "app/value_convert.h"
#include "capture/layout.h"
#include "settings/options.h"
#include "tests/app/app_fixture.h"
#include "tests/app/test_seams.h"

namespace {

// What the settings file on disk holds, without touching the live record.
Options fileRecord() {
    QFile f(QString::fromLatin1(Options::kFileName));
    if (!f.open(QIODevice::ReadOnly))
        return Options::defaults();
    const QByteArray bytes = f.readAll();
    Options o = Options::defaults();
    o.overlayBytes(reinterpret_cast<const uint8_t*>(bytes.constData()),
                   static_cast<size_t>(bytes.size()));
    return o;
}

template <class T> T* child(QWidget& dlg, const char* name) {
    T* w = dlg.findChild<T*>(QLatin1String(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

// Why the layout refuses a grid of the default frames (empty when it
// does not).
QString layoutRefusal(int columns, int rows) {
    Options o = Options::defaults();
    o.columns = columns;
    o.rows = rows;
    SheetLayout layout;
    std::string error;
    computeLayout(o, o.frameWidth, o.frameHeight, 0, 0, layout, error);
    return QString::fromStdString(error);
}

void type(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
}

} // namespace

class OptionsDlgTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<apptest::Sandbox> sandbox_;
    std::unique_ptr<Options> options_;
    FakeDialogs fake_;

    // A record saved with a few non-default values, so "the file's values"
    // differ from the defaults.
    void saveCustomFile() {
        options_->columns = 8;
        options_->rows = 3;
        options_->jpegQuality = 70;
        QVERIFY(options_->save());
    }

private slots:
    void init() {
        sandbox_ = std::make_unique<apptest::Sandbox>();
        QVERIFY(sandbox_->valid());
        options_ = std::make_unique<Options>();
        fake_ = FakeDialogs();
        saveCustomFile();
    }
    void cleanup() {
        options_.reset();
        sandbox_.reset();
    }

    void showsTheRecord() {
        options_->headerPosition = TopLeft;
        options_->shadowEnabled = 0;
        options_->headerEnabled = 0;
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        QCOMPARE(child<QLineEdit>(dlg, "columns")->text(), QString("8"));
        QCOMPARE(child<QLineEdit>(dlg, "rows")->text(), QString("3"));
        QCOMPARE(child<QLineEdit>(dlg, "quality")->text(), QString("70"));
        QCOMPARE(child<QLabel>(dlg, "faceName")->text(), QString("Arial"));
        // Entry i of the list is HeaderPosition i; 2 is the top-left corner.
        auto* position = child<QComboBox>(dlg, "position");
        QCOMPARE(position->currentIndex(), 2);
        QCOMPARE(position->currentText(), QString("Top Left"));
        QCOMPARE(position->itemText(BottomLeft), QString("Bottom Left"));
        QCOMPARE(position->itemText(TopRight), QString("Top Right"));
        // Disabled options show disabled controls from the start.
        QVERIFY(!child<QLineEdit>(dlg, "shadowOffsetX")->isEnabled());
        QVERIFY(!child<QLineEdit>(dlg, "shadowOffsetY")->isEnabled());
        QVERIFY(!child<QLineEdit>(dlg, "shadowIntensity")->isEnabled());
        QVERIFY(!position->isEnabled());
        QVERIFY(!dlg.isModified());
    }

    void cancelAtOnceClosesAndRereadsTheFile() {
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        options_->rows = 42; // a change in memory only
        child<QPushButton>(dlg, "cancel")->click();
        QVERIFY(fake_.messages.isEmpty());
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(options_->rows, 3);
    }

    void typingThenCancelAsks_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<int>("recordColumns");
        QTest::addColumn<int>("fileColumns");
        QTest::newRow("yes saves") << int(QMessageBox::Yes) << true << 7 << 7;
        QTest::newRow("no restores") << int(QMessageBox::No) << true << 8 << 8;
        QTest::newRow("cancel stays") << int(QMessageBox::Cancel) << false << 8 << 8;
    }
    void typingThenCancelAsks() {
        QFETCH(int, answer);
        QFETCH(bool, closed);
        QFETCH(int, recordColumns);
        QFETCH(int, fileColumns);
        fake_.answers.push_back(static_cast<QMessageBox::StandardButton>(answer));
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        auto* columns = child<QLineEdit>(dlg, "columns");
        type(columns, "7");
        QVERIFY(dlg.isModified());
        child<QPushButton>(dlg, "cancel")->click();

        QCOMPARE(fake_.messages.size(), 1);
        const MessageRequest& box = fake_.messages.front();
        QCOMPARE(box.text, QString("Save Changes?"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QCOMPARE(dlg.isVisible(), !closed);
        QCOMPARE(options_->columns, recordColumns);
        QCOMPARE(fileRecord().columns, fileColumns);
        if (!closed)
            QCOMPARE(columns->text(), QString("7"));
    }

    void escapeAndCloseBoxActAsCancel() {
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        type(child<QLineEdit>(dlg, "rows"), "9");
        fake_.answers = {QMessageBox::Cancel, QMessageBox::No};
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QCOMPARE(fake_.messages.size(), 1);
        QVERIFY(dlg.isVisible());
        dlg.close();
        QCOMPARE(fake_.messages.size(), 2);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(options_->rows, 3);

        // Unmodified, Escape still re-reads the file: a font chosen and then
        // undone by No must not linger in the record.
        options_->textColor = (Rgb{1, 2, 3});
        COptionsDlg again(*options_, nullptr, fake_.seams());
        again.show();
        QTest::keyClick(&again, Qt::Key_Escape);
        QVERIFY(!again.isVisible());
        QCOMPARE(options_->textColor, (Rgb{255, 255, 255}));
    }

    void fontChoiceIsLiveUntilCancelled() {
        QFont chosen(QStringLiteral("DejaVu Serif"));
        chosen.setPixelSize(20);
        chosen.setItalic(true);
        chosen.setWeight(QFont::Normal);
        fake_.font = FontChoice{chosen, QColor(200, 10, 20)};
        fake_.answers.push_back(QMessageBox::No);
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        child<QPushButton>(dlg, "font")->click();
        // In the record at once, and in the label.
        QCOMPARE(faceName(options_->font), QString("DejaVu Serif"));
        QCOMPARE(options_->font.height, -20);
        QCOMPARE(options_->font.weight, 400);
        QCOMPARE(options_->font.italic, true);
        QCOMPARE(options_->textColor, (Rgb{200, 10, 20}));
        QCOMPARE(child<QLabel>(dlg, "faceName")->text(), QString("DejaVu Serif"));
        QVERIFY(dlg.isModified());

        child<QPushButton>(dlg, "cancel")->click();
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(faceName(options_->font), QString("Arial"));
        QCOMPARE(options_->font.height, -11);
        QCOMPARE(options_->textColor, (Rgb{255, 255, 255}));
    }

    void fontChoiceSavedWithYes() {
        QFont chosen(QStringLiteral("DejaVu Sans Mono"));
        chosen.setPointSize(12); // 16 pixels at the sheet's 96 dpi
        chosen.setBold(true);
        fake_.font = FontChoice{chosen, QColor(0, 0, 255)};
        fake_.answers.push_back(QMessageBox::Yes);
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        child<QPushButton>(dlg, "font")->click();
        child<QPushButton>(dlg, "cancel")->click();
        QVERIFY(!dlg.isVisible());
        const Options file = fileRecord();
        QCOMPARE(faceName(file.font), QString("DejaVu Sans Mono"));
        QCOMPARE(file.font.height, -16);
        QCOMPARE(file.font.weight, 700);
        QCOMPARE(file.textColor, (Rgb{0, 0, 255}));
        // What the chooser does not speak for keeps its value, in the record
        // and in the file's font record (precision, pitch and family).
        QCOMPARE(file.font.kind, FontKind::Sans);
        QCOMPARE(file.toBytes()[84], uint8_t(3));
        QCOMPARE(file.toBytes()[87], uint8_t(0x22));
    }

    void cancelledChoosersChangeNothing() {
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        auto* swatch = child<CColorButton>(dlg, "swatch");
        const Rgb before = swatch->color();
        swatch->click();
        child<QPushButton>(dlg, "font")->click();
        QCOMPARE(fake_.colorCalls, 1);
        QCOMPARE(fake_.fontCalls, 1);
        QCOMPARE(swatch->color(), before);
        QCOMPARE(faceName(options_->font), QString("Arial"));
        QVERIFY(!dlg.isModified());
    }

    void restoreDefaultsThenCancelThenSave() {
        {
            COptionsDlg dlg(*options_, nullptr, fake_.seams());
            dlg.show();
            auto* swatch = child<CColorButton>(dlg, "swatch");
            fake_.color = QColor(1, 2, 3);
            swatch->click();
            child<QPushButton>(dlg, "restoreDefaults")->click();
            QCOMPARE(child<QLineEdit>(dlg, "columns")->text(), QString("5"));
            QCOMPARE(options_->columns, 5); // the live record at once
            QCOMPARE(swatch->color(), (Rgb{238, 242, 247}));
            QVERIFY(!dlg.isModified());
            child<QPushButton>(dlg, "cancel")->click();
            QVERIFY(fake_.messages.isEmpty());
            QCOMPARE(options_->columns, 8);
            QCOMPARE(fileRecord().columns, 8);
        }
        {
            COptionsDlg dlg(*options_, nullptr, fake_.seams());
            dlg.show();
            child<QPushButton>(dlg, "restoreDefaults")->click();
            child<QPushButton>(dlg, "save")->click();
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            const Options defaults = Options::defaults();
            QCOMPARE(fileRecord().toBytes(), defaults.toBytes());
        }
    }

    void restoredSwatchRepaints() {
        options_->backgroundColor = (Rgb{0, 0, 0});
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        auto* swatch = child<CColorButton>(dlg, "swatch");
        child<QPushButton>(dlg, "restoreDefaults")->click();
        const QImage shown = swatch->grab().toImage();
        QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(238, 242, 247));
    }

    // Each box takes only what the capture accepts; out of range, a note
    // says so and Save waits until it is fixed.
    void valuesOutOfRange_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("note");
        QTest::newRow("no columns") << "columns"
                                    << "0"
                                    << "Columns must be a whole number from 1 to 32768.";
        QTest::newRow("no rows") << "rows"
                                 << ""
                                 << "Rows must be a whole number from 1 to 32768.";
        QTest::newRow("zero width") << "frameWidth"
                                    << "0"
                                    << "Width must be a whole number from 1 to 32768.";
        QTest::newRow("wide") << "frameWidth"
                              << "99999"
                              << "Width must be a whole number from 1 to 32768.";
        QTest::newRow("quality") << "quality"
                                 << "150"
                                 << "JPEG quality must be a whole number from 0 to 100.";
        QTest::newRow("intensity") << "shadowIntensity"
                                   << "101"
                                   << "Shadow intensity must be a whole number from 0 to 100.";
        // The layout's own refusal of 30000 x 3 frames, whichever limit
        // it meets first.
        QTest::newRow("too many frames") << "columns"
                                         << "30000" << layoutRefusal(30000, 3);
        QTest::newRow("too large a sheet") << "spacingX"
                                           << "9000"
                                           << "The sheet would be larger than 32768 pixels on a "
                                              "side; use fewer or smaller frames.";
        QTest::newRow("skip beyond the movie")
            << "skipStart"
            << "150%"
            << "Skip start must be seconds (90, 1.5s) or a share of the movie (5%).";
    }
    void valuesOutOfRange() {
        QFETCH(QString, box);
        QFETCH(QString, text);
        QFETCH(QString, note);
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        auto* save = child<QPushButton>(dlg, "save");
        QVERIFY(save->isEnabled());
        QVERIFY(dlg.problem().isEmpty());
        auto* edit = child<QLineEdit>(dlg, qPrintable(box));
        type(edit, text);
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), text);
        QCOMPARE(dlg.problem(), note);
        QCOMPARE(child<QLabel>(dlg, "note")->text(), note);
        QVERIFY(child<QLabel>(dlg, "note")->isVisible());
        QVERIFY(!save->isEnabled());
        QCOMPARE(save->toolTip(), note);
        // Enter does not save either.
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(dlg.isVisible());
        QCOMPARE(fileRecord().columns, 8);
        // Fixed, it may be saved again.
        type(edit, box == "skipStart" ? "10%" : box == "spacingX" ? "10" : "5");
        QVERIFY2(dlg.problem().isEmpty(), qPrintable(dlg.problem()));
        QVERIFY(save->isEnabled());
        QVERIFY(!child<QLabel>(dlg, "note")->isVisible());
    }

    void numberBoxesTakeOnlyDigitsUpToTheirLength() {
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        auto* columns = child<QLineEdit>(dlg, "columns");
        type(columns, "1a-2 ");
        QCOMPARE(columns->text(), QString("12"));
        // No more digits than the largest value has.
        auto* width = child<QLineEdit>(dlg, "frameWidth");
        type(width, "99999999999");
        QCOMPARE(width->text(), QString("99999"));
        auto* quality = child<QLineEdit>(dlg, "quality");
        type(quality, "85%");
        QCOMPARE(quality->text(), QString("85"));
        type(width, "200");
        child<QPushButton>(dlg, "save")->click();
        QCOMPARE(options_->columns, 12);
        QCOMPARE(options_->frameWidth, 200);
        QCOMPARE(options_->jpegQuality, 85);
    }

    void aFileWithValuesOutOfRangeOpensWithTheNote() {
        options_->columns = 0;
        options_->frameHeight = -4;
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        QVERIFY(!child<QPushButton>(dlg, "save")->isEnabled());
        QCOMPARE(dlg.problem(), QString("Columns must be a whole number from 1 to 32768."));
        QVERIFY(!dlg.isModified());
        // A disabled box is not the user's to fix: a wild shadow value in a
        // file with the shadow off does not block Save.
        options_->columns = 4;
        options_->frameHeight = 100;
        options_->shadowEnabled = 0;
        options_->shadowIntensity = 1000;
        COptionsDlg other(*options_, nullptr, fake_.seams());
        QVERIFY(child<QPushButton>(other, "save")->isEnabled());
        child<QCheckBox>(other, "shadow")->click();
        QVERIFY(!child<QPushButton>(other, "save")->isEnabled());
    }

    void sheetSizeFollowsTheValues() {
        options_->headerEnabled = 0;
        options_->columns = 3;
        options_->rows = 2;
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        // Frames that fill their 156 x 117 box, spacing 10 between, around
        // and once more under the grid.
        QCOMPARE(dlg.sheetSizeText(), QString("up to 508 × 274 px"));
        type(child<QLineEdit>(dlg, "columns"), "4");
        QCOMPARE(dlg.sheetSizeText(), QString("up to 674 × 274 px"));
        // For a 176 x 144 movie the frames are 143 x 117.
        MovieFacts facts;
        facts.videoWidth = 176;
        facts.videoHeight = 144;
        facts.duration = 20'000'000;
        dlg.setMovie(facts, "File Name\t: a.avi");
        QCOMPARE(dlg.sheetSizeText(), QString("622 × 274 px"));
        QVERIFY(child<QLabel>(dlg, "sheetSize")->text().contains("622 × 274 px"));
        // The information block adds its height, and says its colour.
        child<QCheckBox>(dlg, "content")->click();
        QVERIFY(dlg.sheetSizeText().startsWith("622 × "));
        QVERIFY(dlg.sheetSizeText() != "622 × 274 px");
        QVERIFY(child<QLabel>(dlg, "sheetSize")->text().endsWith("information in black"));
        fake_.color = QColor(10, 10, 40);
        child<CColorButton>(dlg, "swatch")->click();
        QVERIFY(child<QLabel>(dlg, "sheetSize")->text().endsWith("information in white"));
        // Skips that leave nothing of this 2-second movie.
        type(child<QLineEdit>(dlg, "skipStart"), "60");
        QCOMPARE(dlg.problem(),
                 QString("Skipping the start and the end leaves nothing of the movie."));
        QVERIFY(!child<QPushButton>(dlg, "save")->isEnabled());
    }

    void frameChoiceIsKeptForTheUserNotInTheFile() {
        const QByteArray before = [] {
            QFile f(QString::fromLatin1(Options::kFileName));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        {
            COptionsDlg dlg(*options_, nullptr, fake_.seams());
            dlg.show();
            type(child<QLineEdit>(dlg, "skipStart"), "1.5s");
            type(child<QLineEdit>(dlg, "skipEnd"), "5%");
            child<QCheckBox>(dlg, "avoidBlank")->click();
            child<QCheckBox>(dlg, "keyFrames")->click();
            QVERIFY(dlg.isModified());
            child<QPushButton>(dlg, "save")->click();
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
        }
        QFile f(QString::fromLatin1(Options::kFileName));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        const FrameChoiceText kept = UserSettings().frameChoiceText();
        QCOMPARE(kept.skipStart, QString("1.5s"));
        QCOMPARE(kept.skipEnd, QString("5%"));
        QVERIFY(kept.avoidBlank && kept.keyFrames);
        const FrameChoice choice = UserSettings().frameChoice();
        QCOMPARE(choice.skipStart.value, 1.5);
        QVERIFY(!choice.skipStart.percent);
        QCOMPARE(choice.skipEnd.value, 5.0);
        QVERIFY(choice.skipEnd.percent);
        QVERIFY(
            QFileInfo(UserSettings().fileName()).absolutePath().startsWith(QDir::currentPath()));

        // Shown the next time; Cancel keeps what was saved, restore defaults
        // clears the choice only when saved.
        COptionsDlg again(*options_, nullptr, fake_.seams());
        again.show();
        QCOMPARE(child<QLineEdit>(again, "skipStart")->text(), QString("1.5s"));
        QVERIFY(child<QCheckBox>(again, "keyFrames")->isChecked());
        type(child<QLineEdit>(again, "skipStart"), "7");
        fake_.answers.push_back(QMessageBox::No);
        child<QPushButton>(again, "cancel")->click();
        QCOMPARE(UserSettings().frameChoiceText().skipStart, QString("1.5s"));
        COptionsDlg third(*options_, nullptr, fake_.seams());
        child<QPushButton>(third, "restoreDefaults")->click();
        QVERIFY(child<QLineEdit>(third, "skipStart")->text().isEmpty());
        QVERIFY(!child<QCheckBox>(third, "avoidBlank")->isChecked());
        child<QPushButton>(third, "save")->click();
        QCOMPARE(UserSettings().frameChoiceText(), FrameChoiceText{});
    }

    void swatchShowsItsFocus() {
        options_->backgroundColor = (Rgb{238, 242, 247});
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* swatch = child<CColorButton>(dlg, "swatch");
        const QImage plain = swatch->grab().toImage();
        swatch->setFocus(Qt::TabFocusReason);
        QVERIFY(swatch->hasFocus());
        const QImage focused = swatch->grab().toImage();
        QVERIFY(plain != focused);
        // The ring is dark on a light colour and stays inside the frame.
        int dark = 0;
        const int frame = 2 * qRound(focused.devicePixelRatio());
        for (int y = frame; y < focused.height() - frame; ++y)
            for (int x = frame; x < focused.width() - frame; ++x)
                dark += qGray(focused.pixel(x, y)) < 60;
        QVERIFY(dark > 10);
        // Just inside the frame (one pixel, in device pixels) the colour.
        const int px = qRound(focused.devicePixelRatio());
        QCOMPARE(focused.pixelColor(px, px), QColor(238, 242, 247));
        // Space chooses a colour, as a click does.
        fake_.color = QColor(1, 2, 3);
        QTest::keyClick(swatch, Qt::Key_Space);
        QCOMPARE(fake_.colorCalls, 1);
        QCOMPARE(swatch->color(), (Rgb{1, 2, 3}));
    }

    void shadowBoxes() {
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        auto* shadow = child<QCheckBox>(dlg, "shadow");
        QVERIFY(shadow->isChecked());
        shadow->click();
        for (const char* name : {"shadowOffsetX", "shadowOffsetY", "shadowIntensity"})
            QVERIFY(!child<QLineEdit>(dlg, name)->isEnabled());
        QVERIFY(dlg.isModified());
        shadow->click();
        QVERIFY(child<QLineEdit>(dlg, "shadowIntensity")->isEnabled());

        // An edit in a shadow box alone counts as a change worth asking about.
        COptionsDlg other(*options_, nullptr, fake_.seams());
        other.show();
        type(child<QLineEdit>(other, "shadowIntensity"), "80");
        fake_.answers.push_back(QMessageBox::Yes);
        child<QPushButton>(other, "cancel")->click();
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(fileRecord().shadowIntensity, 80);
    }

    void headerToggleAndUnknownPosition() {
        options_->headerPosition = 7;
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        auto* position = child<QComboBox>(dlg, "position");
        QCOMPARE(position->currentIndex(), -1);
        auto* content = child<QCheckBox>(dlg, "content");
        content->click();
        QVERIFY(!position->isEnabled());
        QVERIFY(dlg.isModified());
        content->click();
        QVERIFY(position->isEnabled());
        child<QPushButton>(dlg, "save")->click();
        QCOMPARE(fileRecord().headerPosition, -1);
    }

    void chosenColourShowsAtOnceAndIsStoredOnSave() {
        fake_.color = QColor(10, 120, 230);
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        auto* swatch = child<CColorButton>(dlg, "swatch");
        swatch->click();
        QVERIFY(dlg.isModified());
        QCOMPARE(swatch->color(), (Rgb{10, 120, 230}));
        const QImage shown = swatch->grab().toImage();
        QCOMPARE(shown.pixelColor(0, 0), QColor(Qt::black));
        QCOMPARE(shown.pixelColor(shown.width() - 1, shown.height() - 1), QColor(Qt::black));
        const int px = qRound(shown.devicePixelRatio()); // the frame's width
        QCOMPARE(shown.pixelColor(px - 1, px - 1), QColor(Qt::black));
        QCOMPARE(shown.pixelColor(px, px), QColor(10, 120, 230));
        QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(10, 120, 230));
        QCOMPARE(options_->backgroundColor, (Rgb{238, 242, 247}));
        child<QPushButton>(dlg, "save")->click();
        QCOMPARE(options_->backgroundColor, (Rgb{10, 120, 230}));
        QCOMPARE(fileRecord().backgroundColor, (Rgb{10, 120, 230}));
    }

    void failedSaveKeepsTheDialogOpen() {
        // A settings file whose folder has gone cannot be written.
        QVERIFY(QDir().mkdir("gone"));
        options_->filePath = QDir::current().filePath("gone/options.swk").toStdString();
        QVERIFY(QDir("gone").removeRecursively());
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        child<QPushButton>(dlg, "save")->click();
        QVERIFY(dlg.isVisible());
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(fake_.messages.front().icon, QMessageBox::Critical);
        QVERIFY(fake_.messages.front().text.contains(QString::fromStdString(options_->lastError)));
        QVERIFY(!options_->lastError.empty());
    }

    void picture() {
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QDir().mkpath(QStringLiteral(STILLWICK_SCREEN_DIR));
        QVERIFY(dlg.grab().save(QStringLiteral(STILLWICK_SCREEN_DIR "/settings-dialog.png")));

        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSize(9);
        CFontChooser chooser(FontChoice{font, QColor(255, 255, 255)}, &dlg);
        chooser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chooser));
        QVERIFY(chooser.grab().save(QStringLiteral(STILLWICK_SCREEN_DIR "/font-chooser.png")));
        // What the chooser hands back is what it was opened with until the
        // user changes it.
        const FontChoice back = chooser.choice();
        QCOMPARE(back.font.family(), QString("DejaVu Sans"));
        QCOMPARE(back.font.italic(), false);
        QCOMPARE(back.font.weight(), QFont::Normal);
        QVERIFY2(!back.font.styleName().contains("Condensed"), qPrintable(back.font.styleName()));
        QCOMPARE(back.color, QColor(255, 255, 255));

        // The same for a bold face, and for a family that is not installed
        // (the record's default), which shows as the family it resolves to.
        QFont arial = toQFont(Options::defaults().font);
        CFontChooser second(FontChoice{arial, QColor(0, 0, 0)}, &dlg);
        const QFont shown = second.choice().font;
        QCOMPARE(shown.weight(), QFont::Bold);
        QCOMPARE(shown.italic(), false);
        QCOMPARE(shown.family(), QFontInfo(arial).family());
    }

    void tabOrderFollowsTheLayout() {
        COptionsDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        // Down each group, the groups left to right, then the frame choice
        // and the buttons.
        const QStringList expected = {"columns",         "rows",          "frameWidth",
                                      "frameHeight",     "spacingX",      "spacingY",
                                      "shadow",          "shadowOffsetX", "shadowOffsetY",
                                      "shadowIntensity", "swatch",        "font",
                                      "content",         "position",      "timeStamps",
                                      "quality",         "progressive",   "skipStart",
                                      "skipEnd",         "avoidBlank",    "keyFrames",
                                      "restoreDefaults", "save",          "cancel"};
        QCOMPARE(QApplication::focusWidget(), child<QWidget>(dlg, "columns"));
        QStringList seen;
        QWidget* w = child<QLineEdit>(dlg, "columns");
        for (int i = 0; i < expected.size(); ++i) {
            seen << w->objectName();
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty());
        }
        QCOMPARE(seen, expected);
    }
};

// Conversions the dialog relies on, checked on their own where the dialog
// cannot reach every case.
class ValueConvertTest : public QObject {
    Q_OBJECT
private slots:
    void leadingInt_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "42" << 42;
        QTest::newRow("blanks and sign") << " \t-17x" << -17;
        QTest::newRow("plus") << "+8" << 8;
        QTest::newRow("sign alone") << "-" << 0;
        QTest::newRow("max") << "2147483647" << INT32_MAX;
        QTest::newRow("above max") << "2147483648" << INT32_MAX;
        QTest::newRow("min") << "-2147483648" << INT32_MIN;
        QTest::newRow("far below min") << "-99999999999999999999" << INT32_MIN;
        QTest::newRow("digits after text") << "x12" << 0;
    }
    void leadingInt() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(parseLeadingInt(text), value);
    }

    void longFaceNamesAreCutAtACharacterBoundary() {
        FontDescription f;
        f.fixedPitch = true;
        f.kind = FontKind::Script;
        // 30 ASCII bytes then a two-byte letter: the letter would end at
        // byte 32, past the 31 the settings file keeps, so it is left out whole.
        const QString name = QString(30, QLatin1Char('x')) + QChar(0x00E9) + QStringLiteral("yz");
        QFont font(name);
        font.setPixelSize(9);
        storeQFont(font, f);
        QCOMPARE(faceName(f), QString(30, QLatin1Char('x')));
        QCOMPARE(f.face.size(), size_t(30));
        QCOMPARE(f.height, -9);
        // What the chooser does not speak for stays.
        QCOMPARE(f.fixedPitch, true);
        QCOMPARE(f.kind, FontKind::Script);
    }

    void fontRoundTrip() {
        const FontDescription f = Options::defaults().font;
        const QFont q = toQFont(f);
        QCOMPARE(q.family(), QString("Arial"));
        QCOMPARE(q.weight(), QFont::Bold);
        FontDescription back = f;
        storeQFont(q, back);
        QVERIFY(back == f);
    }

    void colours() {
        QCOMPARE(toRgb(QColor(1, 2, 3)), (Rgb{1, 2, 3}));
        QCOMPARE(toQColor(Rgb{238, 242, 247}), QColor(238, 242, 247));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("Stillwick");
    int status = 0;
    {
        ValueConvertTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        OptionsDlgTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}

#include "options_dlg_test.moc"
