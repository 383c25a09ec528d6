// The movie reader's own promises: what it reads of a file, the shape of the
// pictures it hands out, how it fails, how few times it opens the file, and
// how soon it lets go when the caller has what it needs.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "platform/media/errors.h"
#include "platform/media/input_source.h"
#include "tests/media/rig.h"
#include "tests/support/run_program.h"

extern "C" {
#include <libavutil/error.h>
}

namespace {

using namespace media;
using namespace mediatest;

std::string makeMovie(const TempDir& dir, const std::string& name, testmovies::MovieSpec spec) {
    spec.path = dir.file(name);
    std::string error;
    EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
    return spec.path;
}

TEST(Pictures, AreTopDownRedGreenBlueAtTheSizeAskedFor) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.pattern = testmovies::Pattern::Pleasant;
    spec.indexPatch = true;
    spec.width = 320;
    spec.height = 240;
    spec.frames = 30;
    const std::string movie = makeMovie(dir, "clip.mp4", spec);
    std::unique_ptr<MovieReader> reader;
    ASSERT_TRUE(MovieReader::open(movie, nullptr, &reader).ok());
    Frame got;
    FrameRequest request;
    request.fullSize = true;
    request.width = 160;
    request.height = 120;
    ASSERT_TRUE(reader
                    ->frames({8'000'000}, request,
                             [&](size_t, Frame&& f) {
                                 got = std::move(f);
                                 return true;
                             })
                    .ok());
    ASSERT_TRUE(got.found);
    EXPECT_EQ(got.time.hundredths(), 80); // frame 20
    ASSERT_EQ(got.full.width, 320);
    ASSERT_EQ(got.full.height, 240);
    ASSERT_EQ(got.full.rgb.size(), size_t{320 * 240 * 3});
    EXPECT_EQ(got.picture.width, 160);
    EXPECT_EQ(got.picture.height, 120);
    EXPECT_EQ(got.picture.rgb.size(), size_t{160 * 120 * 3});
    // The patch sits at the top of the picture, so at the start of memory.
    const testmovies::Box box = testmovies::indexPatchBox(320, 240);
    const int inset = 4;
    double r = 0, g = 0, b = 0;
    int n = 0;
    for (int y = box.y + inset; y < box.y + box.h - inset; ++y)
        for (int x = box.x + inset; x < box.x + box.w - inset; ++x, ++n) {
            const uint8_t* p = got.full.rgb.data() + (static_cast<size_t>(y) * 320 + x) * 3;
            r += p[0];
            g += p[1];
            b += p[2];
        }
    EXPECT_EQ(testmovies::indexFromColor(static_cast<uint8_t>(r / n + 0.5),
                                         static_cast<uint8_t>(g / n + 0.5),
                                         static_cast<uint8_t>(b / n + 0.5)),
              20);
}

TEST(Measure, ReadsSizeFrameTimeAndTheTrueDuration) {
    TempDir dir;
    struct Expect {
        const char* file;
        int fpsNum, fpsDen, bFrames;
        double frameTime;
    };
    // 240 frames: the elementary stream's and the program streams' lengths
    // must come from their time stamps, not from a guess by bit rate.
    for (const Expect& e :
         {Expect{"a.m1v", 25, 1, 2, 0.04}, Expect{"b.mpg", 30000, 1001, 2, 1001.0 / 30000},
          Expect{"c.mpeg", 24, 1, 2, 1.0 / 24}, Expect{"d.mp4", 25, 1, 2, 0.04},
          Expect{"e.wmv", 25, 1, 0, 0.04}, Expect{"f.rm", 25, 1, 0, 0.04}}) {
        testmovies::MovieSpec spec;
        spec.fpsNum = e.fpsNum;
        spec.fpsDen = e.fpsDen;
        spec.bFrames = e.bFrames;
        spec.frames = 240;
        spec.gop = 12;
        const std::string movie = makeMovie(dir, e.file, spec);
        std::unique_ptr<MovieReader> reader;
        ASSERT_TRUE(MovieReader::open(movie, nullptr, &reader).ok()) << e.file;
        ASSERT_TRUE(reader->videoReady().ok());
        ASSERT_TRUE(reader->measure().ok()) << e.file;
        EXPECT_EQ(reader->facts().video.width, 176);
        EXPECT_EQ(reader->facts().video.height, 144);
        EXPECT_NEAR(reader->averageFrameTime(), e.frameTime, 1e-6) << e.file;
        EXPECT_NEAR(reader->length() / 1e7, 240 * e.frameTime, 1.5 * e.frameTime) << e.file;
        EXPECT_EQ(reader->facts().readableDuration, -1) << e.file << " is whole";
    }
}

