// The parts of a batch that need no movie: the walk through folders, where
// sheets and frames are planned, the order of the output of parallel work, and
// how the terminal is spoken to.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "cli/batch.h"
#include "cli/plan.h"
#include "cli/terminal.h"
#include "cli/walk.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

std::vector<std::string> paths(const cli::WalkResult& walk) {
    std::vector<std::string> found;
    for (const cli::WalkEntry& e : walk.entries)
        found.push_back(e.path);
    return found;
}

TEST(Walk, FoldersInNameOrderWithoutHiddenFilesOrOurSheets) {
    testmovies::TempDir temp;
    const fs::path lib = temp.path() / "lib";
    for (const char* name :
         {"b.mkv", "a.mp4", "a.jpg", "b.PNG", "cover.jpg", ".hidden.mp4", ".cache/x.mp4",
          "sub/c.avi", "sub/c.jpg", "sub/deeper/d.ts", "sheets/a.jpg"})
        touch(lib / name);
    fs::create_directory_symlink(lib / "sub", lib / "loop");
    const std::string top = lib.string();
    const std::string file = (temp.path() / "alone.mov").string();

    // Without -r: the files at the top, and a file argument as it is (even a
    // missing one: it fails later with its own reason).
    cli::WalkResult flat = cli::walkArguments({top, file}, false, {});
    EXPECT_EQ(paths(flat),
              (std::vector<std::string>{top + "/a.mp4", top + "/b.mkv", top + "/cover.jpg", file}));
    EXPECT_EQ(flat.sheetsLeftOut, 2); // a.jpg beside a.mp4, b.PNG beside b.mkv
    EXPECT_TRUE(flat.entries[0].inFolder);
    EXPECT_FALSE(flat.entries[3].inFolder);

    // With -r: sub-folders in name order, their relative place kept; the
    // sheets folder and the link back into the tree are not entered.
    cli::WalkResult deep = cli::walkArguments({top}, true, {(lib / "sheets").string()});
    EXPECT_EQ(paths(deep),
              (std::vector<std::string>{top + "/a.mp4", top + "/b.mkv", top + "/cover.jpg",
                                        top + "/sub/c.avi", top + "/sub/deeper/d.ts"}));
    EXPECT_EQ(deep.entries[3].subFolder, "sub");
    EXPECT_EQ(deep.entries[4].subFolder, "sub/deeper");
    EXPECT_EQ(deep.sheetsLeftOut, 3);
    EXPECT_TRUE(deep.errors.empty());
}

TEST(Walk, AFolderThatCannotBeReadIsOneError) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    testmovies::TempDir temp;
    const fs::path locked = temp.path() / "locked";
    touch(locked / "a.mp4");
    fs::permissions(locked, fs::perms::none);
    cli::WalkResult walk = cli::walkArguments({locked.string()}, false, {});
    fs::permissions(locked, fs::perms::owner_all);
    ASSERT_EQ(walk.errors.size(), 1u);
    EXPECT_EQ(walk.errors[0].rfind(locked.string() + ": ", 0), 0u);
}

cli::WalkEntry entry(const std::string& path, const std::string& sub = "", bool inFolder = true) {
    return cli::WalkEntry{path, sub, inFolder};
}

TEST(Plan, SheetsBesideTheMovieOrInTheOutputFolderWithItsSubFolders) {
    cli::Arguments args;
    auto plan = cli::planMovies({entry("lib/Clip One.avi"), entry("lib/sub/x.y.mkv", "sub"),
                                 entry(".hidden"), entry("noext")},
                                args);
    EXPECT_EQ(plan[0].sheet, "lib/Clip One.jpg");
    EXPECT_EQ(plan[1].sheet, "lib/sub/x.y.jpg");
    EXPECT_EQ(plan[2].sheet, ".hidden.jpg");
    EXPECT_EQ(plan[3].sheet, "noext.jpg");

    args.outputDir = "out";
    args.format = "png";
    args.framesDir = "frames";
    plan = cli::planMovies({entry("lib/a.avi"), entry("lib/sub/b.mkv", "sub")}, args);
    EXPECT_EQ(plan[0].sheet, "out/a.png");
    EXPECT_EQ(plan[1].sheet, "out/sub/b.png");
    EXPECT_EQ(plan[0].framesFolder, "frames");
    EXPECT_EQ(plan[1].framesFolder, "frames/sub");
    EXPECT_TRUE(plan[0].refusal.empty() && plan[1].refusal.empty());

    args = cli::Arguments{};
    args.info = true;
    plan = cli::planMovies({entry("a.avi")}, args);
    EXPECT_TRUE(plan[0].sheet.empty());
}

