#include "cli/terminal.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sys/ioctl.h>
#include <system_error>

namespace cli {

std::string spokenDuration(double seconds) {
    if (!(seconds >= 0))
        seconds = 0;
    char text[48];
    if (seconds < 10) {
        std::snprintf(text, sizeof text, "%.1f s", std::floor(seconds * 10) / 10);
        return text;
    }
    const long whole = static_cast<long>(seconds);
    if (whole < 60)
        std::snprintf(text, sizeof text, "%ld s", whole);
    else if (whole < 3600)
        std::snprintf(text, sizeof text, "%ld min %ld s", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld h %02ld min", whole / 3600, whole / 60 % 60);
    return text;
}

int terminalColumns(int fd, int fallback) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return fallback;
}

std::string fitColumns(const std::string& text, int columns) {
    if (columns <= 0)
        return {};
    // Characters are counted by their first byte; every one is taken as one
    // column wide, which holds for the names and numbers shown here.
    size_t at = 0;
    int count = 0;
    while (at < text.size() && count < columns) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            ++at;
        ++count;
    }
    if (at >= text.size())
        return text;
    // Room for the ellipsis: give back the last character.
    size_t cut = at;
    do {
        --cut;
    } while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80);
    return text.substr(0, cut) + "\u2026";
}

LiveLine::LiveLine(std::ostream& err, std::function<std::string()> render, int columns,
                   int intervalMs)
    : err_(err), render_(std::move(render)), columns_(columns), intervalMs_(intervalMs) {
    try {
        ticker_ = std::thread(&LiveLine::tick, this);
    } catch (const std::system_error&) {
        // Without a thread of its own the line is still redrawn with every
        // line printed above it.
    }
}

LiveLine::~LiveLine() {
    stop();
}

void LiveLine::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_)
            return;
        stopped_ = true;
        if (!shown_.empty())
            err_ << "\r\033[K" << std::flush;
        shown_.clear();
    }
    wake_.notify_all();
    if (ticker_.joinable())
        ticker_.join();
}

void LiveLine::print(std::ostream& to, const std::string& lines) {
    // The text is made outside the lock: `render` takes locks of its own.
    const std::string text = render_();
    std::lock_guard<std::mutex> lock(mutex_);
    err_ << "\r\033[K" << std::flush;
    to << lines << std::flush;
    shown_.clear();
    if (!stopped_)
        draw(text);
}

void LiveLine::draw(const std::string& text) {
    // The last column stays free: some terminals wrap when it is written.
    shown_ = fitColumns(text, columns_ - 1);
    err_ << "\r\033[K" << shown_ << std::flush;
}

void LiveLine::tick() {
    for (;;) {
        const std::string text = render_();
        std::unique_lock<std::mutex> lock(mutex_);
        if (stopped_)
            return;
        draw(text);
        wake_.wait_for(lock, std::chrono::milliseconds(intervalMs_), [this] { return stopped_; });
        if (stopped_)
            return;
    }
}

} // namespace cli
