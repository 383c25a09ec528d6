#include "cli/targets.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "capture/file_names.h"
#include "cli/cli.h"
#include "cli/names.h"
#include "platform/fs/target_path.h"

namespace cli {

namespace {

// What a name leads to: an existing file by its device and inode; a name
// not taken yet by its folder's device and inode and its last component; a
// name in a folder that does not exist by its spelling, made absolute.
struct Identity {
    bool byInode = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
    bool operator==(const Identity&) const = default;
};

Identity identify(const std::string& path) {
    const files::TargetPath t = files::resolveTarget(path);
    if (t.exists())
        return {true, t.device, t.inode, {}};
    if (t.kind == files::TargetPath::Kind::Missing) {
        struct stat folder {};
        if (::stat(files::folderOf(t.finalPath).c_str(), &folder) == 0)
            return {true, folder.st_dev, folder.st_ino, files::lastComponentOf(t.finalPath)};
    }
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return {false, 0, 0, (ec ? std::filesystem::path(path) : absolute).lexically_normal().string()};
}

// True when writing `path` writes the process's standard output.
bool isStandardOutput(const files::TargetPath& t) {
    if (t.kind == files::TargetPath::Kind::Descriptor)
        return t.descriptor == STDOUT_FILENO;
    struct stat out {};
    return t.exists() && ::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == t.device &&
           out.st_ino == t.inode;
}

// The format a name asks for, for when the name itself is not what the
// writer opens.
std::string formatOf(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == ".jpg" || ext == ".jpeg")
        return "jpg";
    if (ext == ".png")
        return "png";
    return "bmp";
}

} // namespace

bool sheetExists(const std::string& path) {
    return files::resolveTarget(path).kind == files::TargetPath::Kind::Regular;
}

void refuseCollisions(std::vector<Target>& targets) {
    std::vector<Identity> movies;
    movies.reserve(targets.size());
    for (const Target& t : targets)
        movies.push_back(identify(t.movie));
    std::vector<Identity> sheets(targets.size());
    for (size_t i = 0; i < targets.size(); ++i) {
        Target& t = targets[i];
        if (!t.refusal.empty() || t.toStdout)
            continue;
        sheets[i] = identify(t.writePath.empty() ? t.path : t.writePath);
        if (sheets[i] == movies[i]) {
            t.refusal = "the sheet " + shownName(t.path) + " would replace the movie itself";
            continue;
        }
        for (size_t k = 0; k < targets.size() && t.refusal.empty(); ++k)
            if (k != i && sheets[i] == movies[k])
                t.refusal = "the sheet " + shownName(t.path) + " would replace " +
                            shownName(targets[k].movie) + ", a movie of this run";
        for (size_t j = 0; j < i && t.refusal.empty(); ++j)
            if (targets[j].refusal.empty() && !targets[j].toStdout && sheets[i] == sheets[j])
                t.refusal = "its sheet " + shownName(t.path) + " would also be the sheet of " +
                            shownName(targets[j].movie) +
                            ", made earlier in this run; give one of them "
                            "its own name";
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
            t.format = formatOf(t.path);
        }
    }
    refuseCollisions(targets);
}

std::vector<Target> planTargets(const std::vector<std::string>& movies, const Arguments& args,
                                const std::string& streamFormat) {
    std::vector<Target> targets;
    targets.reserve(movies.size());
    for (const std::string& movie : movies) {
        Target t;
        t.movie = movie;
        if (!args.info)
            t.path = args.output.empty() ? defaultOutputFor(movie) : args.output;
        targets.push_back(std::move(t));
    }
    if (!args.info)
        settleTargets(targets, streamFormat);
    return targets;
}

} // namespace cli
