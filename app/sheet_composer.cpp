#include "app/sheet_composer.h"

#include <algorithm>
#include <cstring>

#include "capture/cell_painter.h"
#include "capture/file_names.h"

namespace {

// The painter tells its progress about each frame; a composed sheet has
// nobody to tell.
class Silent : public CaptureProgress {};

media::Frame frameOf(const CellShot& shot) {
    media::Frame f;
    f.found = shot.found;
    f.time = shot.time;
    f.picture = shot.picture;
    return f;
}

} // namespace

void measureInformation(const SheetPlan& plan, int& width, int& height) {
    width = 0;
    height = 0;
    if (!plan.options.headerEnabled)
        return;
    RasterImage scratch;
    scratch.create(0, 0);
    RECT r{0, 0, 0, 0};
    scratch.drawText(plan.infoText, r, DT_CALCRECT | DT_EXPANDTABS, true, plan.options.font,
                     plan.options.textColor);
    width = r.right - r.left;
    height = r.bottom - r.top;
}

bool planLayout(const SheetPlan& plan, SheetLayout& layout, std::string& error) {
    int w = 0;
    int h = 0;
    measureInformation(plan, w, h);
    return computeLayout(plan.options, plan.facts.shownWidth(), plan.facts.shownHeight(), w, h,
                         layout, error);
}

bool planMoments(const SheetPlan& plan, const SheetLayout& layout, std::vector<int64_t>& moments,
                 std::string& error) {
    return captureMoments(plan.facts.duration, layout.cells, plan.choice, moments, error);
}

void drawInformation(RasterImage& sheet, const SheetPlan& plan, const SheetLayout& layout) {
    if (!plan.options.headerEnabled)
        return;
    RECT r{layout.headerX, layout.headerY, layout.headerX + layout.textWidth,
           layout.headerY + layout.textHeight};
    const COLORREF color = plan.informationColor == InformationColor::ByBackground
                               ? readableTextColor(plan.options.backgroundColor)
                               : RGB(0, 0, 0);
    sheet.drawText(plan.infoText, r, DT_EXPANDTABS, false, plan.options.font, color);
}

bool composeSheet(const SheetPlan& plan, const SheetLayout& layout,
                  const std::vector<CellShot>& cells, RasterImage& sheet, std::string& error) {
    if (static_cast<int64_t>(cells.size()) != layout.cells) {
        error = "The frames kept do not fit this layout.";
        return false;
    }
    if (!sheet.create(layout.sheetWidth, layout.sheetHeight)) {
        error = "Not enough memory for a sheet of " + std::to_string(layout.sheetWidth) + "x" +
                std::to_string(layout.sheetHeight) + " pixels.";
        return false;
    }
    const Options& o = plan.options;
    sheet.fill(GetRValue(o.backgroundColor), GetGValue(o.backgroundColor),
               GetBValue(o.backgroundColor));
    if (o.shadowEnabled) {
        uint8_t r, g, b;
        shadowColor(o, r, g, b);
        for (int64_t k = 0; k < layout.cells; ++k) {
            const CellRect s = layout.shadowOf(layout.cellAt(k));
            sheet.fillRect(s.x, s.y, s.width, s.height, r, g, b);
        }
        sheet.boxBlur(3);
    }
    for (int64_t k = 0; k < layout.cells; ++k) {
        const CellRect c = layout.cellAt(k);
        sheet.fillRect(c.x, c.y, c.width, c.height, 0, 0, 0);
    }
    Silent silent;
    CellPainter painter(sheet, layout, o, silent);
    for (size_t k = 0; k < cells.size(); ++k) {
        if (cells[k].found)
            painter.drawFrame(static_cast<int64_t>(k), frameOf(cells[k]));
        else
            painter.drawEmpty(static_cast<int64_t>(k), cells[k].moment);
    }
    drawInformation(sheet, plan, layout);
    return true;
}

void redrawCell(RasterImage& sheet, const SheetPlan& plan, const SheetLayout& layout, int64_t index,
                const CellShot& shot) {
    if (index < 0 || index >= layout.cells)
        return;
    Silent silent;
    CellPainter painter(sheet, layout, plan.options, silent);
    if (shot.found)
        painter.drawFrame(index, frameOf(shot));
    else
        painter.drawEmpty(index, shot.moment);
}

Result writeComposedSheet(const RasterImage& sheet, const SheetPlan& plan,
                          const std::string& target, const std::string& format) {
    const std::string ext = format.empty() ? lowerExtension(target) : "." + format;
    std::string error;
    bool written = false;
    if (ext == ".jpg" || ext == ".jpeg")
        written = sheet.saveJpeg(target, plan.options.jpegQuality,
                                 plan.options.jpegProgressive != 0, &error);
    else if (ext == ".png")
        written = sheet.savePng(target, &error);
    else
        written = sheet.saveBmp(target, &error);
    if (!written)
        return Result::failure(ResultCode::WriteFailed,
                               error.empty() ? "Cannot write " + target : error);
    return Result::success();
}

media::Picture pictureOf(const RasterImage& image) {
    media::Picture p;
    if (image.width() <= 0 || image.height() <= 0 || !image.pixels)
        return p;
    p.width = image.width();
    p.height = image.height();
    p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
    for (int y = 0; y < p.height; ++y) {
        // The image's rows run bottom-up, blue first.
        const uint8_t* from =
            image.pixels + static_cast<ptrdiff_t>(image.stride) * (p.height - 1 - y);
        uint8_t* to = p.rgb.data() + static_cast<size_t>(y) * p.width * 3;
        for (int x = 0; x < p.width; ++x) {
            to[3 * x] = from[3 * x + 2];
            to[3 * x + 1] = from[3 * x + 1];
            to[3 * x + 2] = from[3 * x];
        }
    }
    return p;
}

bool copyImage(const RasterImage& from, RasterImage& to) {
    if (!to.create(from.width(), from.height()))
        return false;
    if (from.pixels && to.pixels)
        std::memcpy(to.pixels, from.pixels,
                    static_cast<size_t>(from.stride) * static_cast<size_t>(from.height()));
    return true;
}
