#include "app/sheet_preview.h"

#include <QCoreApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/raster_image.h"

QEvent::Type PreviewFeed::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QImage PreviewFeed::shrink(const RasterImage& sheet, int maxSide) {
    const int sw = sheet.width();
    const int sh = sheet.height();
    if (sw <= 0 || sh <= 0 || !sheet.hasPixels())
        return {};
    const double factor = std::max(1.0, static_cast<double>(std::max(sw, sh)) / maxSide);
    const int dw = std::max(1, static_cast<int>(sw / factor));
    const int dh = std::max(1, static_cast<int>(sh / factor));
    if (dw == sw && dh == sh) {
        // It fits: the sheet's rows are Qt's RGB888 already. A copy, since
        // the capture goes on painting the sheet.
        const QImage view(sheet.row(0), sw, sh, sheet.stride(), QImage::Format_RGB888);
        return view.copy();
    }
    QImage out(dw, dh, QImage::Format_RGB888);
    if (out.isNull())
        return {};
    const auto sourceRow = [&](int y) { return sheet.row(y); };
    // Two samples a side where a pixel covers two or more sheet pixels,
    // one (the nearest) otherwise: enough to keep thin text and edges from
    // flickering, and never more than four reads a pixel.
    const bool two = factor >= 2.0;
    const double fx = static_cast<double>(sw) / dw;
    const double fy = static_cast<double>(sh) / dh;
    auto sample = [two](int i, double f, int limit, double at) {
        return std::min(limit - 1, static_cast<int>((i + (two ? at : 0.5)) * f));
    };
    // Byte offsets of the two sample columns of every output column.
    std::vector<int> left(static_cast<size_t>(dw)), right(static_cast<size_t>(dw));
    for (int x = 0; x < dw; ++x) {
        left[static_cast<size_t>(x)] = 3 * sample(x, fx, sw, 0.25);
        right[static_cast<size_t>(x)] = 3 * sample(x, fx, sw, 0.75);
    }
    for (int y = 0; y < dh; ++y) {
        uchar* dst = out.scanLine(y);
        const uint8_t* r0 = sourceRow(sample(y, fy, sh, 0.25));
        const uint8_t* r1 = sourceRow(sample(y, fy, sh, 0.75));
        for (int x = 0; x < dw; ++x, dst += 3) {
            const uint8_t* a = r0 + left[static_cast<size_t>(x)];
            const uint8_t* b = r0 + right[static_cast<size_t>(x)];
            const uint8_t* c = r1 + left[static_cast<size_t>(x)];
            const uint8_t* d = r1 + right[static_cast<size_t>(x)];
            for (int k = 0; k < 3; ++k)
                dst[k] = static_cast<uchar>((a[k] + b[k] + c[k] + d[k] + 2) / 4);
        }
    }
    return out;
}

void PreviewFeed::offer(QImage image, int momentsDone, int moments) {
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = Picture{std::move(image), momentsDone, moments};
        post = !posted_;
        posted_ = true;
    }
    if (post)
        QCoreApplication::postEvent(receiver_, new QEvent(eventType()));
}

void PreviewFeed::sheetPainted(const RasterImage& sheet) {
    {
        // A new capture: whatever the last one left is not news.
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = Picture{};
    }
    offer(shrink(sheet), 0, 0);
}

void PreviewFeed::momentDone(int moment, int moments, const RasterImage& sheet) {
    const bool last = moment + 1 >= moments;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The window has not taken the last picture yet: it would see only
        // the newest anyway, so this one is not worth the copy. The last
        // moment is always copied, so the window ends with the whole sheet.
        if (posted_ && !last)
            return;
    }
    offer(shrink(sheet), moment + 1, moments);
}

bool PreviewFeed::pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
}

PreviewFeed::Picture PreviewFeed::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_ = false;
    return latest_;
}

CSheetPreview::CSheetPreview(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName(tr("Sheet preview"));
}

void CSheetPreview::setPicture(const QImage& image, int momentsDone, int moments) {
    const bool newShape = image.size() != image_.size();
    image_ = image;
    momentsDone_ = momentsDone;
    moments_ = moments;
    setAccessibleDescription(moments > 0 ? tr("%1 of %2 frames").arg(momentsDone).arg(moments)
                                         : QString());
    if (newShape)
        updateGeometry();
    update();
}

void CSheetPreview::clear() {
    setPicture(QImage(), 0, 0);
}

QRectF CSheetPreview::pictureRect() const {
    if (image_.isNull() || width() <= 0 || height() <= 0)
        return {};
    const QSizeF fitted = QSizeF(image_.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    // Never larger than the picture itself, in device pixels: a small sheet
    // stays crisp instead of being blown up.
    const qreal dpr = devicePixelRatioF();
    QSizeF shown = fitted;
    if (fitted.width() * dpr > image_.width())
        shown = QSizeF(image_.size()) / dpr;
    return QRectF(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
}

QSize CSheetPreview::sizeHint() const {
    // Wide enough to read, as tall as the sheet's shape asks, within reason.
    const int w = fontMetrics().averageCharWidth() * 70;
    if (image_.isNull() || image_.width() <= 0)
        return QSize(w, w * 2 / 3);
    const int h = std::clamp(w * image_.height() / image_.width(), w / 4, w);
    return QSize(w, h);
}

QSize CSheetPreview::minimumSizeHint() const {
    return QSize(fontMetrics().averageCharWidth() * 20, fontMetrics().height() * 4);
}

void CSheetPreview::paintEvent(QPaintEvent*) {
    if (image_.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(pictureRect(), image_);
}
