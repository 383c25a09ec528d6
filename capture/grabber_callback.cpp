#include "capture/grabber_callback.h"

#include <cstdio>
#include <cstring>

#include "capture/blank_frame.h"

std::string timeText(double t) {
    const int hours = truncToInt(t * (1.0 / 3600.0));
    const double rest = t - hours * 3600.0;
    const int minutes = truncToInt(rest * (1.0 / 60.0));
    const double rest2 = rest - minutes * 60.0;
    const int seconds = truncToInt(rest2);
    const int hundredths = truncToInt((rest2 - seconds) * 100.0);
    char text[20];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%02d", hours, minutes, seconds, hundredths);
    return text;
}

media::Result GrabberCallback::BufferCB(double sampleTime, uint8_t* buffer, long length) {
    ++delivered;
    if (!sheet || !layout || !options || !buffer || cell < 0 || cell >= layout->cells)
        return media::S_OK;
    const int32_t k = cell;

    // A buffer shorter than a whole frame is not read at all.
    const int64_t needed = static_cast<int64_t>(RasterImage::strideFor(videoWidth)) * videoHeight;
    if (length < needed) {
        cell = -1;
        return media::S_OK;
    }

    RasterImage frame;
    frame.attach(videoWidth, videoHeight, buffer);
    if (skipUniform || judgeOnly) {
        judged = Judgement{true, sampleTime, isNearlyUniform(frame)};
        const bool late = sampleTime > latestSeconds;
        if (judgeOnly || late || judged.uniform) {
            if (!judgeOnly && !late && judged.uniform && heldBackCell_ != k &&
                heldBack_.create(videoWidth, videoHeight)) {
                std::memcpy(heldBack_.pixels, buffer, static_cast<size_t>(needed));
                heldBackSeconds_ = sampleTime;
                heldBackCell_ = k;
            }
            frame.release();
            return media::S_OK;
        }
    }
    drawFrame(k, sampleTime, frame);
    frame.release();
    return media::S_OK;
}

void GrabberCallback::drawFrame(int32_t k, double seconds, const RasterImage& frame) {
    // One frame per cell: a second delivery for the same moment is ignored.
    cell = -1;
    const CellRect box = layout->cellAt(k);
    if (progress)
        progress->frameArrived(k, seconds, frame);
    sheet->drawScaled(box.x, box.y, static_cast<unsigned>(box.width),
                      static_cast<unsigned>(box.height), frame);
    if (options->timeStampsEnabled) {
        const CellRect s = SheetLayout::stampOf(box);
        RECT stamp{s.x, s.y, s.x + s.width, s.y + s.height};
        sheet->drawText(timeText(seconds), stamp, DT_SINGLELINE | DT_BOTTOM, true, options->font,
                        options->textColor);
    }
}

void GrabberCallback::drawHeldBack() {
    if (cell < 0 || heldBackCell_ != cell || !heldBack_.pixels)
        return;
    drawFrame(cell, heldBackSeconds_, heldBack_);
    heldBack_.release();
    heldBackCell_ = -1;
}
