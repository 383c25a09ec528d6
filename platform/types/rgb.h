#pragma once
// A colour as the pictures hold it: red, green and blue bytes, sRGB.

#include <cstdint>

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;

    friend bool operator==(const Rgb&, const Rgb&) = default;
};
