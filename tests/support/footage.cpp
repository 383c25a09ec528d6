#include "tests/support/footage.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/media/av_ptr.h"
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
        return ".ts";
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
        if (make(movie, error) != 0)
            return -1;
        return zeroVideoFrames(path, spec.damageFrom, spec.damageTo, error);
    }

    // The lossless source; NUT keeps exact frame times.
    MovieSpec source;
    source.path = isHdr(k) ? sdrSourceOf(path) : path + "-source.nut";
    source.container = "nut";
    source.codec = "ffv1";
    source.width = width;
    source.height = height;
    source.frames = spec.frames;
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
        add({"-bf", "2", "-g", "25", "-x264-params", x264("keyint=25:interlaced=1:tff=1"),
             "-field_order", "tt", "-f", "mpegts", path});
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
    case Footage::DamagedMiddle:
        break;
    }
    return runFfmpeg(args, error);
}

int zeroVideoFrames(const std::string& path, int from, int to, std::string* error) {
    std::vector<std::pair<int64_t, int>> spans;
    {
        AVFormatContext* raw = nullptr;
        if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
            *error = path + ": cannot be read";
            return -1;
        }
        const av::InputPtr input(raw);
        avformat_find_stream_info(input.get(), nullptr);
        const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const av::PacketPtr pkt(av_packet_alloc());
        int n = 0;
        while (av_read_frame(input.get(), pkt.get()) >= 0) {
            if (pkt->stream_index == video) {
                if (n >= from && n < to && pkt->pos >= 0)
                    spans.emplace_back(pkt->pos, pkt->size);
                ++n;
            }
            av_packet_unref(pkt.get());
        }
    }
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [pos, size] : spans) {
        const std::vector<char> zeros(static_cast<size_t>(size), 0);
        file.seekp(pos);
        file.write(zeros.data(), size);
    }
    if (!file || spans.empty()) {
        *error = path + ": the frames could not be damaged";
        return -1;
    }
    return 0;
}

} // namespace testmovies
