#pragma once
// The terminal side of a batch: one line at the bottom that is redrawn in
// place while finished sheets and errors scroll above it, and the way times
// are spoken in it and in the summary. No colour is used, so NO_COLOR has
// nothing to turn off.

#include <condition_variable>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>

namespace cli {

// "0.4 s", "12 s", "4 min 12 s", "1 h 02 min".
std::string spokenDuration(double seconds);

// The width of the terminal on the file descriptor, or `fallback`.
int terminalColumns(int fd, int fallback = 80);

// The text cut to at most `columns` characters (UTF-8 sequences kept whole),
// ending in "…" when cut.
std::string fitColumns(const std::string& text, int columns);

// Redraws `render()`'s text on `err` every `intervalMs` from a thread of its
// own, and whenever asked. `render` must not call back into the line.
class LiveLine {
public:
    LiveLine(std::ostream& err, std::function<std::string()> render, int columns,
             int intervalMs = 250);
    ~LiveLine();
    LiveLine(const LiveLine&) = delete;
    LiveLine& operator=(const LiveLine&) = delete;

    // Writes whole lines to `to` above the live line.
    void print(std::ostream& to, const std::string& lines);
    // Takes the line away for good.
    void stop();

private:
    void draw(const std::string& text);
    void tick();

    std::ostream& err_;
    std::function<std::string()> render_;
    int columns_;
    int intervalMs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    std::string shown_;
    std::thread ticker_;
};

} // namespace cli
