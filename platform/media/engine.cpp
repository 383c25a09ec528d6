#include "platform/media/engine.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/media/errors.h"

namespace media::detail {

namespace {

std::atomic<int> g_coreShare{0};

// What the workers of one run share.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    struct Slot {
        bool done = false;
        Result result;
        Found found;
    };
    std::vector<Slot> slots;
    size_t nextJob = 0;
    size_t taken = 0;  // slots the caller has taken
    size_t used = 0;   // slots the caller is done with
    size_t window = 1; // slots that may wait, finished, from `taken` on
    std::atomic<bool> abandon{false};
};

} // namespace

int decodingCores() {
    const unsigned n = std::thread::hardware_concurrency();
    const int all = n > 0 ? static_cast<int>(std::min(n, 64u)) : 1;
    const int share = g_coreShare.load(std::memory_order_relaxed);
    return share > 0 ? std::min(share, all) : all;
}

Engine::Engine(std::shared_ptr<const MovieInfo> info, AVFormatContext* primary,
               const std::atomic<bool>* stop)
    : info_(std::move(info)), primary_(primary), stop_(stop) {}

Engine::~Engine() = default;

int64_t Engine::framesDecoded() const {
    int64_t n = retiredFrames_;
    for (const auto& f : finders_)
        if (f)
            n += f->framesDecoded();
    return n;
}

// The worker's finder, made anew when its decoder should use another number
// of threads. The first worker reads through the reader's demuxer.
FrameFinder& Engine::finder(size_t worker, int threads) {
    if (finders_.size() <= worker) {
        finders_.resize(worker + 1);
        finderThreads_.resize(worker + 1, 0);
    }
    if (!finders_[worker] || finderThreads_[worker] != threads) {
        if (finders_[worker])
            retiredFrames_ += finders_[worker]->framesDecoded();
        finders_[worker] =
            std::make_unique<FrameFinder>(info_, threads, stop_, worker == 0 ? primary_ : nullptr);
        finderThreads_[worker] = threads;
    }
    return *finders_[worker];
}

Result Engine::run(const Plan& plan, const Take& take) {
    const size_t count = plan.positions.size();
    if (count == 0)
        return Result::success();
    // In key-frame mode every position is a search of its own.
    std::vector<Pass> jobs;
    if (plan.keyFrameMode) {
        for (size_t i = 0; i < count; ++i)
            jobs.push_back(Pass{i, i + 1, false, -1, AV_NOPTS_VALUE, false,
                                i + 1 < count ? plan.positions[i + 1] : -1});
    } else {
        jobs = plan.passes;
    }

    // On two cores two single-threaded decoders beat one decoder with two
    // threads: frame threads wait on each other, separate passes do not.
    // With a single pass, its decoder gets the cores.
    const int cores = plan.oneFrameAtATime ? 1 : plan.cores > 0 ? plan.cores : decodingCores();
    const int workers = std::clamp(static_cast<int>(jobs.size()), 1, cores);
    const int threads = std::max(1, cores / workers);
    for (int w = 0; w < workers; ++w)
        finder(static_cast<size_t>(w), threads).setKeepLast(!plan.oneFrameAtATime);

    Shared shared;
    shared.slots.resize(count);
    shared.window = static_cast<size_t>(workers) + 1;

    const auto cancelled = [&] {
        return shared.abandon.load(std::memory_order_relaxed) ||
               (stop_ && stop_->load(std::memory_order_relaxed));
    };
    const auto work = [&](FrameFinder& f) {
        for (;;) {
            size_t j;
            {
                std::lock_guard<std::mutex> lock(shared.mutex);
                if (shared.nextJob >= jobs.size() || cancelled())
                    return;
                j = shared.nextJob++;
            }
            const Pass& pass = jobs[j];
            // Hands a frame to its slot, waiting while it lies beyond the
            // window.
            const FrameFinder::Deliver deliver = [&](size_t i, Found&& found) {
                const size_t slot = pass.begin + i;
                std::unique_lock<std::mutex> lock(shared.mutex);
                shared.changed.wait(
                    lock, [&] { return cancelled() || slot < shared.taken + shared.window; });
                if (cancelled())
                    return false;
                shared.slots[slot].done = true;
                shared.slots[slot].found = std::move(found);
                shared.changed.notify_all();
                if (plan.oneFrameAtATime)
                    shared.changed.wait(lock, [&] { return cancelled() || shared.used > slot; });
                return !cancelled();
            };
            Result rc;
            if (plan.keyFrameMode) {
                Found found;
                rc = f.findKeyFrame(plan.positions[pass.begin], plan.tolerance,
                                    plan.keys ? *plan.keys : KeyFrameList{}, cancelled, &found);
                if (rc.ok() && !deliver(0, std::move(found)))
                    rc = cancelledResult();
            } else {
                const std::vector<int64_t> positions(
                    plan.positions.begin() + static_cast<ptrdiff_t>(pass.begin),
                    plan.positions.begin() + static_cast<ptrdiff_t>(pass.end));
                rc = f.findSeries(positions, pass, cancelled, deliver);
            }
            // A search that failed fails every position of the pass it left.
            std::lock_guard<std::mutex> lock(shared.mutex);
            for (size_t i = pass.begin; i < pass.end; ++i) {
                auto& slot = shared.slots[i];
                if (!slot.done) {
                    slot.done = true;
                    slot.result = rc.ok() ? unspecifiedResult() : rc;
                }
            }
            shared.changed.notify_all();
        }
    };

    std::vector<std::thread> pool;
    for (int w = 0; w < workers; ++w)
        pool.emplace_back(work, std::ref(*finders_[static_cast<size_t>(w)]));

    Result result;
    for (size_t i = 0; i < count; ++i) {
        std::optional<Found> found;
        {
            std::unique_lock<std::mutex> lock(shared.mutex);
            shared.changed.wait(lock, [&] { return cancelled() || shared.slots[i].done; });
            if (!shared.slots[i].done) {
                result = cancelledResult();
                break;
            }
            if (!shared.slots[i].result.ok()) {
                result = shared.slots[i].result;
                break;
            }
            found = std::move(shared.slots[i].found);
            shared.slots[i].found = Found{};
            shared.taken = i + 1;
            shared.changed.notify_all();
        }
        // Taken (and converted) here, while the workers decode on.
        const bool more = take(i, std::move(*found));
        found.reset();
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            shared.used = i + 1;
        }
        shared.changed.notify_all();
        if (!more)
            break;
    }
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.abandon = true;
    }
    shared.changed.notify_all();
    for (std::thread& t : pool)
        t.join();
    if (result.ok() && stop_ && stop_->load(std::memory_order_relaxed))
        result = cancelledResult();
    return result;
}

} // namespace media::detail

namespace media {

void setDecodingCores(int cores) {
    detail::g_coreShare.store(std::max(0, cores), std::memory_order_relaxed);
}

} // namespace media
