#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include "render/raster_image.h"
#include "test_support.h"

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

// A JPEG file decoded by libjpeg, top row first, red-green-blue.
struct DecodedJpeg {
    int width = 0;
    int height = 0;
    bool jfif = false;
    int densityUnit = -1;
    int xDensity = 0;
    int yDensity = 0;
    std::vector<uint8_t> rgb;
    uint32_t at(int x, int y) const {
        const uint8_t* p = &rgb[3 * (size_t(y) * width + x)];
        return (uint32_t{p[0]} << 16) | (p[1] << 8) | p[2];
    }
};

struct DecodeErrors {
    jpeg_error_mgr library;
    std::jmp_buf jump;
};

void decodeErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<DecodeErrors*>(cinfo->err)->jump, 1);
}

// Holds no object with a destructor between setjmp and libjpeg.
bool decodeInto(std::FILE* in, DecodedJpeg* out, uint8_t* (*grow)(DecodedJpeg*, size_t)) {
    jpeg_decompress_struct cinfo;
    DecodeErrors errors;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = decodeErrorExit;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, in);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out->width = int(cinfo.output_width);
    out->height = int(cinfo.output_height);
    out->jfif = cinfo.saw_JFIF_marker;
    out->densityUnit = cinfo.density_unit;
    out->xDensity = cinfo.X_density;
    out->yDensity = cinfo.Y_density;
    uint8_t* pixels = grow(out, size_t(cinfo.output_width) * cinfo.output_height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels + size_t(cinfo.output_scanline) * cinfo.output_width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool decodeJpeg(const std::string& path, DecodedJpeg& out) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    const bool ok = decodeInto(in, &out, [](DecodedJpeg* d, size_t n) {
        d->rgb.resize(n);
        return d->rgb.data();
    });
    std::fclose(in);
    return ok;
}

// The markers of a JPEG file up to its first scan.
std::vector<uint8_t> markersBeforeFirstScan(const std::vector<uint8_t>& b) {
    std::vector<uint8_t> markers;
    size_t at = 2; // after SOI
    while (at + 4 <= b.size() && b[at] == 0xFF) {
        markers.push_back(b[at + 1]);
        if (b[at + 1] == 0xDA)
            break;
        at += 2 + ((size_t{b[at + 2]} << 8) | b[at + 3]);
    }
    return markers;
}

bool contains(const std::vector<uint8_t>& v, uint8_t x) {
    return std::find(v.begin(), v.end(), x) != v.end();
}

// The data of the first chunk of a PNG file with this type.
std::vector<uint8_t> pngChunk(const std::vector<uint8_t>& b, const char* type) {
    size_t at = 8;
    while (at + 12 <= b.size()) {
        const uint32_t length = be32(b, at);
        if (std::memcmp(&b[at + 4], type, 4) == 0 && at + 8 + length <= b.size())
            return std::vector<uint8_t>(b.begin() + long(at + 8),
                                        b.begin() + long(at + 8 + length));
        at += 12 + length;
    }
    return {};
}

// Makes writes past `bytes` fail with EFBIG while it exists, like a full disk
// part-way through a file (root is not exempt from this limit).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedHandler_);
    }

private:
    rlimit saved_{};
    void (*savedHandler_)(int) = nullptr;
};

enum class Format { Bmp, Jpeg, Png };

bool save(const RasterImage& image, Format format, const std::string& path, std::string* error) {
    switch (format) {
    case Format::Bmp:
        return image.saveBmp(path, error);
    case Format::Jpeg:
        return image.saveJpeg(path, 90, false, error);
    case Format::Png:
        return image.savePng(path, error);
    }
    return false;
}

const char* nameOf(Format f) {
    return f == Format::Bmp ? "bmp" : f == Format::Jpeg ? "jpeg" : "png";
}

} // namespace

// ---- BMP ------------------------------------------------------------------------------

TEST(Bmp, OnePixelFileByteForByte) {
    TempDir dir;
    RasterImage image;
    ASSERT_TRUE(image.create(1, 1));
    image.fill(Rgb{0x30, 0x20, 0x10});
    ASSERT_TRUE(image.saveBmp(dir.file("a.bmp")));
    const std::vector<uint8_t> expected = {
        'B',  'M',  58,   0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                    // file header
        40,   0,    0,    0, 1, 0, 0, 0, 1, 0, 0,  0, 1, 0, 24, 0, 0, 0, 0, 0, // info header
        4,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0,
        0x10, 0x20, 0x30, 0}; // pixel, padding
    EXPECT_EQ(readFile(dir.file("a.bmp")), expected);
}

