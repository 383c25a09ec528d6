#pragma once
// Telling a frame with nothing to show — black, white, a fade, a flat title
// background — from a picture.
//
// The measure is the spread of the frame's luminance: the distance between
// the darkest and the brightest levels once the extreme 2 % at each end are
// set aside, so that film grain, coding noise and a small channel logo do not
// count as content, while a line of titles does.

#include "render/raster_image.h"

// Luminance (BT.601 weights, 0..255) spread between the 2nd and the 98th
// percentile of the frame's pixels; 0 for an empty frame.
int luminanceSpread(const RasterImage& frame);

// Frames whose spread is at most this are nearly uniform.
constexpr int kUniformSpread = 24;

inline bool isNearlyUniform(const RasterImage& frame) {
    return luminanceSpread(frame) <= kUniformSpread;
}
