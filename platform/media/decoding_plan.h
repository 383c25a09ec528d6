#pragma once
// Which frames to decode for a list of positions, before decoding any.
//
// Every position is found from a key frame before it. Positions whose key
// frame is the same are served by one forward pass that hands out each
// position's frame as it goes by, so the frames between them are decoded
// once, not once per position. A pass is always exact, however positions are
// grouped: its first position is found the way a lone search finds it, and
// every later one is the first frame at or after it on the way forward. The
// grouping only decides the cost.
//
// The key frames come from the container's index, or, for streams that have
// none (transport and program streams, elementary streams), from a read of
// the packets without decoding them; there they also say where in the file a
// pass may start, so a seek lands on its key frame the first time.
//
// Ownership: plain values. The scan reads through the reader's demuxer,
// which it borrows for the call.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/media/movie.h"

namespace media::detail {

// A key frame: its time on the video stream's clock (as the index or the
// demuxer gives it) and, when known, the byte where its packet starts.
struct KeyFrame {
    int64_t timestamp = 0;
    int64_t bytePos = -1;
};

struct KeyFrameList {
    std::vector<KeyFrame> frames; // in time order
    // Read from the packets: the times are presentation times.
    bool scanned = false;
    // A byte seek to `bytePos` lands on the key frame with its time: true in
    // transport streams, whose packets start cleanly and each carry their
    // time; a program stream's parser may not start where the seek went.
    bool byteSeeksLand = false;
    bool empty() const { return frames.empty(); }
    // The last key frame at or before the timestamp; -1 when there is none.
    ptrdiff_t atOrBefore(int64_t timestamp) const;
    // The key frame closest to the timestamp; -1 when there is none.
    ptrdiff_t nearest(int64_t timestamp) const;
};

// The key frames the demuxer's index lists for the video stream.
KeyFrameList indexedKeyFrames(const AVFormatContext* input, int stream);

// Files larger than this are not scanned: reading them costs more than the
// searches it could save.
constexpr int64_t kScanLimitBytes = int64_t{1} << 30;

// Reads the packets of the movie's video stream, without decoding, for its
// key frames. A scan only pays where positions `step` apart (stream clock)
// can share a key frame: it gives up, with an empty list, once it has seen
// key frames come regularly at under half that distance, and on files too
// large to read; `step` 0 reads them all. Cancelled when `stop` was set.
Result scanKeyFrames(AVFormatContext* input, const MovieInfo& info, int64_t step,
                     const std::atomic<bool>* stop, KeyFrameList* out);

// The key frames a plan for positions `step` apart can use: the index
// where there is one, a scan where the movie has none, nothing where
// neither helps.
KeyFrameList keyFramesFor(AVFormatContext* input, const MovieInfo& info, int64_t step,
                          const std::atomic<bool>* stop);

struct Pass {
    size_t begin = 0; // positions [begin, end) of the list
    size_t end = 0;
    // Where the pass starts reading: at the file's start, at a byte (a key
    // frame's packet), or, with neither, by a seek before its first position.
    bool fromStart = false;
    int64_t bytePos = -1;
    int64_t keyTimestamp = AV_NOPTS_VALUE; // of the key frame at `bytePos`
    // The pass starts at the key frame `keyTimestamp`, which is the first
    // position's own frame (though shown after it).
    bool startsAtAnswer = false;
    // The position after the pass's last one (100-ns units), which a frame
    // that stands in for a damaged one must come before; -1: none follows.
    int64_t until = -1;
    size_t size() const { return end - begin; }
};

// Groups the positions into passes, in order. Positions that do not rise
// (a list not in time order) each get a pass of their own, as does every
// position when the key frames are unknown.
std::vector<Pass> planPasses(const MovieInfo& info, const KeyFrameList& keys,
                             const std::vector<int64_t>& positions);

} // namespace media::detail
