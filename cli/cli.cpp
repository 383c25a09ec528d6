#include "cli/cli.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "capture/capture.h"
#include "capture/file_names.h"
#include "capture/layout.h"
#include "capture/movie_probe.h"
#include "capture/movie_walk.h"
#include "cli/batch.h"
#include "cli/facts_json.h"
#include "cli/frames.h"
#include "cli/memory.h"
#include "cli/names.h"
#include "cli/plan.h"
#include "cli/settings_file.h"
#include "cli/targets.h"
#include "cli/terminal.h"
#include "platform/media/log.h"
#include "platform/media/media_facts.h"
#include "platform/media/movie_reader.h"
#include "previews/preview_plan.h"
#include "previews/preview_run.h"
#include "previews/sprite_builder.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

// Set by SIGINT, SIGTERM, SIGHUP and SIGPIPE: every probe and capture stops
// where it stands, within a packet, and leaves no file behind, and no
// further movie starts. The signal is kept for the exit status, 128 plus its
// number as a shell reports a program the signal ended.
std::atomic<bool> g_interrupted{false};
volatile std::sig_atomic_t g_signal = 0;

extern "C" void onInterrupt(int signal) {
    if (g_signal == 0)
        g_signal = signal;
    g_interrupted.store(true);
}

// A write found the standard output closed without the signal (it was
// blocked, or ignored where the handler could not be put): the same stop.
void outputClosed() {
    if (g_signal == 0)
        g_signal = SIGPIPE;
    g_interrupted.store(true);
}

