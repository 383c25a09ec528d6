// The movie probe on arbitrary bytes, read from memory through the media
// layer's input source: demuxers, stream discovery and the length measured
// from the file's end, as for a file on disk.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "capture/movie_probe.h"
#include "fuzz/fuzz_support.h"
#include "platform/media/input_source.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceMediaLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return -1;
    const std::string name = fuzz::movieName(data[0]);
    media::MemoryMovies memory;
    memory.add(name, data + 1, size - 1);
    media::setInputSource(&memory);
    const ProbeResult probe = MovieProbe::probe(name);
    media::setInputSource(nullptr);

    if (probe.ok()) {
        // A probe that succeeds has a picture size to lay a sheet out with.
        if (probe.facts.videoWidth <= 0 || probe.facts.videoHeight <= 0 ||
            probe.facts.duration < 0 || probe.infoText.empty()) {
            std::fprintf(stderr, "probe fuzzer: success with facts no sheet can use\n");
            std::abort();
        }
    } else if (probe.errorText().empty() || probe.facts.videoWidth != 0) {
        std::fprintf(stderr, "probe fuzzer: a failure without a reason, or with facts\n");
        std::abort();
    }
    return 0;
}
