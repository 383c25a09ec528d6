// The command line never loses a file: not a settings file pointed at by
// mistake, not a sheet of another run or of the same run, not a link, and it
// says what went wrong in words that name the culprit.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "cli/targets.h"
#include "platform/fs/atomic_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// Compares a file's bytes without printing a whole picture when they differ.
testing::AssertionResult fileHolds(const fs::path& p, const std::string& expected) {
    const std::string got = readAll(p);
    if (got == expected)
        return testing::AssertionSuccess();
    std::string shown = got.substr(0, 24);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            c = '.';
    return testing::AssertionFailure()
           << p << " holds " << got.size() << " bytes beginning \"" << shown << "\"";
}

testing::AssertionResult fileBegins(const fs::path& p, const std::string& prefix) {
    const std::string got = readAll(p);
    return fileHolds(p, prefix + got.substr(std::min(prefix.size(), got.size())));
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool hasTemporaryFiles(const fs::path& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().filename().string().find(".stillwick-") != std::string::npos)
            return true;
    return false;
}

// Points the process's standard output at a file for the lifetime of the
// object, the way a shell's `> file` does.
class StdoutToFile {
public:
    explicit StdoutToFile(const fs::path& file) {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~StdoutToFile() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    StdoutToFile(const StdoutToFile&) = delete;
    StdoutToFile& operator=(const StdoutToFile&) = delete;

private:
    int saved_ = -1;
};

class CommandLineFiles : public ::testing::Test {
protected:
    void SetUp() override { optionsFile = (dir / "options.swk").string(); }
    void TearDown() override { AtomicFile::testing() = {}; }

    std::string makeMovie(const std::string& name, const std::string& container = "") {
        testmovies::MovieSpec spec;
        spec.path = (dir / name).string();
        spec.container = container;
        spec.width = 64;
        spec.height = 48;
        spec.frames = 10;
        std::string error;
        EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
        return spec.path;
    }
    // A small sheet, so each run is quick.
    int run(std::vector<std::string> args, bool withOptions = true) {
        std::vector<std::string> all{"stillwick-cli"};
        if (withOptions)
            all.insert(all.end(), {"--options", optionsFile});
        all.insert(all.end(), {"--columns", "2", "--rows", "1"});
        all.insert(all.end(), args.begin(), args.end());
        std::vector<const char*> argv;
        for (const std::string& a : all)
            argv.push_back(a.c_str());
        std::ostringstream o, e;
        const int code = cli::run(static_cast<int>(argv.size()), argv.data(), o, e, false);
        out = o.str();
        err = e.str();
        return code;
    }

