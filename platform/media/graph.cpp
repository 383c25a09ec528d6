#include "platform/media/graph.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/media/engine.h"
#include "platform/media/log.h"
#include "platform/media/movie.h"

namespace media {

namespace {

using detail::Engine;
using detail::MovieInfo;
using detail::Picture;

class GraphImpl;

class PinImpl final : public Pin {
public:
    PinImpl(Filter& owner, PinDirection direction, MajorType type, int stream)
        : owner_(owner), direction_(direction), type_(type), stream_(stream) {}
    PinDirection direction() const override { return direction_; }
    MajorType majorType() const override { return type_; }
    Filter& filter() const override { return owner_; }
    int stream() const { return stream_; }

private:
    Filter& owner_;
    PinDirection direction_;
    MajorType type_;
    int stream_;
};

// What both kinds of filter share: membership of at most one graph, which
// they leave when they are destroyed.
class Member {
public:
    GraphImpl* graph = nullptr;
    std::string name;
    virtual ~Member() = default;
};

class SourceImpl final : public SourceFilter, public Member {
public:
    explicit SourceImpl(SourceRole role) : role_(role) {}
    ~SourceImpl() override;

    Result load(const std::string& path) override {
        if (path.empty())
            return E_NO_FILE_NAME;
        path_ = path;
        return S_OK;
    }
    SourceRole role() const override { return role_; }
    int pinCount() const override { return static_cast<int>(pins_.size()); }
    Pin* pin(int index) const override {
        return index >= 0 && index < pinCount() ? pins_[index].get() : nullptr;
    }

    // Opens the file as the role allows and makes one pin per stream. The
    // stop flag stays with the source for measuring the length.
    Result open(const std::atomic<bool>* stop) {
        if (path_.empty())
            return E_NO_FILE_LOADED;
        const AVInputFormat* format = nullptr;
        if (role_ == SourceRole::AsfReader) {
            format = av_find_input_format("asf");
            if (!format)
                return E_NOTIMPL;
        }
        stop_ = stop;
        av::InputPtr input;
        const Result rc = detail::openInput(path_, format, stop, &input);
        if (failed(rc))
            return rc;
        auto info = std::make_shared<MovieInfo>();
        detail::describe(input.get(), path_, info.get());
        pins_.clear();
        for (size_t i = 0; i < info->streamTypes.size(); ++i)
            pins_.push_back(std::make_unique<PinImpl>(*this, PinDirection::Output,
                                                      info->streamTypes[i], static_cast<int>(i)));
        input_ = std::move(input);
        info_ = std::move(info);
        durationKnown_ = false;
        return S_OK;
    }

    const std::shared_ptr<const MovieInfo>& info() const { return info_; }

    Result duration(int64_t* out) {
        if (!durationKnown_) {
            durationResult_ = detail::measureDuration(input_.get(), *info_, &duration_, stop_);
            // A stopped measurement says nothing about the movie: not kept.
            durationKnown_ = durationResult_ != E_ABORT;
        }
        *out = duration_;
        return durationResult_;
    }

private:
    SourceRole role_;
    std::string path_;
    const std::atomic<bool>* stop_ = nullptr;
    av::InputPtr input_;
    std::shared_ptr<const MovieInfo> info_;
    std::vector<std::unique_ptr<PinImpl>> pins_;
    bool durationKnown_ = false;
    Result durationResult_ = S_OK;
    int64_t duration_ = 0;
};

class GrabberImpl final : public SampleGrabber, public Member {
public:
    GrabberImpl()
        : in_(*this, PinDirection::Input, MajorType::Video, -1),
          out_(*this, PinDirection::Output, MajorType::Video, -1) {}
    ~GrabberImpl() override;

    int pinCount() const override { return 2; }
    Pin* pin(int index) const override {
        if (index == 0)
            return const_cast<PinImpl*>(&in_);
        if (index == 1)
            return const_cast<PinImpl*>(&out_);
        return nullptr;
    }
    Result setMediaType(const MediaType& type) override {
        type_ = type;
        return S_OK;
    }
    Result setBufferSamples(bool buffer) override { return buffer ? E_NOTIMPL : S_OK; }
    Result setOneShot(bool oneShot) override { return oneShot ? S_OK : E_NOTIMPL; }
    Result setCallback(SampleGrabberCB* callback, int which) override {
        if (which != 1)
            return E_NOTIMPL;
        callback_ = callback;
        return S_OK;
    }
    Result getConnectedSize(int32_t* width, int32_t* height) const override {
        if (!width || !height)
            return E_INVALIDARG;
        if (!connected)
            return E_NOT_CONNECTED;
        *width = width_;
        *height = height_;
        return S_OK;
    }

