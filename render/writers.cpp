// BMP, JPEG and PNG writers.
//
// Every writer goes through AtomicFile: the bytes go to a temporary file beside
// the target, which replaces the target only when everything was written, so a
// failure never leaves a half-written or emptied file behind (a device is
// written in place and never removed). libjpeg and libpng report errors by
// calling back into us; both callbacks leave with longjmp, so the code between
// setjmp and the library calls lives in functions that hold no object with a
// destructor.

#include "render/raster_image.h"

#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <png.h>

#include "platform/fs/atomic_file.h"

namespace {

bool stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

constexpr const char* kStoppedReason = "the writing was stopped";

bool fail(std::string* error, std::string message) {
    if (error)
        *error = std::move(message);
    return false;
}

void putLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void putLe32(uint8_t* p, uint32_t v) {
    putLe16(p, v & 0xffff);
    putLe16(p + 2, v >> 16);
}

// The reason a library gave, completed with the system's reason when the
// failure came from writing the stream.
std::string libraryReason(const char* message, std::FILE* stream, int writeErrno) {
    std::string reason = message[0] ? message : "unknown error";
    if (stream && std::ferror(stream) && writeErrno != 0)
        reason += std::string(" (") + std::strerror(writeErrno) + ")";
    return reason;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// ---- JPEG ----------------------------------------------------------------

struct JpegErrors {
    jpeg_error_mgr library; // first, so libjpeg's pointer to it is a pointer to us
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo) {
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings and traces are not printed: this program writes nothing to stderr.
void jpegOutputMessage(j_common_ptr) {}

// Compresses `image` into `out`, top row first. False with `message`
// (JMSG_LENGTH_MAX bytes) holding libjpeg's reason.
bool compressJpeg(const RasterImage& image, int quality, bool progressive, std::FILE* out,
                  char* message, const std::atomic<bool>* stop) {
    jpeg_compress_struct cinfo;
    JpegErrors errors;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = jpegErrorExit;
    errors.library.output_message = jpegOutputMessage;
    errors.message[0] = '\0';
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
        return false;
    }

    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.density_unit = 1; // dots per inch
    cinfo.X_density = RasterImage::kDotsPerInch;
    cinfo.Y_density = RasterImage::kDotsPerInch;
    jpeg_start_compress(&cinfo, TRUE);

    while (cinfo.next_scanline < cinfo.image_height) {
        if (stopped(stop)) {
            jpeg_destroy_compress(&cinfo);
            std::snprintf(message, JMSG_LENGTH_MAX, "%s", kStoppedReason);
            return false;
        }
        // The rows are in the order and layout libjpeg reads; it only reads
        // them, though its interface does not say so.
        JSAMPROW rows[1] = {const_cast<JSAMPROW>(image.row(static_cast<int>(cinfo.next_scanline)))};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// ---- PNG -----------------------------------------------------------------

constexpr size_t kPngMessageSize = 256;

struct PngErrors {
    char message[kPngMessageSize];
};

void pngError(png_structp png, png_const_charp text) {
    PngErrors* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
    std::snprintf(errors->message, sizeof errors->message, "%s", text ? text : "");
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Compresses `image` into `out` as 8-bit RGB with its resolution in pHYs.
// False with `message` (kPngMessageSize bytes) holding libpng's reason.
bool compressPng(const RasterImage& image, std::FILE* out, char* message,
                 const std::atomic<bool>* stop) {
    PngErrors errors;
    errors.message[0] = '\0';
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, pngError, pngWarning);
    if (!png) {
        std::snprintf(message, kPngMessageSize, "libpng could not be started");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(message, kPngMessageSize, "libpng could not be started");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::snprintf(message, kPngMessageSize, "%s", errors.message);
        return false;
    }

    png_init_io(png, out);
    const png_uint_32 width = static_cast<png_uint_32>(image.width());
    const png_uint_32 height = static_cast<png_uint_32>(image.height());
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Dots per inch as dots per metre, the only unit PNG knows: 96 gives 3780.
    const auto dotsPerMetre =
        static_cast<png_uint_32>(std::lround(RasterImage::kDotsPerInch / 0.0254));
    png_set_pHYs(png, info, dotsPerMetre, dotsPerMetre, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (png_uint_32 y = 0; y < height; ++y) {
        if (stopped(stop)) {
            png_destroy_write_struct(&png, &info);
            std::snprintf(message, kPngMessageSize, "%s", kStoppedReason);
            return false;
        }
        png_write_row(png, image.row(static_cast<int>(y)));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Runs a library's compressor into a safely replaced file. `compress` writes
// to the stream and, on failure, leaves the library's reason in a buffer of
// kLibraryMessageSize bytes.
constexpr size_t kLibraryMessageSize =
    JMSG_LENGTH_MAX > kPngMessageSize ? JMSG_LENGTH_MAX : kPngMessageSize;

template <typename Compress>
bool writeThroughLibrary(const std::string& path, AtomicFile::Mode mode, std::string* error,
                         const std::atomic<bool>* stop, Compress compress) {
    AtomicFile file;
    if (!file.open(path, mode))
        return fail(error, file.error());
    char message[kLibraryMessageSize] = {};
    errno = 0;
    if (!compress(file.stream(), message)) {
        const int writeErrno = errno;
        if (stopped(stop))
            return fail(error, "Cannot write " + path + ": " + kStoppedReason);
        return fail(error, "Cannot write " + path + ": " +
                               libraryReason(message, file.stream(), writeErrno));
    }
    // The last chance to leave the target as it was.
    if (stopped(stop))
        return fail(error, "Cannot write " + path + ": " + kStoppedReason);
    if (!file.commit())
        return fail(error, file.error());
    return true;
}

} // namespace

bool RasterImage::saveBmp(const std::string& path, std::string* error, WriteMode mode,
                          const std::atomic<bool>* stop) const {
    if (!pixels_)
        return fail(error, "Cannot write " + path + ": the picture has no pixels");

    // Every image that could be made fits these 32-bit fields (raster_image.cpp);
    // the arithmetic is 64-bit up to there.
    const auto fileRowBytes =
        static_cast<uint32_t>((static_cast<uint64_t>(width_) * 3u + 3u) / 4u * 4u);
    const auto imageBytes =
        static_cast<uint32_t>(static_cast<uint64_t>(fileRowBytes) * static_cast<uint64_t>(height_));
    constexpr uint32_t kFileHeaderBytes = 14;
    constexpr uint32_t kInfoHeaderBytes = 40;

    uint8_t fileHeader[kFileHeaderBytes] = {'B', 'M'};
    putLe32(fileHeader + 2, kFileHeaderBytes + kInfoHeaderBytes + imageBytes);
    putLe32(fileHeader + 10, kFileHeaderBytes + kInfoHeaderBytes);

    // The resolution fields stay 0 (unstated), the colour table empty.
    uint8_t info[kInfoHeaderBytes] = {};
    putLe32(info + 0, kInfoHeaderBytes);
    putLe32(info + 4, static_cast<uint32_t>(width_));
    putLe32(info + 8, static_cast<uint32_t>(height_)); // positive: bottom row first
    putLe16(info + 12, 1);                             // planes
    putLe16(info + 14, 24);                            // bits per pixel
    putLe32(info + 16, 0);                             // no compression
    putLe32(info + 20, imageBytes);

    std::unique_ptr<uint8_t, FreeDeleter> fileRow(
        static_cast<uint8_t*>(std::calloc(fileRowBytes == 0 ? 1 : fileRowBytes, 1)));
    if (!fileRow)
        return fail(error, "Cannot write " + path + ": not enough memory");

    AtomicFile file;
    if (!file.open(path, mode))
        return fail(error, file.error());
    if (!file.write(fileHeader, sizeof fileHeader) || !file.write(info, sizeof info))
        return fail(error, file.error());
    for (int y = height_ - 1; y >= 0; --y) {
        if (stopped(stop))
            return fail(error, "Cannot write " + path + ": " + kStoppedReason);
        // Blue, green, red; the padding stays zero.
        const uint8_t* from = row(y);
        uint8_t* to = fileRow.get();
        for (int x = 0; x < width_; ++x, from += kBytesPerPixel, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
        if (!file.write(fileRow.get(), fileRowBytes))
            return fail(error, file.error());
    }
    if (stopped(stop))
        return fail(error, "Cannot write " + path + ": " + kStoppedReason);
    if (!file.commit())
        return fail(error, file.error());
    return true;
}

bool RasterImage::saveJpeg(const std::string& path, int quality, bool progressive,
                           std::string* error, WriteMode mode,
                           const std::atomic<bool>* stop) const {
    if (!pixels_ || width_ <= 0 || height_ <= 0)
        return fail(error, "Cannot write " + path + ": the picture is empty");
    return writeThroughLibrary(path, mode, error, stop, [&](std::FILE* out, char* message) {
        return compressJpeg(*this, quality, progressive, out, message, stop);
    });
}

bool RasterImage::savePng(const std::string& path, std::string* error, WriteMode mode,
                          const std::atomic<bool>* stop) const {
    if (!pixels_ || width_ <= 0 || height_ <= 0)
        return fail(error, "Cannot write " + path + ": the picture is empty");

    return writeThroughLibrary(path, mode, error, stop, [&](std::FILE* out, char* message) {
        return compressPng(*this, out, message, stop);
    });
}
