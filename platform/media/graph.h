#pragma once
// A small media graph over FFmpeg with the shape the capture and the probe
// were written against: a graph manager, a source filter, a sample grabber,
// pins, connect, render, seeking in 100-ns media time, run and wait.
//
// Ownership: every object here is owned by a std::unique_ptr in the caller's
// scope; there is no reference counting. A filter joins a graph with
// `addFilter` but stays owned by the caller. Destroying the graph stops any
// decoding it runs (joining its threads) and leaves the filters detached;
// destroying a filter that is in a graph first stops and detaches it, so the
// order of destruction does not matter. FFmpeg objects inside are held by
// unique_ptrs with deleters.
//
// Results are int32_t: 0 (`S_OK`) or positive on success, negative on
// failure. FFmpeg's AVERROR values pass through unchanged; the layer's own
// codes lie outside their range. `resultText` describes any of them.
//
// Threads: a graph is used from one thread at a time. Decoding runs on the
// graph's own threads; `BufferCB` is called during `waitForCompletion`, on
// the waiting thread itself, never after the wait returns. The one exception
// is the stop flag (see `setStopFlag`), which any thread may set.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

using Result = int32_t;

constexpr Result S_OK = 0;
constexpr Result S_FALSE = 1;
constexpr bool failed(Result r) {
    return r < 0;
}
constexpr bool succeeded(Result r) {
    return r >= 0;
}

// The layer's own failures (HRESULT-shaped, below every AVERROR value).
constexpr Result E_FAIL = static_cast<Result>(0x80004005u);
constexpr Result E_OUTOFMEMORY = static_cast<Result>(0x8007000Eu);
constexpr Result E_INVALIDARG = static_cast<Result>(0x80070057u);
constexpr Result E_NOTIMPL = static_cast<Result>(0x80004001u);
constexpr Result E_ABORT = static_cast<Result>(0x80004004u);          // the stop flag was set
constexpr Result E_NO_FILE_NAME = static_cast<Result>(0x80040201u);   // load without a path
constexpr Result E_NO_FILE_LOADED = static_cast<Result>(0x80040202u); // addFilter before load
constexpr Result E_ALREADY_IN_GRAPH = static_cast<Result>(0x80040203u);
constexpr Result E_NOT_IN_GRAPH = static_cast<Result>(0x80040204u);
constexpr Result E_NO_VIDEO_STREAM = static_cast<Result>(0x80040205u);
constexpr Result E_NO_DECODER = static_cast<Result>(0x80040206u);
constexpr Result E_TYPE_NOT_ACCEPTED = static_cast<Result>(0x80040207u); // grabber refuses the type
constexpr Result E_NOT_CONNECTED = static_cast<Result>(0x80040208u);
constexpr Result E_ALREADY_CONNECTED = static_cast<Result>(0x80040209u);
constexpr Result E_WRONG_DIRECTION = static_cast<Result>(0x8004020Au);
constexpr Result E_NOT_RENDERED = static_cast<Result>(0x8004020Bu);
constexpr Result E_NO_CALLBACK = static_cast<Result>(0x8004020Cu);
constexpr Result E_BAD_VIDEO_SIZE = static_cast<Result>(0x8004020Du);
constexpr Result E_TIMEOUT = static_cast<Result>(0x8004020Eu);
constexpr Result E_NOT_SEEKABLE = static_cast<Result>(0x8004020Fu);
constexpr Result E_NO_CONVERSION = static_cast<Result>(0x80040210u); // no RGB from this format
// A pipe, a device, a socket or a URL of a protocol other than files.
constexpr Result E_NOT_REGULAR_FILE = static_cast<Result>(0x80040211u);

// Readable description of any result; never empty.
std::string resultText(Result code);

// Frames the decoders of every graph in this process have produced so far:
// the measure of decoding work for benchmarks and tests.
int64_t decodedFrameCount();

// The cores the decoding of one graph may count on, for a program that runs
// several graphs at once and shares the machine between them; 0 (the
// default) means every core. The frames delivered are the same for any count.
void setDecodingCores(int cores);

// Event codes that `waitForCompletion` reports.
constexpr int32_t EC_COMPLETE = 0x01;
constexpr int32_t EC_USERABORT = 0x02;
constexpr int32_t EC_ERRORABORT = 0x03;

enum class PinDirection { Input, Output };
enum class MajorType { Unknown, Video, Audio, Subtitle, Data };
enum class SubType { Unknown, RGB24 };

struct MediaType {
    MajorType majortype = MajorType::Unknown;
    SubType subtype = SubType::Unknown;
};

class Filter;

class Pin {
public:
    virtual ~Pin() = default;
    virtual PinDirection direction() const = 0;
    // What the pin carries: a source's output pin carries its stream's type;
    // the grabber's pins carry video.
    virtual MajorType majorType() const = 0;
    virtual Filter& filter() const = 0;
};

class Filter {
public:
    virtual ~Filter() = default;
    // Pins in the filter's own order (a source: one output pin per stream,
    // in stream order; the grabber: its input pin, then its output pin).
    // A source has pins only once it has joined a graph.
    virtual int pinCount() const = 0;
    virtual Pin* pin(int index) const = 0;
};

// The index-th pin of the given direction, in pin order. E_FAIL (and a null
// pin) when there is no such pin.
Result findPin(Filter& filter, PinDirection direction, int index, Pin** out);
Pin* inputPin(Filter& filter, int index);
Pin* outputPin(Filter& filter, int index);

