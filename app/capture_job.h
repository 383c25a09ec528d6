#pragma once
// The desktop program's worker: one movie probe or one capture at a time on a
// thread the job owns, reported with the four window messages.
//
// The main dialog owns one CaptureJob. `acceptMovie` starts a probe of the movie,
// `startCapture` a capture of the current movie; each runs on the job's
// worker thread, which posts WM_PROBE_DONE or WM_CAPTURE_BEGIN/STEP/DONE to
// the sink given at construction. The work itself is `MovieProbe::probe` and
// `captureSheet`; the job only carries their inputs to the thread and their
// results back. A `SheetWatcher`, when one is set, sees the sheet as it grows,
// on the capture thread, beside the STEP messages.
//
// Results cross threads only through the join: the worker's last act is its
// DONE message, and `finishProbe` / `finishCapture`, called by the front end
// when that message arrives, join the worker and hand over what it produced.
// While a worker runs, `acceptMovie` and `startCapture` refuse. The
// destructor cancels a running probe or capture and waits for the worker, so
// no thread outlives the job.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/message_sink.h"
#include "capture/capture.h"
#include "capture/movie_probe.h"
#include "settings/options.h"

// Sees the sheet of a running capture, on the capture thread. The sheet is
// valid during the call only and must not be kept; whatever the watcher
// does here delays the capture, so it should copy what it needs and return.
class SheetWatcher {
public:
    virtual ~SheetWatcher() = default;
    // On the user thread, before the capture's thread starts: what the
    // capture is about to make, from what.
    virtual void captureStarting(const CaptureInput& input, const Options& settings) {
        (void)input;
        (void)settings;
    }
    // Background, shadows and the empty cells are painted.
    virtual void sheetPainted(const RasterImage& sheet) = 0;
    // The moment-th cell's frame, at the cell's size, with its exact time,
    // just before it is drawn.
    virtual void frameArrived(int moment, const MediaTime& time, const RasterImage& frame) {
        (void)moment;
        (void)time;
        (void)frame;
    }
    // The moment-th of `moments` frames is in its cell (or the wait for it
    // ended without one).
    virtual void momentDone(int moment, int moments, const RasterImage& sheet) = 0;
};

class CaptureJob {
public:
    explicit CaptureJob(ui::MessageSink* notifyWindow = nullptr) : notifyWindow_(notifyWindow) {}
    CaptureJob(const CaptureJob&) = delete;
    CaptureJob& operator=(const CaptureJob&) = delete;
    ~CaptureJob();

    // Starts a probe of `path` (kept as given). The file becomes the current
    // movie when the probe finds moving pictures in it (a usable probe),
    // whatever its name: a movie called clip.bin is taken, a text file called
    // notes.avi is not. Until then, and when it is not taken, the current
    // movie stays what it was. False, with nothing started, when a worker
    // runs or the path is empty.
    bool acceptMovie(const std::string& path);
    // Takes a copy of `settings` (the live record stays the caller's to
    // change while the capture runs), posts WM_CAPTURE_BEGIN and starts the
    // capture of the current movie into `target`. False, without posting
    // anything, when a worker runs.
    bool startCapture(const std::string& target, const Options& settings,
                      const FrameChoice& choice = {},
                      InformationColor informationColor = InformationColor::Black);

    // For the WM_CAPTURE_BEGIN handler: how many frames the sheet of the
    // capture started last holds (rows × columns of its settings, 0 for
    // none), so the count never has to fit into the message. Written by `startCapture` on
    // the user thread before it posts BEGIN, so the handler, on the same
    // thread, reads the count of the capture that message announced.
    int64_t captureFrames() const { return captureFrames_; }

    // For the WM_PROBE_DONE and WM_CAPTURE_DONE handlers: wait for the
    // worker (it has posted its last message, so this is short) and return
    // what it produced. `finishProbe` returns the probe just finished, which
    // may be of a file that was not taken; `probeTaken` says whether it was.
    const ProbeResult& finishProbe();
    bool probeTaken() const { return probeTaken_; }
    const CaptureResult& finishCapture();

    bool busy() const { return running_.load(); }
    // Stops a running probe or capture where it stands, within the reading
    // or decoding of a packet: a capture then fails with kCancelledText and
    // writes nothing, a probe with kProbeCancelledText. Either still posts
    // its DONE message.
    void cancel() { cancelled_.store(true); }
    bool cancelRequested() const { return cancelled_.load(); }
    // Waits for the worker, if any.
    void wait();
    // Stops posting: what the worker still reports goes nowhere. For a
    // receiver that is going away; call `cancel` and `wait` after it.
    void detach() { notifyWindow_.store(nullptr); }
    // Set only while no worker runs; null for none.
    void setSheetWatcher(SheetWatcher* watcher) {
        if (!busy())
            watcher_ = watcher;
    }

    // The current movie (empty before the first); the user thread's own
    // copy, never written by the worker.
    const std::string& moviePath() const { return moviePath_; }
    // The current movie's probe: its facts and information text.
    const ProbeResult& movie() const { return movie_; }
    // A current movie whose probe found what a capture needs.
    bool movieReady() const { return !moviePath_.empty() && movie_.ok() && movie_.facts.usable(); }

    // Frames of the current movie at hand (from a sheet the window had to
    // let go): the next capture of that movie takes those whose moments and
    // cell size it shares instead of decoding them again. Forgotten when
    // another movie is taken; ignored while a worker runs.
    void keepFrames(std::vector<KeptFrame> frames) {
        if (!busy()) {
            kept_ = std::move(frames);
            keptPath_ = moviePath_;
        }
    }

private:
    class Progress;
    void post(uint32_t message, intptr_t wParam, intptr_t lParam);

    std::atomic<ui::MessageSink*> notifyWindow_;
    SheetWatcher* watcher_ = nullptr;
    std::string moviePath_;
    ProbeResult movie_;
    // The probe in flight: its path and (written by the worker, read after
    // the join only) its result.
    std::string probedPath_;
    bool probeTaken_ = false;
    ProbeResult probed_;
    CaptureResult capture_;
    int64_t captureFrames_ = 0;
    // Read by the worker, written only while none runs.
    CaptureInput input_;
    std::vector<KeptFrame> kept_;
    std::string keptPath_;
    Options snapshot_ = Options::defaults();

    std::thread worker_;
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelled_{false};
};