// The average frame rate a sheet prints is what the frames do: as stated
// where the stream states one the timestamps agree with, frames over length
// where it states none (Theora in Ogg, whose clock ticks once a frame) or
// one its frames contradict (a variable-rate ASF).
TEST(Measure, TheAverageFrameRateIsWhatTheFramesDo) {
    TempDir dir;
    std::string error;
    const std::string theora = dir.file("t.ogv");
    ASSERT_EQ(testmovies::runFfmpeg(
                  {"-f", "lavfi", "-i", "testsrc2=s=160x120:r=15:d=4", "-c:v", "libtheora", theora},
                  &error),
              0)
        << error;
    // 30 frames at 30 a second, then one in ten: 111 frames in 27.7 s.
    const std::string vfr = dir.file("v.asf");
    ASSERT_EQ(testmovies::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x120:r=30:d=27.7", "-vf",
                                     "select='lt(n\\,30)+not(mod(n\\,10))'", "-vsync", "vfr",
                                     "-c:v", "wmv2", vfr},
                                    &error),
              0)
        << error;
    const auto rate = [](const std::string& path) {
        std::unique_ptr<MovieReader> reader;
        EXPECT_TRUE(MovieReader::open(path, nullptr, &reader).ok());
        EXPECT_TRUE(reader->measure().ok());
        return reader->averageFrameTime() > 0 ? 1.0 / reader->averageFrameTime() : 0.0;
    };
    EXPECT_NEAR(rate(theora), 15.0, 0.01);
    EXPECT_NEAR(rate(vfr), 111 / 27.7, 0.05);
}

TEST(Open, BrokenFilesFailWithTheirOwnReasons) {
    TempDir dir;
    std::string error;
    ASSERT_EQ(testmovies::writeRandomBytes(dir.file("garbage.avi"), 20000, 7, &error), 0);
    ASSERT_EQ(testmovies::writeEmpty(dir.file("empty.mpg"), &error), 0);
    testmovies::MovieSpec sound;
    sound.video = false;
    sound.audio = true;
    const std::string audio = makeMovie(dir, "sound.wav", sound);

    std::set<std::string> texts;
    for (const std::string& path :
         {dir.file("missing.avi"), dir.file("garbage.avi"), dir.file("empty.mpg"), audio}) {
        std::unique_ptr<MovieReader> reader;
        Result rc = MovieReader::open(path, nullptr, &reader);
        if (rc.ok())
            rc = reader->videoReady();
        EXPECT_FALSE(rc.ok()) << path;
        EXPECT_FALSE(rc.text().empty());
        texts.insert(rc.text());
    }
    EXPECT_EQ(texts.size(), 3u) << "garbage and an empty file may share a reason, no more";
    EXPECT_TRUE(texts.count(avResult(AVERROR(ENOENT)).text()));
    EXPECT_TRUE(texts.count(noVideoResult().text()));
}

