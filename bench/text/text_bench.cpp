// Cost of the text on a sheet: one time stamp per frame, and the information
// block once per sheet. The fill of the same sheet is the yardstick.
#include <benchmark/benchmark.h>

#include <cstring>

#include "render/raster_image.h"

namespace {

constexpr const char* kInfo = "File Name\t: clip.avi\nAverage FPS\t: 25.00\n"
                              "Resolution\t: 720x576\nDuration\t: 00:01:40";

LOGFONTA sheetFont() {
    LOGFONTA f{};
    f.lfHeight = -11;
    f.lfWeight = FW_BOLD;
    f.lfPitchAndFamily = 0x22;
    std::strcpy(f.lfFaceName, "Arial");
    return f;
}

RasterImage sheet() {
    RasterImage image;
    image.create(791, 655);
    image.fill(238, 242, 247);
    return image;
}

void BM_FillSheet(benchmark::State& state) {
    RasterImage image = sheet();
    for (auto _ : state) {
        image.fill(238, 242, 247);
        benchmark::DoNotOptimize(image.pixels);
    }
}
BENCHMARK(BM_FillSheet);

// What a call costs when it copies the sheet out and back in around the
// drawing, as drawing through a separate device bitmap does.
void BM_SheetCopyThereAndBack(benchmark::State& state) {
    RasterImage image = sheet();
    RasterImage device;
    device.create(791, 655);
    for (auto _ : state) {
        std::memcpy(device.pixels, image.pixels, image.header.biSizeImage);
        benchmark::DoNotOptimize(device.pixels);
        std::memcpy(image.pixels, device.pixels, image.header.biSizeImage);
        benchmark::DoNotOptimize(image.pixels);
    }
}
BENCHMARK(BM_SheetCopyThereAndBack);

void BM_TimeStamp(benchmark::State& state) {
    RasterImage image = sheet();
    const LOGFONTA font = sheetFont();
    // A different stamp each time, as every frame has its own time.
    char stamp[] = "01:02:03.45";
    int n = 0;
    for (auto _ : state) {
        stamp[7] = static_cast<char>('0' + n % 10);
        stamp[9] = static_cast<char>('0' + (n / 10) % 10);
        ++n;
        RECT rect{13, 10, 163, 127};
        image.drawText(stamp, rect, DT_SINGLELINE | DT_BOTTOM, true, font, RGB(255, 255, 255));
        benchmark::DoNotOptimize(image.pixels);
    }
}
BENCHMARK(BM_TimeStamp);

void BM_InformationBlock(benchmark::State& state) {
    RasterImage image = sheet();
    const LOGFONTA font = sheetFont();
    for (auto _ : state) {
        RasterImage scratch;
        scratch.create(0, 0);
        RECT rect{0, 0, 0, 0};
        scratch.drawText(kInfo, rect, DT_CALCRECT | DT_EXPANDTABS, true, font, 0);
        RECT place{10, 655 - 10 - rect.bottom, 10 + rect.right, 655 - 10};
        image.drawText(kInfo, place, DT_EXPANDTABS, false, font, 0);
        benchmark::DoNotOptimize(image.pixels);
    }
}
BENCHMARK(BM_InformationBlock);

} // namespace

BENCHMARK_MAIN();
