#include "capture/sheet_paint.h"

#include "capture/capture.h"
#include "capture/file_names.h"

TextSize measureInformation(const Options& options, const std::string& infoText) {
    if (!options.headerEnabled)
        return TextSize{};
    return measureText(infoText, TextFlags{.expandTabs = true}, options.font);
}

Result paintGrid(RasterImage& sheet, const Options& o, const SheetLayout& layout,
                 const std::atomic<bool>* stop) {
    if (!sheet.create(layout.sheetWidth, layout.sheetHeight))
        return Result::failure(ResultCode::TooLarge, "Not enough memory for a sheet of " +
                                                         std::to_string(layout.sheetWidth) + "x" +
                                                         std::to_string(layout.sheetHeight) +
                                                         " pixels.");
    sheet.fill(o.backgroundColor);
    if (o.shadowEnabled) {
        const Rgb shadow = shadowColor(o);
        for (int64_t k = 0; k < layout.cells; ++k) {
            const CellRect s = layout.shadowOf(layout.cellAt(k));
            sheet.fillRect(s.x, s.y, s.width, s.height, shadow);
        }
        sheet.boxBlur(3, stop);
    }
    for (int64_t k = 0; k < layout.cells; ++k) {
        const CellRect c = layout.cellAt(k);
        sheet.fillRect(c.x, c.y, c.width, c.height, Rgb{0, 0, 0});
    }
    return Result::success();
}

// Without an outline, whatever the stamps have: the block sits on the
// background, not on a picture, so one plain colour that contrasts with the
// background is enough.
void drawInformation(RasterImage& sheet, const Options& o, const SheetLayout& layout,
                     const std::string& infoText, InformationColor color) {
    if (!o.headerEnabled)
        return;
    const TextBox box{layout.headerX, layout.headerY, layout.headerX + layout.textWidth,
                      layout.headerY + layout.textHeight};
    const Rgb ink = color == InformationColor::ByBackground ? readableTextColor(o.backgroundColor)
                                                            : Rgb{0, 0, 0};
    sheet.drawText(infoText, box, TextFlags{.expandTabs = true}, false, o.font, ink);
}

Result writeSheetFile(const RasterImage& sheet, const Options& o, const std::string& target,
                      const std::string& format, RasterImage::WriteMode mode,
                      const std::atomic<bool>* stop) {
    const std::string chosen = format.empty() ? sheetFormatOf(target) : format;
    std::string error;
    bool written = false;
    // A stop while the sheet is written leaves the target as it was.
    if (chosen == "jpg")
        written = sheet.saveJpeg(target, o.jpegQuality, o.jpegProgressive != 0, &error, mode, stop);
    else if (chosen == "png")
        written = sheet.savePng(target, &error, mode, stop);
    else
        written = sheet.saveBmp(target, &error, mode, stop);
    if (!written)
        return Result::failure(ResultCode::WriteFailed,
                               error.empty() ? "Cannot write " + target : error);
    return Result::success();
}
