// Resampling and blur.
//
// `drawScaled` enlarges with a Lanczos filter, reduces by area average, and
// where one axis shrinks while the other grows averages Lanczos samples taken
// inside each footprint by the area they stand for. Computed one destination
// pixel at a time that is slow (the render tests keep such a per-sample
// version as their reference), but the filters are separable: this code
// computes each axis's taps and weights once per destination column and once
// per destination row, with no kernel evaluation per pixel. The Lanczos and
// mixed paths filter each source row they need once across (keeping the
// filtered rows in a small cache) and combine those rows down; the area path,
// which reduces and so reads far more source than it writes, first sums the
// source rows of each destination row down, over contiguous bytes, and then
// across. The mixed path clamps and rounds every inner Lanczos sample before
// weighting it by area, so it keeps those inner samples as a grid of their
// own instead of folding the two stages into one filter.

#include "render/raster_image.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "render/pixel_block.h"
#include "render/resample.h"

namespace {

using resample::kTaps;
using resample::lanczosWindow;
using resample::roundToByte;
using resample::truncateToByte;

// The single-precision pi; at non-zero integers the kernel is tiny, not zero.
constexpr float kPi = 3.14159274f;

// An array on the heap whose allocation failure is reported, not thrown.
template <class T> class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { std::free(data_); }

    bool allocate(size_t count) {
        std::free(data_);
        data_ = nullptr;
        if (count > std::numeric_limits<size_t>::max() / sizeof(T))
            return false;
        data_ = static_cast<T*>(std::malloc(count == 0 ? sizeof(T) : count * sizeof(T)));
        return data_ != nullptr;
    }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    T* data() { return data_; }

private:
    T* data_ = nullptr;
};

// How one destination axis reads one source axis: for every output element a
// run of taps (source index, weight), plus the summed weight of the positions
// outside the source, which read as white. Repeated taps of one element (edge
// clamping) are merged and zero weights dropped; neither changes the sum.
class AxisFilter {
public:
    bool reserve(size_t elements, size_t taps) {
        count_ = 0;
        tapCount_ = 0;
        return begin_.allocate(elements + 1) && index_.allocate(taps) && weight_.allocate(taps) &&
               white_.allocate(elements) && total_.allocate(elements);
    }
    void beginElement() {
        begin_[count_] = tapCount_;
        white_[count_] = 0.0f;
        total_[count_] = 0.0f;
    }
    void addTap(int64_t index, int64_t size, float weight) {
        if (weight == 0.0f)
            return;
        total_[count_] += weight;
        if (index < 0 || index >= size) {
            white_[count_] += weight;
        } else if (tapCount_ > begin_[count_] && index_[tapCount_ - 1] == index) {
            weight_[tapCount_ - 1] += weight;
        } else {
            index_[tapCount_] = static_cast<int32_t>(index);
            weight_[tapCount_] = weight;
            ++tapCount_;
        }
    }
    void endElement() {
        ++count_;
        begin_[count_] = tapCount_;
    }

    // The Lanczos sample at `pos`: its twelve taps, clamped to the edge and
    // normalised by their sum, or white when the window lies wholly outside.
    void addLanczosElement(float pos, int size) {
        beginElement();
        int first = 0;
        if (!lanczosWindow(pos, size, first)) {
            addTap(-1, size, 1.0f);
        } else {
            float weights[kTaps];
            float sum = 0.0f;
            for (int k = 0; k < kTaps; ++k) {
                weights[k] = resample::lanczosWeight(static_cast<float>(first + k) - pos,
                                                     resample::kSupport);
                sum += weights[k];
            }
            for (int k = 0; k < kTaps; ++k)
                addTap(std::clamp(first + k, 0, size - 1), size, weights[k] / sum);
        }
        endElement();
    }

    // Turns every tap's index i into size - 1 - i: the same filter counted
    // from the other end of the axis.
    void mirror(int size) {
        for (int32_t t = 0; t < tapCount_; ++t)
            index_[t] = size - 1 - index_[t];
    }

