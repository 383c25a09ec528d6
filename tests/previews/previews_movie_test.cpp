// Previews of real movies, made by the tests: every thumbnail is the frame
// at or after its moment (the colour code says which frame it is), in
// key-frame mode the key frame nearest it when one is near enough, in cut-
// short movies up to the readable end; and with a sheet in the same request
// to the reader, the sheet is byte for byte what it is alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture/capture.h"
#include "capture/movie_probe.h"
#include "platform/media/movie_reader.h"
#include "previews/preview_plan.h"
#include "previews/preview_run.h"
#include "previews/sprite_builder.h"
#include "tests/previews/webvtt_parser.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"
#include "tests/support/timeline.h"

namespace {

using previews::PreviewPlan;
using previews::PreviewSettings;
using testmovies::TempDir;

constexpr int64_t kSecond = 10'000'000;
constexpr int64_t kFrameTime = 400'000; // 25 frames a second

// Keeps the sprites as they are handed on, and the track.
class Sprites : public previews::PreviewFiles {
public:
    struct Sprite {
        int width, height, stride;
        std::vector<uint8_t> pixels; // top-down, red-green-blue
    };
    bool writeSprite(const std::string&, const RasterImage& sprite) override {
        const uint8_t* rows = sprite.hasPixels() ? sprite.row(0) : nullptr;
        sprites.push_back(Sprite{
            sprite.width(), sprite.height(), sprite.stride(),
            rows ? std::vector<uint8_t>(rows, rows + static_cast<size_t>(sprite.stride()) *
                                                         sprite.height())
                 : std::vector<uint8_t>()});
        return true;
    }
    bool writeTrack(const std::string&, const std::string& text) override {
        track = text;
        return true;
    }
    // The frame index each thumbnail shows, from its middle.
    std::vector<int> shown(const PreviewPlan& plan) const {
        std::vector<int> indices;
        for (size_t i = 0; i < plan.moments.size(); ++i) {
            const Sprite& s = sprites.at(plan.spriteOf(i));
            const previews::Region r = plan.regionOf(i);
            indices.push_back(testmovies::indexFromRgb(s.pixels.data(), s.stride, r.x + r.width / 4,
                                                       r.y + r.height / 4, r.width / 2,
                                                       r.height / 2));
        }
        return indices;
    }
    std::vector<Sprite> sprites;
    std::string track;
};

std::string makeMovie(const TempDir& dir, const std::string& name, int frames,
                      const std::string& container = "", const std::string& codec = "",
                      int gop = 12, int bFrames = 2) {
    testmovies::MovieSpec spec;
    spec.path = dir.file(name);
    spec.container = container;
    spec.codec = codec;
    spec.frames = frames;
    spec.gop = gop;
    spec.bFrames = bFrames;
    std::string error;
    EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
    return spec.path;
}

PreviewPlan planOf(const ProbeResult& probe, const PreviewSettings& settings) {
    PreviewPlan plan;
    std::string error;
    EXPECT_TRUE(previews::planPreviews(probe.facts.duration, probe.facts.shownWidth(),
                                       probe.facts.shownHeight(), settings, plan, error))
        << error;
    return plan;
}

PreviewSettings every(int64_t interval) {
    PreviewSettings s;
    s.interval = interval;
    s.width = 48;
    s.columns = 4;
    s.rows = 3;
    return s;
}

// The previews of a movie on their own.
struct Made {
    PreviewPlan plan;
    Sprites files;
    std::vector<int64_t> missing;
    bool finished = false;
};

void makePreviews(const std::string& movie, const PreviewSettings& settings, bool keyFrames,
                  Made& made) {
    const ProbeResult probe = MovieProbe::probe(movie);
    ASSERT_TRUE(probe.ok()) << probe.errorText();
    made.plan = planOf(probe, settings);
    previews::SpriteBuilder builder(made.plan, "m", made.files);
    const Result rc =
        previews::readPreviews(*probe.movie, made.plan, keyFrames, builder, [] { return true; });
    ASSERT_TRUE(rc.ok()) << rc.text();
    made.finished = builder.finish();
    made.missing = builder.missing();
}

struct Kind {
    const char* name;
    const char* file;
    const char* container;
    const char* codec;
    int bFrames;
};

const Kind kKinds[] = {
    {"mp4", "m.mp4", "", "libx264", 2},
    {"mkv", "m.mkv", "", "libx264", 2},
    {"avi", "m.avi", "", "mpeg4", 0},
    {"ts", "m.ts", "mpegts", "libx264", 2},
    {"webm", "m.webm", "webm", "libvpx-vp9", 0},
};

class ExactPreviews : public testing::TestWithParam<Kind> {};

TEST_P(ExactPreviews, EveryThumbnailIsTheFrameAtOrAfterItsMoment) {
    const Kind& k = GetParam();
    TempDir dir;
    const std::string movie = makeMovie(dir, k.file, 150, k.container, k.codec, 12, k.bFrames);
    const std::vector<testmovies::TimelineFrame> timeline = testmovies::decodeTimeline(movie);
    ASSERT_EQ(timeline.size(), 150u);
    // 0.31 s: seven or eight frames apart, never on a frame's own time.
    Made made;
    makePreviews(movie, every(3'100'000), false, made);
    ASSERT_TRUE(made.finished);
    EXPECT_TRUE(made.missing.empty());
    ASSERT_EQ(made.plan.moments.size(), 20u); // 6 s
    const std::vector<int> shown = made.files.shown(made.plan);
    for (size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i], testmovies::expectedFrame(timeline, made.plan.moments[i]).index)
            << "thumbnail " << i << " at " << made.plan.moments[i];
    // Two full sprites of 4 × 3 and one of the 8 left, two rows.
    ASSERT_EQ(made.files.sprites.size(), 2u);
    EXPECT_EQ(made.files.sprites[1].width, 4 * 48);
    EXPECT_EQ(made.files.sprites[1].height, 2 * 40);

