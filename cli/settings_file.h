#pragma once
// The command line's view of the settings file: what it says about the file
// before any movie is touched.
//
// A file named with --options that holds no settings is refused and the run
// ends; the file is left exactly as it was. The shared options.swk in the
// current directory is, as in the desktop program, kept aside and replaced by
// the defaults, with a warning. A value no sheet can be made with is named
// with its file and field before any work starts.

#include <iosfwd>
#include <optional>

#include "cli/arguments.h"
#include "settings/options.h"

namespace cli {

// The run's live settings record: the named file under the strict rule, or
// the shared one.
Options loadSettings(const Arguments& args);

// Reports on `err` what loading `live` found and checks `settings` (the
// record with this run's overrides). Nothing to go on, or the exit status.
std::optional<int> checkSettings(const Options& live, const Options& settings,
                                 const Arguments& args, std::ostream& err);

} // namespace cli
