#pragma once
// One demuxer and one video decoder that find the frames for positions.
//
// A series of positions in time order is found in one forward pass: seek to
// the key frame before the first, decode forward, and hand each position the
// first frame shown at or after it as the pass goes by. The pass decodes as
// little as it may:
//   - a picture nothing refers to is left undecoded when it cannot be the
//     frame of any position still waiting (`skippable`);
//   - the last position's pass ends as soon as every packet still to come is
//     shown after the frame it waits for (`endsEarly`);
// and retries where the cheap way could have been wrong (`Retry`): a seek
// that landed after the position goes back further, a frame that should have
// been the one but did not decode is looked for again without ending early,
// and positions past the last frame are looked for again without skipping.
//
// Decisions are made per picture, never per packet: the two fields of an
// interlaced picture coded as field pictures (H.264 as camcorders write it)
// arrive as two packets, and the second always follows the first's decision
// and carries no time of its own. A picture is never half decoded.
//
// Damage: a position whose frame does not decode gets the first frame that
// does, when it is shown before the next position (or the end of what can be
// read), with that frame's own time; otherwise no frame.
//
// In key-frame mode a position gets the key frame nearest it, decoded alone,
// when it lies within the tolerance (see `findKeyFrame`).
//
// Ownership: the finder owns its decoder and frames through unique_ptrs, and
// either owns its demuxer or borrows the reader's for its lifetime. A finder
// is used by one thread at a time.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "platform/media/av_ptr.h"
#include "platform/media/decoding_plan.h"
#include "platform/media/movie.h"

namespace media::detail {

// Where a finder's decoders take their pictures from when frames are so
// large that they are decoded one at a time (frame_finder.cpp).
struct PicturePool;

// A frame found for a position, not yet converted: the decoded frame is
// shared by every position it answers.
struct Found {
    bool found = false;
    int64_t timestamp = 0; // on the video stream's clock
    std::shared_ptr<AVFrame> frame;
    int decodeErrors = 0;
};

class FrameFinder {
public:
    // `threads` is the decoder's thread count (1: no threads of its own).
    // `borrowed`, when given, is the demuxer to read (the reader's, already
    // open); otherwise the finder opens the file itself.
    FrameFinder(std::shared_ptr<const MovieInfo> info, int threads, const std::atomic<bool>* stop,
                AVFormatContext* borrowed = nullptr);
    ~FrameFinder();
    FrameFinder(const FrameFinder&) = delete;
    FrameFinder& operator=(const FrameFinder&) = delete;

    // Opens the demuxer (when not borrowed) and the decoder; also done by
    // the first search.
    Result open();

    using Cancelled = std::function<bool()>;
    using Deliver = std::function<bool(size_t, Found&&)>;

    // The first frame at or after `position` (100-ns units), or the last
    // frame when the position lies beyond it and within the movie.
    Result find(int64_t position, const Cancelled& cancelled, Found* out);
    // The same for positions in time order, in one forward pass from where
    // `pass` says to start: `deliver(i, found)` gets position i's frame as
    // soon as it is known, in order, and may return false to end the pass.
    Result findSeries(const std::vector<int64_t>& positions, const Pass& pass,
                      const Cancelled& cancelled, const Deliver& deliver);
    // The key frame nearest `position`, decoded on its own and timed by its
    // own time stamp, when it lies within `tolerance` of the position;
    // otherwise (or when the key frames are not known) the exact frame.
    Result findKeyFrame(int64_t position, int64_t tolerance, const KeyFrameList& keys,
                        const Cancelled& cancelled, Found* out);

    // Whether the latest frame is kept while the next is decoded, for
    // positions past the end; without, such a position has it decoded
    // again. For frames so large that two do not fit.
    void setKeepLast(bool keep);

    int64_t packetsDecoded() const { return packetsDecoded_; }
    int64_t framesDecoded() const { return framesDecoded_; }

private:
    // How one forward pass ended.
    enum class Outcome {
        AllFound,     // every position has its frame
        Overshoot,    // the seek landed after the first position's frame
        StoppedShort, // ended early, and the frame did not come
        EndWithLast,  // the file ended with positions still waiting
        Nothing,      // the file ended before any frame
        Cancelled,
    };
    // What one packet is, as the decisions need it.
    struct PacketView {
        int64_t pts = AV_NOPTS_VALUE; // the picture's shown time; none for a second field
        int64_t dts = AV_NOPTS_VALUE;
        bool key = false;
        bool secondField = false;
    };
    struct Search;

    Result openDecoder(av::CodecPtr* out) const;

    // Starting a pass.
    bool seekBefore(int64_t position);
    bool seekToByte(int64_t pos);
    bool rewind();
    bool startAttempt(Search& search, const Pass& pass, bool planned, int64_t backoff,
                      int lateSeeks);

    // The steps of a forward pass.
    Outcome decodeForward(Search& search);
    PacketView classify(const AVPacket* packet);
    bool overshot(const Search& search, const PacketView& p) const;
    bool endsEarly(const Search& search, const PacketView& p) const;
    bool skippable(const Search& search, const PacketView& p) const;
    void remember(Search& search, const PacketView& p, bool skipped);
    bool send(Search& search, AVPacket* packet, Outcome* outcome);
    bool receive(Search& search, Outcome* outcome);
    Outcome consider(Search& search, AVFrame* frame);
    int64_t frameTime(Search& search, const AVFrame* frame) const;
    Result deliverFrame(Search& search, AVFrame* frame, int64_t timestamp, bool midStream,
                        bool lostBetween);
    Result deliverLast(Search& search);
    Result deliverNothing(Search& search);

    Result decodeKeyFrame(const KeyFrameList& keys, ptrdiff_t k, const Cancelled& cancelled,
                          int64_t* timestamp);

    std::shared_ptr<const MovieInfo> info_;
    int threads_;
    const std::atomic<bool>* stop_;
    AVFormatContext* input_ = nullptr;
    av::InputPtr own_;
    // Before the decoders, which take their pictures from it.
    std::unique_ptr<PicturePool> pictures_;
    av::CodecPtr decoder_;
    av::PacketPtr packet_;
    av::FramePtr frame_;
    av::FramePtr last_;
    std::unique_ptr<FieldPairs> fields_;
    int stream_ = -1;
    int64_t packetsDecoded_ = 0;
    int64_t framesDecoded_ = 0;
    int decodeErrors_ = 0;      // in the current pass, since the last delivery
    int64_t keyTimeOffset_ = 0; // shown time less the index's time, of key frames
    bool lastSkipped_ = false;  // the decision for the picture the last packet began
    bool keepLast_ = true;
};

// Counts every frame any finder decoded, for the process-wide measure.
void countDecodedFrame();

} // namespace media::detail
