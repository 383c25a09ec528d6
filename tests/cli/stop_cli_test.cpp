// The command line stopped by a signal while it works on a long movie, and
// given a pipe as a movie: it ends with the shell's status for the signal,
// leaves nothing in the movie's folder, and never waits on a pipe.
//
// The program runs as a process of its own. Every wait here has a deadline
// after which the test kills the program and fails, so no fault can hang it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/fifo.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// stillwick-cli as a child process, its output in files of a folder apart.
class Cli {
public:
    // `closedOutput`: the standard output is a pipe nobody reads, as after
    // `| head -1` has had its line.
    Cli(const testmovies::TempDir& logs, std::vector<std::string> args, bool closedOutput = false) {
        const char* program = std::getenv("STILLWICK_CLI");
        std::vector<std::string> all{program ? program : STILLWICK_CLI, "--options",
                                     logs.file("options.swk")};
        all.insert(all.end(), args.begin(), args.end());
        errPath_ = logs.file("err");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        int pipeEnds[2] = {-1, -1};
        if (closedOutput && ::pipe2(pipeEnds, O_CLOEXEC) == 0)
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, logs.file("out").c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        // The reading end goes at once: the child never had it.
        for (const int end : pipeEnds)
            if (end >= 0)
                ::close(end);
    }
    ~Cli() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Cli(const Cli&) = delete;
    Cli& operator=(const Cli&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Whether the program holds `file` open now.
    bool holds(const std::string& file) const {
        std::error_code ec;
        const fs::path wanted = fs::canonical(file, ec);
        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec)) {
            std::error_code linkError;
            if (fs::read_symlink(fd.path(), linkError) == wanted)
                return true;
        }
        return false;
    }
    // Waits until `ready` holds; false when the program ended first or it
    // did not within the deadline.
    template <class Condition> bool waitUntil(Condition ready) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (ready())
                return true;
            if (ended())
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }
    // Waits until the program opens `file`; false when it ended first or
    // did not within the deadline.
    bool waitUntilItOpens(const std::string& file) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (holds(file))
                return true;
            if (ended())
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }
    // The exit status, or -1 when the program was ended by a signal or
    // did not end within the deadline (it is then killed).
    int exitCode() {
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        while (!ended() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        if (!reaped_)
            return -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    std::string err() const { return slurp(errPath_); }

private:
    bool ended() {
        if (reaped_)
            return true;
        if (::waitpid(pid_, &status_, WNOHANG) == pid_)
            reaped_ = true;
        return reaped_;
    }

    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    std::string errPath_;
};

// A long MPEG-1 elementary stream in a folder of its own: it states no
// length, so the program reads all of it to learn it, and a sheet of many
// moments takes seconds to make from it.
class Interrupted : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        testmovies::MovieSpec spec;
        spec.path = logs.file("piece.m1v");
        spec.width = 640;
        spec.height = 360;
        spec.frames = 250;
        spec.noise = 24;
        ASSERT_EQ(testmovies::make(spec, nullptr), 0);
        const std::string piece = slurp(spec.path);
        movie = movies.file("long.m1v");
        std::ofstream out(movie, std::ios::binary);
        for (int i = 0; i < 3; ++i)
            out << piece;
    }
    testmovies::TempDir movies;
    testmovies::TempDir logs;
    std::string movie;
};

TEST_P(Interrupted, TheProgramEndsWithTheSignalsStatusAndLeavesNothing) {
    const int signal = GetParam();
    Cli cli(logs, {"-y", "--columns", "10", "--rows", "30", movie});
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.waitUntilItOpens(movie)) << cli.err();
    ASSERT_EQ(::kill(cli.pid(), signal), 0);
    EXPECT_EQ(cli.exitCode(), 128 + signal) << cli.err();
    EXPECT_NE(cli.err().find("stillwick-cli: interrupted"), std::string::npos) << cli.err();
    // No sheet, whole or in part, beside the movie.
    EXPECT_EQ(fs::path(movie).parent_path(), movies.path());
    EXPECT_EQ(movies.entries(), std::vector<std::string>{"long.m1v"});
}

// Frames come into a hidden folder of the frames folder as the moments are
// done; a stop then takes them all back.
TEST_P(Interrupted, FramesAlreadyWrittenAreTakenBack) {
    const int signal = GetParam();
    testmovies::TempDir frames;
    Cli cli(logs, {"-y", "--columns", "10", "--rows", "30", "--frames-dir", frames.path().string(),
                   movie});
    ASSERT_TRUE(cli.started());
    // Wait for the first frame, written where the walk of a folder does not look.
    const auto frameWritten = [&] {
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(frames.path(), ec))
            if (e.is_regular_file(ec) && e.path().extension() == ".jpg")
                return true;
        return false;
    };
    ASSERT_TRUE(cli.waitUntil(frameWritten)) << cli.err();
    ASSERT_EQ(::kill(cli.pid(), signal), 0);
    EXPECT_EQ(cli.exitCode(), 128 + signal) << cli.err();
    EXPECT_EQ(frames.entries(), std::vector<std::string>{});
    EXPECT_EQ(movies.entries(), std::vector<std::string>{"long.m1v"});
}

