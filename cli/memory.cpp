#include "cli/memory.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <limits>
#include <malloc.h>

#include "platform/media/movie_reader.h"

namespace cli {

namespace {

constexpr int64_t kUnlimited = std::numeric_limits<int64_t>::max();

} // namespace

int64_t memoryThisProcessMayUse() {
    const int64_t limit = media::memoryLimitBytes();
    // Without any figure, a modest machine.
    return limit > 0 ? limit : int64_t{4} << 30;
}

int64_t defaultMemoryBudget() {
    return memoryThisProcessMayUse() / 2;
}

int64_t captureEstimate(int width, int height, int sheetWidth, int sheetHeight, int decodingThreads,
                        bool fullSizeFrames) {
    const int64_t picture = int64_t{std::max(width, 0)} * std::max(height, 0) * 3;
    const int64_t frames = 4 + std::max(decodingThreads, 1) + (fullSizeFrames ? 1 : 0);
    const int64_t sheet = int64_t{std::max(sheetWidth, 0)} * std::max(sheetHeight, 0) * 3;
    return picture * frames + 2 * sheet;
}

int64_t parseMemorySize(const std::string& text) {
    size_t at = 0;
    int64_t value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        if (value > (kUnlimited - 9) / 10)
            return -1;
        value = value * 10 + (text[at++] - '0');
    }
    if (at == 0)
        return -1;
    std::string unit = text.substr(at);
    for (char& c : unit)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    int shift = 0;
    if (unit.empty() || unit == "b")
        shift = 0;
    else if (unit == "k" || unit == "kib" || unit == "kb")
        shift = 10;
    else if (unit == "m" || unit == "mib" || unit == "mb")
        shift = 20;
    else if (unit == "g" || unit == "gib" || unit == "gb")
        shift = 30;
    else if (unit == "t" || unit == "tib" || unit == "tb")
        shift = 40;
    else
        return -1;
    if (value > (kUnlimited >> shift))
        return -1;
    return value > 0 ? value << shift : -1;
}

MemoryGate::MemoryGate(int64_t budget) : budget_(budget) {}

bool MemoryGate::acquire(int64_t bytes, const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t ticket = nextTicket_++;
    waiting_.push_back(ticket);
    for (;;) {
        if (stop.load()) {
            waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
            changed_.notify_all();
            return false;
        }
        if (waiting_.front() == ticket && (running_ == 0 || admitted_ + bytes <= budget_))
            break;
        // A stop comes from a signal handler, which cannot wake the wait:
        // it is looked at every few milliseconds.
        changed_.wait_for(lock, std::chrono::milliseconds(20));
    }
    waiting_.pop_front();
    admitted_ += bytes;
    ++running_;
    peak_ = std::max(peak_, admitted_);
    // The next in line may fit too.
    changed_.notify_all();
    return true;
}

void MemoryGate::release(int64_t bytes) {
    bool waited = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        admitted_ -= bytes;
        --running_;
        waited = !waiting_.empty();
    }
    // What a capture freed stays with its thread's malloc arena, ready for
    // the next movie (main.cpp asks for that); while others wait for memory
    // it is given back, or the next capture would come on top of it.
    if (waited)
        ::malloc_trim(0);
    changed_.notify_all();
}

int64_t MemoryGate::admitted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return admitted_;
}

int64_t MemoryGate::peak() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return peak_;
}

} // namespace cli
