#pragma once
// One frame of a movie at a time, found on a thread of its own, for the
// window that shows a cell's frame large: the frame at an exact time, the one
// or the key frame before or after a frame, or the first at or after a typed
// time.
//
// The fetcher opens the movie once (on its thread, at the first request) and
// keeps it; it never touches the reader the capture uses. One request runs at
// a time: `fetch` refuses while one does. The answer comes as the `fetched`
// signal on the fetcher's thread, after the worker has been joined. `stop`
// ends a running request within a packet; the destructor stops and waits, so
// no worker outlives the fetcher.

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/media/movie_reader.h"
#include "platform/types/media_time.h"
#include "platform/types/result.h"

struct FrameQuery {
    enum class Kind {
        At,          // the first frame at or after `position`
        Next,        // the frame after the one at `time`
        Previous,    // the frame before the one at `time`
        NextKey,     // the first key frame after the one at `time`
        PreviousKey, // the last key frame before the one at `time`
    };
    Kind kind = Kind::At;
    int64_t position = 0; // 100-ns units, for At
    MediaTime time;       // the frame to step from, for the steps
    // Besides the size the movie is shown at, the frame at this size (the
    // cell's, for putting it on the sheet); 0 x 0 for none.
    int width = 0;
    int height = 0;
};

struct FetchedFrame {
    Result status; // success also when there is no such frame (found false)
    bool found = false;
    MediaTime time;
    media::Picture full; // at the size the movie is shown at
    media::Picture cell; // at the query's size, when one was asked for
};

class FrameFetcher : public QObject {
    Q_OBJECT
public:
    explicit FrameFetcher(std::string moviePath, QObject* parent = nullptr);
    ~FrameFetcher() override;

    bool fetch(const FrameQuery& query);
    bool busy() const { return running_.load(); }
    void stop() { stop_.store(true); }
    // Frames this fetcher's reader has decoded: its work, for tests.
    int64_t framesDecoded() const { return decoded_.load(); }

    // The work itself, on the calling thread, with a reader the caller owns.
    static FetchedFrame run(media::MovieReader& reader, const FrameQuery& query);

signals:
    void fetched(const FetchedFrame& frame);

private:
    void finish();

    std::string path_;
    // Declared before the reader, which keeps a pointer to it.
    std::atomic<bool> stop_{false};
    std::unique_ptr<media::MovieReader> reader_; // the worker's while it runs
    std::thread worker_;
    // From `fetch` until its answer has been handed out.
    std::atomic<bool> running_{false};
    std::atomic<int64_t> decoded_{0};
    FrameQuery query_;
    FetchedFrame result_;
};
