#include "tests/support/timeline.h"

#include "platform/media/av_ptr.h"
#include "tests/support/test_movies.h"

namespace testmovies {

namespace av = media::av;

std::vector<TimelineFrame> decodeTimeline(const std::string& path) {
    std::vector<TimelineFrame> out;
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
        return out;
    const av::InputPtr input(opened);
    AVFormatContext* fmt = input.get();
    avformat_find_stream_info(fmt, nullptr);
    const int vs = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vs < 0)
        return out;
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
    const av::CodecPtr decoder(avcodec_alloc_context3(codec));
    AVCodecContext* dec = decoder.get();
    if (!dec)
        return out;
    avcodec_parameters_to_context(dec, st->codecpar);
    dec->pkt_timebase = st->time_base;
    avcodec_open2(dec, codec, nullptr);
    const av::PacketPtr packet(av_packet_alloc());
    const av::FramePtr decoded(av_frame_alloc());
    const av::FramePtr converted(av_frame_alloc());
    av::SwsPtr scaler;
    AVPacket* pkt = packet.get();
    AVFrame* frame = decoded.get();
    AVFrame* bgr = converted.get();
    if (!pkt || !frame || !bgr)
        return out;
    const int64_t tn = st->time_base.num, td = st->time_base.den;
    const int64_t frameTicks = av_rescale_q(1, av_inv_q(st->avg_frame_rate), st->time_base);
    int64_t previous = 0;
    const int64_t firstShown = st->codecpar->video_delay * frameTicks;
    const bool avi = std::string(fmt->iformat->name) == "avi";
    if (!haveZero)
        zero = AVRational{static_cast<int>(firstShown * tn), static_cast<int>(td)};
    auto take = [&] {
        while (avcodec_receive_frame(dec, frame) >= 0) {
            scaler.reset(sws_getCachedContext(scaler.release(), frame->width, frame->height,
                                              static_cast<AVPixelFormat>(frame->format),
                                              frame->width, frame->height, AV_PIX_FMT_BGR24,
                                              SWS_BICUBIC, nullptr, nullptr, nullptr));
            if (!bgr->data[0]) {
                bgr->format = AV_PIX_FMT_BGR24;
                bgr->width = frame->width;
                bgr->height = frame->height;
                av_frame_get_buffer(bgr, 0);
            }
            sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, bgr->data,
                      bgr->linesize);
            const int index =
                testmovies::indexFromBgr(bgr->data[0], bgr->linesize[0], frame->width / 4,
                                         frame->height / 4, frame->width / 2, frame->height / 2);
            // Some demuxers leave the last frames without a time, or give
            // them their decoding time; they follow their predecessor at the
            // frame rate.
            // A time that does not advance is taken as one frame later.
            int64_t ts = frame->best_effort_timestamp;
            // AVI stamps decoding order only, and FFmpeg hands each picture
            // of a reordering decoder the stamp of the packet that pushed it
            // out: late by the delay. The picture's place in showing order
            // is its true time.
            if (avi && ts != AV_NOPTS_VALUE)
                ts -= dec->has_b_frames * frameTicks;
            if (ts == AV_NOPTS_VALUE || (!out.empty() && ts <= previous))
                ts = previous + frameTicks;
            previous = ts;
            // An elementary stream has no clock of its own: frame n of it is
            // shown n frames after its start, at the rate the stream states
            // when it states one. FFmpeg's average is an estimate, which a
            // short stream of field pictures throws off (25.42 for 25).
            if (!haveZero) {
                const AVRational stated = dec->framerate;
                const int64_t ticks = stated.num > 0 && stated.den > 0
                                          ? av_rescale_q(1, av_inv_q(stated), st->time_base)
                                          : frameTicks;
                ts = firstShown + static_cast<int64_t>(out.size()) * ticks;
            }
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

} // namespace testmovies
