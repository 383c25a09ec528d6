// Working with a finished sheet: a view that zooms and pans, a cell's frame
// seen large with its exact time, the movie opened there in a player, and a
// cell given another frame (a nudge) without capturing the sheet again. The
// sheet drawn from the kept frames is the one a capture makes.

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include <memory>

#include "app/frame_dlg.h"
#include "app/main_dlg.h"
#include "app/player.h"
#include "app/sheet_composer.h"
#include "app/sheet_preview.h"
#include "app/sheet_session.h"
#include "settings/options.h"
#include "tests/app/app_fixture.h"
#include "tests/app/test_seams.h"
#include "tests/app/window_case.h"
#include "tests/support/footage.h"
#include "tests/support/test_movies.h"

using apptest::here;
using apptest::makeMovie;
using apptest::saveShot;

namespace {

QImage rgb(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB888);
}

// The frame index the middle of a picture's rectangle shows.
int indexAt(const QImage& image, const QRect& r) {
    const QColor c = image.pixelColor(r.center());
    return testmovies::indexFromColor(static_cast<uint8_t>(c.red()),
                                      static_cast<uint8_t>(c.green()),
                                      static_cast<uint8_t>(c.blue()));
}

QRect rectOf(const CellRect& c) {
    return QRect(c.x, c.y, c.width, c.height);
}

// Every pixel outside `keep` is the same in both.
bool sameOutside(const QImage& a, const QImage& b, const QRect& keep) {
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (!keep.contains(x, y) && a.pixel(x, y) != b.pixel(x, y))
                return false;
    return true;
}

QImage toImage(const RasterImage& sheet) {
    return PreviewFeed::shrink(sheet, INT_MAX);
}

} // namespace

class SheetWorkTest : public QObject, protected apptest::WindowCase {
    Q_OBJECT
private:
    // Runs the frame window of `cell` and lets `play` drive it once its
    // first frame is there.
    void withFrame(CMainDlg& dlg, int cell, const std::function<void(CFrameDlg&)>& play) {
        bool ran = false;
        fake_.onDialog = [&](QDialog& d) {
            auto* frame = qobject_cast<CFrameDlg*>(&d);
            QVERIFY(frame);
            QTRY_VERIFY_WITH_TIMEOUT(!frame->busy() && frame->hasFrame(), 30000);
            ran = true;
            play(*frame);
        };
        dlg.showCell(cell);
        fake_.onDialog = nullptr;
        QVERIFY(ran);
    }

private slots:
    void init() { QVERIFY(begin()); }
    void cleanup() { end(); }

    // ---- The kept frames make the captured sheet -------------------------------

    void theKeptFramesMakeTheSheetTheCaptureMade_data() {
        QTest::addColumn<bool>("shadow");
        QTest::addColumn<bool>("stamps");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("header");
        QTest::addColumn<bool>("damaged");
        QTest::newRow("defaults") << true << true << int(TopLeft) << true << false;
        QTest::newRow("plain") << false << false << int(BottomLeft) << false << false;
        QTest::newRow("block bottom right") << true << false << int(BottomRight) << true << false;
        QTest::newRow("cells without a picture") << true << true << int(TopRight) << true << true;
    }
    void theKeptFramesMakeTheSheetTheCaptureMade() {
        QFETCH(bool, shadow);
        QFETCH(bool, stamps);
        QFETCH(int, position);
        QFETCH(bool, header);
        QFETCH(bool, damaged);
        options_->columns = 3;
        options_->rows = 3;
        options_->shadowEnabled = shadow;
        options_->timeStampsEnabled = stamps;
        options_->headerEnabled = header;
        options_->headerPosition = position;
        options_->backgroundColor = Rgb{30, 40, 70};
        QString movie;
        if (damaged) {
            testmovies::FootageSpec footage;
            footage.kind = testmovies::Footage::DamagedMiddle;
            movie = here("damaged.mov");
            std::string error;
            QCOMPARE(testmovies::makeFootage(footage, movie.toStdString(), &error), 0);
        } else {
            movie = makeMovie("kept.avi", 100);
        }
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        save(dlg, here("kept.png"));
        const SheetSession* session = dlg.session();
        QVERIFY(session);
        QCOMPARE(session->cells.size(), size_t{9});
        const int missing =
            static_cast<int>(std::count_if(session->cells.begin(), session->cells.end(),
                                           [](const CellShot& c) { return !c.found; }));
        QCOMPARE(missing > 0, damaged);

        RasterImage sheet;
        std::string error;
        QVERIFY2(composeSheet(session->plan, session->layout, session->cells, sheet, error),
                 error.c_str());
        QCOMPARE(toImage(sheet), rgb(QImage(here("kept.png"))));
    }

