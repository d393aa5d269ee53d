#include "model/CueEventClickChange.h"

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/NoteDuration.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

constexpr const char* kClickAction = "Change Click Options";

std::vector<uint32_t> patternFromValue(const Value& value) {
    std::vector<uint32_t> pattern;
    if (const auto& array = value.arrayValue()) {
        for (const Value& item : array->items) {
            if (item.isNumber()) pattern.push_back(static_cast<uint32_t>(item.toInt64()));
        }
    }
    return pattern;
}

}  // namespace

std::shared_ptr<CueEventClickChange> CueEventClickChange::clickChangeEventWithCue(
    const std::shared_ptr<Cue>& cue, double timeStamp) {
    return clickChangeWithCue(cue, NoteDuration::kQuarter, timeStamp);
}

std::shared_ptr<CueEventClickChange> CueEventClickChange::clickChangeWithCue(const std::shared_ptr<Cue>& cue,
                                                                             int32_t clickNoteDuration,
                                                                             double timeStamp) {
    UndoSuspension noUndo(cue);
    auto event = makeEvent<CueEventClickChange>(cue);
    event->setClickNoteDuration(clickNoteDuration);
    event->setLockPrerollShiftedBeats(static_cast<float>(timeStamp + kMinimumPrerollShiftedBeats));
    return event;
}

void CueEventClickChange::initKindDefaults() {
    changeClick_ = true;
    clickNoteDuration_ = NoteDuration::kQuarter;
    clickPattern_.clear();
    changePunches_ = false;
    initPunchDefaults();
    beatPunchNoteDuration_ = NoteDuration::kOff;
}

void CueEventClickChange::setChangeClick(bool change) {
    setUndoableField(changeClick_, change, "setChangeClick:", "changeClick", kClickAction);
}

void CueEventClickChange::setClickNoteDuration(int32_t code) {
    setUndoableField(clickNoteDuration_, code, "setClickNoteDurationAsNSNumber:", "clickNoteDuration",
                     "Change Click Duration");
}

void CueEventClickChange::setClickNoteDurationAsNSNumber(const Value& code) {
    if (code.isNumber()) setClickNoteDuration(textscan::clampToInt32(code.toInt64()));
}

void CueEventClickChange::setClickPattern(std::vector<uint32_t> pattern) {
    setUndoableField(clickPattern_, std::move(pattern), "setClickPattern:", "clickPattern", kClickAction);
    didChangeValueForKey("clickPatternString");
}

std::string CueEventClickChange::clickPatternString() const {
    return ClickPattern::stringFromPattern(clickPattern_);
}

void CueEventClickChange::setClickPatternString(std::string_view text) {
    setClickPattern(ClickPattern::patternFromString(text));
}

int32_t CueEventClickChange::clocksPerClick() const {
    return NoteDuration::clocksPerClick(clickNoteDuration_);
}

void CueEventClickChange::setChangePunches(bool change) {
    setUndoableField(changePunches_, change, "setChangePunches:", "changePunches", kPunchAction);
}

void CueEventClickChange::setBeatPunchNoteDuration(int32_t code) {
    setUndoableField(beatPunchNoteDuration_, code, "setBeatPunchNoteDuration:", "beatPunchNoteDuration",
                     kPunchAction);
    didChangeValueForKey("beatPunchEnabled");
}

bool CueEventClickChange::beatPunchEnabled() const {
    return beatPunchNoteDuration_ != NoteDuration::kOff;
}

Value CueEventClickChange::eventProxy() const {
    Value proxy = CueEvent::eventProxy();
    auto& dictionary = *proxy.dictionaryValue();
    dictionary.set("changeClick", Value(changeClick_));
    dictionary.set("clickNoteDuration", Value(clickNoteDuration_));
    dictionary.set("changePunches", Value(changePunches_));
    return proxy;
}

std::string CueEventClickChange::eventListText() const {
    return "Click change";
}

std::string CueEventClickChange::description() const {
    return "Click Change Event at beat " + numberText(lockPrerollShiftedBeats()) + ": (click change " +
           (changeClick_ ? "on" : "off") + ", punch change " + (changePunches_ ? "on" : "off") + ")";
}

void CueEventClickChange::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventClickChange", &decodeEvent<CueEventClickChange>);
}

std::shared_ptr<CueEvent> CueEventClickChange::makeEmptyCopy() const {
    return makeEvent<CueEventClickChange>(cue());
}

void CueEventClickChange::copyKindFieldsTo(CueEvent& copy) const {
    auto& click = static_cast<CueEventClickChange&>(copy);
    click.setChangeClick(changeClick_);
    click.setClickNoteDuration(clickNoteDuration_);
    click.setClickPattern(clickPattern_);
    click.setChangePunches(changePunches_);
    copyPunchesTo(click);
    click.setBeatPunchNoteDuration(beatPunchNoteDuration_);
}

void CueEventClickChange::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeObject(Value(changeClick_), "changeClick");
    coder.encodeInt(clickNoteDuration_, "clickNoteDuration");
    coder.encodeObject(fieldValue(clickPattern_), "clickPattern");
    coder.encodeObject(Value(changePunches_), "changePunches");
    encodeBarPunch(coder);
    coder.encodeInt(beatPunchNoteDuration_, "beatPunchNoteDuration");
    encodeBeatPunch(coder);
}

void CueEventClickChange::decodeKindFields(KeyedUnarchiver& coder) {
    Value value;
    if (decodeIfPresent(coder, "changeClick", value) && value.isNumber()) setChangeClick(value.toBool());
    if (coder.containsValueForKey("clickNoteDuration")) {
        setClickNoteDuration(textscan::clampToInt32(coder.decodeInt("clickNoteDuration")));
    }
    setClickPattern(patternFromValue(coder.decodeObject("clickPattern")));
    if (decodeIfPresent(coder, "changePunches", value) && value.isNumber()) setChangePunches(value.toBool());
    decodePunches(coder);

    // Older records kept only whether the beat punch was on: on meant every beat.
    const ArchiveField beatDuration = coder.decodeArchiveField("beatPunchNoteDuration");
    if (beatDuration.kind == ArchiveField::Kind::Inline && beatDuration.value.isBool()) {
        setBeatPunchNoteDuration(beatDuration.value.toBool() ? NoteDuration::kQuarter : 0);
    } else if (coder.containsValueForKey("beatPunchNoteDuration")) {
        setBeatPunchNoteDuration(textscan::clampToInt32(coder.decodeInt("beatPunchNoteDuration")));
    }
}

bool CueEventClickChange::keyAffectsEventProxy(std::string_view key) const {
    return key == "changeClick" || key == "clickNoteDuration" || key == "clickPattern" ||
           key == "changePunches" || key == "beatPunchNoteDuration" || isPunchKey(key);
}

bool CueEventClickChange::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setChangeClick:") {
        setChangeClick(argument.toBool());
    } else if (operation == "setClickNoteDurationAsNSNumber:") {
        setClickNoteDurationAsNSNumber(argument);
    } else if (operation == "setClickPattern:") {
        setClickPattern(patternFromValue(argument));
    } else if (operation == "setChangePunches:") {
        setChangePunches(argument.toBool());
    } else if (operation == "setBeatPunchNoteDuration:") {
        setBeatPunchNoteDuration(textscan::clampToInt32(argument.toInt64()));
    } else {
        return performPunchUndoOperation(operation, argument);
    }
    return true;
}

}  // namespace tollvane
