#include "platform/media/movie.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <sys/stat.h>

#include "platform/media/errors.h"
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

StreamKind kindOf(const AVStream* st) {
    if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return StreamKind::Data;
    switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        return StreamKind::Video;
    case AVMEDIA_TYPE_AUDIO:
        return StreamKind::Audio;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT:
        return StreamKind::Data;
    default:
        return StreamKind::Other;
    }
}

// The end of the video (or of the whole file when there is no video) on the
// video stream's clock, from the packets read until the end of the file.
struct EndTracker {
    const MovieInfo& info;
    int64_t end = AV_NOPTS_VALUE;
    int64_t pictures = 0; // of the video: packets, but a field pair counts once
    std::unique_ptr<FieldPairs> fields =
        info.fieldPictures ? std::make_unique<FieldPairs>(info.video.get()) : nullptr;
    // A reference picture whose packet had no presentation time (program
    // streams stamp only some): it is shown after the B-pictures decoded
    // after it, and so last of all when no later reference follows.
    bool untimedReference = false;

    int64_t result() const {
        // Without time stamps the pictures, counted, tell the end.
        if (info.countsFrames)
            return pictures > 0 && info.frameDuration > 0
                       ? info.zero + pictures * info.frameDuration
                       : AV_NOPTS_VALUE;
        return untimedReference && end != AV_NOPTS_VALUE ? end + info.frameDuration : end;
    }

