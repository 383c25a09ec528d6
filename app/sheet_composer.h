#pragma once
// A sheet drawn again from the frames a capture decoded, without the movie.
//
// A capture hands each cell's frame, at the cell's size, to its progress
// before drawing it (`CaptureProgress::frameArrived`). The desktop program
// keeps those frames with the moment and the exact time of each, and from
// them draws the sheet again when only its look changes (spacing, shadow,
// stamps, colours, the information block, or columns and rows that keep the
// number of cells), replaces one cell's frame (a nudge), and writes the result.
// Every step draws with the calls a capture draws with, in the same order, so
// a sheet composed here is the sheet a capture with the same settings and
// frames makes, byte for byte.
//
// Plain C++ over the capture and render libraries, no Qt; a candidate for
// capture/ once a front end besides the desktop wants it.

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/frame_choice.h"
#include "capture/layout.h"
#include "capture/movie_probe.h"
#include "platform/media/movie_reader.h"
#include "platform/types/media_time.h"
#include "render/raster_image.h"
#include "settings/options.h"

// One cell as the capture filled it.
struct CellShot {
    int64_t moment = 0;     // the moment it stands for, 100-ns units from the start
    bool found = false;     // false: no picture could be had; the cell says so
    MediaTime time;         // the frame's own time
    media::Picture picture; // at the cell's size, as it was drawn
    bool byHand = false;    // put there by the user, not found for the moment
};

// Everything that decides a sheet's pixels besides its frames.
struct SheetPlan {
    Options options = Options::defaults();
    MovieFacts facts;
    std::string infoText;
    InformationColor informationColor = InformationColor::Black;
    FrameChoice choice;
};

// The information block as the capture measures it (0 x 0 when it is off).
void measureInformation(const SheetPlan& plan, int& width, int& height);

// The layout a capture with this plan makes. False with `error` set when no
// sheet can be made of it.
bool planLayout(const SheetPlan& plan, SheetLayout& layout, std::string& error);

// The moments of the plan's cells, as the capture spreads them.
bool planMoments(const SheetPlan& plan, const SheetLayout& layout, std::vector<int64_t>& moments,
                 std::string& error);

// Draws the information block into `sheet` (no-op when it is off).
void drawInformation(RasterImage& sheet, const SheetPlan& plan, const SheetLayout& layout);

// The whole sheet from its cells (one per cell of the layout, in order).
// False with `error` set when the sheet cannot be had or the cells do not
// fit the layout.
bool composeSheet(const SheetPlan& plan, const SheetLayout& layout,
                  const std::vector<CellShot>& cells, RasterImage& sheet, std::string& error);

// Draws one cell again, with its stamp, over what the cell showed: every
// other pixel of the sheet stays as it is.
void redrawCell(RasterImage& sheet, const SheetPlan& plan, const SheetLayout& layout, int64_t index,
                const CellShot& shot);

// Writes the sheet as the capture writes it: the format by the target's
// extension (or `format`, "jpg", "png" or "bmp"), JPEG with the plan's
// quality, replacing the target.
Result writeComposedSheet(const RasterImage& sheet, const SheetPlan& plan,
                          const std::string& target, const std::string& format = "");

// The picture of a renderer image, rows top-down, red first.
media::Picture pictureOf(const RasterImage& image);

// A copy of an image (images move but are never copied implicitly).
bool copyImage(const RasterImage& from, RasterImage& to);
