// Resampling and blur at the sizes a contact sheet uses. Each scaling runs
// twice: through drawScaled and through the per-sample reference of the render
// tests, so the two can be compared within one run.

#include <random>

#include <benchmark/benchmark.h>

#include "render/raster_image.h"
#include "tests/render/reference_resampler.h"

namespace {

RasterImage noise(int width, int height) {
    RasterImage image;
    image.create(width, height);
    std::mt19937 random(width * 7919 + height);
    for (int row = 0; row < height; ++row) {
        uint8_t* p = image.row(row);
        for (int i = 0; i < width * 3; ++i)
            p[i] = static_cast<uint8_t>(random());
    }
    return image;
}

void draw(benchmark::State& state, bool fast, int sourceWidth, int sourceHeight, unsigned w,
          unsigned h) {
    const RasterImage source = noise(sourceWidth, sourceHeight);
    RasterImage sheet;
    sheet.create(static_cast<int>(w) + 40, static_cast<int>(h) + 40);
    for (auto _ : state) {
        const bool drawn = fast ? sheet.drawScaled(20, 20, w, h, source)
                                : reference::drawScaled(sheet, 20, 20, w, h, source);
        benchmark::DoNotOptimize(drawn);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
}

void drawScaled(benchmark::State& state, int sourceWidth, int sourceHeight, unsigned w,
                unsigned h) {
    draw(state, true, sourceWidth, sourceHeight, w, h);
}

void perSample(benchmark::State& state, int sourceWidth, int sourceHeight, unsigned w, unsigned h) {
    draw(state, false, sourceWidth, sourceHeight, w, h);
}

void boxBlur(benchmark::State& state) {
    RasterImage sheet = noise(791, 655);
    for (auto _ : state) {
        sheet.boxBlur(static_cast<int16_t>(state.range(0)));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 791 * 655);
}

} // namespace

BENCHMARK_CAPTURE(drawScaled, area_1920x1080_to_156x88, 1920, 1080, 156, 88)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(perSample, area_1920x1080_to_156x88, 1920, 1080, 156, 88)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(drawScaled, lanczos_100x75_to_156x117, 100, 75, 156, 117)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(perSample, lanczos_100x75_to_156x117, 100, 75, 156, 117)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(drawScaled, mixed_320x100_to_156x117, 320, 100, 156, 117)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(perSample, mixed_320x100_to_156x117, 320, 100, 156, 117)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(boxBlur)->Arg(3)->Unit(benchmark::kMicrosecond);
