#include "platform/media/movie.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <sys/stat.h>

#include "platform/media/input_source.h"

extern "C" {
#include <libavutil/display.h>
}

namespace media::detail {

namespace {

constexpr int64_t kUnitsPerSecond = 10000000;

bool stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

int interruptCallback(void* opaque) {
    return stopped(static_cast<const std::atomic<bool>*>(opaque)) ? 1 : 0;
}

// Whether FFmpeg would read the path as a file of the file system that can
// be read more than once. A path of another protocol (pipe:, http:) is no
// such file, and neither is a FIFO, a device or a socket: opening a FIFO
// alone waits for a writer that may never come. A path that cannot be
// looked at is left to FFmpeg, which says why in its own words.
bool plainFileOrMissing(const std::string& path) {
    const char* protocol = avio_find_protocol_name(path.c_str());
    if (protocol && std::strcmp(protocol, "file") != 0)
        return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return true;
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

// Codecs that tagging tools put cover pictures in.
bool isImageCodec(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_PNG:
    case AV_CODEC_ID_BMP:
    case AV_CODEC_ID_GIF:
    case AV_CODEC_ID_WEBP:
    case AV_CODEC_ID_TIFF:
        return true;
    default:
        return false;
    }
}

// A single picture in a video stream of its own: cover art marked as such,
// a one-frame track, or (where a muxer dropped the mark) a picture codec
// beside video in a movie codec.
bool isStillPicture(const AVStream* st, bool besideMovieCodec) {
    if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return true;
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return false;
    return st->nb_frames == 1 || (besideMovieCodec && isImageCodec(st->codecpar->codec_id));
}

MajorType majorTypeOf(const AVStream* st) {
    if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return MajorType::Data;
    switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        return MajorType::Video;
    case AVMEDIA_TYPE_AUDIO:
        return MajorType::Audio;
    case AVMEDIA_TYPE_SUBTITLE:
        return MajorType::Subtitle;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT:
        return MajorType::Data;
    default:
        return MajorType::Unknown;
    }
}

// The end of the video (or of the whole file when there is no video) on the
// video stream's clock, from the packets read until the end of the file.
struct EndTracker {
    const MovieInfo& info;
    int64_t end = AV_NOPTS_VALUE;
    // A reference picture whose packet had no presentation time (program
    // streams stamp only some): it is shown after the B-pictures decoded
    // after it, and so last of all when no later reference follows.
    bool untimedReference = false;

    int64_t result() const {
        return untimedReference && end != AV_NOPTS_VALUE ? end + info.frameDuration : end;
    }

