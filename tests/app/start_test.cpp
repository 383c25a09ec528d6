// Starting out and making many sheets: the empty window says what to do,
// Help and About are there, Open takes several movies, a folder stands for
// the movies in it, and a queue's sheets go where and as what the user says.
// Also the details beyond the sheet's four lines.

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "app/about.h"
#include "app/info_text.h"
#include "app/main_dlg.h"
#include "app/movie_details.h"
#include "app/movie_finder.h"
#include "app/queue_dlg.h"
#include "app/sheet_app.h"
#include "app/sheet_preview.h"
#include "app/user_settings.h"
#include "settings/options.h"
#include "tests/app/app_fixture.h"
#include "tests/app/test_seams.h"
#include "tests/app/window_case.h"

using apptest::here;
using apptest::makeMovie;
using apptest::saveShot;

namespace {

bool touch(const QString& path, const QByteArray& bytes = "x") {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QAction* menuAction(QWidget* window, const QString& text) {
    for (QAction* a : window->findChildren<QAction*>())
        if (a->text() == text)
            return a;
    return nullptr;
}

QStringList relative(const QList<moviefinder::Candidate>& found) {
    QStringList out;
    for (const auto& c : found)
        out << QDir::current().relativeFilePath(c.path);
    return out;
}

} // namespace

class StartTest : public QObject, protected apptest::WindowCase {
    Q_OBJECT
private slots:
    void init() { QVERIFY(begin()); }
    void cleanup() { end(); }

    // ---- The empty window ---------------------------------------------------

    void theEmptyWindowSaysWhatToDo() {
        options_->columns = 2;
        options_->rows = 1;
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.hint()->isVisible());
        QVERIFY2(dlg.hint()->text().contains("Open") && dlg.hint()->text().contains("drop") &&
                     dlg.hint()->text().contains("folder"),
                 qPrintable(dlg.hint()->text()));
        QCOMPARE(QAccessible::queryAccessibleInterface(dlg.hint())->role(),
                 QAccessible::StaticText);
        saveShot(&dlg, "empty-window.png");

        // With a movie, what comes next; with its sheet, the sheet itself.
        open(dlg, makeMovie("next.avi"));
        QVERIFY(dlg.hint()->isVisible());
        QVERIFY2(dlg.hint()->text().contains("Save") && dlg.hint()->text().contains("next.avi"),
                 qPrintable(dlg.hint()->text()));
        fake_.paths.push_back(here("next.jpg"));
        dlg.saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QVERIFY(!dlg.hint()->isVisible());
        QVERIFY(dlg.preview()->isVisible());
    }

    // ---- Help and About -------------------------------------------------------

    void helpAndAboutAreInTheMenu() {
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QString aboutText;
        QString helpText;
        fake_.onDialog = [&](QDialog& d) {
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            if (d.objectName() == "about") {
                aboutText = d.findChild<QLabel*>("aboutText")->text();
                saveShot(&d, "about.png");
            } else if (auto* help = qobject_cast<CHelpDlg*>(&d)) {
                helpText = help->pageText();
                saveShot(&d, "help.png");
            }
        };
        QAction* about = menuAction(&dlg, "&About Stillwick");
        QAction* help = menuAction(&dlg, "Stillwick &Help");
        QVERIFY(about && help);
        QCOMPARE(help->shortcut(), QKeySequence(QKeySequence::HelpContents));
        about->trigger();
        help->trigger();
        QCOMPARE(fake_.dialogsRun, QStringList({"about", "help"}));

        QVERIFY2(aboutText.contains("Stillwick 1.0.0"), qPrintable(aboutText));
        // Every library with the version this process loaded.
        const QList<about::Library> libraries = about::libraries();
        QCOMPARE(libraries.size(), 7);
        for (const about::Library& l : libraries) {
            QVERIFY2(!l.version.isEmpty() && l.version.front().isDigit(), qPrintable(l.name));
            QVERIFY2(!l.licence.isEmpty(), qPrintable(l.name));
            QVERIFY2(aboutText.contains(l.name.toHtmlEscaped()), qPrintable(l.name));
        }
        QCOMPARE(libraries[1].version, QString(qVersion()));
        QVERIFY2(libraries[0].version.contains(
                     QRegularExpression("libavcodec [1-9][0-9]*\\.[0-9]+\\.[0-9]+")),
                 qPrintable(libraries[0].version));
        QVERIFY(aboutText.contains("Licence"));

        QVERIFY2(helpText.contains("contact sheet") && helpText.contains("Ctrl+O") &&
                     helpText.contains("options.swk"),
                 qPrintable(helpText.left(200)));
    }

