#include "capture/capture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "capture/file_names.h"
#include "capture/grabber_callback.h"
#include "capture/layout.h"
#include "platform/media/graph.h"

namespace {

// Hint lines appended to some failures: what a user of this machine can do
// about them.
constexpr const char* kHintLibraries =
    "\nCheck that the FFmpeg libraries (libavformat, libavcodec, libswscale) are installed!";
constexpr const char* kHintConnect = "\nTry installing libavcodec-extra: the installed FFmpeg "
                                     "libraries may not decode this format!";
constexpr const char* kHintRender = "\nTry converting the movie with ffmpeg: the installed FFmpeg "
                                    "libraries cannot play it through!";
constexpr const char* kNoGrabberText =
    "Check that the FFmpeg libraries (libavformat, libavcodec, libswscale) are installed!";

// The first output pin that carries video, whatever its index.
media::Pin* videoPin(media::Filter& source) {
    for (int i = 0;; ++i) {
        media::Pin* pin = media::outputPin(source, i);
        if (!pin)
            return nullptr;
        if (pin->majorType() == media::MajorType::Video)
            return pin;
    }
}

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
        if (checkInput() && planLayout() && buildGraph() && paintSheet() && finishGraph() &&
            grabFrames()) {
            drawInformation();
            writeSheet();
        }
        // Whichever step the stop cut short failed for that reason, not for
        // the one its own result code names.
        if (!result_.ok() && stopRequested())
            fail(kCancelledText);
        return result_;
    }

private:
    bool stopRequested() const { return in_.stop && in_.stop->load(std::memory_order_relaxed); }
    bool cancelled() { return stopRequested() || progress_.cancelled(); }

    bool fail(std::string text) {
        result_.code = -1;
        result_.errorText = std::move(text);
        return false;
    }
    bool failWith(media::Result hr, const char* hint = "") {
        return fail(media::resultText(hr) + hint);
    }

    bool checkInput();
    bool planLayout();
    bool buildGraph();
    bool paintSheet();
    bool finishGraph();
    bool grabFrames();
    bool grabAt(int64_t position);
    bool lookPastBlank(int64_t moment, int64_t latest);
    void drawInformation();
    void writeSheet();

    const CaptureInput& in_;
    const Options& o_;
    CaptureProgress& progress_;
    const SheetOutput& out_;
    CaptureResult result_;

    SheetLayout layout_;
    RasterImage sheet_;
    GrabberCallback callback_;
    // Declared after the sheet and the callback, so the graph, which calls
    // the callback while it decodes, goes first on every path.
    std::unique_ptr<media::FilterGraph> graph_;
    std::unique_ptr<media::SourceFilter> asfReader_;
    std::unique_ptr<media::SourceFilter> asyncReader_;
    std::unique_ptr<media::SampleGrabber> grabber_;
    media::Filter* source_ = nullptr;
};

// Refuses what cannot make a sheet before anything is built.
bool CaptureRun::checkInput() {
    if (in_.moviePath.empty())
        return fail("No movie has been opened.");
    if (!in_.facts.usable())
        return fail("The movie " + in_.moviePath +
                    " has not been read successfully (its size or length is unknown); "
                    "open it again.");
    return true;
}

bool CaptureRun::planLayout() {
    int textW = 0;
    int textH = 0;
    if (o_.headerEnabled) {
        RasterImage scratch;
        scratch.create(0, 0);
        RECT r{0, 0, 0, 0};
        scratch.drawText(in_.infoText, r, DT_CALCRECT | DT_EXPANDTABS, true, o_.font, o_.textColor);
        textW = r.right - r.left;
        textH = r.bottom - r.top;
    }
    std::string error;
    // Cells have the shape of the picture as it is shown, not as stored.
    if (!computeLayout(o_, in_.facts.shownWidth(), in_.facts.shownHeight(), textW, textH, layout_,
                       error))
        return fail(error);
    return true;
}

