#pragma once
// Puts each moment's frame into its cell of the sheet and stamps it with the
// frame's own time; a moment without a picture gets a visible empty cell.
//
// Stamps: "hh:mm:ss.cc", cut from the frame's exact time. When that text is
// wider than a cell in the settings' font, the font is made smaller until it
// fits, down to a legible least size; below that the stamps are left out.
//
// Ownership: the painter points at the run's sheet, layout and settings copy
// for the run's length and owns nothing.

#include <cstdint>
#include <string>

#include "capture/capture.h"
#include "capture/layout.h"
#include "platform/media/movie_reader.h"
#include "platform/types/media_time.h"
#include "render/raster_image.h"
#include "settings/options.h"

// "hh:mm:ss.cc" of an exact time, each part truncated toward zero.
std::string timeText(const MediaTime& time);
// The same for a time in seconds, for moments that are no frame's time.
std::string timeText(double seconds);

// The picture as the renderer's image type: a copy of its rows, which are
// already in that layout. No pixels when the picture's bytes do not make up
// its size.
RasterImage toRasterImage(const media::Picture& picture);

// The smallest em height, in pixels, a stamp is drawn at.
constexpr int kSmallestStampPixels = 6;

class CellPainter {
public:
    CellPainter(RasterImage& sheet, const SheetLayout& layout, const Options& options,
                CaptureProgress& progress);

    // False when the stamps were wanted but cannot be legible in cells this
    // narrow: the sheet goes without them.
    bool stampsFit() const { return !stampsWanted_ || stampFits_; }

    // The moment-th cell gets the frame, stamped with its time.
    void drawFrame(int64_t moment, const media::Frame& frame);
    // The moment-th cell gets no picture: an outline in the text colour and
    // the moment's time with "no picture", on the background.
    void drawEmpty(int64_t moment, int64_t position);

private:
    void stamp(const CellRect& box, const std::string& text);

    RasterImage& sheet_;
    const SheetLayout& layout_;
    const Options& options_;
    CaptureProgress& progress_;
    bool stampsWanted_ = false;
    bool stampFits_ = true;
    FontDescription stampFont_;
};