TEST(Bmp, RowsGoBottomUpAsBlueGreenRedPaddedToFourBytes) {
    TempDir dir;
    RasterImage image;
    ASSERT_TRUE(image.create(2, 2));
    image.fillRect(0, 0, 1, 1, Rgb{255, 0, 0});
    image.fillRect(1, 0, 1, 1, Rgb{0, 255, 0});
    image.fillRect(0, 1, 1, 1, Rgb{0, 0, 255});
    image.fillRect(1, 1, 1, 1, Rgb{1, 2, 3});
    ASSERT_TRUE(image.saveBmp(dir.file("c.bmp")));
    const std::vector<uint8_t> file = readFile(dir.file("c.bmp"));
    ASSERT_EQ(file.size(), 54u + 16u);
    const std::vector<uint8_t> pixels(file.begin() + 54, file.end());
    EXPECT_EQ(pixels, (std::vector<uint8_t>{255, 0, 0, 3, 2, 1, 0, 0, // bottom: blue, (1, 2, 3)
                                            0, 0, 255, 0, 255, 0, 0, 0})); // top: red, green
}

TEST(Bmp, SizesAndTheHeaderAndPixels) {
    TempDir dir;
    for (auto [w, h, size] : {std::tuple{5, 2, 86u}, {156, 117, 54810u}, {0, 0, 54u}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        const RasterImage image = randomImage(w, h, 21);
        ASSERT_TRUE(image.saveBmp(dir.file("b.bmp")));
        const std::vector<uint8_t> file = readFile(dir.file("b.bmp"));
        ASSERT_EQ(file.size(), size);
        const uint32_t rowBytes = (uint32_t(w) * 3 + 3) / 4 * 4;
        EXPECT_EQ(le32(file, 2), size);
        EXPECT_EQ(le32(file, 10), 54u);
        EXPECT_EQ(le32(file, 14), 40u);         // information header size
        EXPECT_EQ(le32(file, 18), uint32_t(w)); // width
        EXPECT_EQ(le32(file, 22), uint32_t(h)); // height, positive: bottom-up
        EXPECT_EQ(file[26] | file[27] << 8, 1); // planes
        EXPECT_EQ(file[28] | file[29] << 8, 24);
        EXPECT_EQ(le32(file, 30), 0u); // no compression
        EXPECT_EQ(le32(file, 34), rowBytes * uint32_t(h));
        for (size_t at = 38; at < 54; at += 4)
            EXPECT_EQ(le32(file, at), 0u) << at; // resolution unstated, no colour table
        for (int k = 0; k < h; ++k) {
            const uint8_t* row = &file[54 + size_t(k) * rowBytes];
            for (int x = 0; x < w; ++x) {
                const Rgb c = image.pixel(x, h - 1 - k);
                ASSERT_EQ((Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]}), c) << x << "," << k;
            }
            for (uint32_t pad = uint32_t(w) * 3; pad < rowBytes; ++pad)
                ASSERT_EQ(row[pad], 0) << "padding of file row " << k;
        }
    }
}

TEST(Bmp, AShorterFileReplacesALongerOne) {
    TempDir dir;
    const std::string path = dir.file("sheet.bmp");
    ASSERT_TRUE(randomImage(156, 117, 1).saveBmp(path));
    ASSERT_TRUE(randomImage(1, 1, 2).saveBmp(path));
    EXPECT_EQ(readFile(path).size(), 58u);
    EXPECT_EQ(dir.entries().size(), 1u) << "no temporary file is left";
}

// ---- JPEG -----------------------------------------------------------------------------