TEST(Plan, ALaterMovieWhoseSheetOrFramesWouldLandOnAnEarliersIsRefused) {
    cli::Arguments args;
    args.outputDir = "out";
    // Same name from two folders given side by side; same stem twice in one
    // folder; a path spelled another way.
    auto plan = cli::planMovies({entry("a/clip.mp4"), entry("b/clip.mp4"), entry("c/x.mkv"),
                                 entry("c/x.avi"), entry("c/./../c/y.avi"), entry("c/y.avi")},
                                args);
    EXPECT_TRUE(plan[0].refusal.empty());
    EXPECT_NE(plan[1].refusal.find("a/clip.mp4"), std::string::npos) << plan[1].refusal;
    EXPECT_NE(plan[1].refusal.find("out/clip.jpg"), std::string::npos) << plan[1].refusal;
    EXPECT_TRUE(plan[2].refusal.empty());
    EXPECT_FALSE(plan[3].refusal.empty());
    EXPECT_TRUE(plan[4].refusal.empty());
    EXPECT_FALSE(plan[5].refusal.empty());

    // Beside the movies, with their sub-folders kept: no collision.
    args.outputDir.clear();
    args.framesDir = "frames";
    plan = cli::planMovies({entry("a/clip.mp4", "a"), entry("b/clip.mp4", "b")}, args);
    EXPECT_TRUE(plan[0].refusal.empty() && plan[1].refusal.empty());
    // One place spelled two ways is one place.
    args.framesDir.clear();
    plan = cli::planMovies({entry("c/y.avi"), entry("c/./y.mkv")}, args);
    EXPECT_FALSE(plan[1].refusal.empty());
    args.framesDir = "frames";
    // Frames of two movies of one name in one frames folder would mix.
    plan = cli::planMovies({entry("a/clip.mp4"), entry("b/clip.mp4")}, args);
    EXPECT_NE(plan[1].refusal.find("frames"), std::string::npos) << plan[1].refusal;
}

TEST(Plan, FrameNamesAreNumberedAndCarryTheTime) {
    EXPECT_EQ(cli::frameFileName("Clip One", 0, 25, MediaTime{83456, 1, 1000}, "jpg"),
              "Clip One-01-00h01m23.456s.jpg");
    EXPECT_EQ(cli::frameFileName("x", 99, 100, MediaTime{372504, 1, 100}, "png"),
              "x-100-01h02m05.040s.png");
    EXPECT_EQ(cli::frameFileName("x", 6, 1000, MediaTime{0, 1, 25}, "png"),
              "x-0007-00h00m00.000s.png");
    // 1.04 s is stored a hair below; it is still 1.040.
    EXPECT_EQ(cli::frameFileName("x", 0, 1, MediaTime{26, 1, 25}, "jpg"), "x-01-00h00m01.040s.jpg");
}

TEST(Terminal, TimesAreSpokenAsPeopleSayThem) {
    EXPECT_EQ(cli::spokenDuration(0.44), "0.4 s");
    EXPECT_EQ(cli::spokenDuration(12.9), "12 s");
    EXPECT_EQ(cli::spokenDuration(252), "4 min 12 s");
    EXPECT_EQ(cli::spokenDuration(3600 + 120 + 5), "1 h 02 min");
    EXPECT_EQ(cli::spokenDuration(-3), "0.0 s");
}

