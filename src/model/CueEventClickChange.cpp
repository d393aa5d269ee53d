#include "model/CueEventClickChange.h"

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/NoteDuration.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

constexpr const char* kClickAction = "Change Click Options";
constexpr const char* kPunchAction = "Change Auto Punch Options";

Value patternValue(const std::vector<uint32_t>& pattern) {
    std::vector<Value> items;
    items.reserve(pattern.size());
    for (uint32_t group : pattern) items.emplace_back(group);
    return Value::array(std::move(items));
}

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
    barPunchEnabled_ = false;
    barPunchColor_ = whiteColor();
    barPunchHoles_ = 3;
    beatPunchNoteDuration_ = NoteDuration::kOff;
    beatPunchColor_ = whiteColor();
    beatPunchHoles_ = 1;
}

void CueEventClickChange::setChangeClick(bool change) {
    registerUndo("setChangeClick:", Value(changeClick_), kClickAction);
    changeClick_ = change;
    didChangeValueForKey("changeClick");
}

void CueEventClickChange::setClickNoteDuration(int32_t code) {
    registerUndo("setClickNoteDurationAsNSNumber:", Value(clickNoteDuration_), "Change Click Duration");
    clickNoteDuration_ = code;
    didChangeValueForKey("clickNoteDuration");
}

void CueEventClickChange::setClickNoteDurationAsNSNumber(const Value& code) {
    if (code.isNumber()) setClickNoteDuration(textscan::clampToInt32(code.toInt64()));
}

void CueEventClickChange::setClickPattern(std::vector<uint32_t> pattern) {
    registerUndo("setClickPattern:", patternValue(clickPattern_), kClickAction);
    clickPattern_ = std::move(pattern);
    didChangeValueForKey("clickPattern");
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
    registerUndo("setChangePunches:", Value(changePunches_), kPunchAction);
    changePunches_ = change;
    didChangeValueForKey("changePunches");
}

void CueEventClickChange::setBarPunchEnabled(bool enabled) {
    registerUndo("setBarPunchEnabled:", Value(barPunchEnabled_), kPunchAction);
    barPunchEnabled_ = enabled;
    didChangeValueForKey("barPunchEnabled");
}

void CueEventClickChange::setBarPunchColor(std::shared_ptr<Color> color) {
    registerUndo("setBarPunchColor:", colorValue(barPunchColor_), kPunchAction);
    barPunchColor_ = std::move(color);
    didChangeValueForKey("barPunchColor");
}

void CueEventClickChange::setBarPunchHoles(int32_t holes) {
    registerUndo("setBarPunchHoles:", Value(barPunchHoles_), kPunchAction);
    barPunchHoles_ = holes;
    didChangeValueForKey("barPunchHoles");
}

void CueEventClickChange::setBeatPunchNoteDuration(int32_t code) {
    registerUndo("setBeatPunchNoteDuration:", Value(beatPunchNoteDuration_), kPunchAction);
    beatPunchNoteDuration_ = code;
    didChangeValueForKey("beatPunchNoteDuration");
    didChangeValueForKey("beatPunchEnabled");
}

bool CueEventClickChange::beatPunchEnabled() const {
    return beatPunchNoteDuration_ != NoteDuration::kOff;
}

void CueEventClickChange::setBeatPunchColor(std::shared_ptr<Color> color) {
    registerUndo("setBeatPunchColor:", colorValue(beatPunchColor_), kPunchAction);
    beatPunchColor_ = std::move(color);
    didChangeValueForKey("beatPunchColor");
}

void CueEventClickChange::setBeatPunchHoles(int32_t holes) {
    registerUndo("setBeatPunchHoles:", Value(beatPunchHoles_), kPunchAction);
    beatPunchHoles_ = holes;
    didChangeValueForKey("beatPunchHoles");
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
    click.setBarPunchEnabled(barPunchEnabled_);
    click.setBarPunchColor(barPunchColor_);
    click.setBarPunchHoles(barPunchHoles_);
    click.setBeatPunchNoteDuration(beatPunchNoteDuration_);
    click.setBeatPunchColor(beatPunchColor_);
    click.setBeatPunchHoles(beatPunchHoles_);
}