    int count() const { return count_; }
    int32_t begin(int e) const { return begin_[e]; }
    int32_t end(int e) const { return begin_[e + 1]; }
    int32_t index(int32_t t) const { return index_[t]; }
    float weight(int32_t t) const { return weight_[t]; }
    float white(int e) const { return white_[e]; }
    float total(int e) const { return total_[e]; }

private:
    int count_ = 0;
    int32_t tapCount_ = 0;
    Scratch<int32_t> begin_;
    Scratch<int32_t> index_;
    Scratch<float> weight_;
    Scratch<float> white_;
    Scratch<float> total_;
};

// The footprint of destination pixel `d` along one axis and the source cells
// that hold its two ends (a cell reaches half a pixel either side of its
// centre, so the cell of an edge is the edge rounded half up).
struct Footprint {
    float low;
    float high;
    int64_t first;
    int64_t last;
};

Footprint footprintOf(int64_t d, float scale) {
    const float centre = resample::sourcePosition(d, scale);
    Footprint f;
    f.low = centre - scale / 2;
    f.high = centre + scale / 2;
    f.first = static_cast<int64_t>(std::floor(f.low + 0.5f));
    f.last = static_cast<int64_t>(std::floor(f.high + 0.5f));
    return f;
}

// One destination axis: the destination pixels `first` ... `first + count - 1`
// of the rectangle, resampled from `size` source pixels at `scale`.
struct AxisPlan {
    AxisFilter filter;           // taps of each destination pixel, or of each inner point
    Scratch<int32_t> groupBegin; // mixed path: the inner points of each destination pixel
    Scratch<float> pointWeight;  // mixed path: the footprint length each inner point covers
    Scratch<float> span;         // area and mixed paths: the footprint length

    bool buildLanczos(int64_t first, int count, float scale, int size) {
        if (!filter.reserve(count, size_t(count) * kTaps))
            return false;
        for (int d = 0; d < count; ++d)
            filter.addLanczosElement(resample::sourcePosition(first + d, scale), size);
        return true;
    }

    bool buildArea(int64_t first, int count, float scale, int size) {
        size_t taps = 0;
        for (int d = 0; d < count; ++d) {
            const Footprint f = footprintOf(first + d, scale);
            taps += size_t(f.last - f.first + 1);
        }
        if (!filter.reserve(count, taps) || !span.allocate(count))
            return false;
        for (int d = 0; d < count; ++d) {
            const Footprint f = footprintOf(first + d, scale);
            const float firstCovered = std::min(static_cast<float>(f.first) + 0.5f, f.high) -
                                       std::max(static_cast<float>(f.first) - 0.5f, f.low);
            const float lastCovered = std::min(static_cast<float>(f.last) + 0.5f, f.high) -
                                      std::max(static_cast<float>(f.last) - 0.5f, f.low);
            filter.beginElement();
            filter.addTap(f.first, size, firstCovered);
            for (int64_t i = f.first + 1; i < f.last; ++i)
                filter.addTap(i, size, 1.0f);
            filter.addTap(f.last, size, lastCovered);
            filter.endElement();
            span[d] = f.high - f.low;
        }
        return true;
    }

    bool buildMixed(int64_t first, int count, float scale, int size) {
        size_t points = 0;
        for (int d = 0; d < count; ++d) {
            const Footprint f = footprintOf(first + d, scale);
            points += size_t(f.last - f.first + 1);
        }
        if (!filter.reserve(points, points * kTaps) || !groupBegin.allocate(size_t(count) + 1) ||
            !pointWeight.allocate(points) || !span.allocate(count))
            return false;
        int32_t point = 0;
        for (int d = 0; d < count; ++d) {
            const Footprint f = footprintOf(first + d, scale);
            groupBegin[d] = point;
            for (int64_t i = f.first; i <= f.last; ++i) {
                const float low = std::max(static_cast<float>(i) - 0.5f, f.low);
                const float high = std::min(static_cast<float>(i) + 0.5f, f.high);
                const float covered = high - low;
                if (covered == 0.0f)
                    continue;
                filter.addLanczosElement((low + high) / 2, size);
                pointWeight[point++] = covered;
            }
            span[d] = f.high - f.low;
        }
        groupBegin[count] = point;
        return true;
    }
};

