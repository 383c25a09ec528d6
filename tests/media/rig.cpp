#include "tests/media/rig.h"

namespace mediatest {

namespace {

Delivery delivery(media::Frame&& frame) {
    Delivery d;
    d.decodeErrors = frame.decodeErrors;
    if (!frame.found)
        return d;
    d.calls = 1;
    d.time = frame.time;
    d.seconds = frame.time.seconds();
    const media::Picture& p = frame.picture;
    d.width = p.width;
    d.height = p.height;
    const int stride = (p.width * 3 + 3) & ~3;
    d.pixels.assign(static_cast<size_t>(stride) * p.height, 0);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* from = p.rgb.data() + static_cast<size_t>(y) * p.width * 3;
        uint8_t* to = d.pixels.data() + static_cast<size_t>(stride) * (p.height - 1 - y);
        for (int x = 0; x < p.width; ++x) {
            to[3 * x] = from[3 * x + 2];
            to[3 * x + 1] = from[3 * x + 1];
            to[3 * x + 2] = from[3 * x];
        }
    }
    // The middle of the picture, away from any edge ringing.
    d.index = testmovies::indexFromBgr(d.pixels.data(), stride, p.width / 4, p.height / 4,
                                       p.width / 2, p.height / 2);
    return d;
}

} // namespace

Rig::Rig() = default;
Rig::~Rig() = default;

Result Rig::open(const std::string& path, int cores) {
    Result rc = media::MovieReader::open(path, nullptr, &reader_);
    if (!rc.ok())
        return rc;
    rc = reader_->videoReady();
    if (!rc.ok())
        return rc;
    reader_->setCores(cores);
    width_ = reader_->facts().video.displayWidth;
    height_ = reader_->facts().video.displayHeight;
    return Result::success();
}

Result Rig::grab(int64_t position, Delivery* out) {
    *out = Delivery{};
    return reader_->frames({position}, media::FrameRequest{}, [out](size_t, media::Frame&& frame) {
        *out = delivery(std::move(frame));
        return true;
    });
}

Result Rig::grabAll(const std::vector<int64_t>& positions, std::vector<Delivery>* out,
                    int64_t keyFrameTolerance) {
    out->assign(positions.size(), Delivery{});
    media::FrameRequest request;
    request.keyFrameTolerance = keyFrameTolerance;
    return reader_->frames(positions, request, [out](size_t i, media::Frame&& frame) {
        (*out)[i] = delivery(std::move(frame));
        return true;
    });
}

} // namespace mediatest
