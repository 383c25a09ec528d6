#pragma once
// The command-line front end: makes a contact sheet of each movie given, with
// the settings file the desktop program uses and per-run overrides that are
// never written back.
//
// Exit codes: 0 when every movie made its sheet (or, with --info, was read),
// 1 when any failed (the others are still made), 2 for usage errors, 130
// when interrupted.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

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
    std::optional<COLORREF> background;
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
    Overrides overrides;
};

// Parses the command line. Returns -1 to go on, or the exit code when parsing
// ended the run (help or version printed: 0; a usage error printed: 2).
int parseArguments(int argc, const char* const* argv, Arguments& args, std::ostream& out,
                   std::ostream& err);

// The whole program; `progress` draws a bar on `err` while sheets are made.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress);

// Where a movie's sheet goes when no output is given: beside the movie, with
// the extension replaced by .jpg.
std::string defaultOutputFor(const std::string& moviePath);

} // namespace cli
