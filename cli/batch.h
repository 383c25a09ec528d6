#pragma once
// Runs the items of a batch — one movie each — on several threads and writes
// what each has to say in the order of the items, so that the output of a
// parallel run reads like that of a serial one. On a terminal it keeps one
// live line: items done of all, the movies in work with their moments, the
// time so far and an estimate of the time left.
//
// Ownership: the batch owns its threads for the length of `run`, and the
// live line; the work function owns everything an item makes.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/terminal.h"

namespace cli {

enum class Outcome {
    Made,       // the sheet (or the information) is there
    Incomplete, // the sheet is there but lacks part of the movie; one line says what
    Failed,     // one line on the error output says why
};

struct ItemResult {
    Outcome outcome = Outcome::Made;
    std::string out; // whole lines for the standard output
    std::string err; // whole lines for the error output
};

// What a running item tells the live line.
class ItemProgress {
public:
    virtual ~ItemProgress() = default;
    virtual void begin(const std::string& label, int64_t moments) = 0;
    virtual void momentDone() = 0;
};

struct BatchCounts {
    int made = 0;       // sheets written, the incomplete ones among them
    int incomplete = 0; // of those, the sheets that lack part of their movie
    int failed = 0;
    int skipped = 0; // files in folders that were no movies
    double seconds = 0;
};

class Batch {
public:
    using Work = std::function<ItemResult(size_t index, ItemProgress& progress)>;

    // `live`: draw the live line on `err` (a terminal `columns` wide).
    Batch(std::ostream& out, std::ostream& err, bool live, int columns);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Runs `work` once for each index below `count` on up to `workers`
    // threads. No item starts once `stop` is true; the items that did start
    // are finished and written.
    BatchCounts run(size_t count, int workers, const Work& work, const std::atomic<bool>& stop);

    // The live line's text as it stands.
    std::string liveText() const;

    // Called (on the writing thread) when a write to the standard or error
    // output failed because nobody reads it any more (EPIPE): the run is
    // then to stop as it would for SIGPIPE.
    void onOutputClosed(std::function<void()> handler) { outputClosed_ = std::move(handler); }

private:
    struct Slot {
        std::string label;
        int64_t moments = 0;
        int64_t done = 0;
        bool busy = false;
    };
    class SlotProgress;

    void workerLoop(size_t slot, const Work& work, const std::atomic<bool>& stop);
    void finish(size_t index, size_t slot, ItemResult result);
    void write(std::ostream& to, const std::string& text);

    std::ostream& out_;
    std::ostream& err_;
    bool live_;
    int columns_;
    std::unique_ptr<LiveLine> line_;
    std::function<void()> outputClosed_;

    size_t count_ = 0;
    std::atomic<size_t> next_{0};
    std::chrono::steady_clock::time_point start_;

    // Progress, read by the live line: never held while writing.
    mutable std::mutex stateMutex_;
    std::vector<Slot> slots_;
    BatchCounts counts_;

    // Results waiting for the items before them to be written.
    std::mutex writeMutex_;
    std::vector<std::optional<ItemResult>> results_;
    size_t nextToWrite_ = 0;
};

// Calls `fn` once for each index below `count` on up to `workers` threads,
// until `stop` is true.
void forEachInParallel(size_t count, int workers, const std::function<void(size_t)>& fn,
                       const std::atomic<bool>& stop);

// "312 sheets, 2 incomplete, 3 failed, 4 min 12 s" (with --info: "movies
// read"; what a run makes other than sheets by `one` and `many`); the
// incomplete ones are named only when there are any.
std::string summaryLine(const BatchCounts& counts, bool info, const char* one = "sheet",
                        const char* many = "sheets");

} // namespace cli
