#include "cli/cli.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <ostream>

#include "capture/capture.h"
#include "capture/file_names.h"
#include "capture/movie_probe.h"
#include "cli/settings_file.h"
#include "cli/targets.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

// Set by SIGINT and SIGTERM: the capture stops before its next moment and
// leaves no file behind, and no further movie starts.
std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) {
    g_interrupted.store(true);
}

// A bar on the terminal that follows the moments of one sheet.
class TerminalProgress : public CaptureProgress {
public:
    TerminalProgress(std::ostream& err, bool draw, std::string label, int64_t total)
        : err_(err), draw_(draw), label_(std::move(label)), total_(total) {
        if (draw_)
            drawBar();
    }
    ~TerminalProgress() override {
        if (draw_)
            err_ << "\r\033[K" << std::flush;
    }
    bool cancelled() override { return g_interrupted.load(); }
    void momentDone(int, const RasterImage&) override {
        ++done_;
        if (draw_)
            drawBar();
    }

private:
    void drawBar() {
        constexpr int64_t width = 30;
        const int64_t filled = total_ > 0 ? done_ * width / total_ : width;
        err_ << "\r\033[K" << label_ << " [" << std::string(static_cast<size_t>(filled), '#')
             << std::string(static_cast<size_t>(width - filled), '.') << "] " << done_ << "/"
             << total_ << std::flush;
    }
    std::ostream& err_;
    bool draw_;
    std::string label_;
    int64_t total_;
    int64_t done_ = 0;
};

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// Restores the previous handlers however the run ends.
class InterruptGuard {
public:
    InterruptGuard() {
        g_interrupted.store(false);
        previousInt_ = std::signal(SIGINT, onInterrupt);
        previousTerm_ = std::signal(SIGTERM, onInterrupt);
    }
    ~InterruptGuard() {
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    void (*previousInt_)(int) = nullptr;
    void (*previousTerm_)(int) = nullptr;
};

// One movie: its information, or its sheet. False when it failed; the one
// line that says why is on `err`.
bool makeOne(const Target& target, const Arguments& args, const Options& settings,
             std::ostream& out, std::ostream& err, bool progress) {
    const std::string& movie = target.movie;
    const ProbeResult probe = MovieProbe::probe(movie);
    if (!probe.ok()) {
        err << movie << ": " << oneLine(probe.errorText) << "\n";
        return false;
    }
    if (args.info) {
        out << probe.infoText << "\n\n";
        return true;
    }

    // Saves the work of a sheet that could not be written; without -y the
    // writer itself refuses a sheet that appears meanwhile.
    const bool guarded = !args.overwrite && !target.toStdout;
    if (guarded && sheetExists(target.path)) {
        err << movie << ": " << target.path << " exists (use -y to replace it)\n";
        return false;
    }

    const CaptureInput input{movie, probe.facts, probe.infoText, target.writePath, {}};
    CaptureResult result;
    {
        TerminalProgress bar(err, progress, fileNameOf(movie),
                             static_cast<int64_t>(settings.rows) * settings.columns);
        result = captureSheet(input, settings, bar, SheetOutput{args.overwrite, target.format});
    }
    if (!result.ok() && guarded && sheetExists(target.path)) {
        err << movie << ": " << target.path
            << " appeared while its sheet was made and was left as it is (use -y to replace it)\n";
        return false;
    }
    if (!result.ok()) {
        err << movie << ": "
            << (result.code == 10 ? std::string("the frame grabber refused one-shot mode")
                                  : oneLine(result.errorText))
            << "\n";
        return false;
    }
    // A sheet on standard output is all that goes there.
    if (!args.quiet && !target.toStdout)
        out << target.path << "\n";
    return true;
}

} // namespace

std::string defaultOutputFor(const std::string& moviePath) {
    size_t slash = moviePath.find_last_of('/');
    size_t dot = moviePath.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return moviePath + ".jpg";
    return moviePath.substr(0, dot) + ".jpg";
}

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress) {
    Arguments args;
    if (int code = parseArguments(argc, argv, args, out, err); code >= 0)
        return code;
    progress = progress && !args.quiet;

    Options live = loadSettings(args);
    Options settings = live;
    args.overrides.applyTo(settings);
    if (int code = checkSettings(live, settings, args, err); code >= 0)
        return code;
    // Every sheet's place is settled before the first movie is read.
    const std::vector<Target> targets = planTargets(args.movies, args);

    InterruptGuard interrupts;
    int failures = 0;
    for (const Target& target : targets) {
        if (g_interrupted.load())
            break;
        if (!target.refusal.empty()) {
            err << target.refusal << "\n";
            ++failures;
            continue;
        }
        if (!makeOne(target, args, settings, out, err, progress))
            ++failures;
    }
    if (g_interrupted.load()) {
        err << "stillwick-cli: interrupted\n";
        return 130;
    }
    return failures == 0 ? 0 : 1;
}

} // namespace cli
