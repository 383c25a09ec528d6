#pragma once
// Writing a file so that it is either completely written or not changed.
//
// `AtomicFile` writes into a temporary file beside the target and renames it
// over the target on `commit`, so a failure half-way (a full disk, a libjpeg
// error) leaves the old file as it was. A target that exists and is not a
// regular file (a device such as /dev/null or /dev/full) is written in place
// and never removed. The object owns the open stream and the temporary file;
// destroying it without a successful commit closes the stream and removes the
// temporary file.

#include <cstdio>
#include <string>

class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // Prepares the stream for `target`. On failure returns false and `error`
    // names the file and the reason.
    bool open(const std::string& target);
    // The stream to write to; null before a successful open.
    std::FILE* stream() const { return file_; }
    // Writes `size` bytes; false (and `error` set) when the write failed.
    bool write(const void* data, size_t size);
    // Flushes, closes and moves the file into place. False (the target
    // untouched, unless it is a device) when anything failed on the way,
    // including an earlier write error the stream remembers.
    bool commit();
    // Closes and removes the temporary file; the target stays as it was.
    void discard();

    const std::string& error() const { return error_; }
    const std::string& target() const { return target_; }

private:
    bool fail(const std::string& what, int err);

    std::FILE* file_ = nullptr;
    std::string target_;    // the path the caller asked for
    std::string finalPath_; // where the file lands (the target, symbolic links resolved)
    std::string tempPath_;  // empty when writing in place
    std::string error_;
};
