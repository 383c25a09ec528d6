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

#include <string>

namespace testmovies {

enum class Footage {
    TsH264OneKeyFrame, // one key frame at the start, three B-frames
    TsH264ManyKeyFrames,
    TsH264Interlaced,
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
};

struct FootageSpec {
    Footage kind = Footage::TsH264ManyKeyFrames;
    int frames = 150; // at 25 frames a second
    // Frames whose picture is destroyed in the damaged kind.
    int damageFrom = 60;
    int damageTo = 90;
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

// Overwrites the coded pictures of the video frames [from, to) (in decoding
// order) with zeros, leaving the container around them intact.
int zeroVideoFrames(const std::string& path, int from, int to, std::string* error);

} // namespace testmovies