    bool accepts() const {
        return type_.majortype == MajorType::Video && type_.subtype == SubType::RGB24;
    }
    SampleGrabberCB* callback() const { return callback_; }
    const PinImpl& inputPin() const { return in_; }
    const PinImpl& outputPin() const { return out_; }
    void setConnected(int32_t width, int32_t height) {
        connected = true;
        width_ = width;
        height_ = height;
    }

    bool connected = false;

private:
    PinImpl in_;
    PinImpl out_;
    MediaType type_;
    SampleGrabberCB* callback_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

Member* memberOf(Filter& filter) {
    if (auto* s = dynamic_cast<SourceImpl*>(&filter))
        return s;
    if (auto* g = dynamic_cast<GrabberImpl*>(&filter))
        return g;
    return nullptr;
}

class GraphImpl final : public FilterGraph {
public:
    ~GraphImpl() override {
        // Decoding stops before any filter it reads from goes away.
        engine_.reset();
        for (Filter* f : members_)
            memberOf(*f)->graph = nullptr;
        members_.clear();
        if (probe_)
            probe_->graph = nullptr;
    }

    void setStopFlag(const std::atomic<bool>* stop) override {
        stop_ = stop;
        if (engine_)
            engine_->setStopFlag(stop);
    }

    Result addFilter(Filter& filter, const std::string& name) override {
        Member* m = memberOf(filter);
        if (!m)
            return E_INVALIDARG;
        if (m->graph)
            return E_ALREADY_IN_GRAPH;
        if (auto* source = dynamic_cast<SourceImpl*>(&filter)) {
            const Result rc = source->open(stop_);
            if (failed(rc))
                return rc;
        }
        m->graph = this;
        m->name = name;
        members_.push_back(&filter);
        return S_OK;
    }

    Result connect(Pin& out, Pin& in) override {
        if (out.direction() != PinDirection::Output || in.direction() != PinDirection::Input)
            return E_WRONG_DIRECTION;
        auto* source = dynamic_cast<SourceImpl*>(&out.filter());
        auto* grabber = dynamic_cast<GrabberImpl*>(&in.filter());
        if (!source || !grabber)
            return E_INVALIDARG;
        if (source->graph != this || grabber->graph != this)
            return E_NOT_IN_GRAPH;
        if (grabber->connected || source_)
            return E_ALREADY_CONNECTED;
        if (!grabber->accepts())
            return E_TYPE_NOT_ACCEPTED;
        const MovieInfo& info = *source->info();
        const int stream = static_cast<PinImpl&>(out).stream();
        if (info.videoStream < 0)
            return E_NO_VIDEO_STREAM;
        if (out.majorType() != MajorType::Video)
            return E_TYPE_NOT_ACCEPTED;
        if (stream != info.videoStream)
            return E_TYPE_NOT_ACCEPTED; // a second video stream: only the main one decodes
        Result rc = checkDecoder(info);
        if (failed(rc))
            return rc;
        grabber->setConnected(info.displayWidth(), info.displayHeight());
        source_ = source;
        grabber_ = grabber;
        rendered_ = false;
        sought_ = false;
        errors_ = 0;
        engine_ = std::make_unique<Engine>(source->info(), workers_);
        engine_->setKeyFrameTolerance(tolerance_);
        engine_->setStopFlag(stop_);
        if (!announced_.empty())
            engine_->announce(announced_);
        return S_OK;
    }

    Result render(Pin& out) override {
        if (out.direction() != PinDirection::Output)
            return E_WRONG_DIRECTION;
        Member* m = memberOf(out.filter());
        if (!m || m->graph != this)
            return E_NOT_IN_GRAPH;
        if (auto* grabber = dynamic_cast<GrabberImpl*>(&out.filter())) {
            if (!grabber->connected)
                return E_NOT_CONNECTED;
            rendered_ = true;
        }
        // There is no window to show and no sound to play: a source's other
        // streams end here.
        return S_OK;
    }

