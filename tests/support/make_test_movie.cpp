// make-test-movie: writes a movie of the test patterns, for the demo, the
// benchmarks and for looking at by hand. The container follows the extension.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/footage.h"
#include "tests/support/test_movies.h"

namespace {

void usage(std::FILE* to) {
    std::fputs("usage: make-test-movie [options] OUTPUT\n"
               "  --pattern pleasant|index   picture (default pleasant)\n"
               "  --size WxH                 frame size (default 640x360; with --footage, the\n"
               "                             field kinds only)\n"
               "  --fps N or N/D             frame rate (default 25)\n"
               "  --seconds S                length (default 20; with --footage 6)\n"
               "  --codec NAME               video encoder (default: the container's usual)\n"
               "  --gop N                    frames between key frames (default 25)\n"
               "  --bframes N                B-frames between references (default 0)\n"
               "  --audio                    add a sound track\n"
               "  --index-patch              pleasant pattern with the frame code in a corner\n"
               "  --noise N                  moving texture, 0..64 (default 0)\n"
               "  --preset NAME              x264 preset (default veryfast)\n"
               "  --rotate 90|180|270        clockwise turn a player applies (mp4, mov)\n"
               "  --sar N:D                  sample aspect ratio stated in the stream\n"
               "  --language TAG             language of the sound track (eng, deu, ...)\n"
               "  --flat FIRST-LAST[:LEVEL]  frames painted one grey level (default 0,\n"
               "                             black); may be given again\n"
               "Containers: .avi .mov .qt .mpg .mpeg .dat .m1v .rm .rmvb .wmv .asf .mp4 .mkv\n"
               "\n"
               "Footage as devices write it (index pattern; --fps, --seconds and for the\n"
               "field kinds --size apply; the other options do not):\n"
               "  --footage KIND             one of the kinds below; OUTPUT should carry the\n"
               "                             kind's extension (given after the name)\n"
               "  --compact                  H.264 field kinds: one raw macroblock a field, the\n"
               "                             rest predicted from it (small at 1920x1080)\n",
               to);
    for (const testmovies::Footage kind : testmovies::allFootage())
        std::fprintf(to, "      %-24s %-6s%s\n", testmovies::footageName(kind),
                     testmovies::footageExtension(kind),
                     testmovies::footageHasFieldPictures(kind) ? "field pictures" : "");
    std::fputs("\n"
               "Damage, to OUTPUT after it is written (or cut from another file):\n"
               "  --cut-from SOURCE          OUTPUT is the start of SOURCE, as a download that\n"
               "                             stopped; with --keep\n"
               "  --keep N|P%                bytes (or share of SOURCE) kept by --cut-from\n"
               "  --zero-frames FROM-TO      zero the pictures of video packets FROM..TO-1 (in\n"
               "                             decoding order), the container left intact\n"
               "  --zero-bytes FROM-TO       zero the bytes FROM..TO-1 (each N or P%), headers\n"
               "                             and all, as a bad sector leaves them\n",
               to);
}

// A byte count, or a share of the file with a per cent sign.
bool parsePoint(const std::string& text, testmovies::FilePoint* out) {
    char* end = nullptr;
    if (!text.empty() && text.back() == '%') {
        const double v = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size() - 1 || v < 0 || v > 100)
            return false;
        *out = testmovies::FilePoint::share(v / 100);
        return true;
    }
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || v < 0)
        return false;
    *out = testmovies::FilePoint::offset(v);
    return true;
}

