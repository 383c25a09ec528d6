// The settings loader on arbitrary files, under both rules for a file that
// holds no settings. Besides crashes it checks what must always hold: a
// settings file is read field for field, anything else is never changed
// (refused) or kept byte for byte as .bak (the program's own file).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "settings/options.h"

namespace {

std::string g_dir;

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size != 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
}

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "options fuzzer: %s\n", what);
        std::abort();
    }
}

std::vector<uint8_t> bytesOf(const Options& o) {
    const auto image = o.toBytes();
    return {image.begin(), image.end()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // tmpfs where there is one: every save syncs its file.
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/stillwick-fuzz-options-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    g_dir = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(g_dir, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096)
        return -1;
    const std::string file = g_dir + "/options.swk";
    const std::string backup = file + ".bak";
    const std::vector<uint8_t> input(data, data + size);
    const bool settings = size == Options::kFileSize && std::memcmp(data, "STWK", 4) == 0;
    const std::vector<uint8_t> defaults = bytesOf(Options::defaults());

    // A file the user named.
    writeAll(file, data, size);
    {
        Options named(file, Options::Foreign::Refuse);
        check(readAll(file) == input, "a named file was changed");
        if (settings) {
            check(named.loaded == Options::Loaded::Read, "a settings file was not read");
            // Every byte the file has is in the record; the rest is zero.
            std::vector<uint8_t> expected(Options::kFileSize, 0);
            std::memcpy(expected.data(), data, size < expected.size() ? size : expected.size());
            check(bytesOf(named) == expected, "the record differs from the file");
            (void)named.unusableValue();
            // What is saved reads back the same.
            check(named.save(), "a settings file could not be saved");
            Options again(file, Options::Foreign::Refuse);
            check(bytesOf(again) == expected, "a saved record reads back differently");
        } else {
            check(named.loaded == Options::Loaded::RefusedForeign,
                  "a foreign file was not refused");
            check(bytesOf(named) == defaults, "a refused file left no defaults");
            check(!named.lastError.empty(), "a refused file went unexplained");
        }
    }

    // The program's own file.
    writeAll(file, data, size);
    ::unlink(backup.c_str());
    {
        Options own(file);
        if (settings) {
            check(own.loaded == Options::Loaded::Read, "the program's file was not read");
            check(access(backup.c_str(), F_OK) != 0, "a settings file was moved aside");
        } else {
            check(own.loaded == Options::Loaded::ReplacedForeign,
                  "a foreign file was not replaced");
            check(readAll(backup) == input, "the old bytes were not kept");
            std::vector<uint8_t> expected = defaults;
            for (size_t i = 6; i < 8 && i < size; ++i)
                expected[i] = data[i]; // the rejected header's reserved bytes
            check(readAll(file) == expected, "the replacement is not the defaults");
        }
    }
    return 0;
}
