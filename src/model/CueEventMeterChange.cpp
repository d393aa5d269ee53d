#include "model/CueEventMeterChange.h"

#include <algorithm>
#include <limits>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/NoteDuration.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

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
    initPunchDefaults();
    beatPunchEnabled_ = false;
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
    setUndoableField(clickNoteDuration_, code, "setClickNoteDurationAsNSNumber:", "clickNoteDuration",
                     "Change Click Duration");
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

void CueEventMeterChange::setBeatPunchEnabled(bool enabled) {
    setUndoableField(beatPunchEnabled_, enabled, "setBeatPunchEnabled:", "beatPunchEnabled", kPunchAction);
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
    copyPunchesTo(meter);
    meter.setBeatPunchEnabled(beatPunchEnabled_);
}

void CueEventMeterChange::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeInt(meter_.numerator, "numerator");
    coder.encodeInt(meter_.denominator, "denominator");
    coder.encodeInt(clickNoteDuration_, "clickNoteDuration");
    encodeBarPunch(coder);
    coder.encodeBool(beatPunchEnabled_, "beatPunchEnabled");
    encodeBeatPunch(coder);
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
    decodePunches(coder);
    setBeatPunchEnabled(coder.decodeBool("beatPunchEnabled"));
}

bool CueEventMeterChange::keyAffectsEventProxy(std::string_view key) const {
    return key == "meter" || key == "clickNoteDuration" || key == "beatPunchEnabled" || isPunchKey(key);
}

bool CueEventMeterChange::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setMeterValue:") {
        setMeterValue(argument);
    } else if (operation == "setClickNoteDurationAsNSNumber:") {
        setClickNoteDurationAsNSNumber(argument);
    } else if (operation == "setBeatPunchEnabled:") {
        setBeatPunchEnabled(argument.toBool());
    } else {
        return performPunchUndoOperation(operation, argument);
    }
    return true;
}

}  // namespace tollvane
