#include <cinttypes>
#include <cstdio>
#include <memory>

#include "capture/capture_job.h"
#include "platform/media/graph.h"

namespace {

std::string fileNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

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

std::string MovieProbe::formatInfo(const std::string& moviePath, float averageFps, int width,
                                   int height, int64_t duration) {
    const int64_t hours = duration / 36000000000LL;
    const int64_t minutes = (duration % 36000000000LL) / 600000000LL;
    const int64_t seconds = (duration % 600000000LL) / 10000000LL;
    return format("File Name\t: %s\nAverage FPS\t: %.2f\nResolution\t: %dx%d\n"
                  "Duration\t: %02" PRId64 ":%02" PRId64 ":%02" PRId64,
                  fileNameOf(moviePath).c_str(), static_cast<double>(averageFps), width, height,
                  hours, minutes, seconds);
}

int MovieProbe::probe(CaptureJob* job) {
    job->infoText.clear();

    std::unique_ptr<media::FilterGraph> graph;
    media::Result hr = media::FilterGraph::create(&graph);
    if (media::succeeded(hr))
        hr = graph->renderFile(job->moviePath);

    int64_t duration = 0;
    int32_t width = 0;
    int32_t height = 0;
    double frameTime = 0;
    if (media::succeeded(hr))
        hr = graph->getDuration(&duration);
    if (media::succeeded(hr))
        hr = graph->getVideoSize(&width, &height);
    if (media::succeeded(hr))
        hr = graph->getAvgTimePerFrame(&frameTime);
    graph.reset();

    if (media::failed(hr)) {
        // Nothing of an earlier movie may survive into a capture of this one.
        job->duration = 0;
        job->videoWidth = 0;
        job->videoHeight = 0;
        job->averageFps = 0;
        job->infoText =
            "File Name\t: " + fileNameOf(job->moviePath) + "\nError\t\t: " + media::errorText(hr);
        return -1;
    }
    job->duration = duration;
    job->videoWidth = width;
    job->videoHeight = height;
    // A movie that does not state its frame rate shows 0.00, not infinity.
    job->averageFps = frameTime > 0 ? static_cast<float>(1.0 / frameTime) : 0.0f;
    job->infoText = formatInfo(job->moviePath, job->averageFps, width, height, job->duration);
    return 0;
}

int MovieProbe::run(CaptureJob* job) {
    int result = probe(job);
    ui::postMessage(job->notifyWindow, ui::WM_PROBE_DONE, result, 0);
    return result;
}
