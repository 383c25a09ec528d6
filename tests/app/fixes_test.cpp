// What a first user of the desktop program found wrong: a preview without the
// information block, recent names that lose their "&" or cover the screen,
// controls that assistive tools name by their value or call "filler", and a
// Show in Folder that does not point at the sheet.

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <memory>

#include "app/about.h"
#include "app/file_manager.h"
#include "app/frame_dlg.h"
#include "app/info_text.h"
#include "app/main_dlg.h"
#include "app/options_dlg.h"
#include "app/queue_dlg.h"
#include "app/sheet_preview.h"
#include "app/user_settings.h"
#include "settings/options.h"
#include "tests/app/app_fixture.h"
#include "tests/app/test_seams.h"
#include "tests/app/window_case.h"

using apptest::here;
using apptest::makeMovie;

namespace {

QImage rgb(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB888);
}

// A file manager on a private bus that records what it was asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) {
        (void)startupId;
        shown << uris;
    }
};

// A session bus of the test's own, so no desktop's file manager is touched.
class PrivateBus {
public:
    PrivateBus() {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                              QStringLiteral("--print-address=1")});
        daemon_.start();
        if (!daemon_.waitForStarted(5000))
            return;
        for (int i = 0; i < 50 && address_.isEmpty(); ++i) {
            daemon_.waitForReadyRead(100);
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        }
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(QStringLiteral("fm-server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fm-client"));
        daemon_.kill();
        daemon_.waitForFinished(3000);
    }
    bool valid() const { return !address_.isEmpty(); }
    QDBusConnection connect(const QString& name) {
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
};

// The main window with every picture it was shown. Each moment waits until
// the window has taken the pictures before it, so none is passed over.
class RecordingDlg : public CMainDlg {
public:
    using CMainDlg::CMainDlg;
    QList<QImage> shots;
    int firstDone = -1;

    void post(uint32_t message, intptr_t wParam, intptr_t lParam) override {
        if (message == ui::WM_CAPTURE_STEP) {
            for (int i = 0; i < 2000 && previewFeed()->pending(); ++i)
                QThread::msleep(5);
        }
        CMainDlg::post(message, wParam, lParam);
    }

protected:
    bool event(QEvent* e) override {
        const bool isPicture = e->type() == PreviewFeed::eventType();
        const bool handled = CMainDlg::event(e);
        if (isPicture) {
            if (shots.isEmpty())
                firstDone = preview()->momentsDone();
            shots << preview()->image().copy();
        }
        return handled;
    }
};

} // namespace

class FixesTest : public QObject, protected apptest::WindowCase {
    Q_OBJECT
private slots:
    void init() { QVERIFY(begin()); }
    void cleanup() { end(); }

    // ---- The preview is the sheet -------------------------------------------

