#pragma once
// The reference that RasterImage::drawScaled is tested and measured against:
// every destination pixel computed on its own, straight from the definition of
// the filters, with no tables and nothing shared between pixels. Slow, and
// meant to be: what it has in common with the fast path (source positions,
// the kernel and its window, rounding to bytes) comes from render/resample.h,
// so any difference between the two lies in how the fast path combines them.
//
// Source coordinates count rows from the picture's bottom edge up, as the fast
// path plans them, with pixel centres at integers.

#include <cstdint>

#include "render/raster_image.h"

namespace reference {

struct RectF {
    float left = 0;
    float top = 0;
    float right = 0;
    float bottom = 0;
    // The common part; a rectangle of zero width or height when the two only
    // touch, all zero when they are disjoint.
    RectF intersect(const RectF& other) const;
};

// The pixel in row `fromBottom` counted from the bottom, or white outside the
// image or when it has no pixels.
Rgb pixelOrWhite(const RasterImage& image, int x, int fromBottom);

// The Lanczos sample at (x, y): the 12 x 12 window around it, taps beyond the
// edge repeating the edge, normalised by the summed weight. White when the
// window lies wholly outside the image or a coordinate is not a number.
Rgb sampleLanczos(const RasterImage& source, float x, float y);

// The scaleX x scaleY footprint centred on (x, y), averaged by area and
// truncated. When both axes shrink, each source cell weighs by the part of it
// the footprint covers, cells outside the image reading white. When only one
// does, each cell contributes the Lanczos sample at the centre of its covered
// part instead. When neither does, this is sampleLanczos(x, y). White when a
// footprint edge is not a number or lies absurdly far out.
Rgb sampleArea(const RasterImage& source, float x, float y, float scaleX, float scaleY);

// What `dest.drawScaled(x, y, w, h, source)` draws, one sampler call per
// visible destination pixel; refuses the same empty rectangles and pictures.
bool drawScaled(RasterImage& dest, int x, int y, unsigned w, unsigned h, const RasterImage& source);

} // namespace reference
