#include "capture/blank_frame.h"

#include <algorithm>
#include <array>
#include <cstdint>

int luminanceSpread(const RasterImage& frame) {
    const int w = frame.width();
    const int h = frame.height();
    if (!frame.hasPixels() || w <= 0 || h <= 0)
        return 0;
    // About 64k samples on an even grid tell the spread as well as every
    // pixel of a large frame does, at a fraction of the reads.
    int step = 1;
    while (static_cast<int64_t>(w / step) * (h / step) > 65536)
        ++step;
    std::array<int64_t, 256> histogram{};
    int64_t count = 0;
    // The grid starts at the bottom row: which pixels are sampled can tip a
    // frame near the limit, and these are the ones the limit was set with.
    for (int fromBottom = step / 2; fromBottom < h; fromBottom += step) {
        const uint8_t* line = frame.row(h - 1 - fromBottom);
        for (int x = step / 2; x < w; x += step) {
            const uint8_t* p = line + 3 * x;
            const int luma = (77 * p[0] + 150 * p[1] + 29 * p[2] + 128) >> 8;
            ++histogram[static_cast<size_t>(luma)];
            ++count;
        }
    }
    const int64_t cut = count / 50;
    auto level = [&](int64_t rank) {
        int64_t seen = 0;
        for (int v = 0; v < 256; ++v) {
            seen += histogram[static_cast<size_t>(v)];
            if (seen > rank)
                return v;
        }
        return 255;
    };
    return level(count - 1 - cut) - level(cut);
}
