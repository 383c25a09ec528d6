// The main dialog and the application object, with the real capture job and
// stand-ins for every blocking dialog. Each test runs in a fresh folder, which
// holds its settings file and its movies.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>
#include <string>

#include "app/info_text.h"
#include "app/main_dlg.h"
#include "app/sheet_app.h"
#include "settings/dialog/fitted_width.h"
#include "settings/dialog/options_dlg.h"
#include "settings/options.h"
#include "tests/app/test_seams.h"
#include "tests/support/test_movies.h"

namespace {

QString here(const QString& name) {
    return QDir::current().filePath(name);
}

// Drops files on the dialog the way a file manager does.
void drop(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
}

void saveShot(QWidget* w, const QString& name) {
    QDir().mkpath(QStringLiteral(STILLWICK_SCREEN_DIR));
    QVERIFY(w->grab().save(QStringLiteral(STILLWICK_SCREEN_DIR "/") + name));
}

std::string makeMovie(const QString& name, int frames) {
    testmovies::MovieSpec spec;
    spec.path = here(name).toStdString();
    spec.container = "avi";
    spec.frames = frames;
    spec.pattern = testmovies::Pattern::Pleasant;
    std::string error;
    if (testmovies::make(spec, &error) != 0)
        qWarning("test movie: %s", error.c_str());
    return spec.path;
}

QString describe(const QWidget* w) {
    QString text;
    if (auto* l = qobject_cast<const QLabel*>(w))
        text = l->text();
    else if (auto* b = qobject_cast<const QAbstractButton*>(w))
        text = b->text();
    return QStringLiteral("%1 %2 '%3'").arg(w->metaObject()->className(), w->objectName(), text);
}

// Every command button of the dialog enabled (or every one disabled).
bool commandsEnabled(CMainDlg& dlg, bool enabled) {
    return dlg.openButton()->isEnabled() == enabled && dlg.saveButton()->isEnabled() == enabled &&
           dlg.settingsButton()->isEnabled() == enabled;
}

} // namespace

class MainDlgTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString previousDir_;
    std::unique_ptr<Options> options_;
    FakeDialogs fake_;

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        previousDir_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        options_ = std::make_unique<Options>();
        fake_ = FakeDialogs();
    }
    void cleanup() {
        options_.reset();
        QDir::setCurrent(previousDir_);
        dir_.reset();
    }

    void startsWithFocusOnOpen() {
        CMainDlg dlg(nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.windowTitle(), QString("Stillwick"));
        const QList<QSize> sizes = dlg.windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(256, 256)));
        QCOMPARE(QApplication::focusWidget(), dlg.openButton());
        QCOMPARE(dlg.openButton()->nextInFocusChain(), dlg.saveButton());
        QCOMPARE(dlg.saveButton()->nextInFocusChain(), dlg.settingsButton());
        QCOMPARE(dlg.progressBar()->value(), 0);
        QVERIFY(dlg.infoText()->text().isEmpty());
    }

    void extensionTest_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("upper-case avi") << "CLIP.AVI" << true;
        QTest::newRow("rm") << "a.rm" << true;
        QTest::newRow("rmvb") << "a.rmvb" << true;
        QTest::newRow("mp, part of mpg") << "a.mp" << true;
        QTest::newRow("m") << "a.m" << true;
        QTest::newRow("bare dot") << "a." << true;
        QTest::newRow("no dot") << "movie" << true;
        QTest::newRow("dotted folder, no dot") << "dir.avi/movie" << true;
        QTest::newRow("mp4") << "a.mp4" << false;
        QTest::newRow("mkv") << "a.mkv" << false;
        QTest::newRow("avi then txt") << "a.avi.txt" << false;
    }
    void extensionTest() {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        CMainDlg dlg(nullptr, fake_.seams());
        dlg.infoText()->setText("previous");
        const QString path = here(name);
        fake_.paths.push_back(path);
        dlg.openButton()->click();

        QCOMPARE(fake_.fileRequests.size(), 1);
        QCOMPARE(dlg.isWorking(), accepted);
        if (accepted) {
            // Stored exactly as chosen: a lower-cased name would be another
            // file here.
            QCOMPARE(QString::fromStdString(dlg.job().moviePath()), path);
            QVERIFY(commandsEnabled(dlg, false));
            QTRY_VERIFY(!dlg.isWorking());
            QVERIFY(commandsEnabled(dlg, true));
            // The probe fails on a missing file and says which one.
            QVERIFY2(dlg.infoText()->text().contains(QFileInfo(path).fileName()),
                     qPrintable(dlg.infoText()->text()));
        } else {
            QVERIFY(dlg.job().moviePath().empty());
            QCOMPARE(dlg.infoText()->text(), QString("previous"));
        }
        QVERIFY(fake_.messages.isEmpty());
    }

    void openChooserShowsTheMovieFilter() {
        const FileRequest r = CMainDlg::movieRequest();
        QCOMPARE(r.filters.size(), 1);
        QCOMPARE(
            r.filters[0].description,
            QString("Movie Files (.avi, .qt, .mov, .mpg, .mpeg, .m1v, .dat, .rm, .rmvb .wmv)"));

        for (const char* name : {"CLIP.AVI", "b.Mov", "c.rmvb", "d.mp4", "e.txt"}) {
            QFile f(here(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        std::unique_ptr<QFileDialog> chooser = makeFileDialog(nullptr, r);
        chooser->setDirectory(QDir::current());
        // The type list shows the description as written, not the patterns.
        auto* types = chooser->findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(types);
        QCOMPARE(types->itemText(0), r.filters[0].description);
        // The patterns match whatever the case of the extension.
        auto* list = chooser->findChild<QListView*>("listView");
        QVERIFY(list);
        QStringList shown;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                shown.clear();
                QAbstractItemModel* m = list->model();
                for (int i = 0; i < m->rowCount(list->rootIndex()); ++i)
                    shown << m->index(i, 0, list->rootIndex()).data().toString();
                shown.sort();
                return shown.size() == 3;
            }(),
            5000);
        QCOMPARE(shown, QStringList({"CLIP.AVI", "b.Mov", "c.rmvb"}));
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

    void dropTakesTheFirstLocalFile() {
        CMainDlg dlg(nullptr, fake_.seams());
        drop(&dlg, {QUrl("https://example.org/x.avi"), QUrl::fromLocalFile(here("one.avi")),
                    QUrl::fromLocalFile(here("two.avi")), QUrl::fromLocalFile(here("three.avi"))});
        QCOMPARE(QString::fromStdString(dlg.job().moviePath()), here("one.avi"));
        QVERIFY(dlg.isWorking());
        // While the probe runs a second drop is refused.
        drop(&dlg, {QUrl::fromLocalFile(here("two.avi"))});
        QCOMPARE(QString::fromStdString(dlg.job().moviePath()), here("one.avi"));
        QTRY_VERIFY(!dlg.isWorking());
        QVERIFY(dlg.infoText()->text().contains("one.avi"));
        QVERIFY(!dlg.infoText()->text().contains("two.avi"));

        // A refused extension changes nothing.
        drop(&dlg, {QUrl::fromLocalFile(here("four.mkv"))});
        QVERIFY(!dlg.isWorking());
        QCOMPARE(QString::fromStdString(dlg.job().moviePath()), here("one.avi"));
    }

    void progressFollowsTheMessages() {
        CMainDlg dlg(nullptr, fake_.seams());
        QProgressBar* bar = dlg.progressBar();
        dlg.post(ui::WM_CAPTURE_BEGIN, 0, 25 << 16);
        QCoreApplication::processEvents();
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 25);
        QCOMPARE(bar->value(), 0);
        for (int i = 0; i < 24; ++i)
            dlg.post(ui::WM_CAPTURE_STEP, 0, 0);
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 24);
        dlg.post(ui::WM_CAPTURE_STEP, 0, 0);
        dlg.post(ui::WM_CAPTURE_STEP, 0, 0); // one too many stays full
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 25);

        int valueWhileBoxShown = -1;
        fake_.onMessage = [&](const MessageRequest&) { valueWhileBoxShown = bar->value(); };
        dlg.post(ui::WM_CAPTURE_DONE, 0, 0);
        QCoreApplication::processEvents();
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(fake_.messages[0].text, QString("OK!"));
        QCOMPARE(fake_.messages[0].title, QString("Finished!"));
        QCOMPARE(fake_.messages[0].icon, QMessageBox::NoIcon);
        QCOMPARE(valueWhileBoxShown, 25);
        QCOMPARE(bar->value(), 0);
    }

    void failedCaptureShowsTheError_data() {
        QTest::addColumn<int>("result");
        QTest::newRow("failure") << -1;
        QTest::newRow("one-shot refused") << 10;
        QTest::newRow("any other") << 3;
    }
    void failedCaptureShowsTheError() {
        QFETCH(int, result);
        CMainDlg dlg(nullptr, fake_.seams());
        // A real failure gives the job its text: a movie that is not there.
        QVERIFY(dlg.openMovie(here("missing.avi")));
        QTRY_VERIFY(!dlg.isWorking());
        QVERIFY(dlg.job().startCapture(here("never.jpg").toStdString()));
        // Joined, the worker has posted everything; the test posts its own.
        const QString text = QString::fromStdString(dlg.job().finishCapture().errorText);
        QCoreApplication::removePostedEvents(&dlg);
        QVERIFY2(text.contains("missing.avi"), qPrintable(text));
        dlg.post(ui::WM_CAPTURE_BEGIN, 0, 4 << 16);
        dlg.post(ui::WM_CAPTURE_STEP, 0, 0);
        dlg.post(ui::WM_CAPTURE_DONE, result, 0);
        QCoreApplication::processEvents();
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(fake_.messages[0].icon, QMessageBox::Critical);
        QCOMPARE(fake_.messages[0].title, QString("Stillwick"));
        QCOMPARE(fake_.messages[0].text, text);
        QCOMPARE(dlg.progressBar()->value(), 0);
    }

    void saveWithoutAMovieAsksForOneFirst() {
        CMainDlg dlg(nullptr, fake_.seams());
        dlg.saveButton()->click();
        QVERIFY(fake_.fileRequests.isEmpty());
        QCOMPARE(fake_.messages.size(), 1);
        QVERIFY(!dlg.isWorking());
    }

    void cancelledChoosersDoNothing() {
        CMainDlg dlg(nullptr, fake_.seams());
        dlg.openButton()->click();
        QVERIFY(!dlg.isWorking());
        QVERIFY(dlg.openMovie(here("x.avi")));
        QTRY_VERIFY(!dlg.isWorking());
        dlg.saveButton()->click();
        QCOMPARE(fake_.fileRequests.size(), 2);
        QVERIFY(!dlg.isWorking());
        QVERIFY(fake_.messages.isEmpty());
    }

    void settingsOpenModallyOverTheDialog() {
        CMainDlg dlg(nullptr, fake_.seams());
        dlg.show();
        bool sawSettings = false;
        QTimer::singleShot(0, [&] {
            auto* settings = qobject_cast<COptionsDlg*>(QApplication::activeModalWidget());
            sawSettings = settings && settings->parentWidget() == &dlg;
            if (settings)
                settings->reject();
        });
        dlg.settingsButton()->click();
        QVERIFY(sawSettings);
        QVERIFY(fake_.messages.isEmpty());
    }

    void movieToSheet() {
        options_->rows = 3;
        options_->columns = 4;
        const QString movie = QString::fromStdString(makeMovie("CLIP.AVI", 60));
        QVERIFY(QFile::exists(movie));
        CMainDlg dlg(nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        fake_.paths.push_back(movie);
        dlg.openButton()->click();
        QTRY_VERIFY(!dlg.isWorking());
        const QString info = dlg.infoText()->text();
        QVERIFY2(info.contains("CLIP.AVI") && info.contains("176x144"), qPrintable(info));
        saveShot(&dlg, "main-dialog.png");

        const QString sheet = here("sheet.jpg");
        fake_.paths.push_back(sheet);
        int valueWhileBoxShown = -1;
        fake_.onMessage = [&](const MessageRequest&) {
            valueWhileBoxShown = dlg.progressBar()->value();
        };
        dlg.saveButton()->setFocus();
        dlg.saveButton()->click();
        QVERIFY(commandsEnabled(dlg, false));
        QTRY_COMPARE(dlg.progressBar()->maximum(), 12);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        QCOMPARE(fake_.messages.size(), 1);
        QVERIFY2(fake_.messages[0].text == "OK!", qPrintable(fake_.messages[0].text));
        QCOMPARE(valueWhileBoxShown, 12);
        QCOMPARE(dlg.progressBar()->value(), 0);
        QVERIFY(commandsEnabled(dlg, true));
        QCOMPARE(QApplication::focusWidget(), dlg.saveButton());
        QFile out(sheet);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.read(2), QByteArray("\xFF\xD8"));
        QImage picture(sheet);
        QVERIFY(!picture.isNull());
        picture.save(QStringLiteral(STILLWICK_SCREEN_DIR "/sheet-from-dialog.png"));
    }

    void closingDuringACaptureCancelsIt() {
        options_->rows = 12;
        options_->columns = 12;
        const QString movie = QString::fromStdString(makeMovie("long.avi", 600));
        CMainDlg dlg(nullptr, fake_.seams());
        dlg.show();
        QVERIFY(dlg.openMovie(movie));
        QTRY_VERIFY(!dlg.isWorking());
        fake_.paths.push_back(here("never.jpg"));
        dlg.saveButton()->click();
        QVERIFY(dlg.isWorking());
        dlg.close();
        QVERIFY(!dlg.job().busy());
        QVERIFY(!dlg.isVisible());
        QTest::qWait(50);
        QVERIFY(fake_.messages.isEmpty());
        QVERIFY(!QFile::exists(here("never.jpg")));
        QCOMPARE(dlg.progressBar()->value(), 0);
    }

    void textFitsItsControls() {
        // With whatever font the machine gives, no label is cut off and no
        // control leaves the window.
        CMainDlg dlg(nullptr, fake_.seams());
        COptionsDlg settings(nullptr, fake_.seams());
        for (QWidget* top : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(&settings)}) {
            QList<QWidget*> placed;
            for (QWidget* w : top->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (w->isWindow())
                    continue;
                // Group boxes frame their neighbours; anything else must not
                // cover another control.
                if (!qobject_cast<QGroupBox*>(w)) {
                    for (QWidget* other : placed)
                        QVERIFY2(!w->geometry().intersects(other->geometry()),
                                 qPrintable(describe(w) + " covers " + describe(other)));
                    placed << w;
                }
                QVERIFY2(top->rect().contains(w->geometry()), qPrintable(describe(w)));
                if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))
                    QVERIFY2(w->width() >= fittedWidth(w), qPrintable(describe(w)));
            }
        }
    }

    void informationColumnsLineUp() {
        CInfoText text;
        text.resize(400, 100);
        text.show();
        text.setText("File Name\t: a.avi\nAverage FPS\t: 25.00\nResolution\t: 176x144\n"
                     "Duration\t: 00:00:02");
        const QFontMetrics m(text.font());
        for (const char* label : {"File Name", "Average FPS", "Resolution", "Duration"})
            QVERIFY(text.tabStop() > m.horizontalAdvance(label));
        QVERIFY(text.toolTip().isEmpty());
        text.resize(40, 100);
        QVERIFY(!text.toolTip().isEmpty());
    }
};

class SheetAppTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString previousDir_;

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        previousDir_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
    }
    void cleanup() {
        QDir::setCurrent(previousDir_);
        dir_.reset();
    }

    void settingsComeFirstAndAreNotSavedOnClose() {
        FakeDialogs fake;
        CSheetApp app(fake.seams());
        // The file exists before any window does.
        QCOMPARE(g_options, &app.options());
        QFile file(Options::kFileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QCOMPARE(before.size(), 128);
        QCOMPARE(QCoreApplication::applicationName(), QString("Stillwick"));

        app.options().columns = 9; // changed in memory only
        QString openedMovie;
        QTimer::singleShot(0, [&] {
            if (auto* dlg = qobject_cast<CMainDlg*>(QApplication::activeModalWidget())) {
                openedMovie = QString::fromStdString(dlg->job().moviePath());
                dlg->close();
            }
        });
        QCOMPARE(app.exec(QDir::current().filePath("given.mov")), 0);
        QCOMPARE(openedMovie, QDir::current().filePath("given.mov"));
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
    int status = 0;
    {
        MainDlgTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        SheetAppTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}

#include "main_dlg_test.moc"
