#include "platform/media/input_source.h"

#include <algorithm>
#include <atomic>
#include <cstring>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace media {

namespace {

std::atomic<InputSource*> g_source{nullptr};

constexpr int kBufferSize = 1 << 15;

} // namespace

void setInputSource(InputSource* source) {
    g_source.store(source);
}

InputSource* inputSource() {
    return g_source.load();
}

struct MemoryMovies::Reader {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    int64_t at = 0;
    const std::function<void()>* hook = nullptr;

    static int read(void* opaque, uint8_t* to, int size) {
        auto* r = static_cast<Reader*>(opaque);
        if (*r->hook)
            (*r->hook)();
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

void MemoryMovies::ContextDeleter::operator()(AVIOContext* context) const {
    // The library may have replaced the buffer it was given; free the one it holds.
    av_freep(&context->buffer);
    avio_context_free(&context);
}

MemoryMovies::MemoryMovies() = default;
MemoryMovies::~MemoryMovies() = default;

void MemoryMovies::add(const std::string& path, const uint8_t* data, size_t size) {
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    std::lock_guard<std::mutex> lock(mutex_);
    movies_[path] = std::move(bytes);
}

void MemoryMovies::add(const std::string& path, std::vector<uint8_t> bytes) {
    auto shared = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    std::lock_guard<std::mutex> lock(mutex_);
    movies_[path] = std::move(shared);
}

AVIOContext* MemoryMovies::open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = movies_.find(path);
    if (found == movies_.end())
        return nullptr;
    auto reader = std::make_unique<Reader>();
    reader->bytes = found->second;
    reader->hook = &readHook_;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer)
        return nullptr;
    AVIOContext* context = avio_alloc_context(buffer, kBufferSize, 0, reader.get(), &Reader::read,
                                              nullptr, &Reader::seek);
    if (!context) {
        av_free(buffer);
        return nullptr;
    }
    context->seekable = AVIO_SEEKABLE_NORMAL;
    contexts_.emplace_back(context);
    readers_.push_back(std::move(reader));
    return context;
}

size_t MemoryMovies::openings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contexts_.size();
}

} // namespace media
