#include "platform/media/frame_finder.h"

#include <algorithm>
#include <cstring>
#include <optional>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace media {

namespace {
std::atomic<int64_t> g_decodedFrames{0};
}

int64_t decodedFrameCount() {
    return g_decodedFrames.load(std::memory_order_relaxed);
}

} // namespace media

namespace media::detail {

namespace {

constexpr int64_t kSecond = 10000000;
// Each retry after a seek that landed too late goes this much further back
// than the last one; after a few, the search starts at the beginning.
constexpr int64_t kFirstBackoff = kSecond;
constexpr int kBackoffAttempts = 5;
// Demuxers that stumble over damage report errors; past this many in a row
// the rest of the file is taken as unreadable.
constexpr int kReadErrorLimit = 64;

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
        // Untagged video is taken as BT.601, as the common tools do, so that
        // colours match what they show.
        return SWS_CS_DEFAULT;
    }
}

bool isFullRangeFormat(int format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

} // namespace

struct FrameFinder::Search {
    int64_t target = 0;
    bool allowSkip = true;
    bool allowEarlyEnd = true;
    bool fromStart = false;
    const std::function<bool()>* cancelled = nullptr;
    // Filled on the way.
    bool sawKey = false;
    bool haveFirst = false;
    bool haveLast = false;
    bool skipped = false;
    int64_t lastTimestamp = AV_NOPTS_VALUE;
    int64_t previousTimestamp = AV_NOPTS_VALUE;
    int64_t foundTimestamp = AV_NOPTS_VALUE;
};

FrameFinder::FrameFinder(std::shared_ptr<const MovieInfo> info, int threads,
                         const std::atomic<bool>* stop)
    : info_(std::move(info)), threads_(std::max(1, threads)), stop_(stop) {}

FrameFinder::~FrameFinder() = default;

Result FrameFinder::open() {
    if (input_)
        return S_OK;
    if (!info_ || info_->videoStream < 0 || !info_->video)
        return E_NO_VIDEO_STREAM;
    av::InputPtr input;
    // The graph probed the file once; a worker's own opening need not, where
    // the container stamps every packet with its presentation time. Elsewhere
    // the demuxer guesses missing times from what the probe learnt about the
    // decoder's delay, and must guess as it did for the graph.
    const std::string name = info_->format ? info_->format->name : "";
    const bool stamped = name.rfind("mov,mp4", 0) == 0 || name.rfind("matroska", 0) == 0;
    Result rc = openInput(info_->path, info_->format, stop_, &input,
                          stamped ? Probe::IfNeeded : Probe::Full);
    if (failed(rc))
        return rc;
    // The stream list of a program stream is found while reading, so the
    // video may not have the same number in a second opening: match it.
    int stream = info_->videoStream;
    const auto matches = [&](int i) {
        return i >= 0 && i < static_cast<int>(input->nb_streams) &&
               input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
               input->streams[i]->codecpar->codec_id == info_->video->codec_id;
    };
    if (!matches(stream)) {
        stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (!matches(stream))
            return E_NO_VIDEO_STREAM;
    }
    const AVStream* st = input->streams[stream];
    if (st->time_base.num != info_->timeBase.num || st->time_base.den != info_->timeBase.den)
        return E_FAIL;

    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return E_NO_DECODER;
    av::CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        return E_OUTOFMEMORY;
    int err = avcodec_parameters_to_context(decoder.get(), info_->video.get());
    if (err < 0)
        return err;
    decoder->pkt_timebase = st->time_base;
    decoder->thread_count = threads_;
    decoder->thread_type = threads_ > 1 ? FF_THREAD_FRAME | FF_THREAD_SLICE : 0;
    err = avcodec_open2(decoder.get(), codec, nullptr);
    if (err < 0)
        return err;

    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    last_.reset(av_frame_alloc());
    if (!packet_ || !frame_ || !last_)
        return E_OUTOFMEMORY;
    input_ = std::move(input);
    decoder_ = std::move(decoder);
    stream_ = stream;
    return S_OK;
}

