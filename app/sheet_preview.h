#pragma once
// The sheet as it is being made, and once it is made, for the main window.
//
// `PreviewFeed` is the capture's SheetWatcher. On the capture thread it makes
// a small copy of the sheet (at most kMaxSide pixels on a side, so the cost
// does not grow with the sheet) and posts one event to its receiver; while
// that event waits, further moments are not copied, except the last, so a
// slow window gets fewer pictures, never a slower capture. The information
// block is drawn into every copy as the capture will draw it at the end, so
// the preview shows the sheet as it will be saved; the last copy is the whole
// sheet at its full size (when it is not huge), pixel for pixel what is
// written. The feed also keeps each cell's frame as it arrives (at the cell's
// size), so the sheet can be drawn again without the movie.
//
// `CSheetPreview` shows a picture of the sheet: fitted to the window, or at
// any zoom with scroll bars, panned by dragging. The picture may be smaller
// than the sheet (a preview of a large one); positions are counted in sheet
// pixels either way. Once the cells are known a click on one, or Enter on the
// current one, activates it.

#include <QAbstractScrollArea>
#include <QEvent>
#include <QImage>
#include <QList>
#include <QObject>
#include <QRect>

#include <mutex>
#include <vector>

#include "app/capture_job.h"
#include "app/sheet_composer.h"

class PreviewFeed : public SheetWatcher {
public:
    static constexpr int kMaxSide = 1024;
    // The largest sheet whose last picture is kept at its full size.
    static constexpr int64_t kMaxWholePixels = int64_t{64} << 20;
    // The type of the event posted to the receiver when a picture is ready.
    static QEvent::Type eventType();

    explicit PreviewFeed(QObject* receiver) : receiver_(receiver) {}

    void captureStarting(const CaptureInput& input, const Options& settings) override;
    void sheetPainted(const RasterImage& sheet) override;
    void frameArrived(int moment, const MediaTime& time, const RasterImage& frame) override;
    void momentDone(int moment, int moments, const RasterImage& sheet) override;

    struct Picture {
        QImage image;
        int momentsDone = 0; // cells with their frame in `image`
        int moments = 0;
        bool whole = false; // the finished sheet at its full size
    };
    // The newest picture (a null image when there is none); after it,
    // the next picture made is posted again.
    Picture take();
    // True while a posted picture waits to be taken.
    bool pending();

    // What the capture started last is made from, and where its cells lie
    // (valid from `captureStarting` on; `layoutKnown` false when the
    // capture will refuse its settings).
    const SheetPlan& plan() const { return plan_; }
    const SheetLayout& layout() const { return layout_; }
    bool layoutKnown() const { return layoutKnown_; }
    // After the capture's DONE: every cell's frame, or false when some were
    // not kept (a capture stopped or failed, a sheet too large to keep).
    // Cells without a frame come out as "no picture" at their moment.
    bool takeCells(std::vector<CellShot>& cells);

    // The sheet scaled down to fit `maxSide` (or copied when it fits), as a
    // top-down RGB picture. Each pixel averages up to 2 x 2 samples of the
    // area it covers. `patch`, when given, stands in for the sheet where it
    // lies (at `patchX`, `patchY`).
    static QImage shrink(const RasterImage& sheet, int maxSide = kMaxSide,
                         const RasterImage* patch = nullptr, int patchX = 0, int patchY = 0);

private:
    void offer(QImage image, int momentsDone, int moments, bool whole);

    QObject* receiver_;
    std::mutex mutex_;
    Picture latest_;
    bool posted_ = false; // an event is on its way and not yet taken

    // Written by `captureStarting` before the capture thread starts, read
    // by it afterwards, and by the user thread after the capture's DONE.
    SheetPlan plan_;
    SheetLayout layout_;
    bool layoutKnown_ = false;
    std::vector<int64_t> moments_;
    // The information block drawn on its piece of the painted sheet.
    RasterImage block_;
    int blockX_ = 0;
    int blockY_ = 0;
    std::vector<CellShot> cells_;
    bool keepCells_ = false;
};

class CSheetPreview : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CSheetPreview(QWidget* parent = nullptr);

    // A picture of the whole sheet, at its size or smaller.
    void setPicture(const QImage& image, int momentsDone, int moments);
    // The sheet's size and its cells, in sheet pixels; no cells: nothing to
    // click. Kept across pictures until `clear`.
    void setSheet(const QSize& sheetSize, const QList<QRect>& cells);
    // Whether a cell can be activated (the finished sheet's cells).
    void setCellsActive(bool active);
    bool cellsActive() const { return cellsActive_; }
    void clear();
    const QImage& image() const { return image_; }
    int momentsDone() const { return momentsDone_; }
    QSize sheetSize() const;
    // Where the picture is drawn inside the viewport.
    QRectF pictureRect() const;

    // Zoom: fitted to the viewport (never beyond one sheet pixel to a screen
    // pixel, so a small sheet stays sharp) or a share of the sheet's pixels
    // on the screen's, 1 being 100 %.
    bool fitting() const { return fit_; }
    double zoom() const; // the zoom in effect, also when fitting
    void fitToWindow();
    void setZoom(double zoom);
    void zoomIn();
    void zoomOut();
    static constexpr double kMinZoom = 1.0 / 32;
    static constexpr double kMaxZoom = 16;

    // The cell under a point of the viewport, or -1.
    int cellAt(const QPoint& viewportPoint) const;
    int currentCell() const { return current_; }
    void setCurrentCell(int index);
    QRect cellRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void cellActivated(int index);
    void zoomChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Screen (logical) pixels per sheet pixel.
    double scale() const;
    void updateScrollBars();
    // Zooms keeping the sheet point under `anchor` (viewport) where it is.
    void zoomAround(double zoom, const QPointF& anchor);
    void describe();

    QImage image_;
    int momentsDone_ = 0;
    int moments_ = 0;
    QSize sheetSize_;
    QList<QRect> cells_;
    bool cellsActive_ = false;
    int current_ = -1;
    bool fit_ = true;
    double zoom_ = 1;
    QPoint pressAt_;
    QPoint scrollAtPress_;
    bool pressed_ = false;
    bool dragging_ = false;
};
