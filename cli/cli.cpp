#include "cli/cli.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <memory>
#include <ostream>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "capture/capture.h"
#include "capture/file_names.h"
#include "capture/movie_probe.h"
#include "cli/batch.h"
#include "cli/facts_json.h"
#include "cli/plan.h"
#include "cli/settings_file.h"
#include "cli/targets.h"
#include "cli/terminal.h"
#include "cli/walk.h"
#include "platform/media/log.h"
#include "platform/media/media_facts.h"
#include "platform/media/movie_reader.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

// Set by SIGINT and SIGTERM: every probe and capture stops where it stands,
// within a packet, and leaves no file behind, and no further movie starts.
// The signal is kept for the exit status, 128 plus its number as a shell
// reports a program the signal ended.
std::atomic<bool> g_interrupted{false};
volatile std::sig_atomic_t g_signal = 0;

extern "C" void onInterrupt(int signal) {
    if (g_signal == 0)
        g_signal = signal;
    g_interrupted.store(true);
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// Restores the previous handlers however the run ends. The first SIGINT or
// SIGTERM asks for a clean stop; the handler then gives way to the default
// action, so a second one ends the process at once should the stop ever
// take too long.
class InterruptGuard {
public:
    InterruptGuard() {
        g_signal = 0;
        g_interrupted.store(false);
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~InterruptGuard() {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // The exit status for an interrupted run.
    static int exitStatus() { return 128 + (g_signal != 0 ? static_cast<int>(g_signal) : SIGINT); }

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

// The cores this process may run on (a `taskset` narrows them).
int availableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? static_cast<int>(n) : 1;
}

// What one capture tells the command line: its moments for the live line,
// its frames for --frames-dir; it stops the capture when asked to or when a
// frame cannot be written.
class SheetProgress : public CaptureProgress {
public:
    SheetProgress(ItemProgress& item, const PlannedMovie& plan, const Arguments& args,
                  const Options& options, int64_t cells)
        : item_(item), plan_(plan), args_(args), options_(options), cells_(cells) {}

    bool cancelled() override { return g_interrupted.load() || !framesError_.empty(); }
    void momentDone(int, const RasterImage&) override { item_.momentDone(); }
    bool wantsFullFrames() const override { return !plan_.framesFolder.empty(); }
    void frameArrived(int moment, const MediaTime& time, const RasterImage& frame) override {
        if (plan_.framesFolder.empty() || !framesError_.empty())
            return;
        const bool png = args_.framesFormat == "png";
        const std::string path =
            (fs::path(plan_.framesFolder) /
             frameFileName(movieStem(plan_.entry.path), moment, cells_, time, png ? "png" : "jpg"))
                .string();
        std::error_code ec;
        if (!args_.overwrite && fs::exists(fs::symlink_status(path, ec))) {
            framesError_ = path + " exists (use -y to replace it)";
            return;
        }
        std::string error;
        const bool written =
            png ? frame.savePng(path, &error)
                : frame.saveJpeg(path, options_.jpegQuality, options_.jpegProgressive != 0, &error);
        if (!written)
            framesError_ = error.empty() ? "cannot write " + path : error;
    }
    const std::string& framesError() const { return framesError_; }

private:
    ItemProgress& item_;
    const PlannedMovie& plan_;
    const Arguments& args_;
    const Options& options_;
    int64_t cells_;
    std::string framesError_;
};

ItemResult failure(const std::string& movie, const std::string& why) {
    return ItemResult{Outcome::Failed, {}, movie + ": " + oneLine(why) + "\n"};
}

// The facts of one movie as a line of JSON; a movie that cannot make a sheet
// has its reason in the object and on the error output.
ItemResult factsOf(const std::string& movie) {
    // The same steps, in the same order, as the probe before a sheet: the
    // file fails here for the reason it would fail there.
    std::unique_ptr<media::MovieReader> reader;
    Result rc = media::MovieReader::open(movie, &g_interrupted, &reader);
    const bool opened = rc.ok();
    if (opened)
        rc = reader->videoReady();
    if (rc.ok())
        rc = reader->measure();
    if (rc.ok())
        return ItemResult{Outcome::Made, factsJson(movie, reader->facts()) + "\n", {}};
    const std::string why = rc.isCancelled() ? kProbeCancelledText : rc.text();
    media::MediaFacts unread;
    struct stat st {};
    if (::stat(movie.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        unread.fileSize = static_cast<int64_t>(st.st_size);
    const std::string object = opened ? factsJson(movie, reader->facts(), why)
                                      : factsErrorJson(movie, unread.fileSize, why);
    return ItemResult{Outcome::Failed, object + "\n", movie + ": " + oneLine(why) + "\n"};
}

// One movie: its information, or its sheet.
ItemResult makeOne(const PlannedMovie& plan, const Target& sheet, const Arguments& args,
                   const Options& settings, ItemProgress& item) {
    const std::string& movie = plan.entry.path;
    if (!plan.refusal.empty())
        return failure(movie, plan.refusal);
    item.begin(fileNameOf(movie), 0);
    if (args.info && args.json)
        return factsOf(movie);

    const ProbeResult probe = MovieProbe::probe(movie, &g_interrupted);
    if (!probe.ok())
        return failure(movie, probe.errorText);
    if (args.info)
        return ItemResult{Outcome::Made, probe.infoText + "\n\n", {}};

    Options options = settings;
    if (args.interval)
        options.rows =
            rowsForInterval(probe.facts.duration, options.columns, args.choice, *args.interval);
    const std::string& target = plan.sheet;
    // Saves the work of a sheet that could not be written; without -y the
    // writer itself refuses a sheet that appears meanwhile.
    const bool guarded = !args.overwrite && !sheet.toStdout;
    if (guarded && sheetExists(target))
        return failure(movie, target + " exists (use -y to replace it)");
    std::error_code ec;
    for (const std::string& folder :
         {args.outputDir.empty() ? std::string() : fs::path(target).parent_path().string(),
          plan.framesFolder}) {
        if (!folder.empty() && !fs::is_directory(folder, ec) &&
            !fs::create_directories(folder, ec) && ec)
            return failure(movie, "cannot make the folder " + folder + ": " + ec.message());
    }

    const int64_t cells = static_cast<int64_t>(options.rows) * options.columns;
    item.begin(fileNameOf(movie), cells);
    SheetProgress progress(item, plan, args, options, cells);
    CaptureInput input;
    input.moviePath = movie;
    input.facts = probe.facts;
    input.infoText = probe.infoText;
    input.targetPath = sheet.writePath;
    input.choice = args.choice;
    input.stop = &g_interrupted;
    input.movie = probe.movie;
    const CaptureResult result =
        captureSheet(input, options, progress, SheetOutput{args.overwrite, sheet.format});
    if (!result.ok() && guarded && sheetExists(target))
        return failure(movie, target +
                                  " appeared while its sheet was made and was left as it is (use "
                                  "-y to replace it)");
    if (!result.ok()) {
        if (!progress.framesError().empty())
            return failure(movie, progress.framesError());
        return failure(movie, result.errorText);
    }
    // The sheet is written, but some cells are black: name their moments,
    // so nobody takes a damaged movie's sheet for a whole one.
    std::string warning;
    if (!result.missingMoments.empty() && !args.quiet) {
        warning = movie + ": no picture at ";
        for (size_t i = 0; i < result.missingMoments.size(); ++i)
            warning += (i ? ", " : "") + momentText(result.missingMoments[i]);
        warning += "\n";
    }
    // A sheet on standard output is all that goes there.
    const bool listed = !args.quiet && !sheet.toStdout;
    return ItemResult{Outcome::Made, listed ? target + "\n" : std::string(), warning};
}

// Where the planned sheets really go: standard output recognised whatever
// name leads to it, and no sheet of the run on a movie of the run or on
// another sheet, however the names are spelt.
std::vector<Target> settleSheets(std::vector<PlannedMovie>& plan, const Arguments& args) {
    std::vector<Target> sheets(plan.size());
    if (args.info)
        return sheets;
    for (size_t i = 0; i < plan.size(); ++i) {
        sheets[i].movie = plan[i].entry.path;
        sheets[i].path = plan[i].sheet;
        sheets[i].refusal = plan[i].refusal;
    }
    settleTargets(sheets, args.format.empty() ? "png" : args.format);
    for (size_t i = 0; i < plan.size(); ++i)
        if (plan[i].refusal.empty())
            plan[i].refusal = sheets[i].refusal;
    return sheets;
}

int usageError(std::ostream& err, const std::string& message) {
    err << "stillwick-cli: " << message << "\nRun with --help for more information.\n";
    return 2;
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
    media::setLibraryLog(args.verbosity >= 2   ? media::LibraryLog::Everything
                         : args.verbosity == 1 ? media::LibraryLog::Errors
                                               : media::LibraryLog::Silent);
    if (!args.output.empty() && isFolder(args.movies.front()))
        return usageError(err, "--output names one sheet; give one movie with it, not a folder");

    Options live = loadSettings(args);
    Options settings = live;
    args.overrides.applyTo(settings);
    if (int code = checkSettings(live, settings, args, err); code >= 0)
        return code;

    InterruptGuard interrupts;
    const int cores = availableCores();
    const int jobs = args.jobs > 0 ? args.jobs : cores;

    std::vector<std::string> leftOut;
    for (const std::string& folder : {args.outputDir, args.framesDir})
        if (!folder.empty())
            leftOut.push_back(folder);
    const WalkResult walk = walkArguments(args.movies, args.recursive, leftOut);
    for (const std::string& line : walk.errors)
        err << line << "\n";

    // What was found in folders counts only when a probe finds moving
    // pictures in it; files named on the command line are all tried.
    std::vector<char> isMovie(walk.entries.size(), 1);
    const auto found = static_cast<size_t>(std::count_if(
        walk.entries.begin(), walk.entries.end(), [](const WalkEntry& e) { return e.inFolder; }));
    if (found > 0) {
        std::atomic<size_t> looked{0};
        std::unique_ptr<LiveLine> line;
        if (progress)
            line = std::make_unique<LiveLine>(
                err,
                [&] {
                    std::string text = "looking at the files in the folders: ";
                    return text.append(std::to_string(looked.load()))
                        .append("/")
                        .append(std::to_string(found));
                },
                terminalColumns(STDERR_FILENO));
        forEachInParallel(
            walk.entries.size(), jobs,
            [&](size_t i) {
                if (!walk.entries[i].inFolder)
                    return;
                media::MediaFacts facts;
                isMovie[i] = media::readMediaFacts(walk.entries[i].path, media::FactsDepth::Streams,
                                                   &facts, &g_interrupted)
                                 .ok() &&
                             media::isMovie(facts);
                ++looked;
            },
            g_interrupted);
    }
    std::vector<WalkEntry> movies;
    for (size_t i = 0; i < walk.entries.size(); ++i)
        if (isMovie[i])
            movies.push_back(walk.entries[i]);

    if (!args.outputDir.empty() && !args.info) {
        std::error_code ec;
        if (!fs::is_directory(args.outputDir, ec) && !fs::create_directories(args.outputDir, ec) &&
            ec) {
            err << "stillwick-cli: cannot make the folder " << args.outputDir << ": "
                << ec.message() << "\n";
            return 1;
        }
    }
    // Every sheet's place is settled before the first movie is read.
    std::vector<PlannedMovie> plan = planMovies(movies, args);
    const std::vector<Target> sheets = settleSheets(plan, args);

    // Sheets made at once share the cores: each capture decodes on its share.
    const int active = std::max(1, std::min(jobs, static_cast<int>(plan.size())));
    media::setDecodingCores(std::max(1, cores / active));
    Batch batch(out, err, progress, terminalColumns(STDERR_FILENO));
    BatchCounts counts = batch.run(
        plan.size(), active,
        [&](size_t i, ItemProgress& item) {
            return makeOne(plan[i], sheets[i], args, settings, item);
        },
        g_interrupted);
    counts.failed += static_cast<int>(walk.errors.size());
    counts.skipped = static_cast<int>(walk.entries.size() - movies.size());

    if (g_interrupted.load()) {
        err << "stillwick-cli: interrupted\n";
        return InterruptGuard::exitStatus();
    }
    if (progress)
        err << summaryLine(counts, args.info) << "\n";
    return counts.failed == 0 ? 0 : 1;
}

} // namespace cli
