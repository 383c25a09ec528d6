#include "settings/options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "platform/fs/atomic_file.h"
#include "platform/fs/keep_aside.h"

namespace {

constexpr char kMagic[4] = {'S', 'T', 'W', 'K'};

void put32(uint8_t* at, uint32_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
    at[2] = static_cast<uint8_t>(v >> 16);
    at[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t get32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

void putI(uint8_t* at, int32_t v) {
    put32(at, static_cast<uint32_t>(v));
}
int32_t getI(const uint8_t* at) {
    return static_cast<int32_t>(get32(at));
}

std::string defaultPath() {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::current_path(ec);
    if (ec)
        return Options::kFileName;
    return (dir / Options::kFileName).string();
}

} // namespace

Options::Options() : Options(defaultPath()) {}

Options::Options(std::string path, Foreign foreign) : filePath(std::move(path)), foreign_(foreign) {
    load();
}

Options Options::defaults() {
    Options o{Detached{}};
    o.resetHeader();
    o.setDefaults();
    return o;
}

Options::~Options() = default;

std::array<uint8_t, Options::kFileSize> Options::toBytes() const {
    std::array<uint8_t, kFileSize> b{};
    std::memcpy(&b[0], magic, 4);
    b[4] = formatTag1;
    b[5] = formatTag2;
    b[6] = reserved[0];
    b[7] = reserved[1];
    putI(&b[8], spacingX);
    putI(&b[12], spacingY);
    putI(&b[16], frameWidth);
    putI(&b[20], frameHeight);
    putI(&b[24], columns);
    putI(&b[28], rows);
    putI(&b[32], shadowOffsetX);
    putI(&b[36], shadowOffsetY);
    putI(&b[40], shadowIntensity);
    b[44] = shadowEnabled;
    b[45] = headerEnabled;
    b[46] = timeStampsEnabled;
    b[47] = padding1;
    putI(&b[48], headerPosition);
    putI(&b[52], jpegQuality);
    b[56] = jpegProgressive;
    std::memcpy(&b[57], padding2, 3);
    putI(&b[60], font.lfHeight);
    putI(&b[64], font.lfWidth);
    putI(&b[68], font.lfEscapement);
    putI(&b[72], font.lfOrientation);
    putI(&b[76], font.lfWeight);
    b[80] = font.lfItalic;
    b[81] = font.lfUnderline;
    b[82] = font.lfStrikeOut;
    b[83] = font.lfCharSet;
    b[84] = font.lfOutPrecision;
    b[85] = font.lfClipPrecision;
    b[86] = font.lfQuality;
    b[87] = font.lfPitchAndFamily;
    std::memcpy(&b[88], font.lfFaceName, LF_FACESIZE);
    put32(&b[120], textColor);
    put32(&b[124], backgroundColor);
    return b;
}

void Options::overlayBytes(const uint8_t* bytes, size_t count) {
    // Going through the full image keeps a field that the bytes reach only in
    // part (a file cut in the middle of a number) exactly as the bytes say.
    std::array<uint8_t, kFileSize> b = toBytes();
    std::memcpy(b.data(), bytes, count < kFileSize ? count : kFileSize);
    std::memcpy(magic, &b[0], 4);
    formatTag1 = b[4];
    formatTag2 = b[5];
    reserved[0] = b[6];
    reserved[1] = b[7];
    spacingX = getI(&b[8]);
    spacingY = getI(&b[12]);
    frameWidth = getI(&b[16]);
    frameHeight = getI(&b[20]);
    columns = getI(&b[24]);
    rows = getI(&b[28]);
    shadowOffsetX = getI(&b[32]);
    shadowOffsetY = getI(&b[36]);
    shadowIntensity = getI(&b[40]);
    shadowEnabled = b[44];
    headerEnabled = b[45];
    timeStampsEnabled = b[46];
    padding1 = b[47];
    headerPosition = getI(&b[48]);
    jpegQuality = getI(&b[52]);
    jpegProgressive = b[56];
    std::memcpy(padding2, &b[57], 3);
    font.lfHeight = getI(&b[60]);
    font.lfWidth = getI(&b[64]);
    font.lfEscapement = getI(&b[68]);
    font.lfOrientation = getI(&b[72]);
    font.lfWeight = getI(&b[76]);
    font.lfItalic = b[80];
    font.lfUnderline = b[81];
    font.lfStrikeOut = b[82];
    font.lfCharSet = b[83];
    font.lfOutPrecision = b[84];
    font.lfClipPrecision = b[85];
    font.lfQuality = b[86];
    font.lfPitchAndFamily = b[87];
    std::memcpy(font.lfFaceName, &b[88], LF_FACESIZE);
    textColor = get32(&b[120]);
    backgroundColor = get32(&b[124]);
}

void Options::resetHeader() {
    std::memcpy(magic, kMagic, 4);
    formatTag1 = 1;
    formatTag2 = 1;
}

void Options::setDefaults() {
    std::array<uint8_t, kFileSize> b = toBytes();
    std::memset(&b[kHeaderSize], 0, kBodySize);
    overlayBytes(b.data(), b.size());

    spacingX = 10;
    spacingY = 10;
    frameWidth = 156;
    frameHeight = 117;
    columns = 5;
    rows = 5;
    shadowOffsetX = 3;
    shadowOffsetY = 3;
    shadowIntensity = 50;
    shadowEnabled = 1;
    headerEnabled = 1;
    timeStampsEnabled = 1;
    headerPosition = TopLeft;
    jpegQuality = 90;
    jpegProgressive = 1;
    font.lfHeight = -11;
    font.lfWeight = FW_BOLD;
    font.lfOutPrecision = 3;      // OUT_STROKE_PRECIS
    font.lfClipPrecision = 2;     // CLIP_STROKE_PRECIS
    font.lfQuality = 1;           // DRAFT_QUALITY
    font.lfPitchAndFamily = 0x22; // VARIABLE_PITCH | FF_SWISS
    std::memcpy(font.lfFaceName, "Arial", 5);
    textColor = RGB(255, 255, 255);
    backgroundColor = RGB(238, 242, 247);
}

// The defaults in memory only: the file stays as it is.
bool Options::useDefaults(Loaded what, std::string why) {
    resetHeader();
    setDefaults();
    loaded = what;
    lastError = std::move(why);
    return false;
}

// The program's own file held no settings: its bytes are kept beside it, by
// a rename so that not even an unreadable file loses a byte, and the defaults
// take its place. The rename claims the first free name of .bak, .bak.1, …,
// so a second foreign file never takes the place of the first one's bytes.
bool Options::replaceKeepingTheOld() {
    const files::KeptAside kept = files::keepAside(filePath, ".bak");
    if (kept.path.empty())
        return useDefaults(Loaded::Unusable, "The settings file " + filePath +
                                                 " holds no settings and cannot be moved to " +
                                                 filePath + ".bak (" + std::strerror(kept.error) +
                                                 "); it was left as it is.");
    backupPath = kept.path;
    resetHeader();
    setDefaults();
    loaded = Loaded::ReplacedForeign;
    return save();
}

bool Options::load() {
    lastError.clear();
    backupPath.clear();
    struct stat st {};
    if (::stat(filePath.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return useDefaults(Loaded::Unusable, "Cannot read the settings file " + filePath +
                                                     ": " + std::strerror(errno));
        resetHeader();
        setDefaults();
        loaded = Loaded::Created;
        return save();
    }
    if (!S_ISREG(st.st_mode))
        return useDefaults(Loaded::Unusable, "The settings file " + filePath +
                                                 " is not a regular file; it was left as it is.");

    std::FILE* f = std::fopen(filePath.c_str(), "rb");
    if (!f) {
        const int err = errno;
        if (foreign_ == Foreign::KeepAside)
            return replaceKeepingTheOld();
        return useDefaults(Loaded::RefusedForeign, "Cannot read the settings file " + filePath +
                                                       ": " + std::strerror(err) +
                                                       "; it was left as it is.");
    }
    // One byte more than a settings file has tells a longer file from one of
    // the right length, whatever the size the folder reported a moment ago.
    uint8_t bytes[kFileSize + 1];
    const size_t got = std::fread(bytes, 1, sizeof bytes, f);
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    std::string why;
    if (readError)
        why = "it cannot be read to its end";
    else if (got != kFileSize)
        why =
            got > kFileSize
                ? "it is longer than the " + std::to_string(kFileSize) + " bytes of a settings file"
                : "it is " + std::to_string(got) + " bytes long, not " + std::to_string(kFileSize);
    else if (std::memcmp(bytes, kMagic, 4) != 0)
        why = "it does not begin with \"STWK\"";
    if (why.empty()) {
        overlayBytes(bytes, kFileSize);
        loaded = Loaded::Read;
        return true;
    }
    // A file of another length is not read in part: the fields it does not
    // reach would be zero (no frames, a black sheet, a frame box of 0).
    if (foreign_ == Foreign::Refuse)
        return useDefaults(Loaded::RefusedForeign, filePath + " is not a settings file (" + why +
                                                       "); it was left as it is.");
    // The rejected header's reserved bytes stay in the record, as they
    // always have.
    std::array<uint8_t, kFileSize> b = toBytes();
    std::memcpy(b.data(), bytes, got < kHeaderSize ? got : kHeaderSize);
    overlayBytes(b.data(), kHeaderSize);
    return replaceKeepingTheOld();
}

std::string Options::unusableValue() const {
    const auto is = [](const char* field, int32_t value, const char* rule) {
        return std::string(field) + " is " + std::to_string(value) + "; it must be " + rule;
    };
    if (columns < 0)
        return is("columns", columns, "0 or more");
    if (rows < 0)
        return is("rows", rows, "0 or more");
    if (frameWidth < 1)
        return is("frameWidth", frameWidth, "1 or more");
    if (frameHeight < 1)
        return is("frameHeight", frameHeight, "1 or more");
    if (spacingX < 0)
        return is("spacingX", spacingX, "0 or more");
    if (spacingY < 0)
        return is("spacingY", spacingY, "0 or more");
    return {};
}

bool Options::save() {
    lastError.clear();
    AtomicFile out;
    std::array<uint8_t, kFileSize> b = toBytes();
    if (!out.open(filePath) || !out.write(b.data(), b.size()) || !out.commit()) {
        lastError = out.error();
        return false;
    }
    return true;
}
