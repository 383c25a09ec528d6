#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>

#include <gtest/gtest.h>

RasterImage randomImage(int width, int height, uint32_t seed) {
    RasterImage image;
    EXPECT_TRUE(image.create(width, height));
    std::mt19937 random(seed);
    for (int row = 0; row < height; ++row) {
        uint8_t* p = image.row(row);
        for (int i = 0; i < width * 3; ++i)
            p[i] = static_cast<uint8_t>(random());
    }
    return image;
}

RasterImage testCard(int width, int height) {
    RasterImage image;
    EXPECT_TRUE(image.create(width, height));
    image.fill(Rgb{128, 128, 128});
    static const Rgb bars[7] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                {255, 0, 255},   {255, 0, 0},   {0, 0, 255}};
    const int third = height / 3;
    for (int b = 0; b < 7; ++b) {
        const int x0 = b * width / 7;
        image.fillRect(x0, 0, (b + 1) * width / 7 - x0, third, bars[b]);
    }
    // Middle: a circle on the left, one-pixel lines, then a checkerboard.
    const int cx = width / 6;
    const int cy = height / 2;
    const int radius = std::max(1, std::min(width / 8, third / 2 - 1));
    for (int y = third; y < 2 * third; ++y) {
        for (int x = 0; x < width; ++x) {
            const int dx = x - cx;
            const int dy = y - cy;
            if (dx * dx + dy * dy <= radius * radius)
                image.fillRect(x, y, 1, 1, Rgb{250, 200, 30});
            else if (x >= width / 3 && x < 2 * width / 3)
                image.fillRect(x, y, 1, 1, x % 2 ? Rgb{255, 255, 255} : Rgb{0, 0, 0});
            else if (x >= 2 * width / 3 && ((x / 4 + y / 4) % 2) == 0)
                image.fillRect(x, y, 1, 1, Rgb{20, 20, 20});
        }
    }
    // Bottom: a ramp from black to white.
    for (int y = 2 * third; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t v = static_cast<uint8_t>(width > 1 ? 255 * x / (width - 1) : 0);
            image.fillRect(x, y, 1, 1, Rgb{v, v, v});
        }
    }
    const int mark = std::max(1, std::min(width, height) / 16);
    image.fillRect(0, 0, mark, mark, Rgb{255, 0, 0});
    image.fillRect(0, height - mark, mark, mark, Rgb{0, 0, 255});
    return image;
}

int maxChannelDifference(const RasterImage& a, const RasterImage& b) {
    EXPECT_EQ(a.width(), b.width());
    EXPECT_EQ(a.height(), b.height());
    int worst = 0;
    for (int row = 0; row < a.height(); ++row) {
        const uint8_t* p = a.row(row);
        const uint8_t* q = b.row(row);
        for (int i = 0; i < a.width() * 3; ++i)
            worst = std::max(worst, std::abs(int{p[i]} - int{q[i]}));
    }
    return worst;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

bool isCharacterDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

void keepForInspection(const RasterImage& image, const std::string& name) {
    std::string error;
    EXPECT_TRUE(image.savePng(name + ".png", &error)) << error;
}
