#include "platform/media/media_facts.h"

#include <cmath>
#include <cstring>
#include <sys/stat.h>

#include "platform/media/movie.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace media {

namespace {

std::string text(const char* s) {
    return s ? std::string(s) : std::string();
}

// The colour names FFmpeg gives, with "unknown"/"unspecified" as empty.
std::string known(const char* name) {
    if (!name || std::strcmp(name, "unknown") == 0 || std::strcmp(name, "unspecified") == 0)
        return {};
    return name;
}

// Single-picture demuxers: FFmpeg recognises an image by its content and
// offers it as a one-frame video stream.
bool isImageDemuxer(const AVInputFormat* format) {
    if (!format || !format->name)
        return false;
    const std::string name = format->name;
    const std::string pipe = "_pipe";
    return name == "image2" || (name.size() > pipe.size() &&
                                name.compare(name.size() - pipe.size(), pipe.size(), pipe) == 0);
}

const int32_t* displayMatrix(const AVStream* st) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 31, 102)
    const AVPacketSideData* sd = av_packet_side_data_get(
        st->codecpar->coded_side_data, st->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    return sd && sd->size >= 9 * sizeof(int32_t) ? reinterpret_cast<const int32_t*>(sd->data)
                                                 : nullptr;
#else
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    return data && size >= 9 * sizeof(int32_t) ? reinterpret_cast<const int32_t*>(data) : nullptr;
#endif
}

// The display matrix turns the picture counter-clockwise; players undo that,
// which is a clockwise turn by the same angle, to the nearest quarter.
int clockwiseRotation(const AVStream* st) {
    const int32_t* matrix = displayMatrix(st);
    if (!matrix)
        return 0;
    const double angle = av_display_rotation_get(matrix);
    if (!std::isfinite(angle))
        return 0;
    const long quarters = std::lround(-angle / 90.0);
    return static_cast<int>(((quarters % 4) + 4) % 4) * 90;
}

void readVideo(AVFormatContext* input, AVStream* st, VideoFacts* v) {
    const AVCodecParameters* par = st->codecpar;
    v->codec = text(avcodec_get_name(par->codec_id));
    v->profile = text(avcodec_profile_name(par->codec_id, par->profile));
    v->width = par->width;
    v->height = par->height;
    const AVRational sar = av_guess_sample_aspect_ratio(input, st, nullptr);
    if (sar.num > 0 && sar.den > 0) {
        v->sampleAspectNum = sar.num;
        v->sampleAspectDen = sar.den;
    }
    v->rotation = clockwiseRotation(st);
    int displayWidth = par->width;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den)
        displayWidth =
            static_cast<int>(std::lround(static_cast<double>(par->width) * sar.num / sar.den));
    const bool turned = v->rotation == 90 || v->rotation == 270;
    v->displayWidth = turned ? par->height : displayWidth;
    v->displayHeight = turned ? displayWidth : par->height;

    AVRational rate = st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = st->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        v->frameRateNum = rate.num;
        v->frameRateDen = rate.den;
    }
    v->bitRate = par->bit_rate > 0 ? par->bit_rate : 0;
    v->pixelFormat = text(av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format)));
    v->colorTransfer = known(av_color_transfer_name(par->color_trc));
    v->colorPrimaries = known(av_color_primaries_name(par->color_primaries));
    v->colorSpace = known(av_color_space_name(par->color_space));
    v->colorRange = known(av_color_range_name(par->color_range));
}

AudioFacts readAudio(const AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    AudioFacts a;
    a.codec = text(avcodec_get_name(par->codec_id));
    a.channels = par->ch_layout.nb_channels;
    a.sampleRate = par->sample_rate;
    a.bitRate = par->bit_rate > 0 ? par->bit_rate : 0;
    const AVDictionaryEntry* language = av_dict_get(st->metadata, "language", nullptr, 0);
    if (language && language->value && std::strcmp(language->value, "und") != 0)
        a.language = language->value;
    return a;
}

} // namespace

Result readMediaFacts(const std::string& path, FactsDepth depth, MediaFacts* out,
                      const std::atomic<bool>* stop) {
    if (!out)
        return E_INVALIDARG;
    *out = MediaFacts{};
    if (path.empty())
        return E_NO_FILE_NAME;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        out->fileSize = static_cast<int64_t>(st.st_size);

    av::InputPtr input;
    const Result rc = detail::openInput(path, nullptr, stop, &input);
    if (failed(rc))
        return rc;
    detail::MovieInfo info;
    detail::describe(input.get(), path, &info);

    out->container = text(input->iformat->name);
    out->containerName = text(input->iformat->long_name);
    out->bitRate = input->bit_rate > 0 ? input->bit_rate : 0;
    out->stillImage = isImageDemuxer(input->iformat);
    out->hasVideo = info.videoStream >= 0;
    if (out->hasVideo)
        readVideo(input.get(), input->streams[info.videoStream], &out->video);
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (info.streamTypes[i] == MajorType::Audio)
            out->audio.push_back(readAudio(input->streams[i]));

    if (depth == FactsDepth::Full) {
        // A file whose length cannot be found still has its other facts.
        int64_t duration = 0;
        const Result measured = detail::measureDuration(input.get(), info, &duration, stop);
        if (measured == E_ABORT)
            return E_ABORT;
        if (succeeded(measured))
            out->duration = duration;
    }
    return S_OK;
}

} // namespace media