// Small fixed-size vectors (GCC and Clang): at -O2 the compiler does not
// vectorise loops of unknown length by itself, and these loops carry the
// resampler's cost. Loads and stores go through memcpy, so no alignment is
// assumed.
using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));
using U8x8 = uint8_t __attribute__((vector_size(8)));
using U16x8 = uint16_t __attribute__((vector_size(16)));

template <class V, class T> V load(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V, class T> void store(T* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

size_t roundUp(size_t n, size_t multiple) {
    return (n + multiple - 1) / multiple * multiple;
}

// Source rows filtered across by an AxisFilter, three floats (one per
// channel, in the pixels' order) per element, each row padded with zeros to
// a multiple of four floats. Destination rows walk the source in order, so a
// small direct-mapped cache serves nearly every request after the first; any
// run of taps that spans fewer than kSlots rows can be held at once.
class FilteredRows {
public:
    static constexpr int kSlots = 16;

    bool init(const AxisFilter& across, const RasterImage& source) {
        across_ = &across;
        source_ = &source;
        rowFloats_ = roundUp(size_t(across.count()) * 3, 4);
        if (!data_.allocate(rowFloats_ * (kSlots + 1)))
            return false;
        std::fill(data_.data(), data_.data() + rowFloats_ * (kSlots + 1), 0.0f);
        std::fill(tags_, tags_ + kSlots, -1);
        float* white = data_.data() + rowFloats_ * kSlots;
        for (int e = 0; e < across.count(); ++e)
            white[3 * e] = white[3 * e + 1] = white[3 * e + 2] = 255.0f * across.total(e);
        return true;
    }

    size_t rowFloats() const { return rowFloats_; }
    const float* white() { return data_.data() + rowFloats_ * kSlots; }

    const float* row(int32_t r) {
        const int slot = r & (kSlots - 1);
        float* out = data_.data() + rowFloats_ * size_t(slot);
        if (tags_[slot] != r) {
            filter(source_->row(r), out);
            tags_[slot] = r;
        }
        return out;
    }

private:
    void filter(const uint8_t* src, float* out) const {
        const AxisFilter& f = *across_;
        for (int e = 0; e < f.count(); ++e, out += 3) {
            const float white = 255.0f * f.white(e);
            float c0 = white, c1 = white, c2 = white;
            for (int32_t t = f.begin(e); t < f.end(e); ++t) {
                const uint8_t* p = src + 3 * f.index(t);
                const float w = f.weight(t);
                c0 += w * p[0];
                c1 += w * p[1];
                c2 += w * p[2];
            }
            out[0] = c0;
            out[1] = c1;
            out[2] = c2;
        }
    }

    const AxisFilter* across_ = nullptr;
    const RasterImage* source_ = nullptr;
    size_t rowFloats_ = 0;
    Scratch<float> data_;
    int32_t tags_[kSlots];
};

// Element `e` of `down` applied to the filtered rows: out = sum of weight *
// row, over rows.rowFloats() floats. The taps of one element are distinct
// rows inside one Lanczos window, so four of them never share a cache slot.
void filterDown(const AxisFilter& down, int e, FilteredRows& rows, float* out) {
    const size_t n = rows.rowFloats();
    const float white = down.white(e);
    const float* whiteRow = rows.white();
    for (size_t k = 0; k < n; k += 4)
        store(out + k, white * load<F4>(whiteRow + k));
    for (int32_t t = down.begin(e); t < down.end(e); t += 4) {
        const int m = std::min<int32_t>(4, down.end(e) - t);
        const float* row[4];
        float weight[4];
        for (int i = 0; i < 4; ++i) {
            row[i] = i < m ? rows.row(down.index(t + i)) : row[0];
            weight[i] = i < m ? down.weight(t + i) : 0.0f;
        }
        for (size_t k = 0; k < n; k += 4) {
            const F4 sum = weight[0] * load<F4>(row[0] + k) + weight[1] * load<F4>(row[1] + k) +
                           weight[2] * load<F4>(row[2] + k) + weight[3] * load<F4>(row[3] + k);
            store(out + k, load<F4>(out + k) + sum);
        }
    }
}

// The two halves of eight 16-bit values as floats.
F4 lowHalf(U16x8 v) {
    return __builtin_convertvector(
        __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1, 2, 3), I4), F4);
}
F4 highHalf(U16x8 v) {
    return __builtin_convertvector(
        __builtin_convertvector(__builtin_shufflevector(v, v, 4, 5, 6, 7), I4), F4);
}
U16x8 widen(const uint8_t* bytes) {
    return __builtin_convertvector(load<U8x8>(bytes), U16x8);
}

