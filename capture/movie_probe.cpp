#include "capture/movie_probe.h"

#include <cinttypes>
#include <cstdio>
#include <memory>

#include "capture/file_names.h"

namespace {

template <typename... Args> std::string format(const char* fmt, Args... args) {
    int size = std::snprintf(nullptr, 0, fmt, args...);
    if (size <= 0)
        return {};
    std::string text(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), fmt, args...);
    text.resize(static_cast<size_t>(size));
    return text;
}

} // namespace

std::string MovieProbe::formatInfo(const std::string& moviePath, const MovieFacts& facts) {
    const int64_t hours = facts.duration / 36000000000LL;
    const int64_t minutes = (facts.duration % 36000000000LL) / 600000000LL;
    const int64_t seconds = (facts.duration % 600000000LL) / 10000000LL;
    return format("File Name\t: %s\nAverage FPS\t: %.2f\nResolution\t: %dx%d\n"
                  "Duration\t: %02" PRId64 ":%02" PRId64 ":%02" PRId64,
                  fileNameOf(moviePath).c_str(), static_cast<double>(facts.averageFps),
                  facts.videoWidth, facts.videoHeight, hours, minutes, seconds);
}

ProbeResult MovieProbe::probe(const std::string& moviePath, const std::atomic<bool>* stop) {
    std::unique_ptr<media::MovieReader> reader;
    Result rc = media::MovieReader::open(moviePath, stop, &reader);
    if (rc.ok())
        rc = reader->videoReady();
    if (rc.ok())
        rc = reader->measure();

    ProbeResult result;
    if (!rc.ok()) {
        result.status = rc.isCancelled() ? Result::cancelled(kProbeCancelledText) : rc;
        result.infoText =
            "File Name\t: " + fileNameOf(moviePath) + "\nError\t\t: " + result.errorText();
        return result;
    }
    const media::MediaFacts& facts = reader->facts();
    MovieFacts& f = result.facts;
    f.duration = reader->length();
    f.statedDuration = facts.readableDuration >= 0 ? facts.duration : 0;
    f.videoWidth = facts.video.width;
    f.videoHeight = facts.video.height;
    f.displayWidth = facts.video.displayWidth;
    f.displayHeight = facts.video.displayHeight;
    // A movie that does not state its frame rate and whose frames cannot be
    // counted shows 0.00, not infinity.
    const double frameTime = reader->averageFrameTime();
    f.averageFps = frameTime > 0 ? static_cast<float>(1.0 / frameTime) : 0.0f;
    result.infoText = formatInfo(moviePath, f);
    result.movie = std::move(reader);
    return result;
}
