#pragma once
// Turns a decoded frame into the picture a player shows, at the size it is
// asked for, in one conversion: colours converted with the stream's own
// matrix, range and transfer (HDR tone-mapped to SDR BT.709), pixels scaled
// to the size (which carries the display aspect ratio), and the picture
// turned and mirrored as the display matrix says.
//
// Ownership: a PictureMaker owns its scaler and, for HDR, its filter graph,
// through unique_ptrs; it is used by one thread at a time (one per finder).

#include <cstdint>
#include <vector>

#include "platform/media/av_ptr.h"
#include "platform/types/result.h"

namespace media {
struct Picture;
}

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
    explicit PictureMaker(Orientation orientation);
    ~PictureMaker();
    PictureMaker(const PictureMaker&) = delete;
    PictureMaker& operator=(const PictureMaker&) = delete;

    // The picture at `width` × `height` as shown (after the turn): red,
    // green, blue, rows top-down, no padding.
    Result make(const AVFrame* frame, int width, int height, Picture* out);

private:
    Result toneMap(const AVFrame* frame, const AVFrame** out);
    Result scale(const AVFrame* frame, int width, int height);
    void orient(int width, int height, Picture* out) const;

    Orientation orientation_;
    av::SwsPtr sws_;
    av::FramePtr rgb_;
    // Mild shrinking goes through RGB at full size.
    static constexpr int kMildShrink = 9;
    av::SwsPtr fullSws_;
    av::FramePtr full_;
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
