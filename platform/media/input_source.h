#pragma once
// Movies read from somewhere other than the file system.
//
// While a source is installed, every opening of a movie asks it first for a
// reader of that path's bytes; a path it does not know is read from the file
// system as usual. Tests and fuzzers hand the media layer bytes in memory
// this way, through the same demuxers, decoders and graph as a file. The
// graph opens one movie several times (probing, measuring the length, once
// per decoding worker), so every opening gets a reader of its own.
//
// Ownership: a source owns the readers it hands out and must outlive every
// input opened from it; install it before the first graph opens a movie and
// remove it after the last graph is gone.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct AVIOContext;

namespace media {

class InputSource {
public:
    virtual ~InputSource() = default;
    // A new reader at the start of the movie `path`, or null for the file
    // system. Called on whichever thread opens the movie.
    virtual AVIOContext* open(const std::string& path) = 0;
};

// Installs `source` for every later opening; null goes back to the file
// system alone.
void setInputSource(InputSource* source);
InputSource* inputSource();

// Movies held in memory, each under a name of its own.
class MemoryMovies final : public InputSource {
public:
    MemoryMovies();
    ~MemoryMovies() override;
    MemoryMovies(const MemoryMovies&) = delete;
    MemoryMovies& operator=(const MemoryMovies&) = delete;

    void add(const std::string& path, const uint8_t* data, size_t size);
    void add(const std::string& path, std::vector<uint8_t> bytes);
    // Called on the reading thread before every read of every reader, for
    // tests that act at a chosen read; set it before the first opening.
    void setReadHook(std::function<void()> hook) { readHook_ = std::move(hook); }
    AVIOContext* open(const std::string& path) override;
    // How many readers were handed out.
    size_t openings() const;

private:
    struct Reader;
    struct ContextDeleter {
        void operator()(AVIOContext* context) const;
    };
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const std::vector<uint8_t>>> movies_;
    std::vector<std::unique_ptr<Reader>> readers_;
    std::vector<std::unique_ptr<AVIOContext, ContextDeleter>> contexts_;
    std::function<void()> readHook_;
};

} // namespace media
