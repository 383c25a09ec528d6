#include "capture/capture_job.h"

#include <cstring>

#include "capture/file_names.h"

// The capture's reports, turned into the window messages.
class CaptureJob::Progress : public CaptureProgress {
public:
    explicit Progress(CaptureJob& job) : job_(job) {}
    bool cancelled() override { return job_.cancelled_.load(); }
    void momentDone(int, const RasterImage&) override { job_.post(ui::WM_CAPTURE_STEP, 0, 0); }

private:
    CaptureJob& job_;
};

CaptureJob::~CaptureJob() {
    cancel();
    wait();
}

bool CaptureJob::hasMovieExtension(std::string_view path) {
    return std::strstr(kMovieFilterDescription, lowerExtension(path).c_str()) != nullptr;
}

void CaptureJob::post(uint32_t message, intptr_t wParam, intptr_t lParam) {
    ui::postMessage(notifyWindow_.load(), message, wParam, lParam);
}

void CaptureJob::wait() {
    if (worker_.joinable())
        worker_.join();
}

bool CaptureJob::acceptMovie(const std::string& path) {
    if (!hasMovieExtension(path) || busy())
        return false;
    wait();
    moviePath_ = path;
    input_.moviePath = path;
    running_.store(true);
    worker_ = std::thread([this, path] {
        probe_ = MovieProbe::probe(path);
        // The job is free again before the message that says so, so the
        // receiver may start the next worker as soon as it reads it.
        running_.store(false);
        post(ui::WM_PROBE_DONE, probe_.code, 0);
    });
    return true;
}

bool CaptureJob::startCapture(const std::string& target) {
    if (busy())
        return false;
    wait();
    input_.moviePath = moviePath_;
    input_.facts = probe_.facts;
    input_.infoText = probe_.infoText;
    input_.targetPath = target;
    snapshot_ = g_options ? *g_options : Options::defaults();
    cancelled_.store(false);
    const int64_t frames = static_cast<int64_t>(snapshot_.rows) * snapshot_.columns;
    post(ui::WM_CAPTURE_BEGIN, 0, static_cast<intptr_t>((frames & 0xFFFF) << 16));
    running_.store(true);
    worker_ = std::thread([this] {
        Progress progress(*this);
        capture_ = captureSheet(input_, snapshot_, progress);
        running_.store(false);
        post(ui::WM_CAPTURE_DONE, capture_.code, 0);
    });
    return true;
}

const ProbeResult& CaptureJob::finishProbe() {
    wait();
    return probe_;
}

const CaptureResult& CaptureJob::finishCapture() {
    wait();
    return capture_;
}
