#pragma once
// The sheet as it is being made, for the main window.
//
// `PreviewFeed` is the capture's SheetWatcher: on the capture thread it makes
// a small copy of the sheet (at most kMaxSide pixels on a side, so the cost
// does not grow with the sheet) and posts one event to its receiver; while
// that event waits, further moments are not copied, except the last, so a
// slow window gets fewer pictures, never a slower capture. The receiver takes
// the newest picture with `take` on its own thread.
//
// `CSheetPreview` shows a picture scaled to fit the widget, centred, sharp at
// any device pixel ratio.

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QWidget>

#include <mutex>

#include "app/capture_job.h"

class PreviewFeed : public SheetWatcher {
public:
    static constexpr int kMaxSide = 1024;
    // The type of the event posted to the receiver when a picture is ready.
    static QEvent::Type eventType();

    explicit PreviewFeed(QObject* receiver) : receiver_(receiver) {}

    void sheetPainted(const RasterImage& sheet) override;
    void momentDone(int moment, int moments, const RasterImage& sheet) override;

    struct Picture {
        QImage image;
        int momentsDone = 0; // cells with their frame in `image`
        int moments = 0;
    };
    // The newest picture (a null image when there is none); after it,
    // the next picture made is posted again.
    Picture take();
    // True while a posted picture waits to be taken.
    bool pending();

    // The sheet scaled down to fit kMaxSide (or copied when it fits), as a
    // top-down RGB picture. Each pixel averages up to 2 x 2 samples of the
    // area it covers.
    static QImage shrink(const RasterImage& sheet, int maxSide = kMaxSide);

private:
    void offer(QImage image, int momentsDone, int moments);

    QObject* receiver_;
    std::mutex mutex_;
    Picture latest_;
    bool posted_ = false; // an event is on its way and not yet taken
};

class CSheetPreview : public QWidget {
    Q_OBJECT
public:
    explicit CSheetPreview(QWidget* parent = nullptr);

    void setPicture(const QImage& image, int momentsDone, int moments);
    void clear();
    const QImage& image() const { return image_; }
    int momentsDone() const { return momentsDone_; }
    // Where the picture is drawn inside the widget.
    QRectF pictureRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    int momentsDone_ = 0;
    int moments_ = 0;
};