    // ---- The view ------------------------------------------------------------------

    void theSheetZoomsAndPans() {
        options_->columns = 6;
        options_->rows = 5;
        const QString movie = makeMovie("zoom.avi", 100);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.resize(700, 600);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        open(dlg, movie);
        save(dlg, here("zoom.png"));
        CSheetPreview* view = dlg.preview();
        const QSize sheet = QImage(here("zoom.png")).size();
        QCOMPARE(view->sheetSize(), sheet);
        QVERIFY(view->cellsActive());

        // Fitted: all of it in sight, smaller than its pixels.
        QVERIFY(view->fitting());
        QVERIFY(view->zoom() < 1.0);
        const QRectF fitted = view->pictureRect();
        QVERIFY(QRectF(view->viewport()->rect()).adjusted(-1, -1, 1, 1).contains(fitted));
        QCOMPARE(view->horizontalScrollBar()->maximum(), 0);

        // 100 %: a sheet pixel on a screen pixel, with scroll bars.
        view->setZoom(1.0);
        QVERIFY(!view->fitting());
        const qreal dpr = view->devicePixelRatioF();
        QCOMPARE(view->pictureRect().width() * dpr, double(sheet.width()));
        QVERIFY(view->horizontalScrollBar()->maximum() > 0);
        // The cells are where they are drawn.
        const SheetLayout& l = dlg.session()->layout;
        const CellRect c7 = l.cellAt(7);
        const QPointF centre = view->pictureRect().topLeft() +
                               QPointF(c7.x + c7.width / 2.0, c7.y + c7.height / 2.0) / dpr;
        QCOMPARE(view->cellAt(centre.toPoint()), 7);
        QCOMPARE(view->cellAt(view->pictureRect().topLeft().toPoint() + QPoint(1, 1)), -1);
        QCoreApplication::processEvents(); // the scroll bars come with the next layout
        saveShot(&dlg, "sheet-zoomed.png");

        // Zooming in keeps the point under the pointer where it is.
        const int before = view->horizontalScrollBar()->value();
        view->zoomIn();
        QVERIFY(view->zoom() > 1.0);
        QVERIFY(view->horizontalScrollBar()->value() > before);
        view->zoomOut();
        QCOMPARE(view->zoom(), 1.0);
        for (int i = 0; i < 40; ++i)
            view->zoomOut();
        QCOMPARE(view->zoom(), CSheetPreview::kMinZoom);

        // Dragging pans.
        view->setZoom(2.0);
        view->horizontalScrollBar()->setValue(100);
        view->verticalScrollBar()->setValue(100);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(200, 200));
        QTest::mouseMove(view->viewport(), QPoint(150, 170));
        QTest::mouseMove(view->viewport(), QPoint(120, 160));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(120, 160));
        QCOMPARE(view->horizontalScrollBar()->value(), 180);
        QCOMPARE(view->verticalScrollBar()->value(), 140);
        // A drag is no click: no frame window opened.
        QVERIFY(fake_.dialogsRun.isEmpty());

        // The View menu's Fit returns to the whole sheet.
        view->fitToWindow();
        QVERIFY(view->fitting());
        QCOMPARE(view->horizontalScrollBar()->maximum(), 0);

        // The keyboard chooses a cell and opens it.
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(view->currentCell(), 0);
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->currentCell(), 6);
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(view->currentCell(), 7);
        fake_.onDialog = [](QDialog&) {};
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(fake_.dialogsRun, QStringList{"frame"});
        QVERIFY(view->accessibleDescription().contains("Frame 8 of 30"));
    }

    // ---- A cell's frame, large -----------------------------------------------------

    void aClickedCellShowsItsFrameWithItsExactTime() {
        options_->columns = 2;
        options_->rows = 2;
        const QString movie = makeMovie("cells.avi", 50);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        open(dlg, movie);
        save(dlg, here("cells.png"));
        // 2 s, four moments a fifth apart: frames 10, 20, 30 and 40.
        const CellShot& shot = dlg.session()->cells[2];
        QCOMPARE(shot.time.units(), 12'000'000);

        bool shown = false;
        fake_.onDialog = [&](QDialog& d) {
            auto* frame = qobject_cast<CFrameDlg*>(&d);
            QVERIFY(frame);
            QTRY_VERIFY_WITH_TIMEOUT(frame->hasFrame(), 30000);
            shown = true;
            QCOMPARE(frame->shown().time.units(), shot.time.units());
            // At the size the movie is shown at, the frame the cell holds.
            QCOMPARE(frame->shown().full.width, 176);
            QCOMPARE(frame->shown().full.height, 144);
            const QImage full(frame->shown().full.rgb.data(), 176, 144, 176 * 3,
                              QImage::Format_RGB888);
            QCOMPARE(indexAt(full, full.rect()), 30);
            QVERIFY(frame->findChild<QLabel*>("time")->text().startsWith("00:00:01.200"));
            QVERIFY(!frame->findChild<QPushButton*>("use")->isEnabled()); // it is the cell's
            frame->copyTime();
            QCOMPARE(QApplication::clipboard()->text(), QString("00:00:01.200"));
        };
        // A click in the middle of the third cell.
        CSheetPreview* view = dlg.preview();
        const CellRect c = dlg.session()->layout.cellAt(2);
        const QPointF at =
            view->pictureRect().topLeft() + QPointF(c.x + c.width / 2.0, c.y + c.height / 2.0) *
                                                view->zoom() / view->devicePixelRatioF();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at.toPoint());
        QVERIFY(shown);
        QCOMPARE(fake_.dialogsRun, QStringList{"frame"});
    }

    void theMovieOpensAtTheFrameInAPlayer() {
        options_->columns = 2;
        options_->rows = 1;
        const QString movie = makeMovie("play.avi", 50);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        save(dlg, here("play.jpg"));
        fake_.player = player::Command{"/usr/bin/mpv", {"--hr-seek=yes"}, "mpv"};
        withFrame(dlg, 1, [&](CFrameDlg& f) {
            f.openInPlayer();
            QCOMPARE(fake_.started.size(), 1);
            // 2 s / 3 * 2 = 1.333 s: frame 34 at 1.36 s.
            QCOMPARE(fake_.started[0],
                     QStringList({"/usr/bin/mpv", "--hr-seek=yes", "--start=1.360", movie}));
            QVERIFY(fake_.openedUrls.isEmpty());
        });
        // Neither mpv nor VLC: the desktop's player, and a word that it
        // starts at the beginning.
        fake_.player = player::Command{};
        withFrame(dlg, 0, [&](CFrameDlg& f) {
            f.openInPlayer();
            QCOMPARE(fake_.openedUrls, QList<QUrl>{QUrl::fromLocalFile(movie)});
            QVERIFY(f.findChild<QLabel*>("status")->text().contains("at its start"));
        });
    }

    void aPlayerIsChosenAsTheDesktopWould() {
        const MediaTime t{1234567, 1, 1000000}; // 1.234567 s
        QCOMPARE(player::startSeconds(t), QString("1.234"));
        QCOMPARE(player::startSeconds(MediaTime{90, 1, 1}), QString("90.000"));
        QStringList installed;
        QString usual;
        player::Lookups lookups{
            [&](const QString& p) { return installed.contains(p) ? "/usr/bin/" + p : QString(); },
            [&](const QString&) { return usual; }};
        installed = {"mpv", "vlc"};
        usual = "vlc.desktop";
        player::Command c = player::commandFor("/m/a.mkv", t, lookups);
        QCOMPARE(c.name, QString("VLC"));
        QCOMPARE(c.arguments, QStringList({"--start-time=1.234", "/m/a.mkv"}));
        usual = "org.gnome.Totem.desktop";
        c = player::commandFor("/m/-a.mkv", t, lookups);
        QCOMPARE(c.program, QString("/usr/bin/mpv"));
        QCOMPARE(c.arguments, QStringList({"--start=1.234", "--hr-seek=yes", "--", "/m/-a.mkv"}));
        installed = {"vlc"};
        usual = "mpv.desktop"; // the usual one is gone
        QCOMPARE(player::commandFor("/m/a.mkv", t, lookups).name, QString("VLC"));
        installed.clear();
        QVERIFY(player::commandFor("/m/a.mkv", t, lookups).program.isEmpty());
    }

    void typedTimesAreRead() {
        int64_t u = 0;
        QVERIFY(CFrameDlg::parseTime("83.4", u));
        QCOMPARE(u, 834'000'000);
        QVERIFY(CFrameDlg::parseTime("1:23.4", u));
        QCOMPARE(u, 834'000'000);
        QVERIFY(CFrameDlg::parseTime(" 00:01:23.456 ", u));
        QCOMPARE(u, 834'560'000);
        QVERIFY(CFrameDlg::parseTime("2:00:00", u));
        QCOMPARE(u, 72'000'000'000);
        QVERIFY(CFrameDlg::parseTime("90s", u));
        QCOMPARE(u, 900'000'000);
        QVERIFY(CFrameDlg::parseTime("0,5", u));
        QCOMPARE(u, 5'000'000);
        for (const char* bad : {"", "abc", "1:75", "1:61:00", "-3", "1.2.3", "1:", "99999999999"})
            QVERIFY2(!CFrameDlg::parseTime(bad, u), bad);
        QCOMPARE(CFrameDlg::exactText(MediaTime{3723456, 1, 1000}), QString("01:02:03.456"));
    }

    // ---- A nudge -------------------------------------------------------------------

    void aNudgeChangesOneCellAndItsStampOnly() {
        options_->columns = 3;
        options_->rows = 2;
        const QString movie = makeMovie("nudge.avi", 100);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        open(dlg, movie);
        save(dlg, here("before.png"));
        const QImage before = rgb(QImage(here("before.png")));
        const SheetLayout l = dlg.session()->layout;
        // 4 s over 7 gaps: cell 4 at 2.857 s is frame 72 (2.88 s).
        QCOMPARE(indexAt(before, rectOf(l.cellAt(4))), 72);
        const int64_t decodedBefore = media::decodedFrameCount();

        withFrame(dlg, 4, [&](CFrameDlg& f) {
            QCOMPARE(f.shown().time.units(), 28'800'000);
            f.nextFrame();
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 29'200'000);
            f.previousFrame();
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            f.previousFrame();
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 28'400'000); // frame 71
            QVERIFY(f.findChild<QPushButton*>("use")->isEnabled());
            QVERIFY(!f.goTo("soon"));
            QVERIFY(f.findChild<QLabel*>("status")->text().contains("not a time"));
            QVERIFY(f.goTo("0:03.5"));
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 35'200'000); // frame 88 at 3.52 s
            f.previousFrame();
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 34'800'000); // frame 87
            saveShot(&f, "frame-large.png");
            f.useInSheet();
        });
        // The frames were read by the window's own reader; the sheet was
        // drawn again from what it kept, not captured.
        QVERIFY(media::decodedFrameCount() > decodedBefore);
        QVERIFY(dlg.session()->edited);
        QVERIFY(dlg.windowTitle().contains("frames chosen"));
        const QImage after = dlg.preview()->image();
        QCOMPARE(after.size(), before.size());
        const QRect cell = rectOf(l.cellAt(4));
        QCOMPARE(indexAt(after, cell), 87);
        QVERIFY(sameOutside(before, rgb(after), cell));
        // The stamp follows the frame: the cell's bottom rows differ from a
        // flat frame of index 87 (text is drawn there) and from before.
        QVERIFY(before.copy(cell) != rgb(after).copy(cell));
        saveShot(dlg.preview(), "sheet-nudged.png");

        // Save writes the sheet as it is shown, without a capture.
        const int64_t decodedBeforeSave = media::decodedFrameCount();
        fake_.paths.push_back(here("after.png"));
        dlg.saveButton()->click();
        QVERIFY(!dlg.isWorking());
        QCOMPARE(media::decodedFrameCount(), decodedBeforeSave);
        QCOMPARE(rgb(QImage(here("after.png"))), rgb(after));
        QCOMPARE(fake_.actionMessages.size(), 2);
        QVERIFY(fake_.actionMessages.last().request.text.contains("after.png"));

        // The nudged sheet is what the cells now say: drawn anew, the same.
        RasterImage again;
        std::string error;
        QVERIFY(composeSheet(dlg.session()->plan, l, dlg.session()->cells, again, error));
        QCOMPARE(toImage(again), rgb(after));
    }

    // ---- Re-layout -------------------------------------------------------------------

    void aNewLookIsDrawnFromTheKeptFramesAsAFreshCaptureMakesIt() {
        options_->columns = 2;
        options_->rows = 3;
        const QString movie = makeMovie("look.avi", 100);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        open(dlg, movie);
        save(dlg, here("first.png"));
        // A nudge first: a frame chosen by hand stays in its cell.
        CellShot chosen;
        withFrame(dlg, 1, [&](CFrameDlg& f) {
            f.nextFrame();
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            f.useInSheet();
            chosen = dlg.session()->cells[1];
        });
        QVERIFY(chosen.found);

        // Three columns of two rows hold the same six moments; the rest is
        // the look. Nothing is decoded for it.
        options_->columns = 3;
        options_->rows = 2;
        options_->spacingX = 14;
        options_->shadowEnabled = 0;
        options_->backgroundColor = Rgb{250, 240, 200};
        options_->headerPosition = BottomRight;
        const int64_t decoded = media::decodedFrameCount();
        QVERIFY(dlg.relayout());
        QCOMPARE(media::decodedFrameCount(), decoded);
        const SheetSession* session = dlg.session();
        QVERIFY(session && session->edited);
        QCOMPARE(session->layout.columns, 3);
        QCOMPARE(session->cells[1].time.units(), chosen.time.units());
        const QImage relaid = rgb(dlg.preview()->image());
        QCOMPARE(relaid.size(), QSize(session->layout.sheetWidth, session->layout.sheetHeight));
        saveShot(dlg.preview(), "sheet-relaid.png");

        // Save writes it as shown, without decoding.
        fake_.paths.push_back(here("relaid.png"));
        dlg.saveButton()->click();
        QCOMPARE(media::decodedFrameCount(), decoded);
        QCOMPARE(rgb(QImage(here("relaid.png"))), relaid);

        // Without the hand-chosen frame it is a fresh capture's sheet, byte
        // for byte.
        CMainDlg fresh(*options_, nullptr, fake_.seams());
        open(fresh, movie);
        save(fresh, here("fresh.png"));
        std::vector<CellShot> captured = dlg.session()->cells;
        captured[1] = fresh.session()->cells[1];
        RasterImage sheet;
        std::string error;
        QVERIFY(composeSheet(dlg.session()->plan, dlg.session()->layout, captured, sheet, error));
        QCOMPARE(toImage(sheet), rgb(QImage(here("fresh.png"))));
        // And the whole relaid sheet differs from it in the chosen cell only.
        QVERIFY(sameOutside(relaid, rgb(QImage(here("fresh.png"))),
                            rectOf(dlg.session()->layout.cellAt(1))));
    }

    void aCaptureOfOtherMomentsDecodesOnlyTheNewOnes() {
        options_->columns = 5;
        options_->rows = 1;
        // 4.8 s: five moments 0.8 s apart, then eleven 0.4 s apart, every
        // other one of them one of the five.
        const QString movie = makeMovie("again.avi", 120);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        open(dlg, movie);
        save(dlg, here("five.png"));
        const std::vector<CellShot> five = dlg.session()->cells;
        // A frame chosen by hand is not taken for its moment.
        withFrame(dlg, 4, [&](CFrameDlg& f) {
            f.nextFrame();
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            f.useInSheet();
        });

        options_->columns = 11;
        QVERIFY(!dlg.relayout());
        int64_t decoded = media::decodedFrameCount();
        save(dlg, here("eleven.png"));
        const int64_t withKept = media::decodedFrameCount() - decoded;
        const std::vector<CellShot> eleven = dlg.session()->cells;
        QCOMPARE(eleven.size(), size_t{11});
        for (size_t k = 0; k < 4; ++k) {
            QCOMPARE(eleven[2 * k + 1].moment, five[k].moment);
            QCOMPARE(eleven[2 * k + 1].time.units(), five[k].time.units());
            QVERIFY(!eleven[2 * k + 1].byHand);
        }
        QCOMPARE(eleven[9].time.units(), five[4].time.units()); // found again, not the nudge
        QCOMPARE(rgb(dlg.preview()->image()), rgb(QImage(here("eleven.png"))));

        // A capture with nothing at hand: the same sheet, byte for byte,
        // from more decoding.
        CMainDlg fresh(*options_, nullptr, fake_.seams());
        open(fresh, movie);
        decoded = media::decodedFrameCount();
        save(fresh, here("fresh.png"));
        const int64_t alone = media::decodedFrameCount() - decoded;
        QCOMPARE(rgb(QImage(here("eleven.png"))), rgb(QImage(here("fresh.png"))));
        QVERIFY2(withKept < alone, qPrintable(QStringLiteral("%1 frames decoded with the kept "
                                                             "ones, %2 without")
                                                  .arg(withKept)
                                                  .arg(alone)));
        qInfo("frames decoded: %lld with the kept frames, %lld without",
              static_cast<long long>(withKept), static_cast<long long>(alone));
    }

    void aLookThatWantsOtherFramesLeavesTheSheetToSave() {
        options_->columns = 2;
        options_->rows = 2;
        const QString movie = makeMovie("more.avi", 60);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        dlg.show();
        open(dlg, movie);
        save(dlg, here("four.png"));
        QVERIFY(dlg.preview()->isVisible());
        // Another row: other moments. Larger frames: another size.
        for (auto change :
             {+[](Options& o) { o.rows = 3; }, +[](Options& o) { o.frameHeight = 200; }}) {
            Options settings = *options_;
            change(*options_);
            QVERIFY(!dlg.relayout());
            QVERIFY(!dlg.session());
            QVERIFY(!dlg.preview()->isVisible());
            QVERIFY(dlg.hint()->isVisible());
            // Save captures anew, with the new settings.
            save(dlg, here("anew.png"));
            QVERIFY(dlg.session());
            QCOMPARE(QImage(here("anew.png")).size(),
                     QSize(dlg.session()->layout.sheetWidth, dlg.session()->layout.sheetHeight));
            *options_ = settings;
            QVERIFY(QFile::remove(here("anew.png")));
            save(dlg, here("anew.png"));
        }
        // Settings no sheet can be made with leave it too.
        options_->frameWidth = 0;
        QVERIFY(!dlg.relayout());
        QVERIFY(!dlg.session());
    }

    void steppingPastEitherEndKeepsTheFrameShown() {
        options_->columns = 1;
        options_->rows = 1;
        const QString movie = makeMovie("edge.avi", 50);
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        save(dlg, here("edge.png"));
        withFrame(dlg, 0, [&](CFrameDlg& f) {
            QVERIFY(f.goTo("0"));
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 0);
            f.previousFrame();
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 0);
            QVERIFY(f.findChild<QLabel*>("status")->text().contains("no frame there"));
            // Past the end: the last frame, and nothing after it.
            QVERIFY(f.goTo("99"));
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 19'600'000);
            f.nextFrame();
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 19'600'000);
            QVERIFY(f.findChild<QLabel*>("status")->text().contains("no frame there"));
        });
    }

    // ---- Key-frame steps -----------------------------------------------------------

    void keyFrameStepsLandOnKeyFramesByTheirOwnTimes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("gop");
        QTest::addColumn<int>("bFrames");
        // The MP4 index counts key frames by decoding time, two frames
        // before they are shown; Matroska by the time shown; a transport
        // stream has no index and is read through for them.
        QTest::newRow("mp4 with B-frames") << "keys.mp4"
                                           << ""
                                           << "libx264" << 10 << 2;
        QTest::newRow("mkv with B-frames") << "keys.mkv"
                                           << ""
                                           << "libx264" << 10 << 2;
        QTest::newRow("ts with B-frames") << "keys.ts"
                                          << "mpegts"
                                          << "libx264" << 10 << 2;
        QTest::newRow("avi") << "keys.avi"
                             << ""
                             << "" << 12 << 0;
    }

    void keyFrameStepsLandOnKeyFramesByTheirOwnTimes() {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QString, codec);
        QFETCH(int, gop);
        QFETCH(int, bFrames);
        testmovies::MovieSpec spec;
        spec.path = QDir::current().absoluteFilePath(name).toStdString();
        spec.container = container.toStdString();
        spec.codec = codec.toStdString();
        spec.frames = 60;
        spec.gop = gop;
        spec.bFrames = bFrames;
        std::string error;
        QVERIFY2(testmovies::make(spec, &error) == 0, error.c_str());
        std::unique_ptr<media::MovieReader> reader;
        QVERIFY(media::MovieReader::open(spec.path, nullptr, &reader).ok());

        constexpr int64_t kFrame = 400'000; // 25 fps in 100-ns units
        const int lastKey = (59 / gop) * gop;
        // The frame a step from frame `from` lands on, by its time and by
        // the colour of its picture; -1 for none.
        const auto step = [&](FrameQuery::Kind kind, int from) {
            FrameQuery q;
            q.kind = kind;
            q.time = MediaTime::fromUnits(from * kFrame);
            q.width = 32;
            q.height = 24;
            const FetchedFrame got = FrameFetcher::run(*reader, q);
            if (!got.status.ok()) {
                qWarning("%s", got.status.text().c_str());
                return -2;
            }
            if (!got.found)
                return -1;
            const int byTime = static_cast<int>(got.time.units() / kFrame);
            const int byPicture = testmovies::indexFromRgb(got.full.rgb.data(), got.full.width * 3,
                                                           0, 0, got.full.width, got.full.height);
            const int byCell = testmovies::indexFromRgb(got.cell.rgb.data(), got.cell.width * 3, 0,
                                                        0, got.cell.width, got.cell.height);
            return byTime == byPicture && byTime == byCell && got.time.units() == byTime * kFrame
                       ? byTime
                       : -3;
        };
        using K = FrameQuery::Kind;
        QCOMPARE(step(K::NextKey, 0), gop);
        QCOMPARE(step(K::PreviousKey, 0), -1);
        // Just before a key frame, whose index place may lie before the
        // frame stepped from.
        QCOMPARE(step(K::NextKey, gop - 1), gop);
        QCOMPARE(step(K::NextKey, gop), 2 * gop);
        QCOMPARE(step(K::PreviousKey, gop), 0);
        QCOMPARE(step(K::PreviousKey, gop + 1), gop);
        QCOMPARE(step(K::PreviousKey, 2 * gop - 1), gop);
        QCOMPARE(step(K::NextKey, lastKey), -1);
        QCOMPARE(step(K::PreviousKey, 59), lastKey);
    }

    void shiftAndTheArrowsStepThroughKeyFrames() {
        options_->columns = 1;
        options_->rows = 1;
        const QString movie = makeMovie("shift.avi", 50); // a key frame every 12
        CMainDlg dlg(*options_, nullptr, fake_.seams());
        open(dlg, movie);
        save(dlg, here("shift.png"));
        withFrame(dlg, 0, [&](CFrameDlg& f) {
            QCOMPARE(f.shown().time.units(), 10'000'000); // frame 25, the middle
            QTest::keyClick(&f, Qt::Key_Right, Qt::ShiftModifier);
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 36 * 400'000);
            QTest::keyClick(&f, Qt::Key_Left, Qt::ShiftModifier);
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 24 * 400'000);
            f.findChild<QPushButton*>("previousKey")->click();
            QTRY_VERIFY_WITH_TIMEOUT(!f.busy(), 30000);
            QCOMPARE(f.shown().time.units(), 12 * 400'000);
            // The frame shown can go into the cell like any other.
            QVERIFY(f.findChild<QPushButton*>("use")->isEnabled());
            saveShot(&f, "frame-key-steps.png");
        });
    }
};

int runSheetWorkTests(int argc, char** argv) {
    SheetWorkTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "sheet_work_test.moc"