    void add(const AVFormatContext* input, const AVPacket* pkt) {
        const int wanted = info.videoStream;
        if (wanted >= 0 && pkt->stream_index != wanted)
            return;
        if (!(fields && fields->secondField(pkt)))
            ++pictures;
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

// Hands every packet from where the demuxer stands to the end of the data
// to `each`, reading past damaged stretches, but not forever. False when
// the stop flag ended the reading.
template <typename Each>
bool readPackets(AVFormatContext* input, const std::atomic<bool>* stop, Each&& each) {
    av::PacketPtr pkt(av_packet_alloc());
    if (!pkt)
        return true;
    int errors = 0;
    for (;;) {
        if (stopped(stop))
            return false;
        const int rc = av_read_frame(input, pkt.get());
        if (rc == AVERROR_EOF)
            return true;
        if (rc < 0) {
            if (++errors > 64 || avio_feof(input->pb))
                return true;
            continue;
        }
        av::PacketRef unref(pkt.get());
        each(pkt.get());
    }
}

void readToEnd(AVFormatContext* input, EndTracker* tracker, const std::atomic<bool>* stop) {
    readPackets(input, stop, [&](const AVPacket* pkt) { tracker->add(input, pkt); });
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
int64_t endFromWholeFile(AVFormatContext* input, const MovieInfo& info, int64_t* frames,
                         const std::atomic<bool>* stop) {
    EndTracker tracker{info};
    readToEnd(input, &tracker, stop);
    if (frames)
        *frames = tracker.pictures;
    return tracker.result();
}

} // namespace

Result openInput(const std::string& path, const AVInputFormat* format,
                 const std::atomic<bool>* stop, av::InputPtr* out, Probe probe) {
    out->reset();
    if (stopped(stop))
        return cancelledResult();
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        return outOfMemoryResult();
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
        return notRegularFileResult();
    }
    // avformat_open_input frees the context itself when it fails.
    int rc = avformat_open_input(&raw, path.c_str(), format, nullptr);
    if (rc < 0)
        return stopped(stop) ? cancelledResult() : avResult(rc);
    av::InputPtr input(raw);
    if ((probe == Probe::Header ||
         (probe == Probe::IfNeeded && !(input->ctx_flags & AVFMTCTX_NOHEADER))) &&
        input->nb_streams > 0) {
        *out = std::move(input);
        return Result::success();
    }
    rc = avformat_find_stream_info(input.get(), nullptr);
    // Stream parameters cut short by a stop are not to be taken for the file's.
    if (stopped(stop))
        return cancelledResult();
    // Missing parameters of some stream are no reason to refuse a file that
    // has streams; the video stream is checked where it is used.
    if (rc < 0 && input->nb_streams == 0)
        return avResult(rc);
    if (input->nb_streams == 0)
        return avResult(AVERROR_INVALIDDATA);
    *out = std::move(input);
    return Result::success();
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
        info->streamKinds.push_back(kindOf(input->streams[i]));

    // The movie is the main video stream. A still picture beside moving
    // video is cover art, wherever it stands, and never shows as a video
    // pin; a file whose only video is a still picture is still that picture.
    bool movieCodec = false;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        movieCodec = movieCodec || (info->streamKinds[i] == StreamKind::Video &&
                                    !isImageCodec(input->streams[i]->codecpar->codec_id));
    int moving = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        moving += info->streamKinds[i] == StreamKind::Video &&
                  !isStillPicture(input->streams[i], movieCodec);
    if (moving > 0)
        for (unsigned i = 0; i < input->nb_streams; ++i)
            if (info->streamKinds[i] == StreamKind::Video &&
                isStillPicture(input->streams[i], movieCodec))
                info->streamKinds[i] = StreamKind::Data;
    int best = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (best < 0 || info->streamKinds[best] != StreamKind::Video) {
        best = -1;
        for (unsigned i = 0; i < input->nb_streams && best < 0; ++i)
            if (info->streamKinds[i] == StreamKind::Video)
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
    info->countsFrames =
        !haveStart && (std::strcmp(name, "h264") == 0 || std::strcmp(name, "hevc") == 0);

    if (best < 0) {
        info->timeBase = AV_TIME_BASE_Q;
        info->zero = haveStart ? av_rescale_q(start, startBase, AV_TIME_BASE_Q) : 0;
        return;
    }
    const AVStream* st = input->streams[best];
    info->timeBase = st->time_base;
    info->zero = haveStart ? av_rescale_q(start, startBase, st->time_base) : 0;
    info->fieldPictures = st->codecpar->codec_id == AV_CODEC_ID_H264 ||
                          st->codecpar->codec_id == AV_CODEC_ID_MPEG2VIDEO;
    AVCodecParameters* copy = avcodec_parameters_alloc();
    if (copy && avcodec_parameters_copy(copy, st->codecpar) >= 0)
        info->video.reset(copy, [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
    else
        avcodec_parameters_free(&copy);

    // The frame rate the movie states. FFmpeg's fall-back guess is often
    // just the clock's tick (1000 a second for Matroska and FLV), which no
    // user would call the movie's rate; it still serves as a frame's length
    // where nothing better is known. A clock that ticks once a frame (Ogg's
    // Theora) does state the rate.
    const auto valid = [](AVRational r) { return r.num > 0 && r.den > 0; };
    AVRational rate = st->avg_frame_rate;
    if (valid(rate)) {
        info->avgFrameTime = av_q2d(av_inv_q(rate));
    } else {
        rate = st->r_frame_rate;
        constexpr int kFastestPlausibleRate = 240;
        const bool tick = av_cmp_q(rate, av_inv_q(st->time_base)) == 0 &&
                          av_cmp_q(rate, AVRational{kFastestPlausibleRate, 1}) > 0;
        if (valid(rate) && !tick)
            info->avgFrameTime = av_q2d(av_inv_q(rate));
    }
    if (valid(rate))
        info->frameDuration = std::max<int64_t>(0, av_rescale_q(1, av_inv_q(rate), st->time_base));
    info->reorderDelay = std::max(st->codecpar->video_delay, 0);
    info->constantRate = valid(st->avg_frame_rate) && valid(st->r_frame_rate) &&
                         av_cmp_q(st->avg_frame_rate, st->r_frame_rate) == 0;
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
                       int64_t* frames, const std::atomic<bool>* stop) {
    *duration = 0;
    if (frames)
        *frames = -1;
    // A length from the container's header is taken as it is. FFmpeg's own
    // reading of the end time stamps stops short by the last few frames of
    // reordered MPEG video, and a length from the bit rate is a guess: for
    // those the end of the file is read here.
    const bool fromHeader = input->duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
    const bool guessed = input->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    const auto videoExtent = [&](int64_t* out) {
        // The video's own extent keeps every moment inside the pictures even
        // when the sound runs longer.
        if (info.videoStream < 0)
            return false;
        const AVStream* st = input->streams[info.videoStream];
        if (st->duration == AV_NOPTS_VALUE || st->duration <= 0)
            return false;
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : info.zero;
        *out = std::max<int64_t>(0, toPosition(info, start + st->duration));
        return true;
    };
    if (fromHeader && videoExtent(duration))
        return Result::success();
    if (fromHeader && input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        *duration = av_rescale(input->duration, kUnitsPerSecond, AV_TIME_BASE);
        return Result::success();
    }

    int64_t end = info.timestampsInFile ? endFromTail(input, info, stop) : AV_NOPTS_VALUE;
    if (end == AV_NOPTS_VALUE && !stopped(stop))
        end = endFromWholeFile(input, info, frames, stop);
    // Whatever was read before the stop is not the end of the movie.
    if (stopped(stop))
        return cancelledResult();
    if (end != AV_NOPTS_VALUE) {
        *duration = std::max<int64_t>(0, toPosition(info, end));
        return Result::success();
    }
    // Nothing better to be had than FFmpeg's figure.
    if (!guessed && videoExtent(duration))
        return Result::success();
    if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        *duration = av_rescale(input->duration, kUnitsPerSecond, AV_TIME_BASE);
        return Result::success();
    }
    return Result::failure(ResultCode::Damaged, "The length of the movie cannot be found.");
}

namespace {

// How near the stated end the data must reach for a file to count as whole:
// containers round their lengths, and the last packets of the sound and the
// pictures end a little apart.
int64_t wholeTolerance(const MovieInfo& info) {
    const int64_t halfSecond = av_rescale_q(1, AVRational{1, 2}, info.timeBase);
    return std::max<int64_t>(halfSecond, 2 * info.frameDuration);
}

// A key frame to decode the file's tail from: by its time through the index,
// or by the byte its packet starts at.
struct TailStart {
    int64_t timestamp = AV_NOPTS_VALUE;
    int64_t bytePos = -1;
};

// Decodes from the start to the end of the data and returns the end of the
// last picture that decoded whole; AV_NOPTS_VALUE when none did.
int64_t lastDecodableEnd(AVFormatContext* input, const MovieInfo& info, const TailStart& from,
                         const std::atomic<bool>* stop) {
    // Streams without a header land on a key frame's packet by its byte;
    // containers land there by its time (a byte inside a Matroska cluster
    // resynchronises to somewhere else).
    int sought = -1;
    if (info.restartsAtByteZero && from.bytePos >= 0)
        sought = av_seek_frame(input, -1, from.bytePos, AVSEEK_FLAG_BYTE);
    if (sought < 0 && from.timestamp != AV_NOPTS_VALUE)
        sought = av_seek_frame(input, info.videoStream, from.timestamp, AVSEEK_FLAG_BACKWARD);
    if (sought < 0 && from.bytePos >= 0 && !(input->iformat->flags & AVFMT_NO_BYTE_SEEK))
        sought = av_seek_frame(input, -1, from.bytePos, AVSEEK_FLAG_BYTE);
    if (sought < 0 || !info.video)
        return AV_NOPTS_VALUE;
    const AVCodec* codec = avcodec_find_decoder(info.video->codec_id);
    av::CodecPtr decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder || avcodec_parameters_to_context(decoder.get(), info.video.get()) < 0)
        return AV_NOPTS_VALUE;
    decoder->pkt_timebase = info.timeBase;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return AV_NOPTS_VALUE;
    av::FramePtr frame(av_frame_alloc());
    if (!frame)
        return AV_NOPTS_VALUE;

    int64_t end = AV_NOPTS_VALUE;
    bool keySeen = false;
    const auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            int64_t t = frame->best_effort_timestamp;
            if (t == AV_NOPTS_VALUE)
                t = frame->pts;
            // A picture the cut went through, or one predicted from it,
            // comes out with its errors flagged: it is not readable.
            if (t != AV_NOPTS_VALUE && !frame->decode_error_flags &&
                !(frame->flags & AV_FRAME_FLAG_CORRUPT)) {
                const int64_t length =
                    frame->pkt_duration > 0 ? frame->pkt_duration : info.frameDuration;
                end = std::max(end == AV_NOPTS_VALUE ? t + length : end, t + length);
            }
            av_frame_unref(frame.get());
        }
    };
    const bool read = readPackets(input, stop, [&](AVPacket* packet) {
        if (packet->stream_index != info.videoStream)
            return;
        keySeen = keySeen || (packet->flags & AV_PKT_FLAG_KEY);
        if (!keySeen || (packet->flags & AV_PKT_FLAG_CORRUPT))
            return;
        if (avcodec_send_packet(decoder.get(), packet) == AVERROR(EAGAIN)) {
            drain();
            avcodec_send_packet(decoder.get(), packet);
        }
        drain();
    });
    if (!read)
        return AV_NOPTS_VALUE;
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    return end;
}

} // namespace