bool FrameFinder::seekBefore(int64_t position) {
    const int64_t ts = toTimestampFloor(*info_, position);
    if (av_seek_frame(input_.get(), stream_, ts, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(decoder_.get());
    return true;
}

bool FrameFinder::rewind() {
    const int64_t first =
        info_->firstTimestamp != AV_NOPTS_VALUE ? info_->firstTimestamp : info_->zero;
    bool ok = av_seek_frame(input_.get(), stream_, first, AVSEEK_FLAG_BACKWARD) >= 0 ||
              av_seek_frame(input_.get(), -1, 0, AVSEEK_FLAG_BYTE) >= 0;
    if (!ok) {
        // Opening the file again always starts at its beginning.
        input_.reset();
        decoder_.reset();
        ok = succeeded(open());
    }
    if (ok)
        avcodec_flush_buffers(decoder_.get());
    return ok;
}

Result FrameFinder::find(int64_t position, const std::function<bool()>& cancelled, Picture* out) {
    *out = Picture{};
    Result rc = open();
    if (failed(rc))
        return rc;

    Search search;
    search.target = position;
    search.cancelled = &cancelled;
    int64_t backoff = 0;
    for (int attempt = 0;; ++attempt) {
        search.fromStart = position - backoff <= 0 || attempt > kBackoffAttempts;
        if (!search.fromStart && !seekBefore(position - backoff))
            search.fromStart = true;
        if (search.fromStart && !rewind())
            return E_NOT_SEEKABLE;
        search.sawKey = search.fromStart;
        search.haveFirst = search.haveLast = search.skipped = false;
        search.lastTimestamp = search.previousTimestamp = search.foundTimestamp = AV_NOPTS_VALUE;

        const Outcome outcome = decodeForward(search);
        switch (outcome) {
        case Outcome::Cancelled:
            return AVERROR_EXIT;
        case Outcome::Found:
            out->seconds = toSeconds(*info_, search.foundTimestamp);
            return convert(frame_.get(), out);
        case Outcome::StoppedShort:
            // The frame that should have been the one did not decode: look
            // again, reading on to the end if need be.
            search.allowEarlyEnd = false;
            --attempt;
            continue;
        case Outcome::EndWithLast:
            if (search.skipped) {
                // The position lies past the last frame, and the last frame
                // may be one the cheap pass skipped: look again, skipping none.
                search.allowSkip = false;
                --attempt;
                continue;
            }
            out->seconds = toSeconds(*info_, search.lastTimestamp);
            return convert(last_.get(), out);
        case Outcome::Continue:
        case Outcome::Overshoot:
        case Outcome::Nothing:
            if (search.fromStart)
                return S_OK; // nothing decodable: no frame for this position
            backoff = backoff == 0 ? kFirstBackoff : backoff * 4;
            break;
        }
    }
}

FrameFinder::Outcome FrameFinder::decodeForward(Search& search) {
    AVCodecContext* dec = decoder_.get();
    AVPacket* pkt = packet_.get();
    int readErrors = 0;
    bool stoppedEarly = false;
    // The earliest presentation time at or after the position among the
    // packets sent so far: the searched frame is shown no later than that.
    int64_t candidate = AV_NOPTS_VALUE;
    bool allTimed = true; // every packet sent so far had a presentation time
    dec->skip_frame = AVDISCARD_DEFAULT;

    const auto receiveAll = [&]() -> std::optional<Outcome> {
        for (;;) {
            const int rc = avcodec_receive_frame(dec, frame_.get());
            if (rc < 0)
                return std::nullopt; // EAGAIN, end of stream or a damaged frame
            ++framesDecoded_;
            g_decodedFrames.fetch_add(1, std::memory_order_relaxed);
            const Outcome o = consider(search, frame_.get());
            if (o == Outcome::Found || o == Outcome::Overshoot)
                return o;
        }
    };

    for (;;) {
        if ((*search.cancelled)() || (stop_ && stop_->load(std::memory_order_relaxed)))
            return Outcome::Cancelled;
        const int rc = av_read_frame(input_.get(), pkt);
        if (rc == AVERROR_EXIT)
            return Outcome::Cancelled;
        if (rc < 0) {
            if (rc != AVERROR_EOF && ++readErrors < kReadErrorLimit && !avio_feof(input_->pb))
                continue;
            break;
        }
        av::PacketRef unref(pkt);
        if (pkt->stream_index != stream_)
            continue;
        readErrors = 0;

        // A packet decoded after the candidate is shown, and every packet
        // after it, is shown later still: the searched frame has been sent,
        // and draining the decoder brings it out without decoding more.
        if (search.allowEarlyEnd && allTimed && candidate != AV_NOPTS_VALUE &&
            pkt->dts != AV_NOPTS_VALUE && pkt->dts > candidate &&
            (pkt->pts == AV_NOPTS_VALUE || pkt->pts > candidate)) {
            stoppedEarly = true;
            break;
        }

        if (search.allowSkip) {
            // A frame that nothing refers to can be left undecoded when it is
            // shown before the position, or after a frame already known to
            // be at or after it. Without a presentation time, the decoding
            // time plus the reorder delay bounds it from above.
            bool unneeded = false;
            if (pkt->pts != AV_NOPTS_VALUE)
                unneeded = compareToPosition(*info_, pkt->pts, search.target) < 0 ||
                           (candidate != AV_NOPTS_VALUE && pkt->pts > candidate);
            else if (pkt->dts != AV_NOPTS_VALUE && info_->frameDuration > 0)
                unneeded = compareToPosition(
                               *info_, pkt->dts + (info_->reorderDelay + 1) * info_->frameDuration,
                               search.target) < 0;
            dec->skip_frame = unneeded ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            if (unneeded && !(pkt->flags & AV_PKT_FLAG_KEY))
                search.skipped = true;
        }
        if (pkt->pts == AV_NOPTS_VALUE)
            allTimed = false;
        else if (compareToPosition(*info_, pkt->pts, search.target) >= 0 &&
                 (candidate == AV_NOPTS_VALUE || pkt->pts < candidate))
            candidate = pkt->pts;

        for (int tries = 0; tries < 2; ++tries) {
            const int sent = avcodec_send_packet(dec, pkt);
            ++packetsDecoded_;
            // A damaged packet is dropped; the decoder carries on with the next.
            if (sent != AVERROR(EAGAIN))
                break;
            if (auto o = receiveAll())
                return *o;
        }
        if (auto o = receiveAll())
            return *o;
    }

    dec->skip_frame = AVDISCARD_DEFAULT;
    avcodec_send_packet(dec, nullptr);
    if (auto o = receiveAll())
        return *o;
    if (stoppedEarly)
        return Outcome::StoppedShort;
    return search.haveLast ? Outcome::EndWithLast : Outcome::Nothing;
}

FrameFinder::Outcome FrameFinder::consider(Search& search, AVFrame* frame) {
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = frame->pts;
    if (ts == AV_NOPTS_VALUE && search.lastTimestamp != AV_NOPTS_VALUE && info_->frameDuration > 0)
        ts = search.lastTimestamp + info_->frameDuration;
    if (ts == AV_NOPTS_VALUE) {
        av_frame_unref(frame);
        return Outcome::Continue; // a frame that cannot be placed in time
    }
    // Read from the start, an elementary stream's first picture gets the
    // decoding time 0, after a seek the time it is shown at: both are the
    // movie's start.
    if (!info_->timestampsInFile && ts < info_->zero)
        ts = info_->zero;

    // After a seek, what comes out before the first key frame was predicted
    // from pictures the decoder never saw.
    if (!search.sawKey) {
        if (!frame->key_frame && frame->pict_type != AV_PICTURE_TYPE_I) {
            av_frame_unref(frame);
            return Outcome::Continue;
        }
        search.sawKey = true;
    }

    // Pictures come out in the order they are shown; a time that does not
    // advance (the last picture of an elementary stream gets its decoding
    // time) is one frame after the one before.
    if (search.previousTimestamp != AV_NOPTS_VALUE && ts <= search.previousTimestamp &&
        info_->frameDuration > 0)
        ts = search.previousTimestamp + info_->frameDuration;
    search.previousTimestamp = ts;

    const bool first = !search.haveFirst;
    search.haveFirst = true;
    const int cmp = compareToPosition(*info_, ts, search.target);
    if (cmp >= 0) {
        // Landing after the position means the seek went too far, unless
        // this is the very first picture of the movie.
        const bool movieStart =
            info_->firstTimestamp != AV_NOPTS_VALUE && ts <= info_->firstTimestamp;
        if (first && cmp > 0 && !search.fromStart && !movieStart) {
            av_frame_unref(frame);
            return Outcome::Overshoot;
        }
        search.foundTimestamp = ts;
        return Outcome::Found;
    }
    av_frame_unref(last_.get());
    av_frame_move_ref(last_.get(), frame);
    search.haveLast = true;
    search.lastTimestamp = ts;
    return Outcome::Continue;
}

Result FrameFinder::convert(const AVFrame* frame, Picture* out) {
    const int width = info_->width;
    const int height = info_->height;
    if (width <= 0 || height <= 0 || frame->width <= 0 || frame->height <= 0)
        return E_BAD_VIDEO_SIZE;
    if (!rgb_) {
        rgb_.reset(av_frame_alloc());
        if (!rgb_)
            return E_OUTOFMEMORY;
        rgb_->format = AV_PIX_FMT_BGR24;
        rgb_->width = width;
        rgb_->height = height;
        const int rc = av_frame_get_buffer(rgb_.get(), 0);
        if (rc < 0) {
            rgb_.reset();
            return rc;
        }
    }
    // A movie may change its frame size on the way; every picture is still
    // delivered at the size the connection announced.
    SwsContext* next = sws_getCachedContext(
        sws_.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        width, height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    sws_.reset(next);
    if (!sws_)
        return E_FAIL;
    const int srcRange =
        frame->color_range == AVCOL_RANGE_JPEG || isFullRangeFormat(frame->format) ? 1 : 0;
    sws_setColorspaceDetails(sws_.get(), sws_getCoefficients(swsColorspace(frame->colorspace)),
                             srcRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    sws_scale(sws_.get(), frame->data, frame->linesize, 0, frame->height, rgb_->data,
              rgb_->linesize);

    // Bottom-up rows, each padded to four bytes, as a device-independent
    // bitmap has them.
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    const size_t stride = (rowBytes + 3) & ~size_t{3};
    out->pixels.assign(stride * height, 0);
    for (int y = 0; y < height; ++y)
        std::memcpy(out->pixels.data() + stride * (height - 1 - y),
                    rgb_->data[0] + static_cast<ptrdiff_t>(y) * rgb_->linesize[0], rowBytes);
    out->found = true;
    return S_OK;
}

} // namespace media::detail
