#include "tests/support/footage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/media/av_ptr.h"
#include "tests/support/field_movies.h"
#include "tests/support/run_program.h"
#include "tests/support/test_movies.h"

extern "C" {
#include <libavutil/display.h>
}

namespace testmovies {

namespace {

namespace av = media::av;

// A cover picture in a colour no frame of the movies has.
constexpr int kCoverIndex = 1500;

struct OutputDeleter {
    void operator()(AVFormatContext* f) const {
        if (f->pb)
            avio_closep(&f->pb);
        avformat_free_context(f);
    }
};

bool isHdr(Footage k) {
    return k == Footage::Hdr10 || k == Footage::Hlg;
}

std::string x264(const std::string& params) {
    return "keyint_min=1:scenecut=0:b-adapt=0:" + params;
}

// Copies every stream of `in` into `out` and gives the video a display
// matrix: the way a camera marks a mirrored picture, which the ffmpeg tool
// of this Debian release cannot write.
int remuxWithMatrix(const std::string& in, const std::string& out, bool hflip, std::string* error) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, in.c_str(), nullptr, nullptr) < 0) {
        *error = in + ": cannot be read";
        return -1;
    }
    const av::InputPtr input(raw);
    avformat_find_stream_info(input.get(), nullptr);
    AVFormatContext* made = nullptr;
    if (avformat_alloc_output_context2(&made, nullptr, "mp4", out.c_str()) < 0 || !made) {
        *error = out + ": no muxer";
        return -1;
    }
    const std::unique_ptr<AVFormatContext, OutputDeleter> output(made);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* s = avformat_new_stream(output.get(), nullptr);
        if (!s || avcodec_parameters_copy(s->codecpar, input->streams[i]->codecpar) < 0)
            return -1;
        s->codecpar->codec_tag = 0;
        s->time_base = input->streams[i]->time_base;
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            auto* m = reinterpret_cast<int32_t*>(
                av_stream_new_side_data(s, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
            if (!m)
                return -1;
            av_display_rotation_set(m, 0);
            av_display_matrix_flip(m, hflip ? 1 : 0, 0);
        }
    }
    if (avio_open(&output->pb, out.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(output.get(), nullptr) < 0) {
        *error = out + ": cannot be written";
        return -1;
    }
    const av::PacketPtr pkt(av_packet_alloc());
    while (av_read_frame(input.get(), pkt.get()) >= 0) {
        const AVRational from = input->streams[pkt->stream_index]->time_base;
        av_packet_rescale_ts(pkt.get(), from, output->streams[pkt->stream_index]->time_base);
        av_interleaved_write_frame(output.get(), pkt.get());
    }
    return av_write_trailer(output.get()) < 0 ? -1 : 0;
}

// Key frames as cameras space them: every half second for interlaced
// footage, in steps of three frames so that GOPs end I B B P ... P.
int halfSecondGop(int fpsNum, int fpsDen) {
    return std::max(3, 3 * static_cast<int>(std::lround(fpsNum / (6.0 * fpsDen))));
}

int oneSecondGop(int fpsNum, int fpsDen) {
    return std::max(1, static_cast<int>(std::lround(static_cast<double>(fpsNum) / fpsDen)));
}

} // namespace

