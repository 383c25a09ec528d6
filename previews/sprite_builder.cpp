#include "previews/sprite_builder.h"

#include <algorithm>
#include <cstring>

#include "previews/webvtt.h"

namespace previews {

SpriteBuilder::SpriteBuilder(const PreviewPlan& plan, std::string stem, PreviewFiles& files)
    : plan_(plan), stem_(std::move(stem)), files_(files), shown_(plan.moments.size(), false) {}

// The sprite in work, dark, made when its first picture comes (or when it
// must be written without one).
bool SpriteBuilder::startSprite() {
    if (image_.hasPixels())
        return true;
    const Region size = plan_.spriteSize(sprite_);
    if (image_.create(size.width, size.height))
        return true;
    error_ = "Not enough memory for a sprite of " + std::to_string(size.width) + "x" +
             std::to_string(size.height) + " pixels.";
    return false;
}

bool SpriteBuilder::place(size_t index, const media::Picture& picture) {
    if (!startSprite())
        return false;
    const Region cell = plan_.regionOf(index);
    const int width = std::min(cell.width, picture.width);
    const int height = std::min(cell.height, picture.height);
    // Both are red-green-blue, rows top-down.
    if (width <= 0)
        return true;
    for (int y = 0; y < height; ++y)
        std::memcpy(image_.row(cell.y + y) + static_cast<ptrdiff_t>(cell.x) * 3,
                    picture.rgb.data() + static_cast<size_t>(y) * picture.width * 3,
                    static_cast<size_t>(width) * 3);
    return true;
}

// The sprite in work is full: it goes to its file, and its memory with it.
bool SpriteBuilder::flush() {
    // Not one of its moments may have had a picture: it is written dark all
    // the same, so that the numbering has no hole, though no cue points
    // into it.
    if (!startSprite())
        return false;
    const bool written = files_.writeSprite(spriteName(stem_, sprite_, plan_.sprites()), image_);
    image_.release();
    ++sprite_;
    return written;
}

bool SpriteBuilder::add(size_t index, const media::Frame& frame) {
    if (failed_ || index != next_ || index >= plan_.moments.size())
        return false;
    decoderErrors_ += frame.decodeErrors;
    if (frame.found && !frame.picture.empty()) {
        if (!place(index, frame.picture))
            return !(failed_ = true);
        shown_[index] = true;
    } else {
        missing_.push_back(plan_.moments[index]);
    }
    ++next_;
    const size_t lastOfSprite = std::min((sprite_ + 1) * plan_.perSprite(), plan_.moments.size());
    if (next_ == lastOfSprite && !flush())
        return !(failed_ = true);
    return true;
}

bool SpriteBuilder::finish() {
    if (failed_)
        return false;
    if (!complete()) {
        error_ = "The previews were not finished.";
        return false;
    }
    if (missing_.size() == plan_.moments.size()) {
        error_ = "No picture could be decoded for the previews.";
        return false;
    }
    return files_.writeTrack(trackName(stem_), previewTrack(plan_, stem_, shown_));
}

} // namespace previews
