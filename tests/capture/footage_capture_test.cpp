// Sheets of movies whose picture is not shown as stored: turned or mirrored
// by a display matrix, anamorphic, HDR. Every cell is held to what the ffmpeg
// tool shows for that frame (it turns pictures by their matrix itself), put
// through the same cell size, by mean colour distance; the sheets are also
// left in the build folder to be looked at.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "capture/capture.h"
#include "capture/layout.h"
#include "capture/movie_probe.h"
#include "tests/capture/sheet_reader.h"
#include "tests/support/footage.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace {

using testmovies::Footage;

constexpr int kFps = 25;

int frameAt(int64_t position, int frames) {
    const int64_t n = (position * kFps + 10'000'000 - 1) / 10'000'000;
    return static_cast<int>(std::min<int64_t>(n, frames - 1));
}

// Frames `indices` (in showing order) of `movie` as ffmpeg shows them, each
// resized to w × h: blue, green, red, rows top-down, one after the other.
std::vector<uint8_t> ffmpegFrames(const std::string& movie, const std::vector<int>& indices, int w,
                                  int h, const std::string& before, const std::string& raw,
                                  std::string* error) {
    std::string select;
    for (int n : indices)
        select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(n) + ")";
    std::vector<std::string> args;
    if (!before.empty())
        args.push_back(before);
    args.insert(args.end(), {"-i", movie, "-vf",
                             "select='" + select + "',scale=" + std::to_string(w) + ":" +
                                 std::to_string(h) + ":flags=area",
                             "-vsync", "0", "-f", "rawvideo", "-pix_fmt", "bgr24", raw});
    if (testmovies::runFfmpeg(args, error) != 0)
        return {};
    std::ifstream in(raw, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Mean absolute difference per channel between a cell of the sheet and a
// reference picture of the cell's size, two pixels in from the edges, where
// resamplers differ most.
double cellDistance(const SheetPicture& sheet, const CellRect& cell, const uint8_t* reference) {
    double sum = 0;
    int64_t count = 0;
    for (int y = 2; y < cell.height - 2; ++y)
        for (int x = 2; x < cell.width - 2; ++x) {
            const uint8_t* s = sheet.at(cell.x + x, cell.y + y);
            const uint8_t* r = reference + (static_cast<size_t>(y) * cell.width + x) * 3;
            for (int c = 0; c < 3; ++c)
                sum += std::abs(s[c] - r[c]);
            count += 3;
        }
    return count ? sum / count : 1e9;
}

struct Shown {
    Footage kind;
    // Each cell's distance to ffmpeg's picture must stay below this; the
    // picture shown wrongly (not turned, not stretched, not tone-mapped)
    // must lie at least `margin` times as far.
    double tolerance;
    double margin;
};

class ShownAsPlayersShowIt : public testing::TestWithParam<Shown> {};

TEST_P(ShownAsPlayersShowIt, CellsHaveTheShownShapeAndMatchFfmpegsPicture) {
    const Shown& c = GetParam();
    testmovies::TempDir dir;
    testmovies::FootageSpec spec;
    spec.kind = c.kind;
    spec.frames = 75;
    const std::string name = testmovies::footageName(c.kind);
    const std::string movie = dir.file(name + testmovies::footageExtension(c.kind));
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, movie, &error), 0) << error;

    int width = 0, height = 0, shownW = 0, shownH = 0;
    testmovies::footageSizes(c.kind, &width, &height, &shownW, &shownH);
    const ProbeResult probe = MovieProbe::probe(movie);
    ASSERT_TRUE(probe.ok()) << probe.errorText();
    EXPECT_EQ(probe.facts.videoWidth, width);
    EXPECT_EQ(probe.facts.videoHeight, height);
    EXPECT_EQ(probe.facts.displayWidth, shownW);
    EXPECT_EQ(probe.facts.displayHeight, shownH);
    // As media-information tools have it: the stored size.
    EXPECT_NE(probe.infoText.find("Resolution\t: " + std::to_string(width) + "x" +
                                  std::to_string(height)),
              std::string::npos)
        << probe.infoText;

    Options o = Options::defaults();
    o.rows = 2;
    o.columns = 3;
    o.headerEnabled = 0;
    o.timeStampsEnabled = 0;
    // Kept in the build folder, to be looked at.
    const std::string target = std::filesystem::absolute("sheet-" + name + ".bmp").string();
    CaptureProgress quiet;
    const CaptureResult result =
        captureSheet(CaptureInput{movie, probe.facts, probe.infoText, target, {}}, o, quiet);
    ASSERT_TRUE(result.ok()) << result.errorText();
    EXPECT_TRUE(result.missingMoments.empty());

    SheetLayout layout;
    ASSERT_TRUE(computeLayout(o, shownW, shownH, 0, 0, layout, error)) << error;
    SheetPicture sheet;
    ASSERT_TRUE(readBmp(target, sheet));
    ASSERT_EQ(sheet.width, layout.sheetWidth);
    ASSERT_EQ(sheet.height, layout.sheetHeight);

    const CellRect first = layout.cellAt(0);
    const std::vector<int64_t> moments = capturePositions(probe.facts.duration, 6);
    std::vector<int> indices;
    for (int64_t m : moments)
        indices.push_back(frameAt(m, spec.frames));
    // What ffmpeg shows, and what a picture shown wrongly would look like.
    const bool hdr = c.kind == Footage::Hdr10 || c.kind == Footage::Hlg;
    const std::vector<uint8_t> shown =
        hdr ? ffmpegFrames(testmovies::sdrSourceOf(movie), indices, first.width, first.height, "",
                           dir.file("shown.raw"), &error)
            : ffmpegFrames(movie, indices, first.width, first.height, "", dir.file("shown.raw"),
                           &error);
    ASSERT_FALSE(shown.empty()) << error;
    const std::vector<uint8_t> wrong =
        ffmpegFrames(movie, indices, first.width, first.height, hdr ? "" : "-noautorotate",
                     dir.file("wrong.raw"), &error);
    const size_t cellBytes = static_cast<size_t>(first.width) * first.height * 3;
    ASSERT_EQ(shown.size(), cellBytes * 6) << error;

    for (int k = 0; k < 6; ++k) {
        const CellRect cell = layout.cellAt(k);
        ASSERT_EQ(cell.width, first.width);
        ASSERT_EQ(cell.height, first.height);
        const double d = cellDistance(sheet, cell, shown.data() + cellBytes * k);
        EXPECT_LT(d, c.tolerance) << "cell " << k << " (frame " << indices[k] << ")";
        RecordProperty("distance_cell_" + std::to_string(k), std::to_string(d));
        // The anamorphic kinds differ from the stored shape in the cells'
        // shape, checked above; the others in their content.
        if (c.margin > 0 && wrong.size() == shown.size()) {
            const double w = cellDistance(sheet, cell, wrong.data() + cellBytes * k);
            EXPECT_GT(w, c.margin * d)
                << "cell " << k << " is as close to the picture shown wrongly";
            RecordProperty("wrong_distance_cell_" + std::to_string(k), std::to_string(w));
        }
    }
}

