#pragma once
// Where a write to a path really lands.
//
// A sheet's target may be a plain name, a symbolic link (even one that points
// at nothing yet), a device, or a name for one of the process's own open
// descriptors such as /dev/stdout. Every part of the program that decides
// about a target — whether it exists, whether two targets are the same file,
// how to write it — asks here, so that they all agree.
//
// Symbolic links are followed, also when they dangle: a write goes to the
// file the link names and the link itself stays as it is.

#include <string>
#include <sys/types.h>

namespace files {

struct TargetPath {
    enum class Kind {
        Missing,    // nothing there yet: the write creates `finalPath`
        Regular,    // a regular file at `finalPath`
        Directory,  // cannot be written
        Special,    // a device, pipe or socket: written in place, never replaced
        Descriptor, // names an open descriptor of this process (`descriptor`)
        Error,      // the path cannot be looked at; `error` is the errno
    };
    Kind kind = Kind::Error;
    std::string finalPath; // the path with every symbolic link on its last step followed
    int descriptor = -1;   // Kind::Descriptor only
    int error = 0;         // Kind::Error only
    // Identity of what is there (every kind but Missing and Error).
    dev_t device = 0;
    ino_t inode = 0;

    bool exists() const { return kind != Kind::Missing && kind != Kind::Error; }
    bool sameFileAs(const TargetPath& other) const {
        return exists() && other.exists() && device == other.device && inode == other.inode;
    }
};

TargetPath resolveTarget(const std::string& path);

// The descriptor a path names when it is one of the process's own: /dev/stdin,
// /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N, /proc/thread-self/fd/N
// or /proc/<this process>/fd/N. -1 for any other path.
int descriptorNamedBy(const std::string& path);

// The folder part of a path ("." for a bare name, "/" for the root's entries)
// and its last component.
std::string folderOf(const std::string& path);
std::string lastComponentOf(const std::string& path);

} // namespace files
