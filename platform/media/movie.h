#pragma once
// Opening a movie file and reading the facts every part of the graph needs:
// which stream is the video, its clock, where the movie starts, how long it
// really is.
//
// Ownership: `openInput` hands the caller an owning InputPtr. `MovieInfo` is
// a plain value that holds no FFmpeg object except a pointer to a demuxer
// description, which FFmpeg keeps for the life of the process, and a copy of
// the video stream's parameters, owned through its own deleter.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/av_ptr.h"
#include "platform/media/graph.h"
#include "platform/media/picture.h"

namespace media::detail {

struct MovieInfo {
    std::string path;
    const AVInputFormat* format = nullptr;          // the demuxer that recognised the file
    std::vector<MajorType> streamTypes;             // per stream, in stream order
    int videoStream = -1;                           // -1: the movie has no video
    std::shared_ptr<const AVCodecParameters> video; // copy of the stream's parameters
    AVRational timeBase{0, 1};
    int64_t zero = 0;                        // the movie's start on the video stream's clock
    int64_t firstTimestamp = AV_NOPTS_VALUE; // the video's first frame, when known
    int64_t frameDuration = 0;               // one frame on that clock; 0 when unknown
    int reorderDelay = 0;                    // frames the decoder may hold back (B-frames)
    int width = 0;                           // as stored
    int height = 0;
    // As shown: the sample aspect ratio applied (the width changes, the
    // height stays, as players do it), then the display matrix's turn.
    int scaledWidth = 0;
    int scaledHeight = 0;
    Orientation orientation;
    int displayWidth() const { return orientation.swapsAxes() ? scaledHeight : scaledWidth; }
    int displayHeight() const { return orientation.swapsAxes() ? scaledWidth : scaledHeight; }
    double avgFrameTime = 0;      // seconds; 0 when the movie does not say
    bool timestampsInFile = true; // false for raw elementary streams
    // The container stamps packets in decoding order only (AVI): what
    // FFmpeg makes of their presentation times is a guess, late by the
    // decoder's reordering delay.
    bool decodingStampsOnly = false;
    // A stream without an index or header (transport and program streams,
    // elementary streams): reading starts over at byte 0, where time stamp
    // seeks would land wherever their search ends.
    bool restartsAtByteZero = false;
};

// Opens the file (with the given demuxer, or any that recognises it) and
// reads the stream parameters. `stop`, when given, aborts blocking reads;
// once it is set the opening fails with E_ABORT. Only regular files are
// opened (or what an installed InputSource hands out): the graph reads a
// movie several times over, which a pipe, a device or a socket cannot give,
// and opening a pipe blocks until something writes to it. Anything else is
// refused with E_NOT_REGULAR_FILE before it is touched.
// How much is read: `Probe::Full` decodes a little of every stream to learn
// its parameters; `Probe::IfNeeded` stops after the header when the format
// lists its streams there, for a file already probed once; `Probe::Header`
// never reads on, for a caller that only reads packets.
enum class Probe { Full, IfNeeded, Header };
Result openInput(const std::string& path, const AVInputFormat* format,
                 const std::atomic<bool>* stop, av::InputPtr* out, Probe probe = Probe::Full);

// How much a second opening of a movie the graph already probed must read.
// Where the container stamps every packet with its presentation time the
// header is enough; elsewhere the demuxer guesses missing times from what the
// probe learnt about the decoder's delay, and must guess as it did the first
// time.
Probe probeForReopening(const MovieInfo& info);

// Fills `info` from an opened file.
void describe(AVFormatContext* input, const std::string& path, MovieInfo* info);

// The length of the movie in 100-ns units. When the container has no length
// or only guesses it from the bit rate, the file is read for the timestamps
// at its end, so this may take a while on a large elementary stream; `stop`,
// when given, ends that reading early and the measurement with E_ABORT.
Result measureDuration(AVFormatContext* input, const MovieInfo& info, int64_t* duration,
                       const std::atomic<bool>* stop = nullptr);

// Conversions between the video stream's clock and 100-ns units from the
// movie's start. `compareToPosition` is exact (no rounding): -1, 0 or 1 as
// the time stamp lies before, at or after the position.
int64_t toPosition(const MovieInfo& info, int64_t timestamp);
int64_t toTimestampFloor(const MovieInfo& info, int64_t position);
int compareToPosition(const MovieInfo& info, int64_t timestamp, int64_t position);
double toSeconds(const MovieInfo& info, int64_t timestamp);

} // namespace media::detail
