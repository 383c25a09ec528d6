#include "tests/media/rig.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace mediatest {

using namespace media;

class Rig::Callback : public SampleGrabberCB {
public:
    Result BufferCB(double sampleTime, uint8_t* buffer, long length) override {
        Delivery& d = *current;
        ++d.calls;
        d.seconds = sampleTime;
        d.length = length;
        d.pixels.assign(buffer, buffer + length);
        const int stride = (width * 3 + 3) & ~3;
        // The middle of the picture, away from any edge ringing.
        d.index =
            testmovies::indexFromBgr(buffer, stride, width / 4, height / 4, width / 2, height / 2);
        return S_OK;
    }
    Delivery* current = nullptr;
    int width = 0;
    int height = 0;
};

Rig::Rig() : callback_(std::make_unique<Callback>()) {}
Rig::~Rig() = default;

Result Rig::open(const std::string& path, int workers) {
    Result hr = FilterGraph::create(&graph_);
    if (failed(hr))
        return hr;
    graph_->setWorkerCount(workers);
    hr = SourceFilter::create(SourceRole::AsfReader, &source_);
    if (failed(hr))
        return hr;
    source_->load(path);
    asf_ = succeeded(graph_->addFilter(*source_, "SourceWMV"));
    if (!asf_) {
        hr = SourceFilter::create(SourceRole::AsyncReader, &source_);
        if (succeeded(hr))
            hr = source_->load(path);
        if (succeeded(hr))
            hr = graph_->addFilter(*source_, "Source");
        if (failed(hr))
            return hr;
    }
    hr = SampleGrabber::create(&grabber_);
    if (succeeded(hr))
        hr = graph_->addFilter(*grabber_, "Grabber");
    if (failed(hr))
        return hr;
    grabber_->setMediaType(MediaType{MajorType::Video, SubType::RGB24});
    Pin* video = nullptr;
    for (int i = 0; Pin* p = outputPin(*source_, i); ++i) {
        if (p->majorType() == MajorType::Video) {
            video = p;
            break;
        }
    }
    if (!video)
        return E_NO_VIDEO_STREAM;
    hr = graph_->connect(*video, *inputPin(*grabber_, 0));
    if (succeeded(hr))
        hr = graph_->render(*outputPin(*grabber_, 0));
    if (succeeded(hr))
        hr = grabber_->setBufferSamples(false);
    if (succeeded(hr))
        hr = grabber_->setOneShot(true);
    if (succeeded(hr))
        hr = grabber_->setCallback(callback_.get(), 1);
    if (succeeded(hr))
        hr = grabber_->getConnectedSize(&width_, &height_);
    callback_->width = width_;
    callback_->height = height_;
    return hr;
}

Result Rig::grab(int64_t position, Delivery* out) {
    const Result hr = graph_->setPositions(position);
    return failed(hr) ? hr : runAndWait(out);
}

Result Rig::runAndWait(Delivery* out) {
    *out = Delivery{};
    const Result hr = graph_->run();
    return failed(hr) ? hr : wait(out, -1);
}

Result Rig::wait(Delivery* out, int32_t timeoutMs) {
    callback_->current = out;
    const Result hr = graph_->waitForCompletion(timeoutMs, &out->event);
    callback_->current = nullptr;
    return hr;
}

} // namespace mediatest
