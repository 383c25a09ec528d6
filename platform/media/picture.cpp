#include "platform/media/picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/display.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

namespace media::detail {

namespace {

// SDR white in HDR video, in cd/m² (ITU-R BT.2408): what the tone mapping
// keeps at the sheet's white, so indoor scenes look as they were graded.
constexpr double kReferenceWhite = 203.0;
// The brightest highlight assumed when the stream does not say: the
// mastering peak of most HDR10 and HLG material.
constexpr double kDefaultPeak = 1000.0;

int swsColorspace(AVColorSpace space) {
    switch (space) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return SWS_CS_ITU601;
    }
}

bool isFullRangeFormat(int format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

bool isFullRange(const AVFrame* frame) {
    return frame->color_range == AVCOL_RANGE_JPEG || isFullRangeFormat(frame->format);
}

// zimg's names for what the frame is tagged with.
const char* zMatrix(AVColorSpace space) {
    switch (space) {
    case AVCOL_SPC_BT709:
        return "709";
    case AVCOL_SPC_BT2020_CL:
        return "2020_cl";
    case AVCOL_SPC_BT470BG:
        return "470bg";
    case AVCOL_SPC_SMPTE170M:
        return "170m";
    default:
        return "2020_ncl";
    }
}

const char* zPrimaries(AVColorPrimaries primaries) {
    switch (primaries) {
    case AVCOL_PRI_BT709:
        return "709";
    case AVCOL_PRI_SMPTE432:
        return "smpte432";
    default:
        return "2020";
    }
}

double peakOf(const AVFrame* frame) {
    if (const AVFrameSideData* sd =
            av_frame_get_side_data(frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL)) {
        const auto* light = reinterpret_cast<const AVContentLightMetadata*>(sd->data);
        if (light->MaxCLL > 0)
            return light->MaxCLL;
    }
    if (const AVFrameSideData* sd =
            av_frame_get_side_data(frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA)) {
        const auto* mastering = reinterpret_cast<const AVMasteringDisplayMetadata*>(sd->data);
        if (mastering->has_luminance && av_q2d(mastering->max_luminance) > 0)
            return av_q2d(mastering->max_luminance);
    }
    return kDefaultPeak;
}

} // namespace

Orientation orientationFrom(const int32_t* m) {
    Orientation o;
    if (!m)
        return o;
    const auto unit = [](int32_t v) { return static_cast<int>(std::lround(v / 65536.0)); };
    Orientation t{unit(m[0]), unit(m[1]), unit(m[3]), unit(m[4])};
    // Only the eight quarter turns and mirrors: one entry of each row and
    // column is ±1, the others 0.
    const bool straight = t.b == 0 && t.c == 0 && std::abs(t.a) == 1 && std::abs(t.d) == 1;
    const bool turned = t.a == 0 && t.d == 0 && std::abs(t.b) == 1 && std::abs(t.c) == 1;
    return straight || turned ? t : o;
}

AVColorSpace effectiveColorspace(AVColorSpace tagged, int height) {
    if (tagged != AVCOL_SPC_UNSPECIFIED && tagged != AVCOL_SPC_RESERVED)
        return tagged;
    return height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

bool isHdrTransfer(AVColorTransferCharacteristic trc) {
    return trc == AVCOL_TRC_SMPTE2084 || trc == AVCOL_TRC_ARIB_STD_B67;
}

PictureMaker::PictureMaker(int width, int height, Orientation orientation)
    : width_(width), height_(height), orientation_(orientation) {}

PictureMaker::~PictureMaker() = default;

Result PictureMaker::make(const AVFrame* frame, std::vector<uint8_t>* pixels) {
    if (width_ <= 0 || height_ <= 0 || frame->width <= 0 || frame->height <= 0)
        return E_BAD_VIDEO_SIZE;
    const AVFrame* source = frame;
    if (isHdrTransfer(frame->color_trc)) {
        const Result rc = toneMap(frame, &source);
        if (failed(rc))
            return rc;
    }
    const Result rc = scale(source);
    if (failed(rc))
        return rc;
    orient(pixels);
    return S_OK;
}

// HDR to SDR with FFmpeg's own filters: to linear light with the reference
// white at 1.0, to BT.709 primaries, highlights rolled off with the Möbius
// curve (which leaves the SDR part of the picture nearly as graded, unlike
// Hable's, which darkens it), back to the BT.709 transfer.
Result PictureMaker::toneMap(const AVFrame* frame, const AVFrame** out) {
    if (!graph_ || graphFormat_ != frame->format || graphWidth_ != frame->width ||
        graphHeight_ != frame->height) {
        graph_.reset(avfilter_graph_alloc());
        if (!graph_)
            return E_OUTOFMEMORY;
        graph_->nb_threads = 1;
        char args[160];
        std::snprintf(args, sizeof args,
                      "video_size=%dx%d:pix_fmt=%d:time_base=1/1:pixel_aspect=1/1", frame->width,
                      frame->height, frame->format);
        int rc = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in", args,
                                              nullptr, graph_.get());
        if (rc >= 0)
            rc = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, graph_.get());
        if (rc < 0)
            return rc;
        const AVColorSpace matrix = effectiveColorspace(frame->colorspace, frame->height);
        char chain[512];
        std::snprintf(chain, sizeof chain,
                      "zscale=tin=%s:min=%s:pin=%s:rin=%s:t=linear:npl=%.0f,format=gbrpf32le,"
                      "zscale=p=709,tonemap=tonemap=mobius:param=0.5:desat=0:peak=%.4f,"
                      "zscale=t=709:m=709:r=full:dither=ordered,format=gbrp",
                      frame->color_trc == AVCOL_TRC_SMPTE2084 ? "smpte2084" : "arib-std-b67",
                      zMatrix(matrix), zPrimaries(frame->color_primaries),
                      isFullRange(frame) ? "full" : "limited", kReferenceWhite,
                      peakOf(frame) / kReferenceWhite);
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        if (!outputs || !inputs) {
            avfilter_inout_free(&outputs);
            avfilter_inout_free(&inputs);
            return E_OUTOFMEMORY;
        }
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source_;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink_;
        rc = avfilter_graph_parse_ptr(graph_.get(), chain, &inputs, &outputs, nullptr);
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&inputs);
        if (rc >= 0)
            rc = avfilter_graph_config(graph_.get(), nullptr);
        if (rc < 0) {
            graph_.reset();
            return rc;
        }
        graphFormat_ = frame->format;
        graphWidth_ = frame->width;
        graphHeight_ = frame->height;
    }
    if (!mapped_)
        mapped_.reset(av_frame_alloc());
    av::FramePtr copy(av_frame_clone(frame));
    if (!mapped_ || !copy)
        return E_OUTOFMEMORY;
    av_frame_unref(mapped_.get());
    int rc = av_buffersrc_add_frame(source_, copy.get());
    if (rc >= 0)
        rc = av_buffersink_get_frame(sink_, mapped_.get());
    if (rc < 0)
        return rc;
    *out = mapped_.get();
    return S_OK;
}

