#include "tests/support/pattern.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace testmovies {

namespace {

constexpr double kTwoPi = 6.283185307179586;

uint8_t clampByte(float v) {
    return static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f);
}

// Coverage of a pixel by an edge at signed distance `inside` (pixels inside
// the shape are positive): a one-pixel ramp keeps edges smooth.
float coverage(double inside) {
    return static_cast<float>(std::clamp(inside + 0.5, 0.0, 1.0));
}

} // namespace

PleasantPainter::PleasantPainter(int width, int height, int noise)
    : width_(width), height_(height), noise_(std::clamp(noise, 0, 64)),
      columnTable_(static_cast<size_t>(width) * 3), rowTable_(static_cast<size_t>(height) * 3) {
    if (noise_ > 0) {
        tileW_ = width_ + 64;
        tileH_ = height_ + 64;
        tile_.resize(static_cast<size_t>(tileW_) * tileH_);
        std::mt19937 random(20240611u);
        std::uniform_int_distribution<int> value(-noise_, noise_);
        for (int8_t& v : tile_)
            v = static_cast<int8_t>(value(random));
    }
}

void PleasantPainter::paint(uint8_t* rgb, double seconds, double total) {
    gradient(rgb, seconds);
    if (noise_ > 0)
        texture(rgb, static_cast<int>(std::lround(seconds * 25.0)));

    static const float colours[4][3] = {
        {255, 196, 120}, {120, 214, 255}, {255, 138, 186}, {176, 250, 160}};
    const double w = width_, h = height_;
    for (int i = 0; i < 4; ++i) {
        const double cx = w * (0.5 + 0.36 * std::sin(seconds * (0.41 + 0.13 * i) + 1.7 * i));
        const double cy = h * (0.55 + 0.28 * std::sin(seconds * (0.57 + 0.09 * i) + 0.9 * i + 0.4));
        const double radius = h * (0.09 + 0.025 * std::sin(seconds * 0.8 + i));
        disc(rgb, cx, cy, radius, colours[i], 0.72f);
    }
    clock(rgb, seconds);
    progress(rgb, total > 0 ? std::clamp(seconds / total, 0.0, 1.0) : 0.0);
}

void PleasantPainter::gradient(uint8_t* rgb, double t) {
    // Each channel is a sum of a wave across and a wave down, both drifting
    // with time at different speeds: the colours slowly flow over the frame.
    static const double base[3] = {105, 92, 150};
    static const double speedX[3] = {0.071, -0.053, 0.089};
    static const double speedY[3] = {-0.061, 0.077, -0.043};
    static const double phase[3] = {0.0, 0.33, 0.66};
    for (int x = 0; x < width_; ++x) {
        const double u = static_cast<double>(x) / width_;
        for (int c = 0; c < 3; ++c)
            columnTable_[3 * x + c] = static_cast<float>(
                base[c] + 70.0 * std::sin(kTwoPi * (0.8 * u + speedX[c] * t + phase[c])));
    }
    for (int y = 0; y < height_; ++y) {
        const double v = static_cast<double>(y) / height_;
        for (int c = 0; c < 3; ++c)
            rowTable_[3 * y + c] = static_cast<float>(
                50.0 * std::sin(kTwoPi * (0.6 * v + speedY[c] * t + 0.5 * phase[c])));
    }
    for (int y = 0; y < height_; ++y) {
        uint8_t* p = rgb + static_cast<size_t>(y) * width_ * 3;
        const float* row = &rowTable_[3 * y];
        const float* column = columnTable_.data();
        for (int x = 0; x < width_ * 3; x += 3) {
            p[x] = clampByte(column[x] + row[0]);
            p[x + 1] = clampByte(column[x + 1] + row[1]);
            p[x + 2] = clampByte(column[x + 2] + row[2]);
        }
    }
}

