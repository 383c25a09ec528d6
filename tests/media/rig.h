#pragma once
// Test helpers: a graph built the way the capture builds it, a plain
// start-to-end decode of a movie to compare against, and a temporary folder.
//
// Ownership: the rig owns its graph, filters and callback; `TempDir` removes
// its folder with everything in it when it is destroyed.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/graph.h"
#include "tests/support/test_movies.h"

namespace mediatest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct Delivery {
    int calls = 0;      // BufferCB calls during the wait
    double seconds = 0; // sample time
    int index = -1;     // frame index read from the colour code
    long length = 0;
    std::vector<uint8_t> pixels;
    int32_t event = 0;
};

class Rig {
public:
    Rig();
    ~Rig();
    // Builds the graph: ASF reader first, the async reader when that refuses
    // the file, grabber for RGB24, the source's video pin connected, rendered,
    // one-shot with the callback.
    media::Result open(const std::string& path, int workers = 0);
    media::Result grab(int64_t position, Delivery* out);
    // Runs and waits without seeking first.
    media::Result runAndWait(Delivery* out);
    // Waits once, for at most `timeoutMs`; BufferCB calls add to `out`.
    media::Result wait(Delivery* out, int32_t timeoutMs);
    // Destroys the graph while the filters live on, or the filters first.
    void dropGraph() { graph_.reset(); }
    void dropFilters() {
        grabber_.reset();
        source_.reset();
    }
    media::FilterGraph& graph() { return *graph_; }
    media::SourceFilter& source() { return *source_; }
    bool usedAsfReader() const { return asf_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

private:
    class Callback;
    std::unique_ptr<media::FilterGraph> graph_;
    std::unique_ptr<media::SourceFilter> source_;
    std::unique_ptr<media::SampleGrabber> grabber_;
    std::unique_ptr<Callback> callback_;
    bool asf_ = false;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

// Every frame of the movie's video, decoded in order from the start, with its
// time in 100-ns units from the movie's start as an exact fraction.
struct TimelineFrame {
    int index;   // from the colour code
    int64_t num; // time = num / den (100-ns units)
    int64_t den;
};
std::vector<TimelineFrame> decodeTimeline(const std::string& path);
// Position of the frame at `i`, rounded down to a whole unit.
int64_t floorPosition(const TimelineFrame& f);
// The frame a seek to `position` must deliver: the first at or after it,
// else the last.
const TimelineFrame& expectedFrame(const std::vector<TimelineFrame>& timeline, int64_t position);

} // namespace mediatest
