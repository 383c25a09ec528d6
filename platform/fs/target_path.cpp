#include "platform/fs/target_path.h"

#include <cerrno>
#include <climits>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace files {

namespace {

// Linux gives up after 40 links in a row; so do we.
constexpr int kMaxLinks = 40;

// The number that makes up all of `text`, or -1.
int wholeNumber(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool consumePrefix(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix)
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

} // namespace

int descriptorNamedBy(const std::string& path) {
    if (path == "/dev/stdin")
        return 0;
    if (path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    std::string_view rest = path;
    if (consumePrefix(rest, "/dev/fd/") || consumePrefix(rest, "/proc/self/fd/") ||
        consumePrefix(rest, "/proc/thread-self/fd/"))
        return wholeNumber(rest);
    if (consumePrefix(rest, "/proc/")) {
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos || wholeNumber(rest.substr(0, slash)) != ::getpid())
            return -1;
        rest.remove_prefix(slash);
        if (consumePrefix(rest, "/fd/"))
            return wholeNumber(rest);
    }
    return -1;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string lastComponentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

TargetPath resolveTarget(const std::string& path) {
    TargetPath t;
    std::string at = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        if (const int fd = descriptorNamedBy(at); fd >= 0) {
            struct stat st {};
            if (::fstat(fd, &st) != 0) {
                t.kind = TargetPath::Kind::Error;
                t.error = errno;
                return t;
            }
            t.kind = TargetPath::Kind::Descriptor;
            t.descriptor = fd;
            t.finalPath = at;
            t.device = st.st_dev;
            t.inode = st.st_ino;
            return t;
        }
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0) {
            if (errno == ENOENT && !at.empty() && at.back() != '/') {
                t.kind = TargetPath::Kind::Missing;
                t.finalPath = at;
            } else {
                t.kind = TargetPath::Kind::Error;
                t.error = errno;
            }
            return t;
        }
        if (S_ISLNK(st.st_mode)) {
            std::vector<char> buffer(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1
                                                    : PATH_MAX);
            const ssize_t n = ::readlink(at.c_str(), buffer.data(), buffer.size());
            if (n < 0) {
                t.kind = TargetPath::Kind::Error;
                t.error = errno;
                return t;
            }
            const std::string link(buffer.data(), static_cast<size_t>(n));
            at = (!link.empty() && link[0] == '/') ? link : folderOf(at) + "/" + link;
            continue;
        }
        t.finalPath = at;
        t.device = st.st_dev;
        t.inode = st.st_ino;
        t.kind = S_ISREG(st.st_mode)   ? TargetPath::Kind::Regular
                 : S_ISDIR(st.st_mode) ? TargetPath::Kind::Directory
                                       : TargetPath::Kind::Special;
        return t;
    }
    t.kind = TargetPath::Kind::Error;
    t.error = ELOOP;
    return t;
}

} // namespace files