    void add(const AVFormatContext* input, const AVPacket* pkt) {
        const int wanted = info.videoStream;
        if (wanted >= 0 && pkt->stream_index != wanted)
            return;
        if (wanted >= 0 && info.reorderDelay > 0 && pkt->dts != AV_NOPTS_VALUE) {
            if (pkt->pts == AV_NOPTS_VALUE)
                untimedReference = true;
            else if (pkt->pts > pkt->dts)
                untimedReference = false;
        }
        int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (ts == AV_NOPTS_VALUE)
            return;
        int64_t length = pkt->duration > 0 ? pkt->duration : info.frameDuration;
        if (wanted < 0) {
            // Audio-only or data: carry the time over to the common clock.
            const AVRational from = input->streams[pkt->stream_index]->time_base;
            ts = av_rescale_q(ts + length, from, info.timeBase);
            length = 0;
        }
        if (end == AV_NOPTS_VALUE || ts + length > end)
            end = ts + length;
    }
};

void readToEnd(AVFormatContext* input, EndTracker* tracker, const std::atomic<bool>* stop) {
    av::PacketPtr pkt(av_packet_alloc());
    if (!pkt)
        return;
    int errors = 0;
    for (;;) {
        if (stopped(stop))
            break;
        const int rc = av_read_frame(input, pkt.get());
        if (rc == AVERROR_EOF)
            break;
        if (rc < 0) {
            // A damaged stretch: keep reading past it, but not forever.
            if (++errors > 64 || avio_feof(input->pb))
                break;
            continue;
        }
        av::PacketRef unref(pkt.get());
        tracker->add(input, pkt.get());
    }
}

// Reads the last stretch of the file, wider each time, until a video packet
// with a time stamp shows up.
int64_t endFromTail(AVFormatContext* input, const MovieInfo& info, const std::atomic<bool>* stop) {
    if (!input->pb || !(input->pb->seekable & AVIO_SEEKABLE_NORMAL))
        return AV_NOPTS_VALUE;
    const int64_t size = avio_size(input->pb);
    if (size <= 0)
        return AV_NOPTS_VALUE;
    for (int64_t chunk = int64_t{1} << 20; !stopped(stop); chunk *= 4) {
        const int64_t from = std::max<int64_t>(0, size - chunk);
        if (av_seek_frame(input, -1, from, AVSEEK_FLAG_BYTE) < 0)
            return AV_NOPTS_VALUE;
        EndTracker tracker{info};
        readToEnd(input, &tracker, stop);
        if (tracker.end != AV_NOPTS_VALUE || from == 0)
            return tracker.result();
    }
    return AV_NOPTS_VALUE;
}

// Elementary streams carry no time stamps: only reading the whole file from
// its start, where the demuxer counts frames, tells where it ends.
int64_t endFromWholeFile(const MovieInfo& info, const std::atomic<bool>* stop) {
    av::InputPtr fresh;
    if (failed(openInput(info.path, info.format, stop, &fresh)))
        return AV_NOPTS_VALUE;
    EndTracker tracker{info};
    readToEnd(fresh.get(), &tracker, stop);
    return tracker.result();
}

} // namespace

Result openInput(const std::string& path, const AVInputFormat* format,
                 const std::atomic<bool>* stop, av::InputPtr* out, Probe probe) {
    out->reset();
    if (stopped(stop))
        return E_ABORT;
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        return E_OUTOFMEMORY;
    if (stop) {
        raw->interrupt_callback.callback = interruptCallback;
        raw->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(stop);
    }
    // Bytes from an installed source instead of the file system; the source
    // keeps ownership of its reader.
    if (InputSource* source = inputSource()) {
        if (AVIOContext* reader = source->open(path)) {
            raw->pb = reader;
            raw->flags |= AVFMT_FLAG_CUSTOM_IO;
        }
    }
    if (!raw->pb && !plainFileOrMissing(path)) {
        avformat_free_context(raw);
        return E_NOT_REGULAR_FILE;
    }
    // avformat_open_input frees the context itself when it fails.
    int rc = avformat_open_input(&raw, path.c_str(), format, nullptr);
    if (rc < 0)
        return stopped(stop) ? E_ABORT : rc;
    av::InputPtr input(raw);
    if ((probe == Probe::Header ||
         (probe == Probe::IfNeeded && !(input->ctx_flags & AVFMTCTX_NOHEADER))) &&
        input->nb_streams > 0) {
        *out = std::move(input);
        return S_OK;
    }
    rc = avformat_find_stream_info(input.get(), nullptr);
    // Stream parameters cut short by a stop are not to be taken for the file's.
    if (stopped(stop))
        return E_ABORT;
    // Missing parameters of some stream are no reason to refuse a file that
    // has streams; the video stream is checked where it is used.
    if (rc < 0 && input->nb_streams == 0)
        return rc;
    if (input->nb_streams == 0)
        return AVERROR_INVALIDDATA;
    *out = std::move(input);
    return S_OK;
}

Probe probeForReopening(const MovieInfo& info) {
    const std::string name = info.format ? info.format->name : "";
    const bool stamped = name.rfind("mov,mp4", 0) == 0 || name.rfind("matroska", 0) == 0;
    return stamped ? Probe::IfNeeded : Probe::Full;
}