// out[k] = value for k < n.
void fillFloats(float* out, size_t n, float value) {
    size_t k = 0;
    for (; k + 4 <= n; k += 4)
        store(out + k, value - F4{});
    for (; k < n; ++k)
        out[k] = value;
}

// sums[k] += bytes[k] for k < n.
void addBytes(uint16_t* sums, const uint8_t* bytes, size_t n) {
    size_t k = 0;
    for (; k + 8 <= n; k += 8)
        store(sums + k, load<U16x8>(sums + k) + widen(bytes + k));
    for (; k < n; ++k)
        sums[k] = static_cast<uint16_t>(sums[k] + bytes[k]);
}

// sums[k] += entering[k] - leaving[k] for k < n (the sums stay in range).
void slideBytes(uint16_t* sums, const uint8_t* entering, const uint8_t* leaving, size_t n) {
    size_t k = 0;
    for (; k + 8 <= n; k += 8)
        store(sums + k, load<U16x8>(sums + k) + widen(entering + k) - widen(leaving + k));
    for (; k < n; ++k)
        sums[k] = static_cast<uint16_t>(sums[k] + entering[k] - leaving[k]);
}

// out[k] += weight * bytes[k] for k < n.
void addWeightedBytes(float* out, const uint8_t* bytes, size_t n, float weight) {
    size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const U16x8 v = widen(bytes + k);
        store(out + k, load<F4>(out + k) + weight * lowHalf(v));
        store(out + k + 4, load<F4>(out + k + 4) + weight * highHalf(v));
    }
    for (; k < n; ++k)
        out[k] += weight * bytes[k];
}

// out[k] += sums[k], then sums[k] = 0, for k < n.
void moveSums(float* out, uint16_t* sums, size_t n) {
    size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const U16x8 v = load<U16x8>(sums + k);
        store(out + k, load<F4>(out + k) + lowHalf(v));
        store(out + k + 4, load<F4>(out + k + 4) + highHalf(v));
        store(sums + k, U16x8{});
    }
    for (; k < n; ++k) {
        out[k] += sums[k];
        sums[k] = 0;
    }
}

} // namespace

float resample::lanczosWeight(float x, float a) {
    if (std::fabs(x) > a)
        return 0.0f;
    if (x == 0.0f)
        return 1.0f;
    const float p = kPi * x;
    const float q = p / a;
    return (std::sin(p) / p) * (std::sin(q) / q);
}

