#include "platform/media/frame_finder.h"

#include <algorithm>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "platform/media/errors.h"

namespace media {

namespace {
std::atomic<int64_t> g_decodedFrames{0};
}

int64_t decodedFrameCount() {
    return g_decodedFrames.load(std::memory_order_relaxed);
}

} // namespace media

namespace media::detail {

void countDecodedFrame() {
    g_decodedFrames.fetch_add(1, std::memory_order_relaxed);
}

namespace {

constexpr int64_t kSecond = 10000000;
// Each retry after a seek that landed too late goes this much further back
// than the last one; after a few, the search starts at the beginning.
constexpr int64_t kFirstBackoff = kSecond;
constexpr int kBackoffAttempts = 5;
// Demuxers that stumble over damage report errors; past this many in a row
// the rest of the file is taken as unreadable.
constexpr int kReadErrorLimit = 64;

constexpr size_t kPlaneAlign = 64;

size_t alignUp(size_t n) {
    return (n + kPlaneAlign - 1) & ~(kPlaneAlign - 1);
}

} // namespace

// Frames too large for two to fit are decoded by a decoder opened afresh at
// each key frame (so that none keeps the previous picture). Its pictures
// would be mapped anew each time, every page faulted in and zeroed by the
// kernel: a third of the time on 16000 x 16000 frames. Taken from a pool
// that outlives the decoders, the memory is mapped once. The pool is freed
// when the finder and the last frame taken from it are gone.
struct PicturePool {
    AVBufferPool* pool = nullptr;
    size_t size = 0;
    ~PicturePool() { av_buffer_pool_uninit(&pool); }

    // An AVCodecContext::get_buffer2 for decoders that let the caller
    // allocate (AV_CODEC_CAP_DR1): the planes laid out as the decoder asks
    // (its dimension and line alignments), in one buffer.
    static int get(AVCodecContext* decoder, AVFrame* frame, int flags) {
        auto* self = static_cast<PicturePool*>(decoder->opaque);
        const auto format = static_cast<AVPixelFormat>(frame->format);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
        if (!self || !desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL) ||
            decoder->codec_type != AVMEDIA_TYPE_VIDEO)
            return avcodec_default_get_buffer2(decoder, frame, flags);
        int width = frame->width;
        int height = frame->height;
        int lineAlign[AV_NUM_DATA_POINTERS] = {};
        avcodec_align_dimensions2(decoder, &width, &height, lineAlign);
        int lines[4] = {};
        for (;;) {
            if (av_image_fill_linesizes(lines, format, width) < 0)
                return avcodec_default_get_buffer2(decoder, frame, flags);
            bool aligned = true;
            for (int i = 0; i < 4; ++i)
                aligned = aligned && (lineAlign[i] <= 0 || lines[i] % lineAlign[i] == 0);
            if (aligned)
                break;
            // Widen by the lowest set bit until every line is aligned.
            width += width & ~(width - 1);
        }
        const ptrdiff_t strides[4] = {lines[0], lines[1], lines[2], lines[3]};
        size_t planes[4] = {};
        if (av_image_fill_plane_sizes(planes, format, height, strides) < 0)
            return avcodec_default_get_buffer2(decoder, frame, flags);
        // Room to align the first plane, and for decoders that read a few
        // bytes past the last line.
        size_t total = 2 * kPlaneAlign;
        for (const size_t plane : planes)
            total += alignUp(plane);
        if (!self->pool || self->size != total) {
            av_buffer_pool_uninit(&self->pool);
            self->pool = av_buffer_pool_init(total, av_buffer_allocz);
            self->size = self->pool ? total : 0;
            if (!self->pool)
                return AVERROR(ENOMEM);
        }
        AVBufferRef* buffer = av_buffer_pool_get(self->pool);
        if (!buffer)
            return AVERROR(ENOMEM);
        frame->buf[0] = buffer;
        const auto base = reinterpret_cast<uintptr_t>(buffer->data);
        uint8_t* at = buffer->data + (alignUp(base) - base);
        for (int i = 0; i < 4 && planes[i] > 0; ++i) {
            frame->data[i] = at;
            frame->linesize[i] = lines[i];
            at += alignUp(planes[i]);
        }
        frame->extended_data = frame->data;
        return 0;
    }
};

// ---------------------------------------------------------------------------
// The state of a series of positions, and of the attempt under way.

