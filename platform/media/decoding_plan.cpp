#include "platform/media/decoding_plan.h"

#include <algorithm>
#include <cstring>

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

Result scanKeyFrames(const MovieInfo& info, int64_t step, const std::atomic<bool>* stop,
                     KeyFrameList* out) {
    *out = KeyFrameList{};
    // Packets are all a scan reads: the streams as the header lists them
    // will do, without decoding a frame to learn their parameters.
    av::InputPtr input;
    Result rc = openInput(info.path, info.format, stop, &input, Probe::Header);
    if (failed(rc))
        return rc;
    const int64_t size = input->pb ? avio_size(input->pb) : -1;
    if (size < 0 || size > kScanLimitBytes || !info.video)
        return S_OK;
    const auto isVideo = [&](int i) {
        return i >= 0 && i < static_cast<int>(input->nb_streams) &&
               input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
               input->streams[i]->codecpar->codec_id == info.video->codec_id &&
               input->streams[i]->time_base.num == info.timeBase.num &&
               input->streams[i]->time_base.den == info.timeBase.den;
    };
    int stream = info.videoStream;
    for (int i = 0; !isVideo(stream) && i < static_cast<int>(input->nb_streams); ++i)
        stream = i;
    if (!isVideo(stream))
        return S_OK;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (static_cast<int>(i) != stream)
            input->streams[i]->discard = AVDISCARD_ALL;

    av::PacketPtr packet(av_packet_alloc());
    if (!packet)
        return E_OUTOFMEMORY;
    KeyFrameList list;
    list.scanned = true;
    list.byteSeeksLand =
        info.timestampsInFile && info.format && std::strcmp(info.format->name, "mpegts") == 0;
    int errors = 0;
    for (;;) {
        const int err = av_read_frame(input.get(), packet.get());
        if (err == AVERROR_EXIT)
            return AVERROR_EXIT;
        if (err < 0) {
            // Damage is read past as the searches read past it.
            if (err != AVERROR_EOF && ++errors < 64 && !avio_feof(input->pb))
                continue;
            break;
        }
        av::PacketRef unref(packet.get());
        errors = 0;
        if (packet->stream_index != stream || !(packet->flags & AV_PKT_FLAG_KEY))
            continue;
        const int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (t == AV_NOPTS_VALUE)
            continue;
        list.frames.push_back({t, packet->pos});
        // Key frames at regular short distances: every position has its own
        // key frame nearby, and a plan could group nothing. Reading on
        // would cost more than the searches it could save.
        constexpr size_t kEnough = 5;
        if (step > 0 && list.frames.size() >= kEnough) {
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
    return S_OK;
}

KeyFrameList keyFramesFor(const MovieInfo& info, int64_t step, const std::atomic<bool>* stop) {
    KeyFrameList keys;
    if (info.videoStream < 0)
        return keys;
    if (info.restartsAtByteZero) {
        if (failed(scanKeyFrames(info, step, stop, &keys)))
            keys = KeyFrameList{};
        return keys;
    }
    av::InputPtr input;
    if (failed(openInput(info.path, info.format, stop, &input, probeForReopening(info))))
        return keys;
    // Matroska reads its index (the cues) at the first seek, not before.
    av_seek_frame(input.get(), info.videoStream, 0, AVSEEK_FLAG_BACKWARD);
    return indexedKeyFrames(input.get(), info.videoStream);
}

std::vector<Pass> planPasses(const MovieInfo& info, const KeyFrameList& keys,
                             const std::vector<int64_t>& positions) {
    std::vector<Pass> passes;
    const bool rising = std::is_sorted(positions.begin(), positions.end());
    ptrdiff_t previousKey = -2;
    for (size_t i = 0; i < positions.size(); ++i) {
        const ptrdiff_t key =
            keys.empty() || !rising ? -2 : keys.atOrBefore(toTimestampFloor(info, positions[i]));
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
            else if (keys.byteSeeksLand)
                pass.bytePos = keys.frames[static_cast<size_t>(key)].bytePos;
        }
        passes.push_back(pass);
    }
    return passes;
}

} // namespace media::detail
