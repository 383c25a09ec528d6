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

// A rectangle in picture rows: left, top, width, height.
struct CellRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

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

    int columns = 0;
    int rows = 0;
    int64_t cells = 0;

    // Where cell (column, row) is: its frame covers exactly this rectangle,
    // its shadow is this rectangle moved by the shadow offset, and its time
    // stamp sits inside it. Computed here only, so the three always agree.
    CellRect cell(int column, int row) const;
    // The cell of the index-th moment: left to right, then top to bottom.
    CellRect cellAt(int64_t index) const;
    CellRect shadowOf(const CellRect& cell) const;
    // The stamp's box: the cell inset 3 pixels at the left and at the right,
    // so the text never touches the frame's edge.
    static CellRect stampOf(const CellRect& cell);

    // What the cell rectangles are computed from.
    int spacingX = 0;
    int spacingY = 0;
    int shadowOffsetX = 0;
    int shadowOffsetY = 0;
};

// The largest sheet we make: a side of 32768 pixels and 1 GiB of pixel
// bytes. These bound the number of cells too: there is no other cap.
constexpr int kMaxSheetSide = 32768;
constexpr uint64_t kMaxSheetBytes = uint64_t{1} << 30;

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
Rgb shadowColor(const Options& o);
