#include "platform/media/frame_finder.h"

#include <algorithm>
#include <optional>
#include <set>

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

} // namespace

struct FrameFinder::Search {
    const std::vector<int64_t>* targets = nullptr;
    // The earliest time on the stream's clock at or after each target.
    std::vector<int64_t> targetTs;
    size_t next = 0; // the first target not yet handed out
    const Deliver* deliver = nullptr;
    Result error = S_OK;
    bool allowSkip = true;
    bool allowEarlyEnd = true;
    bool fromStart = false;
    const std::function<bool()>* cancelled = nullptr;
    // Filled on the way.
    bool sawKey = false;
    bool haveFirst = false;
    bool haveLast = false;
    bool skipped = false;                  // a frame without a time was left undecoded
    int64_t skippedUntil = AV_NOPTS_VALUE; // the latest time of a frame left undecoded
    int64_t lastTimestamp = AV_NOPTS_VALUE;
    int64_t previousTimestamp = AV_NOPTS_VALUE;
    // Presentation times, at or after the current target, of the packets a
    // decodable picture could come from. The first is the candidate: the
    // earliest frame that can be the target's. Meaningless once some packet
    // had no time (`allTimed` false).
    std::set<int64_t> sent;
    bool allTimed = true;

    int64_t target() const { return (*targets)[next]; }
    bool lastTarget() const { return next + 1 == targets->size(); }
    int64_t candidate() const { return sent.empty() ? AV_NOPTS_VALUE : *sent.begin(); }
    void advance() {
        ++next;
        if (next < targetTs.size())
            sent.erase(sent.begin(), sent.lower_bound(targetTs[next]));
    }
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
    Result rc = openInput(info_->path, info_->format, stop_, &input, probeForReopening(*info_));
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

// Back to the true start of the file. A time stamp seek cannot be trusted
// for this: a transport stream seeks on decoding times and lands a few
// packets after its first key frame, and a file without an index lands
// wherever its search ends. Streams without a header start over at byte 0;
// everything else is opened again.
bool FrameFinder::rewind() {
    bool ok =
        info_->restartsAtByteZero && av_seek_frame(input_.get(), -1, 0, AVSEEK_FLAG_BYTE) >= 0;
    if (!ok) {
        input_.reset();
        decoder_.reset();
        ok = succeeded(open());
    }
    if (ok)
        avcodec_flush_buffers(decoder_.get());
    return ok;
}

bool FrameFinder::seekToByte(int64_t pos) {
    if (pos < 0 || av_seek_frame(input_.get(), -1, pos, AVSEEK_FLAG_BYTE) < 0)
        return false;
    avcodec_flush_buffers(decoder_.get());
    return true;
}

Result FrameFinder::find(int64_t position, const std::function<bool()>& cancelled, Picture* out) {
    *out = Picture{};
    const std::vector<int64_t> one{position};
    const Deliver keep = [out](size_t, Picture&& picture) {
        *out = std::move(picture);
        return true;
    };
    return findSeries(one, Pass{}, cancelled, keep);
}

Result FrameFinder::findSeries(const std::vector<int64_t>& positions, const Pass& pass,
                               const std::function<bool()>& cancelled, const Deliver& deliver) {
    if (positions.empty())
        return S_OK;
    Result rc = open();
    if (failed(rc))
        return rc;

    Search search;
    search.targets = &positions;
    search.deliver = &deliver;
    search.cancelled = &cancelled;
    for (int64_t p : positions) {
        int64_t ts = toTimestampFloor(*info_, p);
        if (compareToPosition(*info_, ts, p) < 0)
            ++ts;
        search.targetTs.push_back(ts);
    }
    // Where nothing else is known about a position past the last frame, it
    // gets the last frame seen.
    const auto deliverLast = [&]() -> Result {
        Picture picture;
        const Result made = convert(last_.get(), &picture);
        if (failed(made))
            return made;
        picture.seconds = toSeconds(*info_, search.lastTimestamp);
        picture.decodeErrors = decodeErrors_;
        while (search.next < positions.size()) {
            Picture copy = search.lastTarget() ? std::move(picture) : picture;
            if (!deliver(search.next, std::move(copy)))
                return AVERROR_EXIT;
            search.advance();
        }
        return S_OK;
    };
    const auto deliverNothing = [&]() -> Result {
        while (search.next < positions.size()) {
            Picture none;
            none.decodeErrors = decodeErrors_;
            if (!deliver(search.next, std::move(none)))
                return AVERROR_EXIT;
            search.advance();
        }
        return S_OK;
    };

    int64_t backoff = 0;
    bool planned = true; // the first attempt starts where the plan says
    for (int attempt = 0;; ++attempt) {
        const int64_t position = search.target();
        search.fromStart =
            position - backoff <= 0 || attempt > kBackoffAttempts || (planned && pass.fromStart);
        if (!search.fromStart) {
            const bool landed = planned && pass.bytePos >= 0 && seekToByte(pass.bytePos);
            if (!landed && !seekBefore(position - backoff))
                search.fromStart = true;
        }
        planned = false;
        if (search.fromStart && !rewind())
            return E_NOT_SEEKABLE;
        search.sawKey = search.fromStart;
        search.haveFirst = search.haveLast = search.skipped = false;
        search.skippedUntil = AV_NOPTS_VALUE;
        search.lastTimestamp = search.previousTimestamp = AV_NOPTS_VALUE;
        search.sent.clear();
        search.allTimed = true;
        decodeErrors_ = 0;

        const size_t before = search.next;
        const Outcome outcome = decodeForward(search);
        if (search.next > before) {
            // Progress: the next position starts with a fresh set of retries.
            backoff = 0;
            attempt = -1;
        }
        switch (outcome) {
        case Outcome::Cancelled:
            return failed(search.error) ? search.error : AVERROR_EXIT;
        case Outcome::Found:
            return S_OK;
        case Outcome::StoppedShort:
            // The frame that should have been the one did not decode: look
            // again, reading on to the end if need be.
            search.allowEarlyEnd = false;
            if (search.next == before)
                --attempt;
            continue;
        case Outcome::EndWithLast:
            // Only a skipped frame shown after the last one decoded could
            // have been the last frame.
            if (search.skippedUntil != AV_NOPTS_VALUE && search.skippedUntil > search.lastTimestamp)
                search.skipped = true;
            if (search.skipped && search.allowSkip) {
                // The positions lie past the last frame, and the last frame
                // may be one the cheap pass skipped: look again, skipping none.
                search.allowSkip = false;
                if (search.next == before)
                    --attempt;
                continue;
            }
            return deliverLast();
        case Outcome::Continue:
        case Outcome::Overshoot:
        case Outcome::Nothing:
            if (search.fromStart)
                return deliverNothing(); // nothing decodable: no frame for these
            backoff = backoff == 0 ? kFirstBackoff : backoff * 4;
            break;
        }
    }
}

// Seeks to key frame `k` and decodes it on its own: sent, then the decoder
// drained. Its time stamp in `*timestamp`, the picture in frame_;
// AV_NOPTS_VALUE when no picture came (then the caller searches exactly).
Result FrameFinder::decodeKeyFrame(const KeyFrameList& keys, ptrdiff_t k,
                                   const std::function<bool()>& cancelled, int64_t* timestamp) {
    *timestamp = AV_NOPTS_VALUE;
    const KeyFrame& key = keys.frames[static_cast<size_t>(k)];
    bool sought = keys.scanned && k == 0 ? rewind() : false;
    if (!sought && keys.byteSeeksLand)
        sought = seekToByte(key.bytePos);
    if (!sought) {
        sought = av_seek_frame(input_.get(), stream_, key.timestamp, AVSEEK_FLAG_BACKWARD) >= 0;
        if (sought)
            avcodec_flush_buffers(decoder_.get());
    }
    if (!sought)
        return S_OK;

    AVCodecContext* dec = decoder_.get();
    AVPacket* pkt = packet_.get();
    // A key packet that gives no picture (damaged, or one the decoder cannot
    // start from) passes the turn to the next, a few times.
    constexpr int kPacketLimit = 4096;
    constexpr int kKeyTries = 3;
    int keyTries = 0;
    for (int packets = 0;
         packets < kPacketLimit && *timestamp == AV_NOPTS_VALUE && keyTries < kKeyTries;
         ++packets) {
        if (cancelled() || (stop_ && stop_->load(std::memory_order_relaxed)))
            return AVERROR_EXIT;
        const int err = av_read_frame(input_.get(), pkt);
        if (err == AVERROR_EXIT)
            return AVERROR_EXIT;
        if (err < 0)
            break;
        av::PacketRef unref(pkt);
        if (pkt->stream_index != stream_ || !(pkt->flags & AV_PKT_FLAG_KEY))
            continue;
        // A time stamp seek may land on an earlier key frame than the one
        // asked for (the index and the seek can count time differently):
        // those are read past, not decoded, up to the chosen one's bytes.
        if (key.bytePos >= 0 && pkt->pos >= 0 && pkt->pos < key.bytePos)
            continue;
        ++keyTries;
        avcodec_flush_buffers(dec);
        dec->skip_frame = AVDISCARD_DEFAULT;
        ++packetsDecoded_;
        if (avcodec_send_packet(dec, pkt) < 0)
            continue;
        avcodec_send_packet(dec, nullptr);
        while (avcodec_receive_frame(dec, frame_.get()) >= 0) {
            ++framesDecoded_;
            g_decodedFrames.fetch_add(1, std::memory_order_relaxed);
            int64_t t = frame_->best_effort_timestamp;
            if (t == AV_NOPTS_VALUE)
                t = frame_->pts;
            if (t != AV_NOPTS_VALUE &&
                (frame_->key_frame || frame_->pict_type == AV_PICTURE_TYPE_I)) {
                *timestamp = t;
                break;
            }
            av_frame_unref(frame_.get());
        }
    }
    avcodec_flush_buffers(dec);
    return S_OK;
}

Result FrameFinder::findKeyFrame(int64_t position, int64_t tolerance, const KeyFrameList& keys,
                                 const std::function<bool()>& cancelled, Picture* out) {
    *out = Picture{};
    Result rc = open();
    if (failed(rc))
        return rc;
    // Where the times of pictures are guesses (decoding order only, or no
    // times in the file), a key frame's own time could not be trusted for
    // its stamp; and a program stream cannot be sought to a key frame
    // reliably by bytes or by time. Those movies get the exact frame.
    if (keys.empty() || info_->decodingStampsOnly || !info_->timestampsInFile ||
        (keys.scanned && !keys.byteSeeksLand))
        return find(position, cancelled, out);
    const auto distance = [&](int64_t ts) {
        const int64_t shown = toPosition(*info_, ts);
        return shown > position ? shown - position : position - shown;
    };
    // An index may count a key frame by its decoding time, which runs a
    // constant reorder delay ahead of the time it is shown: learnt from the
    // first key frame decoded, so that the nearest is chosen by the times
    // the pictures carry.
    const int64_t at = toTimestampFloor(*info_, position);
    const ptrdiff_t k = keys.nearest(at - keyTimeOffset_);
    int64_t ts = AV_NOPTS_VALUE;
    rc = decodeKeyFrame(keys, k, cancelled, &ts);
    if (failed(rc))
        return rc;
    if (ts != AV_NOPTS_VALUE) {
        if (!keys.scanned)
            keyTimeOffset_ = ts - keys.frames[static_cast<size_t>(k)].timestamp;
        const ptrdiff_t other = keys.nearest(at - keyTimeOffset_);
        if (other != k) {
            // Keep the first picture while the other is tried.
            Picture first;
            if (distance(ts) <= tolerance) {
                rc = convert(frame_.get(), &first);
                if (failed(rc))
                    return rc;
                first.seconds = toSeconds(*info_, ts);
            }
            av_frame_unref(frame_.get());
            int64_t otherTs = AV_NOPTS_VALUE;
            rc = decodeKeyFrame(keys, other, cancelled, &otherTs);
            if (failed(rc))
                return rc;
            if (otherTs == AV_NOPTS_VALUE || (first.found && distance(otherTs) >= distance(ts))) {
                av_frame_unref(frame_.get());
                if (first.found) {
                    *out = std::move(first);
                    return S_OK;
                }
                return find(position, cancelled, out);
            }
            ts = otherTs;
        }
    }
    if (ts == AV_NOPTS_VALUE || distance(ts) > tolerance) {
        av_frame_unref(frame_.get());
        return find(position, cancelled, out);
    }
    out->seconds = toSeconds(*info_, ts);
    rc = convert(frame_.get(), out);
    av_frame_unref(frame_.get());
    return rc;
}

FrameFinder::Outcome FrameFinder::decodeForward(Search& search) {
    AVCodecContext* dec = decoder_.get();
    AVPacket* pkt = packet_.get();
    int readErrors = 0;
    bool stoppedEarly = false;
    // After a seek, packets before the first key packet cannot give a
    // picture; only from there on do presentation times say anything.
    bool keyPacketSeen = search.fromStart;
    // How far past the position a decoding time may lie while the picture
    // for the position can still be on its way: the reorder delay.
    const int64_t reorderSpan = (info_->reorderDelay + 1) * info_->frameDuration;
    dec->skip_frame = AVDISCARD_DEFAULT;

    const auto receiveAll = [&]() -> std::optional<Outcome> {
        for (;;) {
            const int rc = avcodec_receive_frame(dec, frame_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return std::nullopt;
            if (rc < 0) {
                ++decodeErrors_; // a damaged frame; the decoder goes on
                return std::nullopt;
            }
            ++framesDecoded_;
            g_decodedFrames.fetch_add(1, std::memory_order_relaxed);
            if (frame_->decode_error_flags)
                ++decodeErrors_;
            const Outcome o = consider(search, frame_.get());
            if (o != Outcome::Continue)
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
        // Presentation times that FFmpeg guessed from decoding order are
        // not used to decide anything.
        const int64_t pts = info_->decodingStampsOnly ? AV_NOPTS_VALUE : pkt->pts;
        if (pkt->flags & AV_PKT_FLAG_KEY)
            keyPacketSeen = true;

        // The seek landed after the last key frame before the position:
        // every packet that could show the position has gone by undecodable.
        if (!keyPacketSeen && !search.sawKey && pkt->dts != AV_NOPTS_VALUE &&
            info_->frameDuration > 0 &&
            compareToPosition(*info_, pkt->dts - reorderSpan, search.target()) > 0)
            return Outcome::Overshoot;

        // A packet decoded after the candidate is shown, and every packet
        // after it, is shown later still: the searched frame has been sent,
        // and draining the decoder brings it out without decoding more.
        // Only the last position of a pass may end it early; before that
        // the pass goes on to the next position.
        const int64_t candidate = search.candidate();
        if (search.lastTarget() && search.allowEarlyEnd && search.allTimed &&
            candidate != AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE && pkt->dts > candidate &&
            (pts == AV_NOPTS_VALUE || pts > candidate)) {
            stoppedEarly = true;
            break;
        }

        if (search.allowSkip) {
            // A frame that nothing refers to can be left undecoded when it is
            // shown before the current position, or when for the last
            // position at or before it a frame already sent lies between the
            // two. Without a presentation time, the decoding time plus the
            // reorder delay bounds it from above.
            bool unneeded = false;
            if (pts != AV_NOPTS_VALUE) {
                const auto from = search.targetTs.begin() + static_cast<ptrdiff_t>(search.next);
                const auto above = std::upper_bound(from, search.targetTs.end(), pts);
                if (above == from) {
                    unneeded = true;
                } else {
                    const auto earlier = search.sent.lower_bound(*(above - 1));
                    unneeded = earlier != search.sent.end() && *earlier < pts;
                }
            } else if (pkt->dts != AV_NOPTS_VALUE && info_->frameDuration > 0) {
                unneeded = compareToPosition(*info_, pkt->dts + reorderSpan, search.target()) < 0;
            }
            dec->skip_frame = unneeded ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            if (unneeded && !(pkt->flags & AV_PKT_FLAG_KEY)) {
                if (pts == AV_NOPTS_VALUE)
                    search.skipped = true;
                else if (search.skippedUntil == AV_NOPTS_VALUE || pts > search.skippedUntil)
                    search.skippedUntil = pts;
            }
        }
        if (keyPacketSeen) {
            if (pts == AV_NOPTS_VALUE)
                search.allTimed = false;
            else if (pts >= search.targetTs[search.next])
                search.sent.insert(pts);
        }

        for (int tries = 0; tries < 2; ++tries) {
            const int sent = avcodec_send_packet(dec, pkt);
            ++packetsDecoded_;
            if (sent != AVERROR(EAGAIN)) {
                // A damaged packet is dropped; the decoder carries on with
                // the next.
                if (sent < 0)
                    ++decodeErrors_;
                break;
            }
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
    // A picture comes out of a reordering decoder only when the next one
    // has gone in, and carries that packet's decoding time: where the
    // container has nothing else, its time is that less the delay.
    if (info_->decodingStampsOnly && info_->frameDuration > 0)
        ts -= static_cast<int64_t>(decoder_->has_b_frames) * info_->frameDuration;
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
    const int cmp = compareToPosition(*info_, ts, search.target());
    if (cmp >= 0) {
        // Landing after the position means the seek went too far, unless
        // this is the very first picture of the movie.
        const bool movieStart =
            info_->firstTimestamp != AV_NOPTS_VALUE && ts <= info_->firstTimestamp;
        if (first && cmp > 0 && !search.fromStart && !movieStart) {
            av_frame_unref(frame);
            return Outcome::Overshoot;
        }
        const Result rc = deliverFrame(search, frame, ts);
        if (failed(rc)) {
            search.error = rc;
            return Outcome::Cancelled;
        }
        if (rc == S_FALSE)
            return Outcome::Cancelled;
        if (search.next == search.targets->size())
            return Outcome::Found;
    }
    // The latest frame: a position past the end gets it.
    av_frame_unref(last_.get());
    av_frame_move_ref(last_.get(), frame);
    search.haveLast = true;
    search.lastTimestamp = ts;
    return Outcome::Continue;
}

// The frame is the first at or after the current position, and maybe of the
// ones after it too. S_FALSE when the receiver wants no more.
Result FrameFinder::deliverFrame(Search& search, AVFrame* frame, int64_t timestamp) {
    Picture picture;
    bool converted = false;
    while (search.next < search.targets->size() &&
           compareToPosition(*info_, timestamp, search.target()) >= 0) {
        Picture handed;
        handed.decodeErrors = decodeErrors_;
        // A packet to be shown at or after the position, and before this
        // picture, gave no picture: the one shown at the moment is damaged,
        // and a later one is not the moment's.
        const int64_t candidate = search.candidate();
        const bool damaged = search.allTimed && candidate != AV_NOPTS_VALUE &&
                             timestamp > candidate && decodeErrors_ > 0;
        if (!damaged) {
            if (!converted) {
                const Result rc = convert(frame, &picture);
                if (failed(rc))
                    return rc;
                picture.seconds = toSeconds(*info_, timestamp);
                converted = true;
            }
            const bool again =
                search.next + 1 < search.targets->size() &&
                compareToPosition(*info_, timestamp, (*search.targets)[search.next + 1]) >= 0;
            handed.found = true;
            handed.seconds = picture.seconds;
            handed.frame = again ? picture.frame : std::move(picture.frame);
        }
        decodeErrors_ = 0;
        if (!(*search.deliver)(search.next, std::move(handed)))
            return S_FALSE;
        search.advance();
    }
    return S_OK;
}

Result FrameFinder::convert(const AVFrame* frame, Picture* out) {
    AVFrame* copy = av_frame_clone(frame); // a new reference, not new pixels
    if (!copy)
        return E_OUTOFMEMORY;
    out->frame = std::shared_ptr<AVFrame>(copy, [](AVFrame* f) { av_frame_free(&f); });
    out->found = true;
    return S_OK;
}

} // namespace media::detail
