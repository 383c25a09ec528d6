#pragma once
// The record a front end shares with its two workers, and the capture itself.
//
// A front end owns one CaptureJob. `acceptMovie` starts the probe (which fills
// the movie's facts and `infoText`) and `startCapture` the capture, each on
// the job's one worker thread; the worker reports through `notifyWindow`
// (WM_PROBE_DONE, WM_CAPTURE_BEGIN/STEP/DONE) and the front end reads
// `infoText` or `errorText` only after the matching DONE message. Only one
// worker runs at a time: while one runs, `acceptMovie` and `startCapture`
// refuse. The destructor cancels a running capture and waits for the worker,
// so the record outlives every thread that uses it.
//
// A capture works on a copy of the settings taken when it starts; the live
// record may change meanwhile without affecting it.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "platform/ui/message_sink.h"
#include "settings/options.h"

struct CaptureJob {
    // The open dialog's filter. The description doubles as the list of
    // accepted extensions: an extension is accepted when it occurs in it.
    static constexpr const char* kMovieFilterDescription =
        "Movie Files (.avi, .qt, .mov, .mpg, .mpeg, .m1v, .dat, .rm, .rmvb .wmv)";
    static constexpr const char* kMovieFilterPatterns =
        "*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v; *.dat; *.rm; *.rmvb; *.wmv;";

    CaptureJob() = default;
    CaptureJob(const CaptureJob&) = delete;
    CaptureJob& operator=(const CaptureJob&) = delete;
    ~CaptureJob();

    // The extension of the last path component, from its last dot (empty
    // when there is none), lower-cased (A-Z only), found in the filter text.
    static bool hasMovieExtension(std::string_view path);

    // Refused (false, nothing changed) when the extension test fails or a
    // worker runs; otherwise stores the path as given and starts the probe.
    bool acceptMovie(const std::string& path);
    // Stores the target, takes a copy of *g_options, posts WM_CAPTURE_BEGIN
    // and starts the capture. Returns 0; -1 without posting anything when a
    // worker runs.
    int startCapture(const std::string& target);

    // The whole capture on the calling thread with the given settings:
    // 0 success, -1 failure (`errorText` says why), 10 when the grabber
    // refused one-shot mode. Posts WM_CAPTURE_STEP per moment, not DONE.
    int run(const Options& options);

    bool busy() const { return running_.load(); }
    // Asks a running capture to stop before its next moment; it then fails
    // with "The capture was cancelled." and writes nothing.
    void cancel() { cancelled_.store(true); }
    // Waits for the worker, if any.
    void wait();

    std::string moviePath;
    std::string targetPath;
    std::string errorText;
    std::string infoText;
    ui::MessageSink* notifyWindow = nullptr;
    int64_t duration = 0; // 100-ns units
    int32_t videoWidth = 0;
    int32_t videoHeight = 0;
    float averageFps = 0;

    // The capture thread's body: run on the copy of the settings, hand the
    // record back, post WM_CAPTURE_DONE with the result.
    static int threadProc(CaptureJob* job);

private:
    int fail(const std::string& text);

    std::thread worker_;
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelled_{false};
    Options snapshot_ = Options::defaults();
};

struct MovieProbe {
    // Fills the job's facts and `infoText` from `moviePath`, then posts
    // WM_PROBE_DONE. 0 on success; -1 when the movie cannot be read (the
    // facts are then cleared and `infoText` names the file and the reason).
    static int run(CaptureJob* job);
    // The same without the message.
    static int probe(CaptureJob* job);
    // The four-line information text.
    static std::string formatInfo(const std::string& moviePath, float averageFps, int width,
                                  int height, int64_t duration);
};
