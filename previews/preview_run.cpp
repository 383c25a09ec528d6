#include "previews/preview_run.h"

namespace previews {

int64_t keyFrameTolerance(const PreviewPlan& plan) {
    if (plan.moments.empty())
        return 0;
    const int64_t step = plan.moments.size() > 1 ? plan.moments[1] - plan.moments[0] : plan.end;
    return step / 2;
}

Result readPreviews(media::MovieReader& movie, const PreviewPlan& plan, bool keyFrames,
                    SpriteBuilder& builder, const std::function<bool()>& goOn) {
    media::FrameRequest request;
    request.width = plan.thumbWidth;
    request.height = plan.thumbHeight;
    request.keyFrameTolerance = keyFrames ? keyFrameTolerance(plan) : -1;
    return movie.frames(plan.moments, request, [&](size_t i, media::Frame&& frame) {
        return builder.add(i, frame) && goOn();
    });
}

} // namespace previews