// Restores the previous handlers however the run ends. The first SIGINT,
// SIGTERM or SIGHUP asks for a clean stop; the handler then gives way to the
// default action, so a second one ends the process at once should the stop
// ever take too long. SIGPIPE keeps its handler: every write to the closed
// output raises it again, and none of them may end the process before the
// movies in work have taken back their files; the write itself fails with
// EPIPE.
class InterruptGuard {
public:
    InterruptGuard() {
        g_signal = 0;
        g_interrupted.store(false);
        struct sigaction once {};
        once.sa_handler = onInterrupt;
        sigemptyset(&once.sa_mask);
        once.sa_flags = SA_RESETHAND;
        for (size_t i = 0; i < kOnce.size(); ++i)
            sigaction(kOnce[i], &once, &previous_[i]);
        struct sigaction always {};
        always.sa_handler = onInterrupt;
        sigemptyset(&always.sa_mask);
        sigaction(SIGPIPE, &always, &previousPipe_);
    }
    ~InterruptGuard() {
        for (size_t i = 0; i < kOnce.size(); ++i)
            sigaction(kOnce[i], &previous_[i], nullptr);
        sigaction(SIGPIPE, &previousPipe_, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // The exit status for an interrupted run.
    static int exitStatus() { return 128 + (g_signal != 0 ? static_cast<int>(g_signal) : SIGINT); }
    // The last line of an interrupted run.
    static std::string message() {
        switch (g_signal) {
        case SIGPIPE:
            return "stillwick-cli: interrupted: the standard output was closed";
        case SIGHUP:
            return "stillwick-cli: interrupted: the terminal hung up";
        default:
            return "stillwick-cli: interrupted";
        }
    }

private:
    static constexpr std::array<int, 3> kOnce{SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> previous_{};
    struct sigaction previousPipe_ {};
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

// What the movies of a run share.
struct RunContext {
    const Arguments& args;
    const Options& settings;
    FrameGuard& frames;
    MemoryGate& memory;
    int decodingThreads = 1;
    bool outIsTerminal = false;
};

// The scrub previews of one movie in work: the sprites fill as the frames
// come and are written, with the track, into a hidden folder; they take
// their names only when every one of them is there.
class PreviewWork : public previews::PreviewFiles {
public:
    PreviewWork(FrameGuard& guard, const std::string& movie, const std::string& folder,
                bool replace, previews::PreviewPlan plan, const Options& options)
        : plan_(std::move(plan)), files_(guard, movie, folder, replace, "preview"),
          builder_(plan_, stemOf(movie), *this), quality_(options.jpegQuality),
          progressive_(options.jpegProgressive != 0) {}

    bool writeSprite(const std::string& name, const RasterImage& sprite) override {
        return files_.add(name, sprite, false, quality_, progressive_);
    }
    bool writeTrack(const std::string& name, const std::string& text) override {
        return files_.addText(name, text);
    }

    const previews::PreviewPlan& plan() const { return plan_; }
    previews::SpriteBuilder& builder() { return builder_; }
    bool failed() const { return files_.failed() || builder_.failed() || (finished_ && !ok_); }
    std::string error() const { return files_.failed() ? files_.error() : builder_.error(); }
    // Every thumbnail is in: the track is written and the files take their
    // names. Once; later calls say how it went.
    bool finish() {
        if (!finished_)
            ok_ = builder_.finish() && files_.place();
        finished_ = true;
        return ok_;
    }
    bool finished() const { return finished_; }
    // The movie is done: the previews stay.
    void keep() { files_.keep(); }

private:
    previews::PreviewPlan plan_;
    FrameSet files_;
    previews::SpriteBuilder builder_;
    int quality_;
    bool progressive_;
    bool finished_ = false;
    bool ok_ = false;
};

// What one capture tells the command line: its moments for the live line,
// its frames for --frames-dir; it stops the capture when asked to or when a
// frame or a preview cannot be written.
class SheetProgress : public CaptureProgress {
public:
    SheetProgress(ItemProgress& item, const PlannedMovie& plan, const Arguments& args,
                  const Options& options, int64_t cells, FrameSet* frames,
                  PreviewWork* previews = nullptr)
        : item_(item), plan_(plan), args_(args), options_(options), cells_(cells), frames_(frames),
          previews_(previews) {}

    bool cancelled() override {
        if (g_interrupted.load())
            return true;
        if ((frames_ && frames_->failed()) || (previews_ && previews_->failed()))
            return true;
        // Every moment is done, so this is the last question before the
        // sheet is written: the frames and the previews take their names
        // now, and one that cannot stops the run before there is a sheet.
        if (momentsDone_ == cells_) {
            if (frames_ && !frames_->placed() && !frames_->place())
                return true;
            if (previews_ && previews_->builder().complete() && !previews_->finish())
                return true;
        }
        return false;
    }
    void momentDone(int, const RasterImage&) override {
        ++momentsDone_;
        item_.momentDone();
    }
    bool wantsFullFrames() const override { return frames_ != nullptr; }
    void frameArrived(int moment, const MediaTime& time, const RasterImage& frame) override {
        if (!frames_ || frames_->failed())
            return;
        const bool png = args_.framesFormat == "png";
        frames_->add(
            frameFileName(stemOf(plan_.entry.path), moment, cells_, time, png ? "png" : "jpg"),
            frame, png, options_.jpegQuality, options_.jpegProgressive != 0);
    }

private:
    ItemProgress& item_;
    const PlannedMovie& plan_;
    const Arguments& args_;
    const Options& options_;
    int64_t cells_;
    int64_t momentsDone_ = 0;
    FrameSet* frames_;
    PreviewWork* previews_;
};

// One line that names the movie and says why; nothing in it reaches the
// terminal as a control character.
ItemResult failure(const std::string& movie, const std::string& why) {
    return ItemResult{Outcome::Failed, {}, shownName(movie) + ": " + safeLine(why, movie) + "\n"};
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
    return ItemResult{Outcome::Failed, object + "\n", failure(movie, why).err};
}

// The peak a capture of the movie with these settings is expected to reach.
int64_t estimateOf(const ProbeResult& probe, const Options& options, const RunContext& run) {
    SheetLayout layout;
    std::string ignored;
    // The information block is small next to the grid; a layout that cannot
    // be made fails the capture later, with its reason.
    Options grid = options;
    grid.headerEnabled = 0;
    if (!computeLayout(grid, probe.facts.shownWidth(), probe.facts.shownHeight(), 0, 0, layout,
                       ignored))
        layout = SheetLayout{};
    return captureEstimate(std::max(probe.facts.videoWidth, probe.facts.shownWidth()),
                           std::max(probe.facts.videoHeight, probe.facts.shownHeight()),
                           layout.sheetWidth, layout.sheetHeight, run.decodingThreads,
                           !run.args.framesDir.empty());
}

// The previews of the movie as the arguments ask for them.
bool planPreviewsOf(const ProbeResult& probe, const Arguments& args, previews::PreviewPlan& plan,
                    std::string& error) {
    previews::PreviewSettings settings;
    if (args.interval)
        settings.interval = args.interval->resolve(probe.facts.duration);
    settings.count = args.previewsCount;
    settings.width = args.previewWidth;
    settings.columns = args.previewColumns;
    settings.rows = args.previewRows;
    return previews::planPreviews(probe.facts.duration, probe.facts.shownWidth(),
                                  probe.facts.shownHeight(), settings, plan, error);
}

// The names the previews of a movie take in their folder: the sprites, then
// the track.
std::vector<std::string> previewNames(const previews::PreviewPlan& plan, const std::string& stem) {
    std::vector<std::string> names;
    for (size_t s = 0; s < plan.sprites(); ++s)
        names.push_back(previews::spriteName(stem, s, plan.sprites()));
    names.push_back(previews::trackName(stem));
    return names;
}

// What a sheet lacks and what its previews lack, as one capture's result.
CaptureResult withPreviews(CaptureResult result, const previews::SpriteBuilder& previews) {
    std::vector<int64_t>& missing = result.missingMoments;
    missing.insert(missing.end(), previews.missing().begin(), previews.missing().end());
    std::sort(missing.begin(), missing.end());
    missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
    return result;
}

// One movie: its information, or its sheet.
ItemResult makeOne(const PlannedMovie& plan, const Target& sheet, RunContext& run,
                   ItemProgress& item) {
    const Arguments& args = run.args;
    const std::string& movie = plan.entry.path;
    if (!plan.refusal.empty())
        return failure(movie, plan.refusal);
    item.begin(shownName(fileNameOf(movie)), 0);
    ProbeResult probe;
    {
        if (!run.memory.acquire(kProbeEstimate, g_interrupted))
            return failure(movie, kProbeCancelledText);
        const MemoryAdmission probing(run.memory, kProbeEstimate);
        if (args.info && args.json)
            return factsOf(movie);
        probe = MovieProbe::probe(movie, &g_interrupted);
    }
    if (!probe.ok())
        return failure(movie, probe.errorText());
    // The information text names the movie; on a terminal its name is shown
    // as on the error output.
    if (args.info) {
        std::string text = probe.infoText;
        const std::string name = fileNameOf(movie);
        if (run.outIsTerminal && !isPlainName(name))
            for (size_t at = 0; (at = text.find(name, at)) != std::string::npos;) {
                text.replace(at, name.size(), shownName(name));
                at += shownName(name).size();
            }
        return ItemResult{Outcome::Made, text + "\n\n", {}};
    }

    Options options = run.settings;
    const bool makesSheet = args.makesSheet();
    // With previews an interval is theirs.
    if (args.interval && !args.previews)
        options.rows =
            rowsForInterval(probe.facts.duration, options.columns, args.choice, *args.interval);
    const std::string& target = plan.sheet;
    // Saves the work of a sheet that could not be written; without -y the
    // writer itself refuses a sheet that appears meanwhile.
    const bool guarded = makesSheet && !args.overwrite && !sheet.toStdout;
    if (guarded && sheetExists(target))
        return failure(movie, shownName(target) + " exists (use -y to replace it)");
    const std::string stem = stemOf(movie);
    previews::PreviewPlan previewPlan;
    if (args.previews) {
        std::string why;
        if (!planPreviewsOf(probe, args, previewPlan, why))
            return failure(movie, why);
        // As for the sheet: a preview that is there already fails the movie
        // before any work, not after it.
        struct stat st {};
        for (const std::string& name : previewNames(previewPlan, stem)) {
            const std::string path = (fs::path(plan.previewsFolder) / name).string();
            if (!args.overwrite && ::lstat(path.c_str(), &st) == 0)
                return failure(movie,
                               "the preview " + shownName(path) + " exists (use -y to replace it)");
        }
    }
    std::error_code ec;
    for (const std::string& folder :
         {args.outputDir.empty() || !makesSheet ? std::string()
                                                : fs::path(target).parent_path().string(),
          plan.framesFolder, plan.previewsFolder}) {
        if (!folder.empty() && !fs::is_directory(folder, ec) &&
            !fs::create_directories(folder, ec) && ec)
            return failure(movie,
                           "cannot make the folder " + shownName(folder) + ": " + ec.message());
    }

    // Decoding waits until its frames fit next to those of the movies in
    // work; a movie's previews hold one sprite at a time.
    int64_t estimate =
        makesSheet ? estimateOf(probe, options, run)
                   : captureEstimate(std::max(probe.facts.videoWidth, probe.facts.shownWidth()),
                                     std::max(probe.facts.videoHeight, probe.facts.shownHeight()),
                                     0, 0, run.decodingThreads, false);
    if (args.previews) {
        const previews::Region sprite = previewPlan.spriteSize(0);
        estimate += int64_t{sprite.width} * sprite.height * 3;
    }
    if (!run.memory.acquire(estimate, g_interrupted))
        return failure(movie, kCancelledText);
    const MemoryAdmission admission(run.memory, estimate);

    const int64_t cells = makesSheet ? static_cast<int64_t>(options.rows) * options.columns : 0;
    const auto thumbnails = static_cast<int64_t>(previewPlan.moments.size());
    item.begin(shownName(fileNameOf(movie)), cells + thumbnails);
    std::optional<PreviewWork> previews;
    if (args.previews)
        previews.emplace(run.frames, movie, plan.previewsFolder, args.overwrite, previewPlan,
                         options);
    const std::string track = (fs::path(plan.previewsFolder) / previews::trackName(stem)).string();
    const auto listedTrack = [&] {
        return args.quiet || !previews || sheet.toStdout
                   ? std::string()
                   : (run.outIsTerminal ? shownName(track) : track) + "\n";
    };
    // What a finished movie tells: the lines for stdout, and whatever it
    // lacks on the error output whatever -q says, so that nobody takes it
    // for a whole one.
    const auto finished = [&](const CaptureResult& result, std::string listed) {
        std::string warnings;
        if (result.incomplete())
            warnings += shownName(movie) + ": " + safeLine(incompleteText(result), movie) + "\n";
        if (result.stampsLeftOut && !args.quiet)
            warnings += shownName(movie) +
                        ": the cells are too small for the time stamps; they were left out\n";
        return ItemResult{result.incomplete() ? Outcome::Incomplete : Outcome::Made,
                          std::move(listed), warnings};
    };

    if (!makesSheet) {
        // The previews alone: one request for all their moments.
        const Result ready = probe.movie->videoReady();
        if (!ready.ok())
            return failure(movie, ready.text());
        const Result rc = previews::readPreviews(*probe.movie, previews->plan(),
                                                 args.choice.keyFrames, previews->builder(), [&] {
                                                     item.momentDone();
                                                     return !g_interrupted.load();
                                                 });
        if (g_interrupted.load() || rc.isCancelled())
            return failure(movie, kCancelledText);
        if (previews->failed())
            return failure(movie, previews->error());
        if (!rc.ok())
            return failure(movie, rc.text());
        if (!previews->finish())
            return failure(movie, previews->error());
        previews->keep();
        CaptureResult result;
        result.cutShort = probe.facts.cutShort();
        result.readableDuration = probe.facts.duration;
        result.statedDuration = probe.facts.statedDuration;
        return finished(withPreviews(result, previews->builder()), listedTrack());
    }

    std::optional<FrameSet> frames;
    if (!plan.framesFolder.empty())
        frames.emplace(run.frames, movie, plan.framesFolder, args.overwrite);
    SheetProgress progress(item, plan, args, options, cells, frames ? &*frames : nullptr,
                           previews ? &*previews : nullptr);
    CaptureInput input;
    input.moviePath = movie;
    input.facts = probe.facts;
    input.infoText = probe.infoText;
    input.targetPath = sheet.writePath;
    input.choice = args.choice;
    input.stop = &g_interrupted;
    input.movie = probe.movie;
    // The previews' moments ride in the sheet's request to the reader.
    SharedMoments shared;
    if (previews) {
        shared.moments = previews->plan().moments;
        shared.width = previews->plan().thumbWidth;
        shared.height = previews->plan().thumbHeight;
        shared.keyFrameTolerance =
            args.choice.keyFrames ? previews::keyFrameTolerance(previews->plan()) : -1;
        shared.deliver = [&](size_t k, media::Frame&& frame) {
            item.momentDone();
            return previews->builder().add(k, frame);
        };
        input.shared = &shared;
    }
    const CaptureResult result =
        captureSheet(input, options, progress, SheetOutput{args.overwrite, sheet.format});
    if (!result.ok() && frames && frames->failed())
        return failure(movie, frames->error());
    if (!result.ok() && previews && previews->failed())
        return failure(movie, previews->error());
    if (!result.ok() && guarded && sheetExists(target))
        return failure(movie, shownName(target) +
                                  " appeared while its sheet was made and was left as it is (use "
                                  "-y to replace it)");
    if (!result.ok())
        return failure(movie, result.errorText());
    // The frames and previews went to their names before the sheet was
    // written, unless the capture never asked once more after its last
    // moment.
    if (frames && !frames->place())
        return failure(movie, frames->error() + "; the sheet " + shownName(target) + " was made");
    if (previews && !previews->finish())
        return failure(movie, previews->error() + "; the sheet " + shownName(target) + " was made");
    if (frames)
        frames->keep();
    if (previews)
        previews->keep();

    // A sheet on standard output is all that goes there. A terminal gets
    // the name in the form that cannot play tricks on it; a program the
    // exact bytes.
    std::string listed;
    if (!args.quiet && !sheet.toStdout)
        listed = (run.outIsTerminal ? shownName(target) : target) + "\n";
    return finished(previews ? withPreviews(result, previews->builder()) : result,
                    listed + listedTrack());
}

// Where the planned sheets really go: standard output recognised whatever
// name leads to it, and no sheet of the run on a movie of the run or on
// another sheet, however the names are spelt.
std::vector<Target> settleSheets(std::vector<PlannedMovie>& plan, const Arguments& args) {
    std::vector<Target> sheets(plan.size());
    if (args.info || !args.makesSheet())
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

std::string counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Why a run whose folders gave nothing to make made nothing. Files named on
// the command line are always tried, so only folders come to this.
std::string nothingFound(const moviewalk::Result& walk, const std::vector<std::string>& arguments) {
    std::string folders;
    for (const std::string& argument : arguments)
        if (moviewalk::isFolder(argument))
            folders += (folders.empty() ? "" : ", ") + shownName(argument);
    std::vector<std::string> reasons;
    if (!walk.entries.empty())
        reasons.push_back(
            counted(walk.entries.size(), "file was", "files were") + " looked at and " +
            (walk.entries.size() == 1 ? "holds no" : "none holds") + " moving pictures");
    if (walk.sheetsLeftOut > 0)
        reasons.push_back(
            walk.sheetsLeftOut == 1
                ? std::string("1 picture named as the sheet of a file beside it left out")
                : std::to_string(walk.sheetsLeftOut) +
                      " pictures named as sheets of the files beside them left out");
    if (walk.foldersNotEntered > 0)
        reasons.push_back(
            counted(static_cast<size_t>(walk.foldersNotEntered), "sub-folder", "sub-folders") +
            " not looked in (use -r)");
    if (reasons.empty())
        reasons.push_back("no files in " +
                          std::string(folders.find(',') == std::string::npos ? "it" : "them"));
    std::string line = "stillwick-cli: no movie found in " + folders + ": ";
    for (size_t i = 0; i < reasons.size(); ++i)
        line += (i ? "; " : "") + reasons[i];
    return line + "\n";
}

} // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress,
        bool outIsTerminal) {
    Arguments args;
    if (const std::optional<int> status = parseArguments(argc, argv, args, out, err))
        return *status;
    progress = progress && !args.quiet;
    media::setLibraryLog(args.verbosity >= 2   ? media::LibraryLog::Everything
                         : args.verbosity == 1 ? media::LibraryLog::Errors
                                               : media::LibraryLog::Silent);
    if (!args.output.empty() && moviewalk::isFolder(args.movies.front()))
        return usageError(err, "--output names one sheet; give one movie with it, not a folder");

    Options live = loadSettings(args);
    Options settings = live;
    args.overrides.applyTo(settings);
    if (const std::optional<int> status = checkSettings(live, settings, args, err))
        return *status;

    InterruptGuard interrupts;
    const int cores = availableCores();
    const int jobs = args.jobs > 0 ? args.jobs : cores;

    std::vector<std::string> leftOut;
    for (const std::string& folder : {args.outputDir, args.framesDir, args.previewsDir})
        if (!folder.empty())
            leftOut.push_back(folder);
    const moviewalk::Result walk = moviewalk::walk(args.movies, args.recursive, leftOut);
    MemoryGate memory(args.memoryBudget > 0 ? args.memoryBudget : defaultMemoryBudget());
    std::vector<std::string> unreadable;
    for (const moviewalk::Unreadable& u : walk.unreadable)
        unreadable.push_back(shownName(u.folder) + ": cannot read the folder: " + u.reason);
    for (const std::string& line : unreadable)
        err << safeLine(line) << "\n";

    // What was found in folders counts only when a probe finds moving
    // pictures in it; files named on the command line are all tried.
    std::vector<char> isMovie(walk.entries.size(), 1);
    const auto found =
        static_cast<size_t>(std::count_if(walk.entries.begin(), walk.entries.end(),
                                          [](const moviewalk::Entry& e) { return e.inFolder; }));
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
                if (!walk.entries[i].inFolder || !memory.acquire(kProbeEstimate, g_interrupted))
                    return;
                const MemoryAdmission probing(memory, kProbeEstimate);
                media::MediaFacts facts;
                isMovie[i] = media::readMediaFacts(walk.entries[i].path, media::FactsDepth::Streams,
                                                   &facts, &g_interrupted)
                                 .ok() &&
                             media::isMovie(facts);
                ++looked;
            },
            g_interrupted);
    }
    if (g_interrupted.load()) {
        err << InterruptGuard::message() << "\n";
        return InterruptGuard::exitStatus();
    }
    std::vector<moviewalk::Entry> movies;
    for (size_t i = 0; i < walk.entries.size(); ++i)
        if (isMovie[i])
            movies.push_back(walk.entries[i]);
    // A run with nothing to make says why rather than end in silence.
    if (movies.empty() && unreadable.empty()) {
        err << nothingFound(walk, args.movies);
        return 1;
    }

