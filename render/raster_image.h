#pragma once
// The one picture type: red, green and blue bytes per pixel, rows from the
// top down, each row right after the one before (the stride is three bytes a
// pixel, no padding).
//
// Ownership: an image made by `create` owns its pixel block and frees it in
// `release` (or its destructor; a second release does nothing). An image made
// by `attach` borrows the caller's memory and never frees it. Images move but
// are never copied. `boxBlur` replaces the owned block with a new one.
//
// Coordinates: x to the right, y downwards, in pixels, everywhere.
//
// Nothing here reads the live settings: the caller passes the font, colour and
// JPEG parameters, so a capture can work on its own copy of the settings.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs/atomic_file.h"
#include "platform/types/font_description.h"
#include "platform/types/rgb.h"

// A box for text; right and bottom are exclusive.
struct TextBox {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct TextFlags {
    // Line breaks are not honoured (and not drawn).
    bool singleLine = false;
    // Tabs jump to stops every eight average character widths; otherwise
    // they take no room.
    bool expandTabs = false;
    // The last line sits on the box's bottom edge, instead of the first on
    // its top edge.
    bool alignBottom = false;
};

// The size text takes: the widest line, and the lines times the line height.
struct TextSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Measures UTF-8 text in `font`; sizes beyond 32 bits saturate. A font that
// cannot be found measures as empty.
TextSize measureText(std::string_view text, TextFlags flags, const FontDescription& font);

class RasterImage {
public:
    static constexpr int kBytesPerPixel = 3;
    // The resolution the writers record in the files.
    static constexpr int kDotsPerInch = 96;

    RasterImage() = default;
    RasterImage(const RasterImage&) = delete;
    RasterImage& operator=(const RasterImage&) = delete;
    RasterImage(RasterImage&& other) noexcept;
    RasterImage& operator=(RasterImage&& other) noexcept;
    ~RasterImage() { release(); }

    // Bytes per row for a width; 0 for a width no image can have.
    static int32_t strideFor(int32_t width);

    // An owned image; its pixels are zero (black). False, without pixels, for
    // a negative size or one whose pixel block cannot be (or should not be)
    // allocated. A 0 x 0 image is valid and has no pixel bytes.
    bool create(int width, int height);
    // An owned copy of `height` rows of `width` pixels in this layout.
    bool createCopy(int width, int height, const uint8_t* rows);
    // A view on someone else's pixels in this layout; nothing is copied.
    void attach(int width, int height, uint8_t* memory);
    void release();

    int width() const { return width_; }
    int height() const { return height_; }
    int32_t stride() const { return stride_; }
    bool hasPixels() const { return pixels_ != nullptr; }
    bool borrowed() const { return borrowed_; }

    // The first byte of row y; checks nothing.
    uint8_t* row(int y) { return pixels_ + static_cast<ptrdiff_t>(y) * stride_; }
    const uint8_t* row(int y) const { return pixels_ + static_cast<ptrdiff_t>(y) * stride_; }
    // Checks nothing.
    Rgb pixel(int x, int y) const {
        const uint8_t* p = row(y) + static_cast<ptrdiff_t>(x) * kBytesPerPixel;
        return Rgb{p[0], p[1], p[2]};
    }

    // A rectangle is shifted (not cut) at the left and top edges and cut at
    // the right and bottom edges.
    void fillRect(int x, int y, int w, int h, Rgb colour);
    void fill(Rgb colour);

    // Draws `source` resampled (Lanczos where it grows, area average where it
    // shrinks) into the w x h rectangle whose top-left corner is (x, y).
    // False when nothing could be drawn.
    bool drawScaled(int x, int y, unsigned w, unsigned h, const RasterImage& source);
    // Box blur of the given radius (1..10; larger is 10, smaller does
    // nothing). When the new pixel block cannot be had the picture stays as
    // it was: a sheet without soft shadows is still a sheet. `stop`, when
    // given and set by another thread, ends the blur between rows and leaves
    // the picture as it was (on a large sheet the blur takes a noticeable
    // time, and the sheet of a stopped capture is never used).
    void boxBlur(int16_t radius, const std::atomic<bool>* stop = nullptr);

    // Draws UTF-8 text in `font` and `colour`, with a black outline when
    // asked, laid out from the box's left edge and its top (or with
    // `alignBottom` its bottom) edge, and cut to the box and the picture. A
    // font that cannot be found draws nothing.
    void drawText(std::string_view text, const TextBox& box, TextFlags flags, bool outline,
                  const FontDescription& font, Rgb colour);

    // Writers. Each writes a temporary file beside the target and moves it
    // into place only when everything was written; false, with `error`
    // naming the file and the reason, otherwise. With `CreateNew` an
    // existing file, also one that appears while the sheet is written, is
    // never replaced. `stop`, when given and set by another thread, ends
    // the writing between rows (a large PNG takes a second): the target is
    // then left as it was, no temporary file stays, and the writer fails.
    using WriteMode = AtomicFile::Mode;
    // 24 bits a pixel, rows from the bottom up and padded to four bytes, as
    // the format has them; the 40-byte information header.
    bool saveBmp(const std::string& path, std::string* error = nullptr,
                 WriteMode mode = WriteMode::Replace,
                 const std::atomic<bool>* stop = nullptr) const;
    bool saveJpeg(const std::string& path, int quality, bool progressive,
                  std::string* error = nullptr, WriteMode mode = WriteMode::Replace,
                  const std::atomic<bool>* stop = nullptr) const;
    bool savePng(const std::string& path, std::string* error = nullptr,
                 WriteMode mode = WriteMode::Replace,
                 const std::atomic<bool>* stop = nullptr) const;

private:
    void reset();

    int width_ = 0;
    int height_ = 0;
    int32_t stride_ = 0;
    bool borrowed_ = false;
    uint8_t* pixels_ = nullptr;
};
