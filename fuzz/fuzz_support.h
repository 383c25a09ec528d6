#pragma once
// What the movie fuzzers share with their seed maker.
//
// A movie fuzz input is one selector byte and the movie's bytes. The
// selector picks the name the movie is opened under: FFmpeg leans on the
// extension when it guesses formats that have no signature (elementary
// streams, VCD .dat), so the fuzzer must be able to try them all.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The name a movie input is opened under, for its selector byte.
std::string movieName(uint8_t selector);
// The selector that opens a movie under this extension (".avi"), or 0.
uint8_t selectorFor(const std::string& extension);

// Keeps the media library's log off the fuzzer's output.
void silenceMediaLog();

} // namespace fuzz