void describe(AVFormatContext* input, const std::string& path, MovieInfo* info) {
    *info = MovieInfo{};
    info->path = path;
    info->format = input->iformat;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        info->streamTypes.push_back(majorTypeOf(input->streams[i]));

    // The movie is the main video stream. A still picture beside moving
    // video is cover art, wherever it stands, and never shows as a video
    // pin; a file whose only video is a still picture is still that picture.
    bool movieCodec = false;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        movieCodec = movieCodec || (info->streamTypes[i] == MajorType::Video &&
                                    !isImageCodec(input->streams[i]->codecpar->codec_id));
    int moving = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        moving += info->streamTypes[i] == MajorType::Video &&
                  !isStillPicture(input->streams[i], movieCodec);
    if (moving > 0)
        for (unsigned i = 0; i < input->nb_streams; ++i)
            if (info->streamTypes[i] == MajorType::Video &&
                isStillPicture(input->streams[i], movieCodec))
                info->streamTypes[i] = MajorType::Data;
    int best = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (best < 0 || info->streamTypes[best] != MajorType::Video) {
        best = -1;
        for (unsigned i = 0; i < input->nb_streams && best < 0; ++i)
            if (info->streamTypes[i] == MajorType::Video)
                best = static_cast<int>(i);
    }
    info->videoStream = best;
    const char* name = input->iformat->name;
    info->decodingStampsOnly = std::strcmp(name, "avi") == 0;
    info->restartsAtByteZero =
        !(input->iformat->flags & AVFMT_NO_BYTE_SEEK) &&
        (std::strcmp(name, "mpegts") == 0 || std::strcmp(name, "mpeg") == 0 ||
         std::strcmp(name, "mpegvideo") == 0 || std::strcmp(name, "h264") == 0 ||
         std::strcmp(name, "hevc") == 0 || std::strcmp(name, "m4v") == 0);

    // Positions count from the start of the whole file, as a player's clock
    // does: MPEG program streams, for one, start half a second in. The
    // earliest stream's own start is exact where the container's rounded
    // figure is not.
    bool haveStart = false;
    int64_t start = 0;
    AVRational startBase = AV_TIME_BASE_Q;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        if (s->start_time == AV_NOPTS_VALUE)
            continue;
        if (!haveStart || av_compare_ts(s->start_time, s->time_base, start, startBase) < 0) {
            start = s->start_time;
            startBase = s->time_base;
            haveStart = true;
        }
    }
    if (!haveStart && input->start_time != AV_NOPTS_VALUE) {
        start = input->start_time;
        startBase = AV_TIME_BASE_Q;
        haveStart = true;
    }
    info->timestampsInFile = haveStart;

    if (best < 0) {
        info->timeBase = AV_TIME_BASE_Q;
        info->zero = haveStart ? av_rescale_q(start, startBase, AV_TIME_BASE_Q) : 0;
        return;
    }
    const AVStream* st = input->streams[best];
    info->timeBase = st->time_base;
    info->zero = haveStart ? av_rescale_q(start, startBase, st->time_base) : 0;
    AVCodecParameters* copy = avcodec_parameters_alloc();
    if (copy && avcodec_parameters_copy(copy, st->codecpar) >= 0)
        info->video.reset(copy, [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
    else
        avcodec_parameters_free(&copy);

    // The frame rate the movie states. FFmpeg's fall-back guess is often
    // just the clock's tick (1000 a second for Matroska and FLV), which no
    // user would call the movie's rate; it still serves as a frame's length
    // where nothing better is known.
    const auto valid = [](AVRational r) { return r.num > 0 && r.den > 0; };
    AVRational rate = st->avg_frame_rate;
    if (valid(rate)) {
        info->avgFrameTime = av_q2d(av_inv_q(rate));
    } else {
        rate = st->r_frame_rate;
        const bool tick = av_cmp_q(rate, av_inv_q(st->time_base)) == 0;
        if (valid(rate) && !tick)
            info->avgFrameTime = av_q2d(av_inv_q(rate));
    }
    if (valid(rate))
        info->frameDuration = std::max<int64_t>(0, av_rescale_q(1, av_inv_q(rate), st->time_base));
    info->reorderDelay = std::max(st->codecpar->video_delay, 0);
    info->firstTimestamp = st->start_time;
    if (!haveStart) {
        // An elementary stream has no clock: the demuxer counts decoding
        // times from 0, so the first picture shows after the reorder delay.
        // The movie starts with that picture.
        info->zero = info->reorderDelay * info->frameDuration;
        info->firstTimestamp = info->zero;
    }
    info->width = st->codecpar->width;
    info->height = st->codecpar->height;
    info->scaledWidth = info->width;
    info->scaledHeight = info->height;
    const AVRational sar = av_guess_sample_aspect_ratio(input, const_cast<AVStream*>(st), nullptr);
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den && info->width > 0)
        info->scaledWidth =
            static_cast<int>(std::max<int64_t>(1, av_rescale(info->width, sar.num, sar.den)));
    info->orientation = orientationFrom(reinterpret_cast<const int32_t*>(
        av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr)));
}

