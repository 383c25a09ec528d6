#pragma once
// Writing a file so that it is either completely written or not changed.
//
// `AtomicFile` writes into a temporary file and moves it into place on
// `commit`, so a failure half-way (a full disk, a libjpeg error) leaves the
// old file as it was. Where the bytes finally go:
//
// - A regular file, or nothing yet: the temporary file sits beside the target
//   and is renamed onto it. Its name is the target's with a dot in front and
//   a random suffix, its stem shortened when the name would be too long for
//   the folder, so any target name that the folder allows can be written.
// - `Mode::CreateNew`: the rename succeeds only while the target does not
//   exist (renameat2 with RENAME_NOREPLACE; where the file system lacks it, a
//   hard link, and where it has no hard links either, an exclusive create and
//   a copy). A file that appeared after `open` — another process making the
//   same sheet — is kept and `commit` fails with `targetExists()` set.
// - A symbolic link: followed, also when it dangles; the file it names is
//   written and the link stays a link.
// - A regular file in a folder that admits no new entries (a read-only folder
//   around a writable file): the complete file is written to a temporary file
//   in the system's temporary folder, then copied over the target in place.
//   The space is reserved first and a copy of the old contents is kept
//   aside, so a failing copy puts the old contents back.
// - A device, pipe or socket, or a name for one of the process's open
//   descriptors (/dev/stdout, /dev/fd/N): written in place, never removed.
//   `openDescriptor` writes to a descriptor directly.
//
// The object owns the open stream and the temporary files; destroying it
// without a successful commit closes the stream and removes them.

#include <cstdio>
#include <string>

class AtomicFile {
public:
    enum class Mode {
        Replace,   // an existing file is replaced once the new one is complete
        CreateNew, // an existing file is never replaced
    };

    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // Prepares the stream for `target`. On failure returns false and `error`
    // names the file and the reason.
    bool open(const std::string& target, Mode mode = Mode::Replace);
    // Writes to an open descriptor of the caller's (which stays open), under
    // `name` in messages.
    bool openDescriptor(int descriptor, const std::string& name);
    // The stream to write to; null before a successful open.
    std::FILE* stream() const { return file_; }
    // Writes `size` bytes; false (and `error` set) when the write failed.
    bool write(const void* data, size_t size);
    // Flushes, closes and moves the file into place. False (the target
    // untouched, unless it is written in place) when anything failed on the
    // way, including an earlier write error the stream remembers.
    bool commit();
    // Closes and removes the temporary files; the target stays as it was.
    void discard();

    const std::string& error() const { return error_; }
    const std::string& target() const { return target_; }
    // The last open or commit failed because the target exists (CreateNew).
    bool targetExists() const { return targetExists_; }

    // Seams for tests: a hook that runs when the file is complete, just
    // before it is moved into place, and switches that make the commit take
    // the paths a file system without these features forces on it.
    struct Testing {
        void (*beforeMove)(const std::string& finalPath) = nullptr;
        bool noRenameNoReplace = false;
        bool noHardLinks = false;
        // The target's folder refuses new entries, as a read-only folder
        // does to anyone but root.
        bool folderRefusesNewFiles = false;
    };
    static Testing& testing();

private:
    enum class Strategy { InPlace, Rename, CopyInPlace };

    bool fail(const char* what, int err);
    bool failExists();
    bool openTemporary(int folder, const std::string& stem, unsigned mode);
    bool moveIntoPlace();
    bool createExclusively();
    bool copyInPlace();
    void closeFolders();

    std::FILE* file_ = nullptr;
    Mode mode_ = Mode::Replace;
    Strategy strategy_ = Strategy::Rename;
    std::string target_;    // the path the caller asked for
    std::string finalPath_; // where the file lands (symbolic links followed)
    std::string finalName_; // its last component
    int finalFolder_ = -1;  // its folder, open
    int tempFolder_ = -1;   // the temporary file's folder: the final one, or the system's
    std::string tempName_;  // empty when writing in place
    unsigned fileMode_ = 0; // permission bits the finished file gets
    bool targetExists_ = false;
    std::string error_;
};
