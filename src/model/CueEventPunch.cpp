#include "model/CueEventPunch.h"

#include <algorithm>
#include <limits>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/UserEventRecord.h"
#include "timebase/TextScanning.h"

namespace tollvane {

std::shared_ptr<CueEventPunch> CueEventPunch::punchEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                std::shared_ptr<Color> color, int32_t holes,
                                                                float width, double timeStamp) {
    UndoSuspension noUndo(cue);
    auto event = makeEvent<CueEventPunch>(cue);
    if (color) event->setColor(std::move(color));
    event->setHoles(holes);
    event->setWidth(width);
    event->setLockPrerollShiftedBeats(timeStamp + kMinimumPrerollShiftedBeats);
    return event;
}

void CueEventPunch::initKindDefaults() {
    color_ = whiteColor();
    holes_ = 3;
    width_ = 1.0f;
}

void CueEventPunch::setColor(std::shared_ptr<Color> color) {
    setUndoableField(color_, std::move(color), "setColor:", "color", "Change Punch Color");
}

void CueEventPunch::setHoles(int32_t holes) {
    setUndoableField(holes_, holes, "setHolesAsNSNumber:", "holes", "Change Punch Holes");
}

void CueEventPunch::setWidth(float width) {
    setUndoableField(width_, width, "setWidthAsNSNumber:", "width", "Change Punch Width");
}

void CueEventPunch::setHolesAsNSNumber(const Value& holes) {
    if (holes.isNumber()) setHoles(static_cast<int32_t>(holes.toInt64()));
}

void CueEventPunch::setWidthAsNSNumber(const Value& width) {
    if (width.isNumber()) setWidth(static_cast<float>(width.toDouble()));
}

std::vector<uint8_t> CueEventPunch::userEvent() const {
    UserEventRecord::Punch record;
    if (color_) {
        const Color::RGBA& rgb = color_->calibratedRGB();
        record.red = static_cast<float>(rgb.red);
        record.green = static_cast<float>(rgb.green);
        record.blue = static_cast<float>(rgb.blue);
    }
    // The record's field is 16 bits wide; a count outside it is saturated, not wrapped.
    record.holes =
        static_cast<uint16_t>(std::clamp<int32_t>(holes_, 0, std::numeric_limits<uint16_t>::max()));
    return UserEventRecord::punch(record);
}

Value CueEventPunch::eventProxy() const {
    Value proxy = CueEvent::eventProxy();
    auto& dictionary = *proxy.dictionaryValue();
    dictionary.set("width", Value(width_));
    dictionary.set("holes", Value(holes_));
    if (color_) dictionary.set("color", colorValue(color_));
    return proxy;
}

std::string CueEventPunch::eventListText() const {
    return "Punch";
}

void CueEventPunch::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventPunch", &decodeEvent<CueEventPunch>);
}

std::shared_ptr<CueEvent> CueEventPunch::makeEmptyCopy() const {
    return makeEvent<CueEventPunch>(cue());
}

void CueEventPunch::copyKindFieldsTo(CueEvent& copy) const {
    auto& punch = static_cast<CueEventPunch&>(copy);
    punch.setColor(color_);
    punch.setHoles(holes_);
    punch.setWidth(width_);
}

void CueEventPunch::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeObject(colorValue(color_), "color");
    coder.encodeInt(holes_, "holes");
    coder.encodeFloat(width_, "width");
}

void CueEventPunch::decodeKindFields(KeyedUnarchiver& coder) {
    Value value;
    if (decodeIfPresent(coder, "color", value)) setColor(colorFromValue(value));
    if (coder.containsValueForKey("holes")) setHoles(textscan::clampToInt32(coder.decodeInt("holes")));
    if (coder.containsValueForKey("width")) setWidth(coder.decodeFloat("width"));
}

bool CueEventPunch::keyAffectsEventProxy(std::string_view key) const {
    return key == "color" || key == "holes" || key == "width";
}

bool CueEventPunch::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setColor:") {
        setColor(colorFromValue(argument));
    } else if (operation == "setHolesAsNSNumber:") {
        setHolesAsNSNumber(argument);
    } else if (operation == "setWidthAsNSNumber:") {
        setWidthAsNSNumber(argument);
    } else {
        return false;
    }
    return true;
}

}  // namespace tollvane
