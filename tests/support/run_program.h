#pragma once
// Runs another program to the end, as a test needs it: the ffmpeg tool to
// write formats the maker cannot, or our own command line to see exactly
// what it prints and how it exits.

#include <string>
#include <vector>

namespace testmovies {

struct ProgramRun {
    int exitCode = -1; // -1: it could not be started or did not exit normally
    std::string out;
    std::string err;
};

// `args[0]` is looked up on PATH unless it holds a slash. Standard input is
// empty.
ProgramRun runProgram(const std::vector<std::string>& args);

// ffmpeg with the arguments after "-y -nostdin -v error"; 0 when it made the
// file, otherwise non-zero with `error` holding what it said.
int runFfmpeg(const std::vector<std::string>& args, std::string* error);

} // namespace testmovies
