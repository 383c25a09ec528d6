#include "fuzz/fuzz_support.h"

#include <iterator>

extern "C" {
#include <libavutil/log.h>
}

namespace fuzz {

namespace {

constexpr const char* kExtensions[] = {
    ".avi", ".mkv", ".mp4", ".mov", ".mpg", ".m1v",  ".wmv", ".rm",
    ".dat", ".asf", ".qt",  ".ts",  ".flv", ".webm", ".m2v", ".bin",
};

} // namespace

std::string movieName(uint8_t selector) {
    return std::string("/fuzz/movie") + kExtensions[selector % std::size(kExtensions)];
}

uint8_t selectorFor(const std::string& extension) {
    for (size_t i = 0; i < std::size(kExtensions); ++i)
        if (extension == kExtensions[i])
            return static_cast<uint8_t>(i);
    return 0;
}

void silenceMediaLog() {
    av_log_set_level(AV_LOG_QUIET);
}

} // namespace fuzz
