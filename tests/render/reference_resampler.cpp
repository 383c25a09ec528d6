#include "reference_resampler.h"

#include <algorithm>
#include <cmath>

#include "render/resample.h"

namespace reference {

namespace {

constexpr Rgb kWhite{255, 255, 255};
// Footprint edges beyond this lie far outside any image; refusing them keeps
// the conversions to int defined for nonsense arguments.
constexpr double kFarAway = double(1 << 30);

void accumulate(Rgb color, float weight, float& red, float& green, float& blue) {
    red += weight * static_cast<float>(color.r);
    green += weight * static_cast<float>(color.g);
    blue += weight * static_cast<float>(color.b);
}

RectF cellOf(int column, int row) {
    const float x = static_cast<float>(column);
    const float y = static_cast<float>(row);
    return RectF{x - 0.5f, y - 0.5f, x + 0.5f, y + 0.5f};
}

} // namespace

RectF RectF::intersect(const RectF& other) const {
    const RectF r{std::max(left, other.left), std::max(top, other.top),
                  std::min(right, other.right), std::min(bottom, other.bottom)};
    if (r.left <= r.right && r.top <= r.bottom)
        return r;
    return RectF{};
}

Rgb pixelOrWhite(const RasterImage& image, int x, int fromBottom) {
    if (x < 0 || fromBottom < 0 || x >= image.width() || fromBottom >= image.height() ||
        !image.hasPixels())
        return kWhite;
    return image.pixel(x, image.height() - 1 - fromBottom);
}

Rgb sampleLanczos(const RasterImage& source, float x, float y) {
    using resample::kTaps;
    const int w = source.width();
    const int h = source.height();
    int firstX = 0;
    int firstY = 0;
    if (!source.hasPixels() || w <= 0 || h <= 0 || !resample::lanczosWindow(x, w, firstX) ||
        !resample::lanczosWindow(y, h, firstY))
        return kWhite;

    // Taps outside the image repeat its edge pixels, so a window that
    // straddles the edge gets neither a dark nor a light fringe; the weights
    // are normalised by their sum, so flat colour and same-size draws come
    // through unchanged.
    float wx[kTaps];
    int column[kTaps];
    for (int k = 0; k < kTaps; ++k) {
        wx[k] = resample::lanczosWeight(static_cast<float>(firstX + k) - x, resample::kSupport);
        column[k] = std::clamp(firstX + k, 0, w - 1);
    }
    float red = 0.0f, green = 0.0f, blue = 0.0f, total = 0.0f;
    for (int r = 0; r < kTaps; ++r) {
        const float wy =
            resample::lanczosWeight(static_cast<float>(firstY + r) - y, resample::kSupport);
        const int fromBottom = std::clamp(firstY + r, 0, h - 1);
        for (int k = 0; k < kTaps; ++k) {
            const float weight = wy * wx[k];
            accumulate(pixelOrWhite(source, column[k], fromBottom), weight, red, green, blue);
            total += weight;
        }
    }
    return Rgb{resample::roundToByte(red / total), resample::roundToByte(green / total),
               resample::roundToByte(blue / total)};
}

Rgb sampleArea(const RasterImage& source, float x, float y, float scaleX, float scaleY) {
    if (scaleX <= 1 && scaleY <= 1)
        return sampleLanczos(source, x, y);

    const RectF f{x - scaleX / 2, y - scaleY / 2, x + scaleX / 2, y + scaleY / 2};
    for (float edge : {f.left, f.top, f.right, f.bottom}) {
        if (!(std::fabs(static_cast<double>(edge)) < kFarAway))
            return kWhite;
    }
    const int i0 = static_cast<int>(std::floor(f.left + 0.5f));
    const int j0 = static_cast<int>(std::floor(f.top + 0.5f));
    const int i1 = static_cast<int>(std::floor(f.right + 0.5f));
    const int j1 = static_cast<int>(std::floor(f.bottom + 0.5f));

    float red = 0.0f, green = 0.0f, blue = 0.0f;
    if (scaleX > 1 && scaleY > 1) {
        const RectF a = cellOf(i0, j0).intersect(f);
        const RectF b = cellOf(i1, j1).intersect(f);
        const float leftW = a.right - a.left;
        const float topH = a.bottom - a.top;
        const float rightW = b.right - b.left;
        const float bottomH = b.bottom - b.top;
        const auto add = [&](int i, int j, float weight) {
            accumulate(pixelOrWhite(source, i, j), weight, red, green, blue);
        };
        add(i0, j0, leftW * topH);
        add(i1, j0, rightW * topH);
        add(i0, j1, leftW * bottomH);
        add(i1, j1, rightW * bottomH);
        for (int i = i0 + 1; i < i1; ++i) {
            add(i, j0, topH);
            add(i, j1, bottomH);
        }
        for (int j = j0 + 1; j < j1; ++j) {
            add(i0, j, leftW);
            add(i1, j, rightW);
        }
        for (int j = j0 + 1; j < j1; ++j) {
            for (int i = i0 + 1; i < i1; ++i)
                add(i, j, 1.0f);
        }
    } else {
        for (int j = j0; j <= j1; ++j) {
            for (int i = i0; i <= i1; ++i) {
                const RectF c = cellOf(i, j).intersect(f);
                const float area = (c.right - c.left) * (c.bottom - c.top);
                if (area == 0.0f)
                    continue;
                accumulate(sampleLanczos(source, (c.left + c.right) / 2, (c.top + c.bottom) / 2),
                           area, red, green, blue);
            }
        }
    }
    const float n = 1.0f / ((f.bottom - f.top) * (f.right - f.left));
    return Rgb{resample::truncateToByte(red * n), resample::truncateToByte(green * n),
               resample::truncateToByte(blue * n)};
}

bool drawScaled(RasterImage& dest, int x, int y, unsigned w, unsigned h,
                const RasterImage& source) {
    if (w == 0 || h == 0 || !dest.hasPixels())
        return false;
    if (!source.hasPixels() || source.width() <= 0 || source.height() <= 0)
        return false;
    const float scaleX = static_cast<float>(source.width()) / static_cast<float>(w);
    const float scaleY = static_cast<float>(source.height()) / static_cast<float>(h);

    // Source positions count the rectangle's rows from its bottom; its bottom
    // row is this row of `dest` counted from the bottom.
    const int64_t bottomRow = int64_t{dest.height()} - y - int64_t{h};
    const int64_t firstRow = std::max<int64_t>(bottomRow, 0);
    const int64_t endRow = std::min<int64_t>(bottomRow + h, dest.height());
    const int64_t firstColumn = std::max<int64_t>(x, 0);
    const int64_t endColumn = std::min<int64_t>(int64_t{x} + w, dest.width());
    for (int64_t row = firstRow; row < endRow; ++row) {
        const float srcY = resample::sourcePosition(row - bottomRow, scaleY);
        for (int64_t column = firstColumn; column < endColumn; ++column) {
            const float srcX = resample::sourcePosition(column - x, scaleX);
            const Rgb color = (scaleX <= 1 && scaleY <= 1)
                                  ? sampleLanczos(source, srcX, srcY)
                                  : sampleArea(source, srcX, srcY, scaleX, scaleY);
            dest.fillRect(static_cast<int>(column), static_cast<int>(dest.height() - 1 - row), 1, 1,
                          color);
        }
    }
    return true;
}

} // namespace reference