namespace {

// The part of the w x h rectangle at (x, y) that lies inside the destination:
// rectangle columns [colBegin, colEnd) and rectangle rows [rowBegin, rowEnd).
// Rectangle rows are counted from the rectangle's bottom edge up, and the
// source's rows from its bottom edge up too: the sampling positions and
// rounding are not symmetric, and this order is the one the sheets' pixels
// are pinned to. `bottomRow` is rectangle row 0 counted from the
// destination's bottom; `destColumn` is the destination's column of colBegin.
struct Visible {
    int64_t colBegin, colEnd, rowBegin, rowEnd, bottomRow, destColumn;
    bool empty() const { return colBegin >= colEnd || rowBegin >= rowEnd; }
};

Visible visiblePart(const RasterImage& dest, int x, int y, unsigned w, unsigned h) {
    Visible v;
    v.bottomRow = int64_t{dest.height()} - y - int64_t{h};
    v.colBegin = std::max<int64_t>(0, -int64_t{x});
    v.colEnd = std::min<int64_t>(w, int64_t{dest.width()} - x);
    v.rowBegin = std::max<int64_t>(0, -v.bottomRow);
    v.rowEnd = std::min<int64_t>(h, int64_t{dest.height()} - v.bottomRow);
    v.destColumn = x + v.colBegin;
    return v;
}

// The first byte to write of visible rectangle row r (counted from rowBegin).
uint8_t* destinationStart(RasterImage& dest, const Visible& v, int r) {
    const int64_t fromBottom = v.bottomRow + v.rowBegin + r;
    return dest.row(static_cast<int>(dest.height() - 1 - fromBottom)) + 3 * v.destColumn;
}

void storePixel(uint8_t* p, uint8_t c0, uint8_t c1, uint8_t c2) {
    p[0] = c0;
    p[1] = c1;
    p[2] = c2;
}

// The area path, rows first. For each destination row the source rows of its
// footprint are summed down over the source columns that any visible pixel
// reads (rows of whole weight as 16-bit integers, the two partial rows in
// floats); each destination pixel then sums its columns of that row.
bool drawAreaRowsFirst(RasterImage& dest, const Visible& v, const AxisPlan& across,
                       const AxisPlan& down, const RasterImage& source) {
    const AxisFilter& fx = across.filter;
    const AxisFilter& fy = down.filter;
    int32_t firstColumn = std::numeric_limits<int32_t>::max();
    int32_t lastColumn = -1;
    for (int c = 0; c < fx.count(); ++c) {
        if (fx.begin(c) < fx.end(c)) {
            firstColumn = std::min(firstColumn, fx.index(fx.begin(c)));
            lastColumn = std::max(lastColumn, fx.index(fx.end(c) - 1));
        }
    }
    const size_t n = lastColumn >= firstColumn ? size_t(lastColumn - firstColumn + 1) * 3 : 0;
    Scratch<uint16_t> wholeRows;
    Scratch<float> column;
    if (!wholeRows.allocate(n) || !column.allocate(n))
        return false;
    std::fill(wholeRows.data(), wholeRows.data() + n, uint16_t{0});
    // 257 rows of 255 still fit 16 bits.
    constexpr int kWholeRowsPerFlush = 65535 / 255;

    for (int r = 0; r < fy.count(); ++r) {
        fillFloats(column.data(), n, 255.0f * fy.white(r));
        int pending = 0;
        for (int32_t t = fy.begin(r); t < fy.end(r); ++t) {
            const uint8_t* src = source.row(fy.index(t)) + 3 * int64_t(firstColumn);
            if (fy.weight(t) == 1.0f) {
                addBytes(wholeRows.data(), src, n);
                if (++pending == kWholeRowsPerFlush) {
                    moveSums(column.data(), wholeRows.data(), n);
                    pending = 0;
                }
            } else {
                addWeightedBytes(column.data(), src, n, fy.weight(t));
            }
        }
        if (pending > 0)
            moveSums(column.data(), wholeRows.data(), n);

        // A column outside the source is white over the whole footprint height.
        const float whiteColumn = 255.0f * fy.total(r);
        uint8_t* out = destinationStart(dest, v, r);
        for (int c = 0; c < fx.count(); ++c) {
            const float white = whiteColumn * fx.white(c);
            float c0 = white, c1 = white, c2 = white;
            for (int32_t t = fx.begin(c); t < fx.end(c); ++t) {
                const float* p = column.data() + 3 * size_t(fx.index(t) - firstColumn);
                const float w = fx.weight(t);
                c0 += w * p[0];
                c1 += w * p[1];
                c2 += w * p[2];
            }
            const float scale = 1.0f / (down.span[r] * across.span[c]);
            storePixel(out + 3 * c, truncateToByte(c0 * scale), truncateToByte(c1 * scale),
                       truncateToByte(c2 * scale));
        }
    }
    return true;
}

} // namespace

