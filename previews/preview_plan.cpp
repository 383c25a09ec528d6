#include "previews/preview_plan.h"

#include <algorithm>

namespace previews {

namespace {

bool refuse(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

} // namespace

Region PreviewPlan::regionOf(size_t thumbnail) const {
    const size_t cell = thumbnail % perSprite();
    const size_t across = static_cast<size_t>(columns);
    return Region{static_cast<int>(cell % across) * thumbWidth,
                  static_cast<int>(cell / across) * thumbHeight, thumbWidth, thumbHeight};
}

Region PreviewPlan::spriteSize(size_t sprite) const {
    const size_t first = sprite * perSprite();
    const size_t held = std::min(perSprite(), moments.size() - std::min(first, moments.size()));
    const size_t across = static_cast<size_t>(columns);
    const size_t usedColumns = std::min(held, across);
    const size_t usedRows = (held + across - 1) / across;
    return Region{0, 0, static_cast<int>(usedColumns) * thumbWidth,
                  static_cast<int>(usedRows) * thumbHeight};
}

int thumbnailHeight(int width, int shownWidth, int shownHeight) {
    if (width <= 0 || shownWidth <= 0 || shownHeight <= 0)
        return 0;
    // Twice the nearest whole number of pairs of rows: the height stays even
    // for encoders and players that want chroma in pairs.
    const int64_t pairs = (int64_t{width} * shownHeight + shownWidth) / (int64_t{2} * shownWidth);
    return static_cast<int>(std::clamp<int64_t>(pairs * 2, 2, kLargestSpriteSide));
}

bool planPreviews(int64_t length, int shownWidth, int shownHeight, const PreviewSettings& settings,
                  PreviewPlan& plan, std::string& error) {
    plan = PreviewPlan{};
    if (settings.width <= 0 || settings.columns <= 0 || settings.rows <= 0)
        return refuse(error, "A preview needs a width, and a sprite at least one column and row.");
    if (shownWidth <= 0 || shownHeight <= 0)
        return refuse(error, "The movie's picture size is not known.");
    const int64_t endMs = length / kUnitsPerMillisecond;
    if (endMs <= 0)
        return refuse(error, "The movie is shorter than a millisecond: it has no previews.");

    plan.thumbWidth = settings.width;
    plan.thumbHeight = thumbnailHeight(settings.width, shownWidth, shownHeight);
    plan.columns = settings.columns;
    plan.rows = settings.rows;
    const int64_t spriteWidth = int64_t{plan.thumbWidth} * plan.columns;
    const int64_t spriteHeight = int64_t{plan.thumbHeight} * plan.rows;
    if (spriteWidth > kLargestSpriteSide || spriteHeight > kLargestSpriteSide ||
        spriteWidth * spriteHeight * 3 > kLargestSpriteBytes)
        return refuse(error,
                      "A sprite of " + std::to_string(plan.columns) + "x" +
                          std::to_string(plan.rows) + " previews of " +
                          std::to_string(plan.thumbWidth) + "x" + std::to_string(plan.thumbHeight) +
                          " pixels would be larger than " + std::to_string(kLargestSpriteSide) +
                          " pixels on a side or 1 GiB; make the grid or the width smaller.");

    // Every moment is a whole millisecond below the end: the track writes it
    // as it is, and its stretch is never empty.
    int64_t count = 0;
    int64_t everyMs = 0;
    if (settings.count > 0) {
        // A movie shorter than `count` milliseconds gets one a millisecond.
        count = std::min(settings.count, endMs);
    } else {
        everyMs = settings.interval / kUnitsPerMillisecond;
        if (everyMs <= 0)
            return refuse(error, "The interval between previews must be a millisecond or more.");
        count = (endMs + everyMs - 1) / everyMs;
    }
    if (count > kMostThumbnails)
        return refuse(error, "That would make " + std::to_string(count) +
                                 " previews, more than the " + std::to_string(kMostThumbnails) +
                                 " a track may hold; give a longer interval.");
    plan.moments.reserve(static_cast<size_t>(count));
    for (int64_t k = 0; k < count; ++k) {
        int64_t ms = 0;
        if (everyMs > 0) {
            ms = k * everyMs;
        } else {
            // k · end can pass 63 bits for a long movie and many previews.
            __extension__ typedef __int128 Wide;
            ms = static_cast<int64_t>(static_cast<Wide>(k) * endMs / count);
        }
        plan.moments.push_back(ms * kUnitsPerMillisecond);
    }
    plan.end = endMs * kUnitsPerMillisecond;
    return true;
}

std::string spriteName(const std::string& stem, size_t sprite, size_t sprites) {
    size_t digits = 3;
    for (size_t n = sprites; n >= 1000; n /= 10)
        ++digits;
    std::string number = std::to_string(sprite + 1);
    if (number.size() < digits)
        number.insert(0, digits - number.size(), '0');
    return stem + "-" + number + ".jpg";
}

std::string trackName(const std::string& stem) {
    return stem + ".vtt";
}

} // namespace previews
