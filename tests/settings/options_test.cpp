#include "settings/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// The defaults file, spelled out byte by byte from the file format.
std::vector<uint8_t> expectedDefaults() {
    std::vector<uint8_t> b(128, 0);
    const uint8_t head[8] = {'S', 'T', 'W', 'K', 1, 1, 0, 0};
    std::memcpy(b.data(), head, 8);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(8, 10);
    put(12, 10);
    put(16, 156);
    put(20, 117);
    put(24, 5);
    put(28, 5);
    put(32, 3);
    put(36, 3);
    put(40, 50);
    b[44] = 1;
    b[45] = 1;
    b[46] = 1;
    put(48, 2);
    put(52, 90);
    b[56] = 1;
    put(60, static_cast<uint32_t>(-11));
    put(76, 700);
    b[84] = 3;
    b[85] = 2;
    b[86] = 1;
    b[87] = 0x22;
    std::memcpy(&b[88], "Arial", 5);
    put(120, 0x00FFFFFF);
    put(124, 0x00F7F2EE);
    return b;
}

class OptionsFile : public ::testing::Test {
protected:
    void TearDown() override {
        // Some tests take the folder's permissions away; it must still go.
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    }
    testmovies::TempDir temp;
    const fs::path dir = temp.path();
    const fs::path file = dir / "options.swk";
};

TEST_F(OptionsFile, MissingFileIsCreatedWithTheDefaultsByteForByte) {
    Options o(file.string());
    EXPECT_EQ(readAll(file), expectedDefaults());
    EXPECT_EQ(o.columns, 5);
    EXPECT_EQ(o.headerPosition, TopLeft);
    EXPECT_EQ(o.backgroundColor, (Rgb{238, 242, 247}));
    EXPECT_EQ(o.textColor, (Rgb{255, 255, 255}));
    EXPECT_EQ(o.font.face, "Arial");
    EXPECT_EQ(o.font.height, -11);
    EXPECT_EQ(o.font.weight, 700);
    EXPECT_FALSE(o.font.italic);
    EXPECT_FALSE(o.font.fixedPitch);
    EXPECT_EQ(o.font.kind, FontKind::Sans);
}