void CueEventClickChange::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeObject(Value(changeClick_), "changeClick");
    coder.encodeInt(clickNoteDuration_, "clickNoteDuration");
    coder.encodeObject(patternValue(clickPattern_), "clickPattern");
    coder.encodeObject(Value(changePunches_), "changePunches");
    coder.encodeBool(barPunchEnabled_, "barPunchEnabled");
    coder.encodeObject(colorValue(barPunchColor_), "barPunchColor");
    coder.encodeInt(barPunchHoles_, "barPunchHoles");
    coder.encodeInt(beatPunchNoteDuration_, "beatPunchNoteDuration");
    coder.encodeObject(colorValue(beatPunchColor_), "beatPunchColor");
    coder.encodeInt(beatPunchHoles_, "beatPunchHoles");
}

void CueEventClickChange::decodeKindFields(KeyedUnarchiver& coder) {
    Value value;
    if (decodeIfPresent(coder, "changeClick", value) && value.isNumber()) setChangeClick(value.toBool());
    if (coder.containsValueForKey("clickNoteDuration")) {
        setClickNoteDuration(textscan::clampToInt32(coder.decodeInt("clickNoteDuration")));
    }
    setClickPattern(patternFromValue(coder.decodeObject("clickPattern")));
    if (decodeIfPresent(coder, "changePunches", value) && value.isNumber()) setChangePunches(value.toBool());
    setBarPunchEnabled(coder.decodeBool("barPunchEnabled"));

    // Older records kept only whether the beat punch was on: on meant every beat.
    const ArchiveField beatDuration = coder.decodeArchiveField("beatPunchNoteDuration");
    if (beatDuration.kind == ArchiveField::Kind::Inline && beatDuration.value.isBool()) {
        setBeatPunchNoteDuration(beatDuration.value.toBool() ? NoteDuration::kQuarter : 0);
    } else if (coder.containsValueForKey("beatPunchNoteDuration")) {
        setBeatPunchNoteDuration(textscan::clampToInt32(coder.decodeInt("beatPunchNoteDuration")));
    }

    std::shared_ptr<Color> barColor = colorFromValue(coder.decodeObject("barPunchColor"));
    std::shared_ptr<Color> beatColor = colorFromValue(coder.decodeObject("beatPunchColor"));
    setBarPunchColor(barColor ? barColor : whiteColor());
    setBeatPunchColor(beatColor ? beatColor : whiteColor());
    const int32_t barHoles = textscan::clampToInt32(coder.decodeInt("barPunchHoles"));
    const int32_t beatHoles = textscan::clampToInt32(coder.decodeInt("beatPunchHoles"));
    setBarPunchHoles(barHoles == 0 ? 3 : barHoles);
    setBeatPunchHoles(beatHoles == 0 ? 1 : beatHoles);
}

bool CueEventClickChange::keyAffectsEventProxy(std::string_view key) const {
    return key == "changeClick" || key == "clickNoteDuration" || key == "clickPattern" ||
           key == "changePunches" || key == "barPunchEnabled" || key == "barPunchColor" ||
           key == "barPunchHoles" || key == "beatPunchNoteDuration" || key == "beatPunchColor" ||
           key == "beatPunchHoles";
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
    } else if (operation == "setBarPunchEnabled:") {
        setBarPunchEnabled(argument.toBool());
    } else if (operation == "setBarPunchColor:") {
        setBarPunchColor(colorFromValue(argument));
    } else if (operation == "setBarPunchHoles:") {
        setBarPunchHoles(textscan::clampToInt32(argument.toInt64()));
    } else if (operation == "setBeatPunchNoteDuration:") {
        setBeatPunchNoteDuration(textscan::clampToInt32(argument.toInt64()));
    } else if (operation == "setBeatPunchColor:") {
        setBeatPunchColor(colorFromValue(argument));
    } else if (operation == "setBeatPunchHoles:") {
        setBeatPunchHoles(textscan::clampToInt32(argument.toInt64()));
    } else {
        return false;
    }
    return true;
}

}  // namespace tollvane
