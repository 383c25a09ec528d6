#pragma once
// Reads back what --previews writes, as a web player uses it: the track
// parsed strictly, each cue's sprite found beside the track by its relative
// URL, its region inside that sprite; and the sprites' pixels, for checking
// which frame a thumbnail shows.

#include <cstdint>
#include <string>
#include <vector>

#include "previews/preview_plan.h"
#include "tests/previews/webvtt_parser.h"

namespace previewcheck {

// A decoded image: red, green, blue, rows top-down.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

bool readJpeg(const std::string& path, Image& image);

struct Thumbnail {
    int64_t start = 0; // milliseconds
    int64_t end = 0;
    std::string sprite; // the sprite's path
    previews::Region region;
};

struct Checks {
    // Each cue starts where the one before it ends, the first at 0 (a track
    // whose moments all had a picture).
    bool continuous = true;
    // The last cue's end in milliseconds; -1: not checked.
    int64_t end = -1;
};

// Reads and checks the track: strictly valid WebVTT, every cue's text a
// relative URL (percent-encoded, no folder) with a #xywh=x,y,w,h fragment,
// its file there beside the track and the region inside it. False with
// `error` saying what is wrong.
bool readPreviews(const std::string& trackPath, const Checks& checks,
                  std::vector<Thumbnail>& thumbnails, std::string& error);

// "a%20b.jpg" → "a b.jpg"; false for a character a relative URL of a plain
// file name has no business holding.
bool decodeUrl(const std::string& url, std::string& name);

// The test movies' frame index shown in the middle of a region, or -1.
int indexIn(const Image& image, const previews::Region& region);

} // namespace previewcheck
