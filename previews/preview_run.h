#pragma once
// The previews of a movie on their own: every moment of the plan asked of
// the movie reader in one call, so its decoding plan serves neighbouring
// moments from one forward pass, each frame converted straight to the
// thumbnail's size.
//
// Ownership: borrows the reader and the builder for the call.

#include <cstdint>
#include <functional>

#include "platform/media/movie_reader.h"
#include "platform/types/result.h"
#include "previews/preview_plan.h"
#include "previews/sprite_builder.h"

namespace previews {

// How far from its moment a key frame may be and still stand for it in
// key-frame mode: half the distance between moments, as for a sheet's cells.
int64_t keyFrameTolerance(const PreviewPlan& plan);

// Reads the plan's frames into `builder`; `keyFrames` takes the key frame
// nearest each moment when it lies within half a step. `goOn` is asked
// after every frame; false ends the call early, as does a sprite that
// could not be written (both without a failure: the builder is then not
// complete).
Result readPreviews(media::MovieReader& movie, const PreviewPlan& plan, bool keyFrames,
                    SpriteBuilder& builder, const std::function<bool()>& goOn);

} // namespace previews
