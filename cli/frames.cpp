#include "cli/frames.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/names.h"
#include "platform/fs/atomic_file.h"
#include "platform/fs/keep_aside.h"
#include "platform/fs/target_path.h"
#include "render/raster_image.h"

namespace cli {

namespace fs = std::filesystem;

std::string placeOf(const std::string& path) {
    const files::TargetPath where = files::resolveTarget(path);
    const std::string final = where.finalPath.empty() ? path : where.finalPath;
    std::error_code ec;
    fs::path folder = fs::absolute(files::folderOf(final), ec);
    if (ec)
        folder = files::folderOf(final);
    const fs::path canonical = fs::weakly_canonical(folder, ec);
    return ((ec ? folder.lexically_normal() : canonical) / files::lastComponentOf(final)).string();
}

void FrameGuard::protect(const std::string& path, const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    protected_.emplace(placeOf(path), what);
}

std::string FrameGuard::claim(const std::string& path, const std::string& owner,
                              const std::string& kind) {
    const std::string place = placeOf(path);
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = protected_.find(place); it != protected_.end())
        return "its " + kind + " " + shownName(path) + " would replace " + it->second;
    const auto [it, fresh] = claimed_.emplace(place, owner);
    if (!fresh && it->second != owner)
        return "its " + kind + " " + shownName(path) + " would replace a " + kind + " of " +
               shownName(it->second);
    return {};
}

void FrameGuard::release(const std::string& owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = claimed_.begin(); it != claimed_.end();)
        it = it->second == owner ? claimed_.erase(it) : std::next(it);
}

FrameSet::FrameSet(FrameGuard& guard, std::string movie, std::string folder, bool replace,
                   std::string kind)
    : guard_(guard), movie_(std::move(movie)), folder_(std::move(folder)), replace_(replace),
      kind_(std::move(kind)) {}

FrameSet::~FrameSet() {
    if (!kept_)
        takeBack();
    if (!staging_.empty()) {
        std::error_code ignored;
        fs::remove_all(staging_, ignored);
    }
}

bool FrameSet::fail(std::string why) {
    if (error_.empty())
        error_ = std::move(why);
    return false;
}

void FrameSet::takeBack() {
    for (const std::string& path : moved_)
        ::unlink(path.c_str());
    moved_.clear();
    std::error_code ignored;
    if (!staging_.empty())
        fs::remove_all(staging_, ignored);
    staging_.clear();
    guard_.release(movie_);
}

namespace {

struct ImageToWrite {
    const RasterImage& image;
    bool png;
    int quality;
    bool progressive;
};

bool writeImage(const void* what, const std::string& staged, std::string* error) {
    const auto& i = *static_cast<const ImageToWrite*>(what);
    const auto mode = RasterImage::WriteMode::CreateNew;
    return i.png ? i.image.savePng(staged, error, mode)
                 : i.image.saveJpeg(staged, i.quality, i.progressive, error, mode);
}

bool writeText(const void* what, const std::string& staged, std::string* error) {
    const auto& text = *static_cast<const std::string*>(what);
    AtomicFile file;
    if (!file.open(staged, AtomicFile::Mode::CreateNew) || !file.write(text.data(), text.size()) ||
        !file.commit()) {
        *error = file.error();
        return false;
    }
    return true;
}

} // namespace

bool FrameSet::add(const std::string& name, const RasterImage& frame, bool png, int quality,
                   bool progressive) {
    const ImageToWrite image{frame, png, quality, progressive};
    return addFile(name, &image, writeImage);
}

bool FrameSet::addText(const std::string& name, const std::string& text) {
    return addFile(name, &text, writeText);
}

bool FrameSet::addFile(const std::string& name, const void* what, Writer write) {
    if (failed())
        return false;
    const std::string target = (fs::path(folder_) / name).string();
    if (std::string refusal = guard_.claim(target, movie_, kind_); !refusal.empty())
        return fail(std::move(refusal));
    struct stat st {};
    if (!replace_ && ::lstat(target.c_str(), &st) == 0)
        return fail("the " + kind_ + " " + shownName(target) + " exists (use -y to replace it)");
    if (staging_.empty()) {
        std::string pattern = (fs::path(folder_) / (".stillwick-" + kind_ + "s-XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            return fail("cannot write the " + kind_ + "s into " + shownName(folder_) + ": " +
                        std::strerror(errno));
        staging_ = pattern;
    }
    const std::string staged = (fs::path(staging_) / name).string();
    std::string error;
    if (!write(what, staged, &error)) {
        // The reason names the file the user asked for, not the hidden one.
        for (size_t at; (at = error.find(staged)) != std::string::npos;)
            error.replace(at, staged.size(), shownName(target));
        return fail(error.empty() ? "cannot write the " + kind_ + " " + shownName(target) : error);
    }
    names_.push_back(name);
    return true;
}

bool FrameSet::place() {
    if (failed())
        return false;
    if (placed_)
        return true;
    for (const std::string& name : names_) {
        const std::string from = (fs::path(staging_) / name).string();
        const std::string to = (fs::path(folder_) / name).string();
        int err = 0;
        if (replace_)
            err = std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
        else
            err = files::renameWithoutReplacing(from, to);
        if (err == EEXIST) {
            takeBack();
            return fail("the " + kind_ + " " + shownName(to) +
                        (kind_ == "frame" ? " appeared while the sheet was made"
                                          : " appeared while the previews were made") +
                        " and was left as it is (use -y to replace it)");
        }
        if (err != 0) {
            takeBack();
            return fail("cannot write the " + kind_ + " " + shownName(to) + ": " +
                        std::strerror(err));
        }
        moved_.push_back(to);
    }
    placed_ = true;
    std::error_code ignored;
    if (!staging_.empty())
        fs::remove_all(staging_, ignored);
    staging_.clear();
    return true;
}

} // namespace cli
