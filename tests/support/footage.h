#pragma once
// Movies of the kinds cameras, phones, broadcasters and old collections
// produce, made at run time: the maker writes a lossless source and the
// ffmpeg tool turns it into the kind (transport and program streams, AVI
// with B-frames, cover pictures, rotation, anamorphic pixels, HDR), since
// several of these cannot be written through the maker's own muxing.
//
// Every kind keeps the maker's frame numbering: frame n is shown at
// n × fpsDen / fpsNum seconds from the movie's start, and carries the colour
// code of n (over the whole picture for the flat kinds, in the index box of
// the pleasant pattern for the kinds whose geometry or colour matters).

#include <cstdint>
#include <string>
#include <vector>

namespace testmovies {

enum class Footage {
    TsH264OneKeyFrame, // one key frame at the start, three B-frames
    TsH264ManyKeyFrames,
    TsH264Interlaced, // libx264's MBAFF: one picture a frame, top field first
    TsHevc,
    TsMpeg2,
    PsMpeg2OpenGop,  // GOP 30, two B-frames, open GOPs
    AviMpeg4BFrames, // XviD style
    MkvCoverFirst,   // a still picture as the first video stream
    Mp4CoverAfter,   // an attached picture after the video
    Rotated90,       // display matrix, MP4
    Rotated180,
    Rotated270,
    Flipped,       // mirrored left to right by the display matrix
    Anamorphic4x3, // 240x180 with samples 4:3 wide: shown 320x180
    Anamorphic8x9, // 176x144 with samples 8:9 wide: shown 156x144
    Hdr10,         // HEVC 10-bit, BT.2020, PQ
    Hlg,           // HEVC 10-bit, BT.2020, HLG
    DamagedMiddle, // MJPEG in QuickTime whose middle frames are zeroed
    // Interlaced as AVCHD camcorders write 1080i: H.264 field pictures
    // (field_movies.h), every field its own packet, closed GOPs of half a
    // second shown I B B P B B P ..., 320x256 unless asked otherwise.
    TsH264Paff,    // transport stream, every field its own PES packet
    MtsH264Paff,   // the same with the 192-byte packets of .mts and .m2ts
    EsH264Paff,    // the bare stream, .h264
    MkvH264Paff,   // remuxed to Matroska, one block per field
    TsMpeg2Fields, // MPEG-2 field pictures, as SD broadcast encoders write them
    // Bare elementary streams, as dash cams and security cameras write them:
    // no container, so no time stamps but the stream's own frame rate.
    EsH264,    // .h264, two B-frames
    EsH264NoB, // .264, Baseline profile, no B-frames
    EsHevc,    // .hevc, three B-frames
    EsHevcNoB, // .265, no B-frames
};

struct FootageSpec {
    Footage kind = Footage::TsH264ManyKeyFrames;
    int frames = 150; // at fpsNum / fpsDen frames a second
    // Frames whose picture is destroyed in the damaged kind.
    int damageFrom = 60;
    int damageTo = 90;
    int fpsNum = 25;
    int fpsDen = 1;
    // The stored size of the field kinds (0: footageSizes); the others keep
    // theirs.
    int width = 0;
    int height = 0;
    // The H.264 field kinds coded compactly (FieldStreamSpec::compact).
    bool compactFields = false;
};

const char* footageName(Footage kind);
// The file name extension the kind is written with (".ts", ".mpg", ...).
const char* footageExtension(Footage kind);
// Whether the kind keeps flat colours whole (the index pattern over the
// whole frame) or carries the pleasant pattern with the code in its box.
bool footageIsFlat(Footage kind);
// Stored frame size of the kind and the size players show it at.
void footageSizes(Footage kind, int* width, int* height, int* displayWidth, int* displayHeight);

// Writes the movie of the kind to `path` (its own sources go beside it).
// 0 on success; otherwise non-zero with `error` saying what failed.
int makeFootage(const FootageSpec& spec, const std::string& path, std::string* error);

// The SDR picture an HDR kind was made from, at the same path the kind would
// be written to with "-sdr.nut" added: made by `makeFootage` for the HDR kinds.
std::string sdrSourceOf(const std::string& path);

// Whether the kind is written as field pictures, two packets a frame.
bool footageHasFieldPictures(Footage kind);
// The kind named by footageName, false when there is none.
bool footageByName(const std::string& name, Footage* kind);
// Every kind, in the order of the enumeration.
const std::vector<Footage>& allFootage();

// Overwrites the coded pictures of the video packets [from, to) (in decoding
// order, as libavformat reads them: one per field for the field kinds but
// MPEG-2, whose parser joins a frame's fields) with zeros, leaving the
// container around them intact: in transport streams only the payload bytes
// of those packets are zeroed, the packet headers stay.
int zeroVideoFrames(const std::string& path, int from, int to, std::string* error);

// A place in a file: a share of its size, or a byte offset. Beyond the end
// means the end.
struct FilePoint {
    static FilePoint share(double fraction) { return FilePoint{fraction, -1}; }
    static FilePoint offset(int64_t bytes) { return FilePoint{-1, bytes}; }
    // The byte offset in a file of `size` bytes.
    int64_t in(int64_t size) const;

    double fraction = -1;
    int64_t bytes = -1;
};

// A download or a copy that stopped: the bytes of `source` before `end`,
// written to `dest`.
int cutAt(const std::string& source, const std::string& dest, FilePoint end, std::string* error);
// Bad sectors or a lost signal: zeros over [from, to) of the file, in place,
// whatever lies there (container headers and all).
int zeroStretch(const std::string& path, FilePoint from, FilePoint to, std::string* error);

} // namespace testmovies
