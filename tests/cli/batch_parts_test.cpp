// The parts of a batch that need no movie: the walk through folders, where
// sheets and frames are planned, the order of the output of parallel work, and
// how the terminal is spoken to.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "capture/movie_walk.h"
#include "cli/batch.h"
#include "cli/frames.h"
#include "cli/memory.h"
#include "cli/names.h"
#include "cli/plan.h"
#include "cli/terminal.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

std::vector<std::string> paths(const moviewalk::Result& walk) {
    std::vector<std::string> found;
    for (const moviewalk::Entry& e : walk.entries)
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
    moviewalk::Result flat = moviewalk::walk({top, file}, false, {});
    EXPECT_EQ(paths(flat),
              (std::vector<std::string>{top + "/a.mp4", top + "/b.mkv", top + "/cover.jpg", file}));
    EXPECT_EQ(flat.sheetsLeftOut, 2); // a.jpg beside a.mp4, b.PNG beside b.mkv
    EXPECT_TRUE(flat.entries[0].inFolder);
    EXPECT_FALSE(flat.entries[3].inFolder);

    // With -r: sub-folders in name order, their relative place kept; the
    // sheets folder and the link back into the tree are not entered.
    moviewalk::Result deep = moviewalk::walk({top}, true, {(lib / "sheets").string()});
    EXPECT_EQ(paths(deep),
              (std::vector<std::string>{top + "/a.mp4", top + "/b.mkv", top + "/cover.jpg",
                                        top + "/sub/c.avi", top + "/sub/deeper/d.ts"}));
    EXPECT_EQ(deep.entries[3].subFolder, "sub");
    EXPECT_EQ(deep.entries[4].subFolder, "sub/deeper");
    EXPECT_EQ(deep.sheetsLeftOut, 3);
    EXPECT_TRUE(deep.unreadable.empty());
}

// The output folder is passed over below a folder argument, never as the
// argument itself: `-r --output-dir . .` looks at the current folder.
TEST(Walk, AFolderNamedAsAnArgumentIsLookedInEvenWhenTheSheetsGoThere) {
    testmovies::TempDir temp;
    const fs::path lib = temp.path() / "lib";
    for (const char* name : {"a.mp4", "sheets/b.mp4", "other/c.mp4"})
        touch(lib / name);
    const std::string top = lib.string();
    moviewalk::Result walk = moviewalk::walk({top}, true, {top});
    EXPECT_EQ(paths(walk), (std::vector<std::string>{top + "/a.mp4", top + "/other/c.mp4",
                                                     top + "/sheets/b.mp4"}));
    walk = moviewalk::walk({top, (lib / "sheets").string()}, true, {(lib / "sheets").string()});
    EXPECT_EQ(paths(walk), (std::vector<std::string>{top + "/a.mp4", top + "/other/c.mp4",
                                                     top + "/sheets/b.mp4"}));
    // Without -r the sub-folders are counted, so that an empty-handed run
    // can say where the movies may be.
    walk = moviewalk::walk({top}, false, {});
    EXPECT_EQ(paths(walk), std::vector<std::string>{top + "/a.mp4"});
    EXPECT_EQ(walk.foldersNotEntered, 2);
}

TEST(Walk, AFolderThatCannotBeReadIsOneError) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    testmovies::TempDir temp;
    const fs::path locked = temp.path() / "locked";
    touch(locked / "a.mp4");
    fs::permissions(locked, fs::perms::none);
    moviewalk::Result walk = moviewalk::walk({locked.string()}, false, {});
    fs::permissions(locked, fs::perms::owner_all);
    ASSERT_EQ(walk.unreadable.size(), 1u);
    EXPECT_EQ(walk.unreadable[0].folder, locked.string());
}