    testmovies::TempDir temp;
    const fs::path dir = temp.path();
    std::string optionsFile;
    std::string out;
    std::string err;
};

TEST_F(CommandLineFiles, AnOptionsFileThatHoldsNoSettingsIsRefusedAndLeftAsItWas) {
    const std::string movie = makeMovie("movie.avi");
    const fs::path victim = dir / "victim.avi";
    const std::string victimBytes = readAll(movie);
    fs::copy_file(movie, victim);
    const fs::path text = dir / "notes.txt";
    writeAll(text, "shopping list\n");

    for (const fs::path& wrong : {victim, text}) {
        SCOPED_TRACE(wrong.string());
        const fs::path sheet = wrong.string() + ".png";
        EXPECT_EQ(run({"--options", wrong.string(), "-o", sheet.string(), movie}, false), 2);
        EXPECT_NE(err.find(wrong.string()), std::string::npos) << err;
        EXPECT_NE(err.find("not a settings file"), std::string::npos) << err;
        EXPECT_FALSE(fs::exists(sheet));
    }
    EXPECT_TRUE(readAll(victim) == victimBytes) << "the movie was changed";
    EXPECT_TRUE(fileHolds(text, "shopping list\n"));
    EXPECT_FALSE(fs::exists(dir / "victim.avi.bak"));

    // A file that is not there yet is made, as before.
    const fs::path fresh = dir / "fresh.swk";
    EXPECT_EQ(run({"--options", fresh.string(), "--info", movie}, false), 0) << err;
    EXPECT_EQ(fs::file_size(fresh), 128u);
}

// The shared options.swk of the current folder: a foreign file there is
// kept aside and replaced by the defaults, and a second one, met by a later
// run, never takes the place of the first one's bytes.
TEST_F(CommandLineFiles, ASecondForeignSettingsFileIsKeptBesideTheFirst) {
    const std::string movie = makeMovie("movie.avi");
    const fs::path shared = dir / "options.swk";
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    std::vector<std::string> warnings;
    for (const std::string& foreign :
         {std::string("a shopping list\n"), std::string("RIFF\0\0\0\0AVI ", 12)}) {
        writeAll(shared, foreign);
        EXPECT_EQ(run({"--info", movie}, false), 0) << err;
        warnings.push_back(err);
    }
    fs::current_path(old);
    EXPECT_TRUE(fileHolds(dir / "options.swk.bak", "a shopping list\n"));
    EXPECT_TRUE(fileHolds(dir / "options.swk.bak.1", std::string("RIFF\0\0\0\0AVI ", 12)));
    EXPECT_EQ(fs::file_size(shared), 128u);
    // Each warning names the file the bytes were kept as.
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("kept as " + (dir / "options.swk.bak").string() + " "),
              std::string::npos)
        << warnings[0];
    EXPECT_NE(warnings[1].find("kept as " + (dir / "options.swk.bak.1").string() + " "),
              std::string::npos)
        << warnings[1];
}

// A grid without a column or a row would be a sheet of background only.
TEST_F(CommandLineFiles, AGridOfNoColumnsOrRowsIsAUsageErrorAndMakesNothing) {
    const std::string movie = makeMovie("movie.avi");
    for (const char* option : {"--columns", "--rows"}) {
        std::vector<std::string> argv{"stillwick-cli", "--options", optionsFile,
                                      option,          "0",         movie};
        std::vector<const char*> raw;
        for (const std::string& a : argv)
            raw.push_back(a.c_str());
        std::ostringstream o, e;
        EXPECT_EQ(cli::run(static_cast<int>(raw.size()), raw.data(), o, e, false), 2) << option;
        EXPECT_NE(e.str().find(option), std::string::npos) << e.str();
        EXPECT_FALSE(fs::exists(dir / "movie.jpg"));
    }
}

TEST_F(CommandLineFiles, ASheetThatAppearsWhileItIsMadeIsKept) {
    const std::string movie = makeMovie("movie.avi");
    const fs::path sheet = dir / "movie.jpg";
    // Another run finishes the same sheet after this run's check and before
    // its own sheet is in place.
    static fs::path appearing;
    appearing = sheet;
    AtomicFile::testing().beforeMove = [](const std::string& finalPath) {
        if (finalPath == appearing.string())
            writeAll(appearing, "the other run's sheet");
    };
    EXPECT_EQ(run({movie}), 1) << err;
    EXPECT_TRUE(fileHolds(sheet, "the other run's sheet"));
    EXPECT_NE(err.find(sheet.string()), std::string::npos) << err;
    EXPECT_NE(err.find("-y"), std::string::npos) << err;
    EXPECT_EQ(out, "");
    EXPECT_FALSE(hasTemporaryFiles(dir));

    // With -y the newcomer is replaced, as asked.
    AtomicFile::testing() = {};
    EXPECT_EQ(run({"-y", movie}), 0) << err;
    EXPECT_TRUE(fileBegins(sheet, "\xFF\xD8"));
}

