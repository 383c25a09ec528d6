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
    const TextSize size = ::measureInformation(plan.options, plan.infoText);
    width = size.width;
    height = size.height;
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
    ::drawInformation(sheet, plan.options, layout, plan.infoText, plan.informationColor);
}

bool composeSheet(const SheetPlan& plan, const SheetLayout& layout,
                  const std::vector<CellShot>& cells, RasterImage& sheet, std::string& error) {
    if (static_cast<int64_t>(cells.size()) != layout.cells) {
        error = "The frames kept do not fit this layout.";
        return false;
    }
    const Options& o = plan.options;
    if (const Result painted = paintGrid(sheet, o, layout); !painted.ok()) {
        error = painted.text();
        return false;
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
    return writeSheetFile(sheet, plan.options, target, format, RasterImage::WriteMode::Replace);
}

media::Picture pictureOf(const RasterImage& image) {
    media::Picture p;
    if (image.width() <= 0 || image.height() <= 0 || !image.hasPixels())
        return p;
    p.width = image.width();
    p.height = image.height();
    p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
    for (int y = 0; y < p.height; ++y)
        std::memcpy(p.rgb.data() + static_cast<size_t>(y) * p.width * 3, image.row(y),
                    static_cast<size_t>(p.width) * 3);
    return p;
}

bool copyImage(const RasterImage& from, RasterImage& to) {
    if (!from.hasPixels())
        return to.create(from.width(), from.height());
    return to.createCopy(from.width(), from.height(), from.row(0));
}
