#include "cli/memory.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <limits>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace cli {

namespace {

constexpr int64_t kUnlimited = std::numeric_limits<int64_t>::max();

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

int64_t memoryThisProcessMayUse() {
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
    // Without any figure, a modest machine.
    return limit == kUnlimited ? int64_t{4} << 30 : limit;
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
