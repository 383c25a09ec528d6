#include <csignal>
#include <iostream>
#include <malloc.h>
#include <sched.h>
#include <unistd.h>

#include "cli/cli.h"

int main(int argc, char** argv) {
    // Sheets, frames and decoder buffers are large and short-lived, and with
    // several sheets at once they come from several malloc arenas: left to
    // its defaults glibc maps and unmaps them for every movie, and the page
    // faults of the fresh memory cost more than a small movie's decoding.
    // Kept mapped up to these sizes, the memory is reused.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // Each arena keeps what its threads freed, so the memory a run holds
    // grows with the number of arenas, and glibc makes up to 8 per core:
    // with -j 64 on 2 cores, 16 arenas held twice what the captures in work
    // used. Two per core are enough for the threads that run at once.
    cpu_set_t cores;
    CPU_ZERO(&cores);
    const int count = ::sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : 0;
    mallopt(M_ARENA_MAX, 2 * (count > 0 ? count : 1));
    const int status = cli::run(argc, argv, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1,
                                ::isatty(STDOUT_FILENO) == 1);
    // The status is settled: what the streams still hold is flushed at exit,
    // and a closed output must not turn that flush into a death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    return status;
}