TEST_F(OptionsFile, DefaultConstructorUsesTheCurrentDirectory) {
    fs::path old = fs::current_path();
    fs::current_path(dir);
    {
        Options o;
        EXPECT_EQ(o.filePath, (dir / "options.swk").string());
        // A later change of directory does not move the file.
        fs::current_path(old);
        o.columns = 7;
        ASSERT_TRUE(o.save());
    }
    fs::current_path(old);
    EXPECT_EQ(le32(readAll(file), 24), 7u);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(OptionsFile, WrongMagicIsReplacedByDefaultsButReservedBytesAreKept) {
    std::vector<uint8_t> junk(128, 0x55);
    junk[0] = 'X';
    writeAll(file, junk);
    Options o(file.string());
    std::vector<uint8_t> expected = expectedDefaults();
    expected[6] = 0x55; // reserved bytes hold what the rejected file had
    expected[7] = 0x55;
    EXPECT_EQ(readAll(file), expected);
    EXPECT_EQ(o.rows, 5);
}

TEST_F(OptionsFile, FilesTooShortForTheMagicAreReplaced) {
    const std::vector<uint8_t> prefix = {'S', 'T', 'W'};
    for (size_t size = 0; size <= prefix.size(); ++size) {
        writeAll(file, std::vector<uint8_t>(prefix.begin(), prefix.begin() + size));
        Options o(file.string());
        EXPECT_EQ(readAll(file), expectedDefaults()) << "size " << size;
    }
}

// The program's own file: whatever it held is kept beside it before the
// defaults take its place, and the caller learns where. A file kept aside
// earlier is never replaced: each foreign file gets the next free name.
TEST_F(OptionsFile, AForeignFileIsKeptAsBakBeforeTheDefaultsReplaceIt) {
    const std::vector<uint8_t> movie = {'R',  'I',  'F', 'F', 0x10, 0x20,
                                        0x30, 0x40, 'A', 'V', 'I',  ' '};
    const fs::path backup = dir / "options.swk.bak";
    writeAll(file, movie);
    Options o(file.string());
    EXPECT_EQ(o.loaded, Options::Loaded::ReplacedForeign);
    EXPECT_EQ(o.backupPath, backup.string());
    EXPECT_EQ(readAll(backup), movie);
    std::vector<uint8_t> expected = expectedDefaults();
    expected[6] = 0x30; // the rejected header's reserved bytes, as ever
    expected[7] = 0x40;
    EXPECT_EQ(readAll(file), expected);
    EXPECT_EQ(o.columns, 5);

    // A good file is read and nothing is moved.
    Options again(file.string());
    EXPECT_EQ(again.loaded, Options::Loaded::Read);
    EXPECT_TRUE(again.backupPath.empty());
    EXPECT_EQ(readAll(backup), movie);

    // Two more foreign files: .bak keeps the first, the others take .bak.1
    // and .bak.2. A folder in the way counts as taken.
    const std::vector<uint8_t> text = {'n', 'o', 't', 'e', 's'};
    writeAll(file, text);
    Options second(file.string());
    EXPECT_EQ(second.backupPath, backup.string() + ".1");
    fs::create_directories(dir / "options.swk.bak.2" / "occupied");
    writeAll(file, {'I', 'D', '3'});
    Options third(file.string());
    EXPECT_EQ(third.backupPath, backup.string() + ".3");
    EXPECT_EQ(readAll(backup), movie);
    EXPECT_EQ(readAll(dir / "options.swk.bak.1"), text);
    EXPECT_EQ(readAll(dir / "options.swk.bak.3"), (std::vector<uint8_t>{'I', 'D', '3'}));
    EXPECT_EQ(readAll(file), expectedDefaults());

    // When no name is left to keep the old bytes under, the file is not
    // replaced either.
    for (int n = 4; n <= 999; ++n)
        writeAll(dir / ("options.swk.bak." + std::to_string(n)), {});
    writeAll(file, movie);
    Options stuck(file.string());
    EXPECT_EQ(stuck.loaded, Options::Loaded::Unusable);
    EXPECT_EQ(readAll(file), movie);
    EXPECT_NE(stuck.lastError.find(file.string()), std::string::npos) << stuck.lastError;
    EXPECT_EQ(stuck.columns, 5);
    EXPECT_EQ(readAll(backup), movie);
}

// A file the user named: never changed, whatever it is.
TEST_F(OptionsFile, AForeignFileNamedByTheUserIsRefusedAndLeftAlone) {
    const std::vector<std::vector<uint8_t>> foreign = {
        {},
        {'S', 'T', 'W'},
        {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 9, 'm', 'u', 's', 'i', 'c'},
        std::vector<uint8_t>(4096, 0x47),
    };
    for (const std::vector<uint8_t>& bytes : foreign) {
        SCOPED_TRACE(bytes.size());
        writeAll(file, bytes);
        Options o(file.string(), Options::Foreign::Refuse);
        EXPECT_EQ(o.loaded, Options::Loaded::RefusedForeign);
        EXPECT_EQ(readAll(file), bytes);
        EXPECT_NE(o.lastError.find(file.string()), std::string::npos) << o.lastError;
        EXPECT_NE(o.lastError.find("not a settings file"), std::string::npos) << o.lastError;
        // The record is usable: the defaults, in memory.
        std::array<uint8_t, 128> image = o.toBytes();
        EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.end()), expectedDefaults());
    }
    EXPECT_FALSE(fs::exists(dir / "options.swk.bak"));

    // A folder is no settings file under either rule, and is never moved.
    const fs::path folder = dir / "folder.swk";
    fs::create_directory(folder);
    for (auto rule : {Options::Foreign::Refuse, Options::Foreign::KeepAside}) {
        Options o(folder.string(), rule);
        EXPECT_EQ(o.loaded, Options::Loaded::Unusable);
        EXPECT_TRUE(fs::is_directory(folder));
    }
    EXPECT_FALSE(fs::exists(dir / "folder.swk.bak"));

    // A missing file is made, and a good one read, under the strict rule too.
    const fs::path fresh = dir / "fresh.swk";
    Options made(fresh.string(), Options::Foreign::Refuse);
    EXPECT_EQ(made.loaded, Options::Loaded::Created);
    EXPECT_EQ(readAll(fresh), expectedDefaults());
    Options read(fresh.string(), Options::Foreign::Refuse);
    EXPECT_EQ(read.loaded, Options::Loaded::Read);
}

