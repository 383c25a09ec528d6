// media-bench: the measuring and checking side of bench/compare-ffmpeg.sh.
//
//   media-bench capture MOVIE [--workers N] [--sync] [--fast] [--moments N]
//       runs the media graph as a capture does (one seek, run and wait per
//       moment, the moments announced first unless --sync) and prints each
//       moment's frame code and time, then the wall time and the frames
//       decoded; --fast asks for the key frame nearest each moment, within
//       half a step.
//   media-bench duration MOVIE
//       the movie's length in 100-ns units, as the probe reads it.
//   media-bench frame-code RAW WxH
//       the frame code in a raw top-down BGR frame, as ffmpeg writes it with
//       -f rawvideo -pix_fmt bgr24.
//   media-bench sheet-codes RAW WxH VIDEOWxVIDEOH
//       the frame code in each cell of a raw sheet made with the default grid
//       and the information block off.
//
// The frame code is the colour box the test-movie maker puts in the top-left
// corner of the pleasant pattern with --index-patch.

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/media/graph.h"
#include "tests/support/test_movies.h"

namespace {

using namespace media;

bool parseSize(const char* text, int* w, int* h) {
    return std::sscanf(text, "%dx%d", w, h) == 2 && *w > 0 && *h > 0;
}

bool readFile(const char* path, std::vector<uint8_t>* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The code box of a frame of the given size, shrunk by a margin so that
// resampled edges do not count.
int codeInBox(const uint8_t* pixels, int stride, double x, double y, double scale, int frameW,
              int frameH) {
    const testmovies::Box box = testmovies::indexPatchBox(frameW, frameH);
    const double margin = 3;
    const int x0 = static_cast<int>(x + box.x * scale + margin + 0.5);
    const int y0 = static_cast<int>(y + box.y * scale + margin + 0.5);
    const int w = static_cast<int>(box.w * scale - 2 * margin);
    const int h = static_cast<int>(box.h * scale - 2 * margin);
    return testmovies::indexFromBgr(pixels, stride, x0, y0, w, h);
}

class Recorder : public SampleGrabberCB {
public:
    Result BufferCB(double sampleTime, uint8_t* buffer, long) override {
        seconds = sampleTime;
        const int stride = (width * 3 + 3) & ~3;
        // Rows are bottom-up: the box at the top of the picture is at the end.
        const testmovies::Box box = testmovies::indexPatchBox(width, height);
        code = testmovies::indexFromBgr(buffer, stride, box.x + 3, height - box.y - box.h + 3,
                                        box.w - 6, box.h - 6);
        ++calls;
        return S_OK;
    }
    int width = 0, height = 0, calls = 0, code = -1;
    double seconds = 0;
};

int capture(const char* path, int workers, bool sync, bool fast, int moments) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::unique_ptr<FilterGraph> probe;
    FilterGraph::create(&probe);
    int64_t duration = 0;
    Result hr = probe->renderFile(path);
    if (succeeded(hr))
        hr = probe->getDuration(&duration);
    probe.reset();

    std::unique_ptr<FilterGraph> graph;
    std::unique_ptr<SourceFilter> source;
    std::unique_ptr<SampleGrabber> grabber;
    if (succeeded(hr))
        hr = FilterGraph::create(&graph);
    if (succeeded(hr)) {
        graph->setWorkerCount(workers);
        SourceFilter::create(SourceRole::AsyncReader, &source);
        source->load(path);
        hr = graph->addFilter(*source, "Source");
    }
    if (succeeded(hr)) {
        SampleGrabber::create(&grabber);
        graph->addFilter(*grabber, "Grabber");
        grabber->setMediaType({MajorType::Video, SubType::RGB24});
        Pin* video = nullptr;
        for (int i = 0; (video = outputPin(*source, i)) != nullptr; ++i)
            if (video->majorType() == MajorType::Video)
                break;
        hr = video ? graph->connect(*video, *inputPin(*grabber, 0)) : E_NO_VIDEO_STREAM;
    }
    Recorder recorder;
    if (succeeded(hr))
        hr = graph->render(*outputPin(*grabber, 0));
    if (succeeded(hr)) {
        grabber->getConnectedSize(&recorder.width, &recorder.height);
        grabber->setBufferSamples(false);
        grabber->setOneShot(true);
        grabber->setCallback(&recorder, 1);
    }
    if (failed(hr)) {
        std::fprintf(stderr, "media-bench: %s: %s\n", path, resultText(hr).c_str());
        return 1;
    }
    const int64_t step = duration / (moments + 1);
    std::vector<int64_t> positions;
    for (int i = 1; i <= moments; ++i)
        positions.push_back(i * step);
    if (fast)
        graph->setKeyFrameTolerance(step / 2);
    if (!sync)
        graph->announcePositions(positions);
    for (int i = 0; i < moments; ++i) {
        recorder.code = -1;
        recorder.calls = 0;
        graph->setPositions(positions[i]);
        graph->run();
        int32_t event = 0;
        graph->waitForCompletion(-1, &event);
        std::printf("moment %d position %" PRId64 " code %d time %.6f\n", i + 1, positions[i],
                    recorder.calls ? recorder.code : -1, recorder.seconds);
    }
    graph.reset();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("total %.0f ms, %lld frames decoded\n", ms,
                static_cast<long long>(decodedFrameCount()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "capture" && argc >= 3) {
        int workers = 0, moments = 25;
        bool sync = false, fast = false;
        for (int i = 3; i < argc; ++i) {
            if (!std::strcmp(argv[i], "--workers") && i + 1 < argc)
                workers = std::atoi(argv[++i]);
            else if (!std::strcmp(argv[i], "--moments") && i + 1 < argc)
                moments = std::atoi(argv[++i]);
            else if (!std::strcmp(argv[i], "--sync"))
                sync = true;
            else if (!std::strcmp(argv[i], "--fast"))
                fast = true;
        }
        return capture(argv[2], workers, sync, fast, moments);
    }
    if (command == "duration" && argc == 3) {
        std::unique_ptr<FilterGraph> graph;
        FilterGraph::create(&graph);
        int64_t duration = 0;
        Result hr = graph->renderFile(argv[2]);
        if (succeeded(hr))
            hr = graph->getDuration(&duration);
        if (failed(hr)) {
            std::fprintf(stderr, "media-bench: %s: %s\n", argv[2], resultText(hr).c_str());
            return 1;
        }
        std::printf("%" PRId64 "\n", duration);
        return 0;
    }
    if (command == "frame-code" && argc == 4) {
        std::vector<uint8_t> raw;
        int w, h;
        if (!readFile(argv[2], &raw) || !parseSize(argv[3], &w, &h) ||
            raw.size() < static_cast<size_t>(w) * h * 3)
            return 2;
        std::printf("%d\n", codeInBox(raw.data(), w * 3, 0, 0, 1.0, w, h));
        return 0;
    }
    if (command == "sheet-codes" && argc == 5) {
        std::vector<uint8_t> raw;
        int sw, sh, vw, vh;
        if (!readFile(argv[2], &raw) || !parseSize(argv[3], &sw, &sh) ||
            !parseSize(argv[4], &vw, &vh) || raw.size() < static_cast<size_t>(sw) * sh * 3)
            return 2;
        // The default grid: 5 × 5 cells, frames fitted into 156 × 117,
        // 10 pixels apart, the information block off.
        const int columns = 5, rows = 5, spacing = 10;
        const double s = std::min(156.0 / vw, 117.0 / vh);
        const float tw = static_cast<float>(vw * s), th = static_cast<float>(vh * s);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                const int x = static_cast<int>((spacing + tw) * c + spacing);
                const int y = static_cast<int>((spacing + static_cast<double>(th)) * r + spacing);
                std::printf("%d\n", codeInBox(raw.data(), sw * 3, x, y, s, vw, vh));
            }
        return 0;
    }
    std::fputs("usage: media-bench capture MOVIE [--workers N] [--sync] [--fast] [--moments N]\n"
               "       media-bench duration MOVIE\n"
               "       media-bench frame-code RAW WxH\n"
               "       media-bench sheet-codes RAW WxH VIDEOWxVIDEOH\n",
               stderr);
    return 2;
}