int64_t findReadableEnd(AVFormatContext* input, const MovieInfo& info, int64_t statedEnd,
                        const std::atomic<bool>* stop) {
    if (!info.timestampsInFile || info.videoStream < 0 || statedEnd == AV_NOPTS_VALUE ||
        !input->pb || !(input->pb->seekable & AVIO_SEEKABLE_NORMAL))
        return AV_NOPTS_VALUE;
    const int64_t size = avio_size(input->pb);
    if (size <= 0)
        return AV_NOPTS_VALUE;
    const int64_t wholeFrom = statedEnd - wholeTolerance(info);

    // An index that places every packet (QuickTime/MP4, AVI) tells at once
    // whether the data is all there, and where the last key frame that is
    // starts. An index of some key frames only (Matroska's cues, FLV's
    // metadata) tells neither.
    AVStream* st = input->streams[info.videoStream];
    const int entries = avformat_index_get_entries_count(st);
    bool sized = entries > 0 && st->nb_frames > 0 && entries >= st->nb_frames;
    int64_t lastEnd = 0;
    TailStart fromIndex;
    for (int i = 0; i < entries && sized; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        sized = e && e->pos >= 0 && e->size > 0;
        if (!sized)
            break;
        lastEnd = std::max(lastEnd, e->pos + e->size);
        if ((e->flags & AVINDEX_KEYFRAME) && e->pos + e->size <= size)
            fromIndex.timestamp = e->timestamp;
    }
    if (sized) {
        if (lastEnd <= size)
            return AV_NOPTS_VALUE;
        if (fromIndex.timestamp == AV_NOPTS_VALUE)
            return info.zero; // not even the first key frame is there
        const int64_t end = lastDecodableEnd(input, info, fromIndex, stop);
        return end == AV_NOPTS_VALUE ? info.zero : end;
    }

    // Otherwise the tail of the file is read, wider each time, until it
    // holds a key frame of the video: when any stream's data reaches the
    // stated end, the file is whole.
    if (input->iformat->flags & AVFMT_NO_BYTE_SEEK)
        return AV_NOPTS_VALUE;
    const int64_t firstTime = st->start_time != AV_NOPTS_VALUE ? st->start_time : info.zero;
    for (int64_t chunk = int64_t{1} << 20; !stopped(stop); chunk *= 4) {
        const int64_t from = std::max<int64_t>(0, size - chunk);
        // The whole file from its first frame: a byte seek to 0 would have
        // a demuxer with a header (Matroska) read that as data.
        int sought = -1;
        if (from == 0 && !info.restartsAtByteZero)
            sought = av_seek_frame(input, info.videoStream, firstTime, AVSEEK_FLAG_BACKWARD);
        if (sought < 0)
            sought = av_seek_frame(input, -1, from, AVSEEK_FLAG_BYTE);
        if (sought < 0)
            return AV_NOPTS_VALUE;
        int64_t dataEnd = AV_NOPTS_VALUE; // on the video's clock, any stream
        TailStart key;
        const bool read = readPackets(input, stop, [&](const AVPacket* pkt) {
            const AVStream* ps = input->streams[pkt->stream_index];
            const int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (t == AV_NOPTS_VALUE)
                return;
            const int64_t packetEnd =
                av_rescale_q(t + std::max<int64_t>(0, pkt->duration), ps->time_base, info.timeBase);
            if (dataEnd == AV_NOPTS_VALUE || packetEnd > dataEnd)
                dataEnd = packetEnd;
            if (pkt->stream_index == info.videoStream && (pkt->flags & AV_PKT_FLAG_KEY) &&
                pkt->pos >= 0) {
                key.bytePos = pkt->pos;
                key.timestamp = t;
            }
        });
        if (!read)
            return AV_NOPTS_VALUE;
        if (dataEnd != AV_NOPTS_VALUE && dataEnd >= wholeFrom)
            return AV_NOPTS_VALUE;
        if (key.bytePos >= 0 || from == 0) {
            if (key.bytePos < 0) {
                key.bytePos = 0;
                key.timestamp = firstTime;
            }
            const int64_t end = lastDecodableEnd(input, info, key, stop);
            return end == AV_NOPTS_VALUE ? info.zero : end;
        }
    }
    return AV_NOPTS_VALUE;
}

