#pragma once
// One contact sheet from one movie, on the calling thread.
//
// `captureSheet` takes everything it needs as values — the movie, the facts
// its probe found, the information text, the target and a snapshot of the
// settings — and returns what happened as a value. It reports each moment and
// asks whether to go on through a `CaptureProgress` that the caller owns;
// nothing here posts window messages or touches a shared record, so any front
// end can run it on any thread.
//
// Ownership: the run owns its sheet for the duration of the call and uses the
// movie reader its input shares (opening one of its own when there is none).
// Nothing survives it but the written file.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/frame_choice.h"
#include "capture/movie_probe.h"
#include "capture/sheet_paint.h"
#include "platform/types/media_time.h"
#include "platform/types/result.h"
#include "render/raster_image.h"
#include "settings/options.h"

struct CaptureResult {
    // Success: the sheet was written. Otherwise it was not, and the failure
    // says why; a stopped run is of the cancelled kind.
    Result status;
    // A written sheet may still lack frames: the moments (100-ns units from
    // the movie's start, in order) whose cells are marked "no picture"
    // because none could be decoded for them, and how many packets or
    // frames the decoder refused on the way. A capture for which no moment
    // gave a picture fails instead and writes nothing.
    std::vector<int64_t> missingMoments;
    int decoderErrors = 0;
    // The data ends before the length the movie states (a download that
    // stopped, a broken tail): the moments were spread over the readable
    // length instead. Both lengths in 100-ns units.
    bool cutShort = false;
    int64_t readableDuration = 0;
    int64_t statedDuration = 0;
    // The cells were too small for even the smallest legible stamp, so the
    // stamps were left out.
    bool stampsLeftOut = false;

    bool ok() const { return status.ok(); }
    const std::string& errorText() const { return status.text(); }
    // A written sheet that does not show the whole movie in every cell.
    bool incomplete() const { return ok() && (cutShort || !missingMoments.empty()); }
};

// What an incomplete sheet lacks, in one line without the movie's name:
// "cut short, 00:00:00.84 of 00:01:00 can be read", "no picture at
// 00:01:40.00, 00:03:20.00" (moments to the hundredth, as their cells say), or both joined by "; ".
// Empty for a complete sheet.
std::string incompleteText(const CaptureResult& result);

// What a front end hears from a running capture, on the capture's thread.
class CaptureProgress {
public:
    virtual ~CaptureProgress() = default;
    // Asked before every moment and once more before the sheet is written:
    // true stops the run, which then fails and writes nothing.
    virtual bool cancelled() { return false; }
    // The sheet is painted (background, shadows, the empty cells) and the
    // frames are about to come. Valid during the call only.
    virtual void sheetPainted(const RasterImage& sheet) { (void)sheet; }
    // Whether `frameArrived` wants each frame at the size the movie is
    // shown at; otherwise it gets the frame at its cell's size.
    virtual bool wantsFullFrames() const { return false; }
    // The moment-th frame (from 0) arrived, with its exact time from the
    // movie's start, before it is drawn into its cell; valid during the call
    // only.
    virtual void frameArrived(int moment, const MediaTime& time, const RasterImage& frame) {
        (void)moment;
        (void)time;
        (void)frame;
    }
    // The wait for the moment-th frame has returned; `sheet` shows every
    // cell drawn so far and is valid during the call only.
    virtual void momentDone(int moment, const RasterImage& sheet) {
        (void)moment;
        (void)sheet;
    }
};

// Black when the background's relative luminance (sRGB) is above the point
// where black and white have equal contrast with it, white below.
Rgb readableTextColor(Rgb background);

// Moments another product of the same movie wants (scrub previews), served
// by the sheet's own request to the movie reader: the two lists are merged
// into one, so the decoding plan covers both and a stretch they share is
// decoded once. The sheet is the same as without them.
struct SharedMoments {
    std::vector<int64_t> moments; // 100-ns units from the movie's start, rising
    // The size each of their frames is wanted at.
    int width = 0;
    int height = 0;
    // Key-frame mode for these moments (how far a key frame may lie from
    // its moment), or -1 for exact frames. A key frame is decoded alone, so
    // there is nothing to share: when the sheet and these differ in it, the
    // two lists are asked for one after the other.
    int64_t keyFrameTolerance = -1;
    // Each moment's frame, in order, its `picture` at width × height (the
    // other pictures empty), or one not `found`. False stops the capture,
    // which then fails as cancelled.
    std::function<bool(size_t index, media::Frame&& frame)> deliver;
};

// A frame already at hand for one of a sheet's moments, its picture at the
// cell's size: a sheet made again with other settings (another grid of the
// same movie) takes these for the moments the two share, instead of asking
// the movie for them again.
struct KeptFrame {
    int64_t moment = 0; // 100-ns units from the movie's start
    media::Frame frame; // found, its time, `picture` at the cell's size
};

struct CaptureInput {
    std::string moviePath;
    MovieFacts facts;     // from a probe of the same movie
    std::string infoText; // drawn as the information block
    std::string targetPath;
    FrameChoice choice; // all off: the classic sheet
    InformationColor informationColor = InformationColor::Black;
    // Set by another thread to end the run at once: opening the movie and
    // the wait for a frame stop within a packet, where `cancelled` is only
    // asked between moments. The run then fails with kCancelledText and
    // writes nothing. Null: only `cancelled` stops the run.
    const std::atomic<bool>* stop = nullptr;
    // The movie as the probe opened it, so that it is opened once; null:
    // the capture opens it.
    std::shared_ptr<media::MovieReader> movie = nullptr;
    // More moments to read in the same pass; null: the sheet's alone.
    const SharedMoments* shared = nullptr;
    // Frames of this movie at hand, rising by moment; null: none. Taken only
    // where they are what the capture would find itself: exact frames (not
    // key frames, no blank frames looked past, whose choice depends on the
    // step), at the cells' size, without full-size frames wanted.
    const std::vector<KeptFrame>* kept = nullptr;
};

// How the finished sheet reaches its target.
struct SheetOutput {
    // False: the sheet is only ever created; a file at the target, also one
    // that appears while the sheet is made, is left alone and the run fails.
    bool replaceTarget = true;
    // "jpg", "png" or "bmp"; empty: chosen by the target's extension.
    std::string format;
};

constexpr const char* kCancelledText = "The capture was cancelled.";

// "hh:mm:ss" of a moment in 100-ns units, truncated to the second, as the
// information text writes durations: for telling a user which moments of a
// sheet have no picture.
std::string momentText(int64_t moment);

CaptureResult captureSheet(const CaptureInput& input, const Options& options,
                           CaptureProgress& progress);
CaptureResult captureSheet(const CaptureInput& input, const Options& options,
                           CaptureProgress& progress, const SheetOutput& output);
