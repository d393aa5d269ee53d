#include "model/CueEventStreamer.h"

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/UserEventRecord.h"

namespace tollvane {

namespace {

constexpr const char* kColorAction = "Change Streamer Color";
constexpr const char* kFeetAction = "Change Streamer Length";
constexpr const char* kWidthAction = "Change Streamer Width";

}  // namespace

std::shared_ptr<CueEventStreamer> CueEventStreamer::streamerEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                         std::shared_ptr<Color> color,
                                                                         float feet, float width,
                                                                         double timeStamp) {
    UndoSuspension noUndo(cue);
    auto event = makeEvent<CueEventStreamer>(cue);
    if (color) event->setColor(std::move(color));
    event->setFeet(feet);
    event->setWidth(width);
    event->setLockPrerollShiftedBeats(timeStamp + kMinimumPrerollShiftedBeats);
    return event;
}

void CueEventStreamer::initKindDefaults() {
    color_ = whiteColor();
    feet_ = 3.0f;
    width_ = 1.0f;
}

void CueEventStreamer::setColor(std::shared_ptr<Color> color) {
    setUndoableField(color_, std::move(color), "setColor:", "color", kColorAction, true);
}

void CueEventStreamer::setFeet(float feet) {
    setUndoableField(feet_, feet, "setFeetAsNSNumber:", "feet", kFeetAction, true);
}

void CueEventStreamer::setWidth(float width) {
    setUndoableField(width_, width, "setWidthAsNSNumber:", "width", kWidthAction, true);
}

void CueEventStreamer::setFeetAsNSNumber(const Value& feet) {
    if (feet.isNumber()) setFeet(static_cast<float>(feet.toDouble()));
}

void CueEventStreamer::setWidthAsNSNumber(const Value& width) {
    if (width.isNumber()) setWidth(static_cast<float>(width.toDouble()));
}

std::vector<uint8_t> CueEventStreamer::userEvent() const {
    UserEventRecord::Streamer record;
    if (color_) {
        const Color::RGBA& rgb = color_->calibratedRGB();
        record.red = static_cast<float>(rgb.red);
        record.green = static_cast<float>(rgb.green);
        record.blue = static_cast<float>(rgb.blue);
    }
    record.seconds = static_cast<double>(feet_) * 0.6667;
    return UserEventRecord::streamer(record);
}

Value CueEventStreamer::eventProxy() const {
    Value proxy = CueEvent::eventProxy();
    auto& dictionary = *proxy.dictionaryValue();
    dictionary.set("width", Value(width_));
    dictionary.set("feet", Value(feet_));
    if (color_) dictionary.set("color", colorValue(color_));
    return proxy;
}

std::string CueEventStreamer::eventListText() const {
    return numberText(feet_) + "' Streamer";
}

void CueEventStreamer::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventStreamer", &decodeEvent<CueEventStreamer>);
}

std::shared_ptr<CueEvent> CueEventStreamer::makeEmptyCopy() const {
    return makeEvent<CueEventStreamer>(cue());
}

void CueEventStreamer::copyKindFieldsTo(CueEvent& copy) const {
    auto& streamer = static_cast<CueEventStreamer&>(copy);
    streamer.setColor(color_);
    streamer.setFeet(feet_);
    streamer.setWidth(width_);
}

void CueEventStreamer::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeObject(colorValue(color_), "color");
    coder.encodeFloat(feet_, "feet");
    coder.encodeFloat(width_, "width");
}

void CueEventStreamer::decodeKindFields(KeyedUnarchiver& coder) {
    Value value;
    if (decodeIfPresent(coder, "color", value)) setColor(colorFromValue(value));
    if (coder.containsValueForKey("feet")) setFeet(coder.decodeFloat("feet"));
    if (coder.containsValueForKey("width")) setWidth(coder.decodeFloat("width"));
}

bool CueEventStreamer::keyAffectsEventProxy(std::string_view key) const {
    return key == "color" || key == "feet" || key == "width";
}

bool CueEventStreamer::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setColor:") {
        setColor(colorFromValue(argument));
    } else if (operation == "setFeetAsNSNumber:") {
        setFeetAsNSNumber(argument);
    } else if (operation == "setWidthAsNSNumber:") {
        setWidthAsNSNumber(argument);
    } else {
        return false;
    }
    return true;
}

}  // namespace tollvane