    // ---- Open ------------------------------------------------------------------

    void openTakesSeveralMoviesInTheDesktopsChooser() {
        const QString a = makeMovie("a.avi");
        const QString b = makeMovie("b.avi");
        options_->columns = 1;
        options_->rows = 1;
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        fake_.manyPaths.push_back({a, b});
        dlg.openButton()->click();
        QCOMPARE(fake_.fileRequests.size(), 1);
        QCOMPARE(fake_.fileRequests[0].mode, FileRequest::Mode::OpenMany);
        QVERIFY(dlg.queueRunning());
        QCOMPARE(fake_.queueOutputsAsked.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QVERIFY(QFile::exists(here("a.jpg")) && QFile::exists(here("b.jpg")));

        // One chosen is opened, not queued.
        fake_.manyPaths.push_back({a});
        dlg.openButton()->click();
        QVERIFY(!dlg.queueRunning() && dlg.mode() == CMainDlg::Mode::Probing);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        QCOMPARE(fake_.queueOutputsAsked.size(), 1);

        // The real chooser takes several files and is the desktop's own
        // where the platform has one.
        std::unique_ptr<QFileDialog> chooser = makeFileDialog(nullptr, CMainDlg::movieRequest());
        QCOMPARE(chooser->fileMode(), QFileDialog::ExistingFiles);
        QVERIFY(!chooser->testOption(QFileDialog::DontUseNativeDialog));
        FileRequest folder;
        folder.mode = FileRequest::Mode::Folder;
        chooser = makeFileDialog(nullptr, folder);
        QCOMPARE(chooser->fileMode(), QFileDialog::Directory);
        QVERIFY(chooser->testOption(QFileDialog::ShowDirsOnly));
    }

    // ---- Folders ------------------------------------------------------------------

    void aFolderStandsForTheFilesInIt() {
        touch(here("lib/b.mkv"));
        touch(here("lib/a.mp4"));
        touch(here("lib/a.jpg"));     // a's sheet
        touch(here("lib/photo.jpg")); // a picture of nothing here
        touch(here("lib/.hidden.mp4"));
        touch(here("lib/.cache/c.mp4"));
        touch(here("lib/sub/d.avi"));
        touch(here("lib/sub/deeper/e.ts"));
        touch(here("lib/out/old.mp4")); // the folder the sheets go to
        touch(here("elsewhere/f.mov"));
        QVERIFY(QFile::link(here("elsewhere"), here("lib/zlink")));
        touch(here("given.jpg"));
        const moviefinder::Found found =
            moviefinder::find({here("lib"), here("given.jpg")}, {here("lib/out")});
        QCOMPARE(relative(found.candidates),
                 QStringList({"lib/a.mp4", "lib/b.mkv", "lib/photo.jpg", "lib/sub/d.avi",
                              "lib/sub/deeper/e.ts", "given.jpg"}));
        QCOMPARE(found.candidates[3].subFolder, QString("sub"));
        QCOMPARE(found.candidates[4].subFolder, QString("sub/deeper"));
        QVERIFY(found.candidates[0].inFolder && !found.candidates[5].inFolder);
        QCOMPARE(found.sheetsLeftOut, 1);
        QCOMPARE(found.hiddenLeftOut, 2);
        // A dropped folder is looked in even when the sheets go there.
        QCOMPARE(relative(moviefinder::find({here("lib/out")}, {here("lib/out")}).candidates),
                 QStringList({"lib/out/old.mp4"}));
    }

    void aFolderIsQueuedIntoAChosenFolderAndFormat() {
        options_->columns = 2;
        options_->rows = 1;
        QVERIFY(options_->save());
        const QByteArray settingsBefore = contents(Options::kFileName);
        QVERIFY(QDir().mkpath("lib/sub") && QDir().mkpath("lib/sheets"));
        makeMovie("lib/one.avi");
        makeMovie("lib/sub/two.mp4");
        makeMovie("lib/sheets/made-before.avi"); // inside the output folder
        touch(here("lib/notes.txt"), "not a movie");
        touch(here("lib/one.jpg"), "a sheet made before");

        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QueueOutput chosen;
        chosen.besideMovies = false;
        chosen.folder = here("lib/sheets");
        chosen.format = "png";
        fake_.queueOutput = chosen;
        apptest::drop(&dlg, {QUrl::fromLocalFile(here("lib"))});
        QVERIFY(dlg.queueRunning());
        // It was asked with what was chosen last time: beside, JPEG.
        QCOMPARE(fake_.queueOutputsAsked.size(), 1);
        QVERIFY(fake_.queueOutputsAsked[0].besideMovies);
        QCOMPARE(fake_.queueOutputsAsked[0].format, QString("jpg"));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);

        QVERIFY(contents(here("lib/sheets/one.png")).startsWith("\x89PNG"));
        QVERIFY(contents(here("lib/sheets/sub/two.png")).startsWith("\x89PNG"));
        QVERIFY(!QFile::exists(here("lib/sheets/made-before.png")));
        QVERIFY(!QFile::exists(here("lib/sheets/sheets/made-before.png")));
        QVERIFY(!QFile::exists(here("lib/sheets/notes.png")));
        QCOMPARE(contents(here("lib/one.jpg")), QByteArray("a sheet made before"));
        QVERIFY(!QFile::exists(here("lib/one.png")) && !QFile::exists(here("lib/sub/two.jpg")));

        QCOMPARE(dlg.queueList()->count(), 3); // notes.txt, one.avi, sub/two.mp4
        QVERIFY(dlg.queueList()->item(0)->text().contains("notes.txt — passed over"));
        QVERIFY(dlg.queueList()->item(1)->text().contains("saved as one.png"));
        QCOMPARE(fake_.messages.size(), 1);
        const QString summary = fake_.messages[0].text;
        QVERIFY2(summary.startsWith(QString("2 of 2 sheets saved, in %1.")
                                        .arg(QDir::toNativeSeparators(here("lib/sheets")))),
                 qPrintable(summary));
        QVERIFY2(summary.contains("1 file without moving pictures was passed over"),
                 qPrintable(summary));
        QCOMPARE(fake_.messages[0].icon, QMessageBox::Information);
        // Movies of a folder do not crowd the recent list.
        QVERIFY(UserSettings().recentMovies().isEmpty());

        // The choice is the program's own: kept for next time, and the
        // settings file is byte for byte what it was.
        QCOMPARE(UserSettings().queueOutput(), chosen);
        QCOMPARE(contents(Options::kFileName), settingsBefore);

        // Open Folder asks for a folder and does the same.
        fake_.paths.push_back(here("lib/sub"));
        fake_.queueOutput.reset();
        fake_.answers.push_back(QMessageBox::Yes); // two.png exists: replace it
        QAction* openFolder = menuAction(&dlg, "Open &Folder…");
        QVERIFY(openFolder);
        openFolder->trigger();
        QCOMPARE(fake_.fileRequests.last().mode, FileRequest::Mode::Folder);
        QCOMPARE(fake_.queueOutputsAsked.last(), chosen);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        // Below the folder dropped this time, so at the top of the output.
        QVERIFY(contents(here("lib/sheets/two.png")).startsWith("\x89PNG"));
    }