TEST(ResultText, FfmpegCodesReadAsSomethingAUserCanActOn) {
    EXPECT_EQ(avResult(AVERROR_INVALIDDATA).text(),
              "The file is damaged, or it is not a movie the installed FFmpeg libraries can read.");
    EXPECT_EQ(avResult(AVERROR_EOF).text(),
              "The file ends before its first picture: it is cut short or empty.");
    EXPECT_EQ(avResult(AVERROR_PATCHWELCOME).text(),
              "This movie uses a feature the installed FFmpeg libraries do not support (FFmpeg: "
              "Not yet implemented in FFmpeg, patches welcome).");
    EXPECT_EQ(avResult(AVERROR(EAGAIN)).text(), "Resource temporarily unavailable.");
    EXPECT_EQ(avResult(AVERROR(ENOENT)).text(), "No such file or directory.");
    EXPECT_EQ(avResult(-1234567).text(), "Unknown error 0xFFED2979.");
    EXPECT_TRUE(avResult(AVERROR_EXIT).isCancelled());
    EXPECT_TRUE(avResult(0).ok());
}

// A program stream cut short: the frames that are there, each its own.
TEST(Frames, ATruncatedMovieDeliversWhatItHas) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.frames = 100;
    spec.bFrames = 2;
    const std::string whole = makeMovie(dir, "whole.mpg", spec);
    std::string error;
    ASSERT_EQ(testmovies::writeTruncated(whole, dir.file("half.mpg"), 30000, &error), 0);
    Rig rig;
    ASSERT_TRUE(rig.open(dir.file("half.mpg")).ok());
    ASSERT_TRUE(rig.reader().measure().ok());
    const int64_t length = rig.reader().length();
    EXPECT_LT(length, 39'000'000);
    Delivery early;
    ASSERT_TRUE(rig.grab(4'000'000, &early).ok());
    EXPECT_EQ(early.calls, 1);
    EXPECT_GE(early.index, 9); // the container starts a few hundredths in
    EXPECT_LE(early.index, 10);
    Delivery late;
    ASSERT_TRUE(rig.grab(length - 10'000, &late).ok()); // the end of what is left
    ASSERT_EQ(late.calls, 1);
    EXPECT_GT(late.index, 10);
    EXPECT_LT(late.index, 99);
}

// One opening for the facts, the length, the key frames and the first
// decoder; a second thread of decoding opens the file once more.
TEST(Openings, AMovieIsOpenedOnceForASheetAndOnceMoreForASecondDecoder) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.frames = 250;
    spec.gop = 25;
    spec.bFrames = 2;
    for (const char* name : {"m.mp4", "m.ts", "m.mkv"}) {
        SCOPED_TRACE(name);
        spec.container = std::string(name) == "m.ts" ? "mpegts" : "";
        spec.codec = "libx264";
        const std::string path = makeMovie(dir, name, spec);
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        MemoryMovies memory;
        memory.add("memory/movie", std::move(bytes));
        setInputSource(&memory);
        for (int cores : {1, 2}) {
            const size_t before = memory.openings();
            std::unique_ptr<MovieReader> reader;
            ASSERT_TRUE(MovieReader::open("memory/movie", nullptr, &reader).ok());
            ASSERT_TRUE(reader->measure().ok());
            reader->setCores(cores);
            std::vector<int64_t> positions;
            for (int i = 1; i <= 25; ++i)
                positions.push_back(reader->length() * i / 26);
            int found = 0;
            ASSERT_TRUE(reader
                            ->frames(positions, FrameRequest{},
                                     [&](size_t, Frame&& f) {
                                         found += f.found;
                                         return true;
                                     })
                            .ok());
            EXPECT_EQ(found, 25);
            EXPECT_EQ(memory.openings() - before, static_cast<size_t>(cores)) << cores;
        }
        setInputSource(nullptr);
    }
}

