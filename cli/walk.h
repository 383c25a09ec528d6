#pragma once
// The movies the command line's arguments stand for. A file argument is taken
// as it is (a file that is no movie fails with its reason, as it always has);
// a folder argument stands for the files in it (with `recursive`, in its
// sub-folders too), in name order. What is in a folder is only a candidate:
// the batch keeps the files a probe finds moving pictures in, whatever their
// names, and passes over the rest without a word.
//
// Left out before any probe: hidden files and folders (names starting with
// '.'), the folders the sheets and frames are written to when they lie below
// a folder argument (a folder named as an argument is always looked in, also
// when the sheets go there), symbolic links to folders (a link may lead back
// up the tree), and our own sheets — an image named like a movie beside it
// (clip.jpg beside clip.mkv).

#include <string>
#include <vector>

namespace cli {

struct WalkEntry {
    std::string path;      // the argument, or a folder argument joined with names
    std::string subFolder; // below the folder argument it was found in; "" at its top
    bool inFolder = false; // found in a folder (kept only when it proves to be a movie)
};

struct WalkResult {
    std::vector<WalkEntry> entries;
    std::vector<std::string> errors; // one line each: folders that could not be read
    int sheetsLeftOut = 0;
    int foldersNotEntered = 0; // sub-folders passed over for want of -r
};

WalkResult walkArguments(const std::vector<std::string>& arguments, bool recursive,
                         const std::vector<std::string>& foldersLeftOut);

// Whether the argument names a folder (following links).
bool isFolder(const std::string& path);

} // namespace cli