TEST_F(OptionsFile, UnreadableFilesAreKeptAsBakOrRefused) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    std::vector<uint8_t> bytes = expectedDefaults();
    bytes[24] = 9;
    writeAll(file, bytes);
    fs::permissions(file, fs::perms::none);
    Options refused(file.string(), Options::Foreign::Refuse);
    EXPECT_EQ(refused.loaded, Options::Loaded::RefusedForeign);
    EXPECT_TRUE(fs::exists(file));
    Options own(file.string());
    EXPECT_EQ(own.loaded, Options::Loaded::ReplacedForeign);
    fs::permissions(dir / "options.swk.bak", fs::perms::owner_read);
    EXPECT_EQ(readAll(dir / "options.swk.bak"), bytes);
    EXPECT_EQ(readAll(file), expectedDefaults());
}

TEST(OptionsRecord, UnusableValuesAreNamedByTheirField) {
    Options o = Options::defaults();
    EXPECT_EQ(o.unusableValue(), "");
    o.rows = 0; // a sheet of no frames is still a sheet
    o.spacingX = 0;
    EXPECT_EQ(o.unusableValue(), "");
    const std::vector<std::pair<int32_t Options::*, std::string>> fields = {
        {&Options::columns, "columns is -1; it must be 0 or more"},
        {&Options::rows, "rows is -1; it must be 0 or more"},
        {&Options::frameWidth, "frameWidth is -1; it must be 1 or more"},
        {&Options::frameHeight, "frameHeight is -1; it must be 1 or more"},
        {&Options::spacingX, "spacingX is -1; it must be 0 or more"},
        {&Options::spacingY, "spacingY is -1; it must be 0 or more"},
    };
    for (const auto& [field, message] : fields) {
        Options bad = Options::defaults();
        bad.*field = -1;
        EXPECT_EQ(bad.unusableValue(), message);
    }
    Options zeroBox = Options::defaults();
    zeroBox.frameHeight = 0;
    EXPECT_EQ(zeroBox.unusableValue(), "frameHeight is 0; it must be 1 or more");
}

TEST_F(OptionsFile, FormatTagsAndReservedBytesAreWrittenBackAsRead) {
    std::vector<uint8_t> b = expectedDefaults();
    b[4] = 4;
    b[5] = 3;
    b[6] = 9;
    b[7] = 8;
    b[24] = 7; // columns
    writeAll(file, b);
    Options o(file.string());
    EXPECT_EQ(o.formatTag1, 4);
    EXPECT_EQ(o.formatTag2, 3);
    EXPECT_EQ(o.columns, 7);
    ASSERT_TRUE(o.save());
    EXPECT_EQ(readAll(file), b);
}

// A settings file is 128 bytes. One cut short (a full disk, a copy that
// stopped) or with bytes after the record is not read in part: fields left
// at zero would make blank sheets, sheets of no frames or a black sheet.
// Every length but 128 is refused under the strict rule, and kept aside and
// replaced by the defaults under the shared one; the values it holds are
// never used.
TEST_F(OptionsFile, AFileOfAnyOtherLengthIsNeverReadInPart) {
    std::vector<uint8_t> good = expectedDefaults();
    good[24] = 7;  // columns
    good[52] = 77; // jpegQuality
    good[127] = 1; // the top byte of backgroundColor
    for (size_t size = 0; size <= 300; size = size == 129 ? 300 : size + 1) {
        if (size == Options::kFileSize)
            continue;
        SCOPED_TRACE(size);
        std::vector<uint8_t> bytes = good;
        bytes.resize(size, 0xEE);

        writeAll(file, bytes);
        Options named(file.string(), Options::Foreign::Refuse);
        EXPECT_EQ(named.loaded, Options::Loaded::RefusedForeign);
        EXPECT_EQ(readAll(file), bytes);
        EXPECT_NE(named.lastError.find("not a settings file"), std::string::npos)
            << named.lastError;
        std::array<uint8_t, 128> image = named.toBytes();
        EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.end()), expectedDefaults());

        Options own(file.string());
        EXPECT_EQ(own.loaded, Options::Loaded::ReplacedForeign);
        EXPECT_EQ(own.backupPath, file.string() + ".bak");
        EXPECT_EQ(readAll(dir / "options.swk.bak"), bytes);
        EXPECT_EQ(readAll(file), expectedDefaults());
        image = own.toBytes();
        EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.end()), expectedDefaults());
        fs::remove(dir / "options.swk.bak");
    }
    // The same bytes at the right length are read.
    writeAll(file, good);
    Options read(file.string(), Options::Foreign::Refuse);
    EXPECT_EQ(read.loaded, Options::Loaded::Read);
    EXPECT_EQ(read.columns, 7);
    EXPECT_EQ(read.jpegQuality, 77);
    EXPECT_EQ(read.backgroundColor, (Rgb{238, 242, 247}));
    EXPECT_EQ(read.toBytes()[127], 1); // not part of the colour, but kept
}

