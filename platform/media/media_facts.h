#pragma once
// Everything a script may want to know about a movie file, read from its
// container and stream headers without decoding a picture: the container, the
// video stream's codec, sizes, rate and colour description, and each sound
// track.
//
// The length is measured the way the capture measures it (the timestamps at
// the end of the file when the container gives none or only a guess), so the
// figure a script reads is the one the sheet's moments are spread over.
//
// Ownership: plain values. `readMediaFacts` opens and closes the file inside
// the call; a MovieReader that is open anyway has the same facts. Unknown
// values stay empty or 0 — the callers decide how to show "unknown".

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types/result.h"

namespace media {

struct VideoFacts {
    std::string codec;   // FFmpeg's short name: "h264", "mpeg4", ...
    std::string profile; // "High", "Main", ...; empty when the codec has none
    int width = 0;       // as stored
    int height = 0;
    // As players show it: the sample aspect ratio applied to the width, then
    // turned by the rotation.
    int displayWidth = 0;
    int displayHeight = 0;
    int sampleAspectNum = 0; // 0/0 when the file does not say (square pixels)
    int sampleAspectDen = 0;
    int rotation = 0; // clockwise quarter turns a player applies: 0, 90, 180, 270
    // The average frame rate: as stated, or frames over length where the
    // stream states none or its timestamps contradict it; 0/0 when unknown.
    int frameRateNum = 0;
    int frameRateDen = 0;
    int64_t bitRate = 0; // of the video stream alone, bits per second; 0 unknown
    std::string pixelFormat;
    std::string colorTransfer;  // "bt709", "smpte2084", ...; empty when unspecified
    std::string colorPrimaries; // "bt709", "bt2020", ...; empty when unspecified
    std::string colorSpace;     // the matrix: "bt709", "bt470bg", ...
    std::string colorRange;     // "tv" or "pc"
};

struct AudioFacts {
    std::string codec;
    int channels = 0;
    int sampleRate = 0;
    int64_t bitRate = 0;
    std::string language; // the stream's language tag ("eng"), empty when none
};

struct MediaFacts {
    int64_t fileSize = -1;     // bytes; -1 when the file cannot be looked at
    std::string container;     // the demuxer's name: "matroska,webm", "avi", ...
    std::string containerName; // its long name
    int64_t duration = -1;     // 100-ns units; -1 when unknown or not measured
    // What of it can be read, when the data ends before `duration` (a
    // cut-short file); -1 when the movie is whole or that was not measured.
    int64_t readableDuration = -1;
    int64_t bitRate = 0;     // of the whole file, bits per second; 0 unknown
    bool hasVideo = false;   // a video stream that is not a cover picture
    bool stillImage = false; // the file is a single picture (JPEG, PNG, ...)
    VideoFacts video;        // valid when hasVideo
    std::vector<AudioFacts> audio;
};

enum class FactsDepth {
    Streams, // container and streams only: enough to tell a movie from other files
    Full,    // also the measured length
};

// Reads the facts of the file: success, or the failure of opening or reading
// it (a file that opens but has no video is no failure here: `hasVideo` says
// so). `stop`, when given and set by another thread, cancels the reading.
Result readMediaFacts(const std::string& path, FactsDepth depth, MediaFacts* out,
                      const std::atomic<bool>* stop = nullptr);

// A file a contact sheet can be made of: moving pictures, not a still image
// nor a sound file with a cover picture.
inline bool isMovie(const MediaFacts& facts) {
    return facts.hasVideo && !facts.stillImage;
}

} // namespace media