// A caller that has what it needs ends the call at once: the workers stop at
// the next packet instead of searching on to the end of a long GOP.
TEST(Frames, ACallEndedByTheCallerStopsItsWorkersAtOnce) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.pattern = testmovies::Pattern::Pleasant;
    spec.noise = 16;
    spec.width = 320;
    spec.height = 180;
    spec.frames = 1000;
    spec.gop = 1000;
    spec.bFrames = 0;
    const std::string movie = makeMovie(dir, "long.mp4", spec);
    std::unique_ptr<MovieReader> reader;
    ASSERT_TRUE(MovieReader::open(movie, nullptr, &reader).ok());
    reader->setCores(2);
    // The first moment early, the others near the end of the one GOP.
    const std::vector<int64_t> positions = {4'000'000, 390'000'000, 395'000'000};
    int64_t atStop = 0;
    ASSERT_TRUE(reader
                    ->frames(positions, FrameRequest{},
                             [&](size_t, Frame&&) {
                                 atStop = reader->framesDecoded();
                                 return false;
                             })
                    .ok());
    EXPECT_LT(reader->framesDecoded() - atStop, 60);
    EXPECT_LT(reader->framesDecoded(), 500) << "a search ran to its end";
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        se += d * d;
    }
    const double mse = se / static_cast<double>(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The area average of a top-down RGB picture into w × h: what the sheet's
// own resampler did with a full-size picture before the reader scaled
// pictures itself.
std::vector<uint8_t> averaged(const Picture& p, int w, int h) {
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double x0 = static_cast<double>(x) * p.width / w;
            const double x1 = static_cast<double>(x + 1) * p.width / w;
            const double y0 = static_cast<double>(y) * p.height / h;
            const double y1 = static_cast<double>(y + 1) * p.height / h;
            double sum[3] = {0, 0, 0}, weight = 0;
            for (int sy = static_cast<int>(y0); sy < y1 && sy < p.height; ++sy)
                for (int sx = static_cast<int>(x0); sx < x1 && sx < p.width; ++sx) {
                    const double wy = std::min<double>(sy + 1, y1) - std::max<double>(sy, y0);
                    const double wx = std::min<double>(sx + 1, x1) - std::max<double>(sx, x0);
                    const uint8_t* px = p.rgb.data() + (static_cast<size_t>(sy) * p.width + sx) * 3;
                    for (int c = 0; c < 3; ++c)
                        sum[c] += px[c] * wx * wy;
                    weight += wx * wy;
                }
            for (int c = 0; c < 3; ++c)
                out[(static_cast<size_t>(y) * w + x) * 3 + c] =
                    static_cast<uint8_t>(std::lround(sum[c] / weight));
        }
    return out;
}

