#include "capture/sheet_clashes.h"

#include <filesystem>
#include <sys/stat.h>

#include "platform/fs/target_path.h"

namespace sheetclash {

namespace {

// What a name leads to. A file that is there is known by its device and
// inode; a name not taken yet by its folder's device and inode and the name
// in it (so `a/../b/x.jpg` and a linked folder's `x.jpg` meet); a name whose
// folder is missing too only by its absolute spelling.
struct Place {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
    bool operator==(const Place&) const = default;
};

Place placeOf(const std::string& path) {
    const files::TargetPath t = files::resolveTarget(path);
    if (t.exists())
        return {true, t.device, t.inode, {}};
    if (t.kind == files::TargetPath::Kind::Missing) {
        struct stat folder {};
        if (::stat(files::folderOf(t.finalPath).c_str(), &folder) == 0)
            return {true, folder.st_dev, folder.st_ino, files::lastComponentOf(t.finalPath)};
    }
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return {false, 0, 0, (ec ? std::filesystem::path(path) : absolute).lexically_normal().string()};
}

} // namespace

bool samePlace(const std::string& a, const std::string& b) {
    return placeOf(a) == placeOf(b);
}

std::vector<Clash> findClashes(const std::vector<Entry>& entries) {
    std::vector<Place> movies;
    movies.reserve(entries.size());
    for (const Entry& e : entries)
        movies.push_back(placeOf(e.movie));

    std::vector<Clash> clashes(entries.size());
    std::vector<Place> sheets(entries.size());
    std::vector<bool> makes(entries.size(), false);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].leftOut)
            continue;
        sheets[i] = placeOf(entries[i].sheet);
        Clash& c = clashes[i];
        if (sheets[i] == movies[i]) {
            c.kind = Clash::Kind::OwnMovie;
            continue;
        }
        for (size_t k = 0; k < entries.size() && c.kind == Clash::Kind::None; ++k) {
            if (k != i && sheets[i] == movies[k])
                c = {Clash::Kind::OtherMovie, k};
        }
        for (size_t j = 0; j < i && c.kind == Clash::Kind::None; ++j) {
            if (makes[j] && sheets[i] == sheets[j])
                c = {Clash::Kind::EarlierSheet, j};
        }
        makes[i] = c.kind == Clash::Kind::None;
    }
    return clashes;
}

} // namespace sheetclash
