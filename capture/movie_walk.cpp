#include "capture/movie_walk.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "capture/file_names.h"

namespace moviewalk {

namespace {

namespace fs = std::filesystem;

class Walker {
public:
    Walker(bool recursive, const std::vector<std::string>& leftOut, Result& result)
        : recursive_(recursive), result_(result) {
        for (const std::string& folder : leftOut) {
            std::error_code ec;
            const fs::path canonical = fs::weakly_canonical(folder, ec);
            if (!ec)
                leftOut_.insert(canonical.string());
        }
    }

    void folder(const fs::path& dir, const std::string& subFolder, bool named) {
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(dir, ec);
        if (!named && !ec && leftOut_.count(canonical.string()))
            return;

        std::vector<std::string> files;
        std::vector<std::string> folders;
        fs::directory_iterator it(dir, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.empty() || name[0] == '.') {
                ++result_.hiddenLeftOut;
                continue;
            }
            std::error_code statError;
            if (it->is_directory(statError)) {
                if (recursive_ && !it->is_symlink(statError))
                    folders.push_back(name);
                else if (!recursive_)
                    ++result_.foldersNotEntered;
            } else if (it->is_regular_file(statError)) {
                files.push_back(name);
            }
        }
        if (ec) {
            result_.unreadable.push_back(Unreadable{dir.string(), ec.message()});
            return;
        }
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());

        // Stems of the files that are not pictures: a picture with such a
        // stem is the sheet made of it.
        std::set<std::string> movieStems;
        for (const std::string& name : files)
            if (!isSheetExtension(lowerExtension(name)))
                movieStems.insert(stemOf(name));
        for (const std::string& name : files) {
            if (isSheetExtension(lowerExtension(name)) && movieStems.count(stemOf(name))) {
                ++result_.sheetsLeftOut;
                continue;
            }
            result_.entries.push_back(Entry{(dir / name).string(), subFolder, true});
        }
        for (const std::string& name : folders)
            folder(dir / name, subFolder.empty() ? name : subFolder + "/" + name, false);
    }

private:
    bool recursive_;
    Result& result_;
    std::set<std::string> leftOut_;
};

} // namespace

bool isFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

Result walk(const std::vector<std::string>& names, bool recursive,
            const std::vector<std::string>& foldersLeftOut) {
    Result result;
    Walker walker(recursive, foldersLeftOut, result);
    for (const std::string& name : names) {
        if (isFolder(name))
            walker.folder(fs::path(name), "", true);
        else
            result.entries.push_back(Entry{name, "", false});
    }
    return result;
}

} // namespace moviewalk
