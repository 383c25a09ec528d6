#pragma once
// Opening a movie file and reading the facts every part of the reader needs:
// which stream is the video, its clock, where the movie starts, how long it
// really is and how much of it can be read.
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
#include "platform/media/picture.h"
#include "platform/types/result.h"

namespace media::detail {

// What a stream carries, as far as the reader cares. Cover pictures count as
// data, not video.
enum class StreamKind { Other, Video, Audio, Data };

struct MovieInfo {
    std::string path;
    const AVInputFormat* format = nullptr;          // the demuxer that recognised the file
    std::vector<StreamKind> streamKinds;            // per stream, in stream order
    int videoStream = -1;                           // -1: the movie has no video
    std::shared_ptr<const AVCodecParameters> video; // copy of the stream's parameters
    AVRational timeBase{0, 1};
    int64_t zero = 0;                        // the movie's start on the video stream's clock
    int64_t firstTimestamp = AV_NOPTS_VALUE; // the video's first frame, when known
    int64_t frameDuration = 0;               // one frame on that clock; 0 when unknown
    int reorderDelay = 0;                    // frames the decoder may hold back (B-frames)
    // The stream states one rate, and its average is that rate: frames come
    // at steady intervals, so a long gap between two is lost pictures.
    bool constantRate = false;
    int width = 0; // as stored
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
    // The codec may code a picture as two field pictures in packets of their
    // own (H.264 as camcorders write interlaced video, MPEG-2).
    bool fieldPictures = false;
    // The stream carries no time stamps at all (bare H.264 and HEVC): the
    // n-th picture from its start is shown n frames after the movie's start.
    bool countsFrames = false;
    // The end of the last frame that can be read, on the stream's clock:
    // before the stated length when the file is cut short. Unknown until
    // measured.
    int64_t end = AV_NOPTS_VALUE;
};

// Which packets carry the second field of a picture coded as two field
// pictures, from the codec's own parser.
class FieldPairs {
public:
    explicit FieldPairs(const AVCodecParameters* video);
    ~FieldPairs();
    FieldPairs(const FieldPairs&) = delete;
    FieldPairs& operator=(const FieldPairs&) = delete;
    // True when the packet completes the picture the packet before began.
    bool secondField(const AVPacket* packet);
    // The last packet was a first field whose partner is still to come.
    bool awaitingSecond() const { return pending_ != 0; }
    // After a seek: no field waits for its partner.
    void reset() { pending_ = 0; }

private:
    struct ParserDeleter {
        void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
    };
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser_;
    av::CodecPtr context_;
    int pending_ = 0; // the parity of a first field still alone, 0 for none
};

// Opens the file (with the given demuxer, or any that recognises it) and
// reads the stream parameters. `stop`, when given, aborts blocking reads;
// once it is set the opening is cancelled. Only regular files are opened (or
// what an installed InputSource hands out): the reader seeks back and forth,
// which a pipe, a device or a socket cannot give, and opening a pipe blocks
// until something writes to it. Anything else is refused before it is
// touched.
// How much is read: `Probe::Full` decodes a little of every stream to learn
// its parameters; `Probe::IfNeeded` stops after the header when the format
// lists its streams there, for a file already probed once; `Probe::Header`
// never reads on, for a caller that only reads packets.
enum class Probe { Full, IfNeeded, Header };
Result openInput(const std::string& path, const AVInputFormat* format,
                 const std::atomic<bool>* stop, av::InputPtr* out, Probe probe = Probe::Full);

// How much a second opening of a movie the reader already probed must read.
// Where the container stamps every packet with its presentation time the
// header is enough; elsewhere the demuxer guesses missing times from what the
// probe learnt about the decoder's delay, and must guess as it did the first
// time.
Probe probeForReopening(const MovieInfo& info);

// Fills `info` from an opened file.
void describe(AVFormatContext* input, const std::string& path, MovieInfo* info);

// The length of the movie in 100-ns units, as the container states it or,
// where it has none or only guesses it from the bit rate, from the timestamps
// at the end of the file. An elementary stream has no timestamps: it is read
// through from where `input` stands, which must be its start (a demuxer not
// yet sought), and `frames` gets its number of pictures. `stop`, when given,
// ends that reading early and the measurement as cancelled.
Result measureDuration(AVFormatContext* input, const MovieInfo& info, int64_t* duration,
                       int64_t* frames, const std::atomic<bool>* stop = nullptr);

// Where the data really ends, for a file whose container states a length:
// the end (stream clock) of the last frame that decodes when the data stops
// before `statedEnd` (a cut-short download, a broken tail), or AV_NOPTS_VALUE
// when the file reaches its stated end. Reads the file's tail and decodes at
// most a few groups of pictures; never the whole file.
int64_t findReadableEnd(AVFormatContext* input, const MovieInfo& info, int64_t statedEnd,
                        const std::atomic<bool>* stop);

// The video's pictures per second from the first packets of the file, which
// `input` must stand at; 0 when they do not say.
double sampledFrameRate(AVFormatContext* input, const MovieInfo& info);

// The number of video packets in the file, read without decoding; -1 when
// the file is too large to read for it or cannot be read.
int64_t countVideoPackets(AVFormatContext* input, const MovieInfo& info,
                          const std::atomic<bool>* stop);

// The average time between frames in seconds: the stated rate, unless the
// stream states none or the frames contradict it (variable rate), then
// `frames` over `seconds`. 0 when nothing says.
double averageFrameTime(double statedRate, double sampledRate, int64_t frames, double seconds);

// Conversions between the video stream's clock and 100-ns units from the
// movie's start. `compareToPosition` is exact (no rounding): -1, 0 or 1 as
// the time stamp lies before, at or after the position.
int64_t toPosition(const MovieInfo& info, int64_t timestamp);
int64_t toTimestampFloor(const MovieInfo& info, int64_t position);
int compareToPosition(const MovieInfo& info, int64_t timestamp, int64_t position);
double toSeconds(const MovieInfo& info, int64_t timestamp);

} // namespace media::detail
