#pragma once
// Reads back the BMP sheets the capture writes, for tests.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct SheetPicture {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> pixels; // bottom-up rows, blue-green-red

    // Picture rows from the top, as the layout counts them.
    const uint8_t* at(int x, int y) const {
        return pixels.data() + static_cast<size_t>(height - 1 - y) * stride + 3 * x;
    }
    // (r, g, b) packed as 0xRRGGBB.
    uint32_t rgb(int x, int y) const {
        const uint8_t* p = at(x, y);
        return (p[2] << 16) | (p[1] << 8) | p[0];
    }
};

inline bool readBmp(const std::string& path, SheetPicture& pic) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), {}};
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M')
        return false;
    auto le32 = [&](size_t at) {
        return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                    (static_cast<uint32_t>(b[at + 3]) << 24));
    };
    pic.width = le32(18);
    pic.height = le32(22);
    pic.stride = (pic.width * 3 + 3) / 4 * 4;
    if (b.size() != 54 + static_cast<size_t>(pic.stride) * pic.height)
        return false;
    pic.pixels.assign(b.begin() + 54, b.end());
    return true;
}
