// What the desktop program says after a sheet or a queue of them: a queue
// that would make two sheets on one file, or a sheet on one of its movies,
// leaves the later movie out and says so; a sheet that lacks part of its
// movie is called incomplete, in the finished message and in the queue's
// summary.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "capture/sheet_clashes.h"
#include "settings/options.h"
#include "tests/app/app_fixture.h"
#include "tests/app/test_seams.h"
#include "tests/app/window_case.h"
#include "tests/support/footage.h"

using apptest::here;
using apptest::makeMovie;
using apptest::saveShot;
using sheetclash::Clash;

namespace {

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

std::vector<Clash> clashesOf(const std::vector<std::pair<QString, QString>>& moviesAndSheets) {
    std::vector<sheetclash::Entry> entries;
    for (const auto& [movie, sheet] : moviesAndSheets)
        entries.push_back({QFile::encodeName(movie).toStdString(),
                           QFile::encodeName(sheet).toStdString(), false});
    return sheetclash::findClashes(entries);
}

const Clash kNone{};

// A QuickTime movie of 150 frames whose frames 60 to 89 cannot be decoded.
QString makeDamagedMovie(const QString& name) {
    testmovies::FootageSpec footage;
    footage.kind = testmovies::Footage::DamagedMiddle;
    const QString path = QDir::current().absoluteFilePath(name);
    std::string error;
    if (testmovies::makeFootage(footage, path.toStdString(), &error) != 0)
        qWarning("damaged movie %s: %s", qPrintable(path), error.c_str());
    return path;
}

void saveMessageShot(QWidget* parent, const MessageRequest& request, const QStringList& actions,
                     const QString& name) {
    std::unique_ptr<QMessageBox> box = makeMessageBox(parent, request, actions);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    saveShot(box.get(), name);
    box->close();
}

} // namespace

class QueueTest : public QObject, protected apptest::WindowCase {
    Q_OBJECT
private:
    void runQueue(CMainDlg& dlg, const QStringList& movies) {
        QVERIFY(dlg.queueMovies(movies));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 120000);
    }

