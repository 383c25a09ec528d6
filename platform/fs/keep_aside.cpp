#include "platform/fs/keep_aside.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/atomic_file.h"

namespace files {

namespace {

bool lacksFeature(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == ENOTTY;
}

// The last resort: claim `to` by creating it exclusively, copy the bytes
// over, then remove `from`. A copy that fails takes the claimed name back.
int copyThenRemove(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    int err = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < n && err == 0;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno != EINTR)
                err = errno;
            else if (w > 0)
                done += w;
        }
        if (err != 0)
            break;
    }
    if (err == 0 && ::fsync(out) != 0)
        err = errno;
    if (::close(out) != 0 && err == 0)
        err = errno;
    ::close(in);
    if (err == 0 && ::unlink(from.c_str()) != 0)
        err = errno;
    if (err != 0)
        ::unlink(to.c_str());
    return err;
}

} // namespace

int renameWithoutReplacing(const std::string& from, const std::string& to) {
    const AtomicFile::Testing& testing = AtomicFile::testing();
    if (!testing.noRenameNoReplace) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (!lacksFeature(errno))
            return errno;
    }
    if (!testing.noHardLinks) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            // Both names lead to the file now; dropping the old one finishes
            // the move. Should that fail, the new name goes instead, so the
            // file is not left under two names.
            if (::unlink(from.c_str()) != 0) {
                const int err = errno;
                ::unlink(to.c_str());
                return err;
            }
            return 0;
        }
        if (!lacksFeature(errno) && errno != EPERM && errno != EMLINK)
            return errno;
    }
    return copyThenRemove(from, to);
}

KeptAside keepAside(const std::string& path, const std::string& suffix) {
    KeptAside kept;
    const std::string first = path + suffix;
    for (int n = 0; n < 1000; ++n) {
        const std::string candidate = n == 0 ? first : first + "." + std::to_string(n);
        const int err = renameWithoutReplacing(path, candidate);
        if (err == 0) {
            kept.path = candidate;
            return kept;
        }
        // A folder of that name is as taken as a file.
        if (err != EEXIST && err != ENOTEMPTY && err != EISDIR) {
            kept.error = err;
            return kept;
        }
    }
    kept.error = EEXIST;
    return kept;
}

} // namespace files
