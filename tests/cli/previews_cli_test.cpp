// --previews from the command line on movies the tests make: where the
// track and sprites go, that a player could use them (the track read
// strictly, every sprite it names there, each thumbnail its moment's frame),
// the rules against replacing files, batches, and what the run says.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "tests/previews/preview_check.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"
#include "tests/support/timeline.h"

namespace fs = std::filesystem;

namespace {

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Everything below `root`, hidden entries included, relative and sorted.
std::vector<std::string> everything(const fs::path& root) {
    std::vector<std::string> entries;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(root, ec))
        entries.push_back(fs::relative(e.path(), root).string());
    std::sort(entries.begin(), entries.end());
    return entries;
}

class PreviewsCli : public ::testing::Test {
protected:
    std::string movie(const std::string& relative, int frames = 100, const std::string& ext = "") {
        testmovies::MovieSpec spec;
        spec.path = (dir / relative).string();
        fs::create_directories(fs::path(spec.path).parent_path());
        spec.frames = frames;
        spec.gop = 12;
        spec.bFrames = 2;
        spec.container = ext;
        std::string error;
        EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
        return spec.path;
    }
    int run(std::vector<std::string> args) {
        const std::string options = (dir / "options.swk").string();
        std::vector<const char*> argv{"stillwick-cli", "--options", options.c_str()};
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        std::ostringstream o, e;
        const int code = cli::run(static_cast<int>(argv.size()), argv.data(), o, e, false);
        out = o.str();
        err = e.str();
        return code;
    }
    // The track's thumbnails, checked as a player relies on them.
    std::vector<previewcheck::Thumbnail> thumbnails(const fs::path& track,
                                                    previewcheck::Checks checks = {}) {
        std::vector<previewcheck::Thumbnail> t;
        std::string error;
        EXPECT_TRUE(previewcheck::readPreviews(track.string(), checks, t, error)) << error;
        return t;
    }
    // The frame each thumbnail shows.
    std::vector<int> shown(const std::vector<previewcheck::Thumbnail>& thumbs) {
        std::vector<int> indices;
        for (const previewcheck::Thumbnail& t : thumbs) {
            previewcheck::Image sprite;
            EXPECT_TRUE(previewcheck::readJpeg(t.sprite, sprite));
            indices.push_back(previewcheck::indexIn(sprite, t.region));
        }
        return indices;
    }

    testmovies::TempDir temp;
    const fs::path dir = temp.path();
    std::string out;
    std::string err;
};