const char* footageName(Footage kind) {
    switch (kind) {
    case Footage::TsH264OneKeyFrame:
        return "ts_h264_one_key_frame";
    case Footage::TsH264ManyKeyFrames:
        return "ts_h264_many_key_frames";
    case Footage::TsH264Interlaced:
        return "ts_h264_interlaced";
    case Footage::TsHevc:
        return "ts_hevc";
    case Footage::TsMpeg2:
        return "ts_mpeg2";
    case Footage::PsMpeg2OpenGop:
        return "ps_mpeg2_open_gop";
    case Footage::AviMpeg4BFrames:
        return "avi_mpeg4_bframes";
    case Footage::MkvCoverFirst:
        return "mkv_cover_first";
    case Footage::Mp4CoverAfter:
        return "mp4_cover_after";
    case Footage::Rotated90:
        return "rotated_90";
    case Footage::Rotated180:
        return "rotated_180";
    case Footage::Rotated270:
        return "rotated_270";
    case Footage::Flipped:
        return "flipped";
    case Footage::Anamorphic4x3:
        return "anamorphic_4x3";
    case Footage::Anamorphic8x9:
        return "anamorphic_8x9";
    case Footage::Hdr10:
        return "hdr10";
    case Footage::Hlg:
        return "hlg";
    case Footage::DamagedMiddle:
        return "damaged_middle";
    case Footage::TsH264Paff:
        return "ts_h264_paff";
    case Footage::MtsH264Paff:
        return "mts_h264_paff";
    case Footage::EsH264Paff:
        return "es_h264_paff";
    case Footage::MkvH264Paff:
        return "mkv_h264_paff";
    case Footage::TsMpeg2Fields:
        return "ts_mpeg2_fields";
    case Footage::EsH264:
        return "es_h264";
    case Footage::EsH264NoB:
        return "es_h264_no_b";
    case Footage::EsHevc:
        return "es_hevc";
    case Footage::EsHevcNoB:
        return "es_hevc_no_b";
    }
    return "unknown";
}

const char* footageExtension(Footage kind) {
    switch (kind) {
    case Footage::TsH264OneKeyFrame:
    case Footage::TsH264ManyKeyFrames:
    case Footage::TsH264Interlaced:
    case Footage::TsHevc:
    case Footage::TsMpeg2:
    case Footage::TsH264Paff:
    case Footage::TsMpeg2Fields:
        return ".ts";
    case Footage::MtsH264Paff:
        return ".mts";
    case Footage::EsH264Paff:
    case Footage::EsH264:
        return ".h264";
    case Footage::EsH264NoB:
        return ".264";
    case Footage::EsHevc:
        return ".hevc";
    case Footage::EsHevcNoB:
        return ".265";
    case Footage::MkvH264Paff:
        return ".mkv";
    case Footage::PsMpeg2OpenGop:
        return ".mpg";
    case Footage::AviMpeg4BFrames:
        return ".avi";
    case Footage::MkvCoverFirst:
    case Footage::Hdr10:
    case Footage::Hlg:
        return ".mkv";
    case Footage::DamagedMiddle:
        return ".mov";
    default:
        return ".mp4";
    }
}

bool footageIsFlat(Footage kind) {
    switch (kind) {
    case Footage::Rotated90:
    case Footage::Rotated180:
    case Footage::Rotated270:
    case Footage::Flipped:
    case Footage::Anamorphic4x3:
    case Footage::Anamorphic8x9:
    case Footage::Hdr10:
    case Footage::Hlg:
        return false;
    default:
        return true;
    }
}

void footageSizes(Footage kind, int* width, int* height, int* displayWidth, int* displayHeight) {
    *width = 176;
    *height = 144;
    *displayWidth = 176;
    *displayHeight = 144;
    switch (kind) {
    case Footage::Rotated90:
    case Footage::Rotated270:
        *displayWidth = 144;
        *displayHeight = 176;
        break;
    case Footage::Anamorphic4x3:
        *width = 240;
        *height = 180;
        *displayWidth = 320;
        *displayHeight = 180;
        break;
    case Footage::Anamorphic8x9:
        *displayWidth = 156;
        break;
    case Footage::TsH264Paff:
    case Footage::MtsH264Paff:
    case Footage::EsH264Paff:
    case Footage::MkvH264Paff:
    case Footage::TsMpeg2Fields:
        *width = *displayWidth = 320;
        *height = *displayHeight = 256;
        break;
    default:
        break;
    }
}

std::string sdrSourceOf(const std::string& path) {
    return path + "-sdr.nut";
}

