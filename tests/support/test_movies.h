#pragma once
// Test movies made at run time with libavcodec/libavformat, so that no binary
// test data lives in the repository.
//
// In the index pattern every frame n is one flat colour that encodes n. Each
// channel takes one of twelve well-separated levels, so the code survives
// lossy coding and the YUV round trip, and a reader can tell 1727 frames
// apart; a colour that lies between levels reads as -1 rather than as a wrong
// frame. Frame n is shown at n × fpsDen / fpsNum seconds from the movie's start.
//
// The pleasant pattern is for people: drifting colour gradients, moving
// discs, a sweeping clock hand and a progress bar, so that a contact sheet of
// it shows time passing. It can carry the index code in a box in its top-left
// corner, for checks on realistic content; in long movies the code there
// starts again after frame 1726.
//
// Ownership: everything here is plain functions over files; FFmpeg objects
// live inside `make` only, held by unique_ptrs.

#include <cstdint>
#include <string>
#include <vector>

namespace testmovies {

enum class Pattern { Index, Pleasant };

// Frames first..last (inclusive) painted one flat grey level instead of the
// pattern: black gaps, white flashes, the bottom of a fade.
struct FlatStretch {
    int first = 0;
    int last = 0;
    uint8_t level = 0;
};

struct MovieSpec {
    std::string path;
    // Muxer name; empty: chosen from the extension (.avi .mov .qt .mpg .mpeg
    // .dat .m1v .rm .rmvb .wmv .asf .mp4 .mkv .wav .mp2 .mka).
    std::string container;
    // Video encoder name (mpeg4, mjpeg, mpeg1video, mpeg2video, rv10, rv20,
    // wmv2, libx264, ...); empty: the container's usual one.
    std::string codec;
    int width = 176;
    int height = 144;
    int fpsNum = 25;
    int fpsDen = 1;
    int frames = 50;
    int gop = 12;    // distance between key frames
    int bFrames = 0; // consecutive B-frames between references
    bool video = true;
    bool audio = false;
    bool audioFirst = false; // audio as stream 0, as many WMV files have it
    Pattern pattern = Pattern::Index;
    bool indexPatch = false; // pleasant pattern with the index code in a corner
    int noise = 0;           // 0..64: fine moving texture that costs bits to code
    std::string x264Preset = "veryfast";
    std::vector<FlatStretch> flat;
    // Sample aspect ratio written into the stream (0/0: none stated), the
    // clockwise turn a player applies (a display matrix, in containers that
    // carry one), and the sound track's language tag.
    int sarNum = 0;
    int sarDen = 0;
    int rotation = 0;
    std::string audioLanguage;
};

// Writes the movie. 0 on success; otherwise non-zero and `error` (when given)
// says what failed.
int make(const MovieSpec& spec, std::string* error);

// The largest frame index the colour code can carry.
constexpr int kMaxIndex = 1726;

void colorForIndex(int index, uint8_t* r, uint8_t* g, uint8_t* b);
// The index a decoded colour stands for, or -1 when it is none.
int indexFromColor(uint8_t r, uint8_t g, uint8_t b);
// Average of a rectangle of 24-bit pixels stored blue, green, red (the layout
// the grabber and the sheet use), read as an index. Rows are counted in
// memory order, whatever the picture's orientation.
int indexFromBgr(const uint8_t* pixels, int stride, int x, int y, int w, int h);
// The same for pixels stored red, green, blue (the renderer's pictures).
int indexFromRgb(const uint8_t* pixels, int stride, int x, int y, int w, int h);

// Where the pleasant pattern puts the index box, for a frame of the given size.
struct Box {
    int x, y, w, h;
};
Box indexPatchBox(int width, int height);

// Broken files.
int writeRandomBytes(const std::string& path, size_t size, uint32_t seed, std::string* error);
int writeEmpty(const std::string& path, std::string* error);
// Copies the first `keep` bytes of `source` to `path`.
int writeTruncated(const std::string& source, const std::string& path, size_t keep,
                   std::string* error);

} // namespace testmovies
