#include "settings/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "platform/fs/atomic_file.h"
#include "platform/fs/keep_aside.h"
#include "platform/text/utf8.h"

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

// ---- The Windows records the file keeps the font and colours in ----------

// A colour as 0x00BBGGRR; the fourth byte is not part of the colour.
using COLORREF = uint32_t;

constexpr COLORREF RGB(uint8_t red, uint8_t green, uint8_t blue) {
    return static_cast<COLORREF>(red) | (static_cast<COLORREF>(green) << 8) |
           (static_cast<COLORREF>(blue) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) {
    return static_cast<uint8_t>(c & 0xff);
}
constexpr uint8_t GetGValue(COLORREF c) {
    return static_cast<uint8_t>((c >> 8) & 0xff);
}
constexpr uint8_t GetBValue(COLORREF c) {
    return static_cast<uint8_t>((c >> 16) & 0xff);
}

constexpr int LF_FACESIZE = 32;
constexpr int32_t FW_BOLD = 700;
// lfPitchAndFamily: the pitch in the low two bits, the family in the high
// four.
constexpr uint8_t DEFAULT_PITCH = 0;
constexpr uint8_t FIXED_PITCH = 1;
constexpr uint8_t kPitchBits = 0x03;

// The 60-byte LOGFONTA, members in file order.
struct LOGFONTA {
    int32_t lfHeight;
    int32_t lfWidth;
    int32_t lfEscapement;
    int32_t lfOrientation;
    int32_t lfWeight;
    uint8_t lfItalic;
    uint8_t lfUnderline;
    uint8_t lfStrikeOut;
    uint8_t lfCharSet;
    uint8_t lfOutPrecision;
    uint8_t lfClipPrecision;
    uint8_t lfQuality;
    uint8_t lfPitchAndFamily;
    char lfFaceName[LF_FACESIZE]; // not necessarily NUL-terminated
};

constexpr size_t kLogFontBytes = 60;
constexpr size_t kTextColorAt = kLogFontBytes;
constexpr size_t kBackgroundColorAt = kLogFontBytes + 4;

LOGFONTA readLogFont(const uint8_t* at) {
    LOGFONTA f{};
    f.lfHeight = getI(at + 0);
    f.lfWidth = getI(at + 4);
    f.lfEscapement = getI(at + 8);
    f.lfOrientation = getI(at + 12);
    f.lfWeight = getI(at + 16);
    f.lfItalic = at[20];
    f.lfUnderline = at[21];
    f.lfStrikeOut = at[22];
    f.lfCharSet = at[23];
    f.lfOutPrecision = at[24];
    f.lfClipPrecision = at[25];
    f.lfQuality = at[26];
    f.lfPitchAndFamily = at[27];
    std::memcpy(f.lfFaceName, at + 28, LF_FACESIZE);
    return f;
}

void writeLogFont(const LOGFONTA& f, uint8_t* at) {
    putI(at + 0, f.lfHeight);
    putI(at + 4, f.lfWidth);
    putI(at + 8, f.lfEscapement);
    putI(at + 12, f.lfOrientation);
    putI(at + 16, f.lfWeight);
    at[20] = f.lfItalic;
    at[21] = f.lfUnderline;
    at[22] = f.lfStrikeOut;
    at[23] = f.lfCharSet;
    at[24] = f.lfOutPrecision;
    at[25] = f.lfClipPrecision;
    at[26] = f.lfQuality;
    at[27] = f.lfPitchAndFamily;
    std::memcpy(at + 28, f.lfFaceName, LF_FACESIZE);
}

// Up to the first NUL, at most the whole array. Names written by older
// programs may be in a single-byte code page; those are read as Latin-1, in
// which every byte is a character.
std::string faceNameOf(const LOGFONTA& f) {
    const void* end = std::memchr(f.lfFaceName, '\0', LF_FACESIZE);
    const size_t length =
        end ? static_cast<size_t>(static_cast<const char*>(end) - f.lfFaceName) : LF_FACESIZE;
    return text::utf8OrLatin1(std::string_view(f.lfFaceName, length));
}

// At most 31 bytes and a NUL; a name that does not fit is cut where a
// character starts, never inside one. The rest of the array is zero.
void setFaceName(LOGFONTA& f, const std::string& face) {
    size_t length = std::min(face.size(), static_cast<size_t>(LF_FACESIZE - 1));
    if (length < face.size())
        while (length > 0 && (static_cast<uint8_t>(face[length]) & 0xC0) == 0x80)
            --length;
    std::memset(f.lfFaceName, 0, LF_FACESIZE);
    std::memcpy(f.lfFaceName, face.data(), length);
}

bool fixedPitchOf(uint8_t pitchAndFamily) {
    return (pitchAndFamily & kPitchBits) == FIXED_PITCH;
}

FontKind kindOf(uint8_t pitchAndFamily) {
    switch (pitchAndFamily >> 4) {
    case 1: // FF_ROMAN
        return FontKind::Serif;
    case 2: // FF_SWISS
        return FontKind::Sans;
    case 3: // FF_MODERN
        return FontKind::Monospace;
    case 4: // FF_SCRIPT
        return FontKind::Script;
    case 5: // FF_DECORATIVE
        return FontKind::Decorative;
    default:
        return FontKind::Any;
    }
}

uint8_t familyBitsOf(FontKind kind) {
    switch (kind) {
    case FontKind::Any:
        return 0;
    case FontKind::Serif:
        return 1;
    case FontKind::Sans:
        return 2;
    case FontKind::Monospace:
        return 3;
    case FontKind::Script:
        return 4;
    case FontKind::Decorative:
        return 5;
    }
    return 0;
}

FontDescription describe(const LOGFONTA& f) {
    FontDescription d;
    d.face = faceNameOf(f);
    d.height = f.lfHeight;
    d.width = f.lfWidth;
    d.weight = f.lfWeight;
    d.italic = f.lfItalic != 0;
    d.underline = f.lfUnderline != 0;
    d.strikeOut = f.lfStrikeOut != 0;
    d.fixedPitch = fixedPitchOf(f.lfPitchAndFamily);
    d.kind = kindOf(f.lfPitchAndFamily);
    return d;
}

// The record as read, with what the description changed: a member whose
// meaning is unchanged keeps its bytes (a flag byte of 2 stays 2, a name
// read as Latin-1 stays in its code page).
LOGFONTA updated(LOGFONTA f, const FontDescription& d) {
    f.lfHeight = d.height;
    f.lfWidth = d.width;
    f.lfWeight = d.weight;
    const auto flag = [](uint8_t& byte, bool value) {
        if ((byte != 0) != value)
            byte = value ? 1 : 0;
    };
    flag(f.lfItalic, d.italic);
    flag(f.lfUnderline, d.underline);
    flag(f.lfStrikeOut, d.strikeOut);
    if (fixedPitchOf(f.lfPitchAndFamily) != d.fixedPitch)
        f.lfPitchAndFamily = static_cast<uint8_t>((f.lfPitchAndFamily & ~kPitchBits) |
                                                  (d.fixedPitch ? FIXED_PITCH : DEFAULT_PITCH));
    if (kindOf(f.lfPitchAndFamily) != d.kind)
        f.lfPitchAndFamily =
            static_cast<uint8_t>((f.lfPitchAndFamily & 0x0F) | (familyBitsOf(d.kind) << 4));
    if (faceNameOf(f) != d.face)
        setFaceName(f, d.face);
    return f;
}

Rgb rgbOf(COLORREF c) {
    return Rgb{GetRValue(c), GetGValue(c), GetBValue(c)};
}

// The colour in the record's low three bytes; the fourth stays as read.
COLORREF updated(COLORREF c, Rgb colour) {
    return (c & 0xFF000000u) | RGB(colour.r, colour.g, colour.b);
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
    writeFontAndColours(b.data());
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
    readFontAndColours(b.data());
}

void Options::readFontAndColours(const uint8_t* bytes) {
    std::memcpy(fontAndColourBytes_.data(), bytes + kFontOffset, fontAndColourBytes_.size());
    const uint8_t* at = fontAndColourBytes_.data();
    font = describe(readLogFont(at));
    textColor = rgbOf(get32(at + kTextColorAt));
    backgroundColor = rgbOf(get32(at + kBackgroundColorAt));
}

void Options::writeFontAndColours(uint8_t* bytes) const {
    const uint8_t* kept = fontAndColourBytes_.data();
    uint8_t* at = bytes + kFontOffset;
    writeLogFont(updated(readLogFont(kept), font), at);
    put32(at + kTextColorAt, updated(get32(kept + kTextColorAt), textColor));
    put32(at + kBackgroundColorAt, updated(get32(kept + kBackgroundColorAt), backgroundColor));
}

void Options::resetHeader() {
    std::memcpy(magic, kMagic, 4);
    formatTag1 = 1;
    formatTag2 = 1;
}

void Options::setDefaults() {
    // The font and colours as a file has them, so that the members the
    // record does not hold get their defaults too.
    std::array<uint8_t, kFileSize> b = toBytes();
    std::memset(&b[kHeaderSize], 0, kBodySize);
    LOGFONTA f{};
    f.lfHeight = -11;
    f.lfWeight = FW_BOLD;
    f.lfOutPrecision = 3;      // OUT_STROKE_PRECIS
    f.lfClipPrecision = 2;     // CLIP_STROKE_PRECIS
    f.lfQuality = 1;           // DRAFT_QUALITY
    f.lfPitchAndFamily = 0x22; // VARIABLE_PITCH | FF_SWISS
    std::memcpy(f.lfFaceName, "Arial", 5);
    writeLogFont(f, &b[kFontOffset]);
    put32(&b[kFontOffset + kTextColorAt], RGB(255, 255, 255));
    put32(&b[kFontOffset + kBackgroundColorAt], RGB(238, 242, 247));
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
