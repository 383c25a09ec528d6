// The main dialog and the application object, with the real capture job and
// stand-ins for every blocking dialog. Each test runs in a fresh folder, which
// holds its settings file, its movies and the user's configuration.

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <string>

#include "app/fitted_width.h"
#include "app/info_text.h"
#include "app/main_dlg.h"
#include "app/options_dlg.h"
#include "app/sheet_app.h"
#include "app/sheet_preview.h"
#include "settings/options.h"
#include "tests/app/app_fixture.h"
#include "tests/app/test_seams.h"
#include "tests/app/window_case.h"

using apptest::drop;
using apptest::here;
using apptest::makeMovie;

namespace {

// The commands that need an idle dialog, all enabled (or all disabled).
bool commandsEnabled(CMainDlg& dlg, bool enabled) {
    return dlg.openButton()->isEnabled() == enabled && dlg.settingsButton()->isEnabled() == enabled;
}

} // namespace

int runDesktopTests(int argc, char** argv);   // desktop_test.cpp
int runQueueTests(int argc, char** argv);     // queue_test.cpp
int runFixesTests(int argc, char** argv);     // fixes_test.cpp
int runStartTests(int argc, char** argv);     // start_test.cpp
int runSheetWorkTests(int argc, char** argv); // sheet_work_test.cpp

class MainDlgTest : public QObject, protected apptest::WindowCase {
    Q_OBJECT
private slots:
    void init() { QVERIFY(begin()); }
    void cleanup() { end(); }

