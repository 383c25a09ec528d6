#include "platform/fs/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/target_path.h"

namespace {

constexpr const char* kTempMarker = ".stillwick-";
constexpr size_t kRandomLength = 6;

// Closes a descriptor when the scope ends.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the close itself succeeded (NFS and
    // some FUSE file systems report late write errors here).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string randomSuffix() {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}() ^
                                           (static_cast<uint64_t>(::getpid()) << 32)};
    std::string s(kRandomLength, 'x');
    for (char& c : s)
        c = kAlphabet[generator() % (sizeof kAlphabet - 1)];
    return s;
}

// The longest prefix of `text` of at most `limit` bytes that does not end in
// the middle of a UTF-8 sequence.
std::string cutAtCharacter(const std::string& text, size_t limit) {
    if (text.size() <= limit)
        return text;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

// Creates a new file in `folder` named after `stem`, whose name the folder
// can hold however long the stem is. The descriptor, or -1 with errno set.
int createTemporary(int folder, const std::string& stem, mode_t mode, std::string* name) {
    long nameMax = ::fpathconf(folder, _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = 255;
    const size_t fixed = 1 + std::strlen(kTempMarker) + kRandomLength;
    const size_t room =
        static_cast<size_t>(nameMax) > fixed ? static_cast<size_t>(nameMax) - fixed : 0;
    const std::string shortStem = cutAtCharacter(stem, room);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = "." + shortStem + kTempMarker + randomSuffix();
        const int fd =
            ::openat(folder, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            *name = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Opens a folder so that files can be made and renamed relative to it; a
// folder that may be entered but not listed is still usable that way.
int openFolder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

bool writeAllAt(int fd, const char* data, size_t size, off_t at) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, at);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

// Copies all of `from` (from its start) over the start of `to`; errno tells
// why when it returns false.
bool copyContents(int from, int to) {
    char buffer[1 << 16];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(from, buffer, sizeof buffer, at);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        if (!writeAllAt(to, buffer, static_cast<size_t>(n), at))
            return false;
        at += n;
    }
}

bool lacksFeature(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == ENOTTY;
}

std::string temporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

} // namespace

AtomicFile::Testing& AtomicFile::testing() {
    static Testing t;
    return t;
}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::fail(const char* what, int err) {
    discard();
    error_ = std::string(what) + " " + target_ + ": " + std::strerror(err);
    return false;
}

bool AtomicFile::failExists() {
    fail("Cannot create", EEXIST);
    targetExists_ = true;
    return false;
}

void AtomicFile::closeFolders() {
    if (tempFolder_ >= 0 && tempFolder_ != finalFolder_)
        ::close(tempFolder_);
    if (finalFolder_ >= 0)
        ::close(finalFolder_);
    tempFolder_ = -1;
    finalFolder_ = -1;
}

void AtomicFile::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!tempName_.empty()) {
        ::unlinkat(tempFolder_, tempName_.c_str(), 0);
        tempName_.clear();
    }
    closeFolders();
}

bool AtomicFile::openDescriptor(int descriptor, const std::string& name) {
    discard();
    target_ = name;
    error_.clear();
    targetExists_ = false;
    strategy_ = Strategy::InPlace;
    const int fd = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    if (fd < 0)
        return fail("Cannot write", errno);
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        const int err = errno;
        ::close(fd);
        return fail("Cannot write", err);
    }
    return true;
}

bool AtomicFile::openTemporary(int folder, const std::string& stem, unsigned mode) {
    std::string name;
    const int fd = createTemporary(folder, stem, static_cast<mode_t>(mode), &name);
    if (fd < 0)
        return false;
    tempFolder_ = folder;
    tempName_ = std::move(name);
    // The mode given to openat passed through the umask; a replaced file
    // keeps the permissions it had.
    if (fileMode_ != 0)
        ::fchmod(fd, static_cast<mode_t>(fileMode_));
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return false;
    }
    return true;
}

