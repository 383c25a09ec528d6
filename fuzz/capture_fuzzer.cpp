// The whole capture on small mutated movies: probe, seek, decode, convert,
// scale into a 2 x 2 sheet with shadows, stamps and the information block,
// and write it (to /dev/null, in the format the input picks). Inputs whose
// pictures are too large to decode quickly are left to the probe fuzzer, and
// a run is cancelled after a few seconds, so one input cannot stall the
// fuzzer; both bounds keep a slow case from hiding the others.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "capture/capture.h"
#include "capture/movie_probe.h"
#include "fuzz/fuzz_support.h"
#include "platform/media/input_source.h"

namespace {

constexpr int64_t kMaxPixels = 640 * 480;
constexpr auto kTimeLimit = std::chrono::seconds(5);

class Deadline : public CaptureProgress {
public:
    bool cancelled() override { return std::chrono::steady_clock::now() > end_; }

private:
    std::chrono::steady_clock::time_point end_ = std::chrono::steady_clock::now() + kTimeLimit;
};

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "capture fuzzer: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceMediaLog();
    setenv("FONTCONFIG_FILE", STILLWICK_FUZZ_FONTS_CONF, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return -1;
    const std::string name = fuzz::movieName(data[0]);
    // The second byte picks the sheet's format and a few of its settings.
    const uint8_t choice = data[1];
    media::MemoryMovies memory;
    memory.add(name, data + 2, size - 2);
    media::setInputSource(&memory);

    const ProbeResult probe = MovieProbe::probe(name);
    if (probe.ok() &&
        static_cast<int64_t>(probe.facts.videoWidth) * probe.facts.videoHeight <= kMaxPixels) {
        Options o = Options::defaults();
        o.columns = 2;
        o.rows = 2;
        o.frameWidth = 48;
        o.frameHeight = 36;
        o.headerEnabled = (choice & 4) ? 0 : 1;
        o.timeStampsEnabled = (choice & 8) ? 0 : 1;
        o.shadowEnabled = (choice & 16) ? 0 : 1;
        o.headerPosition = (choice >> 5) & 3;
        static const char* const kFormats[] = {"jpg", "png", "bmp", "jpg"};
        Deadline deadline;
        const CaptureResult result =
            captureSheet({name, probe.facts, probe.infoText, "/dev/null", {}}, o, deadline,
                         SheetOutput{true, kFormats[choice & 3]});
        if (result.ok())
            check(result.missingMoments.size() <= 4, "more moments missing than the sheet has");
        else
            check(!result.errorText().empty(), "a failure without a reason");
    }
    media::setInputSource(nullptr);
    return 0;
}
