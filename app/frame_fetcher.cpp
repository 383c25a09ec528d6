#include "app/frame_fetcher.h"

#include <QMetaObject>

#include <algorithm>
#include <utility>

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

} // namespace

FrameFetcher::FrameFetcher(std::string moviePath, QObject* parent)
    : QObject(parent), path_(std::move(moviePath)) {}

FrameFetcher::~FrameFetcher() {
    stop();
    if (worker_.joinable())
        worker_.join();
}

FetchedFrame FrameFetcher::run(media::MovieReader& reader, const FrameQuery& query) {
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
