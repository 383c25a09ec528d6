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

void Engine::setKeyFrameTolerance(int64_t tolerance) {
    std::lock_guard<std::mutex> lock(mutex_);
    tolerance_ = tolerance;
}

void Engine::startPool(int size, int decoderThreads) {
    poolDecoderThreads_ = decoderThreads;
    // Each worker may be one finished picture ahead of the one being waited
    // for, and a pass no further: memory stays bounded however many
    // positions there are and however they are grouped.
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
        if (!job.finished)
            job.claimed = false;
}

void Engine::announce(const std::vector<int64_t>& positions) {
    // Read once, outside the lock: a scan reads the whole file.
    std::unique_lock<std::mutex> lock(mutex_);
    const bool keyFrameMode = tolerance_ >= 0;
    lock.unlock();
    if ((!keysKnown_ || keysForKeyFrameMode_ != keyFrameMode) && !positions.empty()) {
        // The usual distance between the positions, on the stream's clock.
        int64_t step = 0;
        if (positions.size() > 1 && positions.back() > positions.front())
            step = toTimestampFloor(*info_, (positions.back() - positions.front()) /
                                                static_cast<int64_t>(positions.size() - 1)) -
                   toTimestampFloor(*info_, 0);
        // Key-frame mode needs every key frame; exact frames only need to
        // know whether positions share them, and a lone position shares
        // nothing.
        if (keyFrameMode)
            step = 0;
        if (keyFrameMode || positions.size() > 1) {
            auto keys = std::make_shared<const KeyFrameList>(
                keyFramesFor(*info_, step, externalStop_ ? externalStop_ : &stop_));
            lock.lock();
            keys_ = std::move(keys); // searches under way keep the list they have
            lock.unlock();
            keysKnown_ = true;
            keysForKeyFrameMode_ = keyFrameMode;
        }
    }
    // In key-frame mode every position is a search of its own.
    static const KeyFrameList kNone;
    const std::vector<Pass> passes =
        planPasses(*info_, keyFrameMode || !keys_ ? kNone : *keys_, positions);

    lock.lock();
    ++generation_;
    slots_.clear();
    slots_.reserve(positions.size());
    for (int64_t p : positions) {
        Slot slot;
        slot.position = p;
        slots_.push_back(std::move(slot));
    }
    jobs_.clear();
    for (const Pass& pass : passes) {
        Job job;
        job.pass = pass;
        job.released = true;
        job.keyFrame = keyFrameMode;
        jobs_.push_back(job);
    }
    deliver_ = 0;
    armed_ = false;
    running_ = false;
    if (positions.empty())
        return;
    // On two cores two single-threaded decoders beat one decoder with two
    // threads: frame threads wait on each other, separate passes do not.
    // With a single pass, its decoder gets the cores.
    const int cores = processorCores();
    const int wanted = workerSetting_ > 0 ? workerSetting_ : cores;
    const int size = std::clamp(wanted, 1, static_cast<int>(std::min<size_t>(jobs_.size(), 64)));
    const int threads = std::max(1, cores / size);
    if (static_cast<int>(pool_.size()) != size || poolDecoderThreads_ != threads) {
        stopPool(lock);
        startPool(size, threads);
    }
    workAvailable_.notify_all();
}

void Engine::seek(int64_t position) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!running_ && deliver_ < slots_.size() && slots_[deliver_].position == position) {
        armed_ = true;
        return;
    }
    // Not the next announced position: whatever was planned is dropped, and
    // this position is decoded on its own, exactly, when the graph runs.
    ++generation_;
    slots_.clear();
    Slot slot;
    slot.position = position;
    slots_.push_back(std::move(slot));
    jobs_.clear();
    Job job;
    job.pass.begin = 0;
    job.pass.end = 1;
    jobs_.push_back(job);
    deliver_ = 0;
    armed_ = true;
    running_ = false;
    if (pool_.empty())
        startPool(1, processorCores());
}

void Engine::run() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
    if (!armed_ || deliver_ >= slots_.size())
        return;
    for (Job& job : jobs_) {
        if (job.pass.begin <= deliver_ && deliver_ < job.pass.end && !job.released) {
            job.released = true;
            workAvailable_.notify_all();
        }
    }
}

