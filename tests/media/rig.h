#pragma once
// Test helpers: a movie reader, and its frames in a form the colour code can
// be read from.
//
// Ownership: the rig owns its reader.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/movie_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"
#include "tests/support/timeline.h"

namespace mediatest {

struct Delivery {
    int calls = 0;      // frames delivered for the position: 0 or 1
    double seconds = 0; // the frame's time
    MediaTime time;
    int index = -1; // frame index read from the colour code
    // The picture as blue, green, red rows bottom-up padded to 4 bytes, the
    // layout the colour-code readers take.
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    int decodeErrors = 0;
};

class Rig {
public:
    Rig();
    ~Rig();
    // Opens the movie; `cores` limits the reader's decoding (0: every core).
    Result open(const std::string& path, int cores = 0);
    // The frame for one position, found on its own.
    Result grab(int64_t position, Delivery* out);
    // The frames for positions in one planned call; `keyFrameTolerance` >= 0
    // asks for key-frame mode.
    Result grabAll(const std::vector<int64_t>& positions, std::vector<Delivery>* out,
                   int64_t keyFrameTolerance = -1);
    media::MovieReader& reader() { return *reader_; }
    // The size frames are delivered at: the movie's display size.
    int width() const { return width_; }
    int height() const { return height_; }

private:
    std::unique_ptr<media::MovieReader> reader_;
    int width_ = 0;
    int height_ = 0;
};

// The shared helpers under the names these tests have always used.
using testmovies::decodeTimeline;
using testmovies::expectedFrame;
using testmovies::floorPosition;
using testmovies::TempDir;
using testmovies::TimelineFrame;

} // namespace mediatest