TEST(Terminal, LinesAreCutToTheWidthWithoutSplittingACharacter) {
    EXPECT_EQ(cli::fitColumns("short", 10), "short");
    EXPECT_EQ(cli::fitColumns("exactly10!", 10), "exactly10!");
    EXPECT_EQ(cli::fitColumns("a longer line", 8), "a longe\u2026");
    // "é" is two bytes and one column.
    EXPECT_EQ(cli::fitColumns("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 3), "\xC3\xA9\xC3\xA9\u2026");
    EXPECT_EQ(cli::fitColumns("anything", 0), "");
}

TEST(Terminal, SummaryLine) {
    cli::BatchCounts counts;
    counts.made = 312;
    counts.failed = 3;
    counts.seconds = 252;
    EXPECT_EQ(cli::summaryLine(counts, false), "312 sheets, 3 failed, 4 min 12 s");
    counts.made = 1;
    counts.failed = 0;
    counts.skipped = 2;
    counts.seconds = 1.25;
    EXPECT_EQ(cli::summaryLine(counts, true),
              "1 movie read, 0 failed, 2 files were no movies, 1.2 s");
}

TEST(Batch, OutputKeepsTheOrderOfTheItemsWhateverOrderTheyFinishIn) {
    std::ostringstream out, err;
    cli::Batch batch(out, err, false, 80);
    std::mutex mutex;
    std::condition_variable changed;
    int finished = 0;
    std::string seenLive;
    std::atomic<bool> stop{false};
    const cli::BatchCounts counts = batch.run(
        3, 3,
        [&](size_t i, cli::ItemProgress& progress) {
            progress.begin("movie" + std::to_string(i), 4);
            std::unique_lock<std::mutex> lock(mutex);
            if (i == 0) {
                // The first item ends last, once the batch has counted the others.
                changed.wait(lock, [&] { return finished == 2; });
                progress.momentDone();
                lock.unlock();
                for (int tries = 0; tries < 2000; ++tries) {
                    seenLive = batch.liveText();
                    if (seenLive.rfind("2/3  ", 0) == 0)
                        break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                lock.lock();
            }
            ++finished;
            changed.notify_all();
            cli::ItemResult r;
            r.outcome = i == 1 ? cli::Outcome::Failed : cli::Outcome::Made;
            (i == 1 ? r.err : r.out) = "item " + std::to_string(i) + "\n";
            return r;
        },
        stop);
    EXPECT_EQ(out.str(), "item 0\nitem 2\n");
    EXPECT_EQ(err.str(), "item 1\n");
    EXPECT_EQ(counts.made, 2);
    EXPECT_EQ(counts.failed, 1);
    // Two of three done, the first movie at its first moment of four.
    EXPECT_EQ(seenLive.rfind("2/3  ", 0), 0u) << seenLive;
    EXPECT_NE(seenLive.find("| movie0 1/4"), std::string::npos) << seenLive;
}

TEST(Batch, NoItemStartsOnceStopped) {
    std::ostringstream out, err;
    cli::Batch batch(out, err, false, 80);
    std::atomic<bool> stop{false};
    std::atomic<int> ran{0};
    batch.run(
        50, 1,
        [&](size_t i, cli::ItemProgress&) {
            ++ran;
            if (i == 4)
                stop = true;
            return cli::ItemResult{cli::Outcome::Made, std::to_string(i) + "\n", {}};
        },
        stop);
    EXPECT_EQ(ran.load(), 5);
    EXPECT_EQ(out.str(), "0\n1\n2\n3\n4\n");
}

TEST(Batch, TheLiveLineIsClearedBeforeEachLineAndAtTheEnd) {
    std::ostringstream out, err;
    cli::Batch batch(out, err, true, 40);
    std::atomic<bool> stop{false};
    batch.run(
        2, 1,
        [&](size_t i, cli::ItemProgress& progress) {
            progress.begin("a rather long movie name.mkv", 25);
            return cli::ItemResult{cli::Outcome::Made, {}, "line " + std::to_string(i) + "\n"};
        },
        stop);
    const std::string text = err.str();
    EXPECT_NE(text.find("\r\033[Kline 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\033[Kline 1\n"), std::string::npos) << text;
    // Ends with the line taken away; no drawn line is wider than 39 columns.
    EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
    std::istringstream pieces(text);
    for (std::string piece; std::getline(pieces, piece, '\r');) {
        const std::string shown = piece.substr(piece.find('K') + 1);
        if (shown.rfind("line", 0) != 0) {
            EXPECT_LE(shown.size(), 39u + 2) << shown; // the ellipsis is 3 bytes
        }
    }
}

} // namespace