private slots:
    void init() { QVERIFY(begin()); }
    void cleanup() { end(); }

    // ---- Which sheets clash ----------------------------------------------

    void clashesAreJudgedByWhatNamesLeadTo() {
        QVERIFY(QDir().mkpath("a") && QDir().mkpath("c"));
        for (const char* name : {"a/clip.mkv", "a/clip.webm", "a/clip.mp4", "c/clip.avi"})
            QVERIFY(writeFile(here(name), "movie"));
        QVERIFY(QFile::link(here("a"), here("b")));

        // One folder, one name: the second and the third name the first.
        QCOMPARE(clashesOf({{here("a/clip.mkv"), here("a/clip.jpg")},
                            {here("a/clip.webm"), here("a/clip.jpg")},
                            {here("a/clip.mp4"), here("a/clip.jpg")}}),
                 (std::vector<Clash>{
                     kNone, {Clash::Kind::EarlierSheet, 0}, {Clash::Kind::EarlierSheet, 0}}));
        // Spelt differently, through a linked folder, or already there: the
        // same file all the same.
        QVERIFY(writeFile(here("a/clip.jpg"), "old sheet"));
        QCOMPARE(clashesOf({{here("a/clip.mkv"), here("a/./clip.jpg")},
                            {here("b/clip.webm"), here("b/clip.jpg")}}),
                 (std::vector<Clash>{kNone, {Clash::Kind::EarlierSheet, 0}}));
        QVERIFY(QFile::remove(here("a/clip.jpg")));
        QCOMPARE(clashesOf({{here("a/clip.mkv"), here("c/../a/clip.jpg")},
                            {here("b/clip.webm"), here("b/clip.jpg")}}),
                 (std::vector<Clash>{kNone, {Clash::Kind::EarlierSheet, 0}}));
        // One name in two folders is two sheets.
        QCOMPARE(clashesOf({{here("a/clip.mkv"), here("a/clip.jpg")},
                            {here("c/clip.avi"), here("c/clip.jpg")}}),
                 (std::vector<Clash>{kNone, kNone}));
    }

    void aSheetMayNotLandOnAMovie() {
        for (const char* name : {"clip.avi", "clip.jpg", "other.avi", "dangling.avi", "d.avi"})
            QVERIFY(writeFile(here(name), "movie"));
        // A movie whose name is a sheet's: its own sheet would be itself, and
        // another's sheet would replace it, whichever comes first.
        QCOMPARE(
            clashesOf({{here("clip.jpg"), here("clip.jpg")}, {here("clip.avi"), here("clip.jpg")}}),
            (std::vector<Clash>{{Clash::Kind::OwnMovie, 0}, {Clash::Kind::OtherMovie, 0}}));
        QCOMPARE(
            clashesOf({{here("clip.avi"), here("clip.jpg")}, {here("clip.jpg"), here("clip.jpg")}}),
            (std::vector<Clash>{{Clash::Kind::OtherMovie, 1}, {Clash::Kind::OwnMovie, 0}}));
        // A link at the sheet's name leads to the file a write would replace,
        // also when that file does not exist yet.
        QVERIFY(QFile::link(here("other.avi"), here("linked.jpg")));
        QVERIFY(QFile::link(here("nothing-yet.jpg"), here("dangling.jpg")));
        QCOMPARE(clashesOf({{here("linked.avi"), here("linked.jpg")},
                            {here("other.avi"), here("other.jpg")},
                            {here("dangling.avi"), here("dangling.jpg")},
                            {here("nothing-yet.avi"), here("nothing-yet.jpg")}}),
                 (std::vector<Clash>{
                     {Clash::Kind::OtherMovie, 1}, kNone, kNone, {Clash::Kind::EarlierSheet, 2}}));
        // A movie left out for its own reasons still counts as a movie, but
        // claims no sheet.
        std::vector<sheetclash::Entry> entries{
            {here("clip.jpg").toStdString(), here("x.jpg").toStdString(), true},
            {here("d.avi").toStdString(), here("x.jpg").toStdString(), false},
            {here("clip.avi").toStdString(), here("clip.jpg").toStdString(), false}};
        QCOMPARE(sheetclash::findClashes(entries),
                 (std::vector<Clash>{kNone, kNone, {Clash::Kind::OtherMovie, 0}}));
        QVERIFY(sheetclash::samePlace(here("./d.avi").toStdString(), "d.avi"));
        QVERIFY(!sheetclash::samePlace("d.avi", "other.avi"));
    }

    // ---- The queue -------------------------------------------------------

    void aQueueNeverReplacesItsOwnSheet() {
        const QString mkv = makeMovie("clip.mkv", 25);
        const QString webm =
            makeMovie("clip.webm", 25, "webm", testmovies::Pattern::Pleasant, "libvpx");
        options_->rows = 1;
        options_->columns = 2;
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        runQueue(dlg, {mkv, webm});

        // No question was asked: nothing was there to replace but the
        // queue's own sheet.
        QCOMPARE(fake_.messages.size(), 1);
        const MessageRequest& summary = fake_.messages[0];
        QCOMPARE(summary.title, QString("Finished!"));
        QCOMPARE(summary.icon, QMessageBox::Warning);
        QVERIFY2(summary.text.startsWith("1 of 2 sheets saved, each beside its movie.\n"),
                 qPrintable(summary.text));
        QVERIFY2(summary.text.contains("clip.webm: its sheet clip.jpg would replace that of "
                                       "clip.mkv, made earlier in this queue.\n"
                                       "Open it alone to save its sheet under another name."),
                 qPrintable(summary.text));
        QVERIFY(dlg.queueList()->item(0)->text().contains("saved as clip.jpg"));
        QCOMPARE(dlg.queueList()->item(1)->text(),
                 QString("clip.webm — not made: its sheet clip.jpg would replace that of "
                         "clip.mkv, made earlier in this queue"));
        QVERIFY(dlg.queueList()->item(1)->toolTip().contains("Open it alone"));

        // clip.jpg is the MKV's sheet, byte for byte what the MKV alone makes.
        const QByteArray queued = contents(here("clip.jpg"));
        QVERIFY(queued.startsWith("\xFF\xD8"));
        QVERIFY(QFile::remove(here("clip.jpg")));
        QVERIFY(dlg.openMovie(mkv));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        fake_.paths.push_back(here("clip.jpg"));
        dlg.saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QCOMPARE(contents(here("clip.jpg")), queued);
        QStringList left = QDir().entryList({"*.jpg"}, QDir::Files);
        QCOMPARE(left, QStringList({"clip.jpg"}));
    }

    void aQueueAsksOnlyAboutSheetsItWouldMake() {
        const QString mkv = makeMovie("clip.mkv", 25);
        const QString mp4 = makeMovie("clip.mp4", 25);
        QVERIFY(writeFile(here("clip.jpg"), "the old sheet"));
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        fake_.answers.push_back(QMessageBox::No); // keep it
        runQueue(dlg, {mkv, mp4});
        // Asked once about clip.jpg, for the MKV; the MP4 is left out
        // whatever the answer.
        QCOMPARE(fake_.messages.size(), 2);
        QVERIFY(fake_.messages[0].text.startsWith("A sheet exists already:"));
        QCOMPARE(contents(here("clip.jpg")), QByteArray("the old sheet"));
        QVERIFY(dlg.queueList()->item(0)->text().contains("skipped"));
        QVERIFY(dlg.queueList()->item(1)->text().contains("not made"));
        QVERIFY2(fake_.messages[1].text.startsWith("0 of 2 sheets saved"),
                 qPrintable(fake_.messages[1].text));
    }

    void aQueueNeverWritesOverOneOfItsMovies() {
        // An AVI named clip.jpg is a movie all the same: the probe decides.
        const QString avi = makeMovie("clip.avi", 25);
        const QString named = makeMovie("clip.jpg", 25, "avi");
        const QByteArray movieBytes = contents(named);
        QVERIFY(movieBytes.startsWith("RIFF"));
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        runQueue(dlg, {avi, named});
        QCOMPARE(contents(named), movieBytes);
        QCOMPARE(fake_.messages.size(), 1);
        const QString text = fake_.messages[0].text;
        QVERIFY2(text.startsWith("0 of 2 sheets saved"), qPrintable(text));
        QVERIFY2(text.contains("clip.avi: its sheet clip.jpg would replace clip.jpg, a movie of "
                               "this queue"),
                 qPrintable(text));
        QVERIFY2(text.contains("clip.jpg: its sheet clip.jpg would replace the movie itself"),
                 qPrintable(text));
        QVERIFY2(text.contains("Open each alone"), qPrintable(text));
        QVERIFY(!text.contains("Activate a saved movie"));
    }

    void sameNamesInTwoFoldersAreToldApart() {
        QVERIFY(QDir().mkpath("one"));
        QVERIFY(QFile::link(here("one"), here("two")));
        const QString first = makeMovie("one/clip.avi", 25);
        const QString second = here("two/clip.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        runQueue(dlg, {first, second});
        // Both are the same movie through a link; the line says which path
        // it met rather than "clip.avi would replace that of clip.avi".
        QVERIFY2(dlg.queueList()->item(1)->text().contains("would replace that of " +
                                                           QDir::toNativeSeparators(first)),
                 qPrintable(dlg.queueList()->item(1)->text()));
        QVERIFY(QFile::exists(here("one/clip.jpg")));
    }

    void aSavedSheetNeverReplacesItsMovie() {
        const QString movie = makeMovie("clip.jpg", 25, "avi");
        const QByteArray movieBytes = contents(movie);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        QVERIFY(dlg.openMovie(movie));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        QVERIFY(dlg.saveButton()->isEnabled());
        // Its own name, proposed and taken, then the same file through a
        // link: both refused, and the chooser asked again.
        QVERIFY(QFile::link(movie, here("link.jpg")));
        fake_.paths = {movie, here("link.jpg"), here("sheet.jpg")};
        dlg.saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QCOMPARE(fake_.fileRequests.size(), 3);
        QCOMPARE(fake_.fileRequests[0].initialName, QString("clip.jpg"));
        QCOMPARE(fake_.messages.size(), 2);
        QVERIFY2(fake_.messages[0].text.startsWith("“clip.jpg” is the movie itself"),
                 qPrintable(fake_.messages[0].text));
        QVERIFY2(fake_.messages[1].text.startsWith("“link.jpg” is the movie itself"),
                 qPrintable(fake_.messages[1].text));
        QCOMPARE(contents(movie), movieBytes);
        QVERIFY(contents(here("sheet.jpg")).startsWith("\xFF\xD8"));
    }

    // ---- Incomplete sheets -----------------------------------------------

    void anIncompleteSheetIsCalledSo() {
        const QString movie = makeDamagedMovie("damaged.mov");
        options_->rows = 5;
        options_->columns = 5;
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(dlg.openMovie(movie));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        fake_.paths.push_back(here("damaged.jpg"));
        dlg.saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);

        QVERIFY(contents(here("damaged.jpg")).startsWith("\xFF\xD8"));
        QCOMPARE(fake_.actionMessages.size(), 1);
        const FakeDialogs::ActionMessage& done = fake_.actionMessages[0];
        QCOMPARE(done.request.icon, QMessageBox::Warning);
        const QString text = done.request.text;
        QVERIFY2(text.startsWith("The sheet of damaged.mov is saved as\n" +
                                 QDir::toNativeSeparators(here("damaged.jpg")) +
                                 "\n\nThe sheet is incomplete.\n"),
                 qPrintable(text));
        QVERIFY2(text.contains("gave no picture (at 00:00:02") &&
                     text.contains("marked “no picture”"),
                 qPrintable(text));
        QVERIFY(!text.contains("black"));
        QCOMPARE(done.actions, QStringList({"&Open", "Show in &Folder"}));
        saveMessageShot(&dlg, done.request, done.actions, "finished-incomplete.png");
    }

    void aCutShortSheetsMessageSaysHowMuchWasRead() {
        CaptureResult result;
        result.cutShort = true;
        result.readableDuration = 274'000'000;
        result.statedDuration = 600'000'000;
        result.missingMoments = {123'400'000, 201'000'000};
        result.stampsLeftOut = true;
        const QString sheet = here("Download.jpg");
        const MessageRequest m = CMainDlg::finishedMessage(here("Download.mkv"), sheet, result);
        QCOMPARE(m.icon, QMessageBox::Warning);
        QCOMPARE(m.title, QString("Finished!"));
        QCOMPARE(m.text, "The sheet of Download.mkv is saved as\n" +
                             QDir::toNativeSeparators(sheet) +
                             "\n\nThe sheet is incomplete.\n"
                             "Only 00:00:27 of the 00:01:00 of this movie could be read; the "
                             "sheet shows that part.\n"
                             "2 moments gave no picture (at 00:00:12.34, 00:00:20.10); their "
                             "cells are marked “no picture”.\n"
                             "The frames are too small for legible time stamps, so the sheet has "
                             "none.");
        saveMessageShot(nullptr, m, {"&Open", "Show in &Folder"}, "finished-cut-short.png");

        // Stamps left out take nothing from the frames: no warning for them
        // alone. Decoding errors keep the warning they had.
        CaptureResult stamps;
        stamps.stampsLeftOut = true;
        QCOMPARE(CMainDlg::finishedMessage("a.avi", "a.jpg", stamps).icon,
                 QMessageBox::Information);
        CaptureResult errors;
        errors.decoderErrors = 3;
        QCOMPARE(CMainDlg::finishedMessage("a.avi", "a.jpg", errors).icon, QMessageBox::Warning);
    }

    void aCompleteSheetsMessageStaysAsItWas() {
        const QString movie = makeMovie("whole.avi", 50);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        QVERIFY(dlg.openMovie(movie));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        fake_.paths.push_back(here("whole.jpg"));
        dlg.saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QCOMPARE(fake_.actionMessages.size(), 1);
        QCOMPARE(fake_.actionMessages[0].request.icon, QMessageBox::Information);
        QCOMPARE(fake_.actionMessages[0].request.text,
                 "The sheet of whole.avi is saved as\n" +
                     QDir::toNativeSeparators(here("whole.jpg")));
    }

    void aQueueCountsIncompleteSheetsApart() {
        const QString a = makeMovie("a.avi", 50);
        const QString damaged = makeDamagedMovie("damaged.mov");
        const QString b = makeMovie("b.mp4", 50);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        runQueue(dlg, {a, damaged, b});

        QCOMPARE(fake_.messages.size(), 1);
        const MessageRequest& summary = fake_.messages[0];
        QCOMPARE(summary.icon, QMessageBox::Warning);
        // How many moments lack a picture is the capture's business; that
        // they are counted and named to the hundredth is the list's.
        const QRegularExpression lacking(
            "^3 of 3 sheets saved, 1 incomplete, each beside its movie\\.\n\n"
            "damaged\\.mov: incomplete, \\d+ moments without a picture \\(00:00:02\\.\\d\\d, ");
        QVERIFY2(lacking.match(summary.text).hasMatch(), qPrintable(summary.text));
        QVERIFY(dlg.queueList()->item(0)->text().endsWith("saved as a.jpg"));
        const QRegularExpression row("^damaged\\.mov — saved as damaged\\.jpg, incomplete: \\d+ "
                                     "moments without a picture \\(00:00:02\\.\\d\\d, [^)]*\\)$");
        QVERIFY2(row.match(dlg.queueList()->item(1)->text()).hasMatch(),
                 qPrintable(dlg.queueList()->item(1)->text()));
        QVERIFY(dlg.queueList()->item(1)->toolTip().contains("The sheet is incomplete."));
        QVERIFY(dlg.queueList()->item(2)->text().endsWith("saved as b.jpg"));
        for (const char* sheet : {"a.jpg", "damaged.jpg", "b.jpg"})
            QVERIFY2(contents(here(sheet)).startsWith("\xFF\xD8"), sheet);
    }

    // The queue with each kind of outcome, and its summary, as PNG files
    // under screens/ to look at.
    void pictures() {
        QVERIFY(writeFile(here("notes.txt"), "not a movie"));
        const QString mkv = makeMovie("Harbour.mkv", 50, "", testmovies::Pattern::Pleasant);
        const QString mp4 = makeMovie("Harbour.mp4", 50, "", testmovies::Pattern::Pleasant);
        const QString damaged = makeDamagedMovie("Old tape.mov");
        const QString fine = makeMovie("Garden.avi", 50, "", testmovies::Pattern::Pleasant);
        options_->rows = 3;
        options_->columns = 4;
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        runQueue(dlg, {mkv, mp4, damaged, here("notes.txt"), fine});
        QCOMPARE(fake_.messages.size(), 1);
        QVERIFY2(fake_.messages[0].text.startsWith("3 of 5 sheets saved, 1 incomplete"),
                 qPrintable(fake_.messages[0].text));
        dlg.queueList()->setCurrentRow(-1);
        dlg.queueList()->scrollToTop();
        saveShot(&dlg, "queue.png");
        saveMessageShot(&dlg, fake_.messages[0], {}, "queue-finished.png");
    }
};

int runQueueTests(int argc, char** argv) {
    QueueTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "queue_test.moc"
