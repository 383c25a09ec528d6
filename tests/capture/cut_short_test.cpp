// Downloads that stopped half way, in every container that states its length
// up front and in those that do not: the sheet is spread over what can be
// read, says that it is cut short, and every cell shows its own frame or is
// marked empty; no frame stands in for a moment it is not the frame of.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "capture/capture.h"
#include "capture/layout.h"
#include "tests/support/footage.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"
#include "tests/support/timeline.h"

namespace {

using testmovies::TempDir;

struct Kind {
    const char* name;
    const char* file;
    const char* container; // for the maker; empty: by the extension
    const char* codec;
    bool statesLength; // the container says how long the movie is
};

const Kind kKinds[] = {
    {"mp4_faststart", "m.mp4", "", "libx264", true},
    {"mkv", "m.mkv", "", "libx264", true},
    {"webm", "m.webm", "webm", "libvpx-vp9", true},
    {"flv", "m.flv", "flv", "libx264", true},
    {"avi", "m.avi", "", "mpeg4", false},
    {"ts", "m.ts", "mpegts", "libx264", false},
};

constexpr int kFrames = 200; // 8 s at 25 frames a second
constexpr int kGop = 25;

// Records each moment's frame (read from its full-size picture) and time.
class Cells : public CaptureProgress {
public:
    bool wantsFullFrames() const override { return true; }
    void frameArrived(int moment, const MediaTime& time, const RasterImage& frame) override {
        const int w = frame.width(), h = frame.height();
        seen[moment] = {
            testmovies::indexFromRgb(frame.row(0), frame.stride(), w / 4, h / 4, w / 2, h / 2),
            time.units()};
    }
    struct Seen {
        int index;
        int64_t units;
    };
    std::map<int, Seen> seen;
};

std::string makeSource(const TempDir& dir, const Kind& k) {
    testmovies::MovieSpec spec;
    spec.path = dir.file(std::string("source-") + k.file);
    spec.container = k.container;
    spec.codec = k.codec;
    spec.frames = kFrames;
    spec.gop = kGop;
    spec.bFrames = std::string(k.codec) == "libvpx-vp9" ? 0 : 2;
    spec.width = 320;
    spec.height = 180;
    spec.noise = 8; // bytes spread over the frames, as a real movie's are
    std::string error;
    EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
    if (std::string(k.name) != "mp4_faststart")
        return spec.path;
    // The index at the front, as web downloads have it: without it a cut
    // file has no index at all.
    const std::string fast = dir.file(k.file);
    EXPECT_EQ(testmovies::runFfmpeg(
                  {"-i", spec.path, "-c", "copy", "-movflags", "+faststart", fast}, &error),
              0)
        << error;
    return fast;
}

class CutShort : public testing::TestWithParam<Kind> {};

TEST_P(CutShort, EveryCellIsItsOwnFrameOrMarkedAndTheLengthIsWhatCanBeRead) {
    const Kind& k = GetParam();
    TempDir dir;
    const std::string source = makeSource(dir, k);
    const auto size = static_cast<int64_t>(std::filesystem::file_size(source));
    for (const double share : {0.2, 0.35, 0.5, 0.65, 0.8}) {
        SCOPED_TRACE(share);
        const std::string cut = dir.file("cut-" + std::to_string(static_cast<int>(share * 100)) +
                                         std::string(k.file).substr(1));
        std::string error;
        ASSERT_EQ(
            testmovies::writeTruncated(source, cut, static_cast<size_t>(size * share), &error), 0)
            << error;
        // What FFmpeg's decoder makes of the cut file: the frames that are
        // there, each with its time.
        const std::vector<testmovies::TimelineFrame> timeline = testmovies::decodeTimeline(cut);
        ASSERT_FALSE(timeline.empty());
        ASSERT_LT(timeline.size(), size_t{kFrames});

        const ProbeResult probe = MovieProbe::probe(cut);
        ASSERT_TRUE(probe.ok()) << probe.errorText();
        const int64_t lastEnd = testmovies::floorPosition(timeline.back()) + 400'000;
        // The readable length ends with the last frame that decodes (the
        // decoder may give one more half-there picture than the reader
        // counts as readable).
        EXPECT_NEAR(static_cast<double>(probe.facts.duration), static_cast<double>(lastEnd),
                    2 * 400'000.0);
        if (k.statesLength) {
            EXPECT_TRUE(probe.facts.cutShort());
            // As the container states it (FLV's counts a reorder delay in).
            EXPECT_NEAR(static_cast<double>(probe.facts.statedDuration), kFrames * 400'000.0,
                        2 * 400'000.0);
        }
        EXPECT_NE(probe.infoText.find("Duration\t: 00:00:0"), std::string::npos) << probe.infoText;

        Cells cells;
        CaptureInput input;
        input.moviePath = cut;
        input.facts = probe.facts;
        input.infoText = probe.infoText;
        input.targetPath = dir.file("sheet.bmp");
        input.movie = probe.movie;
        const CaptureResult result = captureSheet(input, Options::defaults(), cells);
        ASSERT_TRUE(result.ok()) << result.errorText();
        EXPECT_EQ(result.cutShort, k.statesLength);
        EXPECT_EQ(result.incomplete(), k.statesLength || !result.missingMoments.empty());
        if (result.cutShort) {
            EXPECT_EQ(incompleteText(result).rfind("cut short, 00:00:0", 0), 0u)
                << incompleteText(result);
        }

        const std::vector<int64_t> moments = capturePositions(probe.facts.duration, 25);
        int marked = 0;
        for (size_t i = 0; i < moments.size(); ++i) {
            const auto it = cells.seen.find(static_cast<int>(i));
            const testmovies::TimelineFrame& want = testmovies::expectedFrame(timeline, moments[i]);
            if (it == cells.seen.end()) {
                // Marked, and named in the result.
                ++marked;
                EXPECT_NE(std::find(result.missingMoments.begin(), result.missingMoments.end(),
                                    moments[i]),
                          result.missingMoments.end());
                continue;
            }
            EXPECT_EQ(it->second.index, want.index) << "cell " << i;
            EXPECT_EQ(it->second.units, testmovies::floorPosition(want)) << "cell " << i;
        }
        EXPECT_EQ(static_cast<size_t>(marked), result.missingMoments.size());
        // A download cut short is not a damaged one: what can be read has a
        // picture for every moment.
        EXPECT_LE(marked, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, CutShort, testing::ValuesIn(kKinds),
                         [](const testing::TestParamInfo<Kind>& info) { return info.param.name; });

class DamagedGop : public testing::TestWithParam<Kind> {};

// A stretch of zeros over one group of pictures in the middle: every cell
// shows the frame its stamp names, stamped at or after its moment and before
// the next one, or is marked as having no picture; never a frame of another
// moment.
TEST_P(DamagedGop, EveryCellIsTheFrameItsStampNamesOrMarked) {
    const Kind& k = GetParam();
    TempDir dir;
    const std::string movie = makeSource(dir, k);
    std::string error;
    // Frames 75..99 in decoding order: the fourth group of pictures.
    ASSERT_EQ(testmovies::zeroVideoFrames(movie, 3 * kGop, 4 * kGop, &error), 0) << error;

    const ProbeResult probe = MovieProbe::probe(movie);
    ASSERT_TRUE(probe.ok()) << probe.errorText();
    Cells cells;
    CaptureInput input;
    input.moviePath = movie;
    input.facts = probe.facts;
    input.infoText = probe.infoText;
    input.targetPath = dir.file("sheet.bmp");
    input.movie = probe.movie;
    const CaptureResult result = captureSheet(input, Options::defaults(), cells);
    ASSERT_TRUE(result.ok()) << result.errorText();

    const std::vector<int64_t> moments = capturePositions(probe.facts.duration, 25);
    int exact = 0;
    for (size_t i = 0; i < moments.size(); ++i) {
        const auto it = cells.seen.find(static_cast<int>(i));
        if (it == cells.seen.end())
            continue;
        const int64_t next = i + 1 < moments.size() ? moments[i + 1] : INT64_MAX;
        EXPECT_GE(it->second.units, moments[i]) << "cell " << i;
        EXPECT_LT(it->second.units, next) << "cell " << i;
        // The stamp's frame: frame n is shown at n / 25 s.
        const int64_t named = (it->second.units + 200'000) / 400'000;
        EXPECT_EQ(it->second.index, named) << "cell " << i << " at " << it->second.units;
        exact += it->second.units - moments[i] < 400'000;
    }
    // The damage spans a second of the eight: most cells are untouched.
    EXPECT_GE(exact, 20);
    EXPECT_EQ(result.incomplete(), !result.missingMoments.empty());
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedGop,
                         testing::Values(kKinds[0], kKinds[1], kKinds[5]),
                         [](const testing::TestParamInfo<Kind>& info) { return info.param.name; });

} // namespace
