#pragma once
// The settings record and its 128-byte file.
//
// Exactly one record is live in a program (the desktop program's application
// object, or the command line's), and its owner hands it by reference to
// whoever needs it. Copies are plain values: a capture takes one when it
// starts and never looks at the live record again, so the settings dialog may
// change the live record meanwhile.
//
// The file is the 8-byte header followed by the 120-byte body, little-endian,
// read and written field by field so the bytes do not depend on the host. The
// font and the two colours are kept in the file as the Windows records they
// began as (a 60-byte LOGFONTA, two COLORREFs); in the record they are plain
// values. What those values cannot hold (the font record's other members, a
// face name's bytes after its end, a colour's fourth byte, the exact bytes of
// a face name that is not UTF-8) is kept as read and written back unchanged,
// so a file is saved byte for byte as it was read, apart from what changed.
//
// A file that is there but holds no settings (it is not exactly 128 bytes
// long, does not begin with the magic, or cannot be read) is never read in
// part and never simply overwritten: the program's own file is moved aside
// to the first free name of <file>.bak, <file>.bak.1, <file>.bak.2, … before
// the defaults take its place, and a file the user named is refused and left
// as it is.

#include <array>
#include <cstdint>
#include <string>

#include "platform/types/font_description.h"
#include "platform/types/rgb.h"

enum HeaderPosition : int32_t {
    BottomLeft = 0,
    BottomRight = 1,
    TopLeft = 2,
    TopRight = 3,
};

class Options {
public:
    static constexpr size_t kHeaderSize = 8;
    static constexpr size_t kBodySize = 120;
    static constexpr size_t kFileSize = kHeaderSize + kBodySize;
    static constexpr const char* kFileName = "options.swk";

    // What loading does with a file that exists but holds no settings.
    enum class Foreign {
        KeepAside, // moved to <file>.bak, then replaced by the defaults
        Refuse,    // left untouched; the record holds the defaults, unsaved
    };
    // What the last load did.
    enum class Loaded {
        Read,            // the file's settings
        Created,         // there was no file; one with the defaults was made
        ReplacedForeign, // the file held no settings: kept as `backupPath`, replaced
        RefusedForeign,  // the file held no settings and was left alone
        Unusable,        // not a file that can hold settings (a folder, say), or one that
                         // cannot be moved aside: left alone
    };

    // Uses options.swk in the current directory, then loads or creates it.
    Options();
    // Uses the given file, then loads or creates it.
    explicit Options(std::string path, Foreign foreign = Foreign::KeepAside);
    // A record of defaults in memory only: no file is read or written.
    static Options defaults();
    Options(const Options&) = default;
    Options& operator=(const Options&) = default;
    ~Options();

    // Reads the file into the record. A missing file is created with the
    // defaults; one that holds no settings is dealt with as `Foreign` says.
    // The record holds the defaults whenever the file's settings could not be
    // had.
    // Returns false when the file was refused or a needed write failed;
    // `lastError` then says why, and `loaded` says what happened.
    bool load();
    // Writes the whole record; returns false (the old file intact) when the
    // file could not be written completely. `lastError` then says why.
    bool save();
    // Every body field to its default; the header and the path stay.
    void setDefaults();

    // The first value that no sheet can be made with, as "columns is -3; it
    // must be 0 or more", or empty when there is none. The record keeps such
    // values (the file may hold anything); front ends ask before a capture.
    std::string unusableValue() const;

    std::array<uint8_t, kFileSize> toBytes() const;
    // Overlays the first `count` bytes of the file image onto the record.
    void overlayBytes(const uint8_t* bytes, size_t count);

    // Header.
    char magic[4] = {};
    uint8_t formatTag1 = 0;
    uint8_t formatTag2 = 0;
    uint8_t reserved[2] = {};

    // Body, in file order.
    int32_t spacingX = 0;
    int32_t spacingY = 0;
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t shadowOffsetX = 0;
    int32_t shadowOffsetY = 0;
    int32_t shadowIntensity = 0;
    uint8_t shadowEnabled = 0;
    uint8_t headerEnabled = 0;
    uint8_t timeStampsEnabled = 0;
    uint8_t padding1 = 0;
    int32_t headerPosition = 0;
    int32_t jpegQuality = 0;
    uint8_t jpegProgressive = 0;
    uint8_t padding2[3] = {};
    // A face name read from the file is at most 32 bytes, up to its first
    // NUL, read as UTF-8 or, when it is not, as Latin-1. At most 31 bytes of
    // a new name are saved, cut at a character's start, and then a NUL.
    FontDescription font;
    Rgb textColor;
    Rgb backgroundColor;

    // In memory only.
    std::string filePath;
    std::string lastError;
    Loaded loaded = Loaded::Read;
    std::string backupPath; // where the last load moved a foreign file (.bak, .bak.1, …)

private:
    struct Detached {};
    explicit Options(Detached) {}
    void resetHeader();
    void readFontAndColours(const uint8_t* bytes);
    void writeFontAndColours(uint8_t* bytes) const;
    bool useDefaults(Loaded what, std::string why);
    bool replaceKeepingTheOld();

    Foreign foreign_ = Foreign::KeepAside;
    // The file's bytes from the font record to the end, as last read (or
    // set as defaults): the source of what the plain values cannot hold.
    static constexpr size_t kFontOffset = 60;
    std::array<uint8_t, kFileSize - kFontOffset> fontAndColourBytes_{};
};
