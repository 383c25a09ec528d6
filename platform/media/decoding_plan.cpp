#include "platform/media/decoding_plan.h"

#include <algorithm>
#include <cstring>

#include "platform/media/errors.h"

namespace media::detail {

ptrdiff_t KeyFrameList::atOrBefore(int64_t timestamp) const {
    const auto it = std::upper_bound(frames.begin(), frames.end(), timestamp,
                                     [](int64_t t, const KeyFrame& k) { return t < k.timestamp; });
    return (it - frames.begin()) - 1;
}

ptrdiff_t KeyFrameList::nearest(int64_t timestamp) const {
    const ptrdiff_t before = atOrBefore(timestamp);
    const ptrdiff_t after = before + 1;
    if (after >= static_cast<ptrdiff_t>(frames.size()))
        return before;
    if (before < 0)
        return after;
    // Differences of two stream times: no overflow for any real movie.
    const int64_t back = timestamp - frames[static_cast<size_t>(before)].timestamp;
    const int64_t ahead = frames[static_cast<size_t>(after)].timestamp - timestamp;
    return ahead < back ? after : before;
}

namespace {

// Whether the packet's first picture slice is an instantaneous decoder
// refresh (H.264 type 5, HEVC types 19 and 20): nothing after it refers to
// anything before it, and nothing before it is shown after it.
bool startsCleanly(AVCodecID codec, const AVPacket* packet) {
    const uint8_t* p = packet->data;
    const uint8_t* end = p + packet->size;
    while (end - p > 3) {
        if (p[0] == 0 && p[1] == 0 && p[2] == 1) {
            const uint8_t header = p[3];
            if (codec == AV_CODEC_ID_H264) {
                const int type = header & 0x1F;
                if (type >= 1 && type <= 5)
                    return type == 5;
            } else if (codec == AV_CODEC_ID_HEVC) {
                const int type = (header >> 1) & 0x3F;
                if (type <= 31)
                    return type == 19 || type == 20;
            }
            p += 3;
        } else {
            ++p;
        }
    }
    return false;
}

} // namespace

KeyFrameList indexedKeyFrames(const AVFormatContext* input, int stream) {
    KeyFrameList list;
    if (!input || stream < 0 || stream >= static_cast<int>(input->nb_streams))
        return list;
    AVStream* st = input->streams[stream];
    const int count = avformat_index_get_entries_count(st);
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (e && (e->flags & AVINDEX_KEYFRAME) && e->timestamp != AV_NOPTS_VALUE)
            list.frames.push_back({e->timestamp, e->pos});
    }
    std::sort(list.frames.begin(), list.frames.end(),
              [](const KeyFrame& a, const KeyFrame& b) { return a.timestamp < b.timestamp; });
    return list;
}

Result scanKeyFrames(AVFormatContext* input, const MovieInfo& info, int64_t step,
                     const std::atomic<bool>* stop, KeyFrameList* out) {
    *out = KeyFrameList{};
    // A stream without timestamps has times only where the demuxer counted
    // its frames from the start: read on a demuxer of its own, opened here.
    av::InputPtr fresh;
    if (!info.timestampsInFile) {
        const Result rc = openInput(info.path, info.format, stop, &fresh, Probe::Header);
        if (!rc.ok())
            return rc;
        input = fresh.get();
    }
    const int64_t size = input->pb ? avio_size(input->pb) : -1;
    if (size < 0 || size > kScanLimitBytes || !info.video)
        return Result::success();
    const int stream = info.videoStream;
    if (stream < 0 || stream >= static_cast<int>(input->nb_streams) ||
        av_cmp_q(input->streams[stream]->time_base, info.timeBase) != 0 ||
        (!fresh && av_seek_frame(input, -1, 0, AVSEEK_FLAG_BYTE) < 0))
        return Result::success();
    // Packets of the video are all a scan reads; the others are not even
    // handed out meanwhile.
    std::vector<AVDiscard> discards;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        discards.push_back(input->streams[i]->discard);
        if (static_cast<int>(i) != stream)
            input->streams[i]->discard = AVDISCARD_ALL;
    }
    struct Restore {
        AVFormatContext* input;
        const std::vector<AVDiscard>& discards;
        ~Restore() {
            for (unsigned i = 0; i < input->nb_streams && i < discards.size(); ++i)
                input->streams[i]->discard = discards[i];
        }
    } restore{input, discards};

    av::PacketPtr packet(av_packet_alloc());
    if (!packet)
        return outOfMemoryResult();
    KeyFrameList list;
    list.scanned = true;
    // A stream without time stamps is timed by counting its pictures, which
    // a pass can go on from only where it starts at a key frame's first byte.
    list.byteSeeksLand = info.countsFrames || (info.timestampsInFile && info.format &&
                                               std::strcmp(info.format->name, "mpegts") == 0);
    std::unique_ptr<FieldPairs> fields = info.countsFrames && info.fieldPictures
                                             ? std::make_unique<FieldPairs>(info.video.get())
                                             : nullptr;
    int64_t pictures = 0;
    int errors = 0;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return cancelledResult();
        const int err = av_read_frame(input, packet.get());
        if (err == AVERROR_EXIT)
            return cancelledResult();
        if (err < 0) {
            // Damage is read past as the searches read past it.
            if (err != AVERROR_EOF && ++errors < 64 && !avio_feof(input->pb))
                continue;
            break;
        }
        av::PacketRef unref(packet.get());
        errors = 0;
        if (packet->stream_index != stream)
            continue;
        int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (info.countsFrames) {
            // The picture's number is its place from the start, where every
            // picture before an instantaneous refresh is shown before it;
            // other key pictures may have leading pictures shown earlier.
            const bool second = fields && fields->secondField(packet.get());
            t = info.zero + pictures * info.frameDuration;
            if (!second)
                ++pictures;
            if (second || !startsCleanly(info.video->codec_id, packet.get()))
                continue;
        } else if (!(packet->flags & AV_PKT_FLAG_KEY) || t == AV_NOPTS_VALUE) {
            continue;
        }
        list.frames.push_back({t, packet->pos});
        // Key frames at regular short distances: every position has its own
        // key frame nearby, and a plan could group nothing. Reading on
        // would cost more than the searches it could save.
        constexpr size_t kEnough = 5;
        if (step > 0 && !info.countsFrames && list.frames.size() >= kEnough) {
            int64_t widest = 0;
            for (size_t i = 1; i < list.frames.size(); ++i)
                widest = std::max(widest, list.frames[i].timestamp - list.frames[i - 1].timestamp);
            if (widest > 0 && widest < step / 2) {
                list.frames.clear();
                break;
            }
        }
    }
    std::stable_sort(
        list.frames.begin(), list.frames.end(),
        [](const KeyFrame& a, const KeyFrame& b) { return a.timestamp < b.timestamp; });
    *out = std::move(list);
    return Result::success();
}

