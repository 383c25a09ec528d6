#include "tests/support/test_movies.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "platform/media/av_ptr.h"
#include "tests/support/pattern.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace testmovies {

namespace {

// Twelve levels per channel, 23 apart: coding noise of up to 11 steps in a
// channel still reads back as the right level.
constexpr int kLevels = 12;
constexpr int kTolerance = 9; // beyond this the colour is called unreadable

int levelValue(int level) {
    return (level * 255 + (kLevels - 1) / 2) / (kLevels - 1);
}

int nearestLevel(int value, int* distance) {
    int level = (value * (kLevels - 1) + 127) / 255;
    level = std::clamp(level, 0, kLevels - 1);
    *distance = std::abs(value - levelValue(level));
    return level;
}

struct OutputDeleter {
    void operator()(AVFormatContext* f) const {
        if (f->pb && !(f->oformat->flags & AVFMT_NOFILE))
            avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
using media::av::FramePtr;
using media::av::PacketPtr;
using media::av::SwsPtr;
using CodecContextPtr = media::av::CodecPtr;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

std::string averrorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

std::string lowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

struct ContainerChoice {
    const char* muxer;
    const char* videoCodec;
    const char* audioCodec;
};

// The muxer and codecs a real file of each kind usually has.
bool chooseContainer(const std::string& ext, ContainerChoice* out) {
    static const struct {
        const char* ext;
        ContainerChoice choice;
    } table[] = {
        {"avi", {"avi", "mpeg4", "mp2"}},
        {"mov", {"mov", "mpeg4", "aac"}},
        {"qt", {"mov", "mpeg4", "aac"}},
        {"mpg", {"mpeg", "mpeg1video", "mp2"}},
        {"mpeg", {"vob", "mpeg2video", "mp2"}},
        {"dat", {"vcd", "mpeg1video", "mp2"}},
        {"m1v", {"mpeg1video", "mpeg1video", nullptr}},
        {"rm", {"rm", "rv10", "ac3"}},
        {"rmvb", {"rm", "rv20", "ac3"}},
        {"wmv", {"asf", "wmv2", "wmav2"}},
        {"asf", {"asf", "wmv2", "wmav2"}},
        {"mp4", {"mp4", "libx264", "aac"}},
        {"mkv", {"matroska", "libx264", "mp2"}},
        {"wav", {"wav", nullptr, "pcm_s16le"}},
        {"mp2", {"mp2", nullptr, "mp2"}},
        {"mka", {"matroska", nullptr, "mp2"}},
    };
    for (const auto& row : table) {
        if (ext == row.ext) {
            *out = row.choice;
            return true;
        }
    }
    return false;
}

class Writer {
public:
    explicit Writer(const MovieSpec& spec) : spec_(spec) {}

    int run(std::string* error) {
        int rc = setUp();
        if (rc == 0)
            rc = writeAll();
        if (rc != 0) {
            if (error)
                *error = error_;
            if (created_) {
                // No half-written movie for a test to trip over.
                out_.reset();
                std::remove(spec_.path.c_str());
            }
        }
        return rc;
    }

private:
    int fail(const std::string& what, int code = 0) {
        error_ = spec_.path + ": " + what;
        if (code < 0)
            error_ += ": " + averrorText(code);
        return -1;
    }

    int setUp() {
        if (spec_.path.empty())
            return fail("no output path");
        if (!spec_.video && !spec_.audio)
            return fail("a movie needs at least one stream");
        if (spec_.video && (spec_.width <= 0 || spec_.height <= 0 || spec_.fpsNum <= 0 ||
                            spec_.fpsDen <= 0 || spec_.frames <= 0))
            return fail("bad video parameters");
        if (spec_.video && spec_.pattern == Pattern::Index && spec_.frames > kMaxIndex + 1)
            return fail("more frames than the colour code can tell apart");

        ContainerChoice choice{nullptr, nullptr, nullptr};
        const bool known = chooseContainer(lowerExtension(spec_.path), &choice);
        const std::string muxer =
            !spec_.container.empty() ? spec_.container : (known ? choice.muxer : "");
        if (muxer.empty())
            return fail("no container for this extension");
        AVFormatContext* raw = nullptr;
        int rc = avformat_alloc_output_context2(&raw, nullptr, muxer.c_str(), spec_.path.c_str());
        if (rc < 0 || !raw)
            return fail("cannot make a " + muxer + " file", rc);
        out_.reset(raw);

        const std::string videoCodec = !spec_.codec.empty() ? spec_.codec
                                       : choice.videoCodec  ? choice.videoCodec
                                                            : "mpeg4";
        if (spec_.audio && known && !choice.audioCodec)
            return fail("this container holds one video stream only");
        const std::string audioCodec = choice.audioCodec ? choice.audioCodec : "mp2";

        if (spec_.audio && spec_.audioFirst && (rc = openAudio(audioCodec)) != 0)
            return rc;
        if (spec_.video && (rc = openVideo(videoCodec)) != 0)
            return rc;
        if (spec_.audio && !spec_.audioFirst && (rc = openAudio(audioCodec)) != 0)
            return rc;

        if (!(out_->oformat->flags & AVFMT_NOFILE)) {
            rc = avio_open(&out_->pb, spec_.path.c_str(), AVIO_FLAG_WRITE);
            if (rc < 0)
                return fail("cannot create the file", rc);
            created_ = true;
        }
        rc = avformat_write_header(out_.get(), nullptr);
        if (rc < 0)
            return fail("cannot write the header", rc);
        return 0;
    }

    int openVideo(const std::string& name) {
        const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
        if (!codec)
            return fail("no encoder " + name);
        video_.reset(avcodec_alloc_context3(codec));
        AVCodecContext* c = video_.get();
        c->width = spec_.width;
        c->height = spec_.height;
        c->time_base = AVRational{spec_.fpsDen, spec_.fpsNum};
        c->framerate = AVRational{spec_.fpsNum, spec_.fpsDen};
        c->gop_size = std::max(1, spec_.gop);
        c->max_b_frames = std::max(0, spec_.bFrames);
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        if (codec->pix_fmts && codec->id == AV_CODEC_ID_MJPEG) {
            c->pix_fmt = codec->pix_fmts[0]; // full-range YUV, as JPEG has it
        } else if (codec->pix_fmts) {
            bool has420 = false;
            for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
                has420 = has420 || *p == AV_PIX_FMT_YUV420P;
            if (!has420)
                c->pix_fmt = codec->pix_fmts[0];
        }
        if (out_->oformat->flags & AVFMT_GLOBALHEADER)
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // The colours are converted with BT.601, the scaler's default. A
        // reader takes an untagged picture of 720 lines or more for BT.709:
        // such movies say what they are. (Smaller ones stay as they always
        // were, byte for byte.)
        if (codec->id != AV_CODEC_ID_MJPEG && c->height >= 720) {
            c->colorspace = AVCOL_SPC_SMPTE170M;
            c->color_primaries = AVCOL_PRI_SMPTE170M;
            c->color_trc = AVCOL_TRC_SMPTE170M;
            c->color_range = AVCOL_RANGE_MPEG;
        }
        if (spec_.sarNum > 0 && spec_.sarDen > 0)
            c->sample_aspect_ratio = AVRational{spec_.sarNum, spec_.sarDen};

        const bool flat = spec_.pattern == Pattern::Index && !spec_.indexPatch;
        if (name == "libx264" || name == "libx264rgb") {
            av_opt_set(c->priv_data, "preset", spec_.x264Preset.c_str(), 0);
            av_opt_set(c->priv_data, "crf", flat ? "12" : "23", 0);
            // A fixed picture structure: key frames exactly every gop frames and
            // exactly bFrames B-frames between references, as tests expect.
            av_opt_set(c->priv_data, "x264-params", "scenecut=0:b-adapt=0", 0);
        } else {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * (flat ? 2 : 4);
            av_opt_set_int(c, "sc_threshold", 1000000000, AV_OPT_SEARCH_CHILDREN);
            // Program stream muxers size their buffers from the bit rate.
            c->bit_rate = static_cast<int64_t>(spec_.width) * spec_.height * 6;
            c->rc_max_rate = 0;
        }
        int rc = avcodec_open2(c, codec, nullptr);
        if (rc < 0)
            return fail("cannot open encoder " + name, rc);
        videoStream_ = avformat_new_stream(out_.get(), nullptr);
        if (!videoStream_)
            return fail("no memory");
        videoStream_->time_base = c->time_base;
        videoStream_->avg_frame_rate = c->framerate;
        videoStream_->sample_aspect_ratio = c->sample_aspect_ratio;
        if (spec_.rotation != 0) {
            auto* matrix = reinterpret_cast<int32_t*>(av_stream_new_side_data(
                videoStream_, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
            if (!matrix)
                return fail("no memory");
            // A matrix set to turn by R reads back as -R counter-clockwise,
            // which players undo with a clockwise turn by R.
            av_display_rotation_set(matrix, spec_.rotation);
        }
        rc = avcodec_parameters_from_context(videoStream_->codecpar, c);
        if (rc < 0)
            return fail("cannot describe the video stream", rc);

        frame_.reset(av_frame_alloc());
        frame_->format = c->pix_fmt;
        frame_->width = c->width;
        frame_->height = c->height;
        rc = av_frame_get_buffer(frame_.get(), 0);
        if (rc < 0)
            return fail("no memory for a frame", rc);
        sws_.reset(sws_getContext(c->width, c->height, AV_PIX_FMT_RGB24, c->width, c->height,
                                  c->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!sws_)
            return fail("no colour conversion to the encoder's format");
        rgb_.assign(static_cast<size_t>(c->width) * c->height * 3, 0);
        painter_ = std::make_unique<PleasantPainter>(c->width, c->height, spec_.noise);
        return 0;
    }

    int openAudio(const std::string& name) {
        const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
        if (!codec)
            return fail("no encoder " + name);
        audio_.reset(avcodec_alloc_context3(codec));
        AVCodecContext* c = audio_.get();
        c->sample_rate = 44100;
        if (codec->supported_samplerates) {
            bool has44 = false;
            for (const int* r = codec->supported_samplerates; *r; ++r)
                has44 = has44 || *r == 44100;
            if (!has44)
                c->sample_rate = codec->supported_samplerates[0];
        }
        c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&c->ch_layout, 2);
        c->bit_rate = 128000;
        c->time_base = AVRational{1, c->sample_rate};
        if (out_->oformat->flags & AVFMT_GLOBALHEADER)
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int rc = avcodec_open2(c, codec, nullptr);
        if (rc < 0)
            return fail("cannot open encoder " + name, rc);
        audioStream_ = avformat_new_stream(out_.get(), nullptr);
        if (!audioStream_)
            return fail("no memory");
        audioStream_->time_base = c->time_base;
        if (!spec_.audioLanguage.empty())
            av_dict_set(&audioStream_->metadata, "language", spec_.audioLanguage.c_str(), 0);
        rc = avcodec_parameters_from_context(audioStream_->codecpar, c);
        if (rc < 0)
            return fail("cannot describe the audio stream", rc);
        audioFrame_.reset(av_frame_alloc());
        audioFrame_->format = c->sample_fmt;
        audioFrame_->sample_rate = c->sample_rate;
        audioFrame_->nb_samples = c->frame_size > 0 ? c->frame_size : 1024;
        av_channel_layout_copy(&audioFrame_->ch_layout, &c->ch_layout);
        rc = av_frame_get_buffer(audioFrame_.get(), 0);
        if (rc < 0)
            return fail("no memory for audio", rc);
        return 0;
    }

    double movieSeconds() const {
        const int frames = spec_.video ? spec_.frames : std::max(1, spec_.frames);
        return static_cast<double>(frames) * spec_.fpsDen / spec_.fpsNum;
    }

    int writeAll() {
        packet_.reset(av_packet_alloc());
        const double total = movieSeconds();
        const int64_t totalSamples =
            audio_ ? static_cast<int64_t>(std::llround(total * audio_->sample_rate)) : 0;
        int rc = 0;
        for (int n = 0; spec_.video && n < spec_.frames; ++n) {
            if ((rc = writeVideoFrame(n)) != 0)
                return rc;
            const double until = static_cast<double>(n + 1) * spec_.fpsDen / spec_.fpsNum;
            while (audio_ && audioSamples_ < totalSamples &&
                   static_cast<double>(audioSamples_) / audio_->sample_rate < until) {
                if ((rc = writeAudioFrame()) != 0)
                    return rc;
            }
        }
        while (audio_ && audioSamples_ < totalSamples) {
            if ((rc = writeAudioFrame()) != 0)
                return rc;
        }
        if (video_ && (rc = encode(video_.get(), nullptr, videoStream_)) != 0)
            return rc;
        if (audio_ && (rc = encode(audio_.get(), nullptr, audioStream_)) != 0)
            return rc;
        rc = av_write_trailer(out_.get());
        if (rc < 0)
            return fail("cannot finish the file", rc);
        return 0;
    }

    int writeVideoFrame(int n) {
        AVCodecContext* c = video_.get();
        const double seconds = static_cast<double>(n) * spec_.fpsDen / spec_.fpsNum;
        if (spec_.pattern == Pattern::Index) {
            uint8_t r, g, b;
            colorForIndex(n, &r, &g, &b);
            for (size_t i = 0; i < rgb_.size(); i += 3) {
                rgb_[i] = r;
                rgb_[i + 1] = g;
                rgb_[i + 2] = b;
            }
        } else {
            painter_->paint(rgb_.data(), seconds, movieSeconds());
            if (spec_.indexPatch) {
                uint8_t r, g, b;
                colorForIndex(n % (kMaxIndex + 1), &r, &g, &b);
                const Box box = indexPatchBox(c->width, c->height);
                for (int y = box.y; y < box.y + box.h; ++y) {
                    uint8_t* row = rgb_.data() + (static_cast<size_t>(y) * c->width + box.x) * 3;
                    for (int x = 0; x < box.w; ++x) {
                        row[3 * x] = r;
                        row[3 * x + 1] = g;
                        row[3 * x + 2] = b;
                    }
                }
            }
        }
        for (const FlatStretch& stretch : spec_.flat)
            if (n >= stretch.first && n <= stretch.last)
                std::fill(rgb_.begin(), rgb_.end(), stretch.level);
        int rc = av_frame_make_writable(frame_.get());
        if (rc < 0)
            return fail("frame not writable", rc);
        const uint8_t* src[1] = {rgb_.data()};
        const int srcStride[1] = {c->width * 3};
        sws_scale(sws_.get(), src, srcStride, 0, c->height, frame_->data, frame_->linesize);
        frame_->pts = n;
        return encode(c, frame_.get(), videoStream_);
    }

    int writeAudioFrame() {
        AVCodecContext* c = audio_.get();
        AVFrame* f = audioFrame_.get();
        int rc = av_frame_make_writable(f);
        if (rc < 0)
            return fail("audio frame not writable", rc);
        const int channels = c->ch_layout.nb_channels;
        const auto format = static_cast<AVSampleFormat>(f->format);
        const bool planar = av_sample_fmt_is_planar(format);
        const AVSampleFormat packed = av_get_packed_sample_fmt(format);
        for (int i = 0; i < f->nb_samples; ++i) {
            const double t = static_cast<double>(audioSamples_ + i) / c->sample_rate;
            const double v = 0.2 * std::sin(2.0 * M_PI * 440.0 * t);
            for (int ch = 0; ch < channels; ++ch) {
                const int plane = planar ? ch : 0;
                const int slot = planar ? i : i * channels + ch;
                switch (packed) {
                case AV_SAMPLE_FMT_S16:
                    reinterpret_cast<int16_t*>(f->data[plane])[slot] =
                        static_cast<int16_t>(v * 32767);
                    break;
                case AV_SAMPLE_FMT_S32:
                    reinterpret_cast<int32_t*>(f->data[plane])[slot] =
                        static_cast<int32_t>(v * 2147483647.0);
                    break;
                case AV_SAMPLE_FMT_FLT:
                    reinterpret_cast<float*>(f->data[plane])[slot] = static_cast<float>(v);
                    break;
                case AV_SAMPLE_FMT_DBL:
                    reinterpret_cast<double*>(f->data[plane])[slot] = v;
                    break;
                default:
                    return fail("unexpected audio sample format");
                }
            }
        }
        f->pts = audioSamples_;
        audioSamples_ += f->nb_samples;
        return encode(c, f, audioStream_);
    }

    int encode(AVCodecContext* c, AVFrame* frame, AVStream* stream) {
        int rc = avcodec_send_frame(c, frame);
        if (rc < 0 && !(frame == nullptr && rc == AVERROR_EOF))
            return fail("encoding failed", rc);
        for (;;) {
            rc = avcodec_receive_packet(c, packet_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return 0;
            if (rc < 0)
                return fail("encoding failed", rc);
            av_packet_rescale_ts(packet_.get(), c->time_base, stream->time_base);
            packet_->stream_index = stream->index;
            rc = av_interleaved_write_frame(out_.get(), packet_.get());
            if (rc < 0)
                return fail("writing failed", rc);
        }
    }

    const MovieSpec& spec_;
    std::string error_;
    OutputPtr out_;
    CodecContextPtr video_;
    CodecContextPtr audio_;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    FramePtr frame_;
    FramePtr audioFrame_;
    PacketPtr packet_;
    SwsPtr sws_;
    std::vector<uint8_t> rgb_;
    std::unique_ptr<PleasantPainter> painter_;
    int64_t audioSamples_ = 0;
    bool created_ = false;
};

int writeBytes(const std::string& path, const std::vector<char>& bytes, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        if (error)
            *error = path + ": cannot write the file";
        return -1;
    }
    return 0;
}

} // namespace

int make(const MovieSpec& spec, std::string* error) {
    // The muxers chat about buffer sizes at the default level; tests want quiet.
    if (av_log_get_level() == AV_LOG_INFO)
        av_log_set_level(AV_LOG_ERROR);
    Writer writer(spec);
    return writer.run(error);
}

void colorForIndex(int index, uint8_t* r, uint8_t* g, uint8_t* b) {
    // Code 0 would be black, which is what an empty cell looks like.
    const int code = std::clamp(index, 0, kMaxIndex) + 1;
    *r = static_cast<uint8_t>(levelValue(code / (kLevels * kLevels)));
    *g = static_cast<uint8_t>(levelValue(code / kLevels % kLevels));
    *b = static_cast<uint8_t>(levelValue(code % kLevels));
}

int indexFromColor(uint8_t r, uint8_t g, uint8_t b) {
    int dr, dg, db;
    const int code = nearestLevel(r, &dr) * kLevels * kLevels + nearestLevel(g, &dg) * kLevels +
                     nearestLevel(b, &db);
    if (dr > kTolerance || dg > kTolerance || db > kTolerance || code == 0)
        return -1;
    return code - 1;
}

namespace {

// The channel sums of a rectangle of 24-bit pixels, in their stored order.
bool channelMeans(const uint8_t* pixels, int stride, int x, int y, int w, int h, uint8_t* means) {
    if (!pixels || w <= 0 || h <= 0)
        return false;
    int64_t sum[3] = {0, 0, 0};
    for (int row = y; row < y + h; ++row) {
        const uint8_t* p = pixels + static_cast<ptrdiff_t>(row) * stride + x * 3;
        for (int col = 0; col < w; ++col, p += 3) {
            sum[0] += p[0];
            sum[1] += p[1];
            sum[2] += p[2];
        }
    }
    const int64_t n = static_cast<int64_t>(w) * h;
    for (int c = 0; c < 3; ++c)
        means[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
    return true;
}

} // namespace

int indexFromBgr(const uint8_t* pixels, int stride, int x, int y, int w, int h) {
    uint8_t m[3];
    return channelMeans(pixels, stride, x, y, w, h, m) ? indexFromColor(m[2], m[1], m[0]) : -1;
}

int indexFromRgb(const uint8_t* pixels, int stride, int x, int y, int w, int h) {
    uint8_t m[3];
    return channelMeans(pixels, stride, x, y, w, h, m) ? indexFromColor(m[0], m[1], m[2]) : -1;
}

Box indexPatchBox(int width, int height) {
    return Box{width / 20, height / 12, std::max(1, width / 4), std::max(1, height / 4)};
}

int writeRandomBytes(const std::string& path, size_t size, uint32_t seed, std::string* error) {
    std::mt19937 random(seed);
    std::vector<char> bytes(size);
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return writeBytes(path, bytes, error);
}

int writeEmpty(const std::string& path, std::string* error) {
    return writeBytes(path, {}, error);
}

int writeTruncated(const std::string& source, const std::string& path, size_t keep,
                   std::string* error) {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        if (error)
            *error = source + ": cannot read the file";
        return -1;
    }
    std::vector<char> bytes(keep);
    in.read(bytes.data(), static_cast<std::streamsize>(keep));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return writeBytes(path, bytes, error);
}

} // namespace testmovies