bool parseInt(const char* text, int* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0 || v > 1000000)
        return false;
    *out = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    testmovies::MovieSpec spec;
    spec.pattern = testmovies::Pattern::Pleasant;
    spec.width = 640;
    spec.height = 360;
    spec.gop = 25;
    double seconds = 20;
    bool secondsGiven = false;
    bool sizeGiven = false;
    bool footage = false;
    bool compact = false;
    testmovies::Footage kind = testmovies::Footage::TsH264Paff;
    std::string cutSource;
    bool keepGiven = false;
    testmovies::FilePoint keep;
    int zeroFrom = -1, zeroTo = -1;
    bool zeroBytes = false;
    testmovies::FilePoint zeroBytesFrom, zeroBytesTo;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "make-test-movie: %s needs a value\n", arg.c_str());
                return false;
            }
            *out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        bool ok = true;
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg == "--pattern") {
            ok = value(&v);
            if (ok && std::strcmp(v, "pleasant") == 0)
                spec.pattern = testmovies::Pattern::Pleasant;
            else if (ok && std::strcmp(v, "index") == 0)
                spec.pattern = testmovies::Pattern::Index;
            else
                ok = false;
        } else if (arg == "--size") {
            ok = value(&v) && std::sscanf(v, "%dx%d", &spec.width, &spec.height) == 2 &&
                 spec.width > 0 && spec.height > 0;
            sizeGiven = true;
        } else if (arg == "--fps") {
            ok = value(&v);
            if (ok) {
                spec.fpsDen = 1;
                const int n = std::sscanf(v, "%d/%d", &spec.fpsNum, &spec.fpsDen);
                ok = n >= 1 && spec.fpsNum > 0 && spec.fpsDen > 0;
            }
        } else if (arg == "--seconds") {
            ok = value(&v);
            if (ok) {
                seconds = std::strtod(v, nullptr);
                ok = seconds > 0;
                secondsGiven = true;
            }
        } else if (arg == "--codec") {
            ok = value(&v);
            if (ok)
                spec.codec = v;
        } else if (arg == "--gop") {
            ok = value(&v) && parseInt(v, &spec.gop) && spec.gop > 0;
        } else if (arg == "--bframes") {
            ok = value(&v) && parseInt(v, &spec.bFrames);
        } else if (arg == "--noise") {
            ok = value(&v) && parseInt(v, &spec.noise);
        } else if (arg == "--preset") {
            ok = value(&v);
            if (ok)
                spec.x264Preset = v;
        } else if (arg == "--audio") {
            spec.audio = true;
        } else if (arg == "--rotate") {
            ok = value(&v) && parseInt(v, &spec.rotation) && spec.rotation % 90 == 0;
        } else if (arg == "--sar") {
            ok = value(&v) && std::sscanf(v, "%d:%d", &spec.sarNum, &spec.sarDen) == 2 &&
                 spec.sarNum > 0 && spec.sarDen > 0;
        } else if (arg == "--language") {
            ok = value(&v);
            if (ok)
                spec.audioLanguage = v;
        } else if (arg == "--flat") {
            testmovies::FlatStretch stretch;
            int level = 0;
            ok = value(&v);
            const int n =
                ok ? std::sscanf(v, "%d-%d:%d", &stretch.first, &stretch.last, &level) : 0;
            ok = ok && n >= 2 && stretch.first >= 0 && stretch.last >= stretch.first &&
                 level >= 0 && level <= 255;
            stretch.level = static_cast<uint8_t>(level);
            spec.flat.push_back(stretch);
        } else if (arg == "--index-patch") {
            spec.indexPatch = true;
        } else if (arg == "--footage") {
            ok = value(&v) && testmovies::footageByName(v, &kind);
            footage = true;
        } else if (arg == "--compact") {
            compact = true;
        } else if (arg == "--cut-from") {
            ok = value(&v);
            if (ok)
                cutSource = v;
        } else if (arg == "--keep") {
            ok = value(&v) && parsePoint(v, &keep);
            keepGiven = true;
        } else if (arg == "--zero-frames") {
            ok = value(&v) && std::sscanf(v, "%d-%d", &zeroFrom, &zeroTo) == 2 && zeroFrom >= 0 &&
                 zeroTo > zeroFrom;
        } else if (arg == "--zero-bytes") {
            ok = value(&v);
            const std::string range = ok ? v : "";
            const size_t dash = range.find('-');
            ok = ok && dash != std::string::npos &&
                 parsePoint(range.substr(0, dash), &zeroBytesFrom) &&
                 parsePoint(range.substr(dash + 1), &zeroBytesTo);
            zeroBytes = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "make-test-movie: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        } else if (spec.path.empty()) {
            spec.path = arg;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "make-test-movie: bad argument near %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (spec.path.empty()) {
        usage(stderr);
        return 2;
    }
    if (footage && !cutSource.empty()) {
        std::fprintf(stderr, "make-test-movie: --footage and --cut-from make different files\n");
        return 2;
    }
    if (!cutSource.empty() && !keepGiven) {
        std::fprintf(stderr, "make-test-movie: --cut-from needs --keep\n");
        return 2;
    }
    if (footage && !secondsGiven)
        seconds = 6;
    spec.frames = static_cast<int>(seconds * spec.fpsNum / spec.fpsDen + 0.5);
    if (spec.frames < 1)
        spec.frames = 1;

    std::string error;
    int rc = 0;
    if (!cutSource.empty()) {
        rc = testmovies::cutAt(cutSource, spec.path, keep, &error);
    } else if (footage) {
        testmovies::FootageSpec f;
        f.kind = kind;
        f.frames = spec.frames;
        f.fpsNum = spec.fpsNum;
        f.fpsDen = spec.fpsDen;
        f.compactFields = compact;
        if (sizeGiven) {
            f.width = spec.width;
            f.height = spec.height;
        }
        rc = testmovies::makeFootage(f, spec.path, &error);
    } else {
        rc = testmovies::make(spec, &error);
    }
    if (rc == 0 && zeroTo > zeroFrom)
        rc = testmovies::zeroVideoFrames(spec.path, zeroFrom, zeroTo, &error);
    if (rc == 0 && zeroBytes)
        rc = testmovies::zeroStretch(spec.path, zeroBytesFrom, zeroBytesTo, &error);
    if (rc != 0) {
        std::fprintf(stderr, "make-test-movie: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
