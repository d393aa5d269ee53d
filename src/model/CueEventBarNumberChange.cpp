#include "model/CueEventBarNumberChange.h"

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {

std::shared_ptr<CueEventBarNumberChange> CueEventBarNumberChange::barNumberChangeEventWithCue(
    const std::shared_ptr<Cue>& cue, double timeStamp) {
    UndoSuspension noUndo(cue);
    auto event = makeEvent<CueEventBarNumberChange>(cue);
    event->setLockPrerollShiftedBeats(timeStamp + kMinimumPrerollShiftedBeats);
    return event;
}

void CueEventBarNumberChange::initKindDefaults() {
    barNumber_.reset();
}

void CueEventBarNumberChange::setBarNumber(std::optional<std::string> barNumber) {
    setUndoableField(barNumber_, std::move(barNumber), "setBarNumber:", "barNumber", "Change Bar Number");
}

Value CueEventBarNumberChange::eventProxy() const {
    Value proxy = CueEvent::eventProxy();
    if (barNumber_) proxy.dictionaryValue()->set("barNumber", Value(*barNumber_));
    return proxy;
}

void CueEventBarNumberChange::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventBarNumberChange", &decodeEvent<CueEventBarNumberChange>);
}

std::shared_ptr<CueEvent> CueEventBarNumberChange::makeEmptyCopy() const {
    return makeEvent<CueEventBarNumberChange>(cue());
}

void CueEventBarNumberChange::copyKindFieldsTo(CueEvent& copy) const {
    static_cast<CueEventBarNumberChange&>(copy).setBarNumber(barNumber_);
}

void CueEventBarNumberChange::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeObject(fieldValue(barNumber_), "barNumber");
}

void CueEventBarNumberChange::decodeKindFields(KeyedUnarchiver& coder) {
    const Value number = coder.decodeObject("barNumber");
    setBarNumber(number.isString() ? std::optional<std::string>(number.stringValue()) : std::nullopt);
}

// The printed bar numbers are drawn from the events themselves; the compiled
// sequence does not depend on them.
bool CueEventBarNumberChange::keyAffectsEventProxy(std::string_view) const {
    return false;
}

bool CueEventBarNumberChange::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation != "setBarNumber:") return false;
    setBarNumber(argument.isString() ? std::optional<std::string>(argument.stringValue()) : std::nullopt);
    return true;
}

}  // namespace tollvane