    Result renderFile(const std::string& path) override {
        if (path.empty())
            return E_NO_FILE_NAME;
        if (probe_) {
            probe_->graph = nullptr;
            probe_.reset();
        }
        auto source = std::make_unique<SourceImpl>(SourceRole::AsyncReader);
        Result rc = source->load(path);
        if (succeeded(rc))
            rc = source->open(stop_);
        if (failed(rc))
            return rc;
        const MovieInfo& info = *source->info();
        if (info.videoStream < 0)
            return E_NO_VIDEO_STREAM;
        rc = checkDecoder(info);
        if (failed(rc))
            return rc;
        source->graph = this;
        source->name = "Source";
        probe_ = std::move(source);
        return S_OK;
    }

    Result setPositions(int64_t current) override {
        if (stopRequested())
            return E_ABORT;
        if (!engine_)
            return E_NOT_CONNECTED;
        if (current < 0)
            return E_INVALIDARG;
        engine_->seek(current);
        sought_ = true;
        return S_OK;
    }

    Result getDuration(int64_t* duration) override {
        if (!duration)
            return E_INVALIDARG;
        SourceImpl* source = movie();
        if (!source)
            return E_NOT_CONNECTED;
        return source->duration(duration);
    }

    Result run() override {
        if (stopRequested())
            return E_ABORT;
        if (!engine_)
            return E_NOT_CONNECTED;
        if (!rendered_)
            return E_NOT_RENDERED;
        if (!sought_) {
            // A graph run before any seek plays from the beginning.
            engine_->seek(0);
            sought_ = true;
        }
        engine_->run();
        return S_OK;
    }

    Result waitForCompletion(int32_t timeoutMs, int32_t* eventCode) override {
        if (eventCode)
            *eventCode = 0;
        if (!engine_)
            return stopRequested() ? E_ABORT : E_NOT_CONNECTED;
        Picture picture;
        Result searchResult = S_OK;
        bool finished = false;
        const Result rc = waitForEngine(timeoutMs, &picture, &searchResult, &finished);
        if (rc == E_ABORT && eventCode)
            *eventCode = EC_USERABORT;
        if (failed(rc))
            return rc;
        errors_ += picture.decodeErrors;
        if (picture.found && grabber_->callback())
            grabber_->callback()->BufferCB(picture.seconds, picture.pixels.data(),
                                           static_cast<long>(picture.pixels.size()));
        if (eventCode)
            *eventCode = failed(searchResult) ? EC_ERRORABORT : EC_COMPLETE;
        return S_OK;
    }

    Result getVideoSize(int32_t* width, int32_t* height) override {
        if (!width || !height)
            return E_INVALIDARG;
        SourceImpl* source = movie();
        if (!source)
            return E_NOT_CONNECTED;
        const MovieInfo& info = *source->info();
        if (info.videoStream < 0)
            return E_NO_VIDEO_STREAM;
        if (info.width <= 0 || info.height <= 0)
            return E_BAD_VIDEO_SIZE;
        *width = info.width;
        *height = info.height;
        return S_OK;
    }

    Result getDisplaySize(int32_t* width, int32_t* height) override {
        int32_t w = 0, h = 0;
        const Result rc = getVideoSize(&w, &h);
        if (failed(rc))
            return rc;
        const MovieInfo& info = *movie()->info();
        *width = info.displayWidth();
        *height = info.displayHeight();
        return S_OK;
    }

    int32_t decoderErrors() const override { return errors_; }

    Result getAvgTimePerFrame(double* seconds) override {
        if (!seconds)
            return E_INVALIDARG;
        SourceImpl* source = movie();
        if (!source)
            return E_NOT_CONNECTED;
        if (source->info()->videoStream < 0)
            return E_NO_VIDEO_STREAM;
        *seconds = source->info()->avgFrameTime;
        return S_OK;
    }

    void announcePositions(const std::vector<int64_t>& positions) override {
        announced_ = positions;
        if (engine_)
            engine_->announce(positions);
    }

    void setKeyFrameTolerance(int64_t tolerance) override {
        tolerance_ = tolerance;
        if (engine_)
            engine_->setKeyFrameTolerance(tolerance);
    }

    void setWorkerCount(int count) override {
        workers_ = std::max(0, count);
        if (engine_)
            engine_->setWorkers(workers_);
    }