// Sprites of the previews are written as they fill, into a hidden folder of
// the previews folder; a stop takes them back, and no track is left.
TEST_P(Interrupted, PreviewsAlreadyWrittenAreTakenBack) {
    const int signal = GetParam();
    testmovies::TempDir web;
    Cli cli(logs, {"-y", "--previews", web.path().string(), "--interval", "0.1", "--preview-grid",
                   "2x2", movie});
    ASSERT_TRUE(cli.started());
    const auto spriteWritten = [&] {
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(web.path(), ec))
            if (e.is_regular_file(ec) && e.path().extension() == ".jpg")
                return true;
        return false;
    };
    ASSERT_TRUE(cli.waitUntil(spriteWritten)) << cli.err();
    ASSERT_EQ(::kill(cli.pid(), signal), 0);
    EXPECT_EQ(cli.exitCode(), 128 + signal) << cli.err();
    EXPECT_EQ(web.entries(), std::vector<std::string>{});
    EXPECT_EQ(movies.entries(), std::vector<std::string>{"long.m1v"});
}

std::string signalName(const ::testing::TestParamInfo<int>& info) {
    switch (info.param) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGPIPE:
        return "SIGPIPE";
    default:
        return "signal" + std::to_string(info.param);
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted, ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGPIPE),
                         signalName);

// Writing to a standard output nobody reads (`… | head -1` once head has
// its line) stops the run as SIGPIPE would, without the signal ending the
// process before the movies in work have taken back their files: a short
// movie's sheet is made and its line cannot be written, so the long movie
// in work beside it stops and leaves nothing.
TEST_F(Interrupted, AClosedStandardOutputStopsTheRunAndLeavesNothingHalfMade) {
    // The long movie must still be in work when the short one's line is
    // written, on a loaded machine and under the sanitizers too: four times
    // the usual length.
    const std::string piece = slurp(movie);
    {
        std::ofstream more(movie, std::ios::binary | std::ios::app);
        for (int i = 0; i < 3; ++i)
            more << piece;
    }
    testmovies::MovieSpec spec;
    spec.path = movies.file("short.avi");
    spec.frames = 10;
    ASSERT_EQ(testmovies::make(spec, nullptr), 0);
    Cli cli(logs, {"-y", "-j", "2", "--columns", "10", "--rows", "30", spec.path, movie}, true);
    ASSERT_TRUE(cli.started());
    EXPECT_EQ(cli.exitCode(), 128 + SIGPIPE) << cli.err();
    EXPECT_NE(cli.err().find("stillwick-cli: interrupted: the standard output was closed"),
              std::string::npos)
        << cli.err();
    auto entries = movies.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"long.m1v", "short.avi", "short.jpg"}));
}

TEST(PipeAsMovie, RefusedWithItsNameNeverWaitedOn) {
    testmovies::TempDir dir;
    testmovies::TempDir logs;
    testmovies::Fifo fifo(dir.file("movie.mkv"));
    ASSERT_TRUE(fifo.made());
    {
        Cli cli(logs, {fifo.path()});
        ASSERT_TRUE(cli.started());
        EXPECT_EQ(cli.exitCode(), 1);
        EXPECT_NE(cli.err().find(fifo.path() + ": This is not a regular file"), std::string::npos)
            << cli.err();
    }
    {
        Cli cli(logs, {"--info", "--json", fifo.path()});
        ASSERT_TRUE(cli.started());
        EXPECT_EQ(cli.exitCode(), 1);
        const std::string out = slurp(logs.file("out"));
        EXPECT_NE(out.find("\"error\""), std::string::npos) << out;
        EXPECT_NE(out.find("not a regular file"), std::string::npos) << out;
    }
    EXPECT_EQ(fifo.rescues(), 0);

    // In a folder a pipe is no movie: passed over, and the movie beside it
    // still gets its sheet.
    testmovies::MovieSpec spec;
    spec.path = dir.file("clip.avi");
    ASSERT_EQ(testmovies::make(spec, nullptr), 0);
    Cli cli(logs, {"-q", dir.path().string()});
    ASSERT_TRUE(cli.started());
    EXPECT_EQ(cli.exitCode(), 0) << cli.err();
    auto entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"clip.avi", "clip.jpg", "movie.mkv"}));
    EXPECT_EQ(fifo.rescues(), 0);
}

} // namespace
