#pragma once
// The steps that draw a sheet around its frames, shared by the capture and
// by anything that draws a sheet again from frames it kept: the same calls in
// the same order give the same pixels.
//
// Ownership: plain functions over the caller's sheet.

#include <atomic>
#include <string>

#include "capture/layout.h"
#include "platform/types/result.h"
#include "render/raster_image.h"
#include "settings/options.h"

// The colour of the information block. Black is the classic sheet's, which
// cannot be read on a dark background; ByBackground picks black or white,
// whichever stands out more against the background colour.
enum class InformationColor { Black, ByBackground };

// The information block's size as it is drawn; 0 x 0 when it is off.
TextSize measureInformation(const Options& options, const std::string& infoText);

// A new sheet of the layout's size: the background, the soft shadows and a
// black box per cell that its frame covers. `stop`, when set meanwhile, ends
// the blur early (the caller then discards the sheet). Fails when the sheet
// cannot be had.
Result paintGrid(RasterImage& sheet, const Options& options, const SheetLayout& layout,
                 const std::atomic<bool>* stop = nullptr);

// The information block where the layout puts it (nothing when it is off).
void drawInformation(RasterImage& sheet, const Options& options, const SheetLayout& layout,
                     const std::string& infoText, InformationColor color);

// JPEG for .jpg and .jpeg, PNG for .png, BMP for anything else; `format`
// ("jpg", "png" or "bmp"), when given, decides instead of the extension.
Result writeSheetFile(const RasterImage& sheet, const Options& options, const std::string& target,
                      const std::string& format, RasterImage::WriteMode mode,
                      const std::atomic<bool>* stop = nullptr);
