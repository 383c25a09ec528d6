#include "platform/media/picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/media/av_enums.h"
#include "platform/media/errors.h"
#include "platform/media/movie_reader.h"

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
    return rangeOf(frame->color_range) == AVCOL_RANGE_JPEG || isFullRangeFormat(frame->format);
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

PictureMaker::PictureMaker(Orientation orientation) : orientation_(orientation) {}

PictureMaker::~PictureMaker() = default;

Result PictureMaker::make(const AVFrame* frame, int width, int height, Picture* out) {
    if (width <= 0 || height <= 0 || frame->width <= 0 || frame->height <= 0)
        return badVideoSizeResult();
    const AVFrame* source = frame;
    if (isHdrTransfer(transferOf(frame->color_trc))) {
        const Result rc = toneMap(frame, &source);
        if (!rc.ok())
            return rc;
    }
    // Scaled as stored, then turned: a quarter turn trades the sides.
    const bool swap = orientation_.swapsAxes();
    const Result rc = scale(source, swap ? height : width, swap ? width : height);
    if (!rc.ok())
        return rc;
    orient(width, height, out);
    return Result::success();
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
            return outOfMemoryResult();
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
            return avResult(rc);
        const AVColorSpace matrix = effectiveColorspace(matrixOf(frame->colorspace), frame->height);
        char chain[512];
        std::snprintf(chain, sizeof chain,
                      "zscale=tin=%s:min=%s:pin=%s:rin=%s:t=linear:npl=%.0f,format=gbrpf32le,"
                      "zscale=p=709,tonemap=tonemap=mobius:param=0.5:desat=0:peak=%.4f,"
                      "zscale=t=709:m=709:r=full:dither=ordered,format=gbrp",
                      transferOf(frame->color_trc) == AVCOL_TRC_SMPTE2084 ? "smpte2084"
                                                                          : "arib-std-b67",
                      zMatrix(matrix), zPrimaries(primariesOf(frame->color_primaries)),
                      isFullRange(frame) ? "full" : "limited", kReferenceWhite,
                      peakOf(frame) / kReferenceWhite);
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        if (!outputs || !inputs) {
            avfilter_inout_free(&outputs);
            avfilter_inout_free(&inputs);
            return outOfMemoryResult();
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
            return avResult(rc);
        }
        graphFormat_ = frame->format;
        graphWidth_ = frame->width;
        graphHeight_ = frame->height;
    }
    if (!mapped_)
        mapped_.reset(av_frame_alloc());
    av::FramePtr copy(av_frame_clone(frame));
    if (!mapped_ || !copy)
        return outOfMemoryResult();
    av_frame_unref(mapped_.get());
    int rc = av_buffersrc_add_frame(source_, copy.get());
    if (rc >= 0)
        rc = av_buffersink_get_frame(sink_, mapped_.get());
    if (rc < 0)
        return avResult(rc);
    *out = mapped_.get();
    return Result::success();
}

