// The command line on real movies, made by the test at run time.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace fs = std::filesystem;

namespace {

class CommandLineMovies : public ::testing::Test {
protected:
    void SetUp() override {
        testmovies::MovieSpec spec;
        spec.path = (dir / "Clip One.avi").string();
        std::string error;
        ASSERT_EQ(testmovies::make(spec, &error), 0) << error;
        movie = spec.path;
        optionsFile = (dir / "options.swk").string();
    }
    int run(std::vector<std::string> args) {
        std::vector<const char*> argv{"stillwick-cli", "--options", optionsFile.c_str()};
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        std::ostringstream o, e;
        int code = cli::run(static_cast<int>(argv.size()), argv.data(), o, e, false);
        out = o.str();
        err = e.str();
        return code;
    }

    testmovies::TempDir temp;
    const fs::path dir = temp.path();
    std::string movie;
    std::string optionsFile;
    std::string out;
    std::string err;
};

TEST_F(CommandLineMovies, MakesTheSheetBesideTheMovieAndRefusesToOverwrite) {
    ASSERT_EQ(run({movie}), 0) << err;
    const fs::path sheet = dir / "Clip One.jpg";
    EXPECT_TRUE(fs::exists(sheet));
    EXPECT_EQ(out, sheet.string() + "\n");

    const auto written = fs::last_write_time(sheet);
    EXPECT_EQ(run({movie}), 1);
    EXPECT_NE(err.find(sheet.string()), std::string::npos) << err;
    EXPECT_NE(err.find("exists"), std::string::npos) << err;
    EXPECT_EQ(fs::last_write_time(sheet), written);

    EXPECT_EQ(run({"-y", "-q", movie}), 0) << err;
    EXPECT_TRUE(out.empty());
}

TEST_F(CommandLineMovies, OutputFormatAndOverridesForThisRunOnly) {
    ASSERT_EQ(run({"-o", (dir / "grid.png").string(), "--columns", "2", "--rows", "1", "--header",
                   "off", movie}),
              0)
        << err;
    std::ifstream png(dir / "grid.png", std::ios::binary);
    char magic[4] = {};
    png.read(magic, 4);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    // The settings file still holds the defaults.
    Options saved(optionsFile);
    EXPECT_EQ(saved.columns, 5);
    EXPECT_EQ(saved.headerEnabled, 1);
}

TEST_F(CommandLineMovies, InfoPrintsTheFourLinesAndMakesNoSheet) {
    ASSERT_EQ(run({"--info", movie}), 0) << err;
    EXPECT_EQ(out.rfind("File Name\t: Clip One.avi\nAverage FPS\t: 25.00\nResolution\t: "
                        "176x144\nDuration\t: 00:00:02",
                        0),
              0u)
        << out;
    EXPECT_FALSE(fs::exists(dir / "Clip One.jpg"));
}

TEST_F(CommandLineMovies, OneFailureDoesNotStopTheOthers) {
    const std::string missing = (dir / "gone.avi").string();
    EXPECT_EQ(run({missing, movie}), 1);
    EXPECT_TRUE(fs::exists(dir / "Clip One.jpg"));
    EXPECT_EQ(err.rfind(missing + ": ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST_F(CommandLineMovies, NeverWritesOverTheMovie) {
    EXPECT_EQ(run({"-y", "-o", movie, movie}), 1);
    EXPECT_NE(err.find("replace the movie"), std::string::npos) << err;
    EXPECT_GT(fs::file_size(movie), 1000u);
}

} // namespace
