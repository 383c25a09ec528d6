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

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "media-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

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

std::vector<TimelineFrame> decodeTimeline(const std::string& path) {
    std::vector<TimelineFrame> out;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return out;
    avformat_find_stream_info(fmt, nullptr);
    const int vs = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vs < 0) {
        avformat_close_input(&fmt);
        return out;
    }
    // The movie starts where its earliest stream starts.
    AVRational zero{0, 1};
    bool haveZero = false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->start_time == AV_NOPTS_VALUE)
            continue;
        const AVRational s{static_cast<int>(st->start_time * st->time_base.num), st->time_base.den};
        if (!haveZero || av_cmp_q(s, zero) < 0)
            zero = s;
        haveZero = true;
    }
    const AVStream* st = fmt->streams[vs];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, st->codecpar);
    dec->pkt_timebase = st->time_base;
    avcodec_open2(dec, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    AVFrame* bgr = av_frame_alloc();
    SwsContext* sws = nullptr;
    const int64_t tn = st->time_base.num, td = st->time_base.den;
    const int64_t frameTicks = av_rescale_q(1, av_inv_q(st->avg_frame_rate), st->time_base);
    int64_t previous = 0;
    const int64_t firstShown = st->codecpar->video_delay * frameTicks;
    if (!haveZero)
        zero = AVRational{static_cast<int>(firstShown * tn), static_cast<int>(td)};
    auto take = [&] {
        while (avcodec_receive_frame(dec, frame) >= 0) {
            sws = sws_getCachedContext(sws, frame->width, frame->height,
                                       static_cast<AVPixelFormat>(frame->format), frame->width,
                                       frame->height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr,
                                       nullptr, nullptr);
            if (!bgr->data[0]) {
                bgr->format = AV_PIX_FMT_BGR24;
                bgr->width = frame->width;
                bgr->height = frame->height;
                av_frame_get_buffer(bgr, 0);
            }
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, bgr->data,
                      bgr->linesize);
            const int index =
                testmovies::indexFromBgr(bgr->data[0], bgr->linesize[0], frame->width / 4,
                                         frame->height / 4, frame->width / 2, frame->height / 2);
            // Some demuxers leave the last frames without a time, or give
            // them their decoding time; they follow their predecessor at the
            // frame rate.
            // A time that does not advance is taken as one frame later.
            int64_t ts = frame->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE || (!out.empty() && ts <= previous))
                ts = previous + frameTicks;
            previous = ts;
            // An elementary stream has no clock of its own: frame n of it is
            // shown n frames after its start.
            if (!haveZero)
                ts = firstShown + static_cast<int64_t>(out.size()) * frameTicks;
            // ts·tn/td − zn/zd, in 100-ns units, as a reduced fraction.
            __extension__ typedef __int128 Wide;
            const Wide zn = zero.num, zd = zero.den;
            Wide num = (ts * tn * zd - zn * td) * 10000000;
            Wide den = td * zd;
            Wide a = num < 0 ? -num : num, b = den;
            while (b != 0) {
                const Wide r = a % b;
                a = b;
                b = r;
            }
            if (a > 1) {
                num /= a;
                den /= a;
            }
            out.push_back(
                TimelineFrame{index, static_cast<int64_t>(num), static_cast<int64_t>(den)});
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == vs && avcodec_send_packet(dec, pkt) >= 0)
            take();
        av_packet_unref(pkt);
    }
    avcodec_send_packet(dec, nullptr);
    take();
    sws_freeContext(sws);
    av_frame_free(&bgr);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return out;
}

int64_t floorPosition(const TimelineFrame& f) {
    const int64_t q = f.num / f.den;
    return (f.num % f.den != 0 && f.num < 0) ? q - 1 : q;
}

const TimelineFrame& expectedFrame(const std::vector<TimelineFrame>& timeline, int64_t position) {
    for (const TimelineFrame& f : timeline)
        if (f.num >= position * f.den)
            return f;
    return timeline.back();
}

} // namespace mediatest
