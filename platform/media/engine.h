#pragma once
// The decoding side of a reader: runs the passes of a plan on a few threads,
// each with its own decoder, and hands the frames to the caller in the order
// of the positions.
//
// The first worker reads through the reader's own demuxer; every further
// worker opens the file once for a demuxer of its own, and keeps it for the
// reader's life. With several passes each worker decodes on one core; with
// fewer passes than cores the decoders get the spare cores as threads. A
// pass that runs ahead of the caller waits while the pictures it found are a
// few positions ahead: memory stays bounded however many positions there are.
//
// Ownership: the engine owns its finders (and through them the decoders and
// the extra demuxers); `run` owns its threads and joins them before it
// returns. The primary demuxer is borrowed and must outlive the engine.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/media/decoding_plan.h"
#include "platform/media/frame_finder.h"
#include "platform/media/movie.h"

namespace media::detail {

struct Plan {
    std::vector<int64_t> positions;
    std::vector<Pass> passes; // in order; ignored in key-frame mode
    bool keyFrameMode = false;
    int64_t tolerance = -1;
    std::shared_ptr<const KeyFrameList> keys;
    int cores = 0; // 0: as many as `decodingCores` says
    // Frames so large that one at a time is all memory should hold: one
    // decoder without threads, and it waits for each frame to be taken and
    // let go before it decodes the next.
    bool oneFrameAtATime = false;
};

class Engine {
public:
    Engine(std::shared_ptr<const MovieInfo> info, AVFormatContext* primary,
           const std::atomic<bool>* stop);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Every position's frame, passed to `take(i, found)` on the calling
    // thread, in order. `take` returns false to end the run early.
    using Take = std::function<bool(size_t, Found&&)>;
    Result run(const Plan& plan, const Take& take);

    int64_t framesDecoded() const;

private:
    FrameFinder& finder(size_t worker, int threads);

    std::shared_ptr<const MovieInfo> info_;
    AVFormatContext* primary_;
    const std::atomic<bool>* stop_;
    std::vector<std::unique_ptr<FrameFinder>> finders_;
    std::vector<int> finderThreads_;
    int64_t retiredFrames_ = 0;
};

// How many cores one reader's decoding may use.
int decodingCores();

} // namespace media::detail
