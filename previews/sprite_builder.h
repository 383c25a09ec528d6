#pragma once
// Puts the thumbnails of a preview plan into their sprite images as their
// frames arrive, and hands each sprite on as soon as its last thumbnail is
// in, so that only one sprite is ever held; the track goes last, once every
// sprite it names has been handed on.
//
// Ownership: the builder owns the sprite in work; it borrows the plan and
// the files for its whole life.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/movie_reader.h"
#include "previews/preview_plan.h"
#include "render/raster_image.h"

namespace previews {

// Where the finished files go. Each call writes one file by its name (no
// folder); false when it could not be written, which ends the previews.
class PreviewFiles {
public:
    virtual ~PreviewFiles() = default;
    virtual bool writeSprite(const std::string& name, const RasterImage& sprite) = 0;
    virtual bool writeTrack(const std::string& name, const std::string& text) = 0;
};

class SpriteBuilder {
public:
    SpriteBuilder(const PreviewPlan& plan, std::string stem, PreviewFiles& files);
    SpriteBuilder(const SpriteBuilder&) = delete;
    SpriteBuilder& operator=(const SpriteBuilder&) = delete;

    // The frame of the `index`-th moment, in order, its picture at the
    // thumbnail's size; one not `found` leaves its place dark and gets no
    // cue. False once a sprite could not be written.
    bool add(size_t index, const media::Frame& frame);
    // Every thumbnail is in: the track is written. False when one is
    // missing, when no moment had a picture, or when the track could not be
    // written; `error` says which for the first two.
    bool finish();

    bool complete() const { return next_ == plan_.moments.size(); }
    size_t delivered() const { return next_; }
    // The moments that had no picture (100-ns units, in order).
    const std::vector<int64_t>& missing() const { return missing_; }
    int decoderErrors() const { return decoderErrors_; }
    // A sprite could not be made or written: no more thumbnails are taken.
    bool failed() const { return failed_; }
    const std::string& error() const { return error_; }

private:
    bool startSprite();
    bool place(size_t index, const media::Picture& picture);
    bool flush();

    const PreviewPlan& plan_;
    std::string stem_;
    PreviewFiles& files_;
    size_t next_ = 0;
    size_t sprite_ = 0;       // the sprite in work
    RasterImage image_;       // its pixels, once a thumbnail of it came
    std::vector<bool> shown_; // per thumbnail: it has a picture
    std::vector<int64_t> missing_;
    int decoderErrors_ = 0;
    bool failed_ = false;
    std::string error_;
};

} // namespace previews
