#include "capture/grabber_callback.h"

#include <cstdio>

#include "capture/layout.h"

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
    const Options& o = *options;
    const int64_t cells = static_cast<int64_t>(o.columns) * o.rows;
    if (!sheet || !buffer || cell < 0 || cell >= cells)
        return media::S_OK;
    const int32_t k = cell;
    // One frame per cell: a second delivery for the same moment is ignored.
    cell = -1;

    // A buffer shorter than a whole frame is not read at all.
    const int64_t needed = static_cast<int64_t>(RasterImage::strideFor(videoWidth)) * videoHeight;
    if (length < needed)
        return media::S_OK;

    RasterImage frame;
    frame.attach(videoWidth, videoHeight, buffer);

    const int column = k % o.columns;
    const int row = k / o.columns;
    const float x =
        static_cast<float>((o.spacingX + static_cast<double>(thumbWidth)) * column + o.spacingX);
    const double y = (o.spacingY + static_cast<double>(thumbHeight)) * row + gridTop + o.spacingY;

    RECT stamp{truncToInt(x + 3.0), truncToInt(y), truncToInt(x + thumbWidth - 3.0),
               truncToInt(y + thumbHeight)};
    sheet->drawScaled(truncToInt(x), truncToInt(y), static_cast<unsigned>(thumbWidth),
                      static_cast<unsigned>(thumbHeight), frame);
    if (o.timeStampsEnabled)
        sheet->drawText(timeText(sampleTime), stamp, DT_SINGLELINE | DT_BOTTOM, true, o.font,
                        o.textColor);
    frame.release();
    return media::S_OK;
}
