#include "model/CueEventMeterChange.h"

#include <algorithm>
#include <limits>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/NoteDuration.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

constexpr const char* kPunchAction = "Change Auto Punch Options";

uint16_t clampToUInt16(int64_t value) {
    return static_cast<uint16_t>(std::clamp<int64_t>(value, 0, std::numeric_limits<uint16_t>::max()));
}

}  // namespace

std::shared_ptr<CueEventMeterChange> CueEventMeterChange::meterChangeEventWithCue(
    const std::shared_ptr<Cue>& cue, TimeSignature meter, double timeStamp) {
    UndoSuspension noUndo(cue);
    auto event = makeEvent<CueEventMeterChange>(cue);
    event->setMeter(meter);
    event->setClickNoteDuration(NoteDuration::kNoChange);
    // The beats keep the event in its place until compilation derives them from the bar.
    event->setLockPrerollShiftedBeats(timeStamp + kMinimumPrerollShiftedBeats);
    event->setLockBar(event->barForPrerollShiftedBeats(timeStamp + kMinimumPrerollShiftedBeats));
    return event;
}

std::shared_ptr<CueEventMeterChange> CueEventMeterChange::meterChangeWithCue(const std::shared_ptr<Cue>& cue,
                                                                             TimeSignature meter,
                                                                             int32_t clickNoteDuration,
                                                                             int32_t atBar) {
    UndoSuspension noUndo(cue);
    auto event = makeEvent<CueEventMeterChange>(cue);
    event->setMeter(meter);
    event->setClickNoteDuration(clickNoteDuration);
    event->setLockBar(atBar);
    return event;
}

void CueEventMeterChange::initKindDefaults() {
    setLockType(kLockTypeBar);
    meter_ = TimeSignature{};
    clickNoteDuration_ = NoteDuration::kQuarter;
    barPunchEnabled_ = false;
    barPunchColor_ = whiteColor();
    barPunchHoles_ = 3;
    beatPunchEnabled_ = false;
    beatPunchColor_ = whiteColor();
    beatPunchHoles_ = 1;
}

void CueEventMeterChange::setLockType(int32_t) {
    CueEvent::setLockType(kLockTypeBar);
}

void CueEventMeterChange::setMeter(TimeSignature meter) {
    registerUndo("setMeterValue:", meterValue(), "Change Meter");
    meter_ = meter;
    didChangeValueForKey("meter");
}

Value CueEventMeterChange::meterValue() const {
    return Value(int64_t{meter_.numerator} | (int64_t{meter_.denominator} << 16));
}

void CueEventMeterChange::setMeterValue(const Value& meter) {
    if (!meter.isNumber()) return;
    const auto packed = static_cast<uint32_t>(meter.toInt64());
    setMeter(TimeSignature{static_cast<uint16_t>(packed & 0xffff), static_cast<uint16_t>(packed >> 16)});
}

void CueEventMeterChange::setClickNoteDuration(int32_t code) {
    registerUndo("setClickNoteDurationAsNSNumber:", Value(clickNoteDuration_), "Change Click Duration");
    clickNoteDuration_ = code;
    didChangeValueForKey("clickNoteDuration");
}

void CueEventMeterChange::setClickNoteDurationAsNSNumber(const Value& code) {
    if (code.isNumber()) setClickNoteDuration(textscan::clampToInt32(code.toInt64()));
}

int32_t CueEventMeterChange::clocksPerClick() const {
    return NoteDuration::clocksPerClick(clickNoteDuration_);
}

uint8_t CueEventMeterChange::midiDenominator() const {
    uint8_t power = 0;
    for (uint32_t denominator = meter_.denominator; denominator > 1; denominator >>= 1) ++power;
    return power;
}

void CueEventMeterChange::setBarPunchEnabled(bool enabled) {
    registerUndo("setBarPunchEnabled:", Value(barPunchEnabled_), kPunchAction);
    barPunchEnabled_ = enabled;
    didChangeValueForKey("barPunchEnabled");
}

void CueEventMeterChange::setBarPunchColor(std::shared_ptr<Color> color) {
    registerUndo("setBarPunchColor:", colorValue(barPunchColor_), kPunchAction);
    barPunchColor_ = std::move(color);
    didChangeValueForKey("barPunchColor");
}

void CueEventMeterChange::setBarPunchHoles(int32_t holes) {
    registerUndo("setBarPunchHoles:", Value(barPunchHoles_), kPunchAction);
    barPunchHoles_ = holes;
    didChangeValueForKey("barPunchHoles");
}

void CueEventMeterChange::setBeatPunchEnabled(bool enabled) {
    registerUndo("setBeatPunchEnabled:", Value(beatPunchEnabled_), kPunchAction);
    beatPunchEnabled_ = enabled;
    didChangeValueForKey("beatPunchEnabled");
}

void CueEventMeterChange::setBeatPunchColor(std::shared_ptr<Color> color) {
    registerUndo("setBeatPunchColor:", colorValue(beatPunchColor_), kPunchAction);
    beatPunchColor_ = std::move(color);
    didChangeValueForKey("beatPunchColor");
}

