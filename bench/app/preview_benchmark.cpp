// What the live sheet costs the capture.
//   - Shrink/W/H: one copy of a W x H sheet for the window, as the capture
//     thread makes it after a moment (at most once per moment).
//   - Capture/0 and Capture/1: a whole 10 x 10 sheet of a 60-second 640 x 360
//     H.264 movie through the desktop program's job, without and with the
//     preview watching (its pictures are taken at once, as by a quick window,
//     so every moment is copied: the most it can cost).
//   - StopLatency: from a stop asked for to the capture's end.
// Run: build/<preset>/bench/app/preview_benchmark

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/resource.h>

#include "app/capture_job.h"
#include "app/sheet_preview.h"
#include "tests/support/test_movies.h"

namespace {

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Shrink(benchmark::State& state) {
    RasterImage sheet;
    sheet.create(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    sheet.fill(Rgb{200, 100, 50});
    for (auto _ : state) {
        QImage small = PreviewFeed::shrink(sheet);
        benchmark::DoNotOptimize(small.constBits());
    }
}
BENCHMARK(Shrink)
    ->Args({840, 560})
    ->Args({1670, 1040})
    ->Args({4000, 3000})
    ->Unit(benchmark::kMillisecond);

const std::string& movie() {
    static const std::string path = [] {
        const std::string p =
            (std::filesystem::temp_directory_path() / "stillwick-preview-benchmark.mp4").string();
        if (!std::filesystem::exists(p)) {
            testmovies::MovieSpec wanted;
            wanted.path = p;
            wanted.pattern = testmovies::Pattern::Pleasant;
            wanted.noise = 12;
            wanted.width = 640;
            wanted.height = 360;
            wanted.frames = 60 * 25;
            wanted.gop = 250;
            wanted.bFrames = 3;
            wanted.x264Preset = "superfast";
            std::string error;
            if (testmovies::make(wanted, &error) != 0)
                std::fprintf(stderr, "preview_benchmark: %s\n", error.c_str());
        }
        return p;
    }();
    return path;
}

// Waits for a message. Also the receiver of the preview's events, which
// pile up unhandled: the feed below takes its pictures itself.
class Sink : public ui::MessageSink, public QObject {
public:
    void post(uint32_t message, intptr_t, intptr_t) override {
        std::lock_guard<std::mutex> lock(mutex_);
        last_ = message;
        steps_ += message == ui::WM_CAPTURE_STEP;
        changed_.notify_all();
    }
    void waitForSteps(int n) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return steps_ >= n; });
        steps_ = 0;
    }
    void waitFor(uint32_t message) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return last_ == message; });
        last_ = 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t last_ = 0;
    int steps_ = 0;
};

// A receiver on its own thread with an event loop would be closer to the
// window; taking each picture straight from the feed is the worst case for
// the capture, since nothing is then ever skipped.
class EagerFeed : public PreviewFeed {
public:
    using PreviewFeed::PreviewFeed;
    void sheetPainted(const RasterImage& sheet) override {
        PreviewFeed::sheetPainted(sheet);
        take();
    }
    void momentDone(int moment, int moments, const RasterImage& sheet) override {
        PreviewFeed::momentDone(moment, moments, sheet);
        take();
    }
};

void Capture(benchmark::State& state) {
    Options options = Options::defaults();
    options.rows = 10;
    options.columns = 10;
    Sink sink;
    EagerFeed feed(&sink);
    CaptureJob job(&sink);
    job.acceptMovie(movie());
    sink.waitFor(ui::WM_PROBE_DONE);
    job.finishProbe();
    const std::string target =
        (std::filesystem::temp_directory_path() / "stillwick-preview-benchmark.jpg").string();
    double cpu = 0;
    for (auto _ : state) {
        const double before = processCpuSeconds();
        job.setSheetWatcher(state.range(0) ? &feed : nullptr);
        job.startCapture(target, options, {}, InformationColor::ByBackground);
        sink.waitFor(ui::WM_CAPTURE_DONE);
        if (!job.finishCapture().ok())
            state.SkipWithError(job.finishCapture().errorText().c_str());
        cpu += processCpuSeconds() - before;
    }
    // Every thread's processor time: steadier than the wall clock on a busy
    // machine, and it counts the decoders' threads too.
    state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
    std::filesystem::remove(target);
    QCoreApplication::removePostedEvents(&sink);
}
BENCHMARK(Capture)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// From asking a running capture to stop to its WM_CAPTURE_DONE: the moment
// under way is finished first, so this is about one moment's work.
void StopLatency(benchmark::State& state) {
    Options options = Options::defaults();
    options.rows = 10;
    options.columns = 10;
    Sink sink;
    CaptureJob job(&sink);
    job.acceptMovie(movie());
    sink.waitFor(ui::WM_PROBE_DONE);
    job.finishProbe();
    const std::string target =
        (std::filesystem::temp_directory_path() / "stillwick-preview-benchmark-stop.jpg").string();
    for (auto _ : state) {
        job.startCapture(target, options);
        sink.waitForSteps(3);
        const auto asked = std::chrono::steady_clock::now();
        job.cancel();
        sink.waitFor(ui::WM_CAPTURE_DONE);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - asked;
        state.SetIterationTime(took.count());
        if (job.finishCapture().ok())
            state.SkipWithError("the capture was not stopped");
    }
}
BENCHMARK(StopLatency)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
