#include "app/frame_fetcher.h"

#include <QMetaObject>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace {

// Whether `a` comes before `b`, exactly: the two may count in different
// clocks, so each is weighed in the other's.
bool earlier(const MediaTime& a, const MediaTime& b) {
    __extension__ typedef __int128 Wide;
    return static_cast<Wide>(a.ticks) * a.num * b.den < static_cast<Wide>(b.ticks) * b.num * a.den;
}

// The search only needs the frames' times; a tiny picture keeps it from
// converting frames nobody looks at.
constexpr int kProbeSide = 8;

struct Step {
    Result status;
    media::Frame frame;
};

Step frameAt(media::MovieReader& reader, int64_t position, const media::FrameRequest& request) {
    Step step;
    step.status =
        reader.frames({std::max<int64_t>(position, 0)}, request, [&](size_t, media::Frame&& f) {
            step.frame = std::move(f);
            return true;
        });
    return step;
}

// How many key frames a step tries before it gives up: the index's places
// are only near the frames' own times, and a damaged key frame gives none.
constexpr int kKeyTries = 16;

// The key frame after (or before) the frame at `query.time`. The index says
// where to look; the frames' own times decide, since an index may count a
// key frame by its decoding time, up to a few frames before it is shown.
FetchedFrame keyFrameBeside(media::MovieReader& reader, const FrameQuery& query,
                            const media::FrameRequest& sized) {
    FetchedFrame out;
    std::vector<int64_t> keys;
    out.status = reader.keyFramePositions(&keys);
    if (!out.status.ok())
        return out;
    if (keys.empty()) {
        out.status = Result::failure(
            ResultCode::Failed, "This movie does not list its key frames, and it is too large to "
                                "read through for them.");
        return out;
    }
    media::FrameRequest request = sized;
    // Always the key frame, however far from the place asked.
    request.keyFrameTolerance = std::numeric_limits<int64_t>::max() / 4;
    const double frameTime = reader.averageFrameTime() > 0 ? reader.averageFrameTime() : 0.04;
    const auto slack = static_cast<int64_t>(frameTime * 4 * 1e7);
    const int64_t from = query.time.units();
    const bool forward = query.kind == FrameQuery::Kind::NextKey;

    const auto tryKey = [&](int64_t position, bool* done) {
        Step step = frameAt(reader, position, request);
        if (!step.status.ok()) {
            out.status = step.status;
            *done = true;
            return;
        }
        if (!step.frame.found)
            return;
        const bool beyond =
            forward ? earlier(query.time, step.frame.time) : earlier(step.frame.time, query.time);
        if (!beyond)
            return;
        out.found = true;
        out.time = step.frame.time;
        out.full = std::move(step.frame.full);
        out.cell = std::move(step.frame.picture);
        *done = true;
    };
    bool done = false;
    int tries = 0;
    if (forward) {
        for (auto it = std::lower_bound(keys.begin(), keys.end(), from - slack);
             it != keys.end() && tries < kKeyTries && !done; ++it, ++tries)
            tryKey(*it, &done);
    } else {
        for (auto it = std::upper_bound(keys.begin(), keys.end(), from + slack);
             it != keys.begin() && tries < kKeyTries && !done; ++tries)
            tryKey(*--it, &done);
    }
    return out;
}

} // namespace

FrameFetcher::FrameFetcher(std::string moviePath, QObject* parent)
    : QObject(parent), path_(std::move(moviePath)) {}

FrameFetcher::~FrameFetcher() {
    stop();
    if (worker_.joinable())
        worker_.join();
}

