#pragma once
// The WebVTT track web players read scrub previews from: one cue per
// thumbnail, from its moment to the next one's (the last to the movie's
// end), whose text is the sprite's address relative to the track with the
// thumbnail's place as a media fragment, `clip-001.jpg#xywh=160,0,160,90`.
//
// Times are written from the 100-ns units with integer arithmetic, so a cue
// says exactly the millisecond its moment is at.
//
// Ownership: plain functions over values.

#include <cstdint>
#include <string>
#include <vector>

#include "previews/preview_plan.h"

namespace previews {

// "HH:MM:SS.mmm", truncated to the millisecond; more hour digits past 99
// hours, as WebVTT allows.
std::string cueTime(int64_t units);

// A file name as a relative URL: every byte but letters, digits and "-._~"
// percent-encoded, so spaces, "#", "?", "%" and names that are not UTF-8
// reach the player as the same file, and nothing in a cue's text can be
// read as markup or as the "-->" of a timing line.
std::string relativeUrl(const std::string& fileName);

// The track for `plan`, its sprites named after `stem`. A thumbnail for
// which `shown` is false (no picture could be had for its moment) gets no
// cue: a player then shows no preview there rather than another moment's.
std::string previewTrack(const PreviewPlan& plan, const std::string& stem,
                         const std::vector<bool>& shown);

} // namespace previews