moviewalk::Entry entry(const std::string& path, const std::string& sub = "", bool inFolder = true) {
    return moviewalk::Entry{path, sub, inFolder};
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

// Sheets that would be one file are refused where the run settles every
// sheet's place by what the names lead to (tested through the program); the
// plan refuses what only it knows: frames that would mix.
TEST(Plan, ALaterMovieWhoseFramesWouldLandOnAnEarliersIsRefused) {
    cli::Arguments args;
    args.outputDir = "out";
    auto plan = cli::planMovies({entry("a/clip.mp4"), entry("b/clip.mp4")}, args);
    EXPECT_EQ(plan[0].sheet, "out/clip.jpg");
    EXPECT_EQ(plan[1].sheet, "out/clip.jpg");

    // Beside the movies, with their sub-folders kept: no collision.
    args.outputDir.clear();
    args.framesDir = "frames";
    plan = cli::planMovies({entry("a/clip.mp4", "a"), entry("b/clip.mp4", "b")}, args);
    EXPECT_TRUE(plan[0].refusal.empty() && plan[1].refusal.empty());
    EXPECT_EQ(plan[0].sheet, "a/clip.jpg");
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
    counts.made = 25;
    counts.incomplete = 2;
    counts.failed = 1;
    EXPECT_EQ(cli::summaryLine(counts, false), "25 sheets, 2 incomplete, 1 failed, 4 min 12 s");
    counts.incomplete = 0;
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

// Names are shown as GNU ls shows them: plain ones as they are, the others
// whole in the shell's $'...' form, so that one failure stays one line and no
// escape sequence reaches the terminal.
TEST(Names, ControlCharactersAndStrayBytesAreQuotedTheRestIsLeftAlone) {
    EXPECT_EQ(cli::shownName("Clip One.avi"), "Clip One.avi");
    EXPECT_EQ(cli::shownName("it's \xC3\xA9t\xC3\xA9.mkv"), "it's \xC3\xA9t\xC3\xA9.mkv");
    EXPECT_EQ(cli::shownName("dir/a\nb.mp4"), "$'dir/a\\nb.mp4'");
    EXPECT_EQ(cli::shownName("a\tb\rc"), "$'a\\tb\\rc'");
    EXPECT_EQ(cli::shownName("e\x1B[31mx.mp4"), "$'e\\033[31mx.mp4'");
    EXPECT_EQ(cli::shownName("bad\xFFname"), "$'bad\\377name'");
    // C1 controls (CSI is U+009B) act on some terminals; a cut sequence, an
    // overlong form and a surrogate are no UTF-8.
    EXPECT_EQ(cli::shownName("c1\xC2\x9Bz"), "$'c1\\302\\233z'");
    EXPECT_EQ(cli::shownName("cut\xE2\x82"), "$'cut\\342\\202'");
    EXPECT_EQ(cli::shownName("\xC0\xAF"), "$'\\300\\257'");
    EXPECT_EQ(cli::shownName("\xED\xA0\x80"), "$'\\355\\240\\200'");
    EXPECT_EQ(cli::shownName("del\x7F"), "$'del\\177'");
    // Inside the quotes a quote and a backslash are escaped; a name that
    // looks quoted itself is quoted, so no two names are shown alike.
    EXPECT_EQ(cli::shownName("it's\n\\"), "$'it\\'s\\n\\\\'");
    EXPECT_EQ(cli::shownName("$'a\\nb'"), "$'$\\'a\\\\nb\\''");
    EXPECT_NE(cli::shownName("$'a\\nb'"), cli::shownName("a\nb"));
    EXPECT_EQ(cli::shownName(""), "");
}

TEST(Names, MessagesMadeElsewhereAreMadeSafeWithTheirNamesShown) {
    const std::string movie = "/m/a\nb.avi";
    EXPECT_EQ(cli::safeLine("No picture could be decoded from a\nb.avi.", movie),
              "No picture could be decoded from $'a\\nb.avi'.");
    EXPECT_EQ(cli::safeLine("Cannot write /m/a\nb.avi: full", movie),
              "Cannot write $'/m/a\\nb.avi': full");
    // Whatever is left: line breaks become spaces, other controls '?'.
    EXPECT_EQ(cli::safeLine("one\ntwo\x1B[2Jthree\xFF"), "one two?[2Jthree?");
    // A plain name is not looked for: "a" must not be quoted inside words.
    EXPECT_EQ(cli::safeLine("a cat", "a"), "a cat");
}

TEST(Memory, SizesAreReadInBinaryUnits) {
    EXPECT_EQ(cli::parseMemorySize("1500M"), int64_t{1500} << 20);
    EXPECT_EQ(cli::parseMemorySize("2G"), int64_t{2} << 30);
    EXPECT_EQ(cli::parseMemorySize("2gib"), int64_t{2} << 30);
    EXPECT_EQ(cli::parseMemorySize("512k"), int64_t{512} << 10);
    EXPECT_EQ(cli::parseMemorySize("1073741824"), int64_t{1} << 30);
    for (const char* bad : {"", "G", "0", "0M", "-1G", "1.5G", "2Q", "99999999999999999999"})
        EXPECT_EQ(cli::parseMemorySize(bad), -1) << bad;
    EXPECT_GT(cli::memoryThisProcessMayUse(), 0);
    EXPECT_EQ(cli::defaultMemoryBudget(), cli::memoryThisProcessMayUse() / 2);
}

// The scheduling rule with a fake estimator: items of known sizes run on
// more threads than fit, and the sum of those admitted at once never
// exceeds the budget, unless one item alone does, and then it runs alone.
TEST(Memory, TheBatchKeepsItsEstimatedPeakUnderTheBudget) {
    const int64_t budget = 100;
    const std::vector<int64_t> estimate = {40, 40, 40, 10, 150, 30, 30, 30, 60, 5, 5, 5};
    cli::MemoryGate gate(budget);
    std::mutex mutex;
    int64_t inUse = 0;
    int running = 0;
    bool bigRanAlone = true;
    int64_t peakWithOthers = 0;
    int mostAtOnce = 0;
    std::ostringstream out, err;
    cli::Batch batch(out, err, false, 80);
    std::atomic<bool> stop{false};
    const cli::BatchCounts counts = batch.run(
        estimate.size(), 6,
        [&](size_t i, cli::ItemProgress&) {
            if (!gate.acquire(estimate[i], stop))
                return cli::ItemResult{cli::Outcome::Failed, {}, "stopped\n"};
            const cli::MemoryAdmission admission(gate, estimate[i]);
            {
                std::lock_guard<std::mutex> lock(mutex);
                inUse += estimate[i];
                ++running;
                mostAtOnce = std::max(mostAtOnce, running);
                if (estimate[i] > budget && running > 1)
                    bigRanAlone = false;
                if (running > 1)
                    peakWithOthers = std::max(peakWithOthers, inUse);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (estimate[i] > budget && running > 1)
                    bigRanAlone = false;
                inUse -= estimate[i];
                --running;
            }
            return cli::ItemResult{cli::Outcome::Made, std::to_string(i) + "\n", {}};
        },
        stop);
    EXPECT_EQ(counts.made, static_cast<int>(estimate.size()));
    EXPECT_EQ(counts.failed, 0);
    EXPECT_LE(peakWithOthers, budget);
    EXPECT_TRUE(bigRanAlone);
    // More than one at a time when they fit: the rule limits, it does not
    // serialise.
    EXPECT_GE(mostAtOnce, 2);
    EXPECT_EQ(gate.admitted(), 0);
    EXPECT_EQ(gate.peak(), 150);
    // The output keeps the order of the items all the same.
    EXPECT_EQ(out.str(), "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n");
}

// Items are let in in the order they asked: a large one is not passed over
// by small ones that would fit, and a stop frees those that wait.
TEST(Memory, AdmissionIsInTurnAndAStopEndsTheWait) {
    cli::MemoryGate gate(100);
    std::atomic<bool> stop{false};
    ASSERT_TRUE(gate.acquire(60, stop));
    std::atomic<int> order{0};
    std::atomic<int> bigAt{-1}, smallAt{-1};
    std::thread big([&] {
        if (gate.acquire(80, stop)) {
            bigAt = order++;
            gate.release(80);
        }
    });
    // The small one asks once the big one waits. It would fit next to the
    // 60 admitted, but not next to the big one, so the order they finish in
    // is the order they were let in.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread small([&] {
        if (gate.acquire(30, stop)) {
            smallAt = order++;
            gate.release(30);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(order.load(), 0) << "the small one went before the big one";
    gate.release(60);
    big.join();
    small.join();
    EXPECT_EQ(bigAt.load(), 0);
    EXPECT_EQ(smallAt.load(), 1);

    ASSERT_TRUE(gate.acquire(100, stop));
    std::atomic<bool> gaveUp{false};
    std::thread waiting([&] { gaveUp = !gate.acquire(50, stop); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    waiting.join();
    EXPECT_TRUE(gaveUp.load());
    EXPECT_EQ(gate.admitted(), 100);
    gate.release(100);
}

TEST(Frames, NoFrameTakesTheNameOfASheetAMovieOrAnotherMoviesFrame) {
    testmovies::TempDir temp;
    const fs::path out = temp.path() / "out";
    fs::create_directories(out);
    cli::FrameGuard guard;
    guard.protect((out / "x-01-00h00m01.000s.jpg").string(), "the sheet of x.avi");
    guard.protect((temp.path() / "m.avi").string(), "the movie m.avi");
    // Spelt another way, through a link to the folder: the same place.
    fs::create_directory_symlink(out, temp.path() / "alias");
    std::string why = guard.claim((temp.path() / "alias" / "x-01-00h00m01.000s.jpg").string(),
                                  "x-01-00h00m01.000s.avi");
    EXPECT_NE(why.find("the sheet of x.avi"), std::string::npos) << why;
    why = guard.claim((temp.path() / "." / "m.avi").string(), "n.avi");
    EXPECT_NE(why.find("the movie m.avi"), std::string::npos) << why;
    // A name claimed by one movie is refused to another, and free again
    // once the first gives its names back.
    const std::string frame = (out / "c-01-00h00m00.040s.jpg").string();
    EXPECT_EQ(guard.claim(frame, "a.avi"), "");
    EXPECT_EQ(guard.claim(frame, "a.avi"), "");
    why = guard.claim(frame, "b.avi");
    EXPECT_NE(why.find("a frame of a.avi"), std::string::npos) << why;
    guard.release("a.avi");
    EXPECT_EQ(guard.claim(frame, "b.avi"), "");
}

} // namespace
