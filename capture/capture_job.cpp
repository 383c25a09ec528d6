#include "capture/capture_job.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "capture/grabber_callback.h"
#include "capture/layout.h"
#include "platform/media/graph.h"
#include "render/raster_image.h"

namespace {

// Hint lines appended to some failures; their wording is long established.
constexpr const char* kHintDirectX = "\nInstall DirectX 9.0c if you dont have!";
constexpr const char* kHintConnect = "\nTry installing ffdshow!";
constexpr const char* kHintRender = "\nTry Installing ffdshow!";

std::string lowerExtension(std::string_view path) {
    size_t slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos)
        return {};
    std::string ext(name.substr(dot));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

enum class SheetFormat { Bmp, Jpeg, Png };

SheetFormat formatFor(const std::string& target) {
    std::string ext = lowerExtension(target);
    if (ext == ".jpg" || ext == ".jpeg")
        return SheetFormat::Jpeg;
    if (ext == ".png")
        return SheetFormat::Png;
    return SheetFormat::Bmp;
}

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

} // namespace

CaptureJob::~CaptureJob() {
    cancel();
    wait();
}

bool CaptureJob::hasMovieExtension(std::string_view path) {
    return std::strstr(kMovieFilterDescription, lowerExtension(path).c_str()) != nullptr;
}

void CaptureJob::wait() {
    if (worker_.joinable())
        worker_.join();
}

bool CaptureJob::acceptMovie(const std::string& path) {
    if (!hasMovieExtension(path) || busy())
        return false;
    wait();
    moviePath = path;
    running_.store(true);
    worker_ = std::thread([this] {
        int result = MovieProbe::probe(this);
        // The record is handed back before the message that says so, so
        // the receiver may start the next worker as soon as it reads it.
        running_.store(false);
        ui::postMessage(notifyWindow, ui::WM_PROBE_DONE, result, 0);
    });
    return true;
}

int CaptureJob::startCapture(const std::string& target) {
    if (busy())
        return -1;
    wait();
    targetPath = target;
    snapshot_ = g_options ? *g_options : Options::defaults();
    cancelled_.store(false);
    const int64_t frames = static_cast<int64_t>(snapshot_.rows) * snapshot_.columns;
    ui::postMessage(notifyWindow, ui::WM_CAPTURE_BEGIN, 0,
                    static_cast<intptr_t>((frames & 0xFFFF) << 16));
    running_.store(true);
    worker_ = std::thread([this] { threadProc(this); });
    return 0;
}

int CaptureJob::threadProc(CaptureJob* job) {
    int result = job->run(job->snapshot_);
    job->running_.store(false);
    ui::postMessage(job->notifyWindow, ui::WM_CAPTURE_DONE, result, 0);
    return result;
}

int CaptureJob::fail(const std::string& text) {
    errorText = text;
    return -1;
}

