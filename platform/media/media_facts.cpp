#include "platform/media/media_facts.h"

#include <memory>
#include <sys/stat.h>

#include "platform/media/movie_reader.h"

namespace media {

Result readMediaFacts(const std::string& path, FactsDepth depth, MediaFacts* out,
                      const std::atomic<bool>* stop) {
    *out = MediaFacts{};
    std::unique_ptr<MovieReader> reader;
    Result rc = MovieReader::open(path, stop, &reader);
    if (!rc.ok()) {
        // What can be said of a file that cannot be read: its size.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            out->fileSize = static_cast<int64_t>(st.st_size);
        return rc;
    }
    // A file whose length cannot be found still has its other facts.
    if (depth == FactsDepth::Full && reader->hasVideo()) {
        rc = reader->measure();
        if (rc.isCancelled())
            return rc;
    }
    *out = reader->facts();
    return Result::success();
}

} // namespace media
