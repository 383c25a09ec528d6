#include "app/sheet_preview.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/accessible.h"
#include "render/raster_image.h"

namespace {

// The cells' frames are kept for drawing the sheet again while they take
// no more than this.
constexpr int64_t kMaxKeptCellBytes = int64_t{256} << 20;

} // namespace

QEvent::Type PreviewFeed::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QImage PreviewFeed::shrink(const RasterImage& sheet, int maxSide, const RasterImage* patch,
                           int patchX, int patchY) {
    const int sw = sheet.width();
    const int sh = sheet.height();
    if (sw <= 0 || sh <= 0 || !sheet.hasPixels())
        return {};
    if (patch && (!patch->hasPixels() || patch->width() <= 0 || patch->height() <= 0))
        patch = nullptr;
    const int pw = patch ? patch->width() : 0;
    const int ph = patch ? patch->height() : 0;
    // Where the patch lies, the patch's pixel; elsewhere the sheet's. Both
    // are red, green, blue, rows top-down, as Qt's RGB888 is.
    const auto source = [&](int x, int y) -> const uint8_t* {
        if (patch && x >= patchX && x < patchX + pw && y >= patchY && y < patchY + ph)
            return patch->row(y - patchY) + 3 * (x - patchX);
        return sheet.row(y) + 3 * x;
    };
    const double factor = std::max(1.0, static_cast<double>(std::max(sw, sh)) / maxSide);
    const int dw = std::max(1, static_cast<int>(sw / factor));
    const int dh = std::max(1, static_cast<int>(sh / factor));
    if (dw == sw && dh == sh && !patch) {
        // It fits: the sheet's rows are Qt's RGB888 already. A copy, since
        // the capture goes on painting the sheet.
        const QImage view(sheet.row(0), sw, sh, sheet.stride(), QImage::Format_RGB888);
        return view.copy();
    }
    QImage out(dw, dh, QImage::Format_RGB888);
    if (out.isNull())
        return {};
    if (dw == sw && dh == sh) {
        // It fits, with the patch laid over its part of the rows.
        for (int y = 0; y < dh; ++y) {
            uchar* dst = out.scanLine(y);
            std::memcpy(dst, sheet.row(y), static_cast<size_t>(sw) * 3);
            if (y >= patchY && y < patchY + ph) {
                const int x0 = std::max(0, patchX);
                const int x1 = std::min(sw, patchX + pw);
                if (x1 > x0)
                    std::memcpy(dst + 3 * x0, source(x0, y), static_cast<size_t>(x1 - x0) * 3);
            }
        }
        return out;
    }
    // Two samples a side where a pixel covers two or more sheet pixels,
    // one (the nearest) otherwise: enough to keep thin text and edges from
    // flickering, and never more than four reads a pixel.
    const bool two = factor >= 2.0;
    const double fx = static_cast<double>(sw) / dw;
    const double fy = static_cast<double>(sh) / dh;
    auto sample = [two](int i, double f, int limit, double at) {
        return std::min(limit - 1, static_cast<int>((i + (two ? at : 0.5)) * f));
    };
    std::vector<int> left(static_cast<size_t>(dw)), right(static_cast<size_t>(dw));
    for (int x = 0; x < dw; ++x) {
        left[static_cast<size_t>(x)] = sample(x, fx, sw, 0.25);
        right[static_cast<size_t>(x)] = sample(x, fx, sw, 0.75);
    }
    for (int y = 0; y < dh; ++y) {
        uchar* dst = out.scanLine(y);
        const int y0 = sample(y, fy, sh, 0.25);
        const int y1 = sample(y, fy, sh, 0.75);
        for (int x = 0; x < dw; ++x, dst += 3) {
            const int x0 = left[static_cast<size_t>(x)];
            const int x1 = right[static_cast<size_t>(x)];
            const uint8_t* a = source(x0, y0);
            const uint8_t* b = source(x1, y0);
            const uint8_t* c = source(x0, y1);
            const uint8_t* d = source(x1, y1);
            for (int k = 0; k < 3; ++k)
                dst[k] = static_cast<uchar>((a[k] + b[k] + c[k] + d[k] + 2) / 4);
        }
    }
    return out;
}

