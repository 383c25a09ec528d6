#include "app/capture_job.h"

#include <algorithm>

// The capture's reports, turned into the window messages and handed to the
// watcher.
class CaptureJob::Progress : public CaptureProgress {
public:
    Progress(CaptureJob& job, int moments) : job_(job), moments_(moments) {}
    bool cancelled() override { return job_.cancelled_.load(); }
    void sheetPainted(const RasterImage& sheet) override {
        if (job_.watcher_)
            job_.watcher_->sheetPainted(sheet);
    }
    void frameArrived(int moment, const MediaTime& time, const RasterImage& frame) override {
        if (job_.watcher_)
            job_.watcher_->frameArrived(moment, time, frame);
    }
    void momentDone(int moment, const RasterImage& sheet) override {
        // The picture first: by the time the step is shown, the cell it
        // counts is on its way too.
        if (job_.watcher_)
            job_.watcher_->momentDone(moment, moments_, sheet);
        job_.post(ui::WM_CAPTURE_STEP, 0, 0);
    }

private:
    CaptureJob& job_;
    int moments_;
};

CaptureJob::~CaptureJob() {
    cancel();
    wait();
}

void CaptureJob::post(uint32_t message, intptr_t wParam, intptr_t lParam) {
    ui::postMessage(notifyWindow_.load(), message, wParam, lParam);
}

void CaptureJob::wait() {
    if (worker_.joinable())
        worker_.join();
}

bool CaptureJob::acceptMovie(const std::string& path) {
    if (path.empty() || busy())
        return false;
    wait();
    probedPath_ = path;
    probeTaken_ = false;
    cancelled_.store(false);
    running_.store(true);
    worker_ = std::thread([this, path] {
        probed_ = MovieProbe::probe(path, &cancelled_);
        // The job is free again before the message that says so, so the
        // receiver may start the next worker as soon as it reads it.
        running_.store(false);
        post(ui::WM_PROBE_DONE, probed_.ok() ? 0 : -1, 0);
    });
    return true;
}

bool CaptureJob::startCapture(const std::string& target, const Options& settings,
                              const FrameChoice& choice, InformationColor informationColor) {
    if (busy())
        return false;
    wait();
    input_.moviePath = moviePath_;
    input_.facts = movie_.facts;
    input_.movie = movie_.movie;
    input_.infoText = movie_.infoText;
    input_.targetPath = target;
    input_.choice = choice;
    input_.informationColor = informationColor;
    input_.stop = &cancelled_;
    input_.kept = !kept_.empty() && keptPath_ == moviePath_ ? &kept_ : nullptr;
    snapshot_ = settings;
    cancelled_.store(false);
    const int64_t frames = static_cast<int64_t>(snapshot_.rows) * snapshot_.columns;
    // Set before the message that makes the receiver read it.
    captureFrames_ = std::max<int64_t>(frames, 0);
    if (watcher_)
        watcher_->captureStarting(input_, snapshot_);
    post(ui::WM_CAPTURE_BEGIN, 0, 0);
    running_.store(true);
    const int moments = frames > 0 && frames <= INT32_MAX ? static_cast<int>(frames) : 0;
    worker_ = std::thread([this, moments] {
        Progress progress(*this, moments);
        capture_ = captureSheet(input_, snapshot_, progress);
        running_.store(false);
        post(ui::WM_CAPTURE_DONE, capture_.ok() ? 0 : -1, 0);
    });
    return true;
}

const ProbeResult& CaptureJob::finishProbe() {
    wait();
    if (!probedPath_.empty()) {
        // Only the file's contents say whether it is a movie: a name can
        // promise video that is not there, or hide video that is.
        probeTaken_ = probed_.ok() && probed_.facts.usable();
        if (probeTaken_) {
            moviePath_ = probedPath_;
            movie_ = probed_;
            // A movie taken again may have changed on disk.
            kept_.clear();
            keptPath_.clear();
        }
        probedPath_.clear();
    }
    return probed_;
}

const CaptureResult& CaptureJob::finishCapture() {
    wait();
    // Used once: the capture's own cells are the ones at hand now.
    kept_.clear();
    keptPath_.clear();
    input_.kept = nullptr;
    return capture_;
}