    // A filter of the graph is going away.
    void detach(Filter& filter) {
        if (&filter == static_cast<Filter*>(source_) || &filter == static_cast<Filter*>(grabber_)) {
            engine_.reset();
            if (grabber_)
                grabber_->connected = false;
            source_ = nullptr;
            grabber_ = nullptr;
            rendered_ = false;
        }
        members_.erase(std::remove(members_.begin(), members_.end(), &filter), members_.end());
    }

private:
    bool stopRequested() const { return stop_ && stop_->load(std::memory_order_relaxed); }

    // The engine's wait, in slices short enough that a stop is seen at once.
    // On a stop the engine goes: its destructor ends every search at the
    // next packet and joins the workers, so no decoding outlives the wait.
    Result waitForEngine(int32_t timeoutMs, Picture* picture, Result* searchResult,
                         bool* finished) {
        if (!stop_)
            return engine_->wait(timeoutMs, picture, searchResult, finished);
        constexpr int32_t kSliceMs = 20;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (stopRequested())
                break;
            int32_t slice = kSliceMs;
            if (timeoutMs >= 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count();
                slice = static_cast<int32_t>(std::clamp<int64_t>(left, 0, kSliceMs));
            }
            const Result rc = engine_->wait(slice, picture, searchResult, finished);
            if (rc != E_TIMEOUT || (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline))
                return rc;
        }
        engine_.reset();
        *picture = Picture{};
        *finished = true;
        return E_ABORT;
    }

    static Result checkDecoder(const MovieInfo& info) {
        if (!info.video)
            return E_NO_VIDEO_STREAM;
        const AVCodec* codec = avcodec_find_decoder(info.video->codec_id);
        if (!codec)
            return E_NO_DECODER;
        if (info.width <= 0 || info.height <= 0)
            return E_BAD_VIDEO_SIZE;
        // Opening a decoder once here turns a codec that cannot work with
        // this stream into a failure of the connection, not of every moment.
        av::CodecPtr decoder(avcodec_alloc_context3(codec));
        if (!decoder)
            return E_OUTOFMEMORY;
        int rc = avcodec_parameters_to_context(decoder.get(), info.video.get());
        if (rc >= 0)
            rc = avcodec_open2(decoder.get(), codec, nullptr);
        return rc < 0 ? rc : S_OK;
    }

    // The movie the reads answer about: the probe's, else the connected
    // source's, else the first source that joined.
    SourceImpl* movie() const {
        if (probe_)
            return probe_.get();
        if (source_)
            return source_;
        for (Filter* f : members_)
            if (auto* s = dynamic_cast<SourceImpl*>(f))
                return s;
        return nullptr;
    }

    const std::atomic<bool>* stop_ = nullptr;
    std::vector<Filter*> members_;
    std::unique_ptr<SourceImpl> probe_;
    SourceImpl* source_ = nullptr;
    GrabberImpl* grabber_ = nullptr;
    bool rendered_ = false;
    bool sought_ = false;
    int workers_ = 0;
    int32_t errors_ = 0;
    std::vector<int64_t> announced_;
    int64_t tolerance_ = -1;
    std::unique_ptr<Engine> engine_;
};

SourceImpl::~SourceImpl() {
    if (graph)
        graph->detach(*this);
}

GrabberImpl::~GrabberImpl() {
    if (graph)
        graph->detach(*this);
}

std::string hex(Result code) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(code));
    return buffer;
}

} // namespace

Result findPin(Filter& filter, PinDirection direction, int index, Pin** out) {
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    for (int i = 0; i < filter.pinCount(); ++i) {
        Pin* p = filter.pin(i);
        if (!p || p->direction() != direction)
            continue;
        if (index == 0) {
            *out = p;
            return S_OK;
        }
        --index;
    }
    return E_FAIL;
}

Pin* inputPin(Filter& filter, int index) {
    Pin* p = nullptr;
    findPin(filter, PinDirection::Input, index, &p);
    return p;
}

Pin* outputPin(Filter& filter, int index) {
    Pin* p = nullptr;
    findPin(filter, PinDirection::Output, index, &p);
    return p;
}

Result SourceFilter::create(SourceRole role, std::unique_ptr<SourceFilter>* out) {
    if (!out)
        return E_INVALIDARG;
    quietLibrary();
    *out = std::make_unique<SourceImpl>(role);
    return S_OK;
}

