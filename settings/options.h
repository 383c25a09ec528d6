#pragma once
// The settings record and its 128-byte file.
//
// Exactly one record is live in a program (the desktop program's application
// object, or the command line's); `g_options` points at it from construction
// to destruction. Copies are plain values: a capture takes one when it starts
// and never looks at the live record again, so the settings dialog may change
// the live record meanwhile. Copying does not touch `g_options`.
//
// The file is the 8-byte header followed by the 120-byte body, little-endian,
// read and written field by field so the bytes do not depend on the host.

#include <array>
#include <cstdint>
#include <string>

#include "platform/types/win_types.h"

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

    // Uses options.swk in the current directory, then loads or creates it.
    Options();
    // Uses the given file, then loads or creates it.
    explicit Options(std::string path);
    // A record of defaults in memory only: no file, and `g_options` untouched.
    static Options defaults();
    Options(const Options&) = default;
    Options& operator=(const Options&) = default;
    ~Options();

    // Reads the file into the record. A missing file, or one without the
    // magic, is replaced by a file of defaults (the record holds the defaults
    // even when that write fails). A short body leaves the fields it does not
    // reach as they were. Returns false only when a needed write failed.
    bool load();
    // Writes the whole record; returns false (the old file intact) when the
    // file could not be written completely. `lastError` then says why.
    bool save();
    // Every body field to its default; the header and the path stay.
    void setDefaults();

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
    LOGFONTA font = {};
    COLORREF textColor = 0;
    COLORREF backgroundColor = 0;

    // In memory only.
    std::string filePath;
    std::string lastError;

private:
    struct Detached {};
    explicit Options(Detached) {}
    void resetHeader();
};

extern Options* g_options;