// A record loaded again from a file cut short holds the defaults, not its
// old values with the file's first fields laid over them.
TEST_F(OptionsFile, ReloadingACutFileGivesTheDefaultsNotAMix) {
    Options o(file.string());
    o.jpegQuality = 33;
    o.spacingX = 0x7F000000;
    std::vector<uint8_t> b = expectedDefaults();
    b.resize(10); // the first two bytes of spacingX only
    b[8] = 0x34;
    b[9] = 0x12;
    writeAll(file, b);
    o.load();
    EXPECT_EQ(o.loaded, Options::Loaded::ReplacedForeign);
    EXPECT_EQ(o.spacingX, 10);
    EXPECT_EQ(o.jpegQuality, 90);
    EXPECT_EQ(readAll(dir / "options.swk.bak"), b);
}

TEST_F(OptionsFile, UnwritableDirectoryKeepsDefaultsInMemoryAndReports) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write anywhere";
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    Options o(file.string());
    EXPECT_EQ(o.columns, 5);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(o.save());
    EXPECT_NE(o.lastError.find(file.string()), std::string::npos) << o.lastError;
}

TEST_F(OptionsFile, FailedSaveLeavesTheOldFileIntact) {
    // The path is a directory entry we cannot replace: a directory of that name.
    fs::path target = dir / "sub";
    fs::create_directories(target);
    Options o(target.string());
    EXPECT_EQ(o.columns, 5); // defaults in memory
    EXPECT_FALSE(o.save());
    EXPECT_FALSE(o.lastError.empty());
    EXPECT_TRUE(fs::is_directory(target));
}

TEST_F(OptionsFile, SetDefaultsRestoresBodyButNotHeaderOrPath) {
    std::vector<uint8_t> b = expectedDefaults();
    b[4] = 9;
    b[47] = 0xAA; // padding
    b[100] = 'Z'; // inside the face name
    writeAll(file, b);
    Options o(file.string());
    o.setDefaults();
    std::array<uint8_t, 128> bytes = o.toBytes();
    std::vector<uint8_t> expected = expectedDefaults();
    expected[4] = 9;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected);
    EXPECT_EQ(o.filePath, file.string());
}

// The four bytes first, first + 1, first + 2, first + 3 as a little-endian number.
int32_t word(uint8_t first) {
    return static_cast<int32_t>(first | (first + 1) << 8 | (first + 2) << 16 |
                                static_cast<uint32_t>(first + 3) << 24);
}