Result Engine::wait(int32_t timeoutMs, Picture* picture, Result* searchResult, bool* finished) {
    std::unique_lock<std::mutex> lock(mutex_);
    *picture = Picture{};
    *searchResult = S_OK;
    *finished = true;
    if (!running_)
        return S_OK;
    if (!armed_ || deliver_ >= slots_.size()) {
        // A run that was not sought again: the one-shot grabber stays silent.
        running_ = false;
        return S_OK;
    }
    const auto ready = [this] { return stop_ || slots_[deliver_].done; };
    if (timeoutMs < 0) {
        jobDone_.wait(lock, ready);
    } else if (!jobDone_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        *finished = false;
        return E_TIMEOUT;
    }
    if (stop_)
        return E_FAIL;
    Slot& slot = slots_[deliver_];
    *picture = std::move(slot.picture);
    *searchResult = slot.result;
    slot.picture = Picture{};
    ++deliver_;
    armed_ = false;
    running_ = false;
    workAvailable_.notify_all();
    lock.unlock();
    // Converted here, while the workers decode on.
    if (picture->found && picture->frame) {
        if (!maker_)
            maker_ = std::make_unique<PictureMaker>(info_->scaledWidth, info_->scaledHeight,
                                                    info_->orientation);
        const Result made = maker_->make(picture->frame.get(), &picture->pixels);
        if (failed(made)) {
            picture->found = false;
            picture->pixels.clear();
            *searchResult = made;
        }
    }
    picture->frame.reset();
    return S_OK;
}

// The first pass not yet taken, when it starts inside the window: passes are
// taken in order, so the one holding the next position to hand out is always
// in work or done, and no pass waits for room that only another can make.
size_t Engine::nextClaimable() const {
    for (size_t i = 0; i < jobs_.size(); ++i) {
        const Job& job = jobs_[i];
        if (job.finished || job.claimed)
            continue;
        if (!job.released || job.pass.begin >= deliver_ + window_)
            return jobs_.size();
        return i;
    }
    return jobs_.size();
}

void Engine::workerMain() {
    std::unique_ptr<FrameFinder> finder;
    std::unique_lock<std::mutex> lock(mutex_);
    const int threads = poolDecoderThreads_;
    for (;;) {
        if (stop_ || retire_)
            return;
        const size_t index = nextClaimable();
        if (index == jobs_.size()) {
            workAvailable_.wait(lock);
            continue;
        }
        if (!finder)
            finder = std::make_unique<FrameFinder>(info_, threads, &stop_);
        runJob(*finder, index, lock);
    }
}

// Called and returns with the lock held; searches without it.
void Engine::runJob(FrameFinder& finder, size_t index, std::unique_lock<std::mutex>& lock) {
    Job& claimed = jobs_[index];
    claimed.claimed = true;
    const uint64_t generation = generation_;
    // A pass taken over from a retired worker goes on from its first
    // position not yet found; only a fresh one starts where it was planned.
    size_t first = claimed.pass.begin;
    while (first < claimed.pass.end && slots_[first].done)
        ++first;
    const Pass pass = first == claimed.pass.begin ? claimed.pass : Pass{};
    std::vector<int64_t> positions;
    for (size_t i = first; i < claimed.pass.end; ++i)
        positions.push_back(slots_[i].position);
    const int64_t tolerance = tolerance_;
    const std::shared_ptr<const KeyFrameList> keys = keys_;
    const bool alone = claimed.keyFrame && positions.size() == 1;
    lock.unlock();

    const std::function<bool()> cancelled = [this, generation] {
        return retire_.load(std::memory_order_relaxed) ||
               generation_.load(std::memory_order_relaxed) != generation;
    };
    // Hands a picture to its slot, waiting while it lies beyond the window.
    const FrameFinder::Deliver deliver = [&](size_t i, Picture&& picture) {
        const size_t slotIndex = first + i;
        std::unique_lock<std::mutex> guard(mutex_);
        workAvailable_.wait(guard,
                            [&] { return stop_ || cancelled() || slotIndex < deliver_ + window_; });
        if (stop_ || cancelled())
            return false;
        Slot& slot = slots_[slotIndex];
        slot.done = true;
        slot.result = S_OK;
        slot.picture = std::move(picture);
        jobDone_.notify_all();
        return true;
    };
    Result rc = S_OK;
    if (alone) {
        Picture picture;
        rc = finder.findKeyFrame(positions.front(), tolerance, keys ? *keys : KeyFrameList{},
                                 cancelled, &picture);
        if (succeeded(rc) && !deliver(0, std::move(picture)))
            rc = AVERROR_EXIT;
    } else {
        rc = finder.findSeries(positions, pass, cancelled, deliver);
    }

    lock.lock();
    if (generation_ != generation)
        return; // planned work was dropped meanwhile
    Job& job = jobs_[index];
    if (rc == AVERROR_EXIT && !stop_) {
        job.claimed = false; // the pool is being replaced; a new worker goes on
        return;
    }
    // A search that failed fails every position of the pass it left.
    for (size_t i = first; i < job.pass.end; ++i) {
        Slot& slot = slots_[i];
        if (!slot.done) {
            slot.done = true;
            slot.result = failed(rc) ? rc : E_FAIL;
            slot.picture = Picture{};
        }
    }
    job.finished = true;
    jobDone_.notify_all();
}

} // namespace media::detail

namespace media {

void setDecodingCores(int cores) {
    detail::g_coreShare.store(std::max(0, cores), std::memory_order_relaxed);
}

} // namespace media