    if (!args.outputDir.empty() && !args.info) {
        std::error_code ec;
        if (!fs::is_directory(args.outputDir, ec) && !fs::create_directories(args.outputDir, ec) &&
            ec) {
            err << "stillwick-cli: cannot make the folder " << shownName(args.outputDir) << ": "
                << ec.message() << "\n";
            return 1;
        }
    }
    // Every sheet's place is settled before the first movie is read.
    std::vector<PlannedMovie> plan = planMovies(movies, args);
    const std::vector<Target> sheets = settleSheets(plan, args);

    // No frame or preview may land on a sheet or a movie of the run.
    FrameGuard frameGuard;
    if (!args.framesDir.empty() || args.previews)
        for (size_t i = 0; i < plan.size(); ++i) {
            frameGuard.protect(plan[i].entry.path, "the movie " + shownName(plan[i].entry.path));
            if (!sheets[i].path.empty() && !sheets[i].toStdout)
                frameGuard.protect(sheets[i].writePath,
                                   "the sheet of " + shownName(plan[i].entry.path));
        }

    // Sheets made at once share the cores: each capture decodes on its share.
    const int active = std::max(1, std::min(jobs, static_cast<int>(plan.size())));
    media::setDecodingCores(std::max(1, cores / active));
    RunContext context{args,         settings, frameGuard, memory, std::max(1, cores / active),
                       outIsTerminal};
    Batch batch(out, err, progress, terminalColumns(STDERR_FILENO));
    batch.onOutputClosed(outputClosed);
    BatchCounts counts = batch.run(
        plan.size(), active,
        [&](size_t i, ItemProgress& item) { return makeOne(plan[i], sheets[i], context, item); },
        g_interrupted);
    counts.failed += static_cast<int>(unreadable.size());
    counts.skipped = static_cast<int>(walk.entries.size() - movies.size());

    if (g_interrupted.load()) {
        err << InterruptGuard::message() << "\n";
        return InterruptGuard::exitStatus();
    }
    if (progress)
        err << (!args.previews ? summaryLine(counts, args.info)
                : args.makesSheet()
                    ? summaryLine(counts, false, "sheet with previews", "sheets with previews")
                    : summaryLine(counts, false, "movie with previews", "movies with previews"))
            << "\n";
    if (counts.failed > 0)
        return 1;
    return counts.incomplete > 0 ? 3 : 0;
}

} // namespace cli
