#include "model/CueEventTempoChange.h"

#include <cmath>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/NoteDuration.h"
#include "timebase/TextScanning.h"

namespace tollvane {

std::shared_ptr<CueEventTempoChange> CueEventTempoChange::tempoChangeEventWithCue(
    const std::shared_ptr<Cue>& cue, double bpm, int32_t noteDuration, double timeStamp) {
    UndoSuspension noUndo(cue);
    auto event = makeEvent<CueEventTempoChange>(cue);
    event->setBpm(bpm);
    event->setNoteDuration(noteDuration);
    event->setLockPrerollShiftedBeats(timeStamp + kMinimumPrerollShiftedBeats);
    return event;
}

void CueEventTempoChange::initKindDefaults() {
    bpm_ = 120.0;
    noteDuration_ = NoteDuration::kQuarter;
}

void CueEventTempoChange::setBpm(double bpm) {
    // Not a tempo at all; the tempo map could not be built with it.
    if (!std::isfinite(bpm)) return;
    setUndoableField(bpm_, std::round(bpm * 1000.0) / 1000.0, "setBpmAsNSNumber:", "bpm", "Change Tempo");
}

void CueEventTempoChange::setNoteDuration(int32_t code) {
    setUndoableField(noteDuration_, code, "setNoteDurationAsNSNumber:", "noteDuration",
                     "Change Tempo Base Duration");
}

void CueEventTempoChange::setBpmAsNSNumber(const Value& bpm) {
    if (bpm.isNumber()) setBpm(bpm.toDouble());
}

void CueEventTempoChange::setNoteDurationAsNSNumber(const Value& code) {
    if (code.isNumber()) setNoteDuration(textscan::clampToInt32(code.toInt64()));
}

double CueEventTempoChange::quarterNoteBPM() const {
    return bpm_ * NoteDuration::quarterNotes(noteDuration_);
}

Value CueEventTempoChange::eventProxy() const {
    Value proxy = CueEvent::eventProxy();
    auto& dictionary = *proxy.dictionaryValue();
    dictionary.set("bpm", Value(bpm_));
    dictionary.set("noteDuration", Value(noteDuration_));
    return proxy;
}

std::string CueEventTempoChange::eventListText() const {
    return numberText(bpm_) + " bpm";
}

void CueEventTempoChange::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventTempoChange", &decodeEvent<CueEventTempoChange>);
}

std::shared_ptr<CueEvent> CueEventTempoChange::makeEmptyCopy() const {
    return makeEvent<CueEventTempoChange>(cue());
}

void CueEventTempoChange::copyKindFieldsTo(CueEvent& copy) const {
    auto& tempo = static_cast<CueEventTempoChange&>(copy);
    tempo.setBpm(bpm_);
    tempo.setNoteDuration(noteDuration_);
}

void CueEventTempoChange::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeFloat(static_cast<float>(bpm_), "bpm");
    coder.encodeInt(noteDuration_, "noteDuration");
}

void CueEventTempoChange::decodeKindFields(KeyedUnarchiver& coder) {
    // Stored in single precision; the setter's rounding gives back the
    // thousandths that were typed.
    if (coder.containsValueForKey("bpm")) setBpm(static_cast<double>(coder.decodeFloat("bpm")));
    if (coder.containsValueForKey("noteDuration")) {
        setNoteDuration(textscan::clampToInt32(coder.decodeInt("noteDuration")));
    }
}

bool CueEventTempoChange::keyAffectsEventProxy(std::string_view key) const {
    return key == "bpm" || key == "noteDuration";
}

bool CueEventTempoChange::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setBpmAsNSNumber:") {
        setBpmAsNSNumber(argument);
    } else if (operation == "setNoteDurationAsNSNumber:") {
        setNoteDurationAsNSNumber(argument);
    } else {
        return false;
    }
    return true;
}

}  // namespace tollvane
