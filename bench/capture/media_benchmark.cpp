// The 25 frames of a 5 × 5 sheet from a 60-second H.264 movie (640 × 360, a
// key frame every 250 frames, 3 B-frames), three ways:
//   - OpenPerMoment: what a separate tool call per moment does: open the file,
//     seek to the key frame before the moment, decode every frame up to it,
//     convert it. The baseline.
//   - Reader/0: the reader asked one moment at a time (one decoder with
//     threads, reference frames only before each moment).
//   - Reader/N: all moments in one planned call, on N cores.
// Run: build/<preset>/bench/capture/media_benchmark

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/media/movie_reader.h"
#include "tests/support/test_movies.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

using namespace media;

constexpr int kMoments = 25;

const std::string& movie() {
    static const std::string path = [] {
        const std::string p =
            (std::filesystem::temp_directory_path() / "stillwick-media-benchmark.mp4").string();
        if (!std::filesystem::exists(p)) {
            testmovies::MovieSpec spec;
            spec.path = p;
            spec.pattern = testmovies::Pattern::Pleasant;
            spec.noise = 12;
            spec.width = 640;
            spec.height = 360;
            spec.frames = 60 * 25;
            spec.gop = 250;
            spec.bFrames = 3;
            spec.x264Preset = "superfast";
            std::string error;
            if (testmovies::make(spec, &error) != 0)
                std::fprintf(stderr, "media_benchmark: %s\n", error.c_str());
        }
        return p;
    }();
    return path;
}

std::vector<int64_t> moments() {
    std::vector<int64_t> out;
    const int64_t step = 600'000'000 / (kMoments + 1);
    for (int i = 1; i <= kMoments; ++i)
        out.push_back(i * step);
    return out;
}

// One frame the way a separate tool call gets it. Plain C calls on purpose:
// this is the baseline, not code of the product.
void openPerMoment(const std::string& path, int64_t position) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return;
    avformat_find_stream_info(fmt, nullptr);
    const int vs = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVStream* st = fmt->streams[vs];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, st->codecpar);
    dec->thread_count = 0;
    avcodec_open2(dec, codec, nullptr);
    const int64_t target = av_rescale_q(position, AVRational{1, 10000000}, st->time_base);
    av_seek_frame(fmt, vs, target, AVSEEK_FLAG_BACKWARD);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool done = false;
    while (!done && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == vs && avcodec_send_packet(dec, pkt) >= 0) {
            while (!done && avcodec_receive_frame(dec, frame) >= 0) {
                if (frame->best_effort_timestamp >= target) {
                    SwsContext* sws = sws_getContext(frame->width, frame->height,
                                                     static_cast<AVPixelFormat>(frame->format),
                                                     frame->width, frame->height, AV_PIX_FMT_BGR24,
                                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
                    std::vector<uint8_t> bgr(static_cast<size_t>(frame->width) * frame->height * 3);
                    uint8_t* dst[1] = {bgr.data()};
                    const int stride[1] = {frame->width * 3};
                    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
                    benchmark::DoNotOptimize(bgr.data());
                    sws_freeContext(sws);
                    done = true;
                }
            }
        }
        av_packet_unref(pkt);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
}

void OpenPerMoment(benchmark::State& state) {
    const std::string& path = movie();
    const std::vector<int64_t> positions = moments();
    for (auto _ : state)
        for (int64_t p : positions)
            openPerMoment(path, p);
}

void Reader(benchmark::State& state) {
    const std::string& path = movie();
    const std::vector<int64_t> positions = moments();
    const int cores = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::unique_ptr<MovieReader> reader;
        if (!MovieReader::open(path, nullptr, &reader).ok()) {
            state.SkipWithError("the movie cannot be opened");
            return;
        }
        reader->setCores(cores);
        int frames = 0;
        FrameRequest request;
        request.width = 156;
        request.height = 88;
        const auto count = [&](size_t, Frame&& f) {
            benchmark::DoNotOptimize(f.picture.rgb.data());
            frames += f.found;
            return true;
        };
        Result rc;
        if (cores > 0) {
            rc = reader->frames(positions, request, count);
        } else {
            for (int64_t p : positions)
                if (rc.ok())
                    rc = reader->frames({p}, request, count);
        }
        if (!rc.ok())
            state.SkipWithError(rc.text().c_str());
        if (frames != kMoments)
            state.SkipWithError("a moment delivered no frame");
    }
}

BENCHMARK(OpenPerMoment)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(Reader)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace

BENCHMARK_MAIN();