std::string shownName(const testing::TestParamInfo<Shown>& info) {
    return testmovies::footageName(info.param.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Footage, ShownAsPlayersShowIt,
    testing::Values(Shown{Footage::Rotated90, 4, 3}, Shown{Footage::Rotated180, 4, 3},
                    Shown{Footage::Rotated270, 4, 3}, Shown{Footage::Flipped, 4, 3},
                    Shown{Footage::Anamorphic4x3, 4, 0}, Shown{Footage::Anamorphic8x9, 4, 0},
                    Shown{Footage::Hdr10, 12, 2}, Shown{Footage::Hlg, 12, 2}),
    shownName);

} // namespace

namespace {

// An elementary stream has no clock: its length is where its last frame
// ends, found by reading it, not the start of that frame or a guess from
// the bit rate.
TEST(InformationText, ElementaryStreamLastsToTheEndOfItsLastFrame) {
    testmovies::TempDir dir;
    testmovies::MovieSpec spec;
    spec.path = dir.file("clip.m1v");
    spec.fpsNum = 24;
    spec.frames = 720;
    spec.bFrames = 2;
    std::string error;
    ASSERT_EQ(testmovies::make(spec, &error), 0) << error;
    const ProbeResult probe = MovieProbe::probe(spec.path);
    ASSERT_TRUE(probe.ok()) << probe.errorText();
    EXPECT_EQ(probe.facts.duration, 300'000'000);
    EXPECT_EQ(probe.infoText, "File Name\t: clip.m1v\nAverage FPS\t: 24.00\nResolution\t: "
                              "176x144\nDuration\t: 00:00:30");
}

} // namespace

namespace {

// Moments whose picture is destroyed are marked in their own cells and named
// in the result, with the decoder's errors, unless the first frame that
// decodes after them comes before the next moment (then that frame stands
// in, with its own time); the others are whole.
TEST(Outcome, DamagedMomentsAreNamedAndTheirErrorsCounted) {
    testmovies::TempDir dir;
    testmovies::FootageSpec spec;
    spec.kind = Footage::DamagedMiddle;
    const std::string movie = dir.file("damaged.mov");
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, movie, &error), 0) << error;
    const ProbeResult probe = MovieProbe::probe(movie);
    ASSERT_TRUE(probe.ok()) << probe.errorText();
    CaptureProgress quiet;
    const CaptureInput input{movie, probe.facts, probe.infoText, dir.file("sheet.bmp"), {}};
    const CaptureResult result = captureSheet(input, Options::defaults(), quiet);
    ASSERT_TRUE(result.ok()) << result.errorText();

    std::vector<int64_t> expected;
    const std::vector<int64_t> moments = capturePositions(probe.facts.duration, 25);
    const int64_t firstWhole = int64_t{spec.damageTo} * 10'000'000 / 25;
    for (size_t i = 0; i < moments.size(); ++i) {
        const int n = frameAt(moments[i], spec.frames);
        const bool standIn = i + 1 < moments.size() && firstWhole < moments[i + 1];
        if (n >= spec.damageFrom && n < spec.damageTo && !standIn)
            expected.push_back(moments[i]);
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(result.missingMoments, expected);
    EXPECT_GT(result.decoderErrors, 0);
    EXPECT_EQ(momentText(expected.front()), "00:00:02");

    // The same movie undamaged: nothing missing, nothing refused.
    testmovies::MovieSpec whole;
    whole.path = dir.file("whole.mov");
    whole.container = "mov";
    whole.codec = "mjpeg";
    whole.frames = spec.frames;
    ASSERT_EQ(testmovies::make(whole, &error), 0) << error;
    const ProbeResult wholeProbe = MovieProbe::probe(whole.path);
    const CaptureResult clean = captureSheet(
        CaptureInput{whole.path, wholeProbe.facts, wholeProbe.infoText, dir.file("whole.bmp"), {}},
        Options::defaults(), quiet);
    ASSERT_TRUE(clean.ok()) << clean.errorText();
    EXPECT_TRUE(clean.missingMoments.empty());
    EXPECT_EQ(clean.decoderErrors, 0);
}

} // namespace