TEST_F(PreviewsCli, WritesTheTrackAndSpritesIntoTheFolderAndNoSheet) {
    const std::string clip = movie("in/my clip #1.mp4", 150); // 6 s
    const std::vector<testmovies::TimelineFrame> timeline = testmovies::decodeTimeline(clip);
    ASSERT_EQ(run({"--previews", (dir / "web").string(), "--interval", "0.3", "--preview-grid",
                   "4x3", "--preview-width", "64", clip}),
              0)
        << err;
    const fs::path track = dir / "web" / "my clip #1.vtt";
    EXPECT_EQ(out, track.string() + "\n");
    EXPECT_EQ(
        everything(dir / "web"),
        (std::vector<std::string>{"my clip #1-001.jpg", "my clip #1-002.jpg", "my clip #1.vtt"}));
    EXPECT_FALSE(fs::exists(dir / "in" / "my clip #1.jpg"));

    previewcheck::Checks checks;
    checks.end = 6000;
    const auto thumbs = thumbnails(track, checks);
    ASSERT_EQ(thumbs.size(), 20u);
    EXPECT_EQ(thumbs[17].region, (previews::Region{64, 52, 64, 52}));
    const std::vector<int> indices = shown(thumbs);
    for (size_t i = 0; i < thumbs.size(); ++i)
        EXPECT_EQ(indices[i], testmovies::expectedFrame(timeline, thumbs[i].start * 10'000).index)
            << "thumbnail " << i;
}

TEST_F(PreviewsCli, WithoutAFolderBesideEachMovieOrInTheOutputFolderWithItsSubFolders) {
    movie("lib/a.mp4");
    movie("lib/sub/b.mkv");
    ASSERT_EQ(run({"-q", "--previews", "--", (dir / "lib" / "a.mp4").string()}), 0) << err;
    EXPECT_TRUE(fs::exists(dir / "lib" / "a.vtt"));
    EXPECT_TRUE(fs::exists(dir / "lib" / "a-001.jpg"));
    EXPECT_TRUE(out.empty());

    ASSERT_EQ(
        run({"-r", "--output-dir", (dir / "out").string(), "--previews", (dir / "lib").string()}),
        0)
        << err;
    EXPECT_EQ(everything(dir / "out"), (std::vector<std::string>{"a-001.jpg", "a.vtt", "sub",
                                                                 "sub/b-001.jpg", "sub/b.vtt"}));
    // The same with a folder for the previews, and the sheets elsewhere.
    ASSERT_EQ(run({"-r", "-q", "--sheet", "--output-dir", (dir / "sheets").string(), "--previews",
                   (dir / "web").string(), (dir / "lib").string()}),
              0)
        << err;
    EXPECT_EQ(everything(dir / "web"), (std::vector<std::string>{"a-001.jpg", "a.vtt", "sub",
                                                                 "sub/b-001.jpg", "sub/b.vtt"}));
    EXPECT_EQ(everything(dir / "sheets"), (std::vector<std::string>{"a.jpg", "sub", "sub/b.jpg"}));
}

TEST_F(PreviewsCli, WithTheSheetBothAreMadeAndListed) {
    const std::string clip = movie("c.mp4", 250); // 10 s
    ASSERT_EQ(run({"--sheet", "--previews", (dir / "web").string(), "--previews-count", "7",
                   "--columns", "2", "--rows", "2", clip}),
              0)
        << err;
    EXPECT_EQ(out, (dir / "c.jpg").string() + "\n" + (dir / "web" / "c.vtt").string() + "\n");
    const auto thumbs = thumbnails(dir / "web" / "c.vtt");
    ASSERT_EQ(thumbs.size(), 7u);
    EXPECT_EQ(thumbs[1].start, 1428);
    // -o asks for the sheet too.
    ASSERT_EQ(
        run({"-y", "-o", (dir / "s.png").string(), "--previews", (dir / "web").string(), clip}), 0)
        << err;
    EXPECT_TRUE(fs::exists(dir / "s.png"));
    EXPECT_EQ(thumbnails(dir / "web" / "c.vtt").size(), 1u); // one every 10 s
}

TEST_F(PreviewsCli, NothingIsReplacedWithoutYesAndTwoMoviesNeverShareNames) {
    const std::string a = movie("a/clip.mp4");
    const std::string b = movie("b/clip.mkv");
    const fs::path web = dir / "web";
    ASSERT_EQ(run({"-q", "--previews", web.string(), a}), 0) << err;
    const std::string track = bytesOf(web / "clip.vtt");
    const auto written = fs::last_write_time(web / "clip-001.jpg");

    // The same names again: refused before any work, nothing touched.
    EXPECT_EQ(run({"--previews", web.string(), a}), 1);
    EXPECT_NE(err.find("clip-001.jpg exists (use -y to replace it)"), std::string::npos) << err;
    EXPECT_EQ(fs::last_write_time(web / "clip-001.jpg"), written);
    EXPECT_EQ(run({"-y", "-q", "--previews", web.string(), a}), 0) << err;
    EXPECT_EQ(bytesOf(web / "clip.vtt"), track);

    // Two movies of one name into one folder: the later one is refused.
    EXPECT_EQ(run({"-y", "--previews", web.string(), a, b}), 1);
    EXPECT_NE(err.find("its previews would be named as those of " + a), std::string::npos) << err;
    EXPECT_EQ(everything(web), (std::vector<std::string>{"clip-001.jpg", "clip.vtt"}));

    // A sprite never replaces a sheet of the run: clip-001.mp4's sheet is
    // named as clip.mp4's first sprite.
    const std::string other = movie("a/clip-001.mp4");
    EXPECT_EQ(run({"-y", "--sheet", "--previews", "--", a, other}), 1);
    EXPECT_NE(err.find("would replace the sheet of " + other), std::string::npos) << err;
    EXPECT_TRUE(fs::exists(dir / "a" / "clip-001.jpg"));
    EXPECT_FALSE(fs::exists(dir / "a" / "clip.vtt"));
    // And a failed movie leaves no hidden folder behind.
    for (const std::string& entry : everything(dir / "a"))
        EXPECT_EQ(entry.find(".stillwick"), std::string::npos) << entry;
}

TEST_F(PreviewsCli, UsageErrorsSayWhatIsWrong) {
    const std::string clip = movie("c.mp4", 25);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--preview-width", "100", clip}, "--preview-width goes with --previews"},
        {{"--sheet", clip}, "--sheet goes with --previews"},
        {{"--previews", "--previews-count", "5", "--interval", "3", clip}, "give one"},
        {{"--previews", clip, clip}, "is a file; to put the previews beside the movies"},
        {{"--previews", "--avoid-blank", clip}, "chooses the frames of a sheet"},
        {{"--previews", "--info", clip}, "--info makes no previews"},
        {{"--previews", "--preview-grid", "10by10", clip}, "--preview-grid wants"},
        {{"--previews", "--preview-width", "2", clip}, "--preview-width"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(run(args), 2) << args.front();
        EXPECT_NE(err.find(message), std::string::npos) << err;
    }
    EXPECT_FALSE(fs::exists(dir / "c.vtt"));
    EXPECT_FALSE(fs::exists(dir / "c.jpg"));
}

TEST_F(PreviewsCli, ACutShortMovieEndsItsTrackWhereItCanBeReadAndSaysSo) {
    const std::string whole = movie("whole.mkv", 200);
    const std::string cut = (dir / "cut.mkv").string();
    std::string error;
    ASSERT_EQ(testmovies::writeTruncated(whole, cut, fs::file_size(whole) / 2, &error), 0) << error;
    EXPECT_EQ(run({"--previews", (dir / "web").string(), "--interval", "1", cut}), 3);
    EXPECT_NE(err.find(cut + ": cut short, 00:00:0"), std::string::npos) << err;
    const auto thumbs = thumbnails(dir / "web" / "cut.vtt");
    ASSERT_FALSE(thumbs.empty());
    EXPECT_LT(thumbs.back().end, 6000);
    EXPECT_EQ(thumbs.back().start, static_cast<int64_t>(thumbs.size() - 1) * 1000);
}

TEST_F(PreviewsCli, AShortMovieHasOneCueAndAFailingOneLeavesNothing) {
    const std::string clip = movie("short.mp4", 30); // 1.2 s
    const std::string broken = (dir / "broken.mp4").string();
    std::string error;
    ASSERT_EQ(testmovies::writeRandomBytes(broken, 4000, 7, &error), 0) << error;
    EXPECT_EQ(run({"--previews", (dir / "web").string(), clip, broken}), 1);
    EXPECT_NE(err.find(broken + ": "), std::string::npos) << err;
    EXPECT_EQ(everything(dir / "web"), (std::vector<std::string>{"short-001.jpg", "short.vtt"}));
    EXPECT_EQ(bytesOf(dir / "web" / "short.vtt"),
              "WEBVTT\n\n00:00:00.000 --> 00:00:01.200\nshort-001.jpg#xywh=0,0,160,130\n");
}

TEST_F(PreviewsCli, ABatchMakesTheSameFilesWithOneJobOrTwo) {
    for (const char* name : {"lib/a.mp4", "lib/b.mp4", "lib/c/d.mkv", "lib/c/e.mp4"})
        movie(name, 120);
    ASSERT_EQ(run({"-q", "-r", "-j", "1", "--sheet", "--interval", "0.5", "--output-dir",
                   (dir / "one").string(), "--previews", "--", (dir / "lib").string()}),
              0)
        << err;
    ASSERT_EQ(run({"-q", "-r", "-j", "2", "--sheet", "--interval", "0.5", "--output-dir",
                   (dir / "two").string(), "--previews", "--", (dir / "lib").string()}),
              0)
        << err;
    const std::vector<std::string> files = everything(dir / "one");
    EXPECT_EQ(files, everything(dir / "two"));
    EXPECT_EQ(files.size(), 13u); // 4 sheets, 4 tracks, 4 sprites, the folder c
    for (const std::string& f : files)
        if (!fs::is_directory(dir / "one" / f)) {
            EXPECT_EQ(bytesOf(dir / "one" / f), bytesOf(dir / "two" / f)) << f;
        }
}

} // namespace