void CueEventMeterChange::setBeatPunchHoles(int32_t holes) {
    registerUndo("setBeatPunchHoles:", Value(beatPunchHoles_), kPunchAction);
    beatPunchHoles_ = holes;
    didChangeValueForKey("beatPunchHoles");
}

Value CueEventMeterChange::eventProxy() const {
    Value proxy = CueEvent::eventProxy();
    auto& dictionary = *proxy.dictionaryValue();
    dictionary.set("numerator", Value(meter_.numerator));
    dictionary.set("denominator", Value(meter_.denominator));
    dictionary.set("clickNoteDuration", Value(clickNoteDuration_));
    return proxy;
}

std::string CueEventMeterChange::eventListText() const {
    return std::to_string(meter_.numerator) + "/" + std::to_string(meter_.denominator);
}

void CueEventMeterChange::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventMeterChange", &decodeEvent<CueEventMeterChange>);
}

std::shared_ptr<CueEvent> CueEventMeterChange::makeEmptyCopy() const {
    return makeEvent<CueEventMeterChange>(cue());
}

void CueEventMeterChange::copyKindFieldsTo(CueEvent& copy) const {
    auto& meter = static_cast<CueEventMeterChange&>(copy);
    meter.setMeter(meter_);
    meter.setClickNoteDuration(clickNoteDuration_);
    meter.setBarPunchEnabled(barPunchEnabled_);
    meter.setBarPunchColor(barPunchColor_);
    meter.setBarPunchHoles(barPunchHoles_);
    meter.setBeatPunchEnabled(beatPunchEnabled_);
    meter.setBeatPunchColor(beatPunchColor_);
    meter.setBeatPunchHoles(beatPunchHoles_);
}

void CueEventMeterChange::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeInt(meter_.numerator, "numerator");
    coder.encodeInt(meter_.denominator, "denominator");
    coder.encodeInt(clickNoteDuration_, "clickNoteDuration");
    coder.encodeBool(barPunchEnabled_, "barPunchEnabled");
    coder.encodeObject(colorValue(barPunchColor_), "barPunchColor");
    coder.encodeInt(barPunchHoles_, "barPunchHoles");
    coder.encodeBool(beatPunchEnabled_, "beatPunchEnabled");
    coder.encodeObject(colorValue(beatPunchColor_), "beatPunchColor");
    coder.encodeInt(beatPunchHoles_, "beatPunchHoles");
}

void CueEventMeterChange::decodeKindFields(KeyedUnarchiver& coder) {
    TimeSignature meter = meter_;
    if (coder.containsValueForKey("numerator")) meter.numerator = clampToUInt16(coder.decodeInt("numerator"));
    if (coder.containsValueForKey("denominator"))
        meter.denominator = clampToUInt16(coder.decodeInt("denominator"));
    setMeter(meter);
    if (coder.containsValueForKey("clickNoteDuration")) {
        setClickNoteDuration(textscan::clampToInt32(coder.decodeInt("clickNoteDuration")));
    }
    setBarPunchEnabled(coder.decodeBool("barPunchEnabled"));
    setBeatPunchEnabled(coder.decodeBool("beatPunchEnabled"));
    // Records written before the punch options existed have no colours and zero holes.
    std::shared_ptr<Color> barColor = colorFromValue(coder.decodeObject("barPunchColor"));
    std::shared_ptr<Color> beatColor = colorFromValue(coder.decodeObject("beatPunchColor"));
    setBarPunchColor(barColor ? barColor : whiteColor());
    setBeatPunchColor(beatColor ? beatColor : whiteColor());
    const int32_t barHoles = textscan::clampToInt32(coder.decodeInt("barPunchHoles"));
    const int32_t beatHoles = textscan::clampToInt32(coder.decodeInt("beatPunchHoles"));
    setBarPunchHoles(barHoles == 0 ? 3 : barHoles);
    setBeatPunchHoles(beatHoles == 0 ? 1 : beatHoles);
}

bool CueEventMeterChange::keyAffectsEventProxy(std::string_view key) const {
    return key == "meter" || key == "clickNoteDuration" || key == "barPunchEnabled" ||
           key == "barPunchColor" || key == "barPunchHoles" || key == "beatPunchEnabled" ||
           key == "beatPunchColor" || key == "beatPunchHoles";
}

bool CueEventMeterChange::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setMeterValue:") {
        setMeterValue(argument);
    } else if (operation == "setClickNoteDurationAsNSNumber:") {
        setClickNoteDurationAsNSNumber(argument);
    } else if (operation == "setBarPunchEnabled:") {
        setBarPunchEnabled(argument.toBool());
    } else if (operation == "setBarPunchColor:") {
        setBarPunchColor(colorFromValue(argument));
    } else if (operation == "setBarPunchHoles:") {
        setBarPunchHoles(textscan::clampToInt32(argument.toInt64()));
    } else if (operation == "setBeatPunchEnabled:") {
        setBeatPunchEnabled(argument.toBool());
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
