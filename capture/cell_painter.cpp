#include "capture/cell_painter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

std::string hundredthsText(int64_t hundredths) {
    if (hundredths < 0)
        hundredths = 0;
    const int64_t seconds = hundredths / 100;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%02lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), static_cast<long long>(hundredths % 100));
    return text;
}

// The widest text a stamp may carry: every digit drawn as wide as the widest.
constexpr const char* kWidestStamp = "00:00:00.00";

int textWidth(const std::string& text, const FontDescription& font) {
    return measureText(text, TextFlags{.singleLine = true}, font).width;
}

} // namespace

std::string timeText(const MediaTime& time) {
    return hundredthsText(time.hundredths());
}

std::string timeText(double seconds) {
    // Through the 100-ns units positions are counted in, so that a moment
    // and the frame at it read alike.
    return timeText(MediaTime::fromUnits(static_cast<int64_t>(std::floor(seconds * 1e7 + 1e-3))));
}

RasterImage toRasterImage(const media::Picture& picture) {
    RasterImage image;
    // A picture whose pixels do not make up its size is not taken in part.
    const uint64_t bytes = static_cast<uint64_t>(std::max(picture.width, 0)) *
                           static_cast<uint64_t>(std::max(picture.height, 0)) * 3u;
    if (picture.rgb.size() != bytes)
        return image;
    image.createCopy(picture.width, picture.height, picture.rgb.data());
    return image;
}

CellPainter::CellPainter(RasterImage& sheet, const SheetLayout& layout, const Options& options,
                         CaptureProgress& progress)
    : sheet_(sheet), layout_(layout), options_(options), progress_(progress) {
    stampsWanted_ = options.timeStampsEnabled != 0 && layout.cells > 0;
    stampFont_ = options.font;
    if (!stampsWanted_)
        return;
    // All cells are as wide: the font is fitted once.
    const int room = SheetLayout::stampOf(layout.cellAt(0)).width;
    int width = textWidth(kWidestStamp, stampFont_);
    if (width <= room)
        return;
    // A positive height is the whole cell of a line; its em is smaller, and
    // the least size is said of the em.
    const int32_t height = stampFont_.height;
    int em = height < 0 ? -height : height > 0 ? height : 16;
    if (height > 0)
        stampFont_.height = -std::max(1, em * 4 / 5);
    em = std::abs(stampFont_.height);
    while (width > room && em > kSmallestStampPixels) {
        em = std::max(kSmallestStampPixels,
                      std::min(em - 1, static_cast<int>(em * static_cast<double>(room) / width)));
        stampFont_.height = -em;
        width = textWidth(kWidestStamp, stampFont_);
    }
    stampFits_ = width <= room;
}

void CellPainter::stamp(const CellRect& box, const std::string& text) {
    if (!stampsWanted_ || !stampFits_)
        return;
    const CellRect s = SheetLayout::stampOf(box);
    sheet_.drawText(text, TextBox{s.x, s.y, s.x + s.width, s.y + s.height},
                    TextFlags{.singleLine = true, .alignBottom = true}, true, stampFont_,
                    options_.textColor);
}

void CellPainter::drawFrame(int64_t moment, const media::Frame& frame) {
    const CellRect box = layout_.cellAt(moment);
    const RasterImage picture = toRasterImage(frame.picture);
    if (!frame.full.empty())
        progress_.frameArrived(static_cast<int>(moment), frame.time, toRasterImage(frame.full));
    else
        progress_.frameArrived(static_cast<int>(moment), frame.time, picture);
    sheet_.drawScaled(box.x, box.y, static_cast<unsigned>(box.width),
                      static_cast<unsigned>(box.height), picture);
    stamp(box, timeText(frame.time));
}

void CellPainter::drawEmpty(int64_t moment, int64_t position) {
    const CellRect box = layout_.cellAt(moment);
    const Rgb ink = options_.textColor;
    sheet_.fillRect(box.x, box.y, box.width, box.height, options_.backgroundColor);
    // An outline where the frame would be, drawn as the stamps are: the
    // text colour edged in black, so that it shows on any background.
    const auto frameAt = [&](int inset, int line, Rgb colour) {
        const int x = box.x + inset, y = box.y + inset;
        const int w = box.width - 2 * inset, h = box.height - 2 * inset;
        if (w <= 0 || h <= 0)
            return;
        line = std::max(1, std::min({line, w / 2, h / 2}));
        sheet_.fillRect(x, y, w, line, colour);
        sheet_.fillRect(x, y + h - line, w, line, colour);
        sheet_.fillRect(x, y, line, h, colour);
        sheet_.fillRect(x + w - line, y, line, h, colour);
    };
    frameAt(0, 4, Rgb{0, 0, 0});
    frameAt(1, 2, ink);
    // The time and the words on two lines when the cell is too narrow for
    // one; the words count even when the sheet has no stamps.
    const std::string time = timeText(MediaTime::fromUnits(position));
    const CellRect s = SheetLayout::stampOf(box);
    std::string text = time + " no picture";
    if (textWidth(text, stampFont_) > s.width)
        text = time + "\nno picture";
    // Centred in the cell.
    const int h = measureText(text, TextFlags{}, stampFont_).height;
    TextBox rect{s.x, s.y, s.x + s.width, s.y + s.height};
    rect.top = box.y + std::max(0, (box.height - h) / 2);
    rect.bottom = rect.top + h;
    sheet_.drawText(text, rect, TextFlags{}, true, stampFont_, ink);
}
