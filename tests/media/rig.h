#pragma once
// Test helpers: a graph built the way the capture builds it.
//
// Ownership: the rig owns its graph, filters and callback.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/graph.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"
#include "tests/support/timeline.h"

namespace mediatest {

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

// The shared helpers under the names these tests have always used.
using testmovies::decodeTimeline;
using testmovies::expectedFrame;
using testmovies::floorPosition;
using testmovies::TempDir;
using testmovies::TimelineFrame;

} // namespace mediatest
