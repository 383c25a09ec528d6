#include "render/raster_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Larger blocks are refused rather than attempted: no sheet or frame comes
// near this, and sizes computed from damaged input must not exhaust memory.
constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 31;

BITMAPINFOHEADER headerFor(int width, int height, int32_t stride) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = 0;
    h.biSizeImage =
        static_cast<uint32_t>(static_cast<uint64_t>(stride) * static_cast<uint32_t>(height));
    return h;
}

} // namespace

RasterImage::RasterImage(RasterImage&& other) noexcept {
    *this = std::move(other);
}

RasterImage& RasterImage::operator=(RasterImage&& other) noexcept {
    if (this != &other) {
        release();
        borrowed = other.borrowed;
        header = other.header;
        stride = other.stride;
        dpiX = other.dpiX;
        dpiY = other.dpiY;
        pixels = std::exchange(other.pixels, nullptr);
        other.header = {};
        other.stride = 0;
    }
    return *this;
}

int32_t RasterImage::strideFor(int32_t width) {
    uint64_t bits = static_cast<uint64_t>(static_cast<uint32_t>(width)) * 24u + 31u;
    return static_cast<int32_t>((bits / 32u) * 4u);
}

bool RasterImage::create(int width, int height) {
    release();
    borrowed = 0;
    header = {};
    stride = 0;
    dpiX = dpiY = 0;
    pixels = nullptr;
    if (width < 0 || height < 0)
        return false;
    uint64_t rowBytes = (static_cast<uint64_t>(width) * 24u + 31u) / 32u * 4u;
    uint64_t total = rowBytes * static_cast<uint64_t>(height);
    if (total > kMaxPixelBytes)
        return false;
    stride = static_cast<int32_t>(rowBytes);
    header = headerFor(width, height, stride);
    dpiX = dpiY = 96;
    // Zeroed so the row padding that reaches BMP files is deterministic. A
    // 0 x 0 image still gets a (one-byte) block, so "has pixels" holds.
    pixels = static_cast<uint8_t*>(std::calloc(total == 0 ? 1 : total, 1));
    if (!pixels) {
        header = {};
        stride = 0;
        return false;
    }
    return true;
}

void RasterImage::attach(int width, int height, uint8_t* memory) {
    release();
    width = std::max(width, 0);
    height = std::max(height, 0);
    stride = strideFor(width);
    header = headerFor(width, height, stride);
    dpiX = dpiY = 96;
    pixels = memory;
    borrowed = 1;
}

void RasterImage::release() {
    if (pixels && !borrowed) {
        std::free(pixels);
        pixels = nullptr;
    }
}

uint32_t RasterImage::pixel(int x, int row) const {
    const uint8_t* p =
        pixels + static_cast<ptrdiff_t>(row) * stride + 3 * static_cast<ptrdiff_t>(x);
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16);
}

uint32_t RasterImage::pixelOrWhite(int x, int row) const {
    if (x < 0 || row < 0 || x >= width() || row >= height() || !pixels)
        return 0x00FFFFFF;
    return pixel(x, row);
}

int RasterImage::fillRect(int x, int y, int w, int h, uint8_t red, uint8_t green, uint8_t blue) {
    if (!pixels)
        return 0;
    const int64_t x0 = std::max(x, 0);
    const int64_t y0 = std::max(y, 0);
    const int64_t w2 = std::min<int64_t>(x0 + w, width()) - x0;
    const int64_t h2 = std::min<int64_t>(y0 + h, height()) - y0;
    if (w2 <= 0 || h2 <= 0)
        return 0;
    const int64_t firstRow = height() - y0 - h2;
    for (int64_t r = firstRow; r < firstRow + h2; ++r) {
        uint8_t* p = pixels + r * stride + 3 * x0;
        for (int64_t i = 0; i < w2; ++i, p += 3) {
            p[0] = blue;
            p[1] = green;
            p[2] = red;
        }
    }
    return 0;
}

int RasterImage::fill(uint8_t red, uint8_t green, uint8_t blue) {
    return fillRect(0, 0, width(), height(), red, green, blue);
}