// A source for the movie, connected to a grabber that accepts RGB24 frames.
bool CaptureRun::buildGraph() {
    using namespace media;
    Result hr = FilterGraph::create(&graph_);
    if (failed(hr))
        return failWith(hr, kHintLibraries);
    graph_->setStopFlag(in_.stop);
    hr = SourceFilter::create(SourceRole::AsfReader, &asfReader_);
    if (failed(hr))
        return failWith(hr, kHintLibraries);
    hr = asfReader_->load(in_.moviePath);
    if (failed(hr))
        return failWith(hr);

    source_ = asfReader_.get();
    const Result hr4 = graph_->addFilter(*asfReader_, "SourceWMV");
    if (hr4 == E_ABORT)
        return failWith(hr4);
    if (failed(hr4)) {
        // Not an ASF file: any other format goes through the general reader.
        hr = SourceFilter::create(SourceRole::AsyncReader, &asyncReader_);
        if (failed(hr))
            return failWith(hr4, kHintLibraries);
        hr = asyncReader_->load(in_.moviePath);
        if (failed(hr))
            return failWith(hr);
        hr = graph_->addFilter(*asyncReader_, "Source");
        if (failed(hr))
            return failWith(hr);
        source_ = asyncReader_.get();
    }

    hr = SampleGrabber::create(&grabber_);
    if (failed(hr))
        return fail(kNoGrabberText);
    hr = graph_->addFilter(*grabber_, "Grabber");
    if (failed(hr))
        return failWith(hr);
    grabber_->setMediaType(MediaType{MajorType::Video, SubType::RGB24});
    Pin* sourcePin = videoPin(*source_);
    Pin* grabberIn = inputPin(*grabber_, 0);
    if (!sourcePin)
        return failWith(E_NO_VIDEO_STREAM, kHintConnect);
    hr = grabberIn ? graph_->connect(*sourcePin, *grabberIn) : E_FAIL;
    if (failed(hr))
        return failWith(hr, kHintConnect);
    grabber_->getConnectedSize(&callback_.videoWidth, &callback_.videoHeight);
    return true;
}

// Background, soft shadows, and a black box per cell that its frame covers.
bool CaptureRun::paintSheet() {
    if (!sheet_.create(layout_.sheetWidth, layout_.sheetHeight))
        return fail("Not enough memory for a sheet of " + std::to_string(layout_.sheetWidth) + "x" +
                    std::to_string(layout_.sheetHeight) + " pixels.");
    sheet_.fill(GetRValue(o_.backgroundColor), GetGValue(o_.backgroundColor),
                GetBValue(o_.backgroundColor));
    if (o_.shadowEnabled) {
        uint8_t r, g, b;
        shadowColor(o_, r, g, b);
        for (int64_t k = 0; k < layout_.cells; ++k) {
            const CellRect s = layout_.shadowOf(layout_.cellAt(k));
            sheet_.fillRect(s.x, s.y, s.width, s.height, r, g, b);
        }
        sheet_.boxBlur(3, in_.stop);
    }
    // Painting a large sheet takes a while; what it painted for a stopped
    // run is not wanted.
    if (cancelled())
        return fail(kCancelledText);
    for (int64_t k = 0; k < layout_.cells; ++k) {
        const CellRect c = layout_.cellAt(k);
        sheet_.fillRect(c.x, c.y, c.width, c.height, 0, 0, 0);
    }
    callback_.sheet = &sheet_;
    callback_.layout = &layout_;
    callback_.options = &o_;
    callback_.progress = &progress_;
    callback_.delivered = 0;
    progress_.sheetPainted(sheet_);
    return true;
}

bool CaptureRun::finishGraph() {
    using namespace media;
    Pin* grabberOut = outputPin(*grabber_, 0);
    Result hr = grabberOut ? graph_->render(*grabberOut) : E_FAIL;
    if (failed(hr))
        return failWith(hr, kHintRender);
    hr = grabber_->setBufferSamples(false);
    if (failed(hr))
        return failWith(hr);
    hr = grabber_->setOneShot(true);
    if (failed(hr)) {
        result_.code = 10;
        return false;
    }
    hr = grabber_->setCallback(&callback_, 1);
    if (failed(hr))
        return failWith(hr);
    return true;
}

