#include "platform/fs/atomic_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/fs/target_path.h"
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

// Writes `bytes` through an AtomicFile; the error text, empty on success.
std::string save(const std::string& target, const std::string& bytes,
                 AtomicFile::Mode mode = AtomicFile::Mode::Replace, bool* existed = nullptr) {
    AtomicFile file;
    const bool ok =
        file.open(target, mode) && file.write(bytes.data(), bytes.size()) && file.commit();
    if (existed)
        *existed = file.targetExists();
    return ok ? std::string() : file.error().empty() ? "failed without a reason" : file.error();
}

bool isRoot() {
    return ::geteuid() == 0;
}

ino_t inodeOf(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class SafeWrites : public ::testing::Test {
protected:
    void SetUp() override {
        // Temporary files of the in-place fall-back land here, where the
        // test can see them.
        const char* old = std::getenv("TMPDIR");
        savedTmpdir_ = old ? old : "";
        hadTmpdir_ = old != nullptr;
        fs::create_directory(dir / "tmp");
        ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    }
    void TearDown() override {
        AtomicFile::testing() = {};
        if (hadTmpdir_)
            ::setenv("TMPDIR", savedTmpdir_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(dir, ec))
            if (!e.is_symlink(ec) && e.is_directory(ec))
                fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    // Every file below the test folder whose name marks it as temporary.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().filename().string().find(".stillwick-") != std::string::npos)
                names.push_back(e.path().string());
        return names;
    }

    testmovies::TempDir temp;
    const fs::path dir = temp.path();

private:
    std::string savedTmpdir_;
    bool hadTmpdir_ = false;
};

// The path a hook should make appear, and what it puts there.
fs::path g_appearing;
void makeTheTargetAppear(const std::string& finalPath) {
    if (finalPath == g_appearing.string())
        writeAll(g_appearing, "newcomer");
}

TEST_F(SafeWrites, CreateNewNeverReplacesAFileThatAppearsBeforeTheMoveWhicheverWayItMoves) {
    struct Way {
        const char* name;
        bool noRenameNoReplace;
        bool noHardLinks;
    };
    for (const Way way : {Way{"rename without replace", false, false},
                          Way{"hard link", true, false}, Way{"exclusive create", true, true}}) {
        SCOPED_TRACE(way.name);
        AtomicFile::testing().noRenameNoReplace = way.noRenameNoReplace;
        AtomicFile::testing().noHardLinks = way.noHardLinks;
        const fs::path target = dir / (std::string(way.name) + ".jpg");

        // Nobody else: the file is made, complete, with the usual permissions.
        AtomicFile::testing().beforeMove = nullptr;
        EXPECT_EQ(save(target.string(), "first", AtomicFile::Mode::CreateNew), "");
        EXPECT_EQ(readAll(target), "first");
        const mode_t mask = ::umask(0);
        ::umask(mask);
        EXPECT_EQ(modeOf(target), 0666u & ~mask);
        fs::remove(target);

        // Another writer is quicker.
        g_appearing = target;
        AtomicFile::testing().beforeMove = makeTheTargetAppear;
        bool existed = false;
        const std::string error =
            save(target.string(), "mine", AtomicFile::Mode::CreateNew, &existed);
        EXPECT_NE(error.find(target.string()), std::string::npos) << error;
        EXPECT_TRUE(existed);
        EXPECT_EQ(readAll(target), "newcomer");

        // Replace mode replaces the newcomer, as asked.
        EXPECT_EQ(save(target.string(), "mine"), "");
        EXPECT_EQ(readAll(target), "mine");
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(SafeWrites, CreateNewRefusesAnExistingFileBeforeWritingAnything) {
    const fs::path target = dir / "sheet.png";
    writeAll(target, "old");
    AtomicFile file;
    EXPECT_FALSE(file.open(target.string(), AtomicFile::Mode::CreateNew));
    EXPECT_TRUE(file.targetExists());
    EXPECT_EQ(file.stream(), nullptr);
    EXPECT_EQ(readAll(target), "old");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(SafeWrites, ReplacingKeepsTheOldPermissions) {
    const fs::path target = dir / "sheet.bmp";
    writeAll(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(save(target.string(), "new"), "");
    EXPECT_EQ(readAll(target), "new");
    EXPECT_EQ(modeOf(target), 0640u);
}

TEST_F(SafeWrites, TheLongestNamesAreWrittenAndTheirTemporaryNamesFitTheFolder) {
    // 255 bytes: ASCII, and two-byte characters with one ASCII byte, so that
    // the temporary name must be cut short of a character boundary.
    const std::string ascii = std::string(251, 's') + ".jpg";
    std::string accented;
    for (int i = 0; i < 125; ++i)
        accented += "\xC3\xA9"; // é
    accented += "x.png";
    ASSERT_EQ(ascii.size(), 255u);
    ASSERT_EQ(accented.size(), 255u);

    static std::vector<std::string> seen;
    seen.clear();
    AtomicFile::testing().beforeMove = [](const std::string& finalPath) {
        for (const auto& e : fs::directory_iterator(files::folderOf(finalPath)))
            if (e.path().filename().string().find(".stillwick-") != std::string::npos)
                seen.push_back(e.path().filename().string());
    };
    for (const std::string& name : {ascii, accented}) {
        SCOPED_TRACE(name.substr(0, 8));
        const fs::path target = dir / name;
        EXPECT_EQ(save(target.string(), "one", AtomicFile::Mode::CreateNew), "");
        EXPECT_EQ(save(target.string(), "two"), "");
        EXPECT_EQ(readAll(target), "two");
    }
    ASSERT_EQ(seen.size(), 4u);
    for (const std::string& name : seen) {
        EXPECT_LE(name.size(), 255u);
        // The cut never splits a character: the stem ends in a whole one.
        const size_t marker = name.find(".stillwick-");
        const unsigned char last = static_cast<unsigned char>(name[marker - 1]);
        EXPECT_TRUE(last < 0x80 || (last & 0xC0) == 0x80) << name;
        if (last >= 0x80) {
            EXPECT_EQ(static_cast<unsigned char>(name[marker - 2]), 0xC3) << name;
        }
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// A folder that refuses new entries while its file stays writable: really
// for an ordinary user, through the seam for root, whom no mode bit stops.
class ClosedFolder {
public:
    explicit ClosedFolder(const fs::path& folder) : folder_(folder) {
        if (isRoot())
            AtomicFile::testing().folderRefusesNewFiles = true;
        else
            fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    }
    ~ClosedFolder() {
        AtomicFile::testing().folderRefusesNewFiles = false;
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
    }
    ClosedFolder(const ClosedFolder&) = delete;
    ClosedFolder& operator=(const ClosedFolder&) = delete;

private:
    fs::path folder_;
};

TEST_F(SafeWrites, AWritableFileInAClosedFolderIsReplacedInPlaceOnlyWhenComplete) {
    const fs::path folder = dir / "closed";
    fs::create_directory(folder);
    const fs::path target = folder / "sheet.jpg";
    writeAll(target, "old sheet");
    const ino_t inode = inodeOf(target);
    {
        ClosedFolder closed(folder);
        // Longer and then shorter than the old file: both end up exact.
        EXPECT_EQ(save(target.string(), std::string(5000, 'L')), "");
        EXPECT_EQ(readAll(target), std::string(5000, 'L'));
        EXPECT_EQ(save(target.string(), "short"), "");
        EXPECT_EQ(readAll(target), "short");
        EXPECT_EQ(inodeOf(target), inode);

        // A new file cannot be made there, nor an existing one kept from
        // being replaced by CreateNew.
        bool existed = false;
        EXPECT_NE(save((folder / "new.jpg").string(), "x"), "");
        EXPECT_FALSE(fs::exists(folder / "new.jpg"));
        EXPECT_NE(save(target.string(), "x", AtomicFile::Mode::CreateNew, &existed), "");
        EXPECT_TRUE(existed);
        EXPECT_EQ(readAll(target), "short");
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(SafeWrites, AFailureWhileTheClosedFolderIsWrittenInPlaceLeavesTheOldSheet) {
    const fs::path folder = dir / "closed";
    fs::create_directory(folder);
    const fs::path target = folder / "sheet.jpg";
    writeAll(target, "old sheet");
    // The new sheet is complete in the temporary folder; then the room runs
    // out before the old one is touched.
    static rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    AtomicFile::testing().beforeMove = [](const std::string&) {
        rlimit limited = saved;
        limited.rlim_cur = 4096;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    };
    std::string error;
    {
        ClosedFolder closed(folder);
        error = save(target.string(), std::string(20000, 'N'));
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_NE(error.find(target.string()), std::string::npos) << error;
    EXPECT_EQ(readAll(target), "old sheet");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(SafeWrites, AClosedFolderAroundAReadOnlyFileIsRefusedWithTheReason) {
    if (isRoot())
        GTEST_SKIP() << "root may write any file";
    const fs::path folder = dir / "closed";
    fs::create_directory(folder);
    const fs::path target = folder / "sheet.jpg";
    writeAll(target, "old sheet");
    fs::permissions(target, fs::perms::owner_read);
    std::string error;
    {
        ClosedFolder closed(folder);
        error = save(target.string(), "new");
    }
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    EXPECT_EQ(readAll(target), "old sheet");
}

TEST_F(SafeWrites, SymbolicLinksAreWrittenThroughAndStayLinks) {
    fs::create_directory(dir / "real");
    const fs::path link = dir / "sheet.jpg";
    const fs::path chain = dir / "chain.jpg";
    fs::create_symlink("real/sheet.jpg", link); // relative, and dangling for now
    fs::create_symlink(link, chain);

    EXPECT_EQ(save(chain.string(), "made", AtomicFile::Mode::CreateNew), "");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(chain));
    EXPECT_EQ(readAll(dir / "real" / "sheet.jpg"), "made");

    bool existed = false;
    EXPECT_NE(save(link.string(), "again", AtomicFile::Mode::CreateNew, &existed), "");
    EXPECT_TRUE(existed);
    EXPECT_EQ(save(link.string(), "replaced"), "");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readAll(dir / "real" / "sheet.jpg"), "replaced");

    // A loop is an error, not a hang, and makes nothing.
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");
    const std::string error = save((dir / "loop-a").string(), "x");
    EXPECT_NE(error.find("loop-a"), std::string::npos) << error;
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(SafeWrites, NamesOfOpenDescriptorsAreWrittenThroughTheDescriptor) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    EXPECT_EQ(save("/dev/fd/" + std::to_string(pipeFds[1]), "through the pipe"), "");
    AtomicFile direct;
    ASSERT_TRUE(direct.openDescriptor(pipeFds[1], "the pipe"));
    ASSERT_TRUE(direct.write("!", 1));
    ASSERT_TRUE(direct.commit());
    ::close(pipeFds[1]); // still open after both writes: the writers used copies
    std::string got;
    char buffer[64];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    EXPECT_EQ(got, "through the pipe!");

    // A regular file behind the descriptor is written at the descriptor's
    // place, not replaced by another file.
    const fs::path file = dir / "redirected";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "head:", 5), 5);
    const ino_t inode = inodeOf(file);
    EXPECT_EQ(save("/proc/self/fd/" + std::to_string(fd), "body"), "");
    ::close(fd);
    EXPECT_EQ(readAll(file), "head:body");
    EXPECT_EQ(inodeOf(file), inode);
}

TEST(TargetPaths, EachKindIsToldApart) {
    testmovies::TempDir temp;
    const fs::path dir = temp.path();
    writeAll(dir / "plain", "x");
    fs::create_symlink("plain", dir / "link");
    fs::create_symlink("nowhere/else", dir / "dangling");
    using Kind = files::TargetPath::Kind;

    EXPECT_EQ(files::resolveTarget((dir / "plain").string()).kind, Kind::Regular);
    const files::TargetPath viaLink = files::resolveTarget((dir / "link").string());
    EXPECT_EQ(viaLink.kind, Kind::Regular);
    EXPECT_TRUE(viaLink.sameFileAs(files::resolveTarget((dir / "plain").string())));
    const files::TargetPath dangling = files::resolveTarget((dir / "dangling").string());
    EXPECT_EQ(dangling.kind, Kind::Missing);
    EXPECT_EQ(dangling.finalPath, (dir / "nowhere/else").string());
    EXPECT_EQ(files::resolveTarget(dir.string()).kind, Kind::Directory);
    EXPECT_EQ(files::resolveTarget("/dev/null").kind, Kind::Special);
    EXPECT_EQ(files::resolveTarget((dir / "plain/below").string()).kind, Kind::Error);

    const files::TargetPath out = files::resolveTarget("/dev/stdout");
    EXPECT_EQ(out.kind, Kind::Descriptor);
    EXPECT_EQ(out.descriptor, 1);
    EXPECT_EQ(files::descriptorNamedBy("/proc/" + std::to_string(::getpid()) + "/fd/7"), 7);
    EXPECT_EQ(files::descriptorNamedBy("/proc/1/fd/7"), ::getpid() == 1 ? 7 : -1);
    EXPECT_EQ(files::descriptorNamedBy("/dev/fd/x"), -1);
    EXPECT_EQ(files::descriptorNamedBy("/dev/stdout2"), -1);
}

} // namespace
