#include <iostream>
#include <malloc.h>
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
    return cli::run(argc, argv, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1,
                    ::isatty(STDOUT_FILENO) == 1);
}
