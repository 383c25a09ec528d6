#pragma once
// Moving a file to a new name without ever replacing what is there.
//
// A file moved aside (a settings file that holds no settings) must not land
// on an earlier one moved aside for the same reason, and a finished file
// moved into place without -y must not land on a file another process made
// meanwhile. A check before the move would leave a window for that other
// process; here the move itself claims the name: renameat2 with
// RENAME_NOREPLACE, where the file system lacks it a hard link and the old
// name removed, and where it has no hard links either an exclusive create
// and a copy.

#include <string>

namespace files {

// Moves `from` to `to` while nothing is at `to`. 0 on success, or the errno:
// EEXIST when `to` is taken (and then nothing was changed).
int renameWithoutReplacing(const std::string& from, const std::string& to);

struct KeptAside {
    std::string path; // where the file now is; empty when it could not be moved
    int error = 0;    // the errno when it could not
};

// Moves `path` to the first free name of `path + suffix`, then
// `path + suffix + ".1"`, ".2", … (up to ".999"). The file's bytes are never
// read for the move, so an unreadable file is kept whole.
KeptAside keepAside(const std::string& path, const std::string& suffix = ".bak");

} // namespace files
