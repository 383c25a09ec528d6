#include "cli/walk.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "capture/file_names.h"
#include "cli/names.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

bool isSheetExtension(const std::string& ext) {
    return ext == ".jpg" || ext == ".jpeg" || ext == ".png" || ext == ".bmp";
}

// The name without its extension, as the default sheet name is formed.
std::string stemOf(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

class Walker {
public:
    Walker(bool recursive, const std::vector<std::string>& leftOut, WalkResult& result)
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
            if (name.empty() || name[0] == '.')
                continue;
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
            result_.errors.push_back(shownName(dir.string()) +
                                     ": cannot read the folder: " + ec.message());
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
            result_.entries.push_back(WalkEntry{(dir / name).string(), subFolder, true});
        }
        for (const std::string& name : folders)
            folder(dir / name, subFolder.empty() ? name : subFolder + "/" + name, false);
    }

private:
    bool recursive_;
    WalkResult& result_;
    std::set<std::string> leftOut_;
};

} // namespace

bool isFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

WalkResult walkArguments(const std::vector<std::string>& arguments, bool recursive,
                         const std::vector<std::string>& foldersLeftOut) {
    WalkResult result;
    Walker walker(recursive, foldersLeftOut, result);
    for (const std::string& argument : arguments) {
        if (isFolder(argument))
            walker.folder(fs::path(argument), "", true);
        else
            result.entries.push_back(WalkEntry{argument, "", false});
    }
    return result;
}

} // namespace cli