bool RasterImage::drawScaled(int x, int y, unsigned w, unsigned h, const RasterImage& source) {
    if (w == 0 || h == 0 || !pixels_)
        return false;
    // A source without pixels has nothing to draw; the cell keeps what it holds.
    if (!source.hasPixels() || source.width() <= 0 || source.height() <= 0)
        return false;

    const float scaleX = static_cast<float>(source.width()) / static_cast<float>(w);
    const float scaleY = static_cast<float>(source.height()) / static_cast<float>(h);
    const Visible v = visiblePart(*this, x, y, w, h);
    if (v.empty())
        return true;
    const int columns = static_cast<int>(v.colEnd - v.colBegin);
    const int rows = static_cast<int>(v.rowEnd - v.rowBegin);

    enum class Path { Lanczos, Area, Mixed };
    const Path path = (scaleX <= 1 && scaleY <= 1) ? Path::Lanczos
                      : (scaleX > 1 && scaleY > 1) ? Path::Area
                                                   : Path::Mixed;
    AxisPlan across;
    AxisPlan down;
    bool planned = false;
    switch (path) {
    case Path::Lanczos:
        planned = across.buildLanczos(v.colBegin, columns, scaleX, source.width()) &&
                  down.buildLanczos(v.rowBegin, rows, scaleY, source.height());
        break;
    case Path::Area:
        planned = across.buildArea(v.colBegin, columns, scaleX, source.width()) &&
                  down.buildArea(v.rowBegin, rows, scaleY, source.height());
        break;
    case Path::Mixed:
        planned = across.buildMixed(v.colBegin, columns, scaleX, source.width()) &&
                  down.buildMixed(v.rowBegin, rows, scaleY, source.height());
        break;
    }
    if (!planned)
        return false;
    // Planned from the bottom up (see Visible); read in picture rows.
    down.filter.mirror(source.height());
    if (path == Path::Area)
        return drawAreaRowsFirst(*this, v, across, down, source);

    FilteredRows filtered;
    Scratch<float> sums;
    Scratch<float> totals;
    if (!filtered.init(across.filter, source) || !sums.allocate(filtered.rowFloats()) ||
        !totals.allocate(size_t(columns) * 3))
        return false;

    for (int r = 0; r < rows; ++r) {
        uint8_t* out = destinationStart(*this, v, r);
        if (path == Path::Lanczos) {
            filterDown(down.filter, r, filtered, sums.data());
            for (int c = 0; c < columns; ++c, out += 3)
                storePixel(out, roundToByte(sums[3 * c]), roundToByte(sums[3 * c + 1]),
                           roundToByte(sums[3 * c + 2]));
        } else {
            std::fill(totals.data(), totals.data() + size_t(columns) * 3, 0.0f);
            for (int32_t q = down.groupBegin[r]; q < down.groupBegin[r + 1]; ++q) {
                // One row of inner samples, each rounded like a Lanczos pixel,
                // then weighted by the area it stands for.
                filterDown(down.filter, q, filtered, sums.data());
                const float rowWeight = down.pointWeight[q];
                for (int c = 0; c < columns; ++c) {
                    float c0 = 0.0f, c1 = 0.0f, c2 = 0.0f;
                    for (int32_t p = across.groupBegin[c]; p < across.groupBegin[c + 1]; ++p) {
                        const float weight = across.pointWeight[p];
                        c0 += weight * roundToByte(sums[3 * p]);
                        c1 += weight * roundToByte(sums[3 * p + 1]);
                        c2 += weight * roundToByte(sums[3 * p + 2]);
                    }
                    totals[3 * c] += rowWeight * c0;
                    totals[3 * c + 1] += rowWeight * c1;
                    totals[3 * c + 2] += rowWeight * c2;
                }
            }
            for (int c = 0; c < columns; ++c, out += 3) {
                const float n = 1.0f / (down.span[r] * across.span[c]);
                storePixel(out, truncateToByte(totals[3 * c] * n),
                           truncateToByte(totals[3 * c + 1] * n),
                           truncateToByte(totals[3 * c + 2] * n));
            }
        }
    }
    return true;
}

