#pragma once
// The decoding side of a connected graph: a small pool of workers, each with
// its own demuxer and decoder, that find the frames for the positions the
// graph is sought to.
//
// Without announced positions one worker decodes each position when the graph
// runs, its decoder using every core. Announced positions are first planned
// (see decoding_plan.h): positions that share a key frame become one pass
// that decodes forward through all of them. Each worker takes the next pass
// not yet taken; with several passes each decodes on one core, with fewer
// passes than cores the decoders get the spare cores as threads. Finished
// pictures wait, a few at most, until the graph is sought to their position
// and run; a pass that runs ahead waits for them to be taken. Pictures are
// handed out in the order of the seeks, and each is the frame a lone search
// for its position finds.
//
// In key-frame mode each announced position is instead found alone, as the
// key frame nearest it (see FrameFinder::findKeyFrame).
//
// Ownership: the engine owns its threads and, through them, the workers'
// FFmpeg objects. Destroying it stops every search at the next packet and
// joins the threads. All calls come from the graph's one user thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/media/decoding_plan.h"
#include "platform/media/frame_finder.h"
#include "platform/media/movie.h"

namespace media::detail {

class Engine {
public:
    // `workers`: how many decode at once for announced positions; 0 means
    // one per processor core.
    Engine(std::shared_ptr<const MovieInfo> info, int workers);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void setWorkers(int workers);
    // Announced positions get the key frame nearest them when it lies within
    // `tolerance` (100-ns units); negative: the exact frames (the default).
    void setKeyFrameTolerance(int64_t tolerance);
    // The graph's stop flag: the scan for key frames that an announcement
    // may start ends when it is set. (The searches end when the graph
    // destroys the engine.)
    void setStopFlag(const std::atomic<bool>* stop) { externalStop_ = stop; }
    void announce(const std::vector<int64_t>& positions);
    // Arms the next run for the position.
    void seek(int64_t position);
    void run();
    // Waits for the run's picture. S_OK with `*finished` true when the run
    // is over (the picture's `found` tells whether there is a frame, and
    // `*searchResult` whether the search failed); E_TIMEOUT when it is not.
    Result wait(int32_t timeoutMs, Picture* picture, Result* searchResult, bool* finished);

private:
    struct Slot {
        int64_t position = 0;
        bool done = false;
        Result result = S_OK;
        Picture picture;
    };
    // Slots [begin, end) found in one pass.
    struct Job {
        Pass pass;
        bool released = false; // may be decoded now
        bool claimed = false;
        bool finished = false;
        bool keyFrame = false; // the nearest key frame, not the exact frame
    };

    void startPool(int size, int decoderThreads);
    void stopPool(std::unique_lock<std::mutex>& lock);
    void workerMain();
    size_t nextClaimable() const;
    void runJob(FrameFinder& finder, size_t index, std::unique_lock<std::mutex>& lock);

    std::shared_ptr<const MovieInfo> info_;
    int workerSetting_;
    int64_t tolerance_ = -1;
    std::atomic<bool> stop_{false}; // for good: the engine is going away
    const std::atomic<bool>* externalStop_ = nullptr;
    std::atomic<bool> retire_{false}; // the pool is being replaced
    std::atomic<uint64_t> generation_{0};
    // The movie's key frames, found on the first announcement (again if the
    // mode changes: key-frame mode needs all of them).
    bool keysKnown_ = false;
    bool keysForKeyFrameMode_ = false;
    std::shared_ptr<const KeyFrameList> keys_;

    std::mutex mutex_;
    std::condition_variable workAvailable_; // also: a picture was taken
    std::condition_variable jobDone_;
    std::vector<Slot> slots_;
    std::vector<Job> jobs_;
    size_t deliver_ = 0; // the slot the next run hands out
    size_t window_ = 1;  // slots that may be finished and waiting, from deliver_ on
    bool armed_ = false;
    bool running_ = false;
    int poolDecoderThreads_ = 0;
    std::vector<std::thread> pool_;
    // Converts the pictures as they are taken, on the user's thread.
    std::unique_ptr<PictureMaker> maker_;
};

} // namespace media::detail
