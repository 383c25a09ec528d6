#pragma once
// The desktop program's worker: one movie probe or one capture at a time on a
// thread the job owns, reported with the four window messages.
//
// A front end owns one CaptureJob. `acceptMovie` starts a probe of the movie,
// `startCapture` a capture of the last probed movie; each runs on the job's
// worker thread, which posts WM_PROBE_DONE or WM_CAPTURE_BEGIN/STEP/DONE to
// the sink given at construction. The work itself is `MovieProbe::probe` and
// `captureSheet`; the job only carries their inputs to the thread and their
// results back.
//
// Results cross threads only through the join: the worker's last act is its
// DONE message, and `finishProbe` / `finishCapture`, called by the front end
// when that message arrives, join the worker and hand over what it produced.
// While a worker runs, `acceptMovie` and `startCapture` refuse. The
// destructor cancels a running capture and waits for the worker, so no
// thread outlives the job.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "capture/capture.h"
#include "capture/movie_probe.h"
#include "platform/ui/message_sink.h"
#include "settings/options.h"

class CaptureJob {
public:
    // The open dialog's filter. The description doubles as the list of
    // accepted extensions: an extension is accepted when it occurs in it.
    static constexpr const char* kMovieFilterDescription =
        "Movie Files (.avi, .qt, .mov, .mpg, .mpeg, .m1v, .dat, .rm, .rmvb .wmv)";
    static constexpr const char* kMovieFilterPatterns =
        "*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v; *.dat; *.rm; *.rmvb; *.wmv;";

    explicit CaptureJob(ui::MessageSink* notifyWindow = nullptr) : notifyWindow_(notifyWindow) {}
    CaptureJob(const CaptureJob&) = delete;
    CaptureJob& operator=(const CaptureJob&) = delete;
    ~CaptureJob();

    // The extension of the last path component, from its last dot (empty
    // when there is none), lower-cased (A-Z only), found in the filter text.
    static bool hasMovieExtension(std::string_view path);

    // Refused (false, nothing changed) when the extension test fails or a
    // worker runs; otherwise keeps the path as given and starts the probe.
    bool acceptMovie(const std::string& path);
    // Takes a copy of *g_options (the defaults when there is none), posts
    // WM_CAPTURE_BEGIN and starts the capture into `target`. False, without
    // posting anything, when a worker runs.
    bool startCapture(const std::string& target);

    // For the WM_PROBE_DONE and WM_CAPTURE_DONE handlers: wait for the
    // worker (it has posted its last message, so this is short) and return
    // what it produced.
    const ProbeResult& finishProbe();
    const CaptureResult& finishCapture();

    bool busy() const { return running_.load(); }
    // Asks a running capture to stop before its next moment; it then fails
    // with kCancelledText and writes nothing.
    void cancel() { cancelled_.store(true); }
    // Waits for the worker, if any.
    void wait();
    // Stops posting: what the worker still reports goes nowhere. For a
    // receiver that is going away; call `cancel` and `wait` after it.
    void detach() { notifyWindow_.store(nullptr); }

    // The movie last accepted (empty before the first); the user thread's
    // own copy, never written by the worker.
    const std::string& moviePath() const { return moviePath_; }

private:
    class Progress;
    void post(uint32_t message, intptr_t wParam, intptr_t lParam);

    std::atomic<ui::MessageSink*> notifyWindow_;
    std::string moviePath_;
    // Written by the worker, read after the join only.
    ProbeResult probe_;
    CaptureResult capture_;
    // Read by the worker, written only while none runs.
    CaptureInput input_;
    Options snapshot_ = Options::defaults();

    std::thread worker_;
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelled_{false};
};
