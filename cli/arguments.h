#pragma once
// The command line's arguments: what to make, where, and the settings that
// change for this run only (they are never written back to the settings
// file).

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "capture/frame_choice.h"
#include "settings/options.h"

namespace cli {

struct Overrides {
    std::optional<int> columns;
    std::optional<int> rows;
    std::optional<int> frameWidth;
    std::optional<int> frameHeight;
    std::optional<int> spacingX;
    std::optional<int> spacingY;
    std::optional<bool> shadow;
    std::optional<bool> timeStamps;
    std::optional<bool> header;
    std::optional<int> headerPosition;
    std::optional<Rgb> background;
    std::optional<int> quality;
    std::optional<bool> progressive;

    void applyTo(Options& options) const;
};

struct Arguments {
    std::vector<std::string> movies;
    std::string output;
    std::string optionsFile;
    bool info = false;
    bool overwrite = false;
    bool quiet = false;
    // FFmpeg's own messages on the error stream: 0 none, 1 its errors (-v),
    // 2 everything it says (-vv).
    int verbosity = 0;
    Overrides overrides;

    // Batches: how many sheets at once (0: one per core), folders and where
    // the sheets go.
    int jobs = 0;
    // What the sheets made at once may take together, in bytes (0: half of
    // what this process may use).
    int64_t memoryBudget = 0;
    bool recursive = false;
    std::string outputDir;
    std::string format; // "jpg", "png" or "bmp" for sheets named by us; empty: jpg
    bool json = false;  // with `info`: one JSON object per movie
    std::string framesDir;
    std::string framesFormat; // "jpg" or "png"; empty: jpg
    // Which frames: skips and blank frames; an interval picks the rows (with
    // previews: the distance between previews).
    FrameChoice choice;
    std::optional<TimeSpan> interval;

    // Scrub previews for web players: a WebVTT track and sprite images of
    // thumbnails. `previewsDir` empty: beside each movie, or in `outputDir`.
    bool previews = false;
    std::string previewsDir;
    int64_t previewsCount = 0; // above 0: this many previews instead of one every interval
    int previewWidth = 160;
    int previewColumns = 10;
    int previewRows = 10;
    // With previews, the sheet too (asked for by --sheet, or by an option
    // that only a sheet has a use for).
    bool sheet = false;

    bool makesSheet() const { return !previews || sheet; }
};

// Parses the command line. Nothing to go on, or the exit status when parsing
// ended the run (help or version printed: 0; a usage error printed: 2).
std::optional<int> parseArguments(int argc, const char* const* argv, Arguments& args,
                                  std::ostream& out, std::ostream& err);

} // namespace cli
