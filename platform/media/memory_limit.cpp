#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/media/movie_reader.h"

namespace media {

namespace {

constexpr int64_t kUnlimited = std::numeric_limits<int64_t>::max();

std::atomic<int64_t> g_override{0};

// A limit as the control group files write it: a number of bytes, or "max".
int64_t limitIn(const std::string& file) {
    std::ifstream in(file);
    std::string text;
    if (!(in >> text) || text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return kUnlimited;
    int64_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        if (value > (kUnlimited - 9) / 10)
            return kUnlimited;
        value = value * 10 + (c - '0');
    }
    return value > 0 ? value : kUnlimited;
}

// The tightest limit named `file` in the folder of the group and of every
// group above it, up to `root`.
int64_t groupLimit(const std::string& root, std::string group, const std::string& file) {
    int64_t limit = kUnlimited;
    for (;;) {
        limit = std::min(limit, limitIn(root + group + "/" + file));
        if (group.empty() || group == "/")
            return limit;
        const size_t slash = group.find_last_of('/');
        group = slash == std::string::npos ? std::string() : group.substr(0, slash);
    }
}

// The limits of this process's control groups: "0::/path" is cgroup v2,
// "N:…memory…:/path" the v1 memory controller.
int64_t controlGroupLimit() {
    std::ifstream in("/proc/self/cgroup");
    int64_t limit = kUnlimited;
    for (std::string line; std::getline(in, line);) {
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (line.compare(0, first, "0") == 0 && controllers.empty())
            limit = std::min(limit, groupLimit("/sys/fs/cgroup", path, "memory.max"));
        else if (("," + controllers + ",").find(",memory,") != std::string::npos)
            limit =
                std::min(limit, groupLimit("/sys/fs/cgroup/memory", path, "memory.limit_in_bytes"));
    }
    return limit;
}

} // namespace

int64_t memoryLimitBytes() {
    if (const int64_t set = g_override.load(std::memory_order_relaxed); set > 0)
        return set;
    int64_t limit = kUnlimited;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        limit = static_cast<int64_t>(pages) * pageSize;
    limit = std::min(limit, controlGroupLimit());
    rlimit space{};
    if (::getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY)
        limit = std::min(limit, static_cast<int64_t>(std::min<rlim_t>(
                                    space.rlim_cur, static_cast<rlim_t>(kUnlimited))));
    return limit == kUnlimited ? -1 : limit;
}

void setMemoryLimitBytes(int64_t bytes) {
    g_override.store(std::max<int64_t>(0, bytes), std::memory_order_relaxed);
}

} // namespace media
