#include "platform/media/movie_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <sys/stat.h>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "platform/media/av_enums.h"
#include "platform/media/decoding_plan.h"
#include "platform/media/engine.h"
#include "platform/media/errors.h"
#include "platform/media/log.h"
#include "platform/media/movie.h"
#include "platform/media/picture.h"

namespace media {

using detail::MovieInfo;

struct MovieReader::State {
    const std::atomic<bool>* stop = nullptr;
    av::InputPtr input;
    std::shared_ptr<MovieInfo> info;
    bool measured = false;
    int64_t length = 0; // 100-ns units: what can be read
    double frameTime = 0;
    std::unique_ptr<detail::Engine> engine;
    std::shared_ptr<const detail::KeyFrameList> keys;
    bool keysKnown = false;
    bool keysAll = false; // every key frame, as key-frame mode needs
    // One per size a call asks for (the picture, the full size, each extra
    // size), so that each keeps its scaler for its size.
    std::vector<std::unique_ptr<detail::PictureMaker>> makers;
    Result videoReady = noVideoResult();
    int cores = 0;
};

MovieReader::MovieReader() : state_(std::make_unique<State>()) {}
MovieReader::~MovieReader() {
    // The finders borrow the demuxer: they go first.
    state_->engine.reset();
}

const std::string& MovieReader::path() const {
    return state_->info->path;
}

bool MovieReader::hasVideo() const {
    return state_->info->videoStream >= 0;
}

Result MovieReader::videoReady() const {
    return state_->videoReady;
}

int64_t MovieReader::length() const {
    return state_->length;
}

double MovieReader::averageFrameTime() const {
    return state_->frameTime;
}

void MovieReader::setCores(int cores) {
    state_->cores = std::max(0, cores);
}

int64_t MovieReader::framesDecoded() const {
    return state_->engine ? state_->engine->framesDecoded() : 0;
}

namespace {

// What the frames in flight of one reader may take, together: at most this,
// and at most a quarter of the memory at hand.
constexpr int64_t kFramesInFlightBytes = int64_t{1} << 30;

std::string text(const char* s) {
    return s ? std::string(s) : std::string();
}

// The colour names FFmpeg gives, with "unknown"/"unspecified" as empty.
std::string known(const char* name) {
    if (!name || std::string_view(name) == "unknown" || std::string_view(name) == "unspecified")
        return {};
    return name;
}

// Single-picture demuxers: FFmpeg recognises an image by its content and
// offers it as a one-frame video stream.
bool isImageDemuxer(const AVInputFormat* format) {
    if (!format || !format->name)
        return false;
    const std::string name = format->name;
    const std::string pipe = "_pipe";
    return name == "image2" || (name.size() > pipe.size() &&
                                name.compare(name.size() - pipe.size(), pipe.size(), pipe) == 0);
}

// The display matrix turns the picture counter-clockwise; players undo that,
// which is a clockwise turn by the same angle, to the nearest quarter.
int clockwiseRotation(const detail::Orientation& o) {
    // Where the picture's right (1, 0) goes: (a, b).
    if (o.a == 1 && o.b == 0)
        return 0;
    if (o.a == 0 && o.b == 1)
        return 90;
    if (o.a == -1 && o.b == 0)
        return 180;
    if (o.a == 0 && o.b == -1)
        return 270;
    return 0;
}

void readVideo(AVFormatContext* input, const MovieInfo& info, VideoFacts* v) {
    AVStream* st = input->streams[info.videoStream];
    const AVCodecParameters* par = st->codecpar;
    v->codec = text(avcodec_get_name(par->codec_id));
    v->profile = text(avcodec_profile_name(par->codec_id, par->profile));
    v->width = info.width;
    v->height = info.height;
    const AVRational sar = av_guess_sample_aspect_ratio(input, st, nullptr);
    if (sar.num > 0 && sar.den > 0) {
        v->sampleAspectNum = sar.num;
        v->sampleAspectDen = sar.den;
    }
    v->rotation = clockwiseRotation(info.orientation);
    v->displayWidth = info.displayWidth();
    v->displayHeight = info.displayHeight();
    if (info.avgFrameTime > 0) {
        AVRational rate = st->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = st->r_frame_rate;
        v->frameRateNum = rate.num;
        v->frameRateDen = rate.den;
    }
    v->bitRate = par->bit_rate > 0 ? par->bit_rate : 0;
    v->pixelFormat = text(av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format)));
    v->colorTransfer = known(av_color_transfer_name(detail::transferOf(par->color_trc)));
    v->colorPrimaries = known(av_color_primaries_name(detail::primariesOf(par->color_primaries)));
    v->colorSpace = known(av_color_space_name(detail::matrixOf(par->color_space)));
    v->colorRange = known(av_color_range_name(detail::rangeOf(par->color_range)));
}

