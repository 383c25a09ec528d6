#include "cli/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "capture/file_names.h"
#include "cli/names.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

// One spelling per place, however the paths were written.
std::string placeKey(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec)
        return path;
    const fs::path canonical = fs::weakly_canonical(absolute, ec);
    return (ec ? absolute.lexically_normal() : canonical).string();
}

std::string joined(const std::string& folder, const std::string& subFolder,
                   const std::string& name) {
    fs::path p(folder);
    if (!subFolder.empty())
        p /= subFolder;
    return (p / name).string();
}

} // namespace

std::string sheetExtension(const std::string& format) {
    return format.empty() ? ".jpg" : "." + format;
}

std::string frameFileName(const std::string& stem, int index, int64_t cells, const MediaTime& time,
                          const std::string& extension) {
    int digits = 2;
    for (int64_t n = cells; n >= 100; n /= 10)
        ++digits;
    const int64_t ms = std::max<int64_t>(0, time.milliseconds());
    std::string number = std::to_string(index + 1);
    if (static_cast<int>(number.size()) < digits)
        number.insert(0, static_cast<size_t>(digits) - number.size(), '0');
    char clock[48];
    std::snprintf(clock, sizeof clock, "%02lldh%02lldm%02lld.%03llds",
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return stem + "-" + number + "-" + clock + "." + extension;
}

std::vector<PlannedMovie> planMovies(const std::vector<moviewalk::Entry>& movies,
                                     const Arguments& args) {
    std::vector<PlannedMovie> plan;
    plan.reserve(movies.size());
    std::map<std::string, std::string> frames;   // folder and stem → the movie
    std::map<std::string, std::string> previews; // folder and stem → the movie
    const std::string ext = sheetExtension(args.format);
    for (const moviewalk::Entry& entry : movies) {
        PlannedMovie p;
        p.entry = entry;
        const std::string stem = stemOf(entry.path);
        if (!args.info && args.makesSheet()) {
            if (!args.output.empty())
                p.sheet = args.output;
            else if (!args.outputDir.empty())
                p.sheet = joined(args.outputDir, entry.subFolder, stem + ext);
            else
                p.sheet = sheetBeside(entry.path, ext);
            // Sheets that would be one file are found where every target's
            // place is settled, by what the names lead to.
        }
        if (!args.framesDir.empty()) {
            p.framesFolder = entry.subFolder.empty()
                                 ? args.framesDir
                                 : (fs::path(args.framesDir) / entry.subFolder).string();
            const auto [at, fresh] =
                frames.emplace(placeKey(joined(args.framesDir, entry.subFolder, stem)), entry.path);
            if (!fresh && p.refusal.empty())
                p.refusal = "its frames would be named as those of " + shownName(at->second) +
                            " in " + shownName(p.framesFolder);
        }
        if (args.previews) {
            if (!args.previewsDir.empty())
                p.previewsFolder = joined(args.previewsDir, entry.subFolder, "");
            else if (!args.outputDir.empty())
                p.previewsFolder = joined(args.outputDir, entry.subFolder, "");
            else
                p.previewsFolder = fs::path(entry.path).parent_path().string();
            if (p.previewsFolder.empty())
                p.previewsFolder = ".";
            // Trailing separators off, so the folder reads as it was given.
            while (p.previewsFolder.size() > 1 && p.previewsFolder.back() == '/')
                p.previewsFolder.pop_back();
            const auto [at, fresh] = previews.emplace(
                placeKey((fs::path(p.previewsFolder) / stem).string()), entry.path);
            if (!fresh && p.refusal.empty())
                p.refusal = "its previews would be named as those of " + shownName(at->second) +
                            " in " + shownName(p.previewsFolder);
        }
        plan.push_back(std::move(p));
    }
    return plan;
}

} // namespace cli