void PreviewFeed::offer(QImage image, int momentsDone, int moments, bool whole) {
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = Picture{std::move(image), momentsDone, moments, whole};
        post = !posted_;
        posted_ = true;
    }
    if (post)
        QCoreApplication::postEvent(receiver_, new QEvent(eventType()));
}

void PreviewFeed::captureStarting(const CaptureInput& input, const Options& settings) {
    plan_.options = settings;
    plan_.facts = input.facts;
    plan_.infoText = input.infoText;
    plan_.informationColor = input.informationColor;
    plan_.choice = input.choice;
    std::string error;
    layoutKnown_ =
        planLayout(plan_, layout_, error) && planMoments(plan_, layout_, moments_, error);
    block_.release();
    cells_.clear();
    keepCells_ = false;
    if (!layoutKnown_)
        return;
    const CellRect cell = layout_.cells > 0 ? layout_.cellAt(0) : CellRect{};
    const int64_t cellBytes = int64_t{std::max(cell.width, 1)} * std::max(cell.height, 1) * 3;
    keepCells_ = layout_.cells <= kMaxKeptCellBytes / cellBytes;
    if (keepCells_) {
        cells_.resize(static_cast<size_t>(layout_.cells));
        for (size_t i = 0; i < cells_.size() && i < moments_.size(); ++i)
            cells_[i].moment = moments_[i];
    }
}

void PreviewFeed::sheetPainted(const RasterImage& sheet) {
    {
        // A new capture: whatever the last one left is not news.
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = Picture{};
    }
    // The information block is drawn last, on what is painted now (no cell
    // reaches it): drawn now on a copy of its piece, it is what the sheet
    // will show there.
    block_.release();
    if (layoutKnown_ && plan_.options.headerEnabled && layout_.textWidth > 0 &&
        layout_.textHeight > 0 && sheet.width() == layout_.sheetWidth &&
        sheet.height() == layout_.sheetHeight) {
        const int x0 = std::max(layout_.headerX, 0);
        const int y0 = std::max(layout_.headerY, 0);
        const int x1 = std::min(layout_.headerX + layout_.textWidth, sheet.width());
        const int y1 = std::min(layout_.headerY + layout_.textHeight, sheet.height());
        if (x1 > x0 && y1 > y0 && block_.create(x1 - x0, y1 - y0)) {
            for (int y = y0; y < y1; ++y)
                std::memcpy(block_.row(y - y0), sheet.row(y) + 3 * x0,
                            static_cast<size_t>(x1 - x0) * 3);
            SheetLayout shifted = layout_;
            shifted.headerX -= x0;
            shifted.headerY -= y0;
            drawInformation(block_, plan_, shifted);
            blockX_ = x0;
            blockY_ = y0;
        }
    }
    const RasterImage* block = block_.hasPixels() ? &block_ : nullptr;
    // A sheet without cells is finished as painted.
    const bool whole = layoutKnown_ && layout_.cells == 0 &&
                       int64_t{sheet.width()} * sheet.height() <= kMaxWholePixels;
    offer(shrink(sheet, whole ? INT_MAX : kMaxSide, block, blockX_, blockY_), 0, 0, whole);
}