Result PictureMaker::scale(const AVFrame* frame) {
    if (!bgr_) {
        bgr_.reset(av_frame_alloc());
        if (!bgr_)
            return E_OUTOFMEMORY;
        bgr_->format = AV_PIX_FMT_BGR24;
        bgr_->width = width_;
        bgr_->height = height_;
        const int rc = av_frame_get_buffer(bgr_.get(), 0);
        if (rc < 0) {
            bgr_.reset();
            return rc;
        }
    }
    // Chroma interpolated at full resolution and accurate rounding: 4:4:4
    // keeps its colour detail and 10-bit sources their smooth gradients.
    // The frame size may change on the way; every picture still comes out
    // at the size the connection announced.
    sws_.reset(sws_getCachedContext(
        sws_.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        width_, height_, AV_PIX_FMT_BGR24, SWS_BICUBIC | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND,
        nullptr, nullptr, nullptr));
    if (!sws_)
        return E_NO_CONVERSION;
    const int matrix = swsColorspace(effectiveColorspace(frame->colorspace, frame->height));
    sws_setColorspaceDetails(sws_.get(), sws_getCoefficients(matrix), isFullRange(frame) ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    sws_scale(sws_.get(), frame->data, frame->linesize, 0, frame->height, bgr_->data,
              bgr_->linesize);
    return S_OK;
}

// Bottom-up rows padded to four bytes, as a device-independent bitmap has
// them, with the picture turned and mirrored on the way.
void PictureMaker::orient(std::vector<uint8_t>* pixels) const {
    const int w = outputWidth(), h = outputHeight();
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
    pixels->assign(stride * h, 0);
    const uint8_t* src = bgr_->data[0];
    const ptrdiff_t srcStride = bgr_->linesize[0];
    const Orientation& o = orientation_;
    if (o.identity()) {
        for (int y = 0; y < h; ++y)
            std::memcpy(pixels->data() + stride * (h - 1 - y), src + y * srcStride,
                        static_cast<size_t>(w) * 3);
        return;
    }
    // x' = a·x + c·y, y' = b·x + d·y, moved back into the picture.
    const int offX = -std::min(0, o.a * (width_ - 1)) - std::min(0, o.c * (height_ - 1));
    const int offY = -std::min(0, o.b * (width_ - 1)) - std::min(0, o.d * (height_ - 1));
    for (int y = 0; y < height_; ++y) {
        const uint8_t* row = src + y * srcStride;
        for (int x = 0; x < width_; ++x) {
            const int tx = o.a * x + o.c * y + offX;
            const int ty = o.b * x + o.d * y + offY;
            uint8_t* to = pixels->data() + stride * (h - 1 - ty) + 3 * static_cast<size_t>(tx);
            std::memcpy(to, row + 3 * x, 3);
        }
    }
}

} // namespace media::detail
