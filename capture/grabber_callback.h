#pragma once
// Draws each delivered movie frame into its cell of the sheet and stamps its
// time on it.
//
// The callback lives in the capture run's scope for the whole run and points
// at the run's sheet, layout and settings copy; it owns nothing. The run tells
// it which cell the next frame is for before every moment, so a moment that
// delivers no frame leaves only its own cell black.

#include <cstdint>
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
};