void PreviewFeed::frameArrived(int moment, const MediaTime& time, const RasterImage& frame) {
    if (!keepCells_ || moment < 0 || static_cast<size_t>(moment) >= cells_.size())
        return;
    CellShot& shot = cells_[static_cast<size_t>(moment)];
    shot.found = true;
    shot.time = time;
    shot.picture = pictureOf(frame);
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
    const bool whole = last && int64_t{sheet.width()} * sheet.height() <= kMaxWholePixels;
    const RasterImage* block = block_.hasPixels() ? &block_ : nullptr;
    offer(shrink(sheet, whole ? INT_MAX : kMaxSide, block, blockX_, blockY_), moment + 1, moments,
          whole);
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

bool PreviewFeed::takeCells(std::vector<CellShot>& cells) {
    if (!keepCells_ || !layoutKnown_)
        return false;
    cells = std::move(cells_);
    cells_.clear();
    keepCells_ = false;
    return true;
}

// ---- The view ------------------------------------------------------------------

CSheetPreview::CSheetPreview(QWidget* parent) : QAbstractScrollArea(parent) {
    installAccessibleFactories();
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setAccessibleName(tr("Sheet"));
    viewport()->setMouseTracking(true);
    describe();
}

QSize CSheetPreview::sheetSize() const {
    return sheetSize_.isValid() && !sheetSize_.isEmpty() ? sheetSize_ : image_.size();
}

void CSheetPreview::setPicture(const QImage& image, int momentsDone, int moments) {
    const bool newShape = image.size() != image_.size();
    image_ = image;
    momentsDone_ = momentsDone;
    moments_ = moments;
    if (newShape) {
        updateGeometry();
        updateScrollBars();
    }
    describe();
    viewport()->update();
}

void CSheetPreview::setSheet(const QSize& sheetSize, const QList<QRect>& cells) {
    sheetSize_ = sheetSize;
    cells_ = cells;
    if (current_ >= cells_.size())
        current_ = -1;
    updateGeometry();
    updateScrollBars();
    describe();
    viewport()->update();
}

void CSheetPreview::setCellsActive(bool active) {
    cellsActive_ = active;
    if (!active)
        viewport()->unsetCursor();
    describe();
    viewport()->update();
}

void CSheetPreview::clear() {
    image_ = QImage();
    momentsDone_ = 0;
    moments_ = 0;
    sheetSize_ = QSize();
    cells_.clear();
    cellsActive_ = false;
    current_ = -1;
    updateScrollBars();
    describe();
    viewport()->update();
}

double CSheetPreview::scale() const {
    const QSize sheet = sheetSize();
    if (sheet.isEmpty())
        return 1;
    const qreal dpr = devicePixelRatioF();
    if (!fit_)
        return zoom_ / dpr;
    const QSize room = viewport()->size();
    const double fitted = std::min(static_cast<double>(room.width()) / sheet.width(),
                                   static_cast<double>(room.height()) / sheet.height());
    // Never larger than the sheet's own pixels on the screen's: a small
    // sheet stays crisp instead of being blown up.
    return std::max(1e-6, std::min(fitted, 1.0 / dpr));
}

double CSheetPreview::zoom() const {
    return scale() * devicePixelRatioF();
}

QRectF CSheetPreview::pictureRect() const {
    const QSize sheet = sheetSize();
    if (image_.isNull() || sheet.isEmpty())
        return {};
    const double s = scale();
    const QSizeF shown(sheet.width() * s, sheet.height() * s);
    const QSize room = viewport()->size();
    const double x = shown.width() <= room.width() ? (room.width() - shown.width()) / 2
                                                   : -horizontalScrollBar()->value();
    const double y = shown.height() <= room.height() ? (room.height() - shown.height()) / 2
                                                     : -verticalScrollBar()->value();
    return QRectF(QPointF(x, y), shown);
}

void CSheetPreview::updateScrollBars() {
    const QSize sheet = sheetSize();
    const double s = scale();
    const QSize room = viewport()->size();
    const int w = sheet.isEmpty() ? 0 : static_cast<int>(std::ceil(sheet.width() * s));
    const int h = sheet.isEmpty() ? 0 : static_cast<int>(std::ceil(sheet.height() * s));
    horizontalScrollBar()->setRange(0, std::max(0, w - room.width()));
    verticalScrollBar()->setRange(0, std::max(0, h - room.height()));
    horizontalScrollBar()->setPageStep(room.width());
    verticalScrollBar()->setPageStep(room.height());
    horizontalScrollBar()->setSingleStep(std::max(1, room.width() / 20));
    verticalScrollBar()->setSingleStep(std::max(1, room.height() / 20));
}

void CSheetPreview::fitToWindow() {
    fit_ = true;
    updateScrollBars();
    viewport()->update();
    describe();
    emit zoomChanged();
}

void CSheetPreview::zoomAround(double zoom, const QPointF& anchor) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    const QRectF before = pictureRect();
    const double oldScale = scale();
    // The sheet point under the anchor, in sheet pixels.
    const QPointF sheetPoint =
        before.isEmpty() ? QPointF() : (anchor - before.topLeft()) / oldScale;
    fit_ = false;
    zoom_ = zoom;
    updateScrollBars();
    const double s = scale();
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(sheetPoint.x() * s - anchor.x())));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(sheetPoint.y() * s - anchor.y())));
    viewport()->update();
    describe();
    emit zoomChanged();
}