int makeFootage(const FootageSpec& spec, const std::string& path, std::string* error) {
    std::string ignored;
    if (!error)
        error = &ignored;
    const Footage k = spec.kind;
    int width = 0, height = 0, dw = 0, dh = 0;
    footageSizes(k, &width, &height, &dw, &dh);

    if (k == Footage::DamagedMiddle) {
        MovieSpec movie;
        movie.path = path;
        movie.container = "mov";
        movie.codec = "mjpeg";
        movie.frames = spec.frames;
        movie.fpsNum = spec.fpsNum;
        movie.fpsDen = spec.fpsDen;
        if (make(movie, error) != 0)
            return -1;
        return zeroVideoFrames(path, spec.damageFrom, spec.damageTo, error);
    }
    if (footageHasFieldPictures(k)) {
        FieldStreamSpec fields;
        fields.codec = k == Footage::TsMpeg2Fields ? FieldCodec::Mpeg2 : FieldCodec::H264;
        fields.width = spec.width > 0 ? spec.width : width;
        fields.height = spec.height > 0 ? spec.height : height;
        fields.fpsNum = spec.fpsNum;
        fields.fpsDen = spec.fpsDen;
        fields.frames = spec.frames;
        fields.gop = halfSecondGop(spec.fpsNum, spec.fpsDen);
        fields.bFrames = 2;
        fields.compact = spec.compactFields;
        const char* muxer = k == Footage::MtsH264Paff   ? "m2ts"
                            : k == Footage::EsH264Paff  ? "h264"
                            : k == Footage::MkvH264Paff ? "matroska"
                                                        : "mpegts";
        return writeFieldMovie(fields, path, muxer, error);
    }

    // The lossless source; NUT keeps exact frame times.
    MovieSpec source;
    source.path = isHdr(k) ? sdrSourceOf(path) : path + "-source.nut";
    source.container = "nut";
    source.codec = "ffv1";
    source.width = width;
    source.height = height;
    source.frames = spec.frames;
    source.fpsNum = spec.fpsNum;
    source.fpsDen = spec.fpsDen;
    if (!footageIsFlat(k)) {
        source.pattern = Pattern::Pleasant;
        source.indexPatch = true;
    }
    if (make(source, error) != 0)
        return -1;
    const std::string& src = source.path;

    std::string cover;
    if (k == Footage::MkvCoverFirst || k == Footage::Mp4CoverAfter) {
        uint8_t r, g, b;
        colorForIndex(kCoverIndex, &r, &g, &b);
        char colour[16];
        std::snprintf(colour, sizeof colour, "0x%02X%02X%02X", r, g, b);
        cover = path + "-cover.png";
        if (runFfmpeg({"-f", "lavfi", "-i",
                       std::string("color=c=") + colour + ":s=" + std::to_string(width) + "x" +
                           std::to_string(height),
                       "-frames:v", "1", cover},
                      error) != 0)
            return -1;
    }

    const std::vector<std::string> h264{"-c:v", "libx264", "-preset", "veryfast", "-crf", "12"};
    std::vector<std::string> args;
    const auto add = [&](std::initializer_list<std::string> more) {
        args.insert(args.end(), more.begin(), more.end());
    };
    switch (k) {
    case Footage::TsH264OneKeyFrame:
        add({"-i", src});
        args.insert(args.end(), h264.begin(), h264.end());
        add({"-bf", "3", "-g", "1000", "-x264-params", x264("keyint=1000"), "-f", "mpegts", path});
        break;
    case Footage::TsH264ManyKeyFrames:
        add({"-i", src});
        args.insert(args.end(), h264.begin(), h264.end());
        add({"-bf", "2", "-g", "12", "-x264-params", x264("keyint=12"), "-f", "mpegts", path});
        break;
    case Footage::TsH264Interlaced:
        add({"-i", src});
        args.insert(args.end(), h264.begin(), h264.end());
        // The source's frames say top field first, or libavcodec's wrapper
        // turns x264 back to bottom first while the timing messages still
        // say top first.
        add({"-vf", "setfield=tff", "-bf", "2", "-g", "25", "-x264-params",
             x264("keyint=25:interlaced=1:tff=1"), "-field_order", "tt", "-f", "mpegts", path});
        break;
    case Footage::TsHevc:
        add({"-i", src, "-c:v", "libx265", "-preset", "ultrafast", "-crf", "12", "-x265-params",
             "log-level=error:keyint=25:min-keyint=25:scenecut=0:bframes=3:b-adapt=0", "-f",
             "mpegts", path});
        break;
    case Footage::TsMpeg2:
        add({"-i", src, "-c:v", "mpeg2video", "-q:v", "2", "-g", "15", "-bf", "2", "-sc_threshold",
             "1000000000", "-f", "mpegts", path});
        break;
    case Footage::PsMpeg2OpenGop:
        add({"-i", src, "-c:v", "mpeg2video", "-q:v", "2", "-flags", "-cgop", "-g", "30", "-bf",
             "2", "-sc_threshold", "1000000000", "-f", "vob", path});
        break;
    case Footage::AviMpeg4BFrames:
        add({"-i", src, "-c:v", "mpeg4", "-q:v", "2", "-bf", "2", "-g", "50", "-sc_threshold",
             "1000000000", "-vtag", "XVID", path});
        break;
    case Footage::MkvCoverFirst:
        add({"-i", cover, "-i", src, "-map", "0", "-map", "1:v", "-c:v:0", "mjpeg",
             "-disposition:v:0", "attached_pic", "-c:v:1", "libx264", "-crf", "12", "-g", "12",
             path});
        break;
    case Footage::Mp4CoverAfter:
        add({"-i", src, "-i", cover, "-map", "0:v", "-map", "1", "-c:v:0", "libx264", "-crf", "12",
             "-g", "12", "-c:v:1", "mjpeg", "-disposition:v:1", "attached_pic", path});
        break;
    case Footage::Rotated90:
    case Footage::Rotated180:
    case Footage::Rotated270: {
        // As a phone marks it: the pictures stored upright, the turn in the
        // track's matrix (which the tool writes when it copies, not when it
        // encodes).
        const char* angle = k == Footage::Rotated90    ? "90"
                            : k == Footage::Rotated180 ? "180"
                                                       : "270";
        const std::string plain = path + "-plain.mp4";
        if (runFfmpeg({"-i", src, "-c:v", "libx264", "-crf", "16", "-g", "12", plain}, error) != 0)
            return -1;
        add({"-i", plain, "-c", "copy", "-metadata:s:v", std::string("rotate=") + angle, path});
        break;
    }
    case Footage::Flipped: {
        const std::string plain = path + "-plain.mp4";
        if (runFfmpeg({"-i", src, "-c:v", "libx264", "-crf", "16", "-g", "12", plain}, error) != 0)
            return -1;
        return remuxWithMatrix(plain, path, true, error);
    }
    case Footage::Anamorphic4x3:
        add({"-i", src, "-vf", "setsar=4/3", "-c:v", "libx264", "-crf", "16", "-g", "12", path});
        break;
    case Footage::Anamorphic8x9:
        add({"-i", src, "-vf", "setsar=8/9", "-c:v", "libx264", "-crf", "16", "-g", "12", path});
        break;
    case Footage::Hdr10:
    case Footage::Hlg: {
        // The SDR picture with its white at 203 cd/m², the reference white
        // of HDR production, coded as BT.2020 10-bit with the transfer.
        const std::string trc = k == Footage::Hdr10 ? "smpte2084" : "arib-std-b67";
        add({"-i", src, "-vf",
             "zscale=tin=bt709:min=bt709:pin=bt709:rin=tv:t=" + trc +
                 ":m=bt2020nc:p=bt2020:r=tv:npl=203,format=yuv420p10le",
             "-c:v", "libx265", "-preset", "ultrafast", "-crf", "14", "-x265-params",
             "log-level=error:keyint=25:colorprim=bt2020:transfer=" + trc + ":colormatrix=bt2020nc",
             "-color_primaries", "bt2020", "-color_trc", trc, "-colorspace", "bt2020nc", path});
        break;
    }
    case Footage::EsH264:
    case Footage::EsH264NoB: {
        const std::string keyint = std::to_string(oneSecondGop(spec.fpsNum, spec.fpsDen));
        add({"-i", src});
        args.insert(args.end(), h264.begin(), h264.end());
        if (k == Footage::EsH264NoB)
            add({"-profile:v", "baseline", "-bf", "0"});
        else
            add({"-bf", "2"});
        add({"-g", keyint, "-x264-params", x264("keyint=" + keyint), "-f", "h264", path});
        break;
    }
    case Footage::EsHevc:
    case Footage::EsHevcNoB: {
        const std::string keyint = std::to_string(oneSecondGop(spec.fpsNum, spec.fpsDen));
        add({"-i", src, "-c:v", "libx265", "-preset", "ultrafast", "-crf", "12", "-x265-params",
             "log-level=error:keyint=" + keyint + ":min-keyint=" + keyint +
                 ":scenecut=0:b-adapt=0:bframes=" + (k == Footage::EsHevc ? "3" : "0"),
             "-f", "hevc", path});
        break;
    }
    case Footage::DamagedMiddle:
    case Footage::TsH264Paff:
    case Footage::MtsH264Paff:
    case Footage::EsH264Paff:
    case Footage::MkvH264Paff:
    case Footage::TsMpeg2Fields:
        break;
    }
    return runFfmpeg(args, error);
}

