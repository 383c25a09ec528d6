#include "app/sheet_session.h"

bool sameChoice(const FrameChoice& a, const FrameChoice& b) {
    return a.skipStart.value == b.skipStart.value && a.skipStart.percent == b.skipStart.percent &&
           a.skipEnd.value == b.skipEnd.value && a.skipEnd.percent == b.skipEnd.percent &&
           a.avoidBlank == b.avoidBlank && a.keyFrames == b.keyFrames;
}

bool SheetSession::madeWith(const Options& options, const FrameChoice& choice) const {
    return plan.options.toBytes() == options.toBytes() && sameChoice(plan.choice, choice);
}

bool SheetSession::compose(std::string& error) {
    if (composed)
        return true;
    composed = composeSheet(plan, layout, cells, sheet, error);
    return composed;
}

bool SheetSession::replaceCell(int index, const CellShot& shot, std::string& error) {
    if (index < 0 || static_cast<size_t>(index) >= cells.size()) {
        error = "There is no such cell.";
        return false;
    }
    if (!compose(error))
        return false;
    cells[static_cast<size_t>(index)] = shot;
    cells[static_cast<size_t>(index)].byHand = true;
    redrawCell(sheet, plan, layout, index, shot);
    edited = true;
    return true;
}

std::vector<KeptFrame> SheetSession::keptFrames() const {
    std::vector<KeptFrame> kept;
    kept.reserve(cells.size());
    for (const CellShot& c : cells) {
        if (!c.found || c.byHand || c.picture.empty())
            continue;
        KeptFrame k;
        k.moment = c.moment;
        k.frame.found = true;
        k.frame.time = c.time;
        k.frame.picture = c.picture;
        kept.push_back(std::move(k));
    }
    return kept;
}

CaptureResult SheetSession::outcome() const {
    CaptureResult r;
    r.cutShort = plan.facts.cutShort();
    r.readableDuration = plan.facts.duration;
    r.statedDuration = r.cutShort ? plan.facts.statedDuration : plan.facts.duration;
    for (const CellShot& c : cells)
        if (!c.found)
            r.missingMoments.push_back(c.moment);
    return r;
}

SheetSession::Relayout SheetSession::relayout(const Options& options, const FrameChoice& choice,
                                              std::string& why) {
    SheetPlan next = plan;
    next.options = options;
    next.choice = choice;
    SheetLayout layout2;
    std::vector<int64_t> moments;
    if (!planLayout(next, layout2, why) || !planMoments(next, layout2, moments, why))
        return Relayout::Refused;
    // The frames were chosen for their moments by the old rule and drawn at
    // the old cells' size: another rule, or another size, wants frames anew.
    const CellRect before = layout.cells > 0 ? layout.cellAt(0) : CellRect{};
    const CellRect after = layout2.cells > 0 ? layout2.cellAt(0) : CellRect{};
    const bool sameRule =
        choice.avoidBlank == plan.choice.avoidBlank && choice.keyFrames == plan.choice.keyFrames &&
        (!choice.keyFrames || momentStep(plan.facts.duration, layout.cells, plan.choice) ==
                                  momentStep(next.facts.duration, layout2.cells, choice));
    if (layout2.cells > 0 &&
        (!sameRule || before.width != after.width || before.height != after.height))
        return Relayout::NeedsFrames;
    std::vector<CellShot> cells2;
    cells2.reserve(moments.size());
    size_t from = 0;
    for (const int64_t moment : moments) {
        // Both lists are in time order.
        while (from < cells.size() && cells[from].moment < moment)
            ++from;
        if (from == cells.size() || cells[from].moment != moment)
            return Relayout::NeedsFrames;
        cells2.push_back(cells[from]);
    }
    RasterImage sheet2;
    if (!composeSheet(next, layout2, cells2, sheet2, why))
        return Relayout::Refused;
    plan = std::move(next);
    layout = layout2;
    cells = std::move(cells2);
    sheet = std::move(sheet2);
    composed = true;
    return Relayout::Drawn;
}
