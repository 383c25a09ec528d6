// Movies read from memory through an installed source behave as the same
// bytes in a file: the fuzzers rely on it to reach the real code.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "capture/capture.h"
#include "capture/movie_probe.h"
#include "platform/media/input_source.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace {

std::vector<uint8_t> readAll(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Installed for one scope.
class Installed {
public:
    explicit Installed(media::InputSource& source) { media::setInputSource(&source); }
    ~Installed() { media::setInputSource(nullptr); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

TEST(MemoryMovies, AMovieInMemoryProbesAndCapturesExactlyAsItsFile) {
    testmovies::TempDir dir;
    for (const char* name : {"clip.avi", "clip.mkv", "clip.mpg"}) {
        SCOPED_TRACE(name);
        testmovies::MovieSpec spec;
        spec.path = dir.file(name);
        spec.width = 96;
        spec.height = 64;
        spec.frames = 30;
        std::string error;
        ASSERT_EQ(testmovies::make(spec, &error), 0) << error;
        Options o = Options::defaults();
        o.columns = 3;
        o.rows = 2;

        CaptureProgress quiet;
        const ProbeResult fromFile = MovieProbe::probe(spec.path);
        ASSERT_TRUE(fromFile.ok()) << fromFile.errorText();
        const std::string fileSheet = dir.file(std::string(name) + ".file.bmp");
        ASSERT_TRUE(
            captureSheet({spec.path, fromFile.facts, fromFile.infoText, fileSheet, {}}, o, quiet)
                .ok());

        // The same name, now only in memory.
        const std::vector<uint8_t> bytes = readAll(spec.path);
        std::filesystem::remove(spec.path);
        media::MemoryMovies memory;
        memory.add(spec.path, bytes.data(), bytes.size());
        const std::string memorySheet = dir.file(std::string(name) + ".memory.bmp");
        {
            Installed installed(memory);
            const ProbeResult fromMemory = MovieProbe::probe(spec.path);
            ASSERT_TRUE(fromMemory.ok()) << fromMemory.errorText();
            EXPECT_EQ(fromMemory.infoText, fromFile.infoText);
            EXPECT_EQ(fromMemory.facts.duration, fromFile.facts.duration);
            const CaptureResult r = captureSheet(
                {spec.path, fromMemory.facts, fromMemory.infoText, memorySheet, {}}, o, quiet);
            ASSERT_TRUE(r.ok()) << r.errorText();
        }
        EXPECT_GE(memory.openings(), 2u); // the probe, and the capture's own readers
        EXPECT_TRUE(readAll(memorySheet) == readAll(fileSheet)) << "the sheets differ";

        // Once removed, the source is not asked any more.
        EXPECT_FALSE(MovieProbe::probe(spec.path).ok());
    }
}

TEST(MemoryMovies, NamesTheSourceDoesNotHoldComeFromTheFileSystem) {
    testmovies::TempDir dir;
    testmovies::MovieSpec spec;
    spec.path = dir.file("on disk.avi");
    std::string error;
    ASSERT_EQ(testmovies::make(spec, &error), 0) << error;
    media::MemoryMovies memory;
    const uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    memory.add(dir.file("junk.avi"), junk, sizeof junk);
    Installed installed(memory);
    EXPECT_TRUE(MovieProbe::probe(spec.path).ok());
    const ProbeResult bad = MovieProbe::probe(dir.file("junk.avi"));
    EXPECT_FALSE(bad.ok());
    EXPECT_FALSE(bad.errorText().empty());
    EXPECT_EQ(memory.openings(), 1u);
}

} // namespace
