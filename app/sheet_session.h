#pragma once
// The finished sheet the window works with: what it was made from, its
// cells' frames and, once needed, the sheet drawn from them.
//
// A capture leaves one behind (when its cells could be kept). Replacing a
// cell's frame (a nudge) draws that cell again and marks the sheet as the
// user's own, which Save then writes as it is instead of capturing again.

#include <string>
#include <vector>

#include "app/sheet_composer.h"

struct SheetSession {
    std::string moviePath;
    SheetPlan plan;
    SheetLayout layout;
    std::vector<CellShot> cells;
    RasterImage sheet; // valid when `composed`
    bool composed = false;
    // Frames were chosen by hand: the sheet is no longer what a capture
    // with these settings would make.
    bool edited = false;

    // Whether the sheet was made with these settings and this frame choice.
    bool madeWith(const Options& options, const FrameChoice& choice) const;
    // Draws the sheet from the cells, once.
    bool compose(std::string& error);
    // Puts a frame into a cell and draws that cell again.
    bool replaceCell(int index, const CellShot& shot, std::string& error);
    // The frames a capture of the same movie may take instead of decoding
    // them: those found for their moments, not those chosen by hand.
    std::vector<KeptFrame> keptFrames() const;
    // What a capture of this sheet would have reported: the moments without
    // a picture, whether the movie was cut short.
    CaptureResult outcome() const;

    enum class Relayout {
        Drawn,       // drawn again from the kept frames, nothing decoded
        NeedsFrames, // the new settings want frames that are not kept
        Refused,     // no sheet can be made with them (`why` says)
    };
    // The sheet with other settings or frame choice. Kept frames serve the
    // cells whose moment and size do not change (columns and rows that keep
    // the number of cells, spacing, shadow, stamps, colours, the block);
    // frames chosen by hand stay in their cells. On anything but Drawn the
    // session is left as it was.
    Relayout relayout(const Options& options, const FrameChoice& choice, std::string& why);
};

bool sameChoice(const FrameChoice& a, const FrameChoice& b);