int CaptureJob::run(const Options& o) {
    using namespace media;

    // Refuse what cannot make a sheet before anything is built.
    if (moviePath.empty())
        return fail("No movie has been opened.");
    if (videoWidth <= 0 || videoHeight <= 0 || duration < 0)
        return fail("The movie " + moviePath +
                    " has not been read successfully (its size or length is unknown); "
                    "open it again.");

    int textW = 0;
    int textH = 0;
    if (o.headerEnabled) {
        RasterImage scratch;
        scratch.create(0, 0);
        RECT r{0, 0, 0, 0};
        scratch.drawText(infoText, r, DT_CALCRECT | DT_EXPANDTABS, true, o.font, o.textColor);
        textW = r.right - r.left;
        textH = r.bottom - r.top;
    }
    SheetLayout layout;
    std::string layoutError;
    if (!computeLayout(o, videoWidth, videoHeight, textW, textH, layout, layoutError))
        return fail(layoutError);

    // The media graph: a source for the movie, connected to a grabber that
    // accepts RGB24 frames.
    std::unique_ptr<FilterGraph> graph;
    Result hr = FilterGraph::create(&graph);
    if (failed(hr))
        return fail(media::errorText(hr) + kHintDirectX);
    std::unique_ptr<SourceFilter> asfReader;
    hr = SourceFilter::create(SourceRole::AsfReader, &asfReader);
    if (failed(hr))
        return fail(media::errorText(hr) + kHintDirectX);
    hr = asfReader->load(moviePath);
    if (failed(hr))
        return fail(media::errorText(hr));

    std::unique_ptr<SourceFilter> asyncReader;
    Filter* source = asfReader.get();
    const Result hr4 = graph->addFilter(*asfReader, "SourceWMV");
    if (failed(hr4)) {
        // Not an ASF file: any other format goes through the general reader.
        hr = SourceFilter::create(SourceRole::AsyncReader, &asyncReader);
        if (failed(hr))
            return fail(media::errorText(hr4) + kHintDirectX);
        hr = asyncReader->load(moviePath);
        if (failed(hr))
            return fail(media::errorText(hr));
        hr = graph->addFilter(*asyncReader, "Source");
        if (failed(hr))
            return fail(media::errorText(hr));
        source = asyncReader.get();
    }

    std::unique_ptr<SampleGrabber> grabber;
    hr = SampleGrabber::create(&grabber);
    if (failed(hr))
        return fail("Install DirectX 9.0c if you dont have!");
    hr = graph->addFilter(*grabber, "Grabber");
    if (failed(hr))
        return fail(media::errorText(hr));
    grabber->setMediaType(MediaType{MajorType::Video, SubType::RGB24});
    Pin* sourcePin = videoPin(*source);
    Pin* grabberIn = inputPin(*grabber, 0);
    if (!sourcePin)
        return fail(media::errorText(E_NO_VIDEO_STREAM) + kHintConnect);
    hr = grabberIn ? graph->connect(*sourcePin, *grabberIn) : E_FAIL;
    if (failed(hr))
        return fail(media::errorText(hr) + kHintConnect);

    GrabberCallback callback;
    callback.options = &o;
    grabber->getConnectedSize(&callback.videoWidth, &callback.videoHeight);

    // The sheet: background, soft shadows, a black box per cell.
    RasterImage sheet;
    if (!sheet.create(layout.sheetWidth, layout.sheetHeight))
        return fail("Not enough memory for a sheet of " + std::to_string(layout.sheetWidth) + "x" +
                    std::to_string(layout.sheetHeight) + " pixels.");
    sheet.fill(GetRValue(o.backgroundColor), GetGValue(o.backgroundColor),
               GetBValue(o.backgroundColor));
    if (o.shadowEnabled) {
        uint8_t r, g, b;
        shadowColor(o, r, g, b);
        for (int row = 0; row < o.rows; ++row)
            for (int col = 0; col < o.columns; ++col)
                sheet.fillRect(
                    truncToInt((o.spacingX + static_cast<double>(layout.thumbWidth)) * col +
                               o.shadowOffsetX + o.spacingX),
                    truncToInt((o.spacingY + static_cast<double>(layout.thumbHeight)) * row +
                               o.shadowOffsetY + o.spacingY + layout.top),
                    layout.cellWidth(), layout.cellHeight(), r, g, b);
        sheet.boxBlur(3);
    }
    for (int row = 0; row < o.rows; ++row)
        for (int col = 0; col < o.columns; ++col)
            sheet.fillRect(layout.cellX(col, o), layout.cellY(row, o), layout.cellWidth(),
                           layout.cellHeight(), 0, 0, 0);
    callback.sheet = &sheet;
    callback.gridTop = layout.top;
    callback.thumbWidth = layout.thumbWidth;
    callback.thumbHeight = layout.thumbHeight;
    callback.delivered = 0;

    Pin* grabberOut = outputPin(*grabber, 0);
    hr = grabberOut ? graph->render(*grabberOut) : E_FAIL;
    if (failed(hr))
        return fail(media::errorText(hr) + kHintRender);
    hr = grabber->setBufferSamples(false);
    if (failed(hr))
        return fail(media::errorText(hr));
    hr = grabber->setOneShot(true);
    if (failed(hr))
        return 10;
    hr = grabber->setCallback(&callback, 1);
    if (failed(hr))
        return fail(media::errorText(hr));

    // The moments: evenly spaced, never the very start nor the end.
    const std::vector<int64_t> positions = capturePositions(duration, layout.cells);
    graph->announcePositions(positions);

    for (size_t i = 0; i < positions.size(); ++i) {
        if (cancelled_.load())
            return fail("The capture was cancelled.");
        callback.cell = static_cast<int32_t>(i);
        hr = graph->setPositions(positions[i]);
        if (failed(hr))
            return fail(media::errorText(hr) + kHintRender);
        hr = graph->run();
        if (failed(hr))
            return fail(media::errorText(hr));
        int32_t eventCode = 0;
        hr = graph->waitForCompletion(-1, &eventCode);
        if (failed(hr))
            return fail(media::errorText(hr));
        ui::postMessage(notifyWindow, ui::WM_CAPTURE_STEP, 0, 0);
    }
    // No decoding may touch the sheet from here on.
    graph.reset();
    if (cancelled_.load())
        return fail("The capture was cancelled.");

    if (o.headerEnabled) {
        RECT r{layout.headerX, layout.headerY, layout.headerX + layout.textWidth,
               layout.headerY + layout.textHeight};
        sheet.drawText(infoText, r, DT_EXPANDTABS, false, o.font, RGB(0, 0, 0));
    }

    std::string writeError;
    bool written = false;
    switch (formatFor(targetPath)) {
    case SheetFormat::Jpeg:
        written = sheet.saveJpeg(targetPath, o.jpegQuality, o.jpegProgressive != 0, &writeError);
        break;
    case SheetFormat::Png:
        written = sheet.savePng(targetPath, &writeError);
        break;
    case SheetFormat::Bmp:
        written = sheet.saveBmp(targetPath, &writeError);
        break;
    }
    if (!written)
        return fail(writeError.empty() ? "Cannot write " + targetPath : writeError);
    return 0;
}
