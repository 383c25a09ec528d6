#pragma once
// Owners for the FFmpeg objects of the media layer: each is a unique_ptr
// whose deleter calls the library's own free function, so nothing is freed by
// hand and every failure path releases what it holds.

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace media::av {

struct InputDeleter {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

struct FilterGraphDeleter {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

// Unreferences a packet when the scope that filled it ends.
class PacketRef {
public:
    explicit PacketRef(AVPacket* p) : p_(p) {}
    ~PacketRef() { av_packet_unref(p_); }
    PacketRef(const PacketRef&) = delete;
    PacketRef& operator=(const PacketRef&) = delete;

private:
    AVPacket* p_;
};

} // namespace media::av
