#include "cli/targets.h"

#include <sys/stat.h>
#include <unistd.h>

#include "capture/file_names.h"
#include "capture/sheet_clashes.h"
#include "cli/cli.h"
#include "cli/names.h"
#include "platform/fs/target_path.h"

namespace cli {

namespace {

// True when writing `path` writes the process's standard output.
bool isStandardOutput(const files::TargetPath& t) {
    if (t.kind == files::TargetPath::Kind::Descriptor)
        return t.descriptor == STDOUT_FILENO;
    struct stat out {};
    return t.exists() && ::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == t.device &&
           out.st_ino == t.inode;
}

} // namespace

bool sheetExists(const std::string& path) {
    return files::resolveTarget(path).kind == files::TargetPath::Kind::Regular;
}

void refuseCollisions(std::vector<Target>& targets) {
    // The desktop program's queue runs the same check; each says in its own
    // words what a clash means.
    std::vector<sheetclash::Entry> entries;
    entries.reserve(targets.size());
    for (const Target& t : targets)
        entries.push_back({t.movie, t.writePath.empty() ? t.path : t.writePath,
                           !t.refusal.empty() || t.toStdout});
    const std::vector<sheetclash::Clash> clashes = sheetclash::findClashes(entries);
    for (size_t i = 0; i < targets.size(); ++i) {
        Target& t = targets[i];
        const sheetclash::Clash& c = clashes[i];
        switch (c.kind) {
        case sheetclash::Clash::Kind::None:
            break;
        case sheetclash::Clash::Kind::OwnMovie:
            t.refusal = "the sheet " + shownName(t.path) + " would replace the movie itself";
            break;
        case sheetclash::Clash::Kind::OtherMovie:
            t.refusal = "the sheet " + shownName(t.path) + " would replace " +
                        shownName(targets[c.other].movie) + ", a movie of this run";
            break;
        case sheetclash::Clash::Kind::EarlierSheet:
            t.refusal = "its sheet " + shownName(t.path) + " would also be the sheet of " +
                        shownName(targets[c.other].movie) +
                        ", made earlier in this run; give one of them its own name";
            break;
        }
    }
}

void settleTargets(std::vector<Target>& targets, const std::string& streamFormat) {
    for (Target& t : targets) {
        if (t.path.empty())
            continue;
        t.writePath = t.path;
        if (t.path == "-") {
            t.toStdout = true;
            t.writePath = "/dev/stdout";
            t.format = streamFormat;
        } else if (const files::TargetPath where = files::resolveTarget(t.path);
                   isStandardOutput(where)) {
            // The shell's own descriptor is written, so that a `> file` of
            // the same name keeps its meaning.
            t.toStdout = true;
            t.writePath = "/dev/stdout";
            t.format = sheetFormatOf(t.path);
        }
    }
    refuseCollisions(targets);
}

} // namespace cli
