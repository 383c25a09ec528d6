#pragma once
// One movie, opened once: its facts, its length, and its frames at a list of
// positions, each as the picture a player shows, at the size it is asked for.
//
//   MovieReader::open      opens and probes the file (the only full opening)
//   measure                finds the length: the one the container states and
//                          the one that can really be read (a cut-short file
//                          ends early), and a frame rate that agrees with the
//                          timestamps
//   frames                 the frame at or after each position (or the key
//                          frame nearest it, in key-frame mode), delivered in
//                          order through one callback, each with its exact time
//
// Frames come from a decoding plan: positions that share a key frame are
// found in one forward pass, and passes run on several threads when the
// machine has the cores. The first pass reads through the reader's own
// demuxer; a second thread opens the file once more for a demuxer of its own.
// Every frame is converted once, from its decoded format straight to the size
// asked for, with the stream's colours, its sample aspect ratio and its
// display matrix applied.
//
// Ownership: the reader owns its demuxer and everything the passes make; a
// `frames` call owns its threads and joins them before it returns. A reader is
// used by one thread at a time; the stop flag may be set from any thread and
// must outlive the reader.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/media/media_facts.h"
#include "platform/types/media_time.h"
#include "platform/types/result.h"

namespace media {

namespace detail {
struct MovieInfo;
class Demuxer;
struct KeyFrameList;
} // namespace detail

// A picture as a player shows it: red, green, blue, rows top-down, no padding.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    bool empty() const { return rgb.empty(); }
};

struct FrameRequest {
    // The size of the picture each frame is delivered at; 0 × 0: the size
    // the movie is shown at.
    int width = 0;
    int height = 0;
    // Also deliver the picture at the size the movie is shown at.
    bool fullSize = false;
    // Also deliver the picture at each of these sizes (width, height), for
    // callers that draw one frame in places of different sizes; each is
    // converted from the decoded frame, never from another picture.
    std::vector<std::pair<int, int>> extraSizes;
    // Key-frame mode: a position gets the key frame nearest it, decoded
    // alone, when it lies within this many 100-ns units; negative: exact
    // frames.
    int64_t keyFrameTolerance = -1;
};

struct Frame {
    // False: no picture can be had for the position (a damaged stretch);
    // the other fields are then empty.
    bool found = false;
    MediaTime time; // the frame's own presentation time from the movie's start
    Picture picture;
    Picture full;               // when asked for
    std::vector<Picture> extra; // at `extraSizes`, in their order
    // Packets the decoder refused, or frames it could not finish, while this
    // frame was sought.
    int decodeErrors = 0;
};

class MovieReader {
public:
    // Opens the file and reads its streams. Only regular files are opened
    // (pipes, devices, sockets and other protocols are refused unopened);
    // `stop` ends opening, measuring and decoding within a packet when set.
    static Result open(const std::string& path, const std::atomic<bool>* stop,
                       std::unique_ptr<MovieReader>* out);
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    const std::string& path() const;
    // The container's and the streams' facts; `duration` and
    // `readableDuration` once `measure` succeeded.
    const MediaFacts& facts() const { return facts_; }
    bool hasVideo() const;
    // Whether frames can be had at all: a video stream whose decoder opens
    // and whose pictures have a size. The failure says which is missing.
    Result videoReady() const;

    // The length, read from the end of the file where the container gives
    // none or only a guess; whether the data ends before it (and where the
    // last frame that decodes ends, then); the average frame rate from the
    // frames and the length where the stated one is missing or contradicts
    // them. Cheap for a whole file with an index; a file without timestamps
    // (an elementary stream) is read through once.
    Result measure();
    // The length moments are spread over, in 100-ns units: the readable one.
    int64_t length() const;
    // The average time between frames in seconds; 0 when nothing says.
    double averageFrameTime() const;

    // The frames for the positions (100-ns units from the movie's start),
    // each passed to `deliver(i, frame)` on the calling thread, in order.
    // `deliver` may return false to end the call early (not a failure).
    using Deliver = std::function<bool(size_t index, Frame&& frame)>;
    Result frames(const std::vector<int64_t>& positions, const FrameRequest& request,
                  const Deliver& deliver);

    // Where the key frames are, in 100-ns units from the movie's start and in
    // time order, as the index or a read of the packets gives them: a
    // container's index may count a key frame by its decoding time, a few
    // frames before it is shown, so a caller that needs the frame's own time
    // asks `frames` for it. Empty where neither index nor read can tell
    // (a file too large to read through without an index).
    Result keyFramePositions(std::vector<int64_t>* out);

    // Frames decoded by this reader so far: the measure of its work.
    int64_t framesDecoded() const;
    // The cores this reader's decoding may use; 0 (the default) follows
    // `setDecodingCores`. The frames are the same for any count.
    void setCores(int cores);

private:
    MovieReader();
    Result openDemuxer(const std::string& path);
    const detail::KeyFrameList& keyFrames(int64_t step, bool all);

    struct State;
    std::unique_ptr<State> state_;
    MediaFacts facts_;
};

// The cores the decoding of one reader may count on, for a program that
// reads several movies at once; 0 (the default) means every core. The frames
// are the same for any count.
void setDecodingCores(int cores);

// Frames decoded by every reader of this process: for benchmarks and tests.
int64_t decodedFrameCount();

// The memory this process may use, in bytes: the smallest of the physical
// memory, the limit of its control group (v2 or v1, the tightest of its own
// and its parents') and its address-space limit (RLIMIT_AS); -1 when nothing
// says. A frame size that does not fit twice in it is refused.
int64_t memoryLimitBytes();
// Puts a figure of the caller's in place of what the machine says, for a
// program that knows its share is smaller (and for tests); 0 goes back to
// the machine's.
void setMemoryLimitBytes(int64_t bytes);

} // namespace media