bool footageHasFieldPictures(Footage kind) {
    switch (kind) {
    case Footage::TsH264Paff:
    case Footage::MtsH264Paff:
    case Footage::EsH264Paff:
    case Footage::MkvH264Paff:
    case Footage::TsMpeg2Fields:
        return true;
    default:
        return false;
    }
}

const std::vector<Footage>& allFootage() {
    static const std::vector<Footage> kinds = [] {
        // Every value up to the first without a name, so that a kind added
        // at the end of the enumeration is listed once it is named.
        std::vector<Footage> all;
        for (int k = 0; std::string(footageName(static_cast<Footage>(k))) != "unknown"; ++k)
            all.push_back(static_cast<Footage>(k));
        return all;
    }();
    return kinds;
}

bool footageByName(const std::string& name, Footage* kind) {
    for (const Footage k : allFootage()) {
        if (name == footageName(k)) {
            *kind = k;
            return true;
        }
    }
    return false;
}

namespace {

using Span = std::pair<int64_t, int64_t>; // offset, length

int64_t fileSize(const std::string& path) {
    std::error_code failed;
    const auto size = std::filesystem::file_size(path, failed);
    return failed ? -1 : static_cast<int64_t>(size);
}

// The bytes that carry `length` bytes of one stream's payload in a
// transport stream, from the packet at `pos` on: the payloads of that
// stream's packets after their PES headers, so that the transport packets,
// their continuity and the PES headers stay as they were. Packets of 188
// bytes, or 192 with the 4-byte time prefix of .m2ts.
void transportSpans(std::istream& file, int64_t pos, int64_t length, int pid,
                    std::vector<Span>* spans) {
    const auto byteAt = [&](int64_t at) {
        char c = 0;
        file.clear();
        file.seekg(at);
        file.get(c);
        return file ? static_cast<uint8_t>(c) : uint8_t{0};
    };
    int64_t at = byteAt(pos) == 0x47 ? pos : byteAt(pos + 4) == 0x47 ? pos + 4 : -1;
    if (at < 0)
        return;
    const int stride = byteAt(at + 188) == 0x47 && byteAt(at + 376) == 0x47 ? 188 : 192;
    uint8_t p[188];
    while (length > 0) {
        file.clear();
        file.seekg(at);
        if (!file.read(reinterpret_cast<char*>(p), sizeof p) || p[0] != 0x47)
            return;
        const int packetPid = (p[1] & 0x1F) << 8 | p[2];
        const int control = p[3] >> 4 & 3;
        if (packetPid == pid && (control & 1)) {
            int payload = 4 + ((control & 2) ? 1 + p[4] : 0);
            // A packet that starts a PES: its header is container, not picture.
            if ((p[1] & 0x40) && payload + 9 <= 188)
                payload += 9 + p[payload + 8];
            if (payload < 188) {
                const int64_t n = std::min<int64_t>(length, 188 - payload);
                spans->emplace_back(at + payload, n);
                length -= n;
            }
        }
        at += stride;
    }
}

int zeroSpans(const std::string& path, const std::vector<Span>& spans, std::string* error) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [pos, size] : spans) {
        const std::vector<char> zeros(static_cast<size_t>(size), 0);
        file.seekp(pos);
        file.write(zeros.data(), static_cast<std::streamsize>(size));
    }
    if (!file || spans.empty()) {
        *error = path + ": the bytes could not be zeroed";
        return -1;
    }
    return 0;
}

} // namespace