// Many fields share a default (both spacings, both shadow offsets, columns and
// rows, the three switches), so a reader and writer that swapped two of them
// would pass every test built on defaults. Here each body byte gets its own
// value: body byte k (file offset 7 + k) holds k, so a field written at the
// wrong place shows in the image, and one read back from the wrong place
// shows in the round trip.
TEST_F(OptionsFile, EveryBodyFieldHasItsOwnPlaceInTheFile) {
    Options written(file.string());
    // The font record and the colours are read from bytes, as from a file.
    std::array<uint8_t, 128> pattern = written.toBytes();
    for (size_t k = 1; k <= Options::kBodySize; ++k)
        pattern[7 + k] = static_cast<uint8_t>(k);
    written.overlayBytes(pattern.data(), pattern.size());
    EXPECT_EQ(written.font.height, word(53));
    EXPECT_EQ(written.font.width, word(57));
    EXPECT_EQ(written.font.weight, word(69));
    EXPECT_TRUE(written.font.italic);                                  // 73
    EXPECT_TRUE(written.font.underline);                               // 74
    EXPECT_TRUE(written.font.strikeOut);                               // 75
    EXPECT_FALSE(written.font.fixedPitch);                             // 80 = 0x50: pitch 0,
    EXPECT_EQ(written.font.kind, FontKind::Decorative);                // family 5
    EXPECT_EQ(written.font.face, "QRSTUVWXYZ[\\]^_`abcdefghijklmnop"); // 81..112, no NUL
    EXPECT_EQ(written.textColor, (Rgb{113, 114, 115}));
    EXPECT_EQ(written.backgroundColor, (Rgb{117, 118, 119}));

    // The other fields are set one by one.
    written.spacingX = word(1);
    written.spacingY = word(5);
    written.frameWidth = word(9);
    written.frameHeight = word(13);
    written.columns = word(17);
    written.rows = word(21);
    written.shadowOffsetX = word(25);
    written.shadowOffsetY = word(29);
    written.shadowIntensity = word(33);
    written.shadowEnabled = 37;
    written.headerEnabled = 38;
    written.timeStampsEnabled = 39;
    written.padding1 = 40;
    written.headerPosition = word(41);
    written.jpegQuality = word(45);
    written.jpegProgressive = 49;
    written.padding2[0] = 50;
    written.padding2[1] = 51;
    written.padding2[2] = 52;

    const std::array<uint8_t, 128> image = written.toBytes();
    for (size_t k = 1; k <= Options::kBodySize; ++k)
        ASSERT_EQ(image[7 + k], k) << "file offset " << 7 + k;
    // A few places spelled out, as the file format gives them.
    EXPECT_EQ(image[8], 1);     // spacingX
    EXPECT_EQ(image[48], 41);   // headerPosition
    EXPECT_EQ(image[60], 53);   // the font's height
    EXPECT_EQ(image[80], 73);   // its italic flag
    EXPECT_EQ(image[88], 81);   // its face name
    EXPECT_EQ(image[124], 117); // backgroundColor
    ASSERT_TRUE(written.save());

    const Options read(file.string());
    EXPECT_EQ(read.spacingX, written.spacingX);
    EXPECT_EQ(read.spacingY, written.spacingY);
    EXPECT_EQ(read.frameWidth, written.frameWidth);
    EXPECT_EQ(read.frameHeight, written.frameHeight);
    EXPECT_EQ(read.columns, written.columns);
    EXPECT_EQ(read.rows, written.rows);
    EXPECT_EQ(read.shadowOffsetX, written.shadowOffsetX);
    EXPECT_EQ(read.shadowOffsetY, written.shadowOffsetY);
    EXPECT_EQ(read.shadowIntensity, written.shadowIntensity);
    EXPECT_EQ(read.shadowEnabled, written.shadowEnabled);
    EXPECT_EQ(read.headerEnabled, written.headerEnabled);
    EXPECT_EQ(read.timeStampsEnabled, written.timeStampsEnabled);
    EXPECT_EQ(read.padding1, written.padding1);
    EXPECT_EQ(read.headerPosition, written.headerPosition);
    EXPECT_EQ(read.jpegQuality, written.jpegQuality);
    EXPECT_EQ(read.jpegProgressive, written.jpegProgressive);
    EXPECT_EQ(0, std::memcmp(read.padding2, written.padding2, sizeof read.padding2));
    EXPECT_EQ(read.font, written.font);
    EXPECT_EQ(read.textColor, written.textColor);
    EXPECT_EQ(read.backgroundColor, written.backgroundColor);
    EXPECT_EQ(read.toBytes(), image);
}