// Pictures are made at the cell's size in one conversion: they differ from
// the full-size picture shrunk afterwards, and from FFmpeg's own area
// scaling, by resampling noise only, at any shrinking.
TEST(Pictures, AtTheCellsSizeTheyAreTheFullSizePicturesShrunk) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.pattern = testmovies::Pattern::Pleasant;
    spec.noise = 16;
    spec.frames = 30;
    for (const auto& [w, h, cellW, cellH] :
         {std::array<int, 4>{1280, 720, 156, 87}, std::array<int, 4>{320, 180, 156, 87},
          std::array<int, 4>{640, 480, 300, 225}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        spec.width = w;
        spec.height = h;
        const std::string movie = makeMovie(dir, "p" + std::to_string(w) + ".mp4", spec);
        std::unique_ptr<MovieReader> reader;
        ASSERT_TRUE(MovieReader::open(movie, nullptr, &reader).ok());
        FrameRequest request;
        request.width = cellW;
        request.height = cellH;
        request.fullSize = true;
        Frame got;
        ASSERT_TRUE(reader
                        ->frames({4'000'000}, request,
                                 [&](size_t, Frame&& f) {
                                     got = std::move(f);
                                     return true;
                                 })
                        .ok());
        ASSERT_TRUE(got.found);
        EXPECT_GE(psnr(got.picture.rgb, averaged(got.full, cellW, cellH)), 38.0);

        std::string error;
        const std::string raw = dir.file("f.raw");
        ASSERT_EQ(testmovies::runFfmpeg({"-i", movie, "-vf",
                                         "select='eq(n\\,10)',scale=" + std::to_string(cellW) +
                                             ":" + std::to_string(cellH) + ":flags=area",
                                         "-vsync", "0", "-f", "rawvideo", "-pix_fmt", "rgb24", raw},
                                        &error),
                  0)
            << error;
        std::ifstream in(raw, std::ios::binary);
        const std::vector<uint8_t> theirs((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
        EXPECT_GE(psnr(got.picture.rgb, theirs), 38.0);
    }
}

// The frame code other tests rely on: every index reads back through the
// noise lossy coding adds, and a colour between codes reads as none.
TEST(TestMovieCode, SurvivesCodingNoiseAndRefusesColoursBetweenCodes) {
    for (int n = 0; n <= testmovies::kMaxIndex; ++n) {
        uint8_t r, g, b;
        testmovies::colorForIndex(n, &r, &g, &b);
        ASSERT_FALSE(r == 0 && g == 0 && b == 0) << "an empty cell must not read as a frame";
        for (int d : {-8, 0, 8}) {
            const auto shift = [d](uint8_t v) {
                return static_cast<uint8_t>(std::clamp(v + d, 0, 255));
            };
            ASSERT_EQ(testmovies::indexFromColor(shift(r), shift(g), shift(b)), n) << d;
        }
    }
    EXPECT_EQ(testmovies::indexFromColor(0, 0, 0), -1);
    EXPECT_EQ(testmovies::indexFromColor(0, 0, 12), -1); // halfway between two levels
}

} // namespace

namespace {

// The memory at hand, as the reader sees it, until the end of the scope.
class MemoryAtHand {
public:
    explicit MemoryAtHand(int64_t bytes) { setMemoryLimitBytes(bytes); }
    ~MemoryAtHand() { setMemoryLimitBytes(0); }
    MemoryAtHand(const MemoryAtHand&) = delete;
    MemoryAtHand& operator=(const MemoryAtHand&) = delete;
};

// Frames as large as the limit allows are decoded; larger ones are refused
// with a sentence before a single frame is decoded, and the reader stays
// usable once the limit is lifted.
TEST(Memory, PicturesTheMachineCannotHoldAreRefusedBeforeDecoding) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.width = 1024;
    spec.height = 1024;
    spec.frames = 3;
    spec.codec = "png"; // decoded as 3 bytes a pixel: 3 MiB a frame
    const std::string movie = makeMovie(dir, "wide.mkv", spec);
    std::unique_ptr<MovieReader> reader;
    ASSERT_TRUE(MovieReader::open(movie, nullptr, &reader).ok());
    const auto firstFrame = [&](Frame* got) {
        FrameRequest request;
        request.width = 32;
        request.height = 32;
        return reader->frames({0}, request, [&](size_t, Frame&& f) {
            *got = std::move(f);
            return true;
        });
    };

    Frame got;
    std::optional<MemoryAtHand> atHand;
    atHand.emplace(5 << 20); // less than two frames
    const Result refused = firstFrame(&got);
    EXPECT_EQ(refused.code(), ResultCode::TooLarge);
    EXPECT_NE(refused.text().find("(1024x1024) are too large for this machine's memory"),
              std::string::npos)
        << refused.text();
    EXPECT_FALSE(got.found);
    EXPECT_EQ(reader->framesDecoded(), 0);

    atHand.emplace(7 << 20); // two frames and a little
    ASSERT_TRUE(firstFrame(&got).ok());
    ASSERT_TRUE(got.found);
    EXPECT_EQ(testmovies::indexFromRgb(got.picture.rgb.data(), 32 * 3, 0, 0, 32, 32), 0);

    atHand.reset();
    EXPECT_NE(memoryLimitBytes(), 7 << 20);
}

// With little memory at hand, frames are decoded one at a time by decoders
// opened afresh at key frames, into pictures from a pool of the reader's:
// the same pictures as with memory to spare.
TEST(Memory, FramesDecodedOneAtATimeAreTheSameFrames) {
    TempDir dir;
    for (const char* codec : {"png", "mjpeg"}) {
        SCOPED_TRACE(codec);
        testmovies::MovieSpec spec;
        spec.pattern = testmovies::Pattern::Pleasant;
        spec.indexPatch = true;
        spec.width = 1024;
        spec.height = 576;
        spec.frames = 8;
        spec.codec = codec;
        const std::string movie = makeMovie(dir, std::string(codec) + ".mkv", spec);
        const auto everyFrame = [&](std::vector<Frame>* out) {
            std::unique_ptr<MovieReader> reader;
            ASSERT_TRUE(MovieReader::open(movie, nullptr, &reader).ok());
            FrameRequest request;
            request.width = 96;
            request.height = 54;
            request.fullSize = true;
            std::vector<int64_t> positions;
            for (int i = 0; i < spec.frames; ++i)
                positions.push_back(i * 400'000);
            positions.push_back(60'000'000); // past the end: the last frame
            ASSERT_TRUE(reader
                            ->frames(positions, request,
                                     [&](size_t, Frame&& f) {
                                         out->push_back(std::move(f));
                                         return true;
                                     })
                            .ok());
        };
        std::vector<Frame> spare;
        everyFrame(&spare);
        std::vector<Frame> tight;
        {
            const MemoryAtHand atHand(12 << 20); // two frames fit, five do not
            everyFrame(&tight);
        }
        ASSERT_EQ(spare.size(), 9u);
        ASSERT_EQ(tight.size(), 9u);
        for (size_t i = 0; i < spare.size(); ++i) {
            SCOPED_TRACE(i);
            ASSERT_TRUE(tight[i].found);
            EXPECT_EQ(tight[i].time.units(),
                      static_cast<int64_t>(std::min<size_t>(i, 7)) * 400'000);
            EXPECT_EQ(tight[i].full.rgb, spare[i].full.rgb);
            EXPECT_EQ(tight[i].picture.rgb, spare[i].picture.rgb);
            const testmovies::Box box = testmovies::indexPatchBox(1024, 576);
            EXPECT_EQ(testmovies::indexFromRgb(tight[i].full.rgb.data(), 1024 * 3, box.x, box.y,
                                               box.w, box.h),
                      static_cast<int>(std::min<size_t>(i, 7)));
        }
    }
}

} // namespace

namespace {

// An MPEG-4 part 2 stream whose visual object header states colours by
// numbers no standard gives (181): the decoder passes them on unchecked, and
// they read as unspecified instead of as a value their enums do not have.
TEST(Colours, NumbersNoStandardGivesReadAsUnspecified) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.container = "m4v";
    spec.codec = "mpeg4";
    spec.frames = 6;
    const std::string plain = makeMovie(dir, "plain.m4v", spec);
    std::ifstream in(plain, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The visual object header, up to the next start code, becomes one with
    // a video signal type: video format 5, limited range, and colour
    // primaries, transfer and matrix all 181, then the stuffing to a byte.
    const std::string objectStart("\x00\x00\x01\xb5", 4);
    const size_t at = bytes.find(objectStart);
    ASSERT_NE(at, std::string::npos);
    const size_t next = bytes.find(std::string("\x00\x00\x01", 3), at + 4);
    ASSERT_NE(next, std::string::npos);
    bytes.replace(at + 4, next - at - 4, std::string("\x0e\xb6\xb6\xb6\xaf", 5));
    const std::string odd = dir.file("odd.m4v");
    std::ofstream(odd, std::ios::binary) << bytes;

    std::unique_ptr<MovieReader> reader;
    ASSERT_TRUE(MovieReader::open(odd, nullptr, &reader).ok());
    const VideoFacts& v = reader->facts().video;
    EXPECT_EQ(v.colorTransfer, "");
    EXPECT_EQ(v.colorPrimaries, "");
    EXPECT_EQ(v.colorSpace, "");
    // The frames decode, by the usual matrix.
    Frame got;
    FrameRequest request;
    request.width = 32;
    request.height = 32;
    ASSERT_TRUE(reader
                    ->frames({1'200'000}, request,
                             [&](size_t, Frame&& f) {
                                 got = std::move(f);
                                 return true;
                             })
                    .ok());
    ASSERT_TRUE(got.found);
    EXPECT_EQ(testmovies::indexFromRgb(got.picture.rgb.data(), 32 * 3, 0, 0, 32, 32), 3);
}

} // namespace