void RasterImage::boxBlur(int16_t radius, const std::atomic<bool>* stop) {
    if (radius < 1 || !pixels_ || width_ <= 0 || height_ <= 0)
        return;
    const int r = std::min<int>(radius, 10);
    const int w = width();
    const int h = height();
    const uint32_t windowArea = uint32_t(2 * r + 1) * uint32_t(2 * r + 1);
    // S / d by multiplication: S stays below 2^17 and d below 2^9, so the
    // rounding error of the reciprocal never reaches the next integer.
    const uint64_t reciprocal = (uint64_t{1} << 32) / windowArea + 1;

    const size_t n = size_t(w) * 3;
    uint8_t* blurred = pixel_block::allocatePixelBlock(n * size_t(h));
    Scratch<uint16_t> columnSums; // at most 21 * 255, so 16 bits hold them
    if (!blurred || !columnSums.allocate(n)) {
        pixel_block::freePixelBlock(blurred);
        return; // nothing changed
    }

    const auto rowAt = [&](int y) { return row(std::clamp(y, 0, h - 1)); };
    // Sums of each column over the rows of the window, edge rows repeated;
    // moving down a row adds the row entering the window and takes away the
    // one leaving it.
    std::fill(columnSums.data(), columnSums.data() + n, uint16_t{0});
    for (int k = -r; k <= r; ++k)
        addBytes(columnSums.data(), rowAt(k), n);
    for (int y = 0; y < h; ++y) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            pixel_block::freePixelBlock(blurred);
            return;
        }
        if (y > 0)
            slideBytes(columnSums.data(), rowAt(y + r), rowAt(y - r - 1), n);
        // A running sum of the column sums along the row, edge columns repeated.
        const uint16_t* sums = columnSums.data();
        int32_t c0 = 0, c1 = 0, c2 = 0;
        for (int k = -r; k <= r; ++k) {
            const int at = 3 * std::clamp(k, 0, w - 1);
            c0 += sums[at];
            c1 += sums[at + 1];
            c2 += sums[at + 2];
        }
        uint8_t* out = blurred + size_t(y) * n;
        for (int column = 0; column < w; ++column, out += 3) {
            if (column > 0) {
                const int entering = 3 * std::min(column + r, w - 1);
                const int leaving = 3 * std::max(column - r - 1, 0);
                c0 += sums[entering] - sums[leaving];
                c1 += sums[entering + 1] - sums[leaving + 1];
                c2 += sums[entering + 2] - sums[leaving + 2];
            }
            out[0] = static_cast<uint8_t>((uint64_t(c0) * reciprocal) >> 32);
            out[1] = static_cast<uint8_t>((uint64_t(c1) * reciprocal) >> 32);
            out[2] = static_cast<uint8_t>((uint64_t(c2) * reciprocal) >> 32);
        }
    }

    if (borrowed_) {
        // Someone else's memory cannot be replaced; give it the result instead.
        std::memcpy(pixels_, blurred, n * size_t(h));
        pixel_block::freePixelBlock(blurred);
    } else {
        pixel_block::freePixelBlock(pixels_);
        pixels_ = blurred;
    }
}
