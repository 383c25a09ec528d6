#pragma once
// Pieces of the resampler that its tests and benchmarks need besides the
// public RasterImage operations. Nothing here owns memory.

#include <cstdint>

#include "render/raster_image.h"

namespace resample {

// Kernel support, in source pixels, on each side of a sample.
constexpr float kSupport = 6.0f;

// The source position of destination pixel `index` (centre mapping, so the
// footprints of a row tile the source from -0.5 to size - 0.5). Shared by the
// fast path and the per-sample path so both see bit-identical positions.
inline float sourcePosition(int64_t index, float scale) {
    return (static_cast<float>(index) + 0.5f) * scale - 0.5f;
}

// What `RasterImage::drawScaled` computes, obtained by calling `sampleLanczos`
// or `sampleArea` for every destination pixel. Slow; the fast path is measured
// and tested against it.
bool drawScaledPerSample(RasterImage& dest, int x, int y, unsigned w, unsigned h,
                         const RasterImage& source);

} // namespace resample