struct FrameFinder::Search {
    const std::vector<int64_t>* targets = nullptr;
    // The earliest time on the stream's clock at or after each target.
    std::vector<int64_t> targetTs;
    size_t next = 0; // the first target not yet handed out
    const Deliver* deliver = nullptr;
    const Cancelled* cancelled = nullptr;
    int64_t until = -1; // the position after the last, when one follows
    Result error;
    // Loosened by the retries.
    bool allowSkip = true;
    bool allowEarlyEnd = true;

    // One attempt: a forward pass from one starting point.
    bool fromStart = false;
    bool keyPacketSeen = false; // from here on, packets can give pictures
    bool sawKey = false;        // a key picture came out of the decoder
    bool haveFirst = false;
    bool haveLast = false;
    bool cleanEnd = true;                  // the data ended, not the reading
    bool skipped = false;                  // a picture without a time was left undecoded
    int64_t skippedUntil = AV_NOPTS_VALUE; // the latest time of a picture left undecoded
    int64_t lastTimestamp = AV_NOPTS_VALUE;
    int64_t previousTimestamp = AV_NOPTS_VALUE;
    int64_t counted = AV_NOPTS_VALUE;       // the next picture's time, where they are counted
    int64_t expectedFirst = AV_NOPTS_VALUE; // a first frame the plan started at on purpose
    // Shown times, at or after the current target, of the pictures sent to
    // the decoder. The first is the candidate: the earliest picture that can
    // be the target's. Meaningless once some picture had no time.
    std::set<int64_t> sent;
    bool allTimed = true;

    int64_t target() const { return (*targets)[next]; }
    bool lastTarget() const { return next + 1 == targets->size(); }
    bool done() const { return next >= targets->size(); }
    int64_t candidate() const { return sent.empty() ? AV_NOPTS_VALUE : *sent.begin(); }
    void advance() {
        ++next;
        if (next < targetTs.size())
            sent.erase(sent.begin(), sent.lower_bound(targetTs[next]));
    }
    void beginAttempt(bool start) {
        fromStart = start;
        keyPacketSeen = sawKey = start;
        haveFirst = haveLast = skipped = false;
        cleanEnd = true;
        skippedUntil = lastTimestamp = previousTimestamp = AV_NOPTS_VALUE;
        sent.clear();
        allTimed = true;
    }
};

// ---------------------------------------------------------------------------
// Opening and starting a pass

FrameFinder::FrameFinder(std::shared_ptr<const MovieInfo> info, int threads,
                         const std::atomic<bool>* stop, AVFormatContext* borrowed)
    : info_(std::move(info)), threads_(std::max(1, threads)), stop_(stop), input_(borrowed) {}

FrameFinder::~FrameFinder() = default;

void FrameFinder::setKeepLast(bool keep) {
    keepLast_ = keep;
    if (!keep && !pictures_)
        pictures_ = std::make_unique<PicturePool>();
}

