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
// Ownership: the source owns its readers and must outlive every graph that
// opened a movie through it (see platform/media/input_source.h).

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/input_source.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace testmovies {

class TrippingSource final : public media::InputSource {
public:
    TrippingSource() { media::setInputSource(this); }
    ~TrippingSource() override { media::setInputSource(nullptr); }
    TrippingSource(const TrippingSource&) = delete;
    TrippingSource& operator=(const TrippingSource&) = delete;

    void add(const std::string& path, std::vector<uint8_t> bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        movies_[path] = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
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

    AVIOContext* open(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = movies_.find(path);
        if (found == movies_.end())
            return nullptr;
        auto reader = std::make_unique<Reader>();
        reader->owner = this;
        reader->bytes = found->second;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
        if (!buffer)
            return nullptr;
        AVIOContext* context = avio_alloc_context(buffer, kBufferSize, 0, reader.get(),
                                                  &Reader::read, nullptr, &Reader::seek);
        if (!context) {
            av_free(buffer);
            return nullptr;
        }
        context->seekable = AVIO_SEEKABLE_NORMAL;
        contexts_.emplace_back(context);
        readers_.push_back(std::move(reader));
        return context;
    }

private:
    static constexpr int kBufferSize = 1 << 15;

    struct Reader {
        TrippingSource* owner = nullptr;
        std::shared_ptr<const std::vector<uint8_t>> bytes;
        int64_t at = 0;

        static int read(void* opaque, uint8_t* to, int size) {
            auto* r = static_cast<Reader*>(opaque);
            r->owner->counted();
            const int64_t total = static_cast<int64_t>(r->bytes->size());
            const int64_t n = std::min<int64_t>(size, total - r->at);
            if (n <= 0)
                return AVERROR_EOF;
            std::memcpy(to, r->bytes->data() + r->at, static_cast<size_t>(n));
            r->at += n;
            return static_cast<int>(n);
        }

        static int64_t seek(void* opaque, int64_t offset, int whence) {
            auto* r = static_cast<Reader*>(opaque);
            const int64_t total = static_cast<int64_t>(r->bytes->size());
            int64_t to = 0;
            switch (whence & ~AVSEEK_FORCE) {
            case AVSEEK_SIZE:
                return total;
            case SEEK_SET:
                to = offset;
                break;
            case SEEK_CUR:
                to = r->at + offset;
                break;
            case SEEK_END:
                to = total + offset;
                break;
            default:
                return AVERROR(EINVAL);
            }
            if (to < 0)
                return AVERROR(EINVAL);
            r->at = std::min(to, total);
            return r->at;
        }
    };

    struct ContextDeleter {
        void operator()(AVIOContext* context) const {
            av_freep(&context->buffer);
            avio_context_free(&context);
        }
    };

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

    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const std::vector<uint8_t>>> movies_;
    std::vector<std::unique_ptr<Reader>> readers_;
    std::vector<std::unique_ptr<AVIOContext, ContextDeleter>> contexts_;
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
