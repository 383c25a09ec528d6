#include "platform/media/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace media {

namespace {

std::atomic<int> g_threshold{AV_LOG_QUIET};

void callback(void* avcl, int level, const char* fmt, va_list args) {
    if (level > g_threshold.load(std::memory_order_relaxed))
        return;
    char line[1024];
    int printPrefix = 1;
    va_list copy;
    va_copy(copy, args);
    av_log_format_line2(avcl, level, fmt, copy, line, sizeof line, &printPrefix);
    va_end(copy);
    std::fputs(line, stderr);
}

} // namespace

void quietLibrary() {
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(callback); });
}

void setLibraryLog(LibraryLog level) {
    quietLibrary();
    g_threshold.store(level == LibraryLog::Silent   ? AV_LOG_QUIET
                      : level == LibraryLog::Errors ? AV_LOG_ERROR
                                                    : AV_LOG_DEBUG,
                      std::memory_order_relaxed);
}

} // namespace media
