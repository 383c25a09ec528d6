#pragma once
// The one picture type: a 24-bit, bottom-up, blue-green-red bitmap whose header
// has the device-independent-bitmap layout, rows padded to 4 bytes, 96 dpi.
//
// Ownership: an image made by `create` owns its pixel block and frees it in
// `release` (or its destructor; a second release does nothing). An image made
// by `attach` borrows the caller's memory and never frees it. Images move but
// are never copied. `boxBlur` replaces the owned block with a new one.
//
// Coordinates: `pixel` and the blur count memory rows from the bottom;
// `fillRect`, `fill`, `drawScaled` and `drawText` count picture rows from the
// top. A single pixel travels as 0x00RRGGBB; painting takes separate red,
// green and blue bytes.
//
// Nothing here reads the live settings: the caller passes the font, colour and
// JPEG parameters, so a capture can work on its own copy of the settings.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs/atomic_file.h"
#include "platform/types/win_types.h"

struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biPlanes) == 12);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36);

struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// Text format flags, with the values the settings' platform gave them.
constexpr uint32_t DT_TOP = 0x0000;
constexpr uint32_t DT_LEFT = 0x0000;
constexpr uint32_t DT_BOTTOM = 0x0008;
constexpr uint32_t DT_SINGLELINE = 0x0020;
constexpr uint32_t DT_EXPANDTABS = 0x0040;
constexpr uint32_t DT_CALCRECT = 0x0400;

class RasterImage {
public:
    RasterImage() = default;
    RasterImage(const RasterImage&) = delete;
    RasterImage& operator=(const RasterImage&) = delete;
    RasterImage(RasterImage&& other) noexcept;
    RasterImage& operator=(RasterImage&& other) noexcept;
    ~RasterImage() { release(); }

    // Bytes per row for a width: three per pixel, rounded up to four.
    static int32_t strideFor(int32_t width);

    // An owned image; its pixels are zero. False, with `pixels` null, for a
    // negative size or one whose pixel block cannot be (or should not be)
    // allocated. A 0 x 0 image is valid and has no pixel bytes.
    bool create(int width, int height);
    // A view on someone else's pixels in this layout; nothing is copied.
    void attach(int width, int height, uint8_t* memory);
    void release();

    int width() const { return header.biWidth; }
    int height() const { return header.biHeight; }

    // Memory-row access; checks nothing.
    uint32_t pixel(int x, int row) const;

    // Picture-row painting. A rectangle is shifted (not cut) at the left and
    // top edges and cut at the right and bottom edges.
    void fillRect(int x, int y, int w, int h, uint8_t red, uint8_t green, uint8_t blue);
    void fill(uint8_t red, uint8_t green, uint8_t blue);

    // Draws `source` resampled (Lanczos where it grows, area average where it
    // shrinks) into the w x h rectangle whose top-left corner is (x, y) in
    // picture rows. False when nothing could be drawn.
    bool drawScaled(int x, int y, unsigned w, unsigned h, const RasterImage& source);
    // Box blur of the given radius (1..10; larger is 10, smaller does
    // nothing). When the new pixel block cannot be had the picture stays as
    // it was: a sheet without soft shadows is still a sheet. `stop`, when
    // given and set by another thread, ends the blur between rows and leaves
    // the picture as it was (on a large sheet the blur takes a noticeable
    // time, and the sheet of a stopped capture is never used).
    void boxBlur(int16_t radius, const std::atomic<bool>* stop = nullptr);

    // Draws (or with DT_CALCRECT only measures, widening `rect`) UTF-8 text in
    // `font` and `textColor` (0x00BBGGRR), with a black outline when asked.
    // A font that cannot be found measures as empty and draws nothing.
    void drawText(std::string_view text, RECT& rect, uint32_t format, bool outline,
                  const LOGFONTA& font, COLORREF textColor);

    // Writers. Each writes a temporary file beside the target and moves it
    // into place only when everything was written; false, with `error`
    // naming the file and the reason, otherwise. With `CreateNew` an
    // existing file, also one that appears while the sheet is written, is
    // never replaced. `stop`, when given and set by another thread, ends
    // the writing between rows (a large PNG takes a second): the target is
    // then left as it was, no temporary file stays, and the writer fails.
    using WriteMode = AtomicFile::Mode;
    bool saveBmp(const std::string& path, std::string* error = nullptr,
                 WriteMode mode = WriteMode::Replace,
                 const std::atomic<bool>* stop = nullptr) const;
    bool saveJpeg(const std::string& path, int quality, bool progressive,
                  std::string* error = nullptr, WriteMode mode = WriteMode::Replace,
                  const std::atomic<bool>* stop = nullptr) const;
    bool savePng(const std::string& path, std::string* error = nullptr,
                 WriteMode mode = WriteMode::Replace,
                 const std::atomic<bool>* stop = nullptr) const;

    uint8_t borrowed = 0;
    BITMAPINFOHEADER header = {};
    int32_t stride = 0;
    int32_t dpiX = 0;
    int32_t dpiY = 0;
    uint8_t* pixels = nullptr;
};