// The moments: evenly spaced, never the very start nor the end.
bool CaptureRun::grabFrames() {
    using namespace media;
    std::vector<int64_t> positions;
    std::string error;
    if (!captureMoments(in_.facts.duration, layout_.cells, in_.choice, positions, error))
        return fail(error);
    const bool avoidBlank = in_.choice.avoidBlank;
    const int64_t halfStep = momentStep(in_.facts.duration, layout_.cells, in_.choice) / 2;
    graph_->setKeyFrameTolerance(in_.choice.keyFrames ? halfStep : -1);
    graph_->announcePositions(positions);
    for (size_t i = 0; i < positions.size(); ++i) {
        if (cancelled())
            return fail(kCancelledText);
        callback_.cell = static_cast<int32_t>(i);
        callback_.skipUniform = avoidBlank;
        callback_.judged = {};
        callback_.latestSeconds = std::numeric_limits<double>::infinity();
        const int32_t before = callback_.delivered;
        if (!grabAt(positions[i]))
            return false;
        if (callback_.delivered == before) {
            result_.missingMoments.push_back(positions[i]);
        } else if (avoidBlank && callback_.cell == static_cast<int32_t>(i) &&
                   callback_.judged.arrived && callback_.judged.uniform) {
            if (!lookPastBlank(positions[i], positions[i] + halfStep))
                return false;
            // The detour dropped what the graph had planned ahead.
            if (i + 1 < positions.size())
                graph_->announcePositions(std::vector<int64_t>(
                    positions.begin() + static_cast<std::ptrdiff_t>(i) + 1, positions.end()));
        }
        progress_.momentDone(static_cast<int>(i), sheet_);
    }
    result_.decoderErrors = graph_->decoderErrors();
    // No decoding may touch the sheet from here on.
    graph_.reset();
    if (cancelled())
        return fail(kCancelledText);
    // A sheet of black boxes tells nothing: say so rather than write it.
    if (!positions.empty() && result_.missingMoments.size() == positions.size())
        return fail("No picture could be decoded from " + fileNameOf(in_.moviePath) + ".");
    return true;
}

// One seek, run and wait: the callback has the frame at or after the position.
bool CaptureRun::grabAt(int64_t position) {
    using namespace media;
    Result hr = graph_->setPositions(position);
    if (failed(hr))
        return failWith(hr, kHintRender);
    hr = graph_->run();
    if (failed(hr))
        return failWith(hr);
    int32_t eventCode = 0;
    hr = graph_->waitForCompletion(-1, &eventCode);
    if (failed(hr))
        return failWith(hr);
    return true;
}

