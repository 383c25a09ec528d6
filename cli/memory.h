#pragma once
// How many sheets may be made at once without running out of memory.
//
// With -j every running capture holds its decoded frames and its sheet; on
// a small machine many large movies at once would swap or be killed. Each
// capture's peak is estimated before it decodes anything, and the batch
// keeps the sum of the estimates of the captures that run under a budget:
// a capture whose estimate does not fit next to those running waits until
// enough of them have finished. One whose estimate alone exceeds the budget
// still runs, but alone. Captures are let in in the order they asked, so a
// large one is not passed over for ever by small ones.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace cli {

// The memory this process may use: the smallest of the physical memory, the
// memory limit of its control group (v2 or v1, the tightest of its own and
// its parents') and its address-space limit (RLIMIT_AS), in bytes.
int64_t memoryThisProcessMayUse();

// The default budget: half of that.
int64_t defaultMemoryBudget();

// A capture's estimated peak: a decoded picture of `width` × `height` at
// three bytes a pixel (4:4:4 or 10-bit 4:2:0 fit in that) for every frame in
// flight — the decoder's reference and output frames, 4 plus one for each
// decoding thread, plus one more when each frame is also written at full
// size — and the sheet, with as much again for its scratch copy.
int64_t captureEstimate(int width, int height, int sheetWidth, int sheetHeight, int decodingThreads,
                        bool fullSizeFrames);

// What reading a movie's headers is taken to need: the streams' parameters
// are found by decoding a picture or two. Probes go through the budget too,
// or -j 64 would open 64 movies at once whatever the budget says.
constexpr int64_t kProbeEstimate = int64_t{16} << 20;

// "1500M", "2G", "512k", "1073741824": bytes, or -1 when the text is none.
int64_t parseMemorySize(const std::string& text);

// The budget shared by the captures of a run.
class MemoryGate {
public:
    explicit MemoryGate(int64_t budget);
    MemoryGate(const MemoryGate&) = delete;
    MemoryGate& operator=(const MemoryGate&) = delete;

    // Waits until `bytes` fit next to what is admitted, or nothing is
    // admitted, and it is this caller's turn; then admits them. False
    // (nothing admitted) when `stop` became true first.
    bool acquire(int64_t bytes, const std::atomic<bool>& stop);
    // Gives the bytes back. While others wait, what the caller's thread
    // freed is returned to the system as well (see memory.cpp).
    void release(int64_t bytes);

    int64_t budget() const { return budget_; }
    int64_t admitted() const;
    // The largest sum admitted at once so far.
    int64_t peak() const;

private:
    const int64_t budget_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int64_t admitted_ = 0;
    int running_ = 0;
    int64_t peak_ = 0;
    uint64_t nextTicket_ = 0;
    std::deque<uint64_t> waiting_; // tickets in the order they asked
};

// Holds an admission for the length of a scope.
class MemoryAdmission {
public:
    MemoryAdmission() = default;
    MemoryAdmission(MemoryGate& gate, int64_t bytes) : gate_(&gate), bytes_(bytes) {}
    ~MemoryAdmission() {
        if (gate_)
            gate_->release(bytes_);
    }
    MemoryAdmission(const MemoryAdmission&) = delete;
    MemoryAdmission& operator=(const MemoryAdmission&) = delete;

private:
    MemoryGate* gate_ = nullptr;
    int64_t bytes_ = 0;
};

} // namespace cli