double sampledFrameRate(AVFormatContext* input, const MovieInfo& info) {
    if (info.videoStream < 0 || !info.timestampsInFile || info.decodingStampsOnly)
        return 0;
    constexpr int kPackets = 120;
    av::PacketPtr pkt(av_packet_alloc());
    if (!pkt)
        return 0;
    std::vector<int64_t> times;
    for (int read = 0; read < 4 * kPackets && static_cast<int>(times.size()) < kPackets; ++read) {
        if (av_read_frame(input, pkt.get()) < 0)
            break;
        av::PacketRef unref(pkt.get());
        if (pkt->stream_index == info.videoStream && pkt->pts != AV_NOPTS_VALUE)
            times.push_back(pkt->pts);
    }
    if (times.size() < 3)
        return 0;
    const auto [first, last] = std::minmax_element(times.begin(), times.end());
    if (*last <= *first)
        return 0;
    // The packets span from the first shown to the start of the last shown.
    return static_cast<double>(times.size() - 1) /
           (toSeconds(info, *last) - toSeconds(info, *first));
}

int64_t countVideoPackets(AVFormatContext* input, const MovieInfo& info,
                          const std::atomic<bool>* stop) {
    if (info.videoStream < 0 || !input->pb)
        return -1;
    const int64_t size = avio_size(input->pb);
    constexpr int64_t kCountLimitBytes = int64_t{1} << 30;
    if (size < 0 || size > kCountLimitBytes)
        return -1;
    const AVStream* st = input->streams[info.videoStream];
    const int sought = (input->iformat->flags & AVFMT_NO_BYTE_SEEK)
                           ? av_seek_frame(input, info.videoStream,
                                           st->start_time != AV_NOPTS_VALUE ? st->start_time : 0,
                                           AVSEEK_FLAG_BACKWARD)
                           : av_seek_frame(input, -1, 0, AVSEEK_FLAG_BYTE);
    if (sought < 0)
        return -1;
    EndTracker tracker{info};
    readToEnd(input, &tracker, stop);
    return stopped(stop) ? -1 : tracker.pictures;
}

