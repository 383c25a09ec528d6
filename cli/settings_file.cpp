#include "cli/settings_file.h"

#include <ostream>

#include "cli/names.h"

namespace cli {

Options loadSettings(const Arguments& args) {
    if (args.optionsFile.empty())
        return Options();
    return Options(args.optionsFile, Options::Foreign::Refuse);
}

std::optional<int> checkSettings(const Options& live, const Options& settings,
                                 const Arguments& args, std::ostream& err) {
    using Loaded = Options::Loaded;
    const bool named = !args.optionsFile.empty();
    if (named && (live.loaded == Loaded::RefusedForeign || live.loaded == Loaded::Unusable)) {
        err << "stillwick-cli: --options: " << safeLine(live.lastError, live.filePath) << "\n";
        return 2;
    }
    if (!args.quiet) {
        if (!live.backupPath.empty())
            err << "stillwick-cli: warning: " << shownName(live.filePath)
                << " held no settings; it was kept as " << shownName(live.backupPath)
                << " and the default settings are used\n";
        if (!live.lastError.empty())
            err << "stillwick-cli: warning: " << safeLine(live.lastError, live.filePath)
                << " (using the default settings)\n";
    }
    // The command line's own values are checked as they are parsed, so a
    // value that cannot make a sheet came from the file.
    if (!args.info) {
        if (const std::string problem = settings.unusableValue(); !problem.empty()) {
            err << "stillwick-cli: " << shownName(live.filePath) << ": " << problem << "\n";
            return 1;
        }
    }
    return std::nullopt;
}

} // namespace cli