TEST_F(CommandLineFiles, TwoMoviesWithOneSheetNameAreCaughtBeforeAnyWork) {
    const std::string first = makeMovie("a.avi");
    // Never made: were it looked at, the complaint would be that it cannot be
    // read rather than that its sheet is taken.
    const std::string second = (dir / "a.mp4").string();
    EXPECT_EQ(run({"-y", first, second}), 1);
    EXPECT_EQ(out, (dir / "a.jpg").string() + "\n");
    EXPECT_TRUE(startsWith(err, second + ": ")) << err;
    EXPECT_NE(err.find(first), std::string::npos) << err;
    EXPECT_NE(err.find((dir / "a.jpg").string()), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;

    // The same movie twice, or a sheet that would land on a movie of the run.
    EXPECT_EQ(run({"-y", first, (dir / "." / "a.avi").string()}), 1);
    EXPECT_NE(err.find("a.jpg"), std::string::npos) << err;
    const std::string sheetNamedMovie = makeMovie("b.jpg", "avi");
    const std::string bytes = readAll(sheetNamedMovie);
    const std::string b = makeMovie("b.avi");
    EXPECT_EQ(run({"-y", sheetNamedMovie, b}), 1);
    EXPECT_TRUE(readAll(sheetNamedMovie) == bytes) << "the movie was changed";
}

TEST_F(CommandLineFiles, SheetsAreTheSameWhenTheirNamesLeadToTheSameFile) {
    fs::create_directory(dir / "x");
    fs::create_directory_symlink("x", dir / "alias");
    writeAll(dir / "x" / "kept.jpg", "sheet");
    fs::create_hard_link(dir / "x" / "kept.jpg", dir / "x" / "other.jpg");
    const std::vector<std::string> movies = {
        (dir / "x" / "a.avi").string(),         // x/a.jpg
        (dir / "alias" / "a.mkv").string(),     // the same file through a linked folder
        (dir / "x" / "kept.avi").string(),      // x/kept.jpg
        (dir / "x" / "other.mp4").string(),     // x/other.jpg: a hard link of kept.jpg
        (dir / "x" / "sub" / "b.avi").string(), // a folder that is not there yet
        (dir / "x" / "sub" / ".." / "sub" / "b.mov").string(),
        (dir / "x" / "A.avi").string(), // another name on this file system
    };
    // Through the program: the movies are not there, so those that are not
    // refused fail for that; the refused ones name the earlier movie.
    std::vector<std::string> args{"-y"};
    args.insert(args.end(), movies.begin(), movies.end());
    EXPECT_EQ(run(args), 1);
    const auto lineOf = [&](const std::string& movie) {
        std::istringstream lines(err);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(movie + ": ", 0) == 0)
                return line;
        return std::string();
    };
    const std::vector<int> earlier = {-1, 0, -1, 2, -1, 4, -1};
    for (size_t i = 0; i < movies.size(); ++i) {
        const std::string line = lineOf(movies[i]);
        ASSERT_FALSE(line.empty()) << movies[i] << "\n" << err;
        const bool refused = line.find("would also be the sheet of") != std::string::npos;
        EXPECT_EQ(refused, earlier[i] >= 0) << line;
        if (earlier[i] >= 0) {
            EXPECT_NE(line.find(movies[static_cast<size_t>(earlier[i])]), std::string::npos)
                << line;
        }
    }

    // With --info nothing is written, so nothing collides.
    std::vector<std::string> info{"--info"};
    info.insert(info.end(), movies.begin(), movies.end());
    run(info);
    EXPECT_EQ(err.find("would also be"), std::string::npos) << err;
}

TEST_F(CommandLineFiles, AMovieWithTheLongestNameMakesItsSheet) {
    // 251 characters and ".avi": as long as a name may be here, and so is
    // its sheet's.
    const std::string movie = makeMovie(std::string(251, 'm') + ".avi");
    EXPECT_EQ(run({movie}), 0) << err;
    EXPECT_TRUE(fs::exists(dir / (std::string(251, 'm') + ".jpg")));
    EXPECT_FALSE(hasTemporaryFiles(dir));
}