    vtt::Track track;
    std::string error;
    ASSERT_TRUE(vtt::parse(made.files.track, track, error)) << error;
    ASSERT_EQ(track.cues.size(), 20u);
    EXPECT_EQ(track.cues.back().end, made.plan.end / 10'000);
}

INSTANTIATE_TEST_SUITE_P(Containers, ExactPreviews, testing::ValuesIn(kKinds),
                         [](const testing::TestParamInfo<Kind>& info) { return info.param.name; });

TEST(KeyFramePreviews, ShowTheKeyFrameNearestEachMomentWhenItIsWithinHalfAStep) {
    TempDir dir;
    const std::string movie = makeMovie(dir, "m.mp4", 300, "", "libx264", 25, 2);
    const std::vector<testmovies::TimelineFrame> timeline = testmovies::decodeTimeline(movie);
    // 0.7 s apart: key frames (every second) lie within 0.35 s of some
    // moments and not of others.
    Made made;
    makePreviews(movie, every(7'000'000), true, made);
    ASSERT_TRUE(made.finished);
    const std::vector<int> shown = made.files.shown(made.plan);
    const int64_t tolerance = previews::keyFrameTolerance(made.plan);
    EXPECT_EQ(tolerance, 3'500'000);
    int keyFrames = 0;
    int exact = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        const int64_t m = made.plan.moments[i];
        // The nearest key frame, when it is near enough; else the exact frame.
        const int64_t nearest = (m + 12 * kFrameTime) / (25 * kFrameTime) * 25;
        if (std::llabs(nearest * kFrameTime - m) <= tolerance && nearest < 300) {
            EXPECT_EQ(shown[i], nearest) << "thumbnail " << i;
            ++keyFrames;
        } else {
            EXPECT_EQ(shown[i], testmovies::expectedFrame(timeline, m).index) << "thumbnail " << i;
            ++exact;
        }
    }
    EXPECT_GT(keyFrames, 3);
    EXPECT_GT(exact, 3);
}