FetchedFrame FrameFetcher::run(media::MovieReader& reader, const FrameQuery& query) {
    if (query.kind == FrameQuery::Kind::NextKey || query.kind == FrameQuery::Kind::PreviousKey) {
        media::FrameRequest request;
        request.fullSize = true;
        request.width = query.width > 0 && query.height > 0 ? query.width : kProbeSide;
        request.height = query.width > 0 && query.height > 0 ? query.height : kProbeSide;
        FetchedFrame out = keyFrameBeside(reader, query, request);
        if (query.width <= 0 || query.height <= 0)
            out.cell = {};
        return out;
    }

    FetchedFrame out;
    media::FrameRequest probe;
    probe.width = kProbeSide;
    probe.height = kProbeSide;

    // Where the frame wanted is: a position whose first frame at or after
    // it is that frame.
    int64_t position = query.position;
    if (query.kind == FrameQuery::Kind::Next) {
        // Just past the frame's own time: the next frame is the first at or
        // after it.
        position = query.time.units() + 1;
    } else if (query.kind == FrameQuery::Kind::Previous) {
        // Back from the frame by a frame and a half, then further while
        // that lands on the frame itself (a gap, a variable rate); then
        // forward frame by frame to the last one before it.
        const double frameTime = reader.averageFrameTime() > 0 ? reader.averageFrameTime() : 0.04;
        int64_t back = std::max<int64_t>(1, static_cast<int64_t>(frameTime * 1.5e7));
        const int64_t from = query.time.units();
        bool found = false;
        for (int round = 0; round < 40 && !found; ++round) {
            const int64_t at = std::max<int64_t>(0, from - back);
            Step step = frameAt(reader, at, probe);
            if (!step.status.ok()) {
                out.status = step.status;
                return out;
            }
            if (step.frame.found && earlier(step.frame.time, query.time)) {
                media::Frame before = std::move(step.frame);
                for (;;) {
                    Step next = frameAt(reader, before.time.units() + 1, probe);
                    if (!next.status.ok()) {
                        out.status = next.status;
                        return out;
                    }
                    if (!next.frame.found || !earlier(next.frame.time, query.time))
                        break;
                    before = std::move(next.frame);
                }
                position = before.time.units();
                found = true;
            } else if (at == 0) {
                // The frame is the movie's first.
                return out;
            }
            back *= 2;
        }
        if (!found)
            return out;
    }

    media::FrameRequest request;
    request.fullSize = true;
    if (query.width > 0 && query.height > 0) {
        request.width = query.width;
        request.height = query.height;
    } else {
        request.width = kProbeSide;
        request.height = kProbeSide;
    }
    Step step = frameAt(reader, position, request);
    out.status = step.status;
    if (!step.status.ok() || !step.frame.found)
        return out;
    // Past the last frame the reader gives the last frame: for a step
    // forward from it, there is none.
    if (query.kind == FrameQuery::Kind::Next && !earlier(query.time, step.frame.time))
        return out;
    out.found = true;
    out.time = step.frame.time;
    out.full = std::move(step.frame.full);
    if (query.width > 0 && query.height > 0)
        out.cell = std::move(step.frame.picture);
    return out;
}

bool FrameFetcher::fetch(const FrameQuery& query) {
    if (busy())
        return false;
    if (worker_.joinable())
        worker_.join();
    query_ = query;
    stop_.store(false);
    running_.store(true);
    worker_ = std::thread([this] {
        if (!reader_) {
            std::unique_ptr<media::MovieReader> opened;
            const Result rc = media::MovieReader::open(path_, &stop_, &opened);
            if (rc.ok())
                reader_ = std::move(opened);
            else
                result_ = FetchedFrame{rc, false, {}, {}, {}};
        }
        if (reader_) {
            result_ = run(*reader_, query_);
            decoded_.store(reader_->framesDecoded());
        }
        QMetaObject::invokeMethod(this, &FrameFetcher::finish, Qt::QueuedConnection);
    });
    return true;
}

void FrameFetcher::finish() {
    if (worker_.joinable())
        worker_.join();
    // Free for the next request before anyone hears of this one, so a
    // receiver can ask again at once.
    running_.store(false);
    emit fetched(result_);
}