// The moment's frame is nearly uniform: the cell gets the first frame after
// it, up to half a step past the moment, that is not, or else the moment's own
// frame. Frames are found by seeking, each from its key frame, so a long
// stretch is first sampled at 16 points and only the gap before the first
// sample with a picture is searched frame by frame; a flash shorter than a
// sample's distance inside a long blank stretch may go unseen.
bool CaptureRun::lookPastBlank(int64_t moment, int64_t latest) {
    constexpr int kSamples = 16;
    constexpr double kFramesWorthSampling = 24;
    const int32_t k = callback_.cell;
    const double limit = static_cast<double>(latest) / 1e7;
    callback_.latestSeconds = limit;
    const double frameTime =
        in_.facts.averageFps > 0 ? 1.0 / static_cast<double>(in_.facts.averageFps) : 0.04;
    double blankUntil = callback_.judged.seconds;
    auto units = [](double seconds) { return static_cast<int64_t>(std::llround(seconds * 1e7)); };

    bool pictureAhead = true;
    if ((limit - blankUntil) / frameTime > kFramesWorthSampling) {
        pictureAhead = false;
        const double from = blankUntil;
        const double gap = (limit - from) / kSamples;
        callback_.judgeOnly = true;
        for (int n = 1; n <= kSamples && !pictureAhead; ++n) {
            if (cancelled())
                return fail(kCancelledText);
            callback_.judged = {};
            if (!grabAt(std::max(moment, units(from + n * gap))))
                return false;
            const auto& seen = callback_.judged;
            if (!seen.arrived || seen.seconds > limit)
                break;
            if (seen.uniform)
                blankUntil = std::max(blankUntil, seen.seconds);
            else
                pictureAhead = true;
        }
        callback_.judgeOnly = false;
    }
    // Frame by frame from the last blank frame seen: the callback draws the
    // first one that is neither uniform nor too late.
    while (pictureAhead && callback_.cell == k) {
        if (cancelled())
            return fail(kCancelledText);
        callback_.judged = {};
        // Just past the frame's own time: the next frame is the first at or
        // after it.
        if (!grabAt(units(blankUntil) + 1))
            return false;
        const auto& seen = callback_.judged;
        if (callback_.cell != k || !seen.arrived || seen.seconds <= blankUntil ||
            seen.seconds > limit)
            break;
        blankUntil = seen.seconds;
    }
    callback_.drawHeldBack();
    return true;
}

// Without an outline, whatever the stamps have: the block sits on the
// background, not on a picture, so one plain colour that contrasts with the
// background is enough.
void CaptureRun::drawInformation() {
    if (!o_.headerEnabled)
        return;
    RECT r{layout_.headerX, layout_.headerY, layout_.headerX + layout_.textWidth,
           layout_.headerY + layout_.textHeight};
    const COLORREF color = in_.informationColor == InformationColor::ByBackground
                               ? readableTextColor(o_.backgroundColor)
                               : RGB(0, 0, 0);
    sheet_.drawText(in_.infoText, r, DT_EXPANDTABS, false, o_.font, color);
}

// JPEG for .jpg and .jpeg, PNG for .png, BMP for anything else.
void CaptureRun::writeSheet() {
    const std::string ext =
        out_.format.empty() ? lowerExtension(in_.targetPath) : "." + out_.format;
    const auto mode =
        out_.replaceTarget ? RasterImage::WriteMode::Replace : RasterImage::WriteMode::CreateNew;
    std::string error;
    bool written = false;
    // A stop while the sheet is written leaves the target as it was.
    if (ext == ".jpg" || ext == ".jpeg")
        written = sheet_.saveJpeg(in_.targetPath, o_.jpegQuality, o_.jpegProgressive != 0, &error,
                                  mode, in_.stop);
    else if (ext == ".png")
        written = sheet_.savePng(in_.targetPath, &error, mode, in_.stop);
    else
        written = sheet_.saveBmp(in_.targetPath, &error, mode, in_.stop);
    if (!written)
        fail(error.empty() ? "Cannot write " + in_.targetPath : error);
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
            text += (i ? ", " : "") + momentText(result.missingMoments[i]);
    }
    return text;
}

COLORREF readableTextColor(COLORREF background) {
    const double luminance = 0.2126 * linearLight(GetRValue(background)) +
                             0.7152 * linearLight(GetGValue(background)) +
                             0.0722 * linearLight(GetBValue(background));
    // Contrast with black is (L + 0.05) / 0.05, with white 1.05 / (L + 0.05);
    // they are equal at L = sqrt(1.05 * 0.05) - 0.05, about 0.179.
    const double equalContrast = std::sqrt(1.05 * 0.05) - 0.05;
    return luminance > equalContrast ? RGB(0, 0, 0) : RGB(255, 255, 255);
}

CaptureResult captureSheet(const CaptureInput& input, const Options& options,
                           CaptureProgress& progress) {
    return captureSheet(input, options, progress, SheetOutput{});
}

CaptureResult captureSheet(const CaptureInput& input, const Options& options,
                           CaptureProgress& progress, const SheetOutput& output) {
    return CaptureRun(input, options, progress, output).run();
}