    void startsWithFocusOnOpen() {
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.windowTitle(), QString("Stillwick"));
        const QList<QSize> sizes = dlg.windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(256, 256)));
        QCOMPARE(QApplication::focusWidget(), dlg.openButton());
        // Reading order: the details, the buttons beside them, Cancel below.
        QCOMPARE(dlg.infoText()->nextInFocusChain(), dlg.openButton());
        QCOMPARE(dlg.openButton()->nextInFocusChain(), dlg.saveButton());
        QCOMPARE(dlg.saveButton()->nextInFocusChain(), dlg.settingsButton());
        QCOMPARE(dlg.settingsButton()->nextInFocusChain(), dlg.cancelButton());
        QCOMPARE(dlg.progressBar()->value(), 0);
        QVERIFY(dlg.infoText()->text().isEmpty());
        QVERIFY(!dlg.cancelButton()->isEnabled());
        QVERIFY(!dlg.preview()->isVisible());
        QVERIFY(!dlg.queueList()->isVisible());
    }

    // A name makes nothing a movie: a file is taken when its probe finds
    // video, under any name, and stored exactly as chosen (a lower-cased
    // name would be another file here). One that is not there is refused
    // with a box that names it, whatever its extension promises.
    void theProbeNotTheNameDecides_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("movie");
        QTest::newRow("upper-case avi") << "CLIP.AVI" << true;
        QTest::newRow("no dot") << "movie" << true;
        QTest::newRow("dotted folder, no dot") << "dir.avi/movie" << true;
        QTest::newRow("missing rm") << "a.rm" << false;
        QTest::newRow("missing mp, part of mpg") << "a.mp" << false;
        QTest::newRow("missing mp4") << "a.MP4" << false;
        QTest::newRow("missing mkv") << "a.mkv" << false;
    }
    void theProbeNotTheNameDecides() {
        QFETCH(QString, name);
        QFETCH(bool, movie);
        const QString path = here(name);
        if (movie) {
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
            QCOMPARE(makeMovie(name, 25, "avi"), path);
        }
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        fake_.paths.push_back(path);
        dlg.openButton()->click();

        QCOMPARE(fake_.fileRequests.size(), 1);
        QVERIFY(dlg.isWorking());
        QVERIFY(commandsEnabled(dlg, false));
        // Nothing is the movie while the probe reads.
        QVERIFY(dlg.job().moviePath().empty());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        QVERIFY(commandsEnabled(dlg, true));
        if (movie) {
            QCOMPARE(QString::fromStdString(dlg.job().moviePath()), path);
            QVERIFY(dlg.saveButton()->isEnabled());
            QVERIFY(fake_.messages.isEmpty());
            return;
        }
        QVERIFY(dlg.job().moviePath().empty());
        QCOMPARE(dlg.windowTitle(), QString("Stillwick"));
        QVERIFY(dlg.infoText()->text().isEmpty());
        QVERIFY(!dlg.saveButton()->isEnabled());
        QVERIFY(dlg.saveButton()->toolTip().contains("Open a movie"));
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(fake_.messages[0].icon, QMessageBox::Warning);
        QVERIFY2(fake_.messages[0].text.contains(QFileInfo(path).fileName()),
                 qPrintable(fake_.messages[0].text));
        const QString reason = QString::fromStdString(dlg.job().finishProbe().errorText());
        QVERIFY(!reason.isEmpty());
        QVERIFY2(fake_.messages[0].text.contains(reason), qPrintable(fake_.messages[0].text));
    }

    void openChooserListsEveryMovieAndAllFiles() {
        const FileRequest r = CMainDlg::movieRequest();
        QCOMPARE(r.filters.size(), 2);
        const QString description = r.filters[0].description;
        QVERIFY(description.startsWith(
            "Movie Files (.avi, .qt, .mov, .mpg, .mpeg, .m1v, .dat, .rm, .rmvb .wmv"));
        for (const char* ext : {".mp4", ".m4v", ".mkv", ".webm", ".ts", ".m2ts", ".mts", ".flv",
                                ".ogv", ".3gp", ".mxf", ".vob"})
            QVERIFY2(description.contains(QLatin1String(ext)), ext);
        QCOMPARE(r.filters[1].patterns, QStringList({"*"}));

        for (const char* name : {"CLIP.AVI", "b.Mov", "c.rmvb", "d.mp4", "e.MKV", "f.txt"}) {
            QFile f(here(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        std::unique_ptr<QFileDialog> chooser = makeFileDialog(nullptr, r);
        chooser->setDirectory(QDir::current());
        // The type list shows the descriptions as written, not the patterns.
        auto* types = chooser->findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(types);
        QCOMPARE(types->itemText(0), description);
        QCOMPARE(types->itemText(1), QString("All files"));
        // The patterns match whatever the case of the extension.
        auto* list = chooser->findChild<QListView*>("listView");
        QVERIFY(list);
        QStringList shown;
        auto listed = [&] {
            shown.clear();
            QAbstractItemModel* m = list->model();
            for (int i = 0; i < m->rowCount(list->rootIndex()); ++i) {
                const QString name = m->index(i, 0, list->rootIndex()).data().toString();
                if (QFileInfo(here(name)).isFile())
                    shown << name;
            }
            shown.sort();
            return shown;
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            listed(), QStringList({"CLIP.AVI", "b.Mov", "c.rmvb", "d.mp4", "e.MKV"}), 5000);
        chooser->selectNameFilter(chooser->nameFilters().at(1));
        QTRY_VERIFY_WITH_TIMEOUT(listed().contains("f.txt"), 5000);
    }

    void saveChooserOffersThreeTypes() {
        const FileRequest r = CMainDlg::sheetRequest();
        QCOMPARE(r.mode, FileRequest::Mode::Save);
        QCOMPARE(r.filters.size(), 3);
        QCOMPARE(r.filters[0].description, QString("Bitmap Files (*.bmp)"));
        QCOMPARE(r.filters[1].description, QString("Jpeg Files (*.jpg)"));
        QCOMPARE(r.filters[2].description, QString("PNG Files (*.png)"));
        QCOMPARE(r.selectedFilter, 1);
        QCOMPARE(r.defaultSuffix, QString("jpg"));

        std::unique_ptr<QFileDialog> chooser = makeFileDialog(nullptr, r);
        QCOMPARE(chooser->acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(!chooser->testOption(QFileDialog::DontConfirmOverwrite));
        QCOMPARE(chooser->defaultSuffix(), QString("jpg"));
        // Picking another type changes the extension a bare name gets.
        chooser->selectNameFilter(chooser->nameFilters().at(2));
        emit chooser->filterSelected(QStringLiteral("PNG Files (*.png)"));
        QCOMPARE(chooser->defaultSuffix(), QString("png"));
    }

    // The bar counts the frames the job announces, also beyond 16 bits.
    void progressCountsFramesOfTheSheet_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("frames");
        QTest::newRow("5 x 5") << 5 << 5 << 25;
        QTest::newRow("300 x 300") << 300 << 300 << 90000;
    }
    void progressCountsFramesOfTheSheet() {
        QFETCH(int, rows);
        QFETCH(int, columns);
        QFETCH(int, frames);
        options_->rows = rows;
        options_->columns = columns;
        const QString movie = makeMovie("count.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        QVERIFY(dlg.openMovie(movie));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        // A real capture gives the job its count; once it is joined, the
        // test posts the messages itself, one by one.
        QVERIFY(dlg.job().startCapture(here("count.jpg").toStdString(), *options_));
        dlg.job().finishCapture();
        QCoreApplication::removePostedEvents(&dlg);
        QCOMPARE(dlg.job().captureFrames(), int64_t{frames});

        QProgressBar* bar = dlg.progressBar();
        dlg.post(ui::WM_CAPTURE_BEGIN, 0, 0);
        QCoreApplication::processEvents();
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), frames);
        QCOMPARE(bar->value(), 0);
        QVERIFY(bar->isTextVisible());
        QCOMPARE(bar->text(), QString("0 of %1").arg(frames));
        for (int i = 0; i < 24; ++i)
            dlg.post(ui::WM_CAPTURE_STEP, 0, 0);
        QCoreApplication::processEvents();
        QCOMPARE(bar->text(), QString("24 of %1").arg(frames));
        if (frames == 25) {
            dlg.post(ui::WM_CAPTURE_STEP, 0, 0);
            dlg.post(ui::WM_CAPTURE_STEP, 0, 0); // one too many stays full
            QCoreApplication::processEvents();
            QCOMPARE(bar->value(), 25);
        }
        QCOMPARE(bar->accessibleName(), QString("Capture progress"));
    }

    void failedCaptureShowsTheError_data() {
        QTest::addColumn<int>("result");
        QTest::newRow("failure") << -1;
        QTest::newRow("one-shot refused") << 10;
        QTest::newRow("any other") << 3;
    }
    void failedCaptureShowsTheError() {
        QFETCH(int, result);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        // A real failure gives the job its text: a movie that has gone
        // since it was opened.
        const QString movie = makeMovie("missing.avi");
        QVERIFY(dlg.openMovie(movie));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        QVERIFY(dlg.job().movieReady());
        QVERIFY(QFile::remove(movie));
        QVERIFY(dlg.job().startCapture(here("never.jpg").toStdString(), *options_));
        // Joined, the worker has posted everything; the test posts its own.
        const QString text = QString::fromStdString(dlg.job().finishCapture().errorText());
        QCoreApplication::removePostedEvents(&dlg);
        QVERIFY2(text.contains("No such file"), qPrintable(text));
        dlg.post(ui::WM_CAPTURE_BEGIN, 0, 0);
        dlg.post(ui::WM_CAPTURE_STEP, 0, 0);
        dlg.post(ui::WM_CAPTURE_DONE, result, 0);
        QCoreApplication::processEvents();
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(fake_.messages[0].icon, QMessageBox::Critical);
        QCOMPARE(fake_.messages[0].title, QString("Stillwick"));
        QVERIFY2(fake_.messages[0].text.endsWith(text), qPrintable(fake_.messages[0].text));
        QCOMPARE(dlg.progressBar()->value(), 0);
        QVERIFY(fake_.actionMessages.isEmpty());
    }

    void cancelledChoosersDoNothing() {
        const QString movie = makeMovie("x.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.openButton()->click();
        QVERIFY(!dlg.isWorking());
        QVERIFY(dlg.openMovie(movie));
        QTRY_VERIFY(!dlg.isWorking());
        QVERIFY(dlg.saveButton()->isEnabled());
        dlg.saveButton()->click();
        QCOMPARE(fake_.fileRequests.size(), 2);
        QVERIFY(!dlg.isWorking());
        QVERIFY(fake_.messages.isEmpty());
    }

    void settingsOpenModallyOverTheDialogAndKnowTheMovie() {
        options_->rows = 2;
        options_->columns = 3;
        options_->headerEnabled = 0;
        const QString movie = makeMovie("facts.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(dlg.openMovie(movie));
        QTRY_VERIFY(!dlg.isWorking());
        bool sawSettings = false;
        QString size;
        QTimer::singleShot(0, [&] {
            auto* settings = qobject_cast<COptionsDlg*>(QApplication::activeModalWidget());
            sawSettings = settings && settings->parentWidget() == &dlg;
            if (settings) {
                size = settings->sheetSizeText();
                settings->reject();
            }
        });
        dlg.settingsButton()->click();
        QVERIFY(sawSettings);
        // 176 x 144 in a 156 x 117 box: 143 x 117 frames, spacing 10 around
        // and under the grid.
        QCOMPARE(size, QString("469 × 274 px"));
        QVERIFY(fake_.messages.isEmpty());
    }

    void movieToSheet() {
        options_->rows = 3;
        options_->columns = 4;
        const QString movie = makeMovie("CLIP.AVI", 60, "", testmovies::Pattern::Pleasant);
        QVERIFY(QFile::exists(movie));
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        fake_.paths.push_back(movie);
        dlg.openButton()->click();
        QTRY_VERIFY(!dlg.isWorking());
        const QString info = dlg.infoText()->text();
        QVERIFY2(info.contains("CLIP.AVI") && info.contains("176x144"), qPrintable(info));
        QCOMPARE(dlg.windowTitle(), QString("CLIP.AVI — Stillwick"));

        const QString sheet = here("sheet.jpg");
        fake_.paths.push_back(sheet);
        int valueWhileBoxShown = -1;
        fake_.onMessage = [&](const MessageRequest&) {
            valueWhileBoxShown = dlg.progressBar()->value();
        };
        fake_.actions.push_back(0); // Open
        dlg.saveButton()->setFocus();
        dlg.saveButton()->click();
        QVERIFY(commandsEnabled(dlg, false));
        QVERIFY(dlg.cancelButton()->isEnabled());
        QTRY_COMPARE(dlg.progressBar()->maximum(), 12);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);

        // The finished message names the file and offers it.
        QVERIFY(fake_.messages.isEmpty());
        QCOMPARE(fake_.actionMessages.size(), 1);
        const FakeDialogs::ActionMessage& done = fake_.actionMessages[0];
        QCOMPARE(done.request.title, QString("Finished!"));
        QVERIFY2(done.request.text.contains(sheet) && done.request.text.contains("CLIP.AVI"),
                 qPrintable(done.request.text));
        QCOMPARE(done.actions, QStringList({"&Open", "Show in &Folder"}));
        QCOMPARE(fake_.openedUrls, QList<QUrl>({QUrl::fromLocalFile(sheet)}));
        QCOMPARE(valueWhileBoxShown, 12);
        QCOMPARE(dlg.progressBar()->value(), 0);
        QVERIFY(commandsEnabled(dlg, true));
        QCOMPARE(QApplication::focusWidget(), dlg.saveButton());
        QCOMPARE(dlg.lastSheet(), sheet);
        QFile out(sheet);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.read(2), QByteArray("\xFF\xD8"));
        QImage picture(sheet);
        QVERIFY(!picture.isNull());

        // The preview ends with the whole sheet, scaled to the window.
        QVERIFY(dlg.preview()->isVisible());
        QCOMPARE(dlg.preview()->momentsDone(), 12);
        QCOMPARE(dlg.preview()->image().size(), picture.size());
        QVERIFY(dlg.preview()->pictureRect().width() <= dlg.preview()->width());
        // "Show in folder" hands the folder over.
        fake_.paths.push_back(sheet);
        fake_.answers.push_back(QMessageBox::Yes);
        fake_.actions.push_back(1);
        dlg.saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QCOMPARE(fake_.openedUrls.last(), QUrl::fromLocalFile(QDir::currentPath()));
    }

    void finishedNoteSaysWhatASheetLacks() {
        CaptureResult result;
        QCOMPARE(CMainDlg::finishedNote(result), QString());

        result.missingMoments = {15'000'000};
        QCOMPARE(CMainDlg::finishedNote(result),
                 QString("The sheet is incomplete.\n"
                         "1 moment gave no picture (at 00:00:01.50); its cell is marked “no "
                         "picture”."));
        result.missingMoments = {10'000'000, 20'000'000,  30'000'000, 40'000'000,
                                 50'000'000, 600'000'000, 610'000'000};
        result.decoderErrors = 2;
        QCOMPARE(CMainDlg::finishedNote(result),
                 QString("The sheet is incomplete.\n"
                         "7 moments gave no picture (at 00:00:01.00, 00:00:02.00, 00:00:03.00, "
                         "00:00:04.00, 00:00:05.00, …); their cells are marked “no picture”.\n"
                         "The decoder met 2 errors on the way."));

        // Decoding errors alone do not make a sheet incomplete.
        result.missingMoments.clear();
        result.decoderErrors = 1;
        QCOMPARE(CMainDlg::finishedNote(result), QString("The decoder met 1 error on the way."));

        // Stamps too small to draw: said, but the frames are all there.
        result.decoderErrors = 0;
        result.stampsLeftOut = true;
        QVERIFY(!result.incomplete());
        QCOMPARE(CMainDlg::finishedNote(result),
                 QString("The frames are too small for legible time stamps, so the sheet has "
                         "none."));
    }

    void finishedNoteSaysHowMuchOfACutShortMovieWasRead() {
        CaptureResult result;
        result.cutShort = true;
        result.readableDuration = 274'000'000; // 27.4 s
        result.statedDuration = 600'000'000;
        QCOMPARE(CMainDlg::finishedNote(result),
                 QString("The sheet is incomplete.\n"
                         "Only 00:00:27 of the 00:01:00 of this movie could be read; the sheet "
                         "shows that part."));
        QCOMPARE(CMainDlg::incompleteLine(result),
                 QString("only 00:00:27 of 00:01:00 could be read"));

        // Under ten seconds the hundredths count: not "00:00:00 of 00:00:05".
        result.readableDuration = 8'400'000;
        result.statedDuration = 50'000'000;
        result.missingMoments = {4'000'000};
        result.stampsLeftOut = true;
        QCOMPARE(CMainDlg::finishedNote(result),
                 QString("The sheet is incomplete.\n"
                         "Only 00:00:00.84 of the 00:00:05 of this movie could be read; the sheet "
                         "shows that part.\n"
                         "1 moment gave no picture (at 00:00:00.40); its cell is marked “no "
                         "picture”.\n"
                         "The frames are too small for legible time stamps, so the sheet has "
                         "none."));
        QCOMPARE(CMainDlg::incompleteLine(result),
                 QString("only 00:00:00.84 of 00:00:05 could be read; 1 moment without a picture "
                         "(00:00:00.40)"));

        // A stated length that is unknown, or no longer than what was read,
        // is not quoted.
        result.missingMoments.clear();
        result.stampsLeftOut = false;
        result.statedDuration = 0;
        QCOMPARE(CMainDlg::finishedNote(result),
                 QString("The sheet is incomplete.\n"
                         "Only the first 00:00:00.84 of this movie could be read; the sheet shows "
                         "that part."));

        // The list's line names a few moments, to the hundredth, since the
        // moments of a short movie share their seconds.
        result.cutShort = false;
        result.missingMoments = {25'300'000, 27'600'000, 29'900'000, 32'300'000};
        QCOMPARE(CMainDlg::incompleteLine(result),
                 QString("4 moments without a picture (00:00:02.53, 00:00:02.76, 00:00:02.99, "
                         "…)"));
        // Counted in whole units, not through a double (2.53 s is not 2.52).
        result.missingMoments = {37'259'999'999};
        QCOMPARE(CMainDlg::incompleteLine(result),
                 QString("1 moment without a picture (01:02:05.99)"));
        QCOMPARE(CMainDlg::incompleteLine(CaptureResult{}), QString());
    }

    void informationColumnsLineUpAndValuesWrap() {
        CInfoText text;
        text.resize(400, 100);
        text.show();
        text.setText("File Name\t: a.avi\nAverage FPS\t: 25.00\nResolution\t: 176x144\n"
                     "Duration\t: 00:00:02");
        const QFontMetrics m(text.font());
        for (const char* label : {"File Name", "Average FPS", "Resolution", "Duration"})
            QVERIFY(text.tabStop() > m.horizontalAdvance(label));
        const QList<CInfoText::Row> rows = text.rows(400);
        QCOMPARE(rows.size(), 8); // a label and a value on each of four lines
        for (int i = 1; i < rows.size(); i += 2)
            QCOMPARE(rows[i].rect.left(), qreal(text.tabStop()));
        QCOMPARE(text.plainText(), QString("File Name : a.avi\nAverage FPS : 25.00\n"
                                           "Resolution : 176x144\nDuration : 00:00:02"));
        QCOMPARE(text.accessibleDescription(), text.plainText());
        // Narrow, the values wrap and the area asks for more height.
        const int tall = text.heightForWidth(120);
        QVERIFY(tall > text.heightForWidth(400));
    }
};

class SheetAppTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<apptest::Sandbox> sandbox_;

private slots:
    void init() { sandbox_ = std::make_unique<apptest::Sandbox>(); }
    void cleanup() { sandbox_.reset(); }

    void settingsComeFirstAndAreNotSavedOnClose() {
        FakeDialogs fake;
        CSheetApp app(fake.seams());
        // The file exists before any window does.
        QFile file(Options::kFileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QCOMPARE(before.size(), 128);
        QCOMPARE(QCoreApplication::applicationName(), QString("Stillwick"));

        app.options().columns = 9; // changed in memory only
        const QString given = makeMovie("given.mov");
        QString openedMovie;
        bool appsRecord = false;
        QTimer::singleShot(0, [&] {
            if (auto* dlg = qobject_cast<CMainDlg*>(QApplication::activeModalWidget())) {
                // The window works on the application's record, not a copy.
                appsRecord = &dlg->options() == &app.options();
                if (QTest::qWaitFor([&] { return !dlg->isWorking(); }, 30000))
                    openedMovie = QString::fromStdString(dlg->job().moviePath());
                dlg->close();
            }
        });
        QCOMPARE(app.exec(given), 0);
        QVERIFY(appsRecord);
        QCOMPARE(openedMovie, given);
        QVERIFY(fake.messages.isEmpty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    void foreignSettingsAreKeptAndTheUserIsTold() {
        QFile foreign(Options::kFileName);
        QVERIFY(foreign.open(QIODevice::WriteOnly));
        const QByteArray bytes("not settings at all, but a letter to a friend");
        foreign.write(bytes);
        foreign.close();
        FakeDialogs fake;
        CSheetApp app(fake.seams());
        QCOMPARE(app.options().columns, 5);
        QTimer::singleShot(0, [] {
            if (auto* dlg = qobject_cast<CMainDlg*>(QApplication::activeModalWidget()))
                dlg->close();
        });
        QCOMPARE(app.exec(), 0);
        QFile kept(QString::fromLatin1(Options::kFileName) + ".bak");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), bytes);
        QCOMPARE(QFileInfo(QString::fromLatin1(Options::kFileName)).size(), qint64(128));
        QCOMPARE(fake.messages.size(), 1);
        QCOMPARE(fake.messages[0].icon, QMessageBox::Information);
        QVERIFY(fake.messages[0].text.contains(QStringLiteral("options.swk.bak")));
    }

    void unwritableSettingsStillStart() {
        // A folder where the file should be: nothing can be written there.
        QVERIFY(QDir().mkdir(Options::kFileName));
        FakeDialogs fake;
        CSheetApp app(fake.seams());
        QCOMPARE(app.options().columns, 5);
        bool dialogRan = false;
        QTimer::singleShot(0, [&] {
            if (auto* dlg = qobject_cast<CMainDlg*>(QApplication::activeModalWidget())) {
                dialogRan = true;
                dlg->close();
            }
        });
        QCOMPARE(app.exec(), 0);
        QVERIFY(dialogRan);
        QCOMPARE(fake.messages.size(), 1);
        QCOMPARE(fake.messages[0].icon, QMessageBox::Warning);
        QVERIFY(fake.messages[0].text.contains(QString::fromStdString(app.options().lastError)));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("Stillwick");
    // STILLWICK_SUITES=FixesTest,StartTest runs only those test objects (the
    // arguments then pick functions in them, as usual).
    const QStringList suites =
        qEnvironmentVariable("STILLWICK_SUITES").split(u',', Qt::SkipEmptyParts);
    const auto wanted = [&](const char* name) {
        return suites.isEmpty() || suites.contains(QLatin1String(name));
    };
    int status = 0;
    if (wanted("MainDlgTest")) {
        MainDlgTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    if (wanted("SheetAppTest")) {
        SheetAppTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    if (wanted("DesktopTest"))
        status |= runDesktopTests(argc, argv);
    if (wanted("QueueTest"))
        status |= runQueueTests(argc, argv);
    if (wanted("FixesTest"))
        status |= runFixesTests(argc, argv);
    if (wanted("StartTest"))
        status |= runStartTests(argc, argv);
    if (wanted("SheetWorkTest"))
        status |= runSheetWorkTests(argc, argv);
    return status;
}

#include "main_dlg_test.moc"
