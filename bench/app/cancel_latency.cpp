// cancel-latency: how long the desktop program's job takes to give its
// thread back when the window closes (cancel, then wait) during a probe and
// during a capture of a movie.
//
//   cancel-latency MOVIE [DELAY_MS...]
//
// For each delay it starts a probe, and then a capture of 10 × 30 moments,
// cancels it that long after the start and prints the time from the cancel
// to the end of the wait, and whether anything was left in the sheet's
// folder. A delay at which the work had already ended says so.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/capture_job.h"
#include "settings/options.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Cancels as the window's closing does; -1 when the job was no longer busy.
double closeAfter(CaptureJob& job, int delayMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    if (!job.busy())
        return -1;
    const Clock::time_point start = Clock::now();
    job.cancel();
    job.wait();
    return millisecondsSince(start);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: cancel-latency MOVIE [DELAY_MS...]\n");
        return 2;
    }
    const std::string movie = argv[1];
    std::vector<int> delays;
    for (int i = 2; i < argc; ++i)
        delays.push_back(std::atoi(argv[i]));
    if (delays.empty())
        delays = {0, 5, 50, 200, 500, 1000, 2000};

    Options options = Options::defaults();
    options.rows = 30;
    options.columns = 10;
    const fs::path folder = fs::temp_directory_path() / "stillwick-cancel-latency";
    std::error_code ec;
    fs::create_directories(folder, ec);

    // The whole probe and capture, for reference.
    CaptureJob reference;
    Clock::time_point start = Clock::now();
    reference.acceptMovie(movie);
    reference.wait();
    const ProbeResult& probe = reference.finishProbe();
    if (!probe.ok()) {
        std::fprintf(stderr, "%s: %s\n", movie.c_str(), probe.errorText().c_str());
        return 1;
    }
    const double probeMs = millisecondsSince(start);
    start = Clock::now();
    reference.startCapture((folder / "sheet.jpg").string(), options);
    reference.wait();
    const bool made = reference.finishCapture().ok();
    std::printf("probe %.0f ms, capture of 10 x 30 moments %.0f ms (%s)\n", probeMs,
                millisecondsSince(start), made ? "made" : "failed");
    fs::remove(folder / "sheet.jpg", ec);

    std::printf("%-9s %-9s %-12s %s\n", "delay_ms", "phase", "latency_ms", "left_behind");
    for (int delay : delays) {
        {
            CaptureJob job;
            job.acceptMovie(movie);
            const double ms = closeAfter(job, delay);
            if (ms < 0)
                std::printf("%-9d %-9s %-12s -\n", delay, "probe", "(done)");
            else
                std::printf("%-9d %-9s %-12.1f -\n", delay, "probe", ms);
        }
        CaptureJob job;
        job.acceptMovie(movie);
        job.wait();
        job.finishProbe();
        job.startCapture((folder / "sheet.jpg").string(), options);
        const double ms = closeAfter(job, delay);
        std::string left;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            left += entry.path().filename().string() + " ";
        fs::remove_all(folder, ec);
        fs::create_directories(folder, ec);
        if (ms < 0)
            std::printf("%-9d %-9s %-12s %s\n", delay, "capture", "(done)", left.c_str());
        else
            std::printf("%-9d %-9s %-12.1f %s\n", delay, "capture", ms,
                        left.empty() ? "-" : left.c_str());
    }
    fs::remove_all(folder, ec);
    return 0;
}
