#include "capture/layout.h"

#include <cmath>
#include <cstdint>

namespace {

bool refuse(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

} // namespace

int truncToInt(double v) {
    if (!(v > -2147483648.0))
        return v != v ? 0 : INT32_MIN;
    if (v >= 2147483647.0)
        return INT32_MAX;
    return static_cast<int>(v);
}

CellRect SheetLayout::cell(int column, int row) const {
    CellRect r;
    r.x = truncToInt((spacingX + static_cast<double>(thumbWidth)) * column + spacingX);
    r.y = truncToInt((spacingY + static_cast<double>(thumbHeight)) * row + spacingY + top);
    r.width = truncToInt(thumbWidth);
    r.height = truncToInt(thumbHeight);
    return r;
}

CellRect SheetLayout::cellAt(int64_t index) const {
    if (columns <= 0)
        return {};
    return cell(static_cast<int>(index % columns), static_cast<int>(index / columns));
}

CellRect SheetLayout::shadowOf(const CellRect& c) const {
    // Settings files can hold any offset; far off the sheet is as good as any.
    const auto moved = [](int at, int by) { return truncToInt(static_cast<double>(at) + by); };
    return {moved(c.x, shadowOffsetX), moved(c.y, shadowOffsetY), c.width, c.height};
}

CellRect SheetLayout::stampOf(const CellRect& c) {
    return {c.x + 3, c.y, c.width - 6, c.height};
}

namespace {

// What no layout can be made from, whatever the numbers say otherwise.
bool usableInput(const Options& o, int videoWidth, int videoHeight, std::string& error) {
    if (videoWidth <= 0 || videoHeight <= 0)
        return refuse(error, "The movie has no usable video size (" + std::to_string(videoWidth) +
                                 "x" + std::to_string(videoHeight) + ").");
    if (o.columns < 0 || o.rows < 0)
        return refuse(error, "The number of columns and rows must not be negative.");
    if (o.frameWidth <= 0 || o.frameHeight <= 0)
        return refuse(error, "The frame width and height must be at least 1 pixel.");
    if (o.spacingX < 0 || o.spacingY < 0)
        return refuse(error, "The spacings must not be negative.");
    return true;
}

} // namespace

bool computeLayout(const Options& o, int videoWidth, int videoHeight, int textWidth, int textHeight,
                   SheetLayout& l, std::string& error) {
    l = SheetLayout{};
    if (!usableInput(o, videoWidth, videoHeight, error))
        return false;
    l.columns = o.columns;
    l.rows = o.rows;
    l.spacingX = o.spacingX;
    l.spacingY = o.spacingY;
    l.shadowOffsetX = o.shadowOffsetX;
    l.shadowOffsetY = o.shadowOffsetY;
    l.cells = static_cast<int64_t>(o.columns) * o.rows;

    const double rx = static_cast<double>(o.frameWidth) / videoWidth;
    const double ry = static_cast<double>(o.frameHeight) / videoHeight;
    l.scale = ry > rx ? rx : ry;
    l.thumbWidth = static_cast<float>(videoWidth * l.scale);
    l.thumbHeight = static_cast<float>(videoHeight * l.scale);
    if (l.cells > 0 && (l.thumbWidth < 1.0f || l.thumbHeight < 1.0f))
        return refuse(error, "The frame box is too small for this movie: its frames would be "
                             "less than 1 pixel high or wide.");

    const double sw = (o.spacingX + static_cast<double>(l.thumbWidth)) * o.columns + o.spacingX;
    const double gh = (o.spacingY + static_cast<double>(l.thumbHeight)) * o.rows + o.spacingY;
    if (o.headerEnabled) {
        l.textWidth = textWidth;
        l.textHeight = textHeight;
    }
    const double sh = std::trunc(gh) + l.textHeight + o.spacingY;
    if (sw >= kMaxSheetSide + 1.0 || sh >= kMaxSheetSide + 1.0)
        return refuse(error, "The sheet would be larger than " + std::to_string(kMaxSheetSide) +
                                 " pixels on a side; use fewer or smaller frames.");
    l.sheetWidth = static_cast<int>(sw);
    l.gridHeight = static_cast<int>(gh);
    l.sheetHeight = static_cast<int>(sh);
    const uint64_t bytes = static_cast<uint64_t>((l.sheetWidth * 3 + 3) / 4 * 4) *
                           static_cast<uint64_t>(l.sheetHeight);
    if (bytes > kMaxSheetBytes)
        return refuse(error, "The sheet would need more than 1 GiB of memory; use fewer or "
                             "smaller frames.");

    if (o.headerEnabled) {
        const bool topBlock = o.headerPosition == TopLeft || o.headerPosition == TopRight;
        const bool rightBlock = o.headerPosition == BottomRight || o.headerPosition == TopRight;
        l.top = topBlock ? l.textHeight + o.spacingY : 0;
        l.headerY = topBlock ? o.spacingY : l.gridHeight;
        l.headerX = rightBlock ? l.sheetWidth - o.spacingX - l.textWidth : o.spacingX;
    } else {
        l.top = 0;
        l.headerX = o.spacingX;
        l.headerY = l.gridHeight;
    }
    return true;
}

Rgb shadowColor(const Options& o) {
    const float f = 1.0f - static_cast<float>(o.shadowIntensity) * 0.01f;
    // Only the low byte is kept, as always; an intensity outside 0..100 gives
    // an odd colour but never undefined arithmetic.
    return Rgb{static_cast<uint8_t>(truncToInt(o.backgroundColor.r * f)),
               static_cast<uint8_t>(truncToInt(o.backgroundColor.g * f)),
               static_cast<uint8_t>(truncToInt(o.backgroundColor.b * f))};
}

std::vector<int64_t> capturePositions(int64_t duration, int64_t cells) {
    std::vector<int64_t> positions;
    if (cells <= 0)
        return positions;
    const int64_t step = duration / (cells + 1);
    positions.reserve(static_cast<size_t>(cells));
    for (int64_t i = 1; i <= cells; ++i)
        positions.push_back(i * step);
    return positions;
}