int zeroVideoFrames(const std::string& path, int from, int to, std::string* error) {
    std::string ignored;
    if (!error)
        error = &ignored;
    std::vector<Span> packets;
    bool transport = false;
    int pid = -1;
    {
        AVFormatContext* raw = nullptr;
        if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
            *error = path + ": cannot be read";
            return -1;
        }
        const av::InputPtr input(raw);
        avformat_find_stream_info(input.get(), nullptr);
        const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video < 0) {
            *error = path + ": no video";
            return -1;
        }
        transport = std::string(input->iformat->name) == "mpegts";
        pid = input->streams[video]->id;
        const av::PacketPtr pkt(av_packet_alloc());
        int n = 0;
        while (av_read_frame(input.get(), pkt.get()) >= 0) {
            if (pkt->stream_index == video) {
                if (n >= from && n < to && pkt->pos >= 0)
                    packets.emplace_back(pkt->pos, pkt->size);
                ++n;
            }
            av_packet_unref(pkt.get());
        }
    }
    std::vector<Span> spans;
    if (transport) {
        std::ifstream file(path, std::ios::binary);
        for (const auto& [pos, size] : packets)
            transportSpans(file, pos, size, pid, &spans);
    } else {
        spans = packets;
    }
    if (zeroSpans(path, spans, error) != 0) {
        *error = path + ": the frames could not be damaged";
        return -1;
    }
    return 0;
}

int64_t FilePoint::in(int64_t size) const {
    if (bytes >= 0)
        return std::min(bytes, size);
    return std::clamp<int64_t>(
        static_cast<int64_t>(std::llround(fraction * static_cast<double>(size))), 0, size);
}

int cutAt(const std::string& source, const std::string& dest, FilePoint end, std::string* error) {
    const int64_t size = fileSize(source);
    if (size < 0) {
        if (error)
            *error = source + ": cannot read the file";
        return -1;
    }
    return writeTruncated(source, dest, static_cast<size_t>(end.in(size)), error);
}

int zeroStretch(const std::string& path, FilePoint from, FilePoint to, std::string* error) {
    std::string ignored;
    if (!error)
        error = &ignored;
    const int64_t size = fileSize(path);
    const int64_t begin = from.in(std::max<int64_t>(size, 0));
    const int64_t end = to.in(std::max<int64_t>(size, 0));
    if (size < 0 || end <= begin) {
        *error = path + ": nothing to zero";
        return -1;
    }
    return zeroSpans(path, {Span{begin, end - begin}}, error);
}

} // namespace testmovies
