#pragma once
// What FFmpeg's own decoder shows: every frame of a movie's video, decoded in
// order from the start, with its presentation time from the movie's start.
// The tests hold the capture to this, not to the nominal frame rate, since
// containers round frame times (Matroska to milliseconds, for one).

#include <cstdint>
#include <string>
#include <vector>

namespace testmovies {

struct TimelineFrame {
    int index;   // from the colour code; -1 when the picture carries none
    int64_t num; // time = num / den, in 100-ns units
    int64_t den;
};
std::vector<TimelineFrame> decodeTimeline(const std::string& path);
// The frame's time rounded down to a whole 100-ns unit.
int64_t floorPosition(const TimelineFrame& f);
// The frame a seek to `position` must deliver: the first at or after it,
// else the last.
const TimelineFrame& expectedFrame(const std::vector<TimelineFrame>& timeline, int64_t position);

} // namespace testmovies