bool AtomicFile::open(const std::string& target, Mode mode) {
    discard();
    target_ = target;
    mode_ = mode;
    error_.clear();
    targetExists_ = false;
    fileMode_ = 0;
    if (target.empty()) {
        error_ = "Cannot write the file: no file name was given";
        return false;
    }

    const files::TargetPath where = files::resolveTarget(target);
    using Kind = files::TargetPath::Kind;
    switch (where.kind) {
    case Kind::Error:
        return fail("Cannot write", where.error);
    case Kind::Directory:
        return fail("Cannot write", EISDIR);
    case Kind::Descriptor: {
        const bool ok = openDescriptor(where.descriptor, target);
        target_ = target;
        return ok;
    }
    case Kind::Special:
        // Devices and pipes cannot be replaced; write straight into them.
        strategy_ = Strategy::InPlace;
        file_ = std::fopen(where.finalPath.c_str(), "wb");
        return file_ ? true : fail("Cannot open", errno);
    case Kind::Regular:
        if (mode == Mode::CreateNew)
            return failExists();
        break;
    case Kind::Missing:
        break;
    }

    finalPath_ = where.finalPath;
    finalName_ = files::lastComponentOf(finalPath_);
    finalFolder_ = openFolder(files::folderOf(finalPath_));
    if (finalFolder_ < 0)
        return fail("Cannot create", errno);
    struct stat st {};
    if (where.kind == Kind::Regular && ::fstatat(finalFolder_, finalName_.c_str(), &st, 0) == 0)
        fileMode_ = st.st_mode & 07777;

    strategy_ = Strategy::Rename;
    int err = EACCES;
    if (!testing().folderRefusesNewFiles) {
        if (openTemporary(finalFolder_, finalName_, fileMode_ != 0 ? fileMode_ : 0666))
            return true;
        err = errno;
    }
    const bool folderClosed = err == EACCES || err == EPERM;
    if (!folderClosed || where.kind != Kind::Regular || mode != Mode::Replace)
        return fail("Cannot create", err);

    // The folder takes no new entries but the file may still be writable:
    // finish the file elsewhere, then copy it over the old one.
    {
        Descriptor probe(::openat(finalFolder_, finalName_.c_str(), O_WRONLY | O_CLOEXEC));
        if (!probe.valid()) {
            const int writeErr = errno;
            discard();
            error_ = "Cannot replace " + target_ +
                     ": its folder admits no new files and the file itself cannot be written (" +
                     std::strerror(writeErr) + ")";
            return false;
        }
    }
    const int folder = openFolder(temporaryFolder());
    if (folder < 0)
        return fail("Cannot create a temporary file for", errno);
    strategy_ = Strategy::CopyInPlace;
    if (!openTemporary(folder, finalName_, 0600)) {
        const int tempErr = errno;
        ::close(folder);
        return fail("Cannot create a temporary file for", tempErr);
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
    if (ok && strategy_ != Strategy::InPlace && ::fsync(::fileno(file_)) != 0) {
        ok = false;
        err = errno;
    }
    if (std::fclose(file_) != 0 && ok) {
        ok = false;
        err = errno ? errno : EIO;
    }
    file_ = nullptr;
    if (!ok)
        return fail("Cannot write", err);
    if (strategy_ == Strategy::InPlace) {
        discard();
        return true;
    }

    if (testing().beforeMove)
        testing().beforeMove(finalPath_);
    const bool moved = strategy_ == Strategy::CopyInPlace ? copyInPlace() : moveIntoPlace();
    if (!moved)
        return false;
    discard();
    return true;
}

bool AtomicFile::moveIntoPlace() {
    const char* from = tempName_.c_str();
    const char* to = finalName_.c_str();
    if (mode_ == Mode::Replace) {
        if (::renameat(tempFolder_, from, finalFolder_, to) != 0)
            return fail("Cannot write", errno);
    } else {
        // The move itself must fail when the name is taken; checking first
        // would leave a window for another writer.
        bool moved = false;
        if (!testing().noRenameNoReplace) {
            if (::renameat2(tempFolder_, from, finalFolder_, to, RENAME_NOREPLACE) == 0)
                moved = true;
            else if (errno == EEXIST)
                return failExists();
            else if (!lacksFeature(errno))
                return fail("Cannot write", errno);
        }
        if (!moved && !testing().noHardLinks) {
            if (::linkat(tempFolder_, from, finalFolder_, to, 0) == 0) {
                ::unlinkat(tempFolder_, from, 0);
                moved = true;
            } else if (errno == EEXIST) {
                return failExists();
            } else if (!lacksFeature(errno) && errno != EPERM && errno != EMLINK) {
                return fail("Cannot write", errno);
            }
        }
        if (!moved && !createExclusively())
            return false;
    }
    tempName_.clear();
    // Make the new name itself durable; a folder opened without read access
    // cannot be synced, which costs nothing but durability.
    ::fsync(finalFolder_);
    return true;
}

// The last resort of CreateNew: claim the name with an exclusive create, then
// fill it. Readers may see the file grow, but no other file is ever replaced.
bool AtomicFile::createExclusively() {
    Descriptor to(
        ::openat(finalFolder_, finalName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!to.valid())
        return errno == EEXIST ? failExists() : fail("Cannot create", errno);
    Descriptor from(::openat(tempFolder_, tempName_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    bool ok = from.valid() && ::fstat(from.get(), &st) == 0 && copyContents(from.get(), to.get()) &&
              ::fchmod(to.get(), st.st_mode & 07777) == 0 && ::fsync(to.get()) == 0;
    int err = errno;
    if (!to.close() && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlinkat(finalFolder_, finalName_.c_str(), 0);
        return fail("Cannot write", err);
    }
    ::unlinkat(tempFolder_, tempName_.c_str(), 0);
    return true;
}

// Copies the finished file over the target in place. The target is changed
// only after its new size is reserved and its old contents are kept aside,
// so a failure on the way puts the old contents back.
bool AtomicFile::copyInPlace() {
    Descriptor from(::openat(tempFolder_, tempName_.c_str(), O_RDONLY | O_CLOEXEC));
    Descriptor to(::openat(finalFolder_, finalName_.c_str(), O_WRONLY | O_CLOEXEC));
    Descriptor old(::openat(finalFolder_, finalName_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!from.valid() || !to.valid())
        return fail("Cannot write", errno);
    struct stat newSt {
    }, oldSt{};
    if (::fstat(from.get(), &newSt) != 0 || ::fstat(to.get(), &oldSt) != 0)
        return fail("Cannot write", errno);
    if (!S_ISREG(oldSt.st_mode))
        return fail("Cannot write", EINVAL);
    if (!old.valid()) {
        const int err = errno;
        discard();
        error_ = "Cannot replace " + target_ +
                 " safely: its folder admits no new files and its old contents cannot be read "
                 "to keep a copy (" +
                 std::strerror(err) + ")";
        return false;
    }

    std::string backupName;
    Descriptor backup(createTemporary(tempFolder_, finalName_, 0600, &backupName));
    if (!backup.valid() || !copyContents(old.get(), backup.get())) {
        const int err = errno;
        if (backup.valid())
            ::unlinkat(tempFolder_, backupName.c_str(), 0);
        return fail("Cannot keep a copy of the old contents of", err);
    }
    if (newSt.st_size > oldSt.st_size &&
        ::fallocate(to.get(), FALLOC_FL_KEEP_SIZE, 0, newSt.st_size) != 0 && !lacksFeature(errno)) {
        const int err = errno;
        ::unlinkat(tempFolder_, backupName.c_str(), 0);
        return fail("Cannot write", err);
    }

    bool ok = copyContents(from.get(), to.get()) && ::ftruncate(to.get(), newSt.st_size) == 0 &&
              ::fsync(to.get()) == 0;
    const int err = errno;
    if (ok) {
        ::unlinkat(tempFolder_, backupName.c_str(), 0);
        return true;
    }
    const bool restored = copyContents(backup.get(), to.get()) &&
                          ::ftruncate(to.get(), oldSt.st_size) == 0 && ::fsync(to.get()) == 0;
    if (restored)
        ::unlinkat(tempFolder_, backupName.c_str(), 0);
    discard();
    error_ = "Cannot write " + target_ + ": " + std::strerror(err) +
             (restored ? "; its old contents were put back"
                       : "; it may be damaged, and its old contents are in " + temporaryFolder() +
                             "/" + backupName);
    return false;
}