double averageFrameTime(double statedRate, double sampledRate, int64_t frames, double seconds) {
    const double counted = frames > 0 && seconds > 0 ? static_cast<double>(frames) / seconds : 0;
    // A stated rate the frames agree with, within what rounding and a
    // slightly uneven start allow.
    constexpr double kAgreement = 0.2;
    const auto agrees = [&](double measured) {
        return measured <= 0 || std::abs(statedRate - measured) <= kAgreement * measured;
    };
    if (statedRate > 0 && agrees(sampledRate) && agrees(counted))
        return 1.0 / statedRate;
    if (counted > 0)
        return 1.0 / counted;
    if (sampledRate > 0)
        return 1.0 / sampledRate;
    return statedRate > 0 ? 1.0 / statedRate : 0;
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

// Field pairs

FieldPairs::FieldPairs(const AVCodecParameters* video) {
    if (!video)
        return;
    parser_.reset(av_parser_init(video->codec_id));
    context_.reset(avcodec_alloc_context3(nullptr));
    if (!parser_ || !context_ || avcodec_parameters_to_context(context_.get(), video) < 0) {
        parser_.reset();
        return;
    }
    // Every packet is a whole picture (or field): the parser only reads its
    // headers and hands it back as it is.
    parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
}

FieldPairs::~FieldPairs() = default;

bool FieldPairs::secondField(const AVPacket* packet) {
    if (!parser_)
        return false;
    uint8_t* data = nullptr;
    int size = 0;
    av_parser_parse2(parser_.get(), context_.get(), &data, &size, packet->data, packet->size,
                     packet->pts, packet->dts, packet->pos);
    const int structure = parser_->picture_structure;
    if (structure != AV_PICTURE_STRUCTURE_TOP_FIELD &&
        structure != AV_PICTURE_STRUCTURE_BOTTOM_FIELD) {
        pending_ = 0;
        return false;
    }
    if (pending_ != 0 && pending_ != structure) {
        pending_ = 0;
        return true;
    }
    pending_ = structure;
    return false;
}

} // namespace media::detail