TEST(Jpeg, DecodesWithRedAtTheTopLeftAndTheRightDensity) {
    TempDir dir;
    RasterImage image;
    ASSERT_TRUE(image.create(32, 24));
    image.fill(Rgb{255, 255, 255});
    image.fillRect(0, 0, 8, 8, Rgb{255, 0, 0});
    std::string error;
    ASSERT_TRUE(image.saveJpeg(dir.file("red.jpg"), 90, false, &error)) << error;
    DecodedJpeg decoded;
    ASSERT_TRUE(decodeJpeg(dir.file("red.jpg"), decoded));
    EXPECT_EQ(decoded.width, 32);
    EXPECT_EQ(decoded.height, 24);
    const uint32_t topLeft = decoded.at(2, 2);
    EXPECT_GT(topLeft >> 16, 200u);
    EXPECT_LT((topLeft >> 8) & 0xff, 60u);
    EXPECT_LT(topLeft & 0xff, 60u);
    const uint32_t bottomLeft = decoded.at(2, 21);
    EXPECT_GT(bottomLeft & 0xff, 200u);
    EXPECT_GT(bottomLeft >> 16, 200u);
    EXPECT_TRUE(decoded.jfif);
    EXPECT_EQ(decoded.densityUnit, 1);
    EXPECT_EQ(decoded.xDensity, 96);
    EXPECT_EQ(decoded.yDensity, 96);
}

TEST(Jpeg, ProgressiveOrBaselineAndQualityFromZeroTo90) {
    TempDir dir;
    const RasterImage card = testCard(160, 120);
    for (bool progressive : {false, true}) {
        for (int quality : {0, 90}) {
            SCOPED_TRACE(testing::Message() << "progressive " << progressive << " q" << quality);
            const std::string path = dir.file("card.jpg");
            std::string error;
            ASSERT_TRUE(card.saveJpeg(path, quality, progressive, &error)) << error;
            const std::vector<uint8_t> markers = markersBeforeFirstScan(readFile(path));
            EXPECT_EQ(contains(markers, 0xC2), progressive);  // SOF2
            EXPECT_EQ(contains(markers, 0xC0), !progressive); // SOF0
            DecodedJpeg decoded;
            ASSERT_TRUE(decodeJpeg(path, decoded));
            EXPECT_EQ(decoded.width, 160);
            EXPECT_EQ(decoded.height, 120);
        }
    }
    ASSERT_TRUE(card.saveJpeg(dir.file("q0.jpg"), 0, false));
    ASSERT_TRUE(card.saveJpeg(dir.file("q90.jpg"), 90, false));
    EXPECT_LT(readFile(dir.file("q0.jpg")).size(), readFile(dir.file("q90.jpg")).size());
}

TEST(Jpeg, ALibraryErrorFailsTheWriteInsteadOfEndingTheProcess) {
    TempDir dir;
    const std::string path = dir.file("wide.jpg");
    writeFile(path, {'o', 'l', 'd'});
    RasterImage wide;
    ASSERT_TRUE(wide.create(70000, 1)); // beyond what JPEG can hold
    std::string error;
    EXPECT_FALSE(wide.saveJpeg(path, 90, false, &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("65500"), std::string::npos) << error; // libjpeg's own words
    EXPECT_EQ(readFile(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(dir.entries().size(), 1u);
}

// ---- PNG ------------------------------------------------------------------------------

TEST(Png, RoundTripIsExactAndStates96Dpi) {
    TempDir dir;
    const RasterImage image = randomImage(37, 23, 5);
    std::string error;
    ASSERT_TRUE(image.savePng(dir.file("r.png"), &error)) << error;

    png_image read{};
    read.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&read, dir.file("r.png").c_str()));
    EXPECT_EQ(read.width, 37u);
    EXPECT_EQ(read.height, 23u);
    read.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(read));
    ASSERT_TRUE(png_image_finish_read(&read, nullptr, rgb.data(), 0, nullptr));
    for (int y = 0; y < 23; ++y) {
        for (int x = 0; x < 37; ++x) {
            const uint8_t* p = &rgb[3 * (size_t(y) * 37 + x)];
            ASSERT_EQ((Rgb{p[0], p[1], p[2]}), image.pixel(x, y)) << x << "," << y;
        }
    }

    const std::vector<uint8_t> file = readFile(dir.file("r.png"));
    const std::vector<uint8_t> ihdr = pngChunk(file, "IHDR");
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(ihdr[8], 8); // bits per channel
    EXPECT_EQ(ihdr[9], 2); // RGB
    const std::vector<uint8_t> phys = pngChunk(file, "pHYs");
    ASSERT_EQ(phys.size(), 9u);
    EXPECT_EQ(be32(phys, 0), 3780u);
    EXPECT_EQ(be32(phys, 4), 3780u);
    EXPECT_EQ(phys[8], 1); // per metre
}

// ---- Every writer ---------------------------------------------------------------------