void CSheetPreview::setZoom(double zoom) {
    zoomAround(zoom, QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
}

// The steps of the zoom: whole factors of two and the two steps between.
void CSheetPreview::zoomIn() {
    setZoom(std::exp2(std::floor(std::log2(zoom()) * 3 + 1e-6 + 1) / 3));
}

void CSheetPreview::zoomOut() {
    setZoom(std::exp2(std::ceil(std::log2(zoom()) * 3 - 1e-6 - 1) / 3));
}

QRect CSheetPreview::cellRect(int index) const {
    if (index < 0 || index >= cells_.size())
        return {};
    const QRectF picture = pictureRect();
    const double s = scale();
    const QRect& c = cells_[index];
    return QRectF(picture.x() + c.x() * s, picture.y() + c.y() * s, c.width() * s, c.height() * s)
        .toAlignedRect();
}

int CSheetPreview::cellAt(const QPoint& viewportPoint) const {
    const QRectF picture = pictureRect();
    if (picture.isEmpty())
        return -1;
    const double s = scale();
    const QPointF at = (QPointF(viewportPoint) - picture.topLeft()) / s;
    for (int i = 0; i < cells_.size(); ++i) {
        if (QRectF(cells_[i]).contains(at))
            return i;
    }
    return -1;
}

void CSheetPreview::setCurrentCell(int index) {
    if (index < -1 || index >= cells_.size())
        return;
    current_ = index;
    if (index >= 0) {
        // Scrolled into view.
        const QRect r = cellRect(index);
        const QRect room = viewport()->rect();
        if (r.right() > room.right())
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() + r.right() -
                                            room.right() + 4);
        if (r.left() < room.left())
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() + r.left() - 4);
        if (r.bottom() > room.bottom())
            verticalScrollBar()->setValue(verticalScrollBar()->value() + r.bottom() -
                                          room.bottom() + 4);
        if (r.top() < room.top())
            verticalScrollBar()->setValue(verticalScrollBar()->value() + r.top() - 4);
    }
    describe();
    viewport()->update();
}

void CSheetPreview::describe() {
    QString text;
    if (image_.isNull())
        text = tr("No sheet yet.");
    else if (moments_ > 0 && momentsDone_ < moments_)
        text = tr("%1 of %2 frames").arg(momentsDone_).arg(moments_);
    else
        text = tr("%1 × %2 pixels, shown at %3 %")
                   .arg(sheetSize().width())
                   .arg(sheetSize().height())
                   .arg(std::lround(zoom() * 100));
    if (cellsActive_ && !cells_.isEmpty())
        text +=
            QLatin1Char('\n') +
            (current_ >= 0
                 ? tr("Frame %1 of %2. Enter shows it large.").arg(current_ + 1).arg(cells_.size())
                 : tr("Arrow keys choose a frame; Enter shows it large."));
    setAccessibleDescription(text);
}

QSize CSheetPreview::sizeHint() const {
    // Wide enough to read; for a sheet, as large as its pixels on the
    // screen's, within most of the screen, in the sheet's shape.
    const int least = fontMetrics().averageCharWidth() * 70;
    const QSize sheet = sheetSize();
    if (sheet.isEmpty())
        return QSize(least, least * 2 / 3);
    QSize room(1024, 640);
    if (screen())
        room = screen()->availableGeometry().size() * 3 / 5;
    QSizeF want = QSizeF(sheet) / devicePixelRatioF();
    if (want.width() > room.width() || want.height() > room.height())
        want = want.scaled(QSizeF(room), Qt::KeepAspectRatio);
    const int w = std::max(least, static_cast<int>(want.width()));
    const int h =
        std::clamp(static_cast<int>(want.height()), least / 4, std::max(least / 4, room.height()));
    return QSize(w, h);
}

QSize CSheetPreview::minimumSizeHint() const {
    return QSize(fontMetrics().averageCharWidth() * 20, fontMetrics().height() * 4);
}

void CSheetPreview::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    if (fit_)
        describe();
}

