#pragma once
// A named pipe for tests of programs that must refuse one rather than wait
// on it. Opening a pipe for reading blocks until a writer comes; should the
// code under test ever do that, the pipe's watchdog comes as that writer
// after a while and leaves at once, so the reader sees an empty stream and
// the test fails on what it got instead of hanging.

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace testmovies {

class Fifo {
public:
    explicit Fifo(std::string path) : path_(std::move(path)) {
        made_ = ::mkfifo(path_.c_str(), 0600) == 0;
        watchdog_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!done_) {
                if (changed_.wait_for(lock, std::chrono::seconds(20), [this] { return done_; }))
                    break;
                // Only succeeds while someone is blocked opening the pipe to read.
                const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    ++rescues_;
                    ::close(fd);
                }
            }
        });
    }
    ~Fifo() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        watchdog_.join();
        ::unlink(path_.c_str());
    }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;

    bool made() const { return made_; }
    const std::string& path() const { return path_; }
    // How often the watchdog had to free a reader stuck on the pipe.
    int rescues() {
        std::lock_guard<std::mutex> lock(mutex_);
        return rescues_;
    }

private:
    std::string path_;
    bool made_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    int rescues_ = 0;
    std::thread watchdog_;
};

} // namespace testmovies