void PleasantPainter::texture(uint8_t* rgb, int frameNumber) {
    const int dx = (frameNumber * 3) % 64, dy = (frameNumber * 2) % 64;
    for (int y = 0; y < height_; ++y) {
        uint8_t* p = rgb + static_cast<size_t>(y) * width_ * 3;
        const int8_t* n = &tile_[static_cast<size_t>(y + dy) * tileW_ + dx];
        for (int x = 0; x < width_; ++x, p += 3) {
            const int v = n[x];
            p[0] = static_cast<uint8_t>(std::clamp(p[0] + v, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(p[1] + v, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(p[2] + v, 0, 255));
        }
    }
}

void PleasantPainter::blend(uint8_t* p, const float colour[3], float alpha) {
    if (alpha <= 0.0f)
        return;
    for (int c = 0; c < 3; ++c)
        p[c] = clampByte(p[c] + (colour[c] - p[c]) * alpha);
}

void PleasantPainter::disc(uint8_t* rgb, double cx, double cy, double radius, const float colour[3],
                           float opacity) {
    const int x0 = std::max(0, static_cast<int>(cx - radius - 2));
    const int x1 = std::min(width_ - 1, static_cast<int>(cx + radius + 2));
    const int y0 = std::max(0, static_cast<int>(cy - radius - 2));
    const int y1 = std::min(height_ - 1, static_cast<int>(cy + radius + 2));
    for (int y = y0; y <= y1; ++y) {
        uint8_t* row = rgb + static_cast<size_t>(y) * width_ * 3;
        for (int x = x0; x <= x1; ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            // A lighter rim and a slightly darker middle give the discs depth.
            const float shade = static_cast<float>(0.85 + 0.15 * d / radius);
            const float tinted[3] = {colour[0] * shade, colour[1] * shade, colour[2] * shade};
            blend(row + 3 * x, tinted, coverage(radius - d) * opacity);
        }
    }
}

void PleasantPainter::clock(uint8_t* rgb, double t) {
    // A seconds hand, once round per minute, on a dark face with twelve ticks.
    const double r = height_ * 0.14;
    const double cx = width_ - r * 1.4, cy = r * 1.4;
    const double angle = kTwoPi * std::fmod(t, 60.0) / 60.0;
    const double hx = std::sin(angle), hy = -std::cos(angle);
    const double handLength = r * 0.86, handHalf = std::max(1.0, r * 0.045);
    static const float face[3] = {20, 24, 40};
    static const float white[3] = {250, 248, 240};
    static const float accent[3] = {255, 120, 90};
    const int x0 = std::max(0, static_cast<int>(cx - r - 3));
    const int x1 = std::min(width_ - 1, static_cast<int>(cx + r + 3));
    const int y0 = std::max(0, static_cast<int>(cy - r - 3));
    const int y1 = std::min(height_ - 1, static_cast<int>(cy + r + 3));
    for (int y = y0; y <= y1; ++y) {
        uint8_t* row = rgb + static_cast<size_t>(y) * width_ * 3;
        for (int x = x0; x <= x1; ++x) {
            uint8_t* p = row + 3 * x;
            const double px = x + 0.5 - cx, py = y + 0.5 - cy;
            const double d = std::hypot(px, py);
            blend(p, face, coverage(r - d) * 0.55f);
            blend(p, white, coverage(r * 0.035 - std::abs(d - r)));
            if (d > r * 0.78 && d < r * 0.95) {
                const double a = std::atan2(px, -py);
                const double tick = std::round(a / (kTwoPi / 12)) * (kTwoPi / 12);
                blend(p, white, coverage(r * 0.03 - d * std::abs(std::sin(a - tick))));
            }
            // Distance to the hand, a segment from the centre along (hx, hy).
            const double along = std::clamp(px * hx + py * hy, 0.0, handLength);
            const double off = std::hypot(px - along * hx, py - along * hy);
            blend(p, accent, coverage(handHalf - off));
            blend(p, white, coverage(r * 0.07 - d));
        }
    }
}

void PleasantPainter::progress(uint8_t* rgb, double fraction) {
    const int barH = std::max(2, height_ / 40);
    const int y0 = height_ - 2 * barH;
    const int x0 = width_ / 20, x1 = width_ - width_ / 20;
    const double filled = x0 + (x1 - x0) * fraction;
    static const float track[3] = {0, 0, 0};
    static const float bar[3] = {255, 255, 255};
    for (int y = y0; y < y0 + barH && y < height_; ++y) {
        uint8_t* row = rgb + static_cast<size_t>(y) * width_ * 3;
        for (int x = x0; x < x1; ++x) {
            blend(row + 3 * x, track, 0.35f);
            blend(row + 3 * x, bar, coverage(filled - (x + 0.5)) * 0.9f);
        }
    }
}

} // namespace testmovies
