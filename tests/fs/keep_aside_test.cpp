// Moving files aside and into place without replacing anything, on every
// path the file system may force on the move.

#include "platform/fs/keep_aside.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "platform/fs/atomic_file.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

struct Way {
    const char* name;
    bool noRenameNoReplace;
    bool noHardLinks;
};

class KeepAside : public ::testing::TestWithParam<Way> {
protected:
    void SetUp() override {
        AtomicFile::testing().noRenameNoReplace = GetParam().noRenameNoReplace;
        AtomicFile::testing().noHardLinks = GetParam().noHardLinks;
    }
    void TearDown() override { AtomicFile::testing() = {}; }
    testmovies::TempDir temp;
    const fs::path dir = temp.path();
};

TEST_P(KeepAside, EachFileGetsTheFirstFreeNameAndNoneIsReplaced) {
    const fs::path file = dir / "options.swk";
    const std::vector<std::string> contents = {"first", "second", "third"};
    // A folder in the way is passed over like a file.
    fs::create_directories(dir / "options.swk.bak.1" / "x");
    const std::vector<std::string> expected = {"options.swk.bak", "options.swk.bak.2",
                                               "options.swk.bak.3"};
    for (size_t i = 0; i < contents.size(); ++i) {
        writeAll(file, contents[i]);
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
        const files::KeptAside kept = files::keepAside(file.string());
        EXPECT_EQ(kept.error, 0);
        EXPECT_EQ(kept.path, (dir / expected[i]).string());
        EXPECT_FALSE(fs::exists(file));
    }
    for (size_t i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(readAll(dir / expected[i]), contents[i]) << expected[i];
        // The permissions travel with the file.
        EXPECT_EQ(fs::status(dir / expected[i]).permissions(),
                  fs::perms::owner_read | fs::perms::group_read);
    }
    EXPECT_TRUE(fs::is_directory(dir / "options.swk.bak.1" / "x"));
}

TEST_P(KeepAside, AMoveOntoATakenNameChangesNothing) {
    const fs::path from = dir / ".frame-staged";
    const fs::path to = dir / "clip-01.jpg";
    writeAll(from, "new");
    writeAll(to, "old");
    EXPECT_EQ(files::renameWithoutReplacing(from.string(), to.string()), EEXIST);
    EXPECT_EQ(readAll(from), "new");
    EXPECT_EQ(readAll(to), "old");
    // A dangling link is a name taken too.
    fs::create_symlink("nowhere", dir / "link.jpg");
    EXPECT_EQ(files::renameWithoutReplacing(from.string(), (dir / "link.jpg").string()), EEXIST);
    EXPECT_TRUE(fs::is_symlink(dir / "link.jpg"));

    fs::remove(to);
    EXPECT_EQ(files::renameWithoutReplacing(from.string(), to.string()), 0);
    EXPECT_EQ(readAll(to), "new");
    EXPECT_FALSE(fs::exists(from));
    // Nothing to move: the reason, and no file made.
    EXPECT_EQ(files::renameWithoutReplacing(from.string(), (dir / "other").string()), ENOENT);
    EXPECT_FALSE(fs::exists(dir / "other"));
}

INSTANTIATE_TEST_SUITE_P(EveryWay, KeepAside,
                         ::testing::Values(Way{"RenameNoReplace", false, false},
                                           Way{"HardLink", true, false},
                                           Way{"ExclusiveCopy", true, true}),
                         [](const ::testing::TestParamInfo<Way>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
