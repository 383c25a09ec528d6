#pragma once
// The command-line front end: makes a contact sheet of each movie given, with
// the settings file the desktop program uses and per-run overrides that are
// never written back.
//
// Exit codes: 0 when every movie made its sheet (or, with --info, was read),
// 1 when any failed (the others are still made) or nothing was found to
// make, 2 for usage errors, 3 when every sheet was made but at least one is
// incomplete, and 128 plus the signal when a signal stopped the run (130
// SIGINT, 143 SIGTERM, 129 SIGHUP, 141 SIGPIPE).

#include <iosfwd>
#include <string>

#include "cli/arguments.h"

namespace cli {

// The whole program; `progress` draws a bar on `err` while sheets are made.
// `outIsTerminal`: `out` is a terminal, and the names listed there are
// shown as on the error output rather than as their exact bytes.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress,
        bool outIsTerminal = false);

} // namespace cli
