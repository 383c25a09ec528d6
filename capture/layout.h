#pragma once
// Where everything goes on a sheet, computed once per capture from the
// settings, the movie's frame size and the measured information block.
//
// The arithmetic keeps the precision the sheets have always been laid out
// with: the thumbnail size is single precision, the rest double, truncated
// toward zero; so a given movie and settings give the same sheet, pixel for
// pixel, as before. `checkLayout` refuses input that would make that
// arithmetic meaningless or the sheet absurdly large, before anything is
// allocated.

#include <cstdint>
#include <string>
#include <vector>

#include "settings/options.h"

struct SheetLayout {
    double scale = 0; // movie frame to thumbnail
    float thumbWidth = 0;
    float thumbHeight = 0;
    int sheetWidth = 0;
    int gridHeight = 0; // top spacing, all rows, bottom spacing
    int textWidth = 0;  // information block, 0 when it is off
    int textHeight = 0;
    int top = 0; // grid offset for a block above it
    int headerX = 0;
    int headerY = 0;
    int sheetHeight = 0;

    int64_t cells = 0;

    // Top-left corner of cell (c, r), in picture rows.
    int cellX(int column, const Options& o) const;
    int cellY(int row, const Options& o) const;
    int cellWidth() const { return static_cast<int>(thumbWidth); }
    int cellHeight() const { return static_cast<int>(thumbHeight); }
};

// The largest sheet we make: a side of 32768 pixels, 1 GiB of pixel bytes,
// and no more cells than the progress message can count.
constexpr int kMaxSheetSide = 32768;
constexpr uint64_t kMaxSheetBytes = uint64_t{1} << 30;
constexpr int64_t kMaxCells = 65535;

// Truncation toward zero that saturates at the int range instead of being
// undefined beyond it (settings files can hold any number).
int truncToInt(double v);

// Validates the settings and the movie's frame size, then fills `layout`.
// `textWidth`/`textHeight` are the measured information block (0 when the
// block is off). False with `error` set when the input cannot make a sheet.
bool computeLayout(const Options& o, int videoWidth, int videoHeight, int textWidth, int textHeight,
                   SheetLayout& layout, std::string& error);

// The capture moments for a movie of `duration` (100-ns units) and `cells`
// frames: evenly spaced, duration / (cells + 1) apart, never the very start
// nor the end.
std::vector<int64_t> capturePositions(int64_t duration, int64_t cells);

// The shadow colour: each background byte times (1 - intensity/100), in the
// single precision the sheets have always used.
void shadowColor(const Options& o, uint8_t& red, uint8_t& green, uint8_t& blue);
