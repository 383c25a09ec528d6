#include "platform/fs/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The umask cannot be read without setting it, which would race with other
// threads; the kernel reports it in /proc instead.
mode_t currentUmask() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    mode_t mask = 022;
    if (!status)
        return mask;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "Umask:", 6) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
            break;
        }
    }
    std::fclose(status);
    return mask;
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::fail(const std::string& what, int err) {
    error_ = what + " " + target_ + ": " + std::strerror(err);
    return false;
}

bool AtomicFile::open(const std::string& target) {
    discard();
    target_ = target;
    finalPath_ = target;
    error_.clear();
    if (target.empty()) {
        error_ = "Cannot write the file: no file name was given";
        return false;
    }

    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            if (S_ISDIR(st.st_mode))
                return fail("Cannot write", EISDIR);
            // Devices and pipes cannot be replaced; write straight into them.
            file_ = std::fopen(target.c_str(), "wb");
            if (!file_)
                return fail("Cannot open", errno);
            return true;
        }
        // Replace what a symbolic link points at, not the link itself.
        if (char* resolved = ::realpath(target.c_str(), nullptr)) {
            finalPath_ = resolved;
            std::free(resolved);
        }
    }

    std::string pattern =
        directoryOf(finalPath_) + "/." + baseNameOf(finalPath_) + ".stillwick-XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return fail("Cannot create", errno);
    tempPath_ = pattern;
    // mkstemp makes the file private; give it the mode the target has, or the
    // mode a newly created file would get.
    mode_t mode =
        (::stat(finalPath_.c_str(), &st) == 0) ? (st.st_mode & 07777) : (0666 & ~currentUmask());
    ::fchmod(fd, mode);
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        int err = errno;
        ::close(fd);
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
        return fail("Cannot open", err);
    }
    return true;
}

bool AtomicFile::write(const void* data, size_t size) {
    if (!file_)
        return false;
    if (size != 0 && std::fwrite(data, 1, size, file_) != size)
        return fail("Cannot write", errno ? errno : EIO);
    return true;
}

bool AtomicFile::commit() {
    if (!file_) {
        if (error_.empty())
            error_ = "Cannot write " + target_ + ": the file is not open";
        return false;
    }
    bool ok = true;
    int err = 0;
    errno = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_)) {
        ok = false;
        err = errno ? errno : EIO;
    }
    if (ok && !tempPath_.empty() && ::fsync(::fileno(file_)) != 0) {
        ok = false;
        err = errno;
    }
    if (std::fclose(file_) != 0 && ok) {
        ok = false;
        err = errno ? errno : EIO;
    }
    file_ = nullptr;
    if (ok && !tempPath_.empty() && std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        if (!tempPath_.empty())
            ::unlink(tempPath_.c_str());
        tempPath_.clear();
        return fail("Cannot write", err);
    }
    tempPath_.clear();
    return true;
}

void AtomicFile::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}
