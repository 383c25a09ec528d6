#include "render/raster_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "render/pixel_block.h"

namespace {

// Larger blocks are refused rather than attempted: no sheet or frame comes
// near this, and sizes computed from damaged input must not exhaust memory.
constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 31;

// Bytes per row, in 64 bits so that no width overflows it.
uint64_t rowBytesFor(int64_t width) {
    return (static_cast<uint64_t>(width) * 24u + 31u) / 32u * 4u;
}

// Whether an image of this size can be described at all: the row length and
// the block size must fit the 32-bit header fields and stay below the limit.
bool representable(int width, int height) {
    return width >= 0 && height >= 0 && rowBytesFor(width) <= kMaxPixelBytes &&
           rowBytesFor(width) * static_cast<uint64_t>(height) <= kMaxPixelBytes;
}

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
        other.borrowed = 0;
        other.header = {};
        other.stride = 0;
        other.dpiX = other.dpiY = 0;
    }
    return *this;
}

int32_t RasterImage::strideFor(int32_t width) {
    // No image has a negative width or rows longer than the pixel limit; 0
    // keeps size checks built on this from passing by overflow.
    if (width < 0 || rowBytesFor(width) > kMaxPixelBytes)
        return 0;
    return static_cast<int32_t>(rowBytesFor(width));
}

bool RasterImage::create(int width, int height) {
    release();
    borrowed = 0;
    header = {};
    stride = 0;
    dpiX = dpiY = 0;
    pixels = nullptr;
    // A zero height does not make any width acceptable: the stride must fit.
    if (!representable(width, height))
        return false;
    const uint64_t total = rowBytesFor(width) * static_cast<uint64_t>(height);
    stride = static_cast<int32_t>(rowBytesFor(width));
    header = headerFor(width, height, stride);
    dpiX = dpiY = 96;
    // Zeroed so the row padding that reaches BMP files is deterministic. A
    // 0 x 0 image still gets a (one-byte) block, so "has pixels" holds.
    pixels = pixel_block::allocatePixelBlock(total);
    if (!pixels) {
        header = {};
        stride = 0;
        dpiX = dpiY = 0;
        return false;
    }
    return true;
}

void RasterImage::attach(int width, int height, uint8_t* memory) {
    release();
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (!representable(width, height)) {
        // No caller can hold such a buffer; a view without pixels draws nothing.
        borrowed = 1;
        header = {};
        stride = 0;
        dpiX = dpiY = 0;
        pixels = nullptr;
        return;
    }
    stride = strideFor(width);
    header = headerFor(width, height, stride);
    dpiX = dpiY = 96;
    pixels = memory;
    borrowed = 1;
}

void RasterImage::release() {
    if (pixels && !borrowed) {
        pixel_block::freePixelBlock(pixels);
        pixels = nullptr;
    }
}

uint32_t RasterImage::pixel(int x, int row) const {
    const uint8_t* p =
        pixels + static_cast<ptrdiff_t>(row) * stride + 3 * static_cast<ptrdiff_t>(x);
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16);
}

void RasterImage::fillRect(int x, int y, int w, int h, uint8_t red, uint8_t green, uint8_t blue) {
    if (!pixels)
        return;
    const int64_t x0 = std::max(x, 0);
    const int64_t y0 = std::max(y, 0);
    const int64_t w2 = std::min<int64_t>(x0 + w, width()) - x0;
    const int64_t h2 = std::min<int64_t>(y0 + h, height()) - y0;
    if (w2 <= 0 || h2 <= 0)
        return;
    const int64_t firstRow = height() - y0 - h2;
    for (int64_t r = firstRow; r < firstRow + h2; ++r) {
        uint8_t* p = pixels + r * stride + 3 * x0;
        for (int64_t i = 0; i < w2; ++i, p += 3) {
            p[0] = blue;
            p[1] = green;
            p[2] = red;
        }
    }
}

void RasterImage::fill(uint8_t red, uint8_t green, uint8_t blue) {
    fillRect(0, 0, width(), height(), red, green, blue);
}
