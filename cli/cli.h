#pragma once
// The command-line front end: makes a contact sheet of each movie given, with
// the settings file the desktop program uses and per-run overrides that are
// never written back.
//
// Exit codes: 0 when every movie made its sheet (or, with --info, was read),
// 1 when any failed (the others are still made), 2 for usage errors, 130
// when interrupted by SIGINT and 143 by SIGTERM.

#include <iosfwd>
#include <string>

#include "cli/arguments.h"

namespace cli {

// The whole program; `progress` draws a bar on `err` while sheets are made.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress);

// Where a movie's sheet goes when no output is given: beside the movie, with
// the extension replaced by .jpg.
std::string defaultOutputFor(const std::string& moviePath);

} // namespace cli
