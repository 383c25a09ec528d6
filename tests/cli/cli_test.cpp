#include "cli/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <vector>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result runCli(std::initializer_list<std::string> arguments) {
    std::vector<std::string> storage{"stillwick-cli"};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<const char*> argv;
    for (const std::string& a : storage)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    int code = cli::run(static_cast<int>(argv.size()), argv.data(), out, err, false);
    return {code, out.str(), err.str()};
}

class CommandLine : public ::testing::Test {
protected:
    testmovies::TempDir temp;
    const fs::path dir = temp.path();
    const std::string optionsFile = (dir / "options.swk").string();
};

TEST_F(CommandLine, HelpAndVersionSucceed) {
    Result help = runCli({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--frame-size"), std::string::npos);
    Result version = runCli({"-V"});
    EXPECT_EQ(version.code, 0);
    EXPECT_NE(version.out.find("stillwick-cli 1."), std::string::npos) << version.out;
}

TEST_F(CommandLine, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--options", optionsFile, "-o", "x.jpg", "a.avi", "b.avi"},
        {"--frame-size", "156", "a.avi"},
        {"--frame-size", "0x117", "a.avi"},
        {"--spacing", "-3", "a.avi"},
        {"--spacing", "3,", "a.avi"},
        {"--frame-size", "1x", "a.avi"},
        {"--frame-size", "1234567x2", "a.avi"},
        {"--background", "12345", "a.avi"},
        {"--background", "blue", "a.avi"},
        {"--quality", "150", "a.avi"},
        {"--columns", "-1", "a.avi"},
        // A grid without a row or a column is a sheet of background only.
        {"--columns", "0", "a.avi"},
        {"--rows", "0", "a.avi"},
        {"--rows", "00", "a.avi"},
        {"--rows", "-2", "a.avi"},
        {"--columns", "3x", "a.avi"},
        {"--memory", "lots", "a.avi"},
        {"--memory", "0", "a.avi"},
        {"--memory", "2Q", "a.avi"},
        {"--header", "middle", "a.avi"},
        {"--no-such-option", "a.avi"},
    };
    for (const auto& args : bad) {
        std::vector<const char*> argv{"stillwick-cli"};
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        std::ostringstream out, err;
        EXPECT_EQ(cli::run(static_cast<int>(argv.size()), argv.data(), out, err, false), 2)
            << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(err.str().empty());
    }
}

TEST_F(CommandLine, OverridesChangeOnlyTheRunAndNeverTheFile) {
    cli::Arguments args;
    const char* argv[] = {"stillwick-cli",
                          "--columns",
                          "3",
                          "--rows",
                          "2",
                          "--frame-size",
                          "200x100",
                          "--spacing",
                          "4,6",
                          "--no-shadow",
                          "--timestamps",
                          "--header",
                          "bottom-right",
                          "--background",
                          "102030",
                          "--quality",
                          "55",
                          "--no-progressive",
                          "m.avi"};
    std::ostringstream out, err;
    ASSERT_EQ(cli::parseArguments(static_cast<int>(std::size(argv)), argv, args, out, err),
              std::nullopt)
        << err.str();
    Options o = Options::defaults();
    args.overrides.applyTo(o);
    EXPECT_EQ(o.columns, 3);
    EXPECT_EQ(o.rows, 2);
    EXPECT_EQ(o.frameWidth, 200);
    EXPECT_EQ(o.frameHeight, 100);
    EXPECT_EQ(o.spacingX, 4);
    EXPECT_EQ(o.spacingY, 6);
    EXPECT_EQ(o.shadowEnabled, 0);
    EXPECT_EQ(o.timeStampsEnabled, 1);
    EXPECT_EQ(o.headerEnabled, 1);
    EXPECT_EQ(o.headerPosition, BottomRight);
    EXPECT_EQ(o.backgroundColor, (Rgb{0x10, 0x20, 0x30}));
    EXPECT_EQ(o.jpegQuality, 55);
    EXPECT_EQ(o.jpegProgressive, 0);

    cli::Arguments off;
    const char* argv2[] = {"stillwick-cli", "--header", "off",          "--spacing", "7",
                           "--background",  "#A0b0C0",  "--frame-size", "64X48",     "m.avi"};
    ASSERT_EQ(cli::parseArguments(static_cast<int>(std::size(argv2)), argv2, off, out, err),
              std::nullopt)
        << err.str();
    Options o2 = Options::defaults();
    off.overrides.applyTo(o2);
    EXPECT_EQ(o2.headerEnabled, 0);
    EXPECT_EQ(o2.headerPosition, TopLeft);
    EXPECT_EQ(o2.spacingX, 7);
    EXPECT_EQ(o2.spacingY, 7);
    EXPECT_EQ(o2.backgroundColor, (Rgb{0xA0, 0xB0, 0xC0}));
    EXPECT_EQ(o2.frameWidth, 64);
    EXPECT_EQ(o2.frameHeight, 48);
}

TEST_F(CommandLine, UnreadableMoviesFailWithOneLineEachAndTheOthersGoOn) {
    std::string missing = (dir / "missing.avi").string();
    std::string garbage = (dir / "garbage.avi").string();
    std::ofstream(garbage) << "this is not a movie at all, just some text";
    Result r = runCli({"--options", optionsFile, missing, garbage});
    EXPECT_EQ(r.code, 1);
    std::istringstream lines(r.err);
    std::string first, second, third;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_FALSE(std::getline(lines, third)) << r.err;
    EXPECT_EQ(first.rfind(missing + ": ", 0), 0u) << first;
    EXPECT_EQ(second.rfind(garbage + ": ", 0), 0u) << second;
    EXPECT_TRUE(fs::exists(optionsFile)); // created as the desktop program does
}

} // namespace
