#pragma once
// The resampler's definition, as far as drawScaled's fast path and the
// per-sample reference it is tested and measured against must agree bit for
// bit: where a destination pixel samples the source, the kernel and its
// window, and how a filtered value becomes a byte. Not part of the library's
// interface; only render's own code, its tests and its benchmark include this.

#include <cmath>
#include <cstdint>

namespace resample {

// Kernel support, in source pixels, on each side of a sample.
constexpr float kSupport = 6.0f;
// A Lanczos window covers the columns px - 5 ... px + 6 around px = floor(x).
constexpr int kTaps = 12;
constexpr int kTapsBefore = 5;

// The source position of destination pixel `index` (centre mapping, so the
// footprints of a row tile the source from -0.5 to size - 0.5).
inline float sourcePosition(int64_t index, float scale) {
    return (static_cast<float>(index) + 0.5f) * scale - 0.5f;
}

// Lanczos kernel with support `a`, evaluated with the single-precision pi.
float lanczosWeight(float x, float a);

// The first tap of the Lanczos window around `pos` over `size` source pixels;
// false when the window lies wholly outside (or `pos` is not a number).
inline bool lanczosWindow(float pos, int size, int& first) {
    const double base = std::floor(static_cast<double>(pos));
    if (!(base + (kTaps - kTapsBefore - 1) >= 0 && base - kTapsBefore < size))
        return false;
    first = static_cast<int>(base) - kTapsBefore;
    return true;
}

// A Lanczos result rounds to the nearest byte; an area average truncates.
// Both clamp to 0..255 and turn NaN into 0.
inline uint8_t roundToByte(float v) {
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<uint8_t>(v + 0.5f);
}

inline uint8_t truncateToByte(float v) {
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<uint8_t>(v);
}

} // namespace resample