TEST(CutShortPreviews, EndWhereTheMovieCanBeReadAndShowTheirOwnFrames) {
    TempDir dir;
    const std::string source = makeMovie(dir, "source.mkv", 200);
    const std::string cut = dir.file("cut.mkv");
    std::string error;
    ASSERT_EQ(testmovies::writeTruncated(
                  source, cut, static_cast<size_t>(std::filesystem::file_size(source) / 2), &error),
              0)
        << error;
    const std::vector<testmovies::TimelineFrame> timeline = testmovies::decodeTimeline(cut);
    const ProbeResult probe = MovieProbe::probe(cut);
    ASSERT_TRUE(probe.ok()) << probe.errorText();
    ASSERT_TRUE(probe.facts.cutShort());
    ASSERT_LT(probe.facts.duration, 6 * kSecond);

    Made made;
    makePreviews(cut, every(kSecond / 2), false, made);
    ASSERT_TRUE(made.finished);
    // The last stretch ends at the readable end, in whole milliseconds.
    EXPECT_EQ(made.plan.end, probe.facts.duration / 10'000 * 10'000);
    EXPECT_LT(made.plan.moments.back(), made.plan.end);
    EXPECT_LE(made.missing.size(), 1u);
    const std::vector<int> shown = made.files.shown(made.plan);
    for (size_t i = 0; i < shown.size(); ++i) {
        const int64_t m = made.plan.moments[i];
        if (std::find(made.missing.begin(), made.missing.end(), m) == made.missing.end()) {
            EXPECT_EQ(shown[i], testmovies::expectedFrame(timeline, m).index) << "thumbnail " << i;
        }
    }
    vtt::Track track;
    ASSERT_TRUE(vtt::parse(made.files.track, track, error)) << error;
    EXPECT_EQ(track.cues.back().end, probe.facts.duration / 10'000);
}

TEST(ShortPreviews, AMovieShorterThanOneIntervalHasOneCueForAllOfIt) {
    TempDir dir;
    const std::string movie = makeMovie(dir, "m.mp4", 50); // 2 s
    Made made;
    makePreviews(movie, PreviewSettings{}, false, made);
    ASSERT_TRUE(made.finished);
    ASSERT_EQ(made.plan.moments.size(), 1u);
    EXPECT_EQ(made.files.shown(made.plan), (std::vector<int>{0}));
    EXPECT_EQ(made.files.sprites[0].width, 160);
    EXPECT_EQ(made.files.sprites[0].height, 130); // 176x144 at 160 wide: 130.9, even
    EXPECT_EQ(made.files.track, "WEBVTT\n\n00:00:00.000 --> 00:00:02.000\n"
                                "m-001.jpg#xywh=0,0,160,130\n");
}

// A sheet alone, or with previews riding in its request.
struct SheetRun {
    CaptureResult result;
    std::string sheetBytes;
    int64_t decoded = 0;
    Made previews;
    bool stopped = false;
};

SheetRun captureWith(const std::string& movie, const std::string& target, FrameChoice choice,
                     const PreviewSettings* settings, int stopAfter = -1) {
    SheetRun run;
    const ProbeResult probe = MovieProbe::probe(movie);
    EXPECT_TRUE(probe.ok()) << probe.errorText();
    CaptureInput input;
    input.moviePath = movie;
    input.facts = probe.facts;
    input.infoText = probe.infoText;
    input.targetPath = target;
    input.choice = choice;
    input.movie = probe.movie;
    SharedMoments shared;
    std::optional<previews::SpriteBuilder> builder;
    if (settings) {
        run.previews.plan = planOf(probe, *settings);
        builder.emplace(run.previews.plan, "m", run.previews.files);
        shared.moments = run.previews.plan.moments;
        shared.width = run.previews.plan.thumbWidth;
        shared.height = run.previews.plan.thumbHeight;
        shared.keyFrameTolerance =
            choice.keyFrames ? previews::keyFrameTolerance(run.previews.plan) : -1;
        shared.deliver = [&](size_t k, media::Frame&& frame) {
            if (stopAfter >= 0 && static_cast<int>(k) >= stopAfter)
                return false;
            return builder->add(k, frame);
        };
        input.shared = &shared;
    }
    CaptureProgress progress;
    const int64_t before = media::decodedFrameCount();
    run.result = captureSheet(input, Options::defaults(), progress);
    run.decoded = media::decodedFrameCount() - before;
    if (builder) {
        run.previews.finished = builder->finish();
        run.previews.missing = builder->missing();
    }
    std::ifstream in(target, std::ios::binary);
    run.sheetBytes.assign(std::istreambuf_iterator<char>(in), {});
    return run;
}

TEST(SheetWithPreviews, OneRequestServesBothAndTheSheetIsTheSameAsAlone) {
    TempDir dir;
    // Key frames 4 s apart: the sheet's 25 moments and the previews' 30 share
    // their groups of pictures.
    const std::string movie = makeMovie(dir, "m.mp4", 300, "", "libx264", 100, 2);
    const std::vector<testmovies::TimelineFrame> timeline = testmovies::decodeTimeline(movie);
    media::setDecodingCores(1);
    const PreviewSettings settings = every(4'000'000);

    const SheetRun alone = captureWith(movie, dir.file("alone.bmp"), FrameChoice{}, nullptr);
    ASSERT_TRUE(alone.result.ok()) << alone.result.errorText();
    Made previewsAlone;
    const int64_t before = media::decodedFrameCount();
    makePreviews(movie, settings, false, previewsAlone);
    const int64_t previewsDecoded = media::decodedFrameCount() - before;
    const SheetRun both = captureWith(movie, dir.file("both.bmp"), FrameChoice{}, &settings);
    media::setDecodingCores(0);
    ASSERT_TRUE(both.result.ok()) << both.result.errorText();

    EXPECT_EQ(both.sheetBytes, alone.sheetBytes);
    ASSERT_TRUE(both.previews.finished);
    const std::vector<int> shown = both.previews.files.shown(both.previews.plan);
    ASSERT_EQ(shown.size(), 30u);
    for (size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i],
                  testmovies::expectedFrame(timeline, both.previews.plan.moments[i]).index)
            << "thumbnail " << i;
    EXPECT_EQ(both.previews.files.track, previewsAlone.files.track);
    // The stretches both need are decoded once.
    EXPECT_LT(both.decoded, alone.decoded + previewsDecoded)
        << "sheet " << alone.decoded << ", previews " << previewsDecoded;
    EXPECT_LE(both.decoded, 300);
}

