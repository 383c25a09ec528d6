#include "cli/batch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ostream>
#include <system_error>
#include <thread>

namespace cli {

class Batch::SlotProgress : public ItemProgress {
public:
    SlotProgress(Batch& batch, size_t slot) : batch_(batch), slot_(slot) {}
    void begin(const std::string& label, int64_t moments) override {
        std::lock_guard<std::mutex> lock(batch_.stateMutex_);
        Slot& s = batch_.slots_[slot_];
        s.label = label;
        s.moments = moments;
        s.done = 0;
        s.busy = true;
    }
    void momentDone() override {
        std::lock_guard<std::mutex> lock(batch_.stateMutex_);
        ++batch_.slots_[slot_].done;
    }

private:
    Batch& batch_;
    size_t slot_;
};

Batch::Batch(std::ostream& out, std::ostream& err, bool live, int columns)
    : out_(out), err_(err), live_(live), columns_(columns) {}

Batch::~Batch() = default;

BatchCounts Batch::run(size_t count, int workers, const Work& work, const std::atomic<bool>& stop) {
    count_ = count;
    next_ = 0;
    start_ = std::chrono::steady_clock::now();
    const size_t threads = std::clamp<size_t>(static_cast<size_t>(std::max(workers, 1)), 1,
                                              std::max<size_t>(count, 1));
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        slots_.assign(threads, Slot{});
        counts_ = BatchCounts{};
    }
    {
        std::lock_guard<std::mutex> lock(writeMutex_);
        results_.assign(count, std::nullopt);
        nextToWrite_ = 0;
    }
    if (live_)
        line_ = std::make_unique<LiveLine>(
            err_, [this] { return liveText(); }, columns_);

    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(&Batch::workerLoop, this, t, std::cref(work), std::cref(stop));
        } catch (const std::system_error&) {
            break; // fewer threads: the items are still all made
        }
    }
    workerLoop(0, work, stop);
    for (std::thread& t : pool)
        t.join();

    if (line_)
        line_->stop();
    line_.reset();
    std::lock_guard<std::mutex> lock(stateMutex_);
    counts_.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    return counts_;
}

void Batch::workerLoop(size_t slot, const Work& work, const std::atomic<bool>& stop) {
    SlotProgress progress(*this, slot);
    for (;;) {
        if (stop.load())
            return;
        const size_t index = next_.fetch_add(1);
        if (index >= count_)
            return;
        ItemResult result = work(index, progress);
        finish(index, slot, std::move(result));
    }
}

void Batch::finish(size_t index, size_t slot, ItemResult result) {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        slots_[slot] = Slot{};
        switch (result.outcome) {
        case Outcome::Made:
            ++counts_.made;
            break;
        case Outcome::Incomplete:
            ++counts_.made;
            ++counts_.incomplete;
            break;
        case Outcome::Failed:
            ++counts_.failed;
            break;
        }
    }
    std::lock_guard<std::mutex> lock(writeMutex_);
    results_[index] = std::move(result);
    while (nextToWrite_ < results_.size() && results_[nextToWrite_]) {
        ItemResult& ready = *results_[nextToWrite_];
        if (!ready.out.empty())
            write(out_, ready.out);
        if (!ready.err.empty())
            write(err_, ready.err);
        results_[nextToWrite_] = ItemResult{ready.outcome, {}, {}};
        ++nextToWrite_;
    }
}

void Batch::write(std::ostream& to, const std::string& text) {
    errno = 0;
    if (line_)
        line_->print(to, text);
    else
        to << text << std::flush;
    if (!to && errno == EPIPE && outputClosed_)
        outputClosed_();
}

std::string Batch::liveText() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const size_t total = count_;
    const size_t finished = static_cast<size_t>(counts_.made + counts_.failed);
    double progress = static_cast<double>(finished);
    std::string working;
    for (const Slot& s : slots_) {
        if (!s.busy)
            continue;
        if (s.moments > 0)
            progress += static_cast<double>(s.done) / static_cast<double>(s.moments + 1);
        // Appended piece by piece: GCC 12 warns falsely about `"literal" +
        // std::string&&` at -O3.
        working.append(" | ").append(s.label);
        if (s.moments > 0)
            working.append(" ")
                .append(std::to_string(s.done))
                .append("/")
                .append(std::to_string(s.moments));
    }
    std::string text = std::to_string(finished);
    text.append("/").append(std::to_string(total)).append("  ").append(spokenDuration(elapsed));
    if (total > 0 && progress > 0 && elapsed >= 1) {
        const double share = std::min(1.0, progress / static_cast<double>(total));
        text.append(", about ")
            .append(spokenDuration(elapsed * (1 - share) / share))
            .append(" left");
    }
    return text.append(working);
}

void forEachInParallel(size_t count, int workers, const std::function<void(size_t)>& fn,
                       const std::atomic<bool>& stop) {
    std::atomic<size_t> next{0};
    auto loop = [&] {
        for (size_t i; !stop.load() && (i = next.fetch_add(1)) < count;)
            fn(i);
    };
    std::vector<std::thread> pool;
    const size_t threads = std::min<size_t>(static_cast<size_t>(std::max(workers, 1)), count);
    for (size_t t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(loop);
        } catch (const std::system_error&) {
            break;
        }
    }
    loop();
    for (std::thread& t : pool)
        t.join();
}

std::string summaryLine(const BatchCounts& counts, bool info, const char* one, const char* many) {
    std::string line =
        std::to_string(counts.made) + (info ? (counts.made == 1 ? " movie read" : " movies read")
                                            : std::string(" ") + (counts.made == 1 ? one : many));
    if (counts.incomplete > 0)
        line.append(", ").append(std::to_string(counts.incomplete)).append(" incomplete");
    line.append(", ").append(std::to_string(counts.failed)).append(" failed");
    if (counts.skipped > 0)
        line.append(", ")
            .append(std::to_string(counts.skipped))
            .append(counts.skipped == 1 ? " file was no movie" : " files were no movies");
    return line.append(", ").append(spokenDuration(counts.seconds));
}

} // namespace cli
