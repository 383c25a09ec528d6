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
    redrawCell(sheet, plan, layout, index, shot);
    edited = true;
    return true;
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
