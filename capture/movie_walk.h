#pragma once
// The movies a list of names stands for, as both front ends find them. A
// file named is taken as it is (a file that is no movie fails with its
// reason); a folder stands for the files in it (with `recursive`, in its
// sub-folders too), in name order. What is in a folder is only a candidate:
// a probe decides whether it holds moving pictures, whatever its name.
//
// Left out before any probe: hidden files and folders (names starting with
// '.'), the folders the sheets and frames are written to when they lie below
// a folder named (a folder named is always looked in, also when the sheets
// go there), symbolic links to folders (a link may lead back up the tree),
// and our own sheets: a JPEG, PNG or BMP named like another file beside it
// (clip.jpg beside clip.mkv).
//
// Ownership: plain values; no words of its own, each front end says what a
// folder that cannot be read means in its own way.

#include <string>
#include <vector>

namespace moviewalk {

struct Entry {
    std::string path;      // the name given, or a folder's joined with names
    std::string subFolder; // below the folder named it was found in; "" at its top
    bool inFolder = false; // found in a folder (kept only when it proves to be a movie)
};

struct Unreadable {
    std::string folder;
    std::string reason;
};

struct Result {
    std::vector<Entry> entries;
    std::vector<Unreadable> unreadable;
    int sheetsLeftOut = 0;
    int hiddenLeftOut = 0;
    int foldersNotEntered = 0; // sub-folders passed over for want of `recursive`
};

Result walk(const std::vector<std::string>& names, bool recursive,
            const std::vector<std::string>& foldersLeftOut);

// Whether the name leads to a folder (following links).
bool isFolder(const std::string& path);

} // namespace moviewalk
