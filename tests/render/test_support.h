#pragma once
// Helpers shared by the render tests: pictures to work on, files, and a
// scratch directory per test. Images returned here own their pixels.

#include <cstdint>
#include <string>
#include <vector>

#include "render/raster_image.h"
#include "tests/support/rgb_print.h"
#include "tests/support/temp_dir.h"

// Random pixels; the same seed gives the same image.
RasterImage randomImage(int width, int height, uint32_t seed);

// A picture with structure to look at after resampling: colour bars at the
// top, a circle, one-pixel lines and a checkerboard in the middle, a grey
// ramp at the bottom, red in the top-left corner and blue in the bottom-left.
RasterImage testCard(int width, int height);

// The largest difference of one channel between two images of one size.
int maxChannelDifference(const RasterImage& a, const RasterImage& b);

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool isCharacterDevice(const std::string& path);

// Writes `image` as <name>.png into the test's working directory, so that a
// person can look at what the tests produce.
void keepForInspection(const RasterImage& image, const std::string& name);

using testmovies::TempDir;
