#include "platform/media/engine.h"

#include <algorithm>
#include <chrono>

namespace media::detail {

namespace {

std::atomic<int> g_coreShare{0};

int processorCores() {
    const unsigned n = std::thread::hardware_concurrency();
    const int all = n > 0 ? static_cast<int>(std::min(n, 64u)) : 1;
    const int share = g_coreShare.load(std::memory_order_relaxed);
    return share > 0 ? std::min(share, all) : all;
}

} // namespace

Engine::Engine(std::shared_ptr<const MovieInfo> info, int workers)
    : info_(std::move(info)), workerSetting_(std::max(0, workers)) {}

Engine::~Engine() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    workAvailable_.notify_all();
    jobDone_.notify_all();
    for (std::thread& t : pool_)
        t.join();
}

void Engine::setWorkers(int workers) {
    std::lock_guard<std::mutex> lock(mutex_);
    workerSetting_ = std::max(0, workers);
}

void Engine::startPool(int size, int decoderThreads) {
    poolDecoderThreads_ = decoderThreads;
    // Each worker may hold one finished picture beyond the one being waited
    // for: memory stays bounded however far ahead the positions go.
    window_ = static_cast<size_t>(size) + 1;
    for (int i = 0; i < size; ++i)
        pool_.emplace_back(&Engine::workerMain, this);
}

void Engine::stopPool(std::unique_lock<std::mutex>& lock) {
    if (pool_.empty())
        return;
    retire_ = true;
    workAvailable_.notify_all();
    std::vector<std::thread> old = std::move(pool_);
    pool_.clear();
    lock.unlock();
    for (std::thread& t : old)
        t.join();
    lock.lock();
    retire_ = false;
    for (Job& job : jobs_)
        if (!job.done)
            job.claimed = false;
}

void Engine::announce(const std::vector<int64_t>& positions) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++generation_;
    jobs_.clear();
    jobs_.reserve(positions.size());
    for (int64_t p : positions) {
        Job job;
        job.position = p;
        job.released = true;
        jobs_.push_back(std::move(job));
    }
    deliver_ = 0;
    armed_ = false;
    running_ = false;
    if (positions.empty())
        return;
    // On two cores two single-threaded decoders beat one decoder with two
    // threads: frame threads wait on each other, separate moments do not.
    const int cores = processorCores();
    const int wanted = workerSetting_ > 0 ? workerSetting_ : cores;
    const int size =
        std::clamp(wanted, 1, static_cast<int>(std::min<size_t>(positions.size(), 64)));
    const int threads = std::max(1, cores / size);
    if (static_cast<int>(pool_.size()) != size || poolDecoderThreads_ != threads) {
        stopPool(lock);
        startPool(size, threads);
    }
    workAvailable_.notify_all();
}

void Engine::seek(int64_t position) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!running_ && deliver_ < jobs_.size() && jobs_[deliver_].position == position) {
        armed_ = true;
        return;
    }
    // Not the next announced position: whatever was planned is dropped, and
    // this position is decoded on its own when the graph runs.
    ++generation_;
    jobs_.clear();
    Job job;
    job.position = position;
    jobs_.push_back(std::move(job));
    deliver_ = 0;
    armed_ = true;
    running_ = false;
    if (pool_.empty())
        startPool(1, processorCores());
}

void Engine::run() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
    if (armed_ && deliver_ < jobs_.size() && !jobs_[deliver_].released) {
        jobs_[deliver_].released = true;
        workAvailable_.notify_all();
    }
}

Result Engine::wait(int32_t timeoutMs, Picture* picture, Result* searchResult, bool* finished) {
    std::unique_lock<std::mutex> lock(mutex_);
    *picture = Picture{};
    *searchResult = S_OK;
    *finished = true;
    if (!running_)
        return S_OK;
    if (!armed_ || deliver_ >= jobs_.size()) {
        // A run that was not sought again: the one-shot grabber stays silent.
        running_ = false;
        return S_OK;
    }
    const auto ready = [this] { return stop_ || jobs_[deliver_].done; };
    if (timeoutMs < 0) {
        jobDone_.wait(lock, ready);
    } else if (!jobDone_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        *finished = false;
        return E_TIMEOUT;
    }
    if (stop_)
        return E_FAIL;
    Job& job = jobs_[deliver_];
    *picture = std::move(job.picture);
    *searchResult = job.result;
    job.picture = Picture{};
    ++deliver_;
    armed_ = false;
    running_ = false;
    workAvailable_.notify_all();
    return S_OK;
}

bool Engine::claimable(size_t index) const {
    const Job& job = jobs_[index];
    return job.released && !job.claimed && !job.done;
}

void Engine::workerMain() {
    std::unique_ptr<FrameFinder> finder;
    std::unique_lock<std::mutex> lock(mutex_);
    const int threads = poolDecoderThreads_;
    for (;;) {
        if (stop_ || retire_)
            return;
        size_t index = jobs_.size();
        const size_t end = std::min(jobs_.size(), deliver_ + window_);
        for (size_t i = deliver_; i < end; ++i) {
            if (claimable(i)) {
                index = i;
                break;
            }
        }
        if (index == jobs_.size()) {
            workAvailable_.wait(lock);
            continue;
        }
        jobs_[index].claimed = true;
        const uint64_t generation = generation_;
        const int64_t position = jobs_[index].position;
        lock.unlock();

        if (!finder)
            finder = std::make_unique<FrameFinder>(info_, threads, &stop_);
        Picture picture;
        const std::function<bool()> cancelled = [this, generation] {
            return retire_.load(std::memory_order_relaxed) ||
                   generation_.load(std::memory_order_relaxed) != generation;
        };
        const Result rc = finder->find(position, cancelled, &picture);

        lock.lock();
        if (generation_ != generation)
            continue; // planned work was dropped meanwhile
        Job& job = jobs_[index];
        if (rc == AVERROR_EXIT) {
            job.claimed = false; // the pool is being replaced; a new worker takes it
            continue;
        }
        job.done = true;
        job.result = rc;
        job.picture = std::move(picture);
        jobDone_.notify_all();
    }
}

} // namespace media::detail

namespace media {

void setDecodingCores(int cores) {
    detail::g_coreShare.store(std::max(0, cores), std::memory_order_relaxed);
}

} // namespace media
