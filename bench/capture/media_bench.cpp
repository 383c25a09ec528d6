// media-bench: the measuring and checking side of bench/compare-ffmpeg.sh.
//
//   media-bench capture MOVIE [--workers N] [--sync] [--fast] [--moments N]
//       reads the frames as a capture does (all moments in one planned call,
//       or one call per moment with --sync) and prints each
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

#include "platform/media/movie_reader.h"
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

int capture(const char* path, int workers, bool sync, bool fast, int moments) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::unique_ptr<MovieReader> reader;
    Result rc = MovieReader::open(path, nullptr, &reader);
    if (rc.ok())
        rc = reader->videoReady();
    if (rc.ok())
        rc = reader->measure();
    if (!rc.ok()) {
        std::fprintf(stderr, "media-bench: %s: %s\n", path, rc.text().c_str());
        return 1;
    }
    reader->setCores(workers);
    const int64_t step = reader->length() / (moments + 1);
    std::vector<int64_t> positions;
    for (int i = 1; i <= moments; ++i)
        positions.push_back(i * step);
    FrameRequest request;
    if (fast)
        request.keyFrameTolerance = step / 2;
    const int width = reader->facts().video.displayWidth;
    const int height = reader->facts().video.displayHeight;
    const auto report = [&](size_t i, Frame&& frame) {
        int code = -1;
        if (frame.found) {
            // The box at the top of the picture, rows top-down, red first:
            // read as blue-green-red by swapping into a copy of the box.
            const testmovies::Box box = testmovies::indexPatchBox(width, height);
            std::vector<uint8_t> bgr(static_cast<size_t>(box.w) * box.h * 3);
            for (int y = 0; y < box.h; ++y)
                for (int x = 0; x < box.w; ++x) {
                    const uint8_t* p = frame.picture.rgb.data() +
                                       (static_cast<size_t>(box.y + y) * width + box.x + x) * 3;
                    uint8_t* q = bgr.data() + (static_cast<size_t>(y) * box.w + x) * 3;
                    q[0] = p[2];
                    q[1] = p[1];
                    q[2] = p[0];
                }
            code = testmovies::indexFromBgr(bgr.data(), box.w * 3, 3, 3, box.w - 6, box.h - 6);
        }
        std::printf("moment %zu position %" PRId64 " code %d time %.6f\n", i + 1, positions[i],
                    code, frame.found ? frame.time.seconds() : 0.0);
        return true;
    };
    if (sync) {
        for (size_t i = 0; i < positions.size(); ++i)
            rc = reader->frames({positions[i]}, request,
                                [&](size_t, Frame&& f) { return report(i, std::move(f)); });
    } else {
        rc = reader->frames(positions, request, report);
    }
    if (!rc.ok())
        std::fprintf(stderr, "media-bench: %s: %s\n", path, rc.text().c_str());
    const int64_t decoded = reader->framesDecoded();
    reader.reset();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("total %.0f ms, %lld frames decoded\n", ms, static_cast<long long>(decoded));
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
        std::unique_ptr<MovieReader> reader;
        Result rc = MovieReader::open(argv[2], nullptr, &reader);
        if (rc.ok())
            rc = reader->measure();
        if (!rc.ok()) {
            std::fprintf(stderr, "media-bench: %s: %s\n", argv[2], rc.text().c_str());
            return 1;
        }
        std::printf("%" PRId64 "\n", reader->length());
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