AudioFacts readAudio(const AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    AudioFacts a;
    a.codec = text(avcodec_get_name(par->codec_id));
    a.channels = par->ch_layout.nb_channels;
    a.sampleRate = par->sample_rate;
    a.bitRate = par->bit_rate > 0 ? par->bit_rate : 0;
    const AVDictionaryEntry* language = av_dict_get(st->metadata, "language", nullptr, 0);
    if (language && language->value && std::string_view(language->value) != "und")
        a.language = language->value;
    return a;
}

// Opening a decoder once turns a codec that cannot work with this stream
// into a failure of the opening, not of every position.
Result checkDecoder(const MovieInfo& info) {
    if (!info.video)
        return noVideoResult();
    const AVCodec* codec = avcodec_find_decoder(info.video->codec_id);
    if (!codec)
        return noDecoderResult();
    if (info.width <= 0 || info.height <= 0)
        return badVideoSizeResult();
    av::CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        return outOfMemoryResult();
    int rc = avcodec_parameters_to_context(decoder.get(), info.video.get());
    if (rc >= 0)
        rc = avcodec_open2(decoder.get(), codec, nullptr);
    return rc < 0 ? avResult(rc) : Result::success();
}

} // namespace

Result MovieReader::open(const std::string& path, const std::atomic<bool>* stop,
                         std::unique_ptr<MovieReader>* out) {
    out->reset();
    if (path.empty())
        return Result::failure(ResultCode::CannotOpen, "No file name was given.");
    quietLibrary();
    std::unique_ptr<MovieReader> reader(new MovieReader());
    reader->state_->stop = stop;
    const Result rc = reader->openDemuxer(path);
    if (!rc.ok())
        return rc;
    *out = std::move(reader);
    return Result::success();
}

Result MovieReader::openDemuxer(const std::string& path) {
    State& s = *state_;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        facts_.fileSize = static_cast<int64_t>(st.st_size);
    Result rc = detail::openInput(path, nullptr, s.stop, &s.input);
    if (!rc.ok())
        return rc;
    s.info = std::make_shared<MovieInfo>();
    detail::describe(s.input.get(), path, s.info.get());
    AVFormatContext* input = s.input.get();
    const MovieInfo& info = *s.info;
    facts_.container = text(input->iformat->name);
    facts_.containerName = text(input->iformat->long_name);
    facts_.bitRate = input->bit_rate > 0 ? input->bit_rate : 0;
    facts_.stillImage = isImageDemuxer(input->iformat);
    facts_.hasVideo = info.videoStream >= 0;
    if (facts_.hasVideo) {
        readVideo(input, info, &facts_.video);
        s.videoReady = checkDecoder(info);
    }
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (info.streamKinds[i] == detail::StreamKind::Audio)
            facts_.audio.push_back(readAudio(input->streams[i]));
    s.frameTime = info.avgFrameTime;
    return Result::success();
}

