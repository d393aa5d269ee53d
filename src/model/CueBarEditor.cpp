#include "model/CueBarEditor.h"

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "document/Document.h"
#include "document/DocumentUndoController.h"
#include "model/Cue.h"
#include "model/CueEvent.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventTempoChange.h"
#include "playback/FFMusicSequence.h"

namespace tollvane {

namespace {

constexpr const char* kEventsNeedResorting = "eventsNeedResorting";

bool isTempoOrMeterOrClick(CueBarEditor::Kind kind) {
    return kind != CueBarEditor::Kind::Other;
}

// One undo step for the whole edit; the group closes however the edit ends.
class EditGroup {
public:
    EditGroup(Cue& cue, const std::shared_ptr<Cue>& target, const char* name) {
        Document* document = cue.document();
        if (!document) return;
        undo_ = &document->undoController();
        // Inside someone else's group the edit simply becomes part of it.
        opened_ = !undo_->undoGroupName().has_value();
        if (opened_) undo_->setUndoGroupName(std::string(name));
        // Registered first, so undoing the edit ends with a re-sort of the
        // meter list it has put back.
        undo_->registerDiscreteUndoWithTarget(target, kEventsNeedResorting, Value(), "Re-sort events");
    }
    ~EditGroup() {
        if (opened_) undo_->setUndoGroupName(std::nullopt);
    }
    EditGroup(const EditGroup&) = delete;
    EditGroup& operator=(const EditGroup&) = delete;

private:
    DocumentUndoController* undo_ = nullptr;
    bool opened_ = false;
};

}  // namespace

CueBarEditor::CueBarEditor(std::shared_ptr<Cue> cue) : cue_(std::move(cue)) {}

CueBarEditor::Kind CueBarEditor::kindOf(const CueEvent& event) {
    if (dynamic_cast<const CueEventTempoChange*>(&event)) return Kind::TempoChange;
    if (dynamic_cast<const CueEventMeterChange*>(&event)) return Kind::MeterChange;
    if (dynamic_cast<const CueEventClickChange*>(&event)) return Kind::ClickChange;
    return Kind::Other;
}

CueBarEditor::DeleteEdit CueBarEditor::deleteEditFor(int32_t lockType, Kind kind, double position,
                                                     int32_t bar, const DeletedBars& deleted) {
    if (lockType == CueEvent::kLockTypeBeat) {
        if (position < deleted.start - kTolerance) return DeleteEdit::Keep;
        if (position >= deleted.end + kTolerance) return DeleteEdit::MoveBack;
        // On the downbeat after the deleted bars: only the changes that the
        // edit carries back itself go; the rest belongs to the bars that stay.
        if (position >= deleted.end - kTolerance && !isTempoOrMeterOrClick(kind)) return DeleteEdit::MoveBack;
        return DeleteEdit::Remove;
    }
    if (lockType == CueEvent::kLockTypeBar) {
        const int64_t lastBar = int64_t{deleted.firstBar} + deleted.count;
        if (bar < deleted.firstBar) return DeleteEdit::Keep;
        if (bar > lastBar) return DeleteEdit::MoveBack;
        if (bar == lastBar && !isTempoOrMeterOrClick(kind)) return DeleteEdit::MoveBack;
        return DeleteEdit::Remove;
    }
    return DeleteEdit::Keep;
}

bool CueBarEditor::movesOnInsert(int32_t lockType, Kind kind, double position, int32_t bar,
                                 const InsertionPoint& point) {
    const bool staysAtPoint =
        point.changesStayAtPoint && (kind == Kind::TempoChange || kind == Kind::MeterChange);
    if (lockType == CueEvent::kLockTypeBeat) {
        if (position < point.position - kTolerance) return false;
        return !(staysAtPoint && position <= point.position + kTolerance);
    }
    if (lockType == CueEvent::kLockTypeBar) {
        if (bar < point.bar) return false;
        return !(staysAtPoint && bar == point.bar);
    }
    return false;
}

double CueBarEditor::downbeatOfBar(int32_t bar) const {
    return cue_->timingMap()->beatsForBarNumber(bar + Cue::kPrerollBars, 1);
}

void CueBarEditor::deleteBars(int32_t count, int32_t startingAtBar) {
    EditGroup group(*cue_, cue_, "Delete Bars");
    if (count < 1) return;
    // The downbeats must reflect every edit made so far, also one whose
    // rebuild is still pending.
    cue_->reallyUpdateSequence();
    if (!cue_->sequence()) return;

    DeletedBars deleted;
    deleted.firstBar = startingAtBar;
    deleted.count = count;
    deleted.start = downbeatOfBar(startingAtBar);
    deleted.end = downbeatOfBar(startingAtBar + count);
    const double deletedBeats = deleted.end - deleted.start;

    // The latest removed tempo, meter and click change, by kind.
    std::array<std::shared_ptr<CueEvent>, 4> keptAside;
    for (const std::shared_ptr<CueEvent>& event : cue_->eventsForArrayController()) {
        const Kind kind = kindOf(*event);
        const int32_t lockType = event->lockType();
        switch (deleteEditFor(lockType, kind, event->lockPrerollShiftedBeats(), event->lockBar(), deleted)) {
            case DeleteEdit::Keep:
                break;
            case DeleteEdit::MoveBack:
                if (lockType == CueEvent::kLockTypeBar) {
                    event->setLockBar(event->lockBar() - count);
                } else {
                    event->setLockPrerollShiftedBeats(event->lockPrerollShiftedBeats() - deletedBeats);
                }
                break;
            case DeleteEdit::Remove: {
                cue_->removeEvent(event);
                if (!isTempoOrMeterOrClick(kind)) break;
                std::shared_ptr<CueEvent>& kept = keptAside[static_cast<size_t>(kind)];
                // Bar-locked ones are met in bar order; beat-locked ones go by position.
                if (!kept || lockType == CueEvent::kLockTypeBar ||
                    event->lockPrerollShiftedBeats() >= kept->lockPrerollShiftedBeats()) {
                    kept = event;
                }
                break;
            }
        }
    }

    // What was in force at the end of the deleted bars stays in force after them.
    for (const std::shared_ptr<CueEvent>& event : keptAside) {
        if (!event) continue;
        if (event->lockType() == CueEvent::kLockTypeBar) {
            event->setLockBar(startingAtBar);
        } else {
            event->setLockPrerollShiftedBeats(deleted.start);
        }
        cue_->addEvent(event);
    }
}

void CueBarEditor::insertBars(int32_t count, int32_t beforeBar, int32_t usingTempo) {
    EditGroup group(*cue_, cue_, "Insert Bars");
    if (count < 1) return;
    cue_->reallyUpdateSequence();
    if (!cue_->sequence()) return;

    InsertionPoint point;
    point.bar = beforeBar;
    point.position = downbeatOfBar(beforeBar);
    point.changesStayAtPoint = usingTempo == 2;
    const double barLength = usingTempo == 1 ? point.position - downbeatOfBar(beforeBar - 1)
                                             : downbeatOfBar(beforeBar + 1) - point.position;
    const double insertedBeats = count * barLength;

    for (const std::shared_ptr<CueEvent>& event : cue_->eventsForArrayController()) {
        const int32_t lockType = event->lockType();
        if (!movesOnInsert(lockType, kindOf(*event), event->lockPrerollShiftedBeats(), event->lockBar(),
                           point)) {
            continue;
        }
        if (lockType == CueEvent::kLockTypeBar) {
            event->setLockBar(event->lockBar() + count);
        } else {
            event->setLockPrerollShiftedBeats(event->lockPrerollShiftedBeats() + insertedBeats);
        }
    }

    const double sync = cue_->syncPrerollShiftedBeats();
    if (sync > point.position - kTolerance) cue_->setSyncPrerollShiftedBeats(Value(sync + insertedBeats));
}

}  // namespace tollvane
