#include "capture/movie_probe.h"

#include <cinttypes>
#include <cstdio>
#include <memory>

#include "capture/file_names.h"
#include "platform/media/graph.h"

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
    std::unique_ptr<media::FilterGraph> graph;
    media::Result hr = media::FilterGraph::create(&graph);
    if (media::succeeded(hr)) {
        graph->setStopFlag(stop);
        hr = graph->renderFile(moviePath);
    }

    MovieFacts facts;
    double frameTime = 0;
    if (media::succeeded(hr))
        hr = graph->getDuration(&facts.duration);
    if (media::succeeded(hr))
        hr = graph->getVideoSize(&facts.videoWidth, &facts.videoHeight);
    if (media::succeeded(hr))
        hr = graph->getDisplaySize(&facts.displayWidth, &facts.displayHeight);
    if (media::succeeded(hr))
        hr = graph->getAvgTimePerFrame(&frameTime);
    graph.reset();

    ProbeResult result;
    if (media::failed(hr)) {
        result.code = -1;
        result.errorText = hr == media::E_ABORT ? kProbeCancelledText : media::resultText(hr);
        result.infoText =
            "File Name\t: " + fileNameOf(moviePath) + "\nError\t\t: " + result.errorText;
        return result;
    }
    // A movie that does not state its frame rate shows 0.00, not infinity.
    facts.averageFps = frameTime > 0 ? static_cast<float>(1.0 / frameTime) : 0.0f;
    result.facts = facts;
    result.infoText = formatInfo(moviePath, facts);
    return result;
}
