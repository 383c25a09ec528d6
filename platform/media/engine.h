#pragma once
// The decoding side of a connected graph: a small pool of workers, each with
// its own demuxer and decoder, that find the frames for the positions the
// graph is sought to.
//
// Without announced positions one worker decodes each position when the graph
// runs, its decoder using every core. With announced positions each worker
// takes the next position not yet taken and decodes it on one core, so
// several moments are decoded at once; the finished pictures wait, a few at
// most, until the graph is sought to their position and run. Pictures are
// handed out in the order of the seeks, and each is the frame a lone worker
// would have found: every search starts afresh from a seek.
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
    void announce(const std::vector<int64_t>& positions);
    // Arms the next run for the position.
    void seek(int64_t position);
    void run();
    // Waits for the run's picture. S_OK with `*finished` true when the run
    // is over (the picture's `found` tells whether there is a frame, and
    // `*searchResult` whether the search failed); E_TIMEOUT when it is not.
    Result wait(int32_t timeoutMs, Picture* picture, Result* searchResult, bool* finished);

private:
    struct Job {
        int64_t position = 0;
        bool released = false; // may be decoded now
        bool claimed = false;
        bool done = false;
        Result result = S_OK;
        Picture picture;
    };

    void startPool(int size, int decoderThreads);
    void stopPool(std::unique_lock<std::mutex>& lock);
    void workerMain();
    bool claimable(size_t index) const;

    std::shared_ptr<const MovieInfo> info_;
    int workerSetting_;
    std::atomic<bool> stop_{false};   // for good: the engine is going away
    std::atomic<bool> retire_{false}; // the pool is being replaced
    std::atomic<uint64_t> generation_{0};

    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable jobDone_;
    std::vector<Job> jobs_;
    size_t deliver_ = 0;
    size_t window_ = 1; // jobs that may be in work or waiting, from deliver_ on
    bool armed_ = false;
    bool running_ = false;
    int poolDecoderThreads_ = 0;
    std::vector<std::thread> pool_;
};

} // namespace media::detail
