#pragma once
// Turns a decoded frame into the picture a player shows: colours converted
// with the stream's own matrix, range and transfer (HDR tone-mapped to SDR
// BT.709), pixels stretched to their display aspect ratio, and the picture
// turned and mirrored as the display matrix says.
//
// Ownership: a PictureMaker owns its scaler and, for HDR, its filter graph,
// through unique_ptrs; it is used by one thread at a time (one per finder).

#include <cstdint>
#include <vector>

#include "platform/media/av_ptr.h"
#include "platform/media/graph.h"

namespace media::detail {

// Where a stored pixel goes: x' = a·x + c·y, y' = b·x + d·y, as FFmpeg's
// display matrix has it, reduced to the quarter turns and mirrors it can
// hold (each entry -1, 0 or 1). The identity keeps the picture as stored.
struct Orientation {
    int a = 1, b = 0, c = 0, d = 1;
    bool swapsAxes() const { return a == 0; }
    bool identity() const { return a == 1 && b == 0 && c == 0 && d == 1; }
};

// From a display matrix (nine 16.16 fixed-point values); null, or a turn
// that is no quarter turn, gives the identity.
Orientation orientationFrom(const int32_t* displayMatrix);

// Which YUV matrix an untagged picture of this height is taken to use:
// BT.601 below 720 lines, BT.709 from 720 lines up, as players decide.
AVColorSpace effectiveColorspace(AVColorSpace tagged, int height);
// PQ or HLG: the picture needs tone mapping to look right on an SDR sheet.
bool isHdrTransfer(AVColorTransferCharacteristic trc);

class PictureMaker {
public:
    // `width` × `height`: the display size before the orientation is applied
    // (the sample aspect ratio already taken into account).
    PictureMaker(int width, int height, Orientation orientation);
    ~PictureMaker();
    PictureMaker(const PictureMaker&) = delete;
    PictureMaker& operator=(const PictureMaker&) = delete;

    // Blue, green, red; rows bottom-up, each padded to a multiple of 4 bytes;
    // at the display size after orientation.
    Result make(const AVFrame* frame, std::vector<uint8_t>* pixels);

    int outputWidth() const { return orientation_.swapsAxes() ? height_ : width_; }
    int outputHeight() const { return orientation_.swapsAxes() ? width_ : height_; }

private:
    Result toneMap(const AVFrame* frame, const AVFrame** out);
    Result scale(const AVFrame* frame);
    void orient(std::vector<uint8_t>* pixels) const;

    int width_;
    int height_;
    Orientation orientation_;
    av::SwsPtr sws_;
    av::FramePtr bgr_;
    // Tone mapping: a filter graph for the format it was built for.
    av::FilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    av::FramePtr mapped_;
    int graphFormat_ = -1;
    int graphWidth_ = 0;
    int graphHeight_ = 0;
};

} // namespace media::detail
