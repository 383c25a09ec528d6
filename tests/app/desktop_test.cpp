// The desktop program as a user of today meets it: today's movie formats,
// failures that can be read, a capture that can be stopped, a sheet that is
// readable on any background and grows in the window, output that is what it
// is named, and the keyboard and assistive tools.

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "app/color_button.h"
#include "app/fitted_width.h"
#include "app/info_text.h"
#include "app/main_dlg.h"
#include "app/options_dlg.h"
#include "app/sheet_app.h"
#include "app/sheet_preview.h"
#include "app/sheet_target.h"
#include "app/user_settings.h"
#include "app/value_convert.h"
#include "capture/layout.h"
#include "render/raster_image.h"
#include "settings/options.h"
#include "tests/app/app_fixture.h"
#include "tests/app/test_seams.h"
#include "tests/app/window_case.h"

using apptest::drop;
using apptest::here;
using apptest::makeMovie;
using apptest::saveShot;

namespace {

QString describe(const QWidget* w) {
    QString text;
    if (auto* l = qobject_cast<const QLabel*>(w))
        text = l->text();
    else if (auto* b = qobject_cast<const QAbstractButton*>(w))
        text = b->text();
    return QStringLiteral("%1 %2 '%3'").arg(w->metaObject()->className(), w->objectName(), text);
}

// The main dialog with a count of what its workers post and a record of
// every preview it shows.
class WatchedDlg : public CMainDlg {
public:
    using CMainDlg::CMainDlg;

    void post(uint32_t message, intptr_t wParam, intptr_t lParam) override {
        // A step posted after the stop was asked for: a moment the capture
        // did although it had been told to stop.
        if (message == ui::WM_CAPTURE_STEP && job().cancelRequested())
            ++stepsAfterCancel;
        if (message == ui::WM_CAPTURE_STEP && ++stepsPosted == holdAtStep) {
            // On the capture thread, in the middle of the capture: wait
            // for the test to let go.
            std::unique_lock<std::mutex> lock(mutex_);
            held_ = true;
            shown_.notify_all();
            shown_.wait_for(lock, std::chrono::seconds(20), [&] { return released_; });
        }
        if (message == ui::WM_CAPTURE_STEP && lockstep) {
            // On the capture thread: the next moment waits until the window
            // has taken every picture, so from the second moment on none is
            // skipped for a slow window.
            std::unique_lock<std::mutex> lock(mutex_);
            shown_.wait_for(lock, std::chrono::seconds(20),
                            [&] { return !previewFeed()->pending(); });
        }
        CMainDlg::post(message, wParam, lParam);
    }

    struct Shown {
        QImage image;
        int momentsDone;
    };
    std::vector<Shown> previews;
    std::function<void(WatchedDlg&)> onPreview;
    std::atomic<int> stepsAfterCancel{0};
    bool lockstep = false; // set before a capture starts
    // The capture waits before posting this step until `release`.
    int holdAtStep = -1;
    std::atomic<int> stepsPosted{0};
    bool held() {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        shown_.notify_all();
    }

protected:
    bool event(QEvent* e) override {
        const bool isPreview = e->type() == PreviewFeed::eventType();
        const bool handled = CMainDlg::event(e);
        if (isPreview) {
            previews.push_back({preview()->image().copy(), preview()->momentsDone()});
            if (onPreview)
                onPreview(*this);
            std::lock_guard<std::mutex> lock(mutex_);
            shown_.notify_all();
        }
        return handled;
    }

private:
    std::mutex mutex_;
    std::condition_variable shown_;
    bool held_ = false;
    bool released_ = false;
};

QByteArray head(const QString& path, int n) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(n);
}

const QByteArray kJpeg("\xFF\xD8\xFF", 3);
const QByteArray kPng("\x89PNG", 4);

// The layout of a sheet the capture makes for a 176 x 144 movie, with the
// information block measured as the capture measures it.
SheetLayout layoutFor(const Options& o, const std::string& infoText) {
    int w = 0, h = 0;
    if (o.headerEnabled) {
        const TextSize size = measureText(infoText, TextFlags{.expandTabs = true}, o.font);
        w = size.width;
        h = size.height;
    }
    SheetLayout layout;
    std::string error;
    computeLayout(o, 176, 144, w, h, layout, error);
    return layout;
}

bool nearlyBlack(QRgb c) {
    return qRed(c) < 12 && qGreen(c) < 12 && qBlue(c) < 12;
}

// Every visible control that takes the keyboard focus.
QList<QWidget*> focusable(QWidget* top) {
    QList<QWidget*> out;
    for (QWidget* w : top->findChildren<QWidget*>()) {
        if (w->isVisibleTo(top) && (w->focusPolicy() & Qt::TabFocus) &&
            !qobject_cast<QMenu*>(w->window()) && w->window() == top)
            out << w;
    }
    return out;
}

QChar mnemonicOf(const QString& text) {
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("&([^&])")).match(text);
    return m.hasMatch() ? m.captured(1).at(0).toLower() : QChar();
}

} // namespace