    // The finished preview is the saved sheet, information block and all,
    // in every corner the block can take, small sheets and ones wider than
    // the live preview's copies.
    void thePreviewEndsAsTheSavedSheet_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("name");
        QTest::newRow("top left, png") << int(TopLeft) << 3 << "sheet.png";
        QTest::newRow("bottom right, bmp") << int(BottomRight) << 2 << "sheet.bmp";
        QTest::newRow("top right, wider than a live copy")
            << int(TopRight) << 8 << "wide.png"; // 8 x 166 + 10 = 1338 pixels
    }
    void thePreviewEndsAsTheSavedSheet() {
        QFETCH(int, position);
        QFETCH(int, columns);
        QFETCH(QString, name);
        options_->columns = columns;
        options_->rows = 2;
        options_->headerEnabled = 1;
        options_->headerPosition = position;
        const QString movie = makeMovie("block.avi", 60);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        open(dlg, movie);
        save(dlg, here(name));
        const QImage saved(here(name));
        QVERIFY(!saved.isNull());
        QCOMPARE(dlg.preview()->image().size(), saved.size());
        QCOMPARE(rgb(dlg.preview()->image()), rgb(saved));
        // The block is there: the sheet's area of it is not all background.
        const SheetLayout& l = dlg.previewFeed()->layout();
        QVERIFY(l.textWidth > 0 && l.textHeight > 0);
        const QRgb background = saved.pixel(l.headerX + l.textWidth - 1, l.headerY);
        int ink = 0;
        for (int y = l.headerY; y < l.headerY + l.textHeight; ++y)
            for (int x = l.headerX; x < l.headerX + l.textWidth; ++x)
                ink += saved.pixel(x, y) != background;
        QVERIFY2(ink > 200, qPrintable(QString::number(ink)));
    }

    // While the sheet grows, the block is already where it will be.
    void theLivePreviewShowsTheBlockFromTheStart() {
        options_->columns = 2;
        options_->rows = 2;
        options_->headerEnabled = 1;
        options_->headerPosition = BottomLeft;
        const QString movie = makeMovie("early.avi", 60);
        RecordingDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        save(dlg, here("early.png"));
        QVERIFY(dlg.shots.size() >= 2);
        QCOMPARE(dlg.firstDone, 0); // the painted sheet, before any frame
        const QImage saved(here("early.png"));
        const SheetLayout& l = dlg.previewFeed()->layout();
        const QRect block(l.headerX, l.headerY, l.textWidth, l.textHeight);
        QCOMPARE(rgb(dlg.shots.front()).copy(block), rgb(saved).copy(block));
    }

    // ---- Open Recent --------------------------------------------------------

    void recentNamesKeepTheirAmpersandsAndAccents() {
        const QString name = QString::fromUtf8("café & «été» à l’île.mp4");
        QCOMPARE(CMainDlg::recentLabel(1, "/films/" + name, QFontMetrics(QFont())),
                 QString::fromUtf8("&1 café && «été» à l’île.mp4"));
        QCOMPARE(CMainDlg::recentLabel(10, "/a & b.mkv", QFontMetrics(QFont())),
                 QString("a && b.mkv"));
    }

    void aLongRecentNameIsCutInTheMiddle() {
        // 150 characters, accents and an ampersand among them.
        QString name = QString::fromUtf8("Été à Paris & ");
        while (name.size() < 146)
            name += QString::fromUtf8("épisode-");
        name = name.left(146) + ".mkv";
        QCOMPARE(name.size(), 150);
        {
            QFile f(here(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        UserSettings().addRecentMovie(here(name));
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        emit dlg.recentMenu()->aboutToShow();
        QAction* entry = dlg.recentMenu()->actions().at(0);
        const QString label = entry->text();
        QVERIFY2(label.startsWith(QString::fromUtf8("&1 Été à Paris && ")), qPrintable(label));
        QVERIFY2(label.endsWith(".mkv") && label.contains(QChar(0x2026)), qPrintable(label));
        QVERIFY(label.size() < 80);
        // The whole path is the tooltip, and shown as one.
        QCOMPARE(entry->toolTip(), QDir::toNativeSeparators(here(name)));
        QVERIFY(dlg.recentMenu()->toolTipsVisible());
        // The menu stays narrow: well within half of a 1600-pixel screen,
        // so at twice the scale it still leaves the File menu in sight.
        QVERIFY2(dlg.recentMenu()->sizeHint().width() < 600,
                 qPrintable(QString::number(dlg.recentMenu()->sizeHint().width())));
        // It opens the movie it names.
        entry->trigger();
        QVERIFY(dlg.isWorking());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isWorking(), 30000);
        QCOMPARE(fake_.messages.size(), 1); // not a movie: an empty file
        QVERIFY(fake_.messages[0].text.contains(name));
    }

    // ---- Assistive tools ------------------------------------------------------

    // The windows that came with the sheet view: the queue's question, a
    // frame seen large, About and Help.
    void theNewWindowsNameTheirControlsToo() {
        const QString movie = makeMovie("seen.avi");
        CQueueDlg queue(QueueOutput{}, 3);
        CAboutDlg about;
        CHelpDlg help;
        CFrameDlg::Cell cell;
        cell.movie = movie;
        cell.cells = 1;
        cell.shot.moment = 10'000'000;
        cell.width = 88;
        cell.height = 72;
        CFrameDlg frame(cell, fake_.seams());
        QTRY_VERIFY_WITH_TIMEOUT(frame.hasFrame() && !frame.busy(), 30000);
        for (QDialog* top : std::initializer_list<QDialog*>{&queue, &about, &help, &frame}) {
            top->show();
            QVERIFY(QTest::qWaitForWindowExposed(top));
            int checked = 0;
            for (QWidget* w : top->findChildren<QWidget*>()) {
                if (!w->isVisibleTo(top) ||
                    !((w->focusPolicy() & Qt::TabFocus) || qobject_cast<QLabel*>(w)))
                    continue;
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
                const QString what =
                    QStringLiteral("%1 %2 in %3")
                        .arg(w->metaObject()->className(), w->objectName(), top->objectName());
                QVERIFY2(a->role() != QAccessible::Client, qPrintable(what));
                const QString name = a->text(QAccessible::Name);
                QVERIFY2(!name.isEmpty() && !name.contains('&'), qPrintable(what));
                ++checked;
            }
            QVERIFY2(checked >= 2, qPrintable(top->objectName()));
        }
        QCOMPARE(
            QAccessible::queryAccessibleInterface(frame.findChild<QWidget*>("picture"))->role(),
            QAccessible::Graphic);
    }

    void everyControlHasItsNameAndRole() {
        const QString movie = makeMovie("named.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        open(dlg, movie);
        save(dlg, here("named.jpg"));
        COptionsDlg settings(*options_, &dlg, fake_.seams());
        settings.show();
        int checked = 0;
        for (QWidget* top : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(&settings)}) {
            for (QWidget* w : top->findChildren<QWidget*>()) {
                if (!w->isVisibleTo(top) || w->window() != top)
                    continue;
                const bool control = (w->focusPolicy() & Qt::TabFocus) ||
                                     qobject_cast<QLabel*>(w) || qobject_cast<QProgressBar*>(w);
                if (!control)
                    continue;
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
                QVERIFY(a);
                const QString what =
                    QStringLiteral("%1 %2").arg(w->metaObject()->className(), w->objectName());
                // "Client" is what AT-SPI reads as "filler".
                QVERIFY2(a->role() != QAccessible::Client, qPrintable(what));
                const QString name = a->text(QAccessible::Name);
                QVERIFY2(!name.isEmpty() && !name.contains('&'), qPrintable(what));
                if (auto* box = qobject_cast<QComboBox*>(w)) {
                    // Its name, not the entry it shows.
                    QVERIFY2(name != box->currentText(),
                             qPrintable(what + " " + name + "/" + box->currentText()));
                    QCOMPARE(a->text(QAccessible::Value), box->currentText());
                }
                ++checked;
            }
        }
        QVERIFY(checked >= 30);

        auto* position = settings.findChild<QComboBox*>("position");
        position->setCurrentIndex(TopLeft);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(position);
        QCOMPARE(a->role(), QAccessible::ComboBox);
        QCOMPARE(a->text(QAccessible::Name), QString("Position"));
        QCOMPARE(a->text(QAccessible::Value), QString("Top Left"));
        QCOMPARE(a->childCount(), 1); // its list, readable without opening it
        QVERIFY(a->actionInterface() && a->actionInterface()->actionNames().contains(
                                            QAccessibleActionInterface::showMenuAction()));

        QAccessibleInterface* details = QAccessible::queryAccessibleInterface(dlg.infoText());
        QCOMPARE(details->role(), QAccessible::EditableText);
        QVERIFY(details->state().readOnly && details->state().multiLine);
        QCOMPARE(details->text(QAccessible::Name), QString("Details"));
        QAccessibleTextInterface* text = details->textInterface();
        QVERIFY(text);
        QCOMPARE(text->text(0, text->characterCount()), dlg.infoText()->plainText());
        QVERIFY(text->text(0, -1).contains("named.avi"));

        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(dlg.preview());
        QCOMPARE(view->role(), QAccessible::Graphic);
        QCOMPARE(view->text(QAccessible::Name), QString("Sheet"));
    }

    // ---- Show in Folder --------------------------------------------------------

    void showInFolderSelectsTheSheetOrOpensItsFolder() {
        options_->columns = 1;
        options_->rows = 1;
        const QString movie = makeMovie("shown.avi");
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        // A file manager takes it: the sheet is shown selected, no folder
        // is opened besides.
        fake_.revealed = true;
        fake_.actions.push_back(1);
        save(dlg, here("shown.jpg"));
        QCOMPARE(fake_.revealedFiles, QStringList{here("shown.jpg")});
        QVERIFY(fake_.openedUrls.isEmpty());
        // None does: the folder opens.
        fake_.revealed = false;
        fake_.actions.push_back(1);
        fake_.answers.push_back(QMessageBox::Yes); // replace
        save(dlg, here("shown.jpg"));
        QCOMPARE(fake_.revealedFiles.size(), 2);
        QCOMPARE(fake_.openedUrls, QList<QUrl>{QUrl::fromLocalFile(QDir::currentPath())});
    }

    void showItemsReachesTheFileManagerOverDBus() {
        PrivateBus bus;
        if (!bus.valid())
            QSKIP("dbus-daemon cannot be started here");
        QDBusConnection server = bus.connect(QStringLiteral("fm-server"));
        QDBusConnection client = bus.connect(QStringLiteral("fm-client"));
        QVERIFY(server.isConnected() && client.isConnected());

        // No file manager on the bus: the answer is no, soon.
        QObject context;
        int answers = 0;
        bool shown = true;
        const QString file = here("a b&c é.jpg");
        filemanager::showItem(client, file, &context, [&](bool s) {
            ++answers;
            shown = s;
        });
        QTRY_COMPARE_WITH_TIMEOUT(answers, 1, 5000);
        QVERIFY(!shown);

        FakeFileManager manager;
        QVERIFY(
            server.registerObject(filemanager::kPath, &manager, QDBusConnection::ExportAllSlots));
        QVERIFY(server.registerService(filemanager::kService));
        filemanager::showItem(client, file, &context, [&](bool s) {
            ++answers;
            shown = s;
        });
        QTRY_COMPARE_WITH_TIMEOUT(answers, 2, 5000);
        QVERIFY(shown);
        // One URI, the file's own, with its spaces and accents encoded.
        QCOMPARE(manager.shown.size(), 1);
        QCOMPARE(QUrl(manager.shown[0]).toLocalFile(), file);
        QVERIFY(manager.shown[0].startsWith("file:///") && !manager.shown[0].contains(' '));

        // A window gone before the answer hears nothing.
        bool heard = false;
        {
            QObject gone;
            filemanager::showItem(client, file, &gone, [&](bool) { heard = true; });
        }
        QTest::qWait(200);
        QVERIFY(!heard);
    }
};

int runFixesTests(int argc, char** argv) {
    FixesTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "fixes_test.moc"