Result SampleGrabber::create(std::unique_ptr<SampleGrabber>* out) {
    if (!out)
        return E_INVALIDARG;
    *out = std::make_unique<GrabberImpl>();
    return S_OK;
}

Result FilterGraph::create(std::unique_ptr<FilterGraph>* out) {
    if (!out)
        return E_INVALIDARG;
    quietLibrary();
    *out = std::make_unique<GraphImpl>();
    return S_OK;
}

std::string resultText(Result code) {
    switch (code) {
    case S_OK:
        return "The operation completed successfully.";
    case S_FALSE:
        return "The operation completed, with nothing to do.";
    case E_FAIL:
        return "Unspecified error.";
    case E_OUTOFMEMORY:
        return "Not enough memory.";
    case E_INVALIDARG:
        return "An argument is invalid.";
    case E_NOTIMPL:
        return "The operation is not supported.";
    case E_ABORT:
        return "The operation was cancelled.";
    case E_NOT_REGULAR_FILE:
        return "This is not a regular file (a pipe, a device, a socket or a URL): Stillwick "
               "reads movies from files.";
    case E_NO_FILE_NAME:
        return "No file name was given.";
    case E_NO_FILE_LOADED:
        return "No file has been loaded into the source.";
    case E_ALREADY_IN_GRAPH:
        return "The filter is already in a graph.";
    case E_NOT_IN_GRAPH:
        return "The filter is not in this graph.";
    case E_NO_VIDEO_STREAM:
        return "The file has no video stream.";
    case E_NO_DECODER:
        return "No decoder is available for the video of this file.";
    case E_TYPE_NOT_ACCEPTED:
        return "The sample grabber accepts only RGB24 video; the connection was refused.";
    case E_NOT_CONNECTED:
        return "The pins are not connected.";
    case E_ALREADY_CONNECTED:
        return "The pin is already connected.";
    case E_WRONG_DIRECTION:
        return "An output pin must be connected to an input pin.";
    case E_NOT_RENDERED:
        return "The graph has not been rendered.";
    case E_NO_CALLBACK:
        return "No callback has been set on the sample grabber.";
    case E_BAD_VIDEO_SIZE:
        return "The video does not say how large its pictures are: the file is damaged or "
               "its video cannot be decoded.";
    case E_NO_CONVERSION:
        return "The pictures of this video cannot be converted to RGB: its pixel format is "
               "unknown or not supported.";
    case E_TIMEOUT:
        return "The wait timed out before the frame arrived.";
    case E_NOT_SEEKABLE:
        return "The file cannot be sought.";
    default:
        break;
    }
    if (code > 0)
        return "The operation succeeded (" + hex(code) + ").";
    // FFmpeg knows its own codes (negated errno values and four-letter tags)
    // and says so; for anything else it only makes up a number.
    char buffer[AV_ERROR_MAX_STRING_SIZE * 2] = {};
    const bool known = av_strerror(code, buffer, sizeof buffer) == 0 && buffer[0];
    // The codes real files end in, said the way a user can act on; FFmpeg's
    // own words follow where they name the particular trouble.
    const std::string own = known ? std::string(" (FFmpeg: ") + buffer + ")" : "";
    switch (code) {
    case AVERROR_EOF:
        return "The file ends before its first picture: it is cut short or empty.";
    case AVERROR_INVALIDDATA:
        return "The file is damaged, or it is not a movie the installed FFmpeg libraries can "
               "read.";
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_DEMUXER_NOT_FOUND:
        return "The installed FFmpeg libraries cannot read this kind of movie" + own + ".";
    case AVERROR_PATCHWELCOME:
    case AVERROR(ENOSYS):
        return "This movie uses a feature the installed FFmpeg libraries do not support" + own +
               ".";
    case AVERROR(EACCES):
    case AVERROR(EPERM):
        return "The file cannot be read: permission denied.";
    case AVERROR(EISDIR):
        return "This is a folder, not a movie file.";
    case AVERROR(ENOMEM):
        return "Not enough memory.";
    case AVERROR(EIO):
        return "The file could not be read from its disk" + own + ".";
    default:
        break;
    }
    if (known)
        return std::string(buffer) + ".";
    return "Unknown error " + hex(code) + ".";
}

} // namespace media