TEST_F(CommandLineFiles, ASheetOnStandardOutputIsAllThatGoesThere) {
    const std::string movie = makeMovie("movie.avi");
    const fs::path captured = dir / "captured";
    for (const std::string& target : {std::string("-"), std::string("/dev/stdout")}) {
        SCOPED_TRACE(target);
        int code = 0;
        struct stat before {};
        {
            StdoutToFile redirect(captured);
            ::stat(captured.c_str(), &before);
            code = run({"-o", target, movie});
        }
        EXPECT_EQ(code, 0) << err;
        EXPECT_EQ(out, "");
        // The file the shell opened is the one written, not replaced by another.
        struct stat after {};
        ASSERT_EQ(::stat(captured.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        const std::string bytes = readAll(captured);
        ASSERT_GT(bytes.size(), 8u);
        if (target == "-") {
            EXPECT_TRUE(fileBegins(captured, "\x89PNG\r\n\x1A\n")); // PNG unless told otherwise
        }
        EXPECT_EQ(bytes.find("/dev/stdout"), std::string::npos);
    }
}

TEST_F(CommandLineFiles, ALinkAsTheSheetIsWrittenThroughAndStaysALink) {
    const std::string movie = makeMovie("movie.avi");
    fs::create_directory(dir / "sheets");
    const fs::path link = dir / "sheet.jpg";
    fs::create_symlink("sheets/real.jpg", link); // dangling until the sheet is made
    EXPECT_EQ(run({"-o", link.string(), movie}), 0) << err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fileBegins(dir / "sheets" / "real.jpg", "\xFF\xD8"));

    // Now the link points at a sheet: without -y it is refused, with -y the
    // sheet it points at is replaced and the link stays.
    writeAll(dir / "sheets" / "real.jpg", "old");
    EXPECT_EQ(run({"-o", link.string(), movie}), 1);
    EXPECT_TRUE(fileHolds(dir / "sheets" / "real.jpg", "old"));
    EXPECT_EQ(run({"-y", "-o", link.string(), movie}), 0) << err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fileBegins(dir / "sheets" / "real.jpg", "\xFF\xD8"));
    EXPECT_FALSE(hasTemporaryFiles(dir));
}

TEST_F(CommandLineFiles, MessagesNameTheSettingsFileTheFieldAndTheWayOut) {
    // An impossible value in the settings file.
    std::string bytes("STWK\1\1\0\0", 8);
    // spacings, frame box, columns, rows; the rest zero
    for (const int32_t v : {10, 10, 156, 117, -3, 5})
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>(static_cast<uint32_t>(v) >> (8 * i));
    bytes.resize(128, '\0');
    writeAll(optionsFile, bytes);
    const std::string movie = makeMovie("movie.avi");
    std::vector<std::string> argv{"stillwick-cli", "--options", optionsFile, movie};
    std::vector<const char*> raw;
    for (const std::string& a : argv)
        raw.push_back(a.c_str());
    std::ostringstream o, e;
    EXPECT_EQ(cli::run(static_cast<int>(raw.size()), raw.data(), o, e, false), 1);
    EXPECT_NE(e.str().find(optionsFile), std::string::npos) << e.str();
    EXPECT_NE(e.str().find("columns"), std::string::npos) << e.str();
    EXPECT_NE(e.str().find("-3"), std::string::npos) << e.str();
    EXPECT_FALSE(fs::exists(dir / "movie.jpg"));

    // A negative count on the command line: a short answer, not a range of
    // the largest double.
    EXPECT_EQ(run({"--columns", "-1", movie}), 2);
    EXPECT_NE(err.find("--columns"), std::string::npos) << err;
    EXPECT_LT(err.size(), 160u) << err;

    // A movie whose name looks like an option.
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    fs::copy_file(movie, dir / "-y.avi");
    const int code = run({"-y.avi"});
    fs::current_path(old);
    EXPECT_EQ(code, 2);
    EXPECT_NE(err.find("use -- before names that start with -"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "-y.jpg"));
}

} // namespace
