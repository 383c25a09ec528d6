#pragma once
// A strict reader of WebVTT files, for tests: it follows the format's
// parsing rules, but where a player would skip a bad line and go on, it
// stops and says what is wrong. What it accepts, every player accepts the
// same way.
//
// Checked: the signature line (an optional byte order mark, "WEBVTT", then
// nothing or a space or tab and any text), header lines without "-->",
// blocks separated by blank lines, NOTE blocks anywhere, STYLE and REGION
// blocks only before the first cue, each cue's optional identifier, its
// timing line (timestamps of [hh+:]mm:ss.ttt with minutes and seconds
// below 60, one or more spaces or tabs around "-->", settings after them),
// an end after the start, starts that never go back, and payload lines
// without "-->". Lines may end in LF, CR LF or CR.

#include <cstdint>
#include <string>
#include <vector>

namespace vtt {

struct Cue {
    std::string id;
    int64_t start = 0; // milliseconds
    int64_t end = 0;
    std::string settings;
    std::string text; // payload lines joined by '\n'
    int line = 0;     // of the timing line, from 1
};

struct Track {
    std::vector<Cue> cues;
};

// True with `track` filled, or false with `error` naming the line and the fault.
bool parse(const std::string& text, Track& track, std::string& error);

// A timestamp as the format writes it, in milliseconds; -1 when it is not one.
int64_t parseTimestamp(const std::string& text);

} // namespace vtt
