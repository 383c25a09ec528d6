#pragma once
// Choices about which frames a sheet shows, beyond the settings file (which
// stays byte for byte as it is). All are off by default, and then a sheet is
// exactly the classic one: evenly spaced moments over the whole movie, each
// the exact first frame at or after its moment.

#include <cstdint>
#include <string>
#include <vector>

// A stretch of the movie, in seconds or as a share of its length.
struct TimeSpan {
    double value = 0;
    bool percent = false;

    // In 100-ns units for a movie of `duration`; never negative.
    int64_t resolve(int64_t duration) const;
    // "90", "90s", "1.5" (seconds) or "5%". False when the text is none of
    // these or negative.
    static bool parse(const std::string& text, TimeSpan& out);
};

struct FrameChoice {
    // The moments keep inside the movie without its first `skipStart` and
    // its last `skipEnd`.
    TimeSpan skipStart;
    TimeSpan skipEnd;
    // A nearly uniform frame (black, white, a fade) is replaced by the first
    // frame within the next half step that is not.
    bool avoidBlank = false;
    // Each cell shows the key frame nearest its moment, decoded alone.
    bool keyFrames = false;
};

// The capture moments for a movie of `duration` (100-ns units) and `cells`
// frames: evenly spaced, (end − start) / (cells + 1) apart inside the part of
// the movie the choice keeps, never at its very start nor its end. Without
// skips these are `capturePositions`. False with `error` set when the skips
// leave nothing of the movie.
bool captureMoments(int64_t duration, int64_t cells, const FrameChoice& choice,
                    std::vector<int64_t>& moments, std::string& error);

// The distance between two of those moments; 0 when there are none.
int64_t momentStep(int64_t duration, int64_t cells, const FrameChoice& choice);

// The number of rows that, with `columns` frames across, brings the moments
// closest to one every `interval` over the part of the movie the choice
// keeps; at least 1. An interval in percent is a share of the whole movie.
int rowsForInterval(int64_t duration, int columns, const FrameChoice& choice,
                    const TimeSpan& interval);
