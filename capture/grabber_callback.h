#pragma once
// Draws each delivered movie frame into its cell of the sheet and stamps its
// time on it.
//
// The callback lives in the capture run's scope for the whole run and points
// at the run's sheet, layout and settings copy; it owns nothing but a copy of
// a held-back frame. The run tells it which cell the next frame is for before
// every moment, so a moment that delivers no frame leaves only its own cell
// black.

#include <cstdint>
#include <limits>
#include <string>

#include "capture/capture.h"
#include "capture/layout.h"
#include "platform/media/graph.h"
#include "render/raster_image.h"
#include "settings/options.h"

// "hh:mm:ss.cc" for a time in seconds, each part truncated toward zero.
std::string timeText(double seconds);

class GrabberCallback : public media::SampleGrabberCB {
public:
    media::Result BufferCB(double sampleTime, uint8_t* buffer, long length) override;

    // Scales the frame into the cell, stamps `seconds` on it and tells the
    // progress; the cell is then taken.
    void drawFrame(int32_t k, double seconds, const RasterImage& frame);
    // Draws the nearly uniform frame kept for the current cell, if any.
    void drawHeldBack();

    // Size of every delivered frame buffer.
    int32_t videoWidth = 0;
    int32_t videoHeight = 0;
    // Frames delivered so far, drawn or not.
    int32_t delivered = 0;
    // The cell the next frame goes to; -1 draws nothing.
    int32_t cell = -1;
    RasterImage* sheet = nullptr;
    const SheetLayout* layout = nullptr;
    const Options* options = nullptr;
    // Hears of every frame before it is drawn; may be null.
    CaptureProgress* progress = nullptr;

    // Looking past blank frames: a nearly uniform frame, or one later than
    // `latestSeconds`, is not drawn; the first nearly uniform one of a cell
    // is kept (see `drawHeldBack`). With `judgeOnly` nothing is drawn or kept.
    bool skipUniform = false;
    bool judgeOnly = false;
    double latestSeconds = std::numeric_limits<double>::infinity();
    // What the last delivery was, while looking.
    struct Judgement {
        bool arrived = false;
        double seconds = 0;
        bool uniform = false;
    } judged;

private:
    RasterImage heldBack_;
    double heldBackSeconds_ = 0;
    int32_t heldBackCell_ = -1;
};
