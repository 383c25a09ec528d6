// make-fuzz-seeds DIR: writes the fuzzers' starting corpora into DIR/<fuzzer>:
// tiny movies of every container the test-movie maker knows (whole, with
// sound, and cut short), settings files good and bad, and text in several
// scripts with tabs, line breaks and broken UTF-8.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "settings/options.h"
#include "tests/support/test_movies.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

bool writeSeed(const fs::path& dir, const std::string& name, const std::string& bytes) {
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string optionsBytes(const Options& o) {
    const auto image = o.toBytes();
    return std::string(image.begin(), image.end());
}

int makeMovies(const fs::path& probe, const fs::path& capture, const fs::path& scratch) {
    struct Seed {
        const char* name;
        bool audio;
        bool audioFirst;
        int bFrames;
    };
    const Seed seeds[] = {
        {"a.avi", false, false, 0}, {"b.avi", true, false, 0},  {"a.mkv", true, true, 0},
        {"a.mp4", false, false, 2}, {"a.mov", false, false, 0}, {"a.mpg", false, false, 2},
        {"a.m1v", false, false, 0}, {"a.dat", false, false, 0}, {"a.wmv", true, true, 0},
        {"a.rm", false, false, 0},  {"a.asf", false, false, 0},
    };
    int made = 0;
    for (const Seed& s : seeds) {
        testmovies::MovieSpec spec;
        spec.path = (scratch / s.name).string();
        spec.width = 32;
        spec.height = 32;
        spec.frames = 8;
        spec.gop = 4;
        spec.bFrames = s.bFrames;
        spec.audio = s.audio;
        spec.audioFirst = s.audioFirst;
        std::string error;
        if (testmovies::make(spec, &error) != 0) {
            // A container this machine's libraries cannot write is no reason
            // to have no seeds at all.
            std::fprintf(stderr, "make-fuzz-seeds: %s: %s\n", s.name, error.c_str());
            continue;
        }
        const std::string movie = readAll(spec.path);
        const std::string extension = fs::path(s.name).extension().string();
        const char selector = static_cast<char>(fuzz::selectorFor(extension));
        writeSeed(probe, s.name, selector + movie);
        writeSeed(probe, std::string("cut-") + s.name,
                  selector + movie.substr(0, movie.size() / 2));
        // The capture's second byte: JPEG, every decoration on.
        writeSeed(capture, s.name, std::string(1, selector) + '\0' + movie);
        ++made;
    }
    return made;
}

void makeOptions(const fs::path& dir) {
    Options o = Options::defaults();
    writeSeed(dir, "defaults", optionsBytes(o));
    writeSeed(dir, "short", optionsBytes(o).substr(0, 40));
    writeSeed(dir, "header-only", optionsBytes(o).substr(0, 8));
    o.columns = -3;
    o.frameHeight = 0;
    // A face name in a single-byte code page, as older files have them.
    std::string odd = optionsBytes(o);
    odd[88] = '\xE9';
    writeSeed(dir, "odd-values", odd);
    writeSeed(dir, "movie", "RIFF\x10\0\0\0AVI LIST"s);
    writeSeed(dir, "text", "columns=5\nrows=5\n");
}

void makeText(const fs::path& dir) {
    const std::string texts[] = {
        "File Name\t: Clip One.avi\nAverage FPS\t: 25.00\nResolution\t: 176x144\n"
        "Duration\t: 00:00:02",
        "00:01:23",
        "Überschrift – naïve café",
        "\xE6\x98\xA0\xE7\x94\xBB\xE3\x81\xAE\xE5\x90\x8D\xE5\x89\x8D.mkv",
        "\xD9\x81\xD9\x8A\xD9\x84\xD9\x85 \xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A",
        "e\xCC\x81\xCC\x82 \xF0\x9F\x8E\xAC\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",
        "broken \xC3 \xE2\x82 \xF0\x9F\x8E \xFF\xFE end\r\nnext\rline\t\ttab",
    };
    const char prefixes[][3] = {{0, 11, 0}, {2, 11, 1}, {5, 20, 3}, {6, 8, 5}, {1, 30, 6}};
    int n = 0;
    for (const std::string& text : texts)
        for (const auto& prefix : prefixes)
            writeSeed(dir, "text-" + std::to_string(n++), std::string(prefix, 3) + text);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-fuzz-seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    const fs::path scratch = root / "scratch";
    std::error_code ec;
    for (const char* d : {"options", "probe", "capture", "text", "scratch"})
        fs::create_directories(root / d, ec);
    makeOptions(root / "options");
    makeText(root / "text");
    const int movies = makeMovies(root / "probe", root / "capture", scratch);
    fs::remove_all(scratch, ec);
    if (movies == 0) {
        std::fprintf(stderr, "make-fuzz-seeds: no seed movie could be made\n");
        return 1;
    }
    std::printf("make-fuzz-seeds: %d movies and their cut copies, settings and text in %s\n",
                movies, root.c_str());
    return 0;
}