Result measureDuration(AVFormatContext* input, const MovieInfo& info, int64_t* duration,
                       const std::atomic<bool>* stop) {
    *duration = 0;
    // A length from the container's header is taken as it is. FFmpeg's own
    // reading of the end time stamps stops short by the last few frames of
    // reordered MPEG video, and a length from the bit rate is a guess: for
    // those the end of the file is read here.
    const bool fromHeader = input->duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
    const bool guessed = input->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    if (fromHeader && info.videoStream >= 0) {
        // The video's own extent keeps every moment inside the pictures even
        // when the sound runs longer.
        const AVStream* st = input->streams[info.videoStream];
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
            const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : info.zero;
            *duration = std::max<int64_t>(0, toPosition(info, start + st->duration));
            return S_OK;
        }
    }
    if (fromHeader && input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        *duration = av_rescale(input->duration, kUnitsPerSecond, AV_TIME_BASE);
        return S_OK;
    }

    int64_t end = info.timestampsInFile ? endFromTail(input, info, stop) : AV_NOPTS_VALUE;
    if (end == AV_NOPTS_VALUE && !stopped(stop))
        end = endFromWholeFile(info, stop);
    // Whatever was read before the stop is not the end of the movie.
    if (stopped(stop))
        return E_ABORT;
    if (end != AV_NOPTS_VALUE) {
        *duration = std::max<int64_t>(0, toPosition(info, end));
        return S_OK;
    }
    // Nothing better to be had than FFmpeg's figure.
    if (!guessed && info.videoStream >= 0) {
        const AVStream* st = input->streams[info.videoStream];
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
            const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : info.zero;
            *duration = std::max<int64_t>(0, toPosition(info, start + st->duration));
            return S_OK;
        }
    }
    if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        *duration = av_rescale(input->duration, kUnitsPerSecond, AV_TIME_BASE);
        return S_OK;
    }
    return E_FAIL;
}

int64_t toPosition(const MovieInfo& info, int64_t timestamp) {
    return av_rescale_q(timestamp - info.zero, info.timeBase, AVRational{1, kUnitsPerSecond});
}

int64_t toTimestampFloor(const MovieInfo& info, int64_t position) {
    return info.zero +
           av_rescale_q_rnd(position, AVRational{1, kUnitsPerSecond}, info.timeBase, AV_ROUND_DOWN);
}

int compareToPosition(const MovieInfo& info, int64_t timestamp, int64_t position) {
    // (ts − zero) · num / den against position / 10⁷, without rounding: a
    // frame that starts a fraction of a unit before the position is before it.
    __extension__ typedef __int128 Wide;
    const Wide lhs = static_cast<Wide>(timestamp - info.zero) * info.timeBase.num * kUnitsPerSecond;
    const Wide rhs = static_cast<Wide>(position) * info.timeBase.den;
    return (lhs > rhs) - (lhs < rhs);
}

double toSeconds(const MovieInfo& info, int64_t timestamp) {
    return static_cast<double>(timestamp - info.zero) * info.timeBase.num / info.timeBase.den;
}

} // namespace media::detail
