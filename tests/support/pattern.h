#pragma once
// The pleasant pattern: something worth looking at on a contact sheet.
//
// Ownership: the painter owns its lookup tables and its noise tile; `paint`
// writes into the caller's buffer.

#include <cstdint>
#include <vector>

namespace testmovies {

class PleasantPainter {
public:
    // `noise` (0..64) adds a fine texture that drifts from frame to frame, so
    // that an encoder has real work to do, as with filmed material.
    PleasantPainter(int width, int height, int noise);
    // Paints the frame at `seconds` of a movie `total` seconds long into
    // `rgb` (width × height pixels, red, green, blue, rows top-down).
    void paint(uint8_t* rgb, double seconds, double total);

private:
    void gradient(uint8_t* rgb, double t);
    void disc(uint8_t* rgb, double cx, double cy, double radius, const float colour[3],
              float opacity);
    void clock(uint8_t* rgb, double t);
    void progress(uint8_t* rgb, double fraction);
    void texture(uint8_t* rgb, int frameNumber);
    void blend(uint8_t* p, const float colour[3], float alpha);

    int width_;
    int height_;
    int noise_;
    int tileW_ = 0;
    int tileH_ = 0;
    std::vector<int8_t> tile_;
    std::vector<float> columnTable_;
    std::vector<float> rowTable_;
};

} // namespace testmovies
