#pragma once
// Which moments of a movie get a scrub preview, how large each thumbnail is
// and where it sits in its sprite image.
//
// A web player shows, above its seek bar, the thumbnail of the stretch the
// pointer is over. The stretches are cut at whole milliseconds, so that each
// moment is exactly the start of its cue as the track writes it: the
// thumbnail of a cue is the frame at (or after) the time the cue says it
// starts, and no stretch is empty. The last stretch ends where the movie can
// be read to.
//
// Ownership: plain values.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace previews {

constexpr int64_t kUnitsPerMillisecond = 10'000; // of the 100-ns units positions are in

struct PreviewSettings {
    // One thumbnail every `interval` (100-ns units, cut to whole
    // milliseconds), or, when `count` is above 0, `count` thumbnails spread
    // evenly over the movie.
    int64_t interval = 10 * 1000 * kUnitsPerMillisecond;
    int64_t count = 0;
    int width = 160;  // of a thumbnail; its height follows the picture's shape
    int columns = 10; // thumbnails across and down one sprite image
    int rows = 10;
};

// The largest sprite image, as for a sheet: a side of 32768 pixels (JPEG
// itself stops at 65500) and 1 GiB of pixel bytes.
constexpr int kLargestSpriteSide = 32768;
constexpr int64_t kLargestSpriteBytes = int64_t{1} << 30;
// More thumbnails than this are refused: a track of them would be larger
// than any player wants to read.
constexpr int64_t kMostThumbnails = 1'000'000;

struct Region {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Region&) const = default;
};

struct PreviewPlan {
    // Whole milliseconds in 100-ns units, from 0, rising; each one the start
    // of a cue.
    std::vector<int64_t> moments;
    int64_t end = 0; // the last cue's end: the readable length, in whole milliseconds
    int thumbWidth = 0;
    int thumbHeight = 0;
    int columns = 0;
    int rows = 0;

    size_t perSprite() const { return static_cast<size_t>(columns) * static_cast<size_t>(rows); }
    size_t sprites() const { return (moments.size() + perSprite() - 1) / perSprite(); }
    size_t spriteOf(size_t thumbnail) const { return thumbnail / perSprite(); }
    // The thumbnail's place inside its sprite.
    Region regionOf(size_t thumbnail) const;
    // The size of a sprite: the last one holds only the rows (and, when it
    // has a single row, the columns) its thumbnails fill.
    Region spriteSize(size_t sprite) const;
    // The first thumbnail after `thumbnail`'s cue: where its stretch ends.
    int64_t endOf(size_t thumbnail) const {
        return thumbnail + 1 < moments.size() ? moments[thumbnail + 1] : end;
    }
};

// The height of a thumbnail `width` pixels wide of a picture shown at
// `shownWidth` × `shownHeight`: the nearest even number, at least 2.
int thumbnailHeight(int width, int shownWidth, int shownHeight);

// The previews of a movie `length` long (100-ns units, what can be read of
// it) shown at `shownWidth` × `shownHeight`. False, with `error` saying why,
// for settings that make no previews: a movie shorter than a millisecond,
// an interval under a millisecond, sprites too large for JPEG, too many
// thumbnails.
bool planPreviews(int64_t length, int shownWidth, int shownHeight, const PreviewSettings& settings,
                  PreviewPlan& plan, std::string& error);

// "<stem>-001.jpg": the sprite's number from 1, three digits or as many as
// the largest number needs.
std::string spriteName(const std::string& stem, size_t sprite, size_t sprites);
// "<stem>.vtt"
std::string trackName(const std::string& stem);

} // namespace previews
