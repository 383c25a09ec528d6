#pragma once
// Reading a movie's facts and its information text, without decoding a frame.
//
// `MovieProbe::probe` opens the movie, reads the length (what can be read of
// it, and what the file states), the native frame size and the average time
// between frames, and returns them with the four-line information text as one
// value, together with the opened movie for the capture that follows. Nothing
// is posted: the caller decides on which thread it runs and whom it tells.
//
// A probe that fails returns cleared facts, an `errorText` that says why, and
// an information text that names the file and the reason, so that nothing of
// an earlier movie can survive into a capture of this one.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/media/movie_reader.h"
#include "platform/types/result.h"

// What the capture needs to know about a movie before it starts.
struct MovieFacts {
    // The length the moments are spread over, in 100-ns units: what can be
    // read of the movie. A cut-short file states a longer one.
    int64_t duration = 0;
    int32_t videoWidth = 0; // as stored: what the information text shows
    int32_t videoHeight = 0;
    float averageFps = 0; // 0 when the movie does not state a frame rate
    // As players show it (sample aspect ratio and display matrix applied),
    // which is what the sheet is laid out for; 0 when not known, and then
    // the stored size stands in.
    int32_t displayWidth = 0;
    int32_t displayHeight = 0;

    int64_t statedDuration = 0; // the container's own length; 0 when the same

    bool cutShort() const { return statedDuration > duration; }
    bool usable() const { return videoWidth > 0 && videoHeight > 0 && duration >= 0; }
    int32_t shownWidth() const { return displayWidth > 0 ? displayWidth : videoWidth; }
    int32_t shownHeight() const { return displayHeight > 0 ? displayHeight : videoHeight; }
};

struct ProbeResult {
    // Success, or why the movie cannot be read (the cancelled kind when the
    // reading was stopped).
    Result status;
    MovieFacts facts;
    std::string infoText;
    // The movie, open, for a capture of it; null after a failure.
    std::shared_ptr<media::MovieReader> movie;

    bool ok() const { return status.ok(); }
    const std::string& errorText() const { return status.text(); }
};

constexpr const char* kProbeCancelledText = "The reading of the movie was cancelled.";

struct MovieProbe {
    // `stop`, when given and set by another thread, ends the probe at once
    // (also while it reads a whole elementary stream for its length); it
    // then fails with kProbeCancelledText.
    static ProbeResult probe(const std::string& moviePath, const std::atomic<bool>* stop = nullptr);
    // "File Name\t: …\nAverage FPS\t: …\nResolution\t: WxH\nDuration\t: hh:mm:ss".
    static std::string formatInfo(const std::string& moviePath, const MovieFacts& facts);
};
