#include "capture/capture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "capture/blank_frame.h"
#include "capture/cell_painter.h"
#include "capture/file_names.h"
#include "capture/layout.h"
#include "platform/media/movie_reader.h"

namespace {

// Hint lines appended to some failures: what a user of this machine can do
// about them.
constexpr const char* kHintConnect = "\nTry installing libavcodec-extra: the installed FFmpeg "
                                     "libraries may not decode this format!";
constexpr const char* kHintRender = "\nTry converting the movie with ffmpeg: the installed FFmpeg "
                                    "libraries cannot play it through!";

// The phases of one capture, in the order `run` calls them. Each returns
// false once the run has failed; `result` then says why.
class CaptureRun {
public:
    CaptureRun(const CaptureInput& input, const Options& options, CaptureProgress& progress,
               const SheetOutput& output)
        : in_(input), o_(options), progress_(progress), out_(output) {}

    CaptureResult run() {
        result_.cutShort = in_.facts.cutShort();
        result_.readableDuration = in_.facts.duration;
        result_.statedDuration =
            in_.facts.cutShort() ? in_.facts.statedDuration : in_.facts.duration;
        if (checkInput() && planLayout() && openMovie() && paintSheet() && grabFrames()) {
            drawInformation(sheet_, o_, layout_, in_.infoText, in_.informationColor);
            const auto mode = out_.replaceTarget ? RasterImage::WriteMode::Replace
                                                 : RasterImage::WriteMode::CreateNew;
            const Result written =
                writeSheetFile(sheet_, o_, in_.targetPath, out_.format, mode, in_.stop);
            if (!written.ok())
                fail(written);
        }
        // Whichever step the stop cut short failed for that reason, not for
        // the one its own result names.
        if (!result_.ok() && stopRequested())
            result_.status = Result::cancelled(kCancelledText);
        return result_;
    }

private:
    bool stopRequested() const { return in_.stop && in_.stop->load(std::memory_order_relaxed); }
    bool cancelled() { return stopRequested() || progress_.cancelled(); }

    bool fail(ResultCode code, std::string text) {
        result_.status = Result::failure(code, std::move(text));
        return false;
    }
    bool fail(const Result& rc, const char* hint = "") {
        result_.status = rc.isCancelled() ? Result::cancelled(kCancelledText) : rc.withHint(hint);
        return false;
    }
    bool stopped() {
        result_.status = Result::cancelled(kCancelledText);
        return false;
    }

    bool checkInput();
    bool planLayout();
    bool openMovie();
    bool paintSheet();
    bool grabFrames();
    // Draws the cells whose frames are at hand (`fromKept` marks them) and
    // gives the others, to be asked of the movie; false when stopped.
    bool drawKeptCells(const std::vector<int64_t>& positions, std::vector<bool>* fromKept,
                       std::vector<size_t>* asked);
    // The frame at or after the position, found on its own.
    bool frameAt(int64_t position, media::Frame* out);
    bool lookPastBlank(int64_t cell, int64_t moment, int64_t latest, media::Frame& blank);

    const CaptureInput& in_;
    const Options& o_;
    CaptureProgress& progress_;
    const SheetOutput& out_;
    CaptureResult result_;

