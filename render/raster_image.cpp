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

// In 64 bits so that no width overflows them.
uint64_t rowBytesFor(int64_t width) {
    return static_cast<uint64_t>(width) * RasterImage::kBytesPerPixel;
}
// A row as a BMP file pads it to four bytes.
uint64_t paddedRowBytesFor(int64_t width) {
    return (static_cast<uint64_t>(width) * 24u + 31u) / 32u * 4u;
}

// Whether an image of this size can be described at all. The limit is said
// of the rows as a BMP file pads them, so that every image can be written as
// one with sizes that fit the file's 32-bit fields.
bool representable(int width, int height) {
    return width >= 0 && height >= 0 && paddedRowBytesFor(width) <= kMaxPixelBytes &&
           paddedRowBytesFor(width) * static_cast<uint64_t>(height) <= kMaxPixelBytes;
}

} // namespace

RasterImage::RasterImage(RasterImage&& other) noexcept {
    *this = std::move(other);
}

RasterImage& RasterImage::operator=(RasterImage&& other) noexcept {
    if (this != &other) {
        release();
        width_ = other.width_;
        height_ = other.height_;
        stride_ = other.stride_;
        borrowed_ = other.borrowed_;
        pixels_ = std::exchange(other.pixels_, nullptr);
        other.reset();
    }
    return *this;
}

void RasterImage::reset() {
    width_ = height_ = 0;
    stride_ = 0;
    borrowed_ = false;
    pixels_ = nullptr;
}

int32_t RasterImage::strideFor(int32_t width) {
    // No image has a negative width or rows longer than the pixel limit; 0
    // keeps size checks built on this from passing by overflow.
    if (width < 0 || paddedRowBytesFor(width) > kMaxPixelBytes)
        return 0;
    return static_cast<int32_t>(rowBytesFor(width));
}

bool RasterImage::create(int width, int height) {
    release();
    reset();
    // A zero height does not make any width acceptable: the stride must fit.
    if (!representable(width, height))
        return false;
    // Zeroed: a new sheet is black until painted. A 0 x 0 image still gets a
    // (one-byte) block, so "has pixels" holds.
    pixels_ = pixel_block::allocatePixelBlock(rowBytesFor(width) * static_cast<uint64_t>(height));
    if (!pixels_)
        return false;
    width_ = width;
    height_ = height;
    stride_ = static_cast<int32_t>(rowBytesFor(width));
    return true;
}

bool RasterImage::createCopy(int width, int height, const uint8_t* rows) {
    if (!create(width, height))
        return false;
    if (rows && width > 0 && height > 0)
        std::memcpy(pixels_, rows, rowBytesFor(width) * static_cast<uint64_t>(height));
    return true;
}

void RasterImage::attach(int width, int height, uint8_t* memory) {
    release();
    reset();
    borrowed_ = true;
    width = std::max(width, 0);
    height = std::max(height, 0);
    // No caller can hold a buffer beyond the limit; a view without pixels
    // draws nothing.
    if (!representable(width, height))
        return;
    width_ = width;
    height_ = height;
    stride_ = static_cast<int32_t>(rowBytesFor(width));
    pixels_ = memory;
}

void RasterImage::release() {
    if (pixels_ && !borrowed_) {
        pixel_block::freePixelBlock(pixels_);
        pixels_ = nullptr;
    }
}

void RasterImage::fillRect(int x, int y, int w, int h, Rgb colour) {
    if (!pixels_)
        return;
    const int64_t x0 = std::max(x, 0);
    const int64_t y0 = std::max(y, 0);
    const int64_t w2 = std::min<int64_t>(x0 + w, width_) - x0;
    const int64_t h2 = std::min<int64_t>(y0 + h, height_) - y0;
    if (w2 <= 0 || h2 <= 0)
        return;
    for (int64_t r = y0; r < y0 + h2; ++r) {
        uint8_t* p = pixels_ + r * stride_ + kBytesPerPixel * x0;
        for (int64_t i = 0; i < w2; ++i, p += kBytesPerPixel) {
            p[0] = colour.r;
            p[1] = colour.g;
            p[2] = colour.b;
        }
    }
}

void RasterImage::fill(Rgb colour) {
    fillRect(0, 0, width_, height_, colour);
}