class DesktopTest : public QObject, protected apptest::WindowCase {
    Q_OBJECT
private slots:
    void init() { QVERIFY(begin()); }
    void cleanup() { end(); }

    // ---- Today's movies ------------------------------------------------

    void todaysFormatsOpen_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("codec");
        QTest::newRow("mp4") << "clip.mp4"
                             << ""
                             << "";
        QTest::newRow("mkv") << "clip.mkv"
                             << ""
                             << "";
        QTest::newRow("webm") << "clip.webm"
                              << "webm"
                              << "libvpx";
        QTest::newRow("ts") << "clip.ts"
                            << "mpegts"
                            << "mpeg2video";
    }
    void todaysFormatsOpen() {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QString, codec);
        const QString movie = makeMovie(name, 25, container.toStdString(),
                                        testmovies::Pattern::Index, codec.toStdString());
        QVERIFY(QFileInfo(movie).size() > 0);
        {
            // Chosen in the open dialog.
            CMainDlg dlg(*options_, nullptr, fake_.seams());
            fake_.paths.push_back(movie);
            dlg.openButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
            QVERIFY2(dlg.infoText()->text().contains(name) &&
                         dlg.infoText()->text().contains("176x144"),
                     qPrintable(dlg.infoText()->text()));
            QVERIFY(dlg.saveButton()->isEnabled());
            QCOMPARE(dlg.windowTitle(), name + QString(" — Stillwick"));
        }
        {
            // Dropped on the window.
            CMainDlg dlg(*options_, nullptr, fake_.seams());
            drop(&dlg, {QUrl::fromLocalFile(movie)});
            QVERIFY(dlg.isWorking());
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
            QVERIFY(dlg.infoText()->text().contains("176x144"));
        }
        QVERIFY(fake_.messages.isEmpty());
    }

    void commandLineOpensAnMp4() {
        const QString movie = makeMovie("given.mp4");
        FakeDialogs fake;
        CSheetApp app(fake.seams());
        QString details;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<CMainDlg*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            if (QTest::qWaitFor([&] { return !dlg->isWorking(); }, 30000))
                details = dlg->infoText()->text();
            dlg->close();
        });
        QCOMPARE(app.exec(movie), 0);
        QVERIFY2(details.contains("given.mp4") && details.contains("176x144"), qPrintable(details));
    }

    void anyNameWithVideoIsTaken() {
        const QString avi = makeMovie("source.avi");
        QVERIFY(QFile::copy(avi, here("clip.video")));
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, here("clip.video"));
        QVERIFY(dlg.job().probeTaken());
        QCOMPARE(QString::fromStdString(dlg.job().moviePath()), here("clip.video"));
        QVERIFY(dlg.infoText()->text().contains("clip.video"));
        QVERIFY(dlg.saveButton()->isEnabled());
        QVERIFY(fake_.messages.isEmpty());
    }

    void aFileWithoutVideoIsRefusedWithTheReason() {
        const QString movie = makeMovie("kept.avi");
        {
            QFile notes(here("notes.txt"));
            QVERIFY(notes.open(QIODevice::WriteOnly));
            notes.write("shopping list\n");
        }
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        const QString details = dlg.infoText()->text();
        // Dropping it is not refused at the door: only the probe can tell.
        drop(&dlg, {QUrl::fromLocalFile(here("notes.txt"))});
        QVERIFY(dlg.isWorking());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        QCOMPARE(fake_.messages.size(), 1);
        const MessageRequest& box = fake_.messages[0];
        QCOMPARE(box.icon, QMessageBox::Warning);
        QVERIFY2(box.text.contains("notes.txt") &&
                     box.text.contains(QString::fromStdString(dlg.job().finishProbe().errorText())),
                 qPrintable(box.text));
        QVERIFY(!dlg.job().finishProbe().errorText().empty());
        // The movie before it is still the one.
        QCOMPARE(dlg.infoText()->text(), details);
        QCOMPARE(QString::fromStdString(dlg.job().moviePath()), movie);
        QVERIFY(dlg.saveButton()->isEnabled());
        QCOMPARE(dlg.windowTitle(), QString("kept.avi — Stillwick"));
    }

    // ---- Failures a user can read --------------------------------------

    void aBrokenMovieIsRefusedWithTheWholeReason() {
        std::string error;
        QCOMPARE(testmovies::writeRandomBytes(here("broken.avi").toStdString(), 4096, 7, &error),
                 0);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.openMovie(here("broken.avi")));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        const QString reason = QString::fromStdString(dlg.job().finishProbe().errorText());
        QVERIFY(!reason.isEmpty());

        // Its name promised a movie, but only what is in it counts: a box
        // says why, with the whole reason, and nothing became the movie.
        QCOMPARE(fake_.messages.size(), 1);
        const MessageRequest& box = fake_.messages[0];
        QCOMPARE(box.icon, QMessageBox::Warning);
        QVERIFY2(box.text.contains("broken.avi") && box.text.contains(reason),
                 qPrintable(box.text));
        QVERIFY(dlg.job().moviePath().empty());
        QVERIFY(dlg.infoText()->text().isEmpty());
        QCOMPARE(dlg.windowTitle(), QString("Stillwick"));

        // Save cannot start what cannot work, and says why.
        QVERIFY(!dlg.saveButton()->isEnabled());
        QVERIFY2(dlg.saveButton()->toolTip().contains("Open a movie"),
                 qPrintable(dlg.saveButton()->toolTip()));
        dlg.saveButton()->click();
        QTest::keyClick(&dlg, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(fake_.fileRequests.isEmpty());
        QCOMPARE(fake_.messages.size(), 1);
    }

    void saveWithoutAMovieIsDisabledAndSaysWhy() {
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        QVERIFY(!dlg.saveButton()->isEnabled());
        QVERIFY(dlg.saveButton()->toolTip().contains("Open a movie"));
        dlg.saveButton()->click();
        QVERIFY(fake_.fileRequests.isEmpty());
    }

    // ---- A capture you can stop -----------------------------------------

    void escapeWhenIdleKeepsTheWindow() {
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QTest::keyClick(dlg.openButton(), Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QVERIFY(fake_.messages.isEmpty());
    }

    void escapeOrCancelStopsACapture_data() {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Escape") << true;
        QTest::newRow("Cancel button") << false;
    }
    void escapeOrCancelStopsACapture() {
        QFETCH(bool, byKey);
        options_->rows = 12;
        options_->columns = 12;
        const QString movie = makeMovie("long.avi", 600);
        WatchedDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        open(dlg, movie);
        fake_.paths.push_back(here("never.jpg"));
        // The capture is held in its third moment while the user stops it.
        dlg.holdAtStep = 3;
        dlg.saveButton()->click();
        QVERIFY(dlg.cancelButton()->isEnabled());
        QTRY_VERIFY(dlg.held());
        QTRY_COMPARE(dlg.progressBar()->value(), 2);
        if (byKey)
            QTest::keyClick(&dlg, Qt::Key_Escape);
        else
            dlg.cancelButton()->click();
        QVERIFY(!dlg.cancelButton()->isEnabled());
        QVERIFY(dlg.progressBar()->text().startsWith("Stopping"));
        dlg.release();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        // The moment under way when the stop came ends; no other begins.
        QCOMPARE(dlg.stepsPosted.load(), 3);
        QCOMPARE(dlg.stepsAfterCancel.load(), 0);
        QVERIFY(dlg.isVisible());
        QVERIFY(fake_.messages.isEmpty());
        QVERIFY(fake_.actionMessages.isEmpty());
        QVERIFY(!QFile::exists(here("never.jpg")));
        QCOMPARE(dlg.progressBar()->value(), 0);
        QVERIFY(dlg.saveButton()->isEnabled());
    }

    void closingDuringACaptureAsksFirst() {
        options_->rows = 12;
        options_->columns = 12;
        const QString movie = makeMovie("long.avi", 600);
        WatchedDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        open(dlg, movie);

        // No: the capture goes on and finishes.
        fake_.paths.push_back(here("kept.jpg"));
        dlg.saveButton()->click();
        QVERIFY(dlg.isWorking());
        fake_.answers.push_back(QMessageBox::No);
        dlg.close();
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(fake_.messages[0].text, QString("Stop the capture and quit?"));
        QCOMPARE(fake_.messages[0].defaultButton, QMessageBox::No);
        QVERIFY(dlg.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QCOMPARE(fake_.actionMessages.size(), 1);
        QCOMPARE(head(here("kept.jpg"), 3), kJpeg);

        // Yes: it stops, writes nothing, and the window closes. The capture
        // is held with a picture on its way to the window, and let go while
        // the window waits for it.
        fake_.paths.push_back(here("never.jpg"));
        dlg.holdAtStep = dlg.stepsPosted + 3;
        dlg.saveButton()->click();
        QVERIFY(dlg.isWorking());
        // Waiting without handling events, so the pictures stay untaken.
        for (int i = 0; i < 3000 && !dlg.held(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QVERIFY(dlg.held());
        QVERIFY(dlg.previewFeed()->pending());
        fake_.answers.push_back(QMessageBox::Yes);
        std::thread letGo([&dlg] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            dlg.release();
        });
        dlg.close();
        letGo.join();
        QVERIFY(!dlg.isVisible());
        QVERIFY(!dlg.job().busy());
        QTest::qWait(50);
        QCOMPARE(fake_.messages.size(), 2);
        QCOMPARE(fake_.actionMessages.size(), 1);
        QVERIFY(!QFile::exists(here("never.jpg")));
        QVERIFY(dlg.stepsAfterCancel <= 1);

        // Opened again, the window shows the next sheet growing as before,
        // although the stopped capture left a picture untaken.
        dlg.previews.clear();
        dlg.show();
        fake_.paths.push_back(here("again.jpg"));
        dlg.saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QVERIFY(!dlg.previews.empty());
        QCOMPARE(dlg.previews.back().momentsDone, 144);

        // Idle, the close box closes without a question.
        CMainDlg idle(*options_, nullptr, fake_.seams());
        idle.show();
        idle.close();
        QVERIFY(!idle.isVisible());
        QCOMPARE(fake_.messages.size(), 2);
    }

    // ---- A sheet readable on any background ------------------------------

    void informationBlockIsReadableOnAnyBackground_data() {
        QTest::addColumn<QColor>("background");
        QTest::addColumn<bool>("whiteText");
        QTest::newRow("dark blue") << QColor(20, 24, 48) << true;
        QTest::newRow("black") << QColor(0, 0, 0) << true;
        QTest::newRow("default light") << QColor(238, 242, 247) << false;
        QTest::newRow("middle grey") << QColor(128, 128, 128) << false;
    }
    void informationBlockIsReadableOnAnyBackground() {
        QFETCH(QColor, background);
        QFETCH(bool, whiteText);
        options_->rows = 1;
        options_->columns = 2;
        options_->headerEnabled = 1;
        options_->headerPosition = BottomLeft;
        options_->timeStampsEnabled = 0;
        options_->backgroundColor = toRgb(background);
        const QString movie = makeMovie("colour.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        save(dlg, here("colour.png"));
        const QImage sheet(here("colour.png"));
        QVERIFY(!sheet.isNull());
        const SheetLayout l = layoutFor(*options_, dlg.job().movie().infoText);
        QCOMPARE(sheet.size(), QSize(l.sheetWidth, l.sheetHeight));
        int white = 0, black = 0;
        for (int y = l.headerY; y < l.headerY + l.textHeight; ++y) {
            for (int x = l.headerX; x < l.headerX + l.textWidth; ++x) {
                const QRgb c = sheet.pixel(x, y);
                white += qRed(c) > 240 && qGreen(c) > 240 && qBlue(c) > 240;
                black += nearlyBlack(c);
            }
        }
        if (whiteText) {
            QVERIFY2(white > 100, qPrintable(QString::number(white)));
            // Black on a black background: only where the background is.
            if (background != QColor(0, 0, 0))
                QCOMPARE(black, 0);
        } else {
            QVERIFY2(black > 100, qPrintable(QString::number(black)));
            QCOMPARE(white, 0);
        }
    }

    // ---- The live sheet ---------------------------------------------------

    void previewFeedShrinksAndCoalesces() {
        struct Counter : QObject {
            int events = 0;
            bool event(QEvent* e) override {
                if (e->type() == PreviewFeed::eventType()) {
                    ++events;
                    return true;
                }
                return QObject::event(e);
            }
        } receiver;
        PreviewFeed feed(&receiver);
        RasterImage sheet;
        QVERIFY(sheet.create(300, 200));
        sheet.fill(Rgb{0, 0, 0});
        feed.sheetPainted(sheet);
        QCoreApplication::sendPostedEvents(&receiver);
        QCOMPARE(receiver.events, 1);
        PreviewFeed::Picture p = feed.take();
        QCOMPARE(p.image.size(), QSize(300, 200));
        QCOMPARE(p.momentsDone, 0);
        QVERIFY(nearlyBlack(p.image.pixel(20, 20)));

        // The first cell gets its frame: it shows, the second cell stays black.
        sheet.fillRect(10, 10, 100, 80, Rgb{200, 30, 40});
        feed.momentDone(0, 3, sheet);
        QCoreApplication::sendPostedEvents(&receiver);
        QCOMPARE(receiver.events, 2);
        p = feed.take();
        QCOMPARE(p.momentsDone, 1);
        QCOMPARE(p.moments, 3);
        QCOMPARE(QColor(p.image.pixel(50, 50)), QColor(200, 30, 40));
        QVERIFY(nearlyBlack(p.image.pixel(150, 50)));

        // Not taken yet: the next moment is not copied, so one event stands
        // for both; the last moment is always copied.
        sheet.fillRect(120, 10, 100, 80, Rgb{10, 200, 40});
        feed.momentDone(1, 3, sheet);
        QCOMPARE(feed.take().momentsDone, 2);
        feed.momentDone(1, 3, sheet);
        sheet.fillRect(10, 100, 100, 80, Rgb{10, 20, 220});
        feed.momentDone(2, 3, sheet);
        QCoreApplication::sendPostedEvents(&receiver);
        QCOMPARE(receiver.events, 4);
        p = feed.take();
        QCOMPARE(p.momentsDone, 3);
        QCOMPARE(QColor(p.image.pixel(50, 150)), QColor(10, 20, 220));
    }

    void previewShrinksLargeSheetsFaithfully() {
        RasterImage sheet;
        QVERIFY(sheet.create(4000, 1000));
        sheet.fill(Rgb{255, 255, 255});
        // The top quarter red, a blue column at the far left.
        sheet.fillRect(0, 0, 4000, 250, Rgb{255, 0, 0});
        sheet.fillRect(0, 0, 40, 1000, Rgb{0, 0, 255});
        const QImage small = PreviewFeed::shrink(sheet);
        QCOMPARE(small.size(), QSize(1024, 256));
        QCOMPARE(QColor(small.pixel(500, 10)), QColor(255, 0, 0));
        QCOMPARE(QColor(small.pixel(500, 200)), QColor(255, 255, 255));
        QCOMPARE(QColor(small.pixel(2, 200)), QColor(0, 0, 255));
    }

    void previewOfASheetThatFitsIsAnExactCopy() {
        // Rows of 7 x 3 bytes, not a multiple of four.
        RasterImage sheet;
        QVERIFY(sheet.create(7, 5));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                sheet.fillRect(x, y, 1, 1,
                               Rgb{uint8_t(30 * x), uint8_t(40 * y), uint8_t(200 - 10 * x - y)});
        const QImage copy = PreviewFeed::shrink(sheet);
        QCOMPARE(copy.size(), QSize(7, 5));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                QCOMPARE(copy.pixelColor(x, y), toQColor(sheet.pixel(x, y)));
        // Painting the sheet afterwards leaves the copy as it was.
        sheet.fill(Rgb{1, 2, 3});
        QCOMPARE(copy.pixelColor(6, 4), QColor(180, 160, 136));
    }

    void previewShowsEachCellAsItsFrameArrives() {
        options_->rows = 2;
        options_->columns = 3;
        options_->headerEnabled = 0;
        options_->timeStampsEnabled = 0;
        options_->shadowEnabled = 0;
        const QString movie = makeMovie("cells.avi", 100);
        WatchedDlg dlg(*options_, nullptr, fake_.seams());
        dlg.lockstep = true;
        dlg.show();
        open(dlg, movie);
        save(dlg, here("cells.png"));
        const SheetLayout l = layoutFor(*options_, "");
        QVERIFY(!dlg.previews.empty());
        int partial = 0;
        for (const WatchedDlg::Shown& shown : dlg.previews) {
            QCOMPARE(shown.image.size(), QSize(l.sheetWidth, l.sheetHeight));
            partial += shown.momentsDone > 0 && shown.momentsDone < 6;
            for (int k = 0; k < 6; ++k) {
                const CellRect c = l.cellAt(k);
                const QRgb centre = shown.image.pixel(c.x + c.width / 2, c.y + c.height / 2);
                // A cell shows its frame from its moment on, never before.
                QVERIFY2(nearlyBlack(centre) == (k >= shown.momentsDone),
                         qPrintable(QString("cell %1 of a preview with %2 done")
                                        .arg(k)
                                        .arg(shown.momentsDone)));
            }
        }
        // In step with the window, every moment from the second on shows,
        // one cell more each time; the first may share its picture with the
        // painted sheet when the window had not taken that one yet.
        QVERIFY2(partial >= 4, qPrintable(QString::number(partial)));
        for (size_t i = 1; i < dlg.previews.size(); ++i)
            QVERIFY(dlg.previews[i].momentsDone > dlg.previews[i - 1].momentsDone);
        for (int k = 2; k <= 6; ++k)
            QVERIFY(std::any_of(dlg.previews.begin(), dlg.previews.end(),
                                [k](const WatchedDlg::Shown& s) { return s.momentsDone == k; }));
        QCOMPARE(dlg.previews.back().image,
                 QImage(here("cells.png")).convertToFormat(dlg.previews.back().image.format()));
    }

    // ---- Output -----------------------------------------------------------

    void anUnknownExtensionAsksFirst() {
        options_->rows = 1;
        options_->columns = 1;
        const QString movie = makeMovie("gif.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        // JPEG chosen, "sheet.gif" typed: No chooses again, Yes appends .jpg.
        fake_.paths = {here("sheet.gif"), here("sheet.gif")};
        fake_.filters = {1, 1};
        fake_.answers = {QMessageBox::No, QMessageBox::Yes};
        dlg.saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QCOMPARE(fake_.fileRequests.size(), 2);
        QCOMPARE(fake_.messages.size(), 2);
        QVERIFY(fake_.messages[0].text.contains("sheet.gif.jpg"));
        QVERIFY(!QFile::exists(here("sheet.gif")));
        QCOMPARE(head(here("sheet.gif.jpg"), 3), kJpeg);

        // PNG chosen, no extension typed: the type decides without a question.
        fake_.paths = {here("plain")};
        fake_.filters = {2};
        fake_.messages.clear();
        dlg.saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QVERIFY(fake_.messages.isEmpty());
        QCOMPARE(head(here("plain.png"), 4), kPng);

        // "sheet.TXT" with BMP chosen, Cancel: nothing is made.
        fake_.paths = {here("sheet.TXT")};
        fake_.filters = {0};
        fake_.answers = {QMessageBox::Cancel};
        dlg.saveButton()->click();
        QVERIFY(!dlg.isWorking());
        QVERIFY(!QFile::exists(here("sheet.TXT.bmp")) && !QFile::exists(here("sheet.TXT")));
    }

    void anUnwritableFolderIsReportedBeforeTheCapture() {
        const QString movie = makeMovie("ro.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        // /proc takes no new files, not even from the superuser.
        fake_.paths.push_back(QStringLiteral("/proc/stillwick-sheet.jpg"));
        dlg.saveButton()->click();
        QVERIFY(!dlg.isWorking());
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(fake_.messages[0].icon, QMessageBox::Critical);
        QVERIFY2(fake_.messages[0].text.contains("/proc"), qPrintable(fake_.messages[0].text));
        // The user is asked again, from where they were.
        QCOMPARE(fake_.fileRequests.size(), 2);
        QCOMPARE(fake_.fileRequests[1].directory, QString("/proc"));
        QCOMPARE(dlg.progressBar()->maximum(), 100); // no capture began
    }

    // ---- Convenience --------------------------------------------------------

    void choosersStartWhereTheMovieIs() {
        QVERIFY(QDir().mkpath("films"));
        const QString movie = makeMovie("films/holiday.2024.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        fake_.paths.push_back(movie);
        dlg.openButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        dlg.saveButton()->click(); // cancelled
        QCOMPARE(fake_.fileRequests.size(), 2);
        const FileRequest& save = fake_.fileRequests[1];
        QCOMPARE(save.directory, QFileInfo(movie).absolutePath());
        QCOMPARE(save.initialName, QString("holiday.2024.jpg"));
        QCOMPARE(save.selectedFilter, 1);

        // The real chooser goes there and proposes that name.
        std::unique_ptr<QFileDialog> chooser = makeFileDialog(nullptr, save);
        QCOMPARE(QDir(chooser->directory()).absolutePath(), QFileInfo(movie).absolutePath());
        QCOMPARE(chooser->selectedFiles().value(0),
                 QFileInfo(movie).absoluteDir().filePath("holiday.2024.jpg"));

        // The next Open starts in the movie's folder.
        dlg.openButton()->click();
        QCOMPARE(fake_.fileRequests.last().directory, QFileInfo(movie).absolutePath());
    }

    void aMovieInAFolderThatTakesNoFilesProposesTheLastSheetFolder() {
        QVERIFY(QDir().mkpath("sheets"));
        UserSettings().setLastSheetFolder(here("sheets"));
        QVERIFY(QDir().mkpath("gone"));
        const QString movie = makeMovie("gone/clip.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        QVERIFY(dlg.job().movieReady());
        // A folder that has gone since takes no files, whoever runs this
        // (permission bits would not stop the superuser).
        QVERIFY(QDir(here("gone")).removeRecursively());
        QCOMPARE(dlg.sheetRequestForMovie().directory, here("sheets"));
        QCOMPARE(dlg.sheetRequestForMovie().initialName, QString("clip.jpg"));
    }

    void recentMovies() {
        const QString a = makeMovie("a.avi");
        const QString b = makeMovie("b.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, a);
        open(dlg, b);
        open(dlg, here("missing.avi")); // unreadable: not worth remembering
        emit dlg.recentMenu()->aboutToShow();
        QStringList labels;
        for (QAction* action : dlg.recentMenu()->actions())
            if (!action->isSeparator())
                labels << action->text();
        QCOMPARE(labels, QStringList({"&1 b.avi", "&2 a.avi", "&Clear List"}));
        dlg.recentMenu()->actions().at(1)->trigger();
        QVERIFY(dlg.isWorking());
        QTRY_VERIFY(!dlg.isWorking());
        QCOMPARE(QString::fromStdString(dlg.job().moviePath()), a);

        // Kept for the next run, at most ten, the newest first.
        UserSettings user;
        QCOMPARE(user.recentMovies(), QStringList({a, b}));
        for (int i = 0; i < 12; ++i)
            user.addRecentMovie(QStringLiteral("/m/%1.mp4").arg(i));
        user.addRecentMovie(QStringLiteral("/m/3.mp4"));
        const QStringList kept = user.recentMovies();
        QCOMPARE(kept.size(), 10);
        QCOMPARE(kept.front(), QString("/m/3.mp4"));
        QCOMPARE(kept.at(1), QString("/m/11.mp4"));
        QCOMPARE(kept.count("/m/3.mp4"), 1);
        // A file the list names but that is gone is left out of the menu.
        QVERIFY(QFile::remove(b));
        UserSettings().clearRecentMovies();
        UserSettings().addRecentMovie(b);
        UserSettings().addRecentMovie(a);
        emit dlg.recentMenu()->aboutToShow();
        QCOMPARE(dlg.recentMenu()->actions().at(0)->text(), QString("&1 a.avi"));
        QCOMPARE(dlg.recentMenu()->actions().at(1)->isSeparator(), true);
    }

    void droppedMoviesAreQueued() {
        QVERIFY(QDir().mkpath("one") && QDir().mkpath("two"));
        const QString a = makeMovie("one/a.avi");
        const QString b = makeMovie("two/b.mp4");
        {
            QFile notes(here("two/notes.txt"));
            QVERIFY(notes.open(QIODevice::WriteOnly));
            notes.write("not a movie");
        }
        options_->rows = 2;
        options_->columns = 2;
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        drop(&dlg, {QUrl::fromLocalFile(a), QUrl::fromLocalFile(here("two/notes.txt")),
                    QUrl::fromLocalFile(b)});
        QVERIFY(dlg.queueRunning());
        QVERIFY(dlg.queueList()->isVisible());
        QCOMPARE(dlg.queueList()->count(), 3);
        QVERIFY(!dlg.openButton()->isEnabled());
        // A drop during the queue is refused.
        drop(&dlg, {QUrl::fromLocalFile(a)});
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);

        QCOMPARE(head(here("one/a.jpg"), 3), kJpeg);
        QCOMPARE(head(here("two/b.jpg"), 3), kJpeg);
        QVERIFY(!QFile::exists(here("two/notes.jpg")));
        QVERIFY(dlg.queueList()->item(0)->text().contains("saved as a.jpg"));
        QVERIFY(dlg.queueList()->item(1)->text().contains("failed"));
        QVERIFY(dlg.queueList()->item(2)->text().contains("saved as b.jpg"));
        // One summary at the end, nothing in between.
        QCOMPARE(fake_.messages.size(), 1);
        QCOMPARE(fake_.messages[0].title, QString("Finished!"));
        QVERIFY2(fake_.messages[0].text.startsWith("2 of 3 sheets saved"),
                 qPrintable(fake_.messages[0].text));
        QVERIFY(fake_.messages[0].text.contains("notes.txt"));
        QVERIFY(fake_.actionMessages.isEmpty());
        // A saved one opens from the list.
        emit dlg.queueList()->itemActivated(dlg.queueList()->item(2));
        QCOMPARE(fake_.openedUrls, QList<QUrl>({QUrl::fromLocalFile(here("two/b.jpg"))}));
    }

    void aQueueAsksBeforeReplacingSheetsAndCanBeStopped() {
        QVERIFY(QDir().mkpath("one"));
        const QString a = makeMovie("one/a.avi");
        const QString b = makeMovie("one/b.avi");
        const QString c = makeMovie("one/c.avi");
        {
            QFile old(here("one/a.jpg"));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("the old sheet");
        }
        options_->rows = 1;
        options_->columns = 1;
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        fake_.answers.push_back(QMessageBox::No); // keep a.jpg
        QVERIFY(dlg.queueMovies({a, b}));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QVERIFY(fake_.messages[0].text.contains("a.jpg"));
        QCOMPARE(head(here("one/a.jpg"), 13), QByteArray("the old sheet"));
        QCOMPARE(head(here("one/b.jpg"), 3), kJpeg);
        QVERIFY(dlg.queueList()->item(0)->text().contains("skipped"));

        // Cancel asks for none of them.
        fake_.messages.clear();
        fake_.answers.push_back(QMessageBox::Cancel);
        QVERIFY(!dlg.queueMovies({a, b}));
        QVERIFY(!dlg.isWorking());

        // Stopped during its first movie, the queue makes none of the rest.
        QVERIFY(QFile::remove(here("one/b.jpg")));
        fake_.messages.clear();
        fake_.answers.push_back(QMessageBox::No);
        QVERIFY(dlg.queueMovies({b, c}));
        dlg.cancelCapture();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 60000);
        QVERIFY(!QFile::exists(here("one/c.jpg")));
        QVERIFY(dlg.queueList()->item(1)->text().contains("stopped"));
        QVERIFY(fake_.messages.last().text.contains("stopped"));
    }

    // ---- Pictures for the README -----------------------------------------

    // The main window half-way through a sheet, the finished message and the
    // settings with the frame choice, as PNG files under screens/ (with
    // @2x in the name when run at a device pixel ratio of 2).
    void pictures() {
        testmovies::MovieSpec wanted;
        wanted.path = here("Harbour at dusk.mp4").toStdString();
        wanted.width = 640;
        wanted.height = 360;
        wanted.frames = 400;
        wanted.gop = 25;
        wanted.pattern = testmovies::Pattern::Pleasant;
        std::string error;
        QCOMPARE(testmovies::make(wanted, &error), 0);
        options_->rows = 4;
        options_->columns = 4;

        WatchedDlg dlg(*options_, nullptr, fake_.seams());
        dlg.lockstep = true;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        open(dlg, QString::fromStdString(wanted.path));
        saveShot(&dlg, "main-dialog.png");
        bool grabbed = false;
        dlg.onPreview = [&](WatchedDlg& w) {
            if (!grabbed && w.preview()->momentsDone() >= 9) {
                grabbed = true;
                w.resize(w.width(), w.height()); // settle the layout first
                QCoreApplication::processEvents();
                saveShot(&w, "main-live.png");
            }
        };
        save(dlg, here("Harbour at dusk.jpg"));
        QVERIFY(grabbed);
        QCOMPARE(fake_.actionMessages.size(), 1);
        std::unique_ptr<QMessageBox> box =
            makeMessageBox(&dlg, fake_.actionMessages[0].request, fake_.actionMessages[0].actions);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        saveShot(box.get(), "finished.png");
        box->close();

        COptionsDlg settings(*options_, &dlg, fake_.seams());
        settings.setMovie(dlg.job().movie().facts, dlg.job().movie().infoText);
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        settings.findChild<QLineEdit*>("skipStart")->setText("5%");
        settings.findChild<QLineEdit*>("skipEnd")->setText("10s");
        settings.findChild<QCheckBox*>("avoidBlank")->setChecked(true);
        settings.findChild<QLineEdit*>("rows")->setFocus();
        saveShot(&settings, "settings-extras.png");
        settings.findChild<QLineEdit*>("frameWidth")->setText("0");
        saveShot(&settings, "settings-note.png");
    }

    // ---- Keyboard and assistive tools ------------------------------------

    void everyControlHasAnAccessibleName() {
        const QString movie = makeMovie("named.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        open(dlg, movie);
        COptionsDlg settings(*options_, &dlg, fake_.seams());
        settings.show();
        for (QWidget* top : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(&settings)}) {
            const QList<QWidget*> controls = focusable(top);
            QVERIFY(controls.size() >= 5);
            for (QWidget* w : controls) {
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
                QVERIFY(a);
                const QString name = a->text(QAccessible::Name);
                QVERIFY2(!name.isEmpty() && !name.contains('&'), qPrintable(describe(w)));
                if (qobject_cast<QLineEdit*>(w))
                    QVERIFY2(!a->text(QAccessible::Description).isEmpty(), qPrintable(describe(w)));
            }
        }
        QAccessibleInterface* details = QAccessible::queryAccessibleInterface(dlg.infoText());
        QCOMPARE(details->text(QAccessible::Name), QString("Details"));
        QVERIFY(details->text(QAccessible::Description).contains("File Name named.avi") ||
                details->text(QAccessible::Description).contains("File Name : named.avi"));
        auto name = [&](const char* object) {
            return QAccessible::queryAccessibleInterface(settings.findChild<QWidget*>(object))
                ->text(QAccessible::Name);
        };
        QCOMPARE(name("columns"), QString("Columns"));
        QCOMPARE(name("shadowIntensity"), QString("Shadow intensity"));
        QCOMPARE(name("quality"), QString("JPEG quality"));
        QCOMPARE(name("skipStart"), QString("Skip start"));
        QCOMPARE(name("swatch"), QString("Background colour"));
    }

    void mnemonicsOnEveryButtonAndLabel() {
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        COptionsDlg settings(*options_, &dlg, fake_.seams());
        for (QWidget* top : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(&settings)}) {
            std::set<QChar> used;
            for (QAbstractButton* b : top->findChildren<QAbstractButton*>()) {
                if (b->window() != top || b->text().isEmpty())
                    continue;
                const QChar m = mnemonicOf(b->text());
                QVERIFY2(!m.isNull(), qPrintable(describe(b)));
                QVERIFY2(used.insert(m).second, qPrintable(describe(b)));
            }
            for (QLabel* l : top->findChildren<QLabel*>()) {
                if (!l->buddy() || l->window() != top)
                    continue;
                const QChar m = mnemonicOf(l->text());
                QVERIFY2(!m.isNull(), qPrintable(describe(l)));
                QVERIFY2(used.insert(m).second, qPrintable(describe(l)));
            }
            for (QGroupBox* g : top->findChildren<QGroupBox*>()) {
                if (g->window() != top)
                    continue;
                const QChar m = mnemonicOf(g->title());
                if (!m.isNull())
                    QVERIFY2(used.insert(m).second, qPrintable(g->title()));
            }
        }
        // Every number box of the settings has its label.
        int labelled = 0;
        for (QLabel* l : settings.findChildren<QLabel*>())
            labelled += qobject_cast<QLineEdit*>(l->buddy()) != nullptr;
        QCOMPARE(labelled, 12);
        // Alt+letter reaches the box.
        settings.show();
        QVERIFY(QTest::qWaitForWindowActive(&settings));
        QTest::keyClick(&settings, Qt::Key_Y, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), settings.findChild<QWidget*>("spacingY"));
    }

    void layoutKeepsEveryTextWhole() {
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        COptionsDlg settings(*options_, nullptr, fake_.seams());
        dlg.show();
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        for (QWidget* top : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(&settings)}) {
            for (QWidget* w : top->findChildren<QWidget*>()) {
                if (!w->isVisibleTo(top) || w->window() != top)
                    continue;
                QVERIFY2(top->rect().contains(QRect(w->mapTo(top, QPoint(0, 0)), w->size())),
                         qPrintable(describe(w)));
                if (qobject_cast<QLabel*>(w) || qobject_cast<QPushButton*>(w))
                    QVERIFY2(w->width() >= w->minimumSizeHint().width(), qPrintable(describe(w)));
            }
        }
        auto* position = settings.findChild<QComboBox*>("position");
        position->setCurrentIndex(BottomRight);
        QVERIFY2(position->width() >= position->sizeHint().width(),
                 qPrintable(QString::number(position->width())));
        const QFontMetrics m(position->font());
        QVERIFY(position->width() > m.horizontalAdvance("Bottom Right"));
        for (QLineEdit* box : settings.findChildren<QLineEdit*>()) {
            const QFontMetrics bm(box->font());
            // Five digits with the frame and the margins around them.
            QVERIFY2(box->width() >= bm.horizontalAdvance("65535") + 12,
                     qPrintable(box->objectName()));
        }
    }
};

int runDesktopTests(int argc, char** argv) {
    DesktopTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "desktop_test.moc"
