#pragma once
// Where each movie's sheet and frames go, and which movies would write over
// each other's.

#include <cstdint>
#include <string>
#include <vector>

#include "capture/movie_walk.h"
#include "cli/arguments.h"
#include "platform/types/media_time.h"

namespace cli {

struct PlannedMovie {
    moviewalk::Entry entry;
    std::string sheet;          // empty with --info, and for previews without a sheet
    std::string framesFolder;   // empty without --frames-dir
    std::string previewsFolder; // empty without --previews
    std::string refusal;        // not empty: the one line why this movie is not made
};

// The sheet, frames and previews of every movie. A movie whose sheet, frames
// or previews would land where an earlier movie's do is refused, so that no sheet of a
// batch replaces another and the result does not depend on the order of
// work.
std::vector<PlannedMovie> planMovies(const std::vector<moviewalk::Entry>& movies,
                                     const Arguments& args);

// The extension of a sheet in the chosen format, with its dot.
std::string sheetExtension(const std::string& format);

// "<stem>-<NN>-<HH>h<MM>m<SS.mmm>s.<ext>": the cell's number from 1, as wide
// as the largest number of the sheet (at least 2 digits), and the frame's own
// time, truncated to the millisecond.
std::string frameFileName(const std::string& stem, int index, int64_t cells, const MediaTime& time,
                          const std::string& extension);

} // namespace cli