    void aFolderNamedAtStartIsQueued() {
        QVERIFY(QDir().mkpath("given"));
        makeMovie("given/only.avi");
        options_->columns = 1;
        options_->rows = 1;
        QVERIFY(options_->save());
        FakeDialogs fake;
        CSheetApp app(fake.seams());
        bool queued = false;
        bool finished = false;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<CMainDlg*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            queued = dlg->queueRunning();
            finished = QTest::qWaitFor([&] { return !dlg->isWorking(); }, 30000);
            dlg->close();
        });
        QCOMPARE(app.exec(QStringList{here("given")}), 0);
        // One movie in it, and still a queue: the folder was asked for.
        QVERIFY(queued && finished);
        QCOMPARE(fake.queueOutputsAsked.size(), 1);
        QVERIFY(QFile::exists(here("given/only.jpg")));
    }

    void aQueueCanBeDeclinedAndAnEmptyFolderSaysSo() {
        QVERIFY(QDir().mkpath("empty/.hidden"));
        touch(here("empty/.hidden/x.mp4"));
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        QVERIFY(!dlg.queueMovies({here("empty")}));
        QCOMPARE(fake_.messages.size(), 1);
        QVERIFY(fake_.messages[0].text.contains("empty"));
        QVERIFY(fake_.queueOutputsAsked.isEmpty());

        makeMovie("a.avi");
        makeMovie("b.avi");
        fake_.queueAccepted = false;
        QVERIFY(!dlg.queueMovies({here("a.avi"), here("b.avi")}));
        QVERIFY(!dlg.isWorking());
        QVERIFY(!QFile::exists(here("a.jpg")));
    }

    void theQueueDialogAsksWhereAndAsWhat() {
        QueueOutput last;
        last.besideMovies = true;
        last.folder = "/srv/sheets";
        last.format = "bmp";
        QString asked;
        CQueueDlg dialog(last, 12, nullptr, [&](QWidget*, const QString& start) {
            asked = start;
            return QStringLiteral("/tmp/chosen");
        });
        QVERIFY(dialog.besideButton()->isChecked());
        QCOMPARE(dialog.formatBox()->currentIndex(), 2);
        QVERIFY(dialog.startButton()->isEnabled());
        // Typing a folder chooses it.
        QTest::keyClicks(dialog.folderEdit(), "/x");
        QVERIFY(dialog.folderButton()->isChecked());
        dialog.folderEdit()->clear();
        // No folder named: nowhere to start to.
        QVERIFY(!dialog.startButton()->isEnabled());
        dialog.besideButton()->setChecked(true);
        QVERIFY(dialog.startButton()->isEnabled());
        // Choosing one chooses it too.
        dialog.findChild<QPushButton*>("choose")->click();
        QVERIFY(dialog.folderButton()->isChecked());
        QCOMPARE(asked, QDir::homePath());
        QCOMPARE(dialog.folderEdit()->text(), QDir::toNativeSeparators("/tmp/chosen"));
        QVERIFY(dialog.startButton()->isEnabled());
        dialog.formatBox()->setCurrentIndex(1);
        const QueueOutput out = dialog.output();
        QVERIFY(!out.besideMovies);
        QCOMPARE(out.folder, QString("/tmp/chosen"));
        QCOMPARE(out.format, QString("png"));

        // Named controls, for the keyboard and assistive tools.
        QAccessibleInterface* format = QAccessible::queryAccessibleInterface(dialog.formatBox());
        QCOMPARE(format->text(QAccessible::Name), QString("Format"));
        QCOMPARE(format->text(QAccessible::Value), QString("PNG (.png)"));
        QCOMPARE(
            QAccessible::queryAccessibleInterface(dialog.folderEdit())->text(QAccessible::Name),
            QString("Folder for the sheets"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        saveShot(&dialog, "queue-dialog.png");
    }

    // ---- Details --------------------------------------------------------------------

    void detailsSayWhatTheFileHolds() {
        testmovies::MovieSpec phone;
        phone.path = here("phone.mp4").toStdString();
        phone.width = 320;
        phone.height = 240;
        phone.frames = 50;
        phone.rotation = 90;
        phone.sarNum = 4;
        phone.sarDen = 3;
        phone.audio = true;
        phone.audioLanguage = "eng";
        std::string error;
        QCOMPARE(testmovies::make(phone, &error), 0);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, here("phone.mp4"));
        const QString text = dlg.infoText()->text();
        // The sheet's four lines first, as ever.
        QVERIFY2(text.startsWith(QString::fromStdString(dlg.job().movie().infoText) + "\n"),
                 qPrintable(text));
        const QString size = QString::number(QFileInfo(here("phone.mp4")).size());
        for (const QString& expected :
             {QString("Container\t: QuickTime / MOV"), QString("Codec\t: h264 ("),
              QString("Rotation\t: 90° clockwise"), QString("Shown as\t: 240x427, pixels 4:3"),
              QString("Audio\t: aac, "), QString(", eng"), QString(" bytes)"),
              QString("Bit rate\t: ")})
            QVERIFY2(text.contains(expected), qPrintable(expected + " in\n" + text));
        QVERIFY2(text.contains(QLocale().toString(QFileInfo(here("phone.mp4")).size())),
                 qPrintable(size));

        // Copyable: Ctrl+C takes it all, tabs gone.
        dlg.infoText()->setFocus();
        QTest::keyClick(dlg.infoText(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), dlg.infoText()->plainText());
        QVERIFY(QApplication::clipboard()->text().contains("Rotation : 90° clockwise"));
    }

    void detailsOfFactsAFileMayOrMayNotState() {
        media::MediaFacts f;
        f.hasVideo = true;
        f.video.codec = "hevc";
        f.video.profile = "Main 10";
        f.video.width = f.video.displayWidth = 3840;
        f.video.height = f.video.displayHeight = 2160;
        f.video.colorTransfer = "smpte2084";
        f.video.colorPrimaries = "bt2020";
        f.fileSize = 5'000'000'000;
        f.bitRate = 40'000'000;
        f.audio = {{"eac3", 6, 48000, 640000, "deu"}, {"aac", 2, 48000, 128000, ""}};
        const QString text = moviedetails::lines(f);
        QVERIFY2(text.contains("Codec\t: hevc (Main 10)"), qPrintable(text));
        QVERIFY(text.contains("Colour\t: HDR10 (PQ), BT.2020"));
        QVERIFY(!text.contains("Shown as") && !text.contains("Rotation"));
        QVERIFY(text.contains("Audio 1\t: eac3, 6 channels, 48 kHz, 640 kbit/s, deu"));
        QVERIFY(text.contains("Audio 2\t: aac, stereo, 48 kHz, 128 kbit/s"));
        QVERIFY(text.contains("Bit rate\t: 40.00 Mbit/s"));
        QVERIFY(text.contains("GiB"));

        f.video.colorTransfer = "arib-std-b67";
        QVERIFY(moviedetails::lines(f).contains("Colour\t: HDR (HLG), BT.2020"));
        // What the file does not say is left out, not guessed.
        media::MediaFacts bare;
        bare.hasVideo = true;
        const QString little = moviedetails::lines(bare);
        QVERIFY2(!little.contains("Colour") && !little.contains("Codec") &&
                     !little.contains("File size") && !little.contains("Bit rate"),
                 qPrintable(little));
        QVERIFY(little.contains("Audio\t: none"));
        QCOMPARE(moviedetails::fileSizeText(1000),
                 QString("%1 bytes").arg(QLocale().toString(1000)));
    }
};

int runStartTests(int argc, char** argv) {
    StartTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "start_test.moc"