// The font record's members that the description does not hold, and the
// colours' fourth bytes, keep what the file had when the description
// changes; what changed lands in its own bytes.
TEST(OptionsRecord, ChangedFontAndColoursKeepTheRecordsOtherBytes) {
    Options o = Options::defaults();
    std::array<uint8_t, 128> pattern = o.toBytes();
    for (size_t k = 1; k <= Options::kBodySize; ++k)
        pattern[7 + k] = static_cast<uint8_t>(k);
    o.overlayBytes(pattern.data(), pattern.size());

    o.font.height = -20;
    o.font.width = 0;
    o.font.weight = 400;
    o.font.italic = false;   // was 73
    o.font.underline = true; // unchanged in meaning: the byte stays 74
    o.font.fixedPitch = true;
    o.font.kind = FontKind::Serif;
    o.font.face = "Tahoma";
    o.textColor = Rgb{1, 2, 3};
    const std::array<uint8_t, 128> b = o.toBytes();

    std::array<uint8_t, 128> expected = pattern;
    const auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            expected[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(60, static_cast<uint32_t>(-20));
    put(64, 0);
    put(76, 400);
    expected[80] = 0;
    expected[87] = 0x11; // FF_ROMAN | FIXED_PITCH
    std::fill(expected.begin() + 88, expected.begin() + 120, 0);
    std::memcpy(&expected[88], "Tahoma", 6);
    expected[120] = 1;
    expected[121] = 2;
    expected[122] = 3; // and 123 keeps 116
    EXPECT_EQ(b, expected);
}

TEST(OptionsRecord, FaceNamesAsTheFileHasThem) {
    const auto withFace = [](const char* bytes, size_t size) {
        Options o = Options::defaults();
        std::array<uint8_t, 128> b = o.toBytes();
        std::fill(b.begin() + 88, b.begin() + 120, 0);
        std::memcpy(&b[88], bytes, size);
        o.overlayBytes(b.data(), b.size());
        return o;
    };
    // All 32 bytes without a terminator: the name stops at the array's end.
    Options full = withFace("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"
                            "junk",
                            32);
    EXPECT_EQ(full.font.face, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    EXPECT_EQ(full.toBytes()[119], '5');
    // Bytes after the terminator are not part of the name, but are kept.
    Options junk = withFace("Arial\0junk", 10);
    EXPECT_EQ(junk.font.face, "Arial");
    EXPECT_EQ(junk.toBytes()[94], 'j');
    // A single-byte code page: read as Latin-1, written back as it was.
    Options latin1 = withFace("Caf\xE9", 4);
    EXPECT_EQ(latin1.font.face, "Caf\xC3\xA9");
    EXPECT_EQ(latin1.toBytes()[91], 0xE9);
    latin1.font.face = "Caf\xC3\xA9 Sans";
    const std::array<uint8_t, 128> changed = latin1.toBytes();
    EXPECT_EQ(0, std::memcmp(&changed[88], "Caf\xC3\xA9 Sans\0", 10));
    // A new name longer than 31 bytes is cut where a character starts, and
    // the rest of the array is zero.
    Options cut = Options::defaults();
    cut.font.face = std::string(30, 'x') + "\xC3\xA9yz";
    const std::array<uint8_t, 128> b = cut.toBytes();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[88]), 30), std::string(30, 'x'));
    for (size_t i = 88 + 30; i < 120; ++i)
        EXPECT_EQ(b[i], 0) << i;
    Options reread = Options::defaults();
    reread.overlayBytes(b.data(), b.size());
    EXPECT_EQ(reread.font.face, std::string(30, 'x'));
}

TEST(OptionsRecord, FlagBytesBeyondOneMeanYesAndAreKept) {
    Options o = Options::defaults();
    std::array<uint8_t, 128> b = o.toBytes();
    b[80] = 2;    // italic
    b[81] = 0xFF; // underline
    o.overlayBytes(b.data(), b.size());
    EXPECT_TRUE(o.font.italic);
    EXPECT_TRUE(o.font.underline);
    EXPECT_EQ(o.toBytes(), b);
    o.font.underline = false;
    EXPECT_EQ(o.toBytes()[81], 0);
    EXPECT_EQ(o.toBytes()[80], 2);
}

TEST(OptionsRecord, DetachedDefaultsTouchNoFile) {
    Options d = Options::defaults();
    EXPECT_TRUE(d.filePath.empty());
    std::array<uint8_t, 128> bytes = d.toBytes();
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expectedDefaults());
}

} // namespace