Result MovieReader::measure() {
    State& s = *state_;
    if (s.measured)
        return Result::success();
    AVFormatContext* input = s.input.get();
    MovieInfo& info = *s.info;
    // The first packets, where the demuxer still stands after opening: how
    // fast the pictures really come.
    const double sampled = detail::sampledFrameRate(input, info);
    int64_t stated = 0;
    int64_t frames = -1;
    Result rc = detail::measureDuration(input, info, &stated, &frames, s.stop);
    if (!rc.ok())
        return rc;
    const int64_t statedEnd = detail::toTimestampFloor(info, stated);
    int64_t readable = stated;
    info.end = statedEnd;
    if (info.videoStream >= 0) {
        const int64_t end = detail::findReadableEnd(input, info, statedEnd, s.stop);
        if (s.stop && s.stop->load(std::memory_order_relaxed))
            return cancelledResult();
        if (end != AV_NOPTS_VALUE && end < statedEnd) {
            info.end = end;
            readable = std::max<int64_t>(0, detail::toPosition(info, end));
        }
    }

    // The average frame rate: as stated, unless the frames say otherwise.
    if (info.videoStream >= 0) {
        const AVStream* st = input->streams[info.videoStream];
        int64_t count = frames;
        int64_t over = readable;
        if (count < 0 && st->nb_frames > 0) {
            count = st->nb_frames;
            over = stated;
        }
        const double statedRate = info.avgFrameTime > 0 ? 1.0 / info.avgFrameTime : 0;
        constexpr double kAgreement = 0.2;
        const bool doubtful = statedRate <= 0 || (sampled > 0 && std::abs(statedRate - sampled) >
                                                                     kAgreement * sampled);
        if (count < 0 && doubtful) {
            count = detail::countVideoPackets(input, info, s.stop);
            over = readable;
        }
        s.frameTime =
            detail::averageFrameTime(statedRate, sampled, count, static_cast<double>(over) / 1e7);
        if (s.frameTime != info.avgFrameTime && s.frameTime > 0) {
            const AVRational rate = av_d2q(1.0 / s.frameTime, 100000);
            facts_.video.frameRateNum = rate.num;
            facts_.video.frameRateDen = rate.den;
        }
    }
    if (s.stop && s.stop->load(std::memory_order_relaxed))
        return cancelledResult();
    s.length = readable;
    facts_.duration = stated;
    facts_.readableDuration = readable < stated ? readable : -1;
    s.measured = true;
    return Result::success();
}

// The key frames a plan can use, found once (again when key-frame mode
// asks for all of them after an exact plan settled for fewer).
const detail::KeyFrameList& MovieReader::keyFrames(int64_t step, bool all) {
    State& s = *state_;
    if (!s.keysKnown || (all && !s.keysAll)) {
        s.keys = std::make_shared<const detail::KeyFrameList>(
            detail::keyFramesFor(s.input.get(), *s.info, all ? 0 : step, s.stop));
        // A read that was stopped may have seen only some of them: the next
        // call reads again.
        const bool stopped = s.stop && s.stop->load(std::memory_order_relaxed);
        s.keysKnown = !stopped;
        s.keysAll = all && !stopped;
    }
    return *s.keys;
}

Result MovieReader::keyFramePositions(std::vector<int64_t>* out) {
    out->clear();
    State& s = *state_;
    if (s.info->videoStream < 0)
        return noVideoResult();
    const detail::KeyFrameList& keys = keyFrames(0, true);
    if (s.stop && s.stop->load(std::memory_order_relaxed))
        return cancelledResult();
    out->reserve(keys.frames.size());
    for (const detail::KeyFrame& key : keys.frames)
        out->push_back(std::max<int64_t>(0, detail::toPosition(*s.info, key.timestamp)));
    return Result::success();
}