    SheetLayout layout_;
    RasterImage sheet_;
    std::unique_ptr<CellPainter> painter_;
    std::shared_ptr<media::MovieReader> movie_;
    media::FrameRequest request_;
};

// Refuses what cannot make a sheet before anything is built.
bool CaptureRun::checkInput() {
    if (in_.moviePath.empty())
        return fail(ResultCode::Invalid, "No movie has been opened.");
    if (!in_.facts.usable())
        return fail(ResultCode::Invalid,
                    "The movie " + in_.moviePath +
                        " has not been read successfully (its size or length is unknown); "
                        "open it again.");
    return true;
}

bool CaptureRun::planLayout() {
    const TextSize text = measureInformation(o_, in_.infoText);
    std::string error;
    // Cells have the shape of the picture as it is shown, not as stored.
    if (!computeLayout(o_, in_.facts.shownWidth(), in_.facts.shownHeight(), text.width, text.height,
                       layout_, error))
        return fail(ResultCode::Invalid, error);
    return true;
}

// The movie the probe opened, or a fresh opening of it; either way one whose
// video can be decoded.
bool CaptureRun::openMovie() {
    movie_ = in_.movie;
    if (!movie_) {
        std::unique_ptr<media::MovieReader> opened;
        const Result rc = media::MovieReader::open(in_.moviePath, in_.stop, &opened);
        if (!rc.ok())
            return fail(rc);
        movie_ = std::move(opened);
    }
    const Result ready = movie_->videoReady();
    if (!ready.ok())
        return fail(ready, kHintConnect);
    if (layout_.cells > 0) {
        const CellRect cell = layout_.cellAt(0);
        request_.width = std::max(1, cell.width);
        request_.height = std::max(1, cell.height);
    }
    request_.fullSize = progress_.wantsFullFrames();
    return true;
}

// Background, soft shadows, and a black box per cell that its frame covers.
bool CaptureRun::paintSheet() {
    const Result painted = paintGrid(sheet_, o_, layout_, in_.stop);
    if (!painted.ok())
        return fail(painted);
    // Painting a large sheet takes a while; what it painted for a stopped
    // run is not wanted.
    if (cancelled())
        return stopped();
    painter_ = std::make_unique<CellPainter>(sheet_, layout_, o_, progress_);
    result_.stampsLeftOut = !painter_->stampsFit();
    progress_.sheetPainted(sheet_);
    return true;
}

bool CaptureRun::frameAt(int64_t position, media::Frame* out) {
    *out = media::Frame{};
    media::FrameRequest one = request_;
    one.keyFrameTolerance = -1;
    one.extraSizes.clear();
    const Result rc = movie_->frames({position}, one, [&](size_t, media::Frame&& f) {
        *out = std::move(f);
        return true;
    });
    return rc.ok() || fail(rc, kHintRender);
}

// A position asked of the reader: a cell's moment, a shared moment, or both.
struct Wanted {
    int64_t position = 0;
    ptrdiff_t cell = -1;
    ptrdiff_t shared = -1;
};

// The sheet's moments and the shared ones in one rising list; a moment both
// want is asked for once.
std::vector<Wanted> mergeMoments(const std::vector<int64_t>& cells,
                                 const std::vector<int64_t>& shared) {
    std::vector<Wanted> wanted;
    wanted.reserve(cells.size() + shared.size());
    size_t c = 0;
    size_t s = 0;
    while (c < cells.size() || s < shared.size()) {
        Wanted w;
        const bool takeCell = c < cells.size() && (s == shared.size() || cells[c] <= shared[s]);
        const bool takeShared = s < shared.size() && (c == cells.size() || shared[s] <= cells[c]);
        if (takeCell) {
            w.position = cells[c];
            w.cell = static_cast<ptrdiff_t>(c++);
        }
        if (takeShared) {
            w.position = shared[s];
            w.shared = static_cast<ptrdiff_t>(s++);
        }
        wanted.push_back(w);
    }
    return wanted;
}

// Frames at hand serve only what the capture would find itself: exact
// frames (a key frame or a frame past a blank one is chosen by the step),
// at the cells' size.
bool CaptureRun::drawKeptCells(const std::vector<int64_t>& positions, std::vector<bool>* fromKept,
                               std::vector<size_t>* asked) {
    fromKept->assign(positions.size(), false);
    asked->clear();
    asked->reserve(positions.size());
    const bool useKept = in_.kept && !in_.choice.keyFrames && !in_.choice.avoidBlank &&
                         !request_.fullSize && layout_.cells > 0;
    const CellRect cell = layout_.cells > 0 ? layout_.cellAt(0) : CellRect{};
    const auto fits = [&](const KeptFrame& k) {
        return k.frame.found && k.frame.picture.width == cell.width &&
               k.frame.picture.height == cell.height;
    };
    size_t k = 0;
    for (size_t i = 0; i < positions.size(); ++i) {
        if (useKept) {
            const std::vector<KeptFrame>& kept = *in_.kept;
            while (k < kept.size() && kept[k].moment < positions[i])
                ++k;
            if (k < kept.size() && kept[k].moment == positions[i] && fits(kept[k])) {
                if (cancelled())
                    return stopped();
                painter_->drawFrame(static_cast<int64_t>(i), kept[k].frame);
                (*fromKept)[i] = true;
                continue;
            }
        }
        asked->push_back(i);
    }
    return true;
}

// The moments: evenly spaced, never the very start nor the end. The frames
// come in order; a nearly uniform one, when blank frames are to be avoided,
// breaks the run of frames for a search past it, and the run then goes on
// from the next moment. Shared moments that want the same kind of frame as
// the cells ride in the same request, their pictures as an extra size;
// others are asked for after the cells.
bool CaptureRun::grabFrames() {
    std::vector<int64_t> positions;
    std::string error;
    if (!captureMoments(in_.facts.duration, layout_.cells, in_.choice, positions, error))
        return fail(ResultCode::Invalid, error);
    const int64_t halfStep = momentStep(in_.facts.duration, layout_.cells, in_.choice) / 2;
    request_.keyFrameTolerance = in_.choice.keyFrames ? halfStep : -1;

    std::vector<bool> fromKept;
    std::vector<size_t> asked;
    if (!drawKeptCells(positions, &fromKept, &asked))
        return false;
    // The cells drawn from kept frames are reported in their turn among
    // the others, so that a watcher hears of the cells in order and of the
    // last one last.
    size_t reportedUpTo = 0;
    const auto reportKept = [&](size_t upTo) {
        for (; reportedUpTo < upTo; ++reportedUpTo)
            if (fromKept[reportedUpTo])
                progress_.momentDone(static_cast<int>(reportedUpTo), sheet_);
    };
    std::vector<int64_t> askedPositions;
    askedPositions.reserve(asked.size());
    for (const size_t i : asked)
        askedPositions.push_back(positions[i]);

    const SharedMoments* shared = in_.shared && !in_.shared->moments.empty() ? in_.shared : nullptr;
    const bool together =
        shared && !positions.empty() && shared->keyFrameTolerance == request_.keyFrameTolerance;
    if (together)
        request_.extraSizes.emplace_back(shared->width, shared->height);
    std::vector<Wanted> wanted =
        mergeMoments(askedPositions, together ? shared->moments : std::vector<int64_t>{});
    for (Wanted& w : wanted)
        if (w.cell >= 0)
            w.cell = static_cast<ptrdiff_t>(asked[static_cast<size_t>(w.cell)]);
    bool sharedStopped = false;
    // The shared moment's frame, with its own picture only.
    const auto hand = [&](ptrdiff_t k, media::Frame& frame, bool extra) {
        media::Frame own;
        own.found = frame.found;
        own.time = frame.time;
        own.decodeErrors = frame.decodeErrors;
        if (!extra)
            own.picture = std::move(frame.picture);
        else if (frame.found && !frame.extra.empty())
            own.picture = std::move(frame.extra.back());
        sharedStopped = !shared->deliver(static_cast<size_t>(k), std::move(own));
        return !sharedStopped;
    };

    size_t from = 0;
    while (from < wanted.size()) {
        if (cancelled())
            return stopped();
        std::vector<int64_t> rest;
        rest.reserve(wanted.size() - from);
        for (size_t k = from; k < wanted.size(); ++k)
            rest.push_back(wanted[k].position);
        size_t blankAt = wanted.size();
        media::Frame blank;
        const Result rc = movie_->frames(rest, request_, [&](size_t j, media::Frame&& frame) {
            const Wanted& w = wanted[from + j];
            if (cancelled())
                return false;
            if (w.shared >= 0 && !hand(w.shared, frame, true))
                return false;
            if (w.cell < 0)
                return true;
            const size_t i = static_cast<size_t>(w.cell);
            reportKept(i);
            // A damaged stretch is answered by the first frame that decodes
            // before the next moment asked; with the next cell's frame at
            // hand, that moment lies further on. A frame from past the next
            // cell's moment is none of this cell's, as a capture of every
            // cell would have found.
            if (frame.found && frame.decodeErrors > 0 && i + 1 < positions.size() &&
                fromKept[i + 1] && frame.time.units() >= positions[i + 1]) {
                const int errors = frame.decodeErrors;
                frame = media::Frame{};
                frame.decodeErrors = errors;
            }
            if (!frame.found) {
                result_.missingMoments.push_back(positions[i]);
                painter_->drawEmpty(static_cast<int64_t>(i), positions[i]);
            } else if (in_.choice.avoidBlank && isNearlyUniform(toRasterImage(frame.picture))) {
                blankAt = from + j;
                blank = std::move(frame);
                return false;
            } else {
                painter_->drawFrame(static_cast<int64_t>(i), frame);
            }
            result_.decoderErrors += frame.decodeErrors;
            progress_.momentDone(static_cast<int>(i), sheet_);
            return true;
        });
        if (cancelled() || sharedStopped)
            return stopped();
        if (!rc.ok())
            return fail(rc, kHintRender);
        if (blankAt == wanted.size())
            break;
        const auto cell = static_cast<size_t>(wanted[blankAt].cell);
        result_.decoderErrors += blank.decodeErrors;
        if (!lookPastBlank(static_cast<int64_t>(cell), positions[cell], positions[cell] + halfStep,
                           blank))
            return false;
        progress_.momentDone(static_cast<int>(cell), sheet_);
        from = blankAt + 1;
    }
    reportKept(positions.size());
    if (shared && !together) {
        media::FrameRequest own;
        own.width = shared->width;
        own.height = shared->height;
        own.keyFrameTolerance = shared->keyFrameTolerance;
        const Result rc = movie_->frames(shared->moments, own, [&](size_t k, media::Frame&& frame) {
            return !cancelled() && hand(static_cast<ptrdiff_t>(k), frame, false);
        });
        if (cancelled() || sharedStopped)
            return stopped();
        if (!rc.ok())
            return fail(rc, kHintRender);
    }
    if (cancelled())
        return stopped();
    // A sheet of empty cells tells nothing: say so rather than write it.
    if (!positions.empty() && result_.missingMoments.size() == positions.size())
        return fail(ResultCode::Damaged,
                    "No picture could be decoded from " + fileNameOf(in_.moviePath) + ".");
    return true;
}

// The moment's frame is nearly uniform: the cell gets the first frame after
// it, up to half a step past the moment, that is not, or else the moment's own
// frame. Frames are found by seeking, each from its key frame, so a long
// stretch is first sampled at 16 points and only the gap before the first
// sample with a picture is searched frame by frame; a flash shorter than a
// sample's distance inside a long blank stretch may go unseen.
bool CaptureRun::lookPastBlank(int64_t cell, int64_t moment, int64_t latest, media::Frame& blank) {
    constexpr int kSamples = 16;
    constexpr double kFramesWorthSampling = 24;
    const double frameTime =
        in_.facts.averageFps > 0 ? 1.0 / static_cast<double>(in_.facts.averageFps) : 0.04;
    int64_t blankUntil = blank.time.units();
    const auto uniform = [](const media::Frame& f) {
        return isNearlyUniform(toRasterImage(f.picture));
    };

    bool pictureAhead = true;
    if (static_cast<double>(latest - blankUntil) / 1e7 / frameTime > kFramesWorthSampling) {
        pictureAhead = false;
        const int64_t gap = (latest - blankUntil) / kSamples;
        const int64_t start = blankUntil;
        for (int n = 1; n <= kSamples && !pictureAhead; ++n) {
            if (cancelled())
                return stopped();
            media::Frame seen;
            if (!frameAt(std::max(moment, start + n * gap), &seen))
                return false;
            if (!seen.found || seen.time.units() > latest)
                break;
            if (uniform(seen))
                blankUntil = std::max(blankUntil, seen.time.units());
            else
                pictureAhead = true;
        }
    }
    // Frame by frame from the last blank frame seen: the first one that is
    // neither uniform nor too late takes the cell.
    while (pictureAhead) {
        if (cancelled())
            return stopped();
        media::Frame seen;
        // Just past the frame's own time: the next frame is the first at or
        // after it.
        if (!frameAt(blankUntil + 1, &seen))
            return false;
        if (!seen.found || seen.time.units() <= blankUntil || seen.time.units() > latest)
            break;
        if (!uniform(seen)) {
            painter_->drawFrame(cell, seen);
            return true;
        }
        blankUntil = seen.time.units();
    }
    painter_->drawFrame(cell, blank);
    return true;
}

// The sRGB transfer function undone: the share of light a byte stands for.
double linearLight(uint8_t byte) {
    const double c = byte / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

} // namespace

std::string momentText(int64_t moment) {
    const int64_t seconds = moment / 10'000'000;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

std::string incompleteText(const CaptureResult& result) {
    std::string text;
    if (result.cutShort)
        text = "cut short, " + timeText(static_cast<double>(result.readableDuration) / 1e7) +
               " of " + momentText(result.statedDuration) + " can be read";
    if (!result.missingMoments.empty()) {
        text += text.empty() ? "no picture at " : "; no picture at ";
        for (size_t i = 0; i < result.missingMoments.size(); ++i)
            text += (i ? ", " : "") + timeText(MediaTime::fromUnits(result.missingMoments[i]));
    }
    return text;
}

Rgb readableTextColor(Rgb background) {
    const double luminance = 0.2126 * linearLight(background.r) +
                             0.7152 * linearLight(background.g) +
                             0.0722 * linearLight(background.b);
    // Contrast with black is (L + 0.05) / 0.05, with white 1.05 / (L + 0.05);
    // they are equal at L = sqrt(1.05 * 0.05) - 0.05, about 0.179.
    const double equalContrast = std::sqrt(1.05 * 0.05) - 0.05;
    return luminance > equalContrast ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
}

CaptureResult captureSheet(const CaptureInput& input, const Options& options,
                           CaptureProgress& progress) {
    return captureSheet(input, options, progress, SheetOutput{});
}

CaptureResult captureSheet(const CaptureInput& input, const Options& options,
                           CaptureProgress& progress, const SheetOutput& output) {
    return CaptureRun(input, options, progress, output).run();
}
