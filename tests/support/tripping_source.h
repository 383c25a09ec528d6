#pragma once
// Movies in memory whose reading trips a wire, for tests of stopping work
// that is under way.
//
// The source counts every read of every reader the media layer opens. Once
// armed, the chosen read sets the stop flag and calls a hook (a test may
// cancel a job there instead), and from then on every read stalls for a few
// milliseconds, as a slow disk or a network share would: whatever is still
// read after the trip is what the stop failed to prevent, and the work cannot
// race to its end before the stop is seen. Nothing here measures time.
//
// Header-only, so that only the tests that link the media layer need it.
// The bytes are read through the media layer's own memory movies.
// Ownership: the source owns its readers and must outlive every graph that
// opened a movie through it (see platform/media/input_source.h).

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/input_source.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace testmovies {

class TrippingSource final : public media::InputSource {
public:
    TrippingSource() {
        movies_.setReadHook([this] { counted(); });
        media::setInputSource(this);
    }
    ~TrippingSource() override { media::setInputSource(nullptr); }
    TrippingSource(const TrippingSource&) = delete;
    TrippingSource& operator=(const TrippingSource&) = delete;

    void add(const std::string& path, std::vector<uint8_t> bytes) {
        movies_.add(path, std::move(bytes));
    }

    // Trips at the `afterReads`-th read from now: sets `*stop` (when given)
    // and calls `onTrip` (when given), on the reading thread. Arming again
    // lays a fresh wire: reads are fast again until it trips.
    void arm(int64_t afterReads, std::atomic<bool>* stop, std::function<void()> onTrip = {}) {
        std::lock_guard<std::mutex> lock(mutex_);
        tripped_.store(false);
        afterTrip_.store(0);
        stop_ = stop;
        onTrip_ = std::move(onTrip);
        tripAt_ = reads_.load() + afterReads;
    }

    // No wire any more: every read is fast.
    void disarm() {
        std::lock_guard<std::mutex> lock(mutex_);
        tripAt_ = 0;
        tripped_.store(false);
    }

    int64_t reads() const { return reads_.load(); }
    bool tripped() const { return tripped_.load(); }
    int64_t readsAfterTrip() const { return afterTrip_.load(); }

    AVIOContext* open(const std::string& path) override { return movies_.open(path); }

private:
    void counted() {
        const int64_t n = ++reads_;
        if (tripped_.load()) {
            ++afterTrip_;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return;
        }
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (tripAt_ <= 0 || n < tripAt_ || tripped_.load())
                return;
            tripped_.store(true);
            if (stop_)
                stop_->store(true);
            hook = onTrip_;
        }
        if (hook)
            hook();
    }

    media::MemoryMovies movies_;
    std::mutex mutex_;
    std::atomic<int64_t> reads_{0};
    std::atomic<int64_t> afterTrip_{0};
    std::atomic<bool> tripped_{false};
    int64_t tripAt_ = 0;
    std::atomic<bool>* stop_ = nullptr;
    std::function<void()> onTrip_;
};

// A long MPEG-1 elementary stream: a 10-second stream with a moving texture,
// repeated `copies` times. Such a stream states no length, so only reading
// all of it tells how long it is, and a frame near its end is found by
// decoding from its start. Empty when the maker failed.
inline std::vector<uint8_t> longElementaryStream(const TempDir& dir, int copies) {
    MovieSpec spec;
    spec.path = dir.file("piece.m1v");
    spec.frames = 250;
    spec.noise = 24;
    if (make(spec, nullptr) != 0)
        return {};
    std::ifstream in(spec.path, std::ios::binary);
    const std::vector<uint8_t> piece{std::istreambuf_iterator<char>(in), {}};
    std::vector<uint8_t> bytes;
    bytes.reserve(piece.size() * static_cast<size_t>(copies));
    for (int i = 0; i < copies; ++i)
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    return bytes;
}

} // namespace testmovies