Result MovieReader::frames(const std::vector<int64_t>& positions, const FrameRequest& request,
                           const Deliver& deliver) {
    State& s = *state_;
    if (s.info->videoStream < 0)
        return noVideoResult();
    if (positions.empty())
        return Result::success();
    const MovieInfo& info = *s.info;
    const int shownWidth = info.displayWidth();
    const int shownHeight = info.displayHeight();
    const int width = request.width > 0 ? request.width : shownWidth;
    const int height = request.height > 0 ? request.height : shownHeight;
    if (width <= 0 || height <= 0 || shownWidth <= 0 || shownHeight <= 0)
        return badVideoSizeResult();

    // How large a decoded frame is, before anything is decoded: a size the
    // machine cannot hold twice (the frame, and the one being decoded or
    // converted) is refused with a sentence instead of failing half way;
    // one that would not fit once per core is decoded one frame at a time.
    const AVPixelFormat format = static_cast<AVPixelFormat>(info.video->format);
    int64_t frameBytes = format == AV_PIX_FMT_NONE
                             ? -1
                             : av_image_get_buffer_size(format, info.width, info.height, 64);
    if (frameBytes <= 0)
        frameBytes = int64_t{info.width} * info.height * 4;
    const int64_t memory = memoryLimitBytes();
    if (memory > 0 && frameBytes * 2 > memory) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "The pictures of this movie (%dx%d) are too large for this machine's "
                      "memory: one takes %lld MiB, and %lld MiB are at hand.",
                      info.width, info.height, static_cast<long long>(frameBytes >> 20),
                      static_cast<long long>(memory >> 20));
        return Result::failure(ResultCode::TooLarge, text);
    }

    detail::Plan plan;
    plan.positions = positions;
    const int64_t inFlight =
        memory > 0 ? std::min(kFramesInFlightBytes, memory / 4) : kFramesInFlightBytes;
    plan.oneFrameAtATime = frameBytes * (detail::decodingCores() + 3) > inFlight;
    plan.keyFrameMode = request.keyFrameTolerance >= 0;
    plan.cores = s.cores;
    plan.tolerance = request.keyFrameTolerance;
    // Key-frame mode needs every key frame; exact frames only need to know
    // whether positions share them, and a lone position shares nothing.
    static const detail::KeyFrameList kNone;
    if (plan.keyFrameMode || positions.size() > 1) {
        int64_t step = 0;
        if (positions.size() > 1 && positions.back() > positions.front())
            step = detail::toTimestampFloor(info, (positions.back() - positions.front()) /
                                                      static_cast<int64_t>(positions.size() - 1)) -
                   detail::toTimestampFloor(info, 0);
        keyFrames(step, plan.keyFrameMode);
        plan.keys = s.keys;
        if (s.stop && s.stop->load(std::memory_order_relaxed))
            return cancelledResult();
    }
    plan.passes =
        detail::planPasses(info, plan.keyFrameMode || !plan.keys ? kNone : *plan.keys, positions);

    if (!s.engine)
        s.engine = std::make_unique<detail::Engine>(s.info, s.input.get(), s.stop);
    while (s.makers.size() < 2 + request.extraSizes.size())
        s.makers.push_back(std::make_unique<detail::PictureMaker>(info.orientation));
    // Positions that share a frame (a still stretch, more moments than
    // frames) share its conversion too. Only the pictures are kept, not the
    // decoded frame, which may be large.
    std::weak_ptr<AVFrame> lastSource;
    Frame lastMade;
    const auto sameSource = [&](const std::shared_ptr<AVFrame>& frame) {
        return !lastSource.owner_before(frame) && !frame.owner_before(lastSource);
    };
    const auto take = [&](size_t i, detail::Found&& found) {
        Frame frame;
        frame.decodeErrors = found.decodeErrors;
        if (found.found && found.frame && sameSource(found.frame)) {
            frame = lastMade;
            frame.decodeErrors = found.decodeErrors;
        } else if (found.found && found.frame) {
            frame.time =
                MediaTime{found.timestamp - info.zero, info.timeBase.num, info.timeBase.den};
            // A picture that cannot be converted is a position without one.
            frame.found = s.makers[0]->make(found.frame.get(), width, height, &frame.picture).ok();
            if (frame.found && request.fullSize)
                frame.found =
                    s.makers[1]->make(found.frame.get(), shownWidth, shownHeight, &frame.full).ok();
            frame.extra.resize(request.extraSizes.size());
            for (size_t k = 0; frame.found && k < request.extraSizes.size(); ++k)
                frame.found = s.makers[2 + k]
                                  ->make(found.frame.get(), request.extraSizes[k].first,
                                         request.extraSizes[k].second, &frame.extra[k])
                                  .ok();
            if (!frame.found) {
                frame.picture = Picture{};
                frame.full = Picture{};
                frame.extra.clear();
            }
            lastSource = found.frame;
            lastMade = frame;
        }
        found.frame.reset();
        return deliver(i, std::move(frame));
    };
    return s.engine->run(plan, take);
}

} // namespace media
