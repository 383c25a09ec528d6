#pragma once
// One demuxer and one video decoder that find the frames for positions:
// seek to the key frame before the first, decode forward as cheaply as the
// decoder allows, hand out each position's frame as the pass goes by it, and
// convert only the frames that are handed out. In key-frame mode a position
// gets the key frame nearest it, decoded alone.
//
// Ownership: the finder owns its demuxer, decoder, scaler and frames (all
// through unique_ptrs) and shares the read-only movie description. A finder
// is used by one thread at a time.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/media/av_ptr.h"
#include "platform/media/decoding_plan.h"
#include "platform/media/movie.h"
#include "platform/media/picture.h"

namespace media::detail {

// A converted frame: blue, green, red, rows bottom-up, each padded to a
// multiple of 4 bytes, at the movie's display size (see picture.h).
struct Picture {
    // false: no picture for the position: nothing decodable at or after it,
    // or the picture shown then is damaged beyond decoding.
    bool found = false;
    double seconds = 0; // presentation time from the movie's start
    std::vector<uint8_t> pixels;
    // The decoded frame, shared by the positions it answers, until the
    // engine converts it into `pixels` on the thread that takes it: the
    // decoder goes on meanwhile.
    std::shared_ptr<AVFrame> frame;
    // Packets the decoder refused, or frames it could not finish, while the
    // picture was sought (in the pass that decided the outcome).
    int decodeErrors = 0;
};

class FrameFinder {
public:
    // `threads` is the decoder's thread count (1: no threads of its own).
    // `stop` aborts blocking reads for good; `cancelled` is asked between
    // packets whether the current search is still wanted.
    FrameFinder(std::shared_ptr<const MovieInfo> info, int threads, const std::atomic<bool>* stop);
    ~FrameFinder();
    FrameFinder(const FrameFinder&) = delete;
    FrameFinder& operator=(const FrameFinder&) = delete;

    // Opens the file and the decoder; also done by the first `find`.
    Result open();
    // The first frame at or after `position` (100-ns units from the movie's
    // start), or the last frame when the position lies beyond it; a search
    // that finds no frame succeeds with `found` false. AVERROR_EXIT when
    // `cancelled` said so or the stop flag is set.
    Result find(int64_t position, const std::function<bool()>& cancelled, Picture* out);

    // The same for positions in time order, in one forward pass from where
    // `pass` says to start: `deliver(i, picture)` gets position i's picture
    // as soon as it is known, in order, and may return false to end the
    // pass (which then returns AVERROR_EXIT). Each picture is the one `find`
    // gives for its position.
    using Deliver = std::function<bool(size_t, Picture&&)>;
    Result findSeries(const std::vector<int64_t>& positions, const Pass& pass,
                      const std::function<bool()>& cancelled, const Deliver& deliver);

    // The key frame nearest `position`, decoded on its own and timed by its
    // own time stamp, when it lies within `tolerance` of the position;
    // otherwise (or when the key frames are not known) the exact frame.
    Result findKeyFrame(int64_t position, int64_t tolerance, const KeyFrameList& keys,
                        const std::function<bool()>& cancelled, Picture* out);

    // Counts for the benchmark and the tests: packets sent to the decoder
    // and frames it returned, since the finder was made.
    int64_t packetsDecoded() const { return packetsDecoded_; }
    int64_t framesDecoded() const { return framesDecoded_; }

private:
    enum class Outcome {
        Continue,
        Found,
        Overshoot,
        StoppedShort,
        EndWithLast,
        Nothing,
        Cancelled
    };
    struct Search;

    bool seekBefore(int64_t position);
    bool seekToByte(int64_t pos);
    bool rewind();
    Result deliverFrame(Search& search, AVFrame* frame, int64_t timestamp);
    Result decodeKeyFrame(const KeyFrameList& keys, ptrdiff_t k,
                          const std::function<bool()>& cancelled, int64_t* timestamp);
    Outcome decodeForward(Search& search);
    Outcome consider(Search& search, AVFrame* frame);
    Result convert(const AVFrame* frame, Picture* out);

    std::shared_ptr<const MovieInfo> info_;
    int threads_;
    const std::atomic<bool>* stop_;
    av::InputPtr input_;
    av::CodecPtr decoder_;
    av::PacketPtr packet_;
    av::FramePtr frame_;
    av::FramePtr last_;
    int stream_ = -1;
    int64_t packetsDecoded_ = 0;
    int64_t framesDecoded_ = 0;
    int decodeErrors_ = 0;      // in the current pass
    int64_t keyTimeOffset_ = 0; // shown time less the index's time, of key frames
};

} // namespace media::detail