void CSheetPreview::scrollContentsBy(int, int) {
    viewport()->update();
}

void CSheetPreview::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    if (image_.isNull())
        return;
    const QRectF target = pictureRect();
    const double s = scale() * devicePixelRatioF();
    // Shrunk, the sheet is smoothed; grown past its pixels, each shows as
    // the square it is.
    p.setRenderHint(QPainter::SmoothPixmapTransform, s < 1.0);
    // Only the part that shows is drawn: a large sheet zoomed in is mostly
    // out of sight.
    const QRectF visible = target.intersected(QRectF(viewport()->rect()));
    if (!visible.isEmpty()) {
        const double fx = image_.width() / target.width();
        const double fy = image_.height() / target.height();
        const QRectF source((visible.x() - target.x()) * fx, (visible.y() - target.y()) * fy,
                            visible.width() * fx, visible.height() * fy);
        p.drawImage(visible, image_, source);
    }
    if (cellsActive_ && current_ >= 0 && hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = cellRect(current_).adjusted(-3, -3, 3, 3);
        option.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

void CSheetPreview::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    pressed_ = true;
    dragging_ = false;
    pressAt_ = event->position().toPoint();
    scrollAtPress_ = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
    event->accept();
}

void CSheetPreview::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (pressed_) {
        if (!dragging_ && (at - pressAt_).manhattanLength() >= QApplication::startDragDistance())
            dragging_ = true;
        if (dragging_) {
            // The sheet follows the pointer.
            viewport()->setCursor(Qt::ClosedHandCursor);
            horizontalScrollBar()->setValue(scrollAtPress_.x() - (at.x() - pressAt_.x()));
            verticalScrollBar()->setValue(scrollAtPress_.y() - (at.y() - pressAt_.y()));
        }
        event->accept();
        return;
    }
    if (cellsActive_ && cellAt(at) >= 0)
        viewport()->setCursor(Qt::PointingHandCursor);
    else
        viewport()->unsetCursor();
}

void CSheetPreview::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    pressed_ = false;
    viewport()->unsetCursor();
    if (!dragging_ && cellsActive_) {
        const int cell = cellAt(event->position().toPoint());
        if (cell >= 0) {
            setCurrentCell(cell);
            emit cellActivated(cell);
        }
    }
    dragging_ = false;
    event->accept();
}

void CSheetPreview::wheelEvent(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        const int steps = event->angleDelta().y() / 120;
        if (steps != 0) {
            const double z = zoom() * std::pow(2.0, steps / 3.0);
            zoomAround(z, event->position());
        }
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

void CSheetPreview::keyPressEvent(QKeyEvent* event) {
    const int columns = [&] {
        // Cells in the first row: those whose top is the first cell's.
        int n = 0;
        for (const QRect& c : cells_)
            n += !cells_.isEmpty() && c.top() == cells_.front().top();
        return std::max(1, n);
    }();
    if (cellsActive_ && !cells_.isEmpty()) {
        int next = current_;
        switch (event->key()) {
        case Qt::Key_Left:
            next = current_ < 0 ? 0 : std::max(0, current_ - 1);
            break;
        case Qt::Key_Right:
            next = current_ < 0 ? 0 : std::min(static_cast<int>(cells_.size()) - 1, current_ + 1);
            break;
        case Qt::Key_Up:
            next = current_ < 0 ? 0 : (current_ >= columns ? current_ - columns : current_);
            break;
        case Qt::Key_Down:
            next = current_ < 0
                       ? 0
                       : (current_ + columns < cells_.size() ? current_ + columns : current_);
            break;
        case Qt::Key_Home:
            next = 0;
            break;
        case Qt::Key_End:
            next = static_cast<int>(cells_.size()) - 1;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (current_ >= 0) {
                emit cellActivated(current_);
                event->accept();
                return;
            }
            next = 0;
            break;
        default:
            break;
        }
        if (next != current_ || event->key() == Qt::Key_Left || event->key() == Qt::Key_Right ||
            event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
            setCurrentCell(next);
            event->accept();
            return;
        }
    }
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomIn();
        event->accept();
        return;
    case Qt::Key_Minus:
        zoomOut();
        event->accept();
        return;
    default:
        break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}