Result PictureMaker::scale(const AVFrame* frame, int width, int height) {
    if (!rgb_ || rgb_->width != width || rgb_->height != height) {
        rgb_.reset(av_frame_alloc());
        if (!rgb_)
            return outOfMemoryResult();
        rgb_->format = AV_PIX_FMT_RGB24;
        rgb_->width = width;
        rgb_->height = height;
        const int rc = av_frame_get_buffer(rgb_.get(), 0);
        if (rc < 0) {
            rgb_.reset();
            return avResult(rc);
        }
    }
    // Chroma interpolated at full resolution and accurate rounding: 4:4:4
    // keeps its colour detail and 10-bit sources their smooth gradients.
    // The frame size may change on the way; every picture still comes out
    // at the size asked for.
    constexpr int kColourFlags = SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND;
    const int matrix =
        swsColorspace(effectiveColorspace(matrixOf(frame->colorspace), frame->height));
    const auto colours = [&](SwsContext* sws) {
        sws_setColorspaceDetails(sws, sws_getCoefficients(matrix), isFullRange(frame) ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    };
    const bool shrinks = width < frame->width || height < frame->height;
    // Where the picture shrinks by little, its chroma is about as fine as
    // the target's pixels, and shrinking the subsampled planes on their own
    // would smear colour edges: the colours are made at full size first
    // (cheap at that size) and the result shrunk as RGB.
    const bool mild =
        shrinks && int64_t{frame->width} * frame->height <= kMildShrink * int64_t{width} * height;
    if (mild) {
        if (!full_ || full_->width != frame->width || full_->height != frame->height) {
            full_.reset(av_frame_alloc());
            if (!full_)
                return outOfMemoryResult();
            full_->format = AV_PIX_FMT_RGB24;
            full_->width = frame->width;
            full_->height = frame->height;
            if (av_frame_get_buffer(full_.get(), 0) < 0) {
                full_.reset();
                return outOfMemoryResult();
            }
        }
        fullSws_.reset(sws_getCachedContext(fullSws_.release(), frame->width, frame->height,
                                            static_cast<AVPixelFormat>(frame->format), frame->width,
                                            frame->height, AV_PIX_FMT_RGB24,
                                            SWS_BICUBIC | kColourFlags, nullptr, nullptr, nullptr));
        sws_.reset(sws_getCachedContext(sws_.release(), frame->width, frame->height,
                                        AV_PIX_FMT_RGB24, width, height, AV_PIX_FMT_RGB24,
                                        SWS_AREA | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
        if (!fullSws_ || !sws_)
            return noConversionResult();
        colours(fullSws_.get());
        sws_scale(fullSws_.get(), frame->data, frame->linesize, 0, frame->height, full_->data,
                  full_->linesize);
        sws_scale(sws_.get(), full_->data, full_->linesize, 0, frame->height, rgb_->data,
                  rgb_->linesize);
        return Result::success();
    }
    // Otherwise straight from the decoded format to the size the picture is
    // drawn at: averaged over each target pixel's area where it shrinks
    // (every source pixel counts, so fine detail turns to its true mean
    // instead of aliasing), Lanczos where it grows.
    sws_.reset(sws_getCachedContext(
        sws_.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        width, height, AV_PIX_FMT_RGB24, (shrinks ? SWS_AREA : SWS_LANCZOS) | kColourFlags, nullptr,
        nullptr, nullptr));
    if (!sws_)
        return noConversionResult();
    colours(sws_.get());
    sws_scale(sws_.get(), frame->data, frame->linesize, 0, frame->height, rgb_->data,
              rgb_->linesize);
    return Result::success();
}

// Rows top-down without padding, with the picture turned and mirrored on the
// way.
void PictureMaker::orient(int width, int height, Picture* out) const {
    out->width = width;
    out->height = height;
    const size_t stride = static_cast<size_t>(width) * 3;
    out->rgb.resize(stride * static_cast<size_t>(height));
    const uint8_t* src = rgb_->data[0];
    const ptrdiff_t srcStride = rgb_->linesize[0];
    const Orientation& o = orientation_;
    if (o.identity()) {
        for (int y = 0; y < height; ++y)
            std::memcpy(out->rgb.data() + stride * static_cast<size_t>(y), src + y * srcStride,
                        stride);
        return;
    }
    // x' = a·x + c·y, y' = b·x + d·y, moved back into the picture.
    const int w = rgb_->width, h = rgb_->height;
    const int offX = -std::min(0, o.a * (w - 1)) - std::min(0, o.c * (h - 1));
    const int offY = -std::min(0, o.b * (w - 1)) - std::min(0, o.d * (h - 1));
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = src + y * srcStride;
        for (int x = 0; x < w; ++x) {
            const int tx = o.a * x + o.c * y + offX;
            const int ty = o.b * x + o.d * y + offY;
            std::memcpy(out->rgb.data() + stride * static_cast<size_t>(ty) +
                            3 * static_cast<size_t>(tx),
                        row + 3 * x, 3);
        }
    }
}

} // namespace media::detail