TEST(SheetWithPreviews, KeyFramesAndBlankFramesLeaveTheSheetAsItIsAlone) {
    TempDir dir;
    testmovies::MovieSpec spec;
    spec.path = dir.file("m.mp4");
    spec.frames = 250;
    spec.gop = 25;
    spec.bFrames = 2;
    // Black around the 8th, 13th and 20th cells' moments (every 9.6 frames).
    spec.flat = {{74, 80, 0}, {122, 127, 0}, {190, 195, 255}};
    std::string error;
    ASSERT_EQ(testmovies::make(spec, &error), 0) << error;
    const std::vector<testmovies::TimelineFrame> timeline = testmovies::decodeTimeline(spec.path);
    const PreviewSettings settings = every(3'000'000);

    for (const bool keyFrames : {false, true}) {
        SCOPED_TRACE(keyFrames ? "key frames" : "avoid blank");
        FrameChoice choice;
        choice.keyFrames = keyFrames;
        choice.avoidBlank = !keyFrames;
        const SheetRun alone = captureWith(spec.path, dir.file("alone.bmp"), choice, nullptr);
        const SheetRun both = captureWith(spec.path, dir.file("both.bmp"), choice, &settings);
        ASSERT_TRUE(alone.result.ok()) << alone.result.errorText();
        ASSERT_TRUE(both.result.ok()) << both.result.errorText();
        EXPECT_EQ(both.sheetBytes, alone.sheetBytes);
        ASSERT_TRUE(both.previews.finished);
        Made previewsAlone;
        makePreviews(spec.path, settings, keyFrames, previewsAlone);
        EXPECT_EQ(both.previews.files.shown(both.previews.plan),
                  previewsAlone.files.shown(previewsAlone.plan));
        if (!keyFrames) {
            // Blank frames are the sheet's business: a preview shows its
            // moment's own frame, black or not.
            const std::vector<int> shown = both.previews.files.shown(both.previews.plan);
            for (size_t i = 0; i < shown.size(); ++i) {
                const int want =
                    testmovies::expectedFrame(timeline, both.previews.plan.moments[i]).index;
                if (want >= 0) {
                    EXPECT_EQ(shown[i], want) << "thumbnail " << i;
                }
            }
        }
    }
}

TEST(SheetWithPreviews, PreviewsThatStopEndTheCaptureWithoutASheet) {
    TempDir dir;
    const std::string movie = makeMovie(dir, "m.mp4", 100);
    const PreviewSettings settings = every(kSecond / 4);
    const SheetRun run = captureWith(movie, dir.file("sheet.bmp"), FrameChoice{}, &settings, 5);
    EXPECT_FALSE(run.result.ok());
    EXPECT_EQ(run.result.errorText(), kCancelledText);
    EXPECT_FALSE(std::filesystem::exists(dir.file("sheet.bmp")));
    EXPECT_FALSE(run.previews.finished);
}

} // namespace
