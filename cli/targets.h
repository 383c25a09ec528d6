#pragma once
// Where each sheet of a run goes, decided before any movie is read.
//
// A run must not overwrite its own work or its own input: two movies whose
// sheets would be one file (`a.mkv a.mp4` both make a.jpg), or a sheet that
// would land on a movie of the run, are caught here, and the later movie is
// left out with a line that names both. Sameness is judged on what the
// names lead to — links followed, `dir/./a.jpg` and `dir/a.jpg` alike — not
// on how they are spelt.
//
// A sheet may also go to standard output: `-o -`, or a name for it such as
// /dev/stdout. Nothing else is printed there then.

#include <string>
#include <vector>

#include "cli/arguments.h"

namespace cli {

struct Target {
    std::string movie;
    std::string path;      // the sheet, as given or made from the movie's name ("-" for stdout)
    std::string writePath; // what the writer opens: `path`, or /dev/stdout for standard output
    std::string format;    // "jpg", "png" or "bmp"; empty: by the extension of `path`
    bool toStdout = false; // the sheet is the run's standard output
    std::string refusal;   // not empty: this movie makes no sheet, and why
};

// Settles targets whose paths are chosen: standard output recognised (`-`
// or a name that leads to it; `streamFormat` is the format written there),
// then the run's refusals filled in. Targets refused already stay so.
void settleTargets(std::vector<Target>& targets, const std::string& streamFormat);

// The refusals for targets whose paths the caller chose: a sheet that is
// its own movie, another movie of the run, or an earlier movie's sheet.
void refuseCollisions(std::vector<Target>& targets);

// Whether a sheet is at `path` in the sense -y is about: a regular file
// there, or where the link there points. A device or standard output is
// written, never "replaced".
bool sheetExists(const std::string& path);

} // namespace cli
