#pragma once
// The details the window shows of a movie beyond the sheet's four lines: its
// container, codec and profile, file size, bit rates, how it is shown
// (rotation, pixel shape), its colours (HDR or not) and its sound tracks.
// They come from the same facts as the command line's `--info --json`, so
// the two never disagree; a fact the file does not state is left out rather
// than shown as a guess.
//
// Lines are "label<TAB>: value", as the information text's are.

#include <QString>

#include "platform/media/media_facts.h"

namespace moviedetails {

// The lines after the information text, without a trailing newline; empty
// when the facts say nothing more.
QString lines(const media::MediaFacts& facts);

// "37.8 MiB (39,612,416 bytes)": the size as people read it, and exactly.
QString fileSizeText(int64_t bytes);
// "1.53 Mbit/s", "128 kbit/s", "900 bit/s".
QString bitRateText(int64_t bitsPerSecond);
// "HDR10 (PQ)", "HLG", "SDR", with the primaries when they are stated; empty
// when the file says nothing of its colours.
QString colourText(const media::VideoFacts& video);

} // namespace moviedetails