// A movie file as a filter. As the ASF reader it opens only ASF files (.wmv,
// .asf) and refuses any other file when it joins a graph; as the async reader
// it opens anything FFmpeg recognises.
enum class SourceRole { AsfReader, AsyncReader };

class SourceFilter : public Filter {
public:
    static Result create(SourceRole role, std::unique_ptr<SourceFilter>* out);
    // Takes the file name (UTF-8). Checks only that there is one; the file is
    // opened when the filter joins a graph.
    virtual Result load(const std::string& path) = 0;
    virtual SourceRole role() const = 0;
};

class SampleGrabberCB {
public:
    virtual ~SampleGrabberCB() = default;
    // One RGB24 frame: rows bottom-up, each padded to a multiple of 4 bytes,
    // at the connected size (the display size, see getDisplaySize). `sampleTime` is the frame's
    // presentation time in seconds from the movie's start. `buffer` is valid during the call only.
    virtual Result BufferCB(double sampleTime, uint8_t* buffer, long length) = 0;
};

class SampleGrabber : public Filter {
public:
    static Result create(std::unique_ptr<SampleGrabber>* out);
    // The type the grabber accepts on its input. Only video RGB24 can be
    // connected; any other type makes `connect` fail with E_TYPE_NOT_ACCEPTED.
    virtual Result setMediaType(const MediaType& type) = 0;
    // Buffering keeps no copy here; true is refused with E_NOTIMPL.
    virtual Result setBufferSamples(bool buffer) = 0;
    // One-shot: each run after a seek delivers one frame, then completes.
    // Continuous delivery is refused with E_NOTIMPL.
    virtual Result setOneShot(bool oneShot) = 0;
    // which = 1 selects BufferCB; anything else is E_NOTIMPL.
    virtual Result setCallback(SampleGrabberCB* callback, int which) = 0;
    // The frame size the connection delivers (after a successful connect):
    // the video's display size.
    virtual Result getConnectedSize(int32_t* width, int32_t* height) const = 0;
};

class FilterGraph {
public:
    static Result create(std::unique_ptr<FilterGraph>* out);
    virtual ~FilterGraph() = default;

    // A flag another thread sets to end the graph's work early: once it is
    // set, opening a file (addFilter, renderFile), measuring the length and
    // waiting for a frame stop within a packet's reading or decoding and
    // fail with E_ABORT, and decoding ends for good. Set before the work it
    // is to stop; the flag must outlive the graph. Null (the default): the
    // work always runs to its end.
    virtual void setStopFlag(const std::atomic<bool>* stop) = 0;

    // The filter joins the graph under the name. A source opens its file
    // here (and refuses it here) and gets its pins.
    virtual Result addFilter(Filter& filter, const std::string& name) = 0;
    // Source output pin to grabber input pin: finds the decoder for the pin's
    // stream and sets up conversion to what the grabber accepts, at the
    // stream's native size.
    virtual Result connect(Pin& out, Pin& in) = 0;
    // Completes the graph after the pin. There is no window to show.
    virtual Result render(Pin& out) = 0;
    // For the probe: opens the file (any format) as a source with its video
    // decoder, so the reads below can answer. Nothing is decoded.
    virtual Result renderFile(const std::string& path) = 0;

    // Absolute position in 100-ns units from the movie's start; re-arms the
    // one-shot grabber. After the next run, the frame delivered is the first
    // whose presentation time is at or after the position, or the last frame
    // when the position lies beyond it.
    virtual Result setPositions(int64_t current) = 0;
    // Length of the movie in 100-ns units, from the timestamps at the end of
    // the file when the container gives none or only an estimate.
    virtual Result getDuration(int64_t* duration) = 0;

    virtual Result run() = 0;
    // Blocks until the run delivered its frame (or found none) and completed;
    // timeoutMs < 0 waits as long as it takes. `eventCode` gets EC_COMPLETE,
    // or EC_ERRORABORT when decoding failed. E_ABORT, with EC_USERABORT and
    // nothing delivered, when the stop flag was set.
    virtual Result waitForCompletion(int32_t timeoutMs, int32_t* eventCode) = 0;

    // Native size of the video and the average time between frames (seconds;
    // 0 when the movie does not say).
    virtual Result getVideoSize(int32_t* width, int32_t* height) = 0;
    // The size players show the video at, which is the size frames are
    // delivered at: the sample aspect ratio applied (the width changes) and
    // the display matrix's quarter turn (width and height trade places).
    virtual Result getDisplaySize(int32_t* width, int32_t* height) = 0;
    // Packets and frames the decoders could not decode in the searches
    // whose outcome was delivered since the graph was connected.
    virtual int32_t decoderErrors() const = 0;
    virtual Result getAvgTimePerFrame(double* seconds) = 0;

    // The positions the following seeks will ask for, in order. The graph may
    // decode them ahead, on several threads; frames are still delivered one
    // per run, in the order of the seeks, and are the same frames.
    virtual void announcePositions(const std::vector<int64_t>& positions) = 0;
    // How many moments are decoded at once after `announcePositions`; 0 (the
    // default) means one per processor core. The frames are the same for any
    // count.
    virtual void setWorkerCount(int count) = 0;
    // Key-frame mode: each announced position then gets the key frame
    // nearest it, decoded alone and timed by its own time stamp, when that
    // lies within `tolerance` (100-ns units) of the position, and the exact
    // frame otherwise. Negative (the default): exact frames. Positions that
    // were not announced always get the exact frame.
    virtual void setKeyFrameTolerance(int64_t tolerance) = 0;
};

} // namespace media