Result FrameFinder::open() {
    if (decoder_)
        return Result::success();
    if (!info_ || info_->videoStream < 0 || !info_->video)
        return noVideoResult();
    if (!input_) {
        const Result rc =
            openInput(info_->path, info_->format, stop_, &own_, probeForReopening(*info_));
        if (!rc.ok())
            return rc;
        input_ = own_.get();
    }
    // The stream list of a program stream is found while reading, so the
    // video may not have the same number in a second opening: match it.
    int stream = info_->videoStream;
    const auto matches = [&](int i) {
        return i >= 0 && i < static_cast<int>(input_->nb_streams) &&
               input_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
               input_->streams[i]->codecpar->codec_id == info_->video->codec_id;
    };
    if (!matches(stream)) {
        stream = av_find_best_stream(input_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (!matches(stream))
            return noVideoResult();
    }
    const AVStream* st = input_->streams[stream];
    if (av_cmp_q(st->time_base, info_->timeBase) != 0)
        return Result::failure(ResultCode::Damaged,
                               "The movie's clock is not the same when it is read again.");

    av::CodecPtr decoder;
    const Result rc = openDecoder(&decoder);
    if (!rc.ok())
        return rc;

    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    last_.reset(av_frame_alloc());
    if (!packet_ || !frame_ || !last_)
        return outOfMemoryResult();
    if (info_->fieldPictures)
        fields_ = std::make_unique<FieldPairs>(info_->video.get());
    decoder_ = std::move(decoder);
    stream_ = stream;
    return Result::success();
}

Result FrameFinder::openDecoder(av::CodecPtr* out) const {
    const AVCodec* codec = avcodec_find_decoder(info_->video->codec_id);
    if (!codec)
        return noDecoderResult();
    av::CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        return outOfMemoryResult();
    int err = avcodec_parameters_to_context(decoder.get(), info_->video.get());
    if (err < 0)
        return avResult(err);
    decoder->pkt_timebase = info_->timeBase;
    decoder->thread_count = threads_;
    decoder->thread_type = threads_ > 1 ? FF_THREAD_FRAME | FF_THREAD_SLICE : 0;
    if (pictures_ && (codec->capabilities & AV_CODEC_CAP_DR1)) {
        decoder->opaque = pictures_.get();
        decoder->get_buffer2 = &PicturePool::get;
    }
    err = avcodec_open2(decoder.get(), codec, nullptr);
    if (err < 0)
        return avResult(err);
    *out = std::move(decoder);
    return Result::success();
}

bool FrameFinder::seekBefore(int64_t position) {
    const int64_t ts = toTimestampFloor(*info_, position);
    if (av_seek_frame(input_, stream_, ts, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(decoder_.get());
    return true;
}

// Back to the true start of the file. Streams without a header start over at
// byte 0: a time stamp seek in a transport stream lands a few packets after
// its first key frame. Containers whose index lists every packet with its
// time (QuickTime/MP4, Matroska) seek to the first entry; anything else is
// opened again, since a seek there lands wherever its search ends.
bool FrameFinder::rewind() {
    bool ok = info_->restartsAtByteZero && av_seek_frame(input_, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
    if (!ok && !info_->restartsAtByteZero && probeForReopening(*info_) == Probe::IfNeeded) {
        AVStream* st = input_->streams[stream_];
        const AVIndexEntry* first =
            avformat_index_get_entries_count(st) > 0 ? avformat_index_get_entry(st, 0) : nullptr;
        ok = first && av_seek_frame(input_, stream_, first->timestamp, AVSEEK_FLAG_BACKWARD) >= 0;
    }
    if (!ok) {
        own_.reset();
        input_ = nullptr;
        decoder_.reset();
        ok = open().ok();
    }
    if (ok) {
        avcodec_flush_buffers(decoder_.get());
        if (fields_)
            fields_->reset();
    }
    return ok;
}

bool FrameFinder::seekToByte(int64_t pos) {
    if (pos < 0 || av_seek_frame(input_, -1, pos, AVSEEK_FLAG_BYTE) < 0)
        return false;
    avcodec_flush_buffers(decoder_.get());
    return true;
}

// Positions the demuxer for an attempt: where the plan says on the first,
// `backoff` before the position on a retry, or at the start of the file when
// that is where the position lies or the retries ran out.
bool FrameFinder::startAttempt(Search& search, const Pass& pass, bool planned, int64_t backoff,
                               int lateSeeks) {
    const int64_t position = search.target();
    bool fromStart =
        position - backoff <= 0 || lateSeeks > kBackoffAttempts || (planned && pass.fromStart);
    bool landed = false;
    if (!fromStart) {
        landed = planned && pass.bytePos >= 0 && seekToByte(pass.bytePos);
        if (!landed && planned && pass.startsAtAnswer &&
            av_seek_frame(input_, stream_, pass.keyTimestamp, AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(decoder_.get());
            landed = true;
        }
        // Pictures that are counted are counted from a key frame's byte or
        // from the start, never from where a time stamp seek lands.
        if (!landed && (info_->countsFrames || !seekBefore(position - backoff)))
            fromStart = true;
    }
    if (fromStart && !rewind())
        return false;
    if (fields_)
        fields_->reset();
    // Nothing decoded in an earlier attempt is wanted now; holding it would
    // only keep its memory while the next pictures are decoded.
    av_frame_unref(frame_.get());
    av_frame_unref(last_.get());
    search.beginAttempt(fromStart);
    search.expectedFirst = landed && pass.startsAtAnswer ? pass.keyTimestamp : AV_NOPTS_VALUE;
    if (info_->countsFrames) {
        search.counted =
            landed && pass.keyTimestamp != AV_NOPTS_VALUE ? pass.keyTimestamp : info_->zero;
        // A picture left undecoded would not be counted.
        search.allowSkip = false;
    }
    decodeErrors_ = 0;
    lastSkipped_ = false;
    return true;
}

// ---------------------------------------------------------------------------
// Searches

Result FrameFinder::find(int64_t position, const Cancelled& cancelled, Found* out) {
    *out = Found{};
    const std::vector<int64_t> one{position};
    const Deliver keep = [out](size_t, Found&& found) {
        *out = std::move(found);
        return true;
    };
    return findSeries(one, Pass{}, cancelled, keep);
}

Result FrameFinder::findSeries(const std::vector<int64_t>& positions, const Pass& pass,
                               const Cancelled& cancelled, const Deliver& deliver) {
    if (positions.empty())
        return Result::success();
    Result rc = open();
    if (!rc.ok())
        return rc;

    Search search;
    search.targets = &positions;
    search.deliver = &deliver;
    search.cancelled = &cancelled;
    search.until = pass.until;
    for (int64_t p : positions) {
        int64_t ts = toTimestampFloor(*info_, p);
        if (compareToPosition(*info_, ts, p) < 0)
            ++ts;
        search.targetTs.push_back(ts);
    }

    // The retry rule: each outcome either ends the series or says how the
    // next attempt differs from this one. Only a seek that landed too late
    // counts as a failed try; after a few the search starts at the
    // beginning. Any position found starts the next with fresh tries.
    int64_t backoff = 0;
    int lateSeeks = 0;
    bool planned = true; // the first attempt starts where the plan says
    for (;;) {
        if (!startAttempt(search, pass, planned, backoff, lateSeeks))
            return notSeekableResult();
        planned = false;
        const size_t before = search.next;
        const Outcome outcome = decodeForward(search);
        if (search.next > before) {
            backoff = 0;
            lateSeeks = 0;
        }
        switch (outcome) {
        case Outcome::Cancelled:
            return search.error.ok() ? cancelledResult() : search.error;
        case Outcome::AllFound:
            return Result::success();
        case Outcome::StoppedShort:
            // The frame that should have been the one did not decode: look
            // again, reading on to the end if need be.
            search.allowEarlyEnd = false;
            break;
        case Outcome::EndWithLast:
            // Only a skipped picture shown after the last one decoded could
            // have been the last frame.
            if (search.skippedUntil != AV_NOPTS_VALUE && search.skippedUntil > search.lastTimestamp)
                search.skipped = true;
            if (!search.skipped || !search.allowSkip)
                return deliverLast(search);
            // The positions lie past the last frame, and the last frame may
            // be one the cheap pass skipped: look again, skipping none.
            search.allowSkip = false;
            break;
        case Outcome::Overshoot:
        case Outcome::Nothing:
            if (search.fromStart)
                return deliverNothing(search); // nothing decodable: no frame for these
            backoff = backoff == 0 ? kFirstBackoff : backoff * 4;
            ++lateSeeks;
            break;
        }
    }
}

// The positions still waiting when the data ended get the last frame, which
// is what a player shows there. Where the reading gave up on damage before
// the end of the data, the last frame only answers positions it is shown at.
Result FrameFinder::deliverLast(Search& search) {
    Found last;
    if (keepLast_) {
        AVFrame* copy = av_frame_clone(last_.get());
        if (!copy)
            return outOfMemoryResult();
        last.found = true;
        last.timestamp = search.lastTimestamp;
        last.frame = std::shared_ptr<AVFrame>(copy, [](AVFrame* f) { av_frame_free(&f); });
    } else {
        // The last frame was let go to keep memory down: found again, as
        // the first frame at or after its own time.
        const Result rc = find(toPosition(*info_, search.lastTimestamp), *search.cancelled, &last);
        if (!rc.ok())
            return rc;
    }
    last.decodeErrors = decodeErrors_;
    const int64_t shownUntil = search.lastTimestamp + std::max<int64_t>(1, info_->frameDuration);
    while (!search.done()) {
        const bool shown =
            search.cleanEnd || compareToPosition(*info_, shownUntil, search.target()) > 0;
        Found handed = shown ? last : Found{};
        handed.decodeErrors = decodeErrors_;
        if (!(*search.deliver)(search.next, std::move(handed)))
            return cancelledResult();
        search.advance();
    }
    return Result::success();
}

Result FrameFinder::deliverNothing(Search& search) {
    while (!search.done()) {
        Found none;
        none.decodeErrors = decodeErrors_;
        if (!(*search.deliver)(search.next, std::move(none)))
            return cancelledResult();
        search.advance();
    }
    return Result::success();
}

// ---------------------------------------------------------------------------
// One forward pass

FrameFinder::Outcome FrameFinder::decodeForward(Search& search) {
    AVPacket* pkt = packet_.get();
    decoder_->skip_frame = AVDISCARD_DEFAULT;
    int readErrors = 0;
    bool stoppedEarly = false;
    Outcome outcome = Outcome::AllFound;

    for (;;) {
        if ((*search.cancelled)() || (stop_ && stop_->load(std::memory_order_relaxed)))
            return Outcome::Cancelled;
        const int rc = av_read_frame(input_, pkt);
        if (rc == AVERROR_EXIT)
            return Outcome::Cancelled;
        if (rc < 0) {
            // Data the demuxer could not read is damage like a picture the
            // decoder could not decode.
            if (rc != AVERROR_EOF && ++readErrors < kReadErrorLimit && !avio_feof(input_->pb)) {
                ++decodeErrors_;
                continue;
            }
            search.cleanEnd = rc == AVERROR_EOF || avio_feof(input_->pb);
            break;
        }
        av::PacketRef unref(pkt);
        if (pkt->stream_index != stream_)
            continue;
        readErrors = 0;

        const PacketView view = classify(pkt);
        if (overshot(search, view))
            return Outcome::Overshoot;
        if (endsEarly(search, view)) {
            stoppedEarly = true;
            break;
        }
        // A decoder may keep the picture before a key frame for what comes
        // after (PNG does, even through a flush); where nothing is held back
        // for reordering, a key frame needs none of that, and frames too
        // large for two to fit start it afresh.
        if (!keepLast_ && view.key && info_->reorderDelay == 0 && decoder_->has_b_frames == 0) {
            av::CodecPtr fresh;
            if (openDecoder(&fresh).ok())
                decoder_ = std::move(fresh);
        }
        // The second field of a picture goes as the first went.
        const bool skip = view.secondField ? lastSkipped_ : skippable(search, view);
        lastSkipped_ = skip;
        decoder_->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        remember(search, view, skip);
        if (!send(search, pkt, &outcome))
            return outcome;
    }

    decoder_->skip_frame = AVDISCARD_DEFAULT;
    avcodec_send_packet(decoder_.get(), nullptr);
    if (!receive(search, &outcome))
        return outcome;
    if (stoppedEarly)
        return Outcome::StoppedShort;
    return search.haveLast ? Outcome::EndWithLast : Outcome::Nothing;
}

FrameFinder::PacketView FrameFinder::classify(const AVPacket* packet) {
    PacketView view;
    view.key = packet->flags & AV_PKT_FLAG_KEY;
    view.dts = packet->dts;
    view.secondField = fields_ && fields_->secondField(packet);
    // A second field is shown with its picture, at the first field's time;
    // presentation times that FFmpeg guessed from decoding order are not
    // used to decide anything.
    if (!view.secondField && !info_->decodingStampsOnly)
        view.pts = packet->pts;
    return view;
}

// The seek landed after the last key frame before the position: every packet
// that could show the position has gone by undecodable.
bool FrameFinder::overshot(const Search& search, const PacketView& p) const {
    if (search.keyPacketSeen || p.key || search.sawKey || p.dts == AV_NOPTS_VALUE ||
        info_->frameDuration <= 0)
        return false;
    // How far past the position a decoding time may lie while the picture
    // for the position can still be on its way: the reorder delay.
    const int64_t reorderSpan = (info_->reorderDelay + 1) * info_->frameDuration;
    return compareToPosition(*info_, p.dts - reorderSpan, search.target()) > 0;
}

// A picture decoded after the candidate is shown, and every picture after
// it, is shown later still: the searched frame has been sent, and draining
// the decoder brings it out without decoding more. Only the last position of
// a pass may end it early; before that the pass goes on to the next
// position. Never between the two fields of a picture.
bool FrameFinder::endsEarly(const Search& search, const PacketView& p) const {
    const int64_t candidate = search.candidate();
    return search.lastTarget() && search.allowEarlyEnd && search.allTimed && !p.secondField &&
           candidate != AV_NOPTS_VALUE && p.dts != AV_NOPTS_VALUE && p.dts > candidate &&
           (p.pts == AV_NOPTS_VALUE || p.pts > candidate);
}

// A picture that nothing refers to can be left undecoded when it is shown
// before the current position, or when for the last position at or before it
// a picture already sent lies between the two. Without a presentation time,
// the decoding time plus the reorder delay bounds it from above. (The decoder
// still decodes reference pictures: the discard only drops the others.)
bool FrameFinder::skippable(const Search& search, const PacketView& p) const {
    if (!search.allowSkip)
        return false;
    if (p.pts != AV_NOPTS_VALUE) {
        const auto from = search.targetTs.begin() + static_cast<ptrdiff_t>(search.next);
        const auto above = std::upper_bound(from, search.targetTs.end(), p.pts);
        if (above == from)
            return true;
        const auto earlier = search.sent.lower_bound(*(above - 1));
        return earlier != search.sent.end() && *earlier < p.pts;
    }
    if (p.dts != AV_NOPTS_VALUE && info_->frameDuration > 0) {
        const int64_t reorderSpan = (info_->reorderDelay + 1) * info_->frameDuration;
        return compareToPosition(*info_, p.dts + reorderSpan, search.target()) < 0;
    }
    return false;
}

// What the retry rule and the early end need to know of the pictures sent.
void FrameFinder::remember(Search& search, const PacketView& p, bool skipped) {
    if (p.key)
        search.keyPacketSeen = true;
    if (p.secondField)
        return;
    if (skipped && !p.key) {
        if (p.pts == AV_NOPTS_VALUE)
            search.skipped = true;
        else if (search.skippedUntil == AV_NOPTS_VALUE || p.pts > search.skippedUntil)
            search.skippedUntil = p.pts;
    }
    if (search.keyPacketSeen) {
        if (p.pts == AV_NOPTS_VALUE)
            search.allTimed = false;
        else if (p.pts >= search.targetTs[search.next])
            search.sent.insert(p.pts);
    }
}

// Sends the packet, taking out what the decoder has ready when it is full.
// False when a picture out of it ended the pass (`*outcome` says how).
bool FrameFinder::send(Search& search, AVPacket* packet, Outcome* outcome) {
    for (int tries = 0; tries < 2; ++tries) {
        const int sent = avcodec_send_packet(decoder_.get(), packet);
        ++packetsDecoded_;
        if (sent != AVERROR(EAGAIN)) {
            // A damaged packet is dropped; the decoder carries on with the
            // next.
            if (sent < 0)
                ++decodeErrors_;
            break;
        }
        if (!receive(search, outcome))
            return false;
    }
    return receive(search, outcome);
}

bool FrameFinder::receive(Search& search, Outcome* outcome) {
    for (;;) {
        const int rc = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0) {
            ++decodeErrors_; // a damaged picture; the decoder goes on
            return true;
        }
        ++framesDecoded_;
        countDecodedFrame();
        if (frame_->decode_error_flags)
            ++decodeErrors_;
        const Outcome o = consider(search, frame_.get());
        if (o != Outcome::AllFound || search.done()) {
            *outcome = o;
            return false;
        }
    }
}

// The frame's shown time on the stream's clock, or AV_NOPTS_VALUE when it
// cannot be placed.
int64_t FrameFinder::frameTime(Search& search, const AVFrame* frame) const {
    if (info_->countsFrames && search.counted != AV_NOPTS_VALUE) {
        const int64_t ts = search.counted;
        search.counted += info_->frameDuration;
        return ts;
    }
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = frame->pts;
    if (ts == AV_NOPTS_VALUE && search.lastTimestamp != AV_NOPTS_VALUE && info_->frameDuration > 0)
        ts = search.lastTimestamp + info_->frameDuration;
    if (ts == AV_NOPTS_VALUE)
        return ts;
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
    return ts;
}

// One decoded picture. AllFound while the pass goes on (or when it is done).
FrameFinder::Outcome FrameFinder::consider(Search& search, AVFrame* frame) {
    int64_t ts = frameTime(search, frame);
    if (ts == AV_NOPTS_VALUE) {
        av_frame_unref(frame);
        return Outcome::AllFound;
    }
    // After a seek, what comes out before the first key picture was
    // predicted from pictures the decoder never saw.
    if (!search.sawKey) {
        if (!frame->key_frame && frame->pict_type != AV_PICTURE_TYPE_I) {
            av_frame_unref(frame);
            return Outcome::AllFound;
        }
        search.sawKey = true;
    }
    // Pictures come out in the order they are shown; a time that does not
    // advance (the last picture of an elementary stream gets its decoding
    // time) is one frame after the one before.
    const int64_t previous = search.previousTimestamp;
    if (previous != AV_NOPTS_VALUE && ts <= previous && info_->frameDuration > 0)
        ts = previous + info_->frameDuration;
    search.previousTimestamp = ts;
    // In a stream of constant rate, pictures missing between two that came
    // out (more than any skipped run of B-pictures explains) were lost, even
    // where the demuxer passed over the broken data without a word.
    constexpr int64_t kLongestSkippedRun = 8;
    const bool lostBetween =
        info_->constantRate && info_->frameDuration > 0 && previous != AV_NOPTS_VALUE &&
        ts - previous >
            std::max<int64_t>(info_->reorderDelay + 2, kLongestSkippedRun) * info_->frameDuration;

    const bool first = !search.haveFirst;
    search.haveFirst = true;
    const int cmp = compareToPosition(*info_, ts, search.target());
    if (cmp >= 0) {
        // Landing after the position means the seek went too far, unless
        // this is the very first picture of the movie.
        const bool movieStart =
            info_->firstTimestamp != AV_NOPTS_VALUE && ts <= info_->firstTimestamp;
        if (first && cmp > 0 && !search.fromStart && !movieStart && ts != search.expectedFirst) {
            av_frame_unref(frame);
            return Outcome::Overshoot;
        }
        const Result rc = deliverFrame(search, frame, ts, !first, lostBetween);
        if (!rc.ok()) {
            search.error = rc;
            return Outcome::Cancelled;
        }
        if (search.done())
            return Outcome::AllFound;
    }
    // The latest frame: a position past the end gets it.
    av_frame_unref(last_.get());
    if (keepLast_)
        av_frame_move_ref(last_.get(), frame);
    else
        av_frame_unref(frame);
    search.haveLast = true;
    search.lastTimestamp = ts;
    return Outcome::AllFound;
}

// The frame is the first at or after the current position, and maybe of the
// ones after it too. When a picture to be shown between the position and this
// frame gave none (damage), the frame still answers the position if it is
// shown before the next one; otherwise the position gets no frame.
// A picture goes missing without damage only at the start of an attempt
// (pictures that lean on what a seek skipped); later in the stream, or when
// the decoder complained, it is damage, even where the decoder let the
// broken data pass without a word (a stretch of zeros).
Result FrameFinder::deliverFrame(Search& search, AVFrame* frame, int64_t timestamp, bool midStream,
                                 bool lostBetween) {
    std::shared_ptr<AVFrame> shared;
    while (!search.done() && compareToPosition(*info_, timestamp, search.target()) >= 0) {
        const int64_t candidate = search.candidate();
        const bool damaged =
            (search.allTimed && candidate != AV_NOPTS_VALUE && timestamp > candidate &&
             (decodeErrors_ > 0 || midStream)) ||
            (lostBetween && compareToPosition(*info_, timestamp, search.target()) > 0);
        const int64_t next =
            search.lastTarget() ? search.until : (*search.targets)[search.next + 1];
        const bool beforeNext = next < 0 || compareToPosition(*info_, timestamp, next) < 0;
        Found handed;
        handed.decodeErrors = decodeErrors_;
        if (!damaged || beforeNext) {
            if (!shared) {
                AVFrame* copy = av_frame_clone(frame); // a new reference, not new pixels
                if (!copy)
                    return outOfMemoryResult();
                shared.reset(copy, [](AVFrame* f) { av_frame_free(&f); });
            }
            handed.found = true;
            handed.timestamp = timestamp;
            handed.frame = shared;
        }
        decodeErrors_ = 0;
        if (!(*search.deliver)(search.next, std::move(handed)))
            return cancelledResult();
        search.advance();
    }
    return Result::success();
}

// ---------------------------------------------------------------------------
// Key-frame mode

// Seeks to key frame `k` and decodes it on its own: sent, then the decoder
// drained. Its time stamp in `*timestamp`, the picture in frame_;
// AV_NOPTS_VALUE when no picture came (then the caller searches exactly).
Result FrameFinder::decodeKeyFrame(const KeyFrameList& keys, ptrdiff_t k,
                                   const Cancelled& cancelled, int64_t* timestamp) {
    *timestamp = AV_NOPTS_VALUE;
    const KeyFrame& key = keys.frames[static_cast<size_t>(k)];
    bool sought = keys.scanned && k == 0 ? rewind() : false;
    if (!sought && keys.byteSeeksLand)
        sought = seekToByte(key.bytePos);
    if (!sought) {
        sought = av_seek_frame(input_, stream_, key.timestamp, AVSEEK_FLAG_BACKWARD) >= 0;
        if (sought)
            avcodec_flush_buffers(decoder_.get());
    }
    if (!sought)
        return Result::success();
    if (fields_)
        fields_->reset();

    AVCodecContext* dec = decoder_.get();
    AVPacket* pkt = packet_.get();
    // A key packet that gives no picture (damaged, or one the decoder cannot
    // start from) passes the turn to the next, a few times. A key picture
    // coded as two fields needs its second field too.
    constexpr int kPacketLimit = 4096;
    constexpr int kKeyTries = 3;
    int keyTries = 0;
    bool waiting = false; // a key picture's first field went in; its second comes next
    for (int packets = 0;
         packets < kPacketLimit && *timestamp == AV_NOPTS_VALUE && keyTries < kKeyTries;
         ++packets) {
        if (cancelled() || (stop_ && stop_->load(std::memory_order_relaxed)))
            return cancelledResult();
        const int err = av_read_frame(input_, pkt);
        if (err == AVERROR_EXIT)
            return cancelledResult();
        if (err < 0)
            break;
        av::PacketRef unref(pkt);
        if (pkt->stream_index != stream_)
            continue;
        const bool second = fields_ && fields_->secondField(pkt);
        if (waiting) {
            // The picture is as whole as it gets: with its second field, or
            // alone when the partner did not come.
            if (second) {
                ++packetsDecoded_;
                avcodec_send_packet(dec, pkt);
            }
        } else {
            if (!(pkt->flags & AV_PKT_FLAG_KEY))
                continue;
            // A time stamp seek may land on an earlier key frame than the
            // one asked for (the index and the seek can count time
            // differently): those are read past, not decoded, up to the
            // chosen one's bytes.
            if (key.bytePos >= 0 && pkt->pos >= 0 && pkt->pos < key.bytePos)
                continue;
            ++keyTries;
            avcodec_flush_buffers(dec);
            dec->skip_frame = AVDISCARD_DEFAULT;
            ++packetsDecoded_;
            if (avcodec_send_packet(dec, pkt) < 0)
                continue;
            if (fields_ && fields_->awaitingSecond()) {
                waiting = true;
                continue;
            }
        }
        waiting = false;
        avcodec_send_packet(dec, nullptr);
        while (avcodec_receive_frame(dec, frame_.get()) >= 0) {
            ++framesDecoded_;
            countDecodedFrame();
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
    return Result::success();
}

Result FrameFinder::findKeyFrame(int64_t position, int64_t tolerance, const KeyFrameList& keys,
                                 const Cancelled& cancelled, Found* out) {
    *out = Found{};
    Result rc = open();
    if (!rc.ok())
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
    const auto take = [&](int64_t ts, Found* into) -> Result {
        AVFrame* copy = av_frame_clone(frame_.get());
        av_frame_unref(frame_.get());
        if (!copy)
            return outOfMemoryResult();
        into->found = true;
        into->timestamp = ts;
        into->frame = std::shared_ptr<AVFrame>(copy, [](AVFrame* f) { av_frame_free(&f); });
        return Result::success();
    };
    // An index may count a key frame by its decoding time, which runs a
    // constant reorder delay ahead of the time it is shown: learnt from the
    // first key frame decoded, so that the nearest is chosen by the times
    // the pictures carry.
    const int64_t at = toTimestampFloor(*info_, position);
    const ptrdiff_t k = keys.nearest(at - keyTimeOffset_);
    int64_t ts = AV_NOPTS_VALUE;
    rc = decodeKeyFrame(keys, k, cancelled, &ts);
    if (!rc.ok())
        return rc;
    if (ts != AV_NOPTS_VALUE) {
        if (!keys.scanned)
            keyTimeOffset_ = ts - keys.frames[static_cast<size_t>(k)].timestamp;
        const ptrdiff_t other = keys.nearest(at - keyTimeOffset_);
        if (other != k) {
            // Keep the first picture while the other is tried.
            Found first;
            if (distance(ts) <= tolerance) {
                rc = take(ts, &first);
                if (!rc.ok())
                    return rc;
            }
            av_frame_unref(frame_.get());
            int64_t otherTs = AV_NOPTS_VALUE;
            rc = decodeKeyFrame(keys, other, cancelled, &otherTs);
            if (!rc.ok())
                return rc;
            if (otherTs == AV_NOPTS_VALUE || (first.found && distance(otherTs) >= distance(ts))) {
                av_frame_unref(frame_.get());
                if (first.found) {
                    *out = std::move(first);
                    return Result::success();
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
    return take(ts, out);
}

} // namespace media::detail
