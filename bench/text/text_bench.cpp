// Cost of the text on a sheet: one time stamp per frame, and the information
// block once per sheet. The fill of the same sheet is the yardstick.
#include <benchmark/benchmark.h>

#include <cstring>

#include "render/raster_image.h"

namespace {

constexpr const char* kInfo = "File Name\t: clip.avi\nAverage FPS\t: 25.00\n"
                              "Resolution\t: 720x576\nDuration\t: 00:01:40";

constexpr Rgb kBackground{238, 242, 247};

FontDescription sheetFont() {
    FontDescription f;
    f.face = "Arial";
    f.height = -11;
    f.weight = 700;
    f.kind = FontKind::Sans;
    return f;
}

RasterImage sheet() {
    RasterImage image;
    image.create(791, 655);
    image.fill(kBackground);
    return image;
}

void BM_FillSheet(benchmark::State& state) {
    RasterImage image = sheet();
    for (auto _ : state) {
        image.fill(kBackground);
        benchmark::DoNotOptimize(image.row(0));
    }
}
BENCHMARK(BM_FillSheet);

// What a call costs when it copies the sheet out and back in around the
// drawing, as drawing through a separate device bitmap does.
void BM_SheetCopyThereAndBack(benchmark::State& state) {
    RasterImage image = sheet();
    RasterImage device;
    device.create(791, 655);
    const size_t bytes = static_cast<size_t>(image.stride()) * static_cast<size_t>(image.height());
    for (auto _ : state) {
        std::memcpy(device.row(0), image.row(0), bytes);
        benchmark::DoNotOptimize(device.row(0));
        std::memcpy(image.row(0), device.row(0), bytes);
        benchmark::DoNotOptimize(image.row(0));
    }
}
BENCHMARK(BM_SheetCopyThereAndBack);

void BM_TimeStamp(benchmark::State& state) {
    RasterImage image = sheet();
    const FontDescription font = sheetFont();
    // A different stamp each time, as every frame has its own time.
    char stamp[] = "01:02:03.45";
    int n = 0;
    for (auto _ : state) {
        stamp[7] = static_cast<char>('0' + n % 10);
        stamp[9] = static_cast<char>('0' + (n / 10) % 10);
        ++n;
        image.drawText(stamp, TextBox{13, 10, 163, 127},
                       TextFlags{.singleLine = true, .alignBottom = true}, true, font,
                       Rgb{255, 255, 255});
        benchmark::DoNotOptimize(image.row(0));
    }
}
BENCHMARK(BM_TimeStamp);

void BM_InformationBlock(benchmark::State& state) {
    RasterImage image = sheet();
    const FontDescription font = sheetFont();
    const TextFlags flags{.expandTabs = true};
    for (auto _ : state) {
        const TextSize size = measureText(kInfo, flags, font);
        const TextBox place{10, 655 - 10 - size.height, 10 + size.width, 655 - 10};
        image.drawText(kInfo, place, flags, false, font, Rgb{0, 0, 0});
        benchmark::DoNotOptimize(image.row(0));
    }
}
BENCHMARK(BM_InformationBlock);

} // namespace

BENCHMARK_MAIN();