KeyFrameList keyFramesFor(AVFormatContext* input, const MovieInfo& info, int64_t step,
                          const std::atomic<bool>* stop) {
    KeyFrameList keys;
    if (info.videoStream < 0)
        return keys;
    if (info.restartsAtByteZero) {
        if (!scanKeyFrames(input, info, step, stop, &keys).ok())
            keys = KeyFrameList{};
        return keys;
    }
    // Matroska reads its index (the cues) at the first seek, not before.
    av_seek_frame(input, info.videoStream, info.zero, AVSEEK_FLAG_BACKWARD);
    return indexedKeyFrames(input, info.videoStream);
}

std::vector<Pass> planPasses(const MovieInfo& info, const KeyFrameList& keys,
                             const std::vector<int64_t>& positions) {
    std::vector<Pass> passes;
    const bool rising = std::is_sorted(positions.begin(), positions.end());
    // Two key frames one frame apart have nothing between them (every
    // picture stands alone in MJPEG, PNG, ProRes...): a position between the
    // two is answered by the later, and the pass starts there instead of
    // decoding the earlier picture for nothing.
    const bool intraOnly = info.frameDuration > 0 && !keys.scanned;
    ptrdiff_t previousKey = -2;
    for (size_t i = 0; i < positions.size(); ++i) {
        ptrdiff_t key =
            keys.empty() || !rising ? -2 : keys.atOrBefore(toTimestampFloor(info, positions[i]));
        bool atAnswer = false;
        if (intraOnly && key >= 0 && static_cast<size_t>(key) + 1 < keys.frames.size()) {
            const int64_t at = keys.frames[static_cast<size_t>(key)].timestamp;
            const int64_t next = keys.frames[static_cast<size_t>(key) + 1].timestamp;
            if (compareToPosition(info, at, positions[i]) < 0 && next - at <= info.frameDuration) {
                ++key;
                atAnswer = true;
            }
        }
        if (key != -2 && key == previousKey && !passes.empty()) {
            passes.back().end = i + 1;
            continue;
        }
        previousKey = key;
        Pass pass;
        pass.begin = i;
        pass.end = i + 1;
        if (key != -2 && keys.scanned) {
            // Before the second key frame the file's start is the way in: a
            // stream read from byte 0 has every time it needs.
            if (key <= 0)
                pass.fromStart = true;
            else if (keys.byteSeeksLand) {
                pass.bytePos = keys.frames[static_cast<size_t>(key)].bytePos;
                pass.keyTimestamp = keys.frames[static_cast<size_t>(key)].timestamp;
            }
        }
        if (atAnswer) {
            pass.keyTimestamp = keys.frames[static_cast<size_t>(key)].timestamp;
            pass.startsAtAnswer = true;
        }
        passes.push_back(pass);
    }
    for (Pass& pass : passes)
        pass.until = pass.end < positions.size() ? positions[pass.end] : -1;
    return passes;
}

} // namespace media::detail