TEST(Writers, AMissingOrImpossibleFolderFailsAndTouchesNothing) {
    TempDir dir;
    writeFile(dir.file("plain"), {'k', 'e', 'e', 'p'});
    const RasterImage image = randomImage(20, 10, 3);
    for (Format format : {Format::Bmp, Format::Jpeg, Format::Png}) {
        SCOPED_TRACE(nameOf(format));
        for (const std::string& target : {dir.file("plain/sheet"), dir.file("missing/sheet")}) {
            std::string error;
            EXPECT_FALSE(save(image, format, target, &error));
            EXPECT_NE(error.find(target), std::string::npos) << error;
        }
    }
    EXPECT_EQ(readFile(dir.file("plain")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"plain"});
}

TEST(Writers, AWriteFailingHalfWayKeepsTheOldFile) {
    TempDir dir;
    const RasterImage image = randomImage(200, 200, 9); // every format well above the limit
    for (Format format : {Format::Bmp, Format::Jpeg, Format::Png}) {
        SCOPED_TRACE(nameOf(format));
        const std::string path = dir.file(std::string("sheet.") + nameOf(format));
        writeFile(path, {'o', 'l', 'd'});
        std::string error;
        bool saved = true;
        {
            FileSizeLimit limit(8192);
            saved = save(image, format, path, &error);
        }
        EXPECT_FALSE(saved);
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_EQ(readFile(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
        // With room again the same call succeeds.
        EXPECT_TRUE(save(image, format, path, &error)) << error;
        EXPECT_GT(readFile(path).size(), 8192u);
    }
    EXPECT_EQ(dir.entries().size(), 3u) << "no temporary file is left";
}

TEST(Writers, AStoppedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    TempDir dir;
    const RasterImage image = randomImage(120, 90, 6);
    std::atomic<bool> stop{true};
    for (const char* ext : {"bmp", "jpg", "png"}) {
        SCOPED_TRACE(ext);
        const std::string path = dir.file(std::string("sheet.") + ext);
        writeFile(path, {'o', 'l', 'd'});
        const auto write = [&](std::string* error) {
            const auto mode = RasterImage::WriteMode::Replace;
            if (ext[0] == 'b')
                return image.saveBmp(path, error, mode, &stop);
            if (ext[0] == 'j')
                return image.saveJpeg(path, 90, false, error, mode, &stop);
            return image.savePng(path, error, mode, &stop);
        };
        stop = true;
        std::string error;
        EXPECT_FALSE(write(&error));
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find("stopped"), std::string::npos) << error;
        EXPECT_EQ(readFile(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
        // A flag that is not set changes nothing.
        stop = false;
        EXPECT_TRUE(write(&error)) << error;
        EXPECT_GT(readFile(path).size(), 3u);
    }
    EXPECT_EQ(dir.entries().size(), 3u) << "no temporary file is left";
}

TEST(Writers, DevicesAreWrittenInPlaceAndNeverRemoved) {
    const RasterImage image = randomImage(64, 64, 4);
    for (Format format : {Format::Bmp, Format::Jpeg, Format::Png}) {
        SCOPED_TRACE(nameOf(format));
        std::string error;
        EXPECT_FALSE(save(image, format, "/dev/full", &error));
        EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
        EXPECT_TRUE(isCharacterDevice("/dev/full"));
        EXPECT_TRUE(save(image, format, "/dev/null", &error)) << error;
        EXPECT_TRUE(isCharacterDevice("/dev/null"));
    }
}

TEST(Writers, PicturesWithoutPixelsAreRefused) {
    TempDir dir;
    RasterImage none;
    RasterImage empty;
    ASSERT_TRUE(empty.create(0, 0));
    std::string error;
    EXPECT_FALSE(none.saveBmp(dir.file("a.bmp"), &error));
    EXPECT_FALSE(empty.saveJpeg(dir.file("a.jpg"), 90, false, &error));
    EXPECT_NE(error.find("a.jpg"), std::string::npos) << error;
    EXPECT_FALSE(empty.savePng(dir.file("a.png"), &error));
    EXPECT_TRUE(dir.entries().empty());
    // A 0 x 0 BMP is just its headers.
    EXPECT_TRUE(empty.saveBmp(dir.file("b.bmp"), &error));
    EXPECT_EQ(readFile(dir.file("b.bmp")).size(), 54u);
}
