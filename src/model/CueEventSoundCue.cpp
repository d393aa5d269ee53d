#include "model/CueEventSoundCue.h"

#include "model/CueEnvironment.h"
#include "platform/UserDefaults.h"
#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

constexpr const char* kBeepOptionsAction = "Change Beep Options";

std::vector<std::string> tagsFromValue(const Value& value) {
    std::vector<std::string> tags;
    if (const auto& array = value.arrayValue()) {
        for (const Value& item : array->items) {
            if (item.isString()) tags.push_back(item.stringValue());
        }
    }
    return tags;
}

// The platform's colour-data form, as the user defaults keep colours.
Value colorData(const std::shared_ptr<Color>& color) {
    return color ? Value(color->archivedData()) : Value();
}

}  // namespace

std::shared_ptr<CueEventSoundCue> CueEventSoundCue::soundCueEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                         const std::string& text) {
    UndoSuspension noUndo(cue);
    auto event = makeEvent<CueEventSoundCue>(cue);
    event->setText(text);
    event->setLockTimecode(
        EMTimecode::timecodeWithFramerate(CueEnvironment::current().projectFramerate(), "1"));
    return event;
}

void CueEventSoundCue::initKindDefaults() {
    setLockType(kLockTypeTimecode);
    title_.clear();
    text_.clear();
    tags_.clear();
    enabled_ = true;
    const UserDefaults& defaults = UserDefaults::standardUserDefaults();
    streamerEnabled_ = defaults.boolForKey("soundCueStreamerEnabled");
    streamerColor_ = colorFromUserDefaults("soundCueStreamerColor");
    streamerFeet_ = defaults.doubleForKey("soundCueStreamerLength");
    beepsEnabled_ = defaults.boolForKey("countoffDownbeatBeepsEnabled");
    beepsCount_ = textscan::clampToInt32(defaults.integerForKey("countoffDownbeatBeepsCount"));
    beepsSeconds_ = defaults.doubleForKey("countoffDownbeatBeepsTime");
    beepOnCuePoint_ = defaults.boolForKey("downbeatBeepEnabled");
    punchOnEachBeep_ = defaults.boolForKey("countoffBeepPunchesEnabled");
}

void CueEventSoundCue::setTitle(std::string title) {
    setUndoableField(title_, std::move(title), "setTitle:", "title", "Change Cue Title", true);
}

void CueEventSoundCue::setText(std::string text) {
    setUndoableField(text_, std::move(text), "setText:", "text", "Change Cue Overlay Text", true);
}

void CueEventSoundCue::setTags(std::vector<std::string> tags) {
    setUndoableField(tags_, std::move(tags), "setTags:", "tags", "Change Cue Tags");
}

void CueEventSoundCue::setEnabled(bool enabled) {
    setUndoableField(enabled_, enabled, "setEnabled:", "enabled", enabled_ ? "Disable Cue" : "Enable Cue");
}

void CueEventSoundCue::setStreamerEnabled(bool enabled) {
    setUndoableField(streamerEnabled_, enabled, "setStreamerEnabled:", "streamerEnabled",
                     streamerEnabled_ ? "Disable Cue Streamer" : "Enable Cue Streamer");
}

void CueEventSoundCue::setStreamerFeet(double feet) {
    setUndoableField(streamerFeet_, feet, "setStreamerFeet:", "streamerFeet", "Change Streamer Length");
}

void CueEventSoundCue::setStreamerColor(std::shared_ptr<Color> color) {
    setUndoableField(streamerColor_, std::move(color), "setStreamerColor:", "streamerColor",
                     "Change Streamer Color");
}

void CueEventSoundCue::setBeepsEnabled(bool enabled) {
    setUndoableField(beepsEnabled_, enabled, "setBeepsEnabled:", "beepsEnabled",
                     beepsEnabled_ ? "Disable Cue Beeps" : "Enable Cue Beeps");
}

void CueEventSoundCue::setBeepsCount(int32_t count) {
    setUndoableField(beepsCount_, count, "setBeepsCount:", "beepsCount", kBeepOptionsAction);
}

void CueEventSoundCue::setBeepsSeconds(double seconds) {
    setUndoableField(beepsSeconds_, seconds, "setBeepsSeconds:", "beepsSeconds", kBeepOptionsAction);
}

void CueEventSoundCue::setBeepOnCuePoint(bool on) {
    setUndoableField(beepOnCuePoint_, on, "setBeepOnCuePoint:", "beepOnCuePoint", kBeepOptionsAction);
}

void CueEventSoundCue::setPunchOnEachBeep(bool on) {
    setUndoableField(punchOnEachBeep_, on, "setPunchOnEachBeep:", "punchOnEachBeep", kBeepOptionsAction);
}

Value CueEventSoundCue::eventProxy() const {
    Value proxy = CueEvent::eventProxy();
    auto& dictionary = *proxy.dictionaryValue();
    dictionary.set("text", Value(text_));
    dictionary.set("enabled", Value(enabled_));
    dictionary.set("streamerEnabled", Value(streamerEnabled_));
    if (streamerColor_) dictionary.set("streamerColor", colorValue(streamerColor_));
    dictionary.set("beepsEnabled", Value(beepsEnabled_));
    dictionary.set("beepsCount", Value(beepsCount_));
    dictionary.set("beepOnCuePoint", Value(beepOnCuePoint_));
    dictionary.set("punchOnEachBeep", Value(punchOnEachBeep_));
    return proxy;
}

void CueEventSoundCue::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventSoundCue", &decodeEvent<CueEventSoundCue>);
}

std::shared_ptr<CueEvent> CueEventSoundCue::makeEmptyCopy() const {
    return makeEvent<CueEventSoundCue>(cue());
}

void CueEventSoundCue::copyKindFieldsTo(CueEvent& copy) const {
    auto& sound = static_cast<CueEventSoundCue&>(copy);
    sound.setTitle(title_);
    sound.setText(text_);
    sound.setTags(tags_);
    sound.setEnabled(enabled_);
    sound.setStreamerEnabled(streamerEnabled_);
    sound.setStreamerFeet(streamerFeet_);
    sound.setStreamerColor(streamerColor_);
    sound.setBeepsEnabled(beepsEnabled_);
    sound.setBeepsCount(beepsCount_);
    sound.setBeepsSeconds(beepsSeconds_);
    sound.setBeepOnCuePoint(beepOnCuePoint_);
    sound.setPunchOnEachBeep(punchOnEachBeep_);
}

void CueEventSoundCue::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeObject(Value(title_), "title");
    coder.encodeObject(Value(text_), "text");
    coder.encodeObject(fieldValue(tags_), "tags");
    coder.encodeObject(Value(enabled_), "enabled");
    coder.encodeObject(Value(streamerEnabled_), "streamerEnabled");
    coder.encodeObject(colorData(streamerColor_), "streamerColor");
    coder.encodeObject(Value(streamerFeet_), "streamerFeet");
    coder.encodeObject(Value(beepsEnabled_), "beepsEnabled");
    coder.encodeObject(Value(beepsCount_), "beepsCount");
    coder.encodeObject(Value(beepsSeconds_), "beepsSeconds");
    coder.encodeObject(Value(beepOnCuePoint_), "beepOnCuePoint");
    coder.encodeObject(Value(punchOnEachBeep_), "punchOnEachBeep");
}

void CueEventSoundCue::decodeKindFields(KeyedUnarchiver& coder) {
    Value value;
    if (decodeIfPresent(coder, "title", value) && value.isString()) setTitle(value.stringValue());
    if (decodeIfPresent(coder, "text", value) && value.isString()) setText(value.stringValue());
    if (decodeIfPresent(coder, "tags", value)) setTags(tagsFromValue(value));
    if (decodeIfPresent(coder, "enabled", value) && value.isNumber()) setEnabled(value.toBool());
    if (decodeIfPresent(coder, "streamerEnabled", value) && value.isNumber())
        setStreamerEnabled(value.toBool());
    if (decodeIfPresent(coder, "streamerColor", value)) setStreamerColor(colorFromValue(value));
    if (decodeIfPresent(coder, "streamerFeet", value) && value.isNumber()) setStreamerFeet(value.toDouble());
    if (decodeIfPresent(coder, "beepsEnabled", value) && value.isNumber()) setBeepsEnabled(value.toBool());
    if (decodeIfPresent(coder, "beepsCount", value) && value.isNumber()) {
        setBeepsCount(textscan::clampToInt32(value.toInt64()));
    }
    if (decodeIfPresent(coder, "beepsSeconds", value) && value.isNumber()) setBeepsSeconds(value.toDouble());
    if (decodeIfPresent(coder, "beepOnCuePoint", value) && value.isNumber())
        setBeepOnCuePoint(value.toBool());
    if (decodeIfPresent(coder, "punchOnEachBeep", value) && value.isNumber())
        setPunchOnEachBeep(value.toBool());
}

bool CueEventSoundCue::keyAffectsEventProxy(std::string_view key) const {
    return key == "text" || key == "enabled" || key == "streamerEnabled" || key == "streamerColor" ||
           key == "streamerFeet" || key == "beepsEnabled" || key == "beepsCount" || key == "beepsSeconds" ||
           key == "beepOnCuePoint" || key == "punchOnEachBeep";
}

bool CueEventSoundCue::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setTitle:") {
        setTitle(argument.stringValue());
    } else if (operation == "setText:") {
        setText(argument.stringValue());
    } else if (operation == "setTags:") {
        setTags(tagsFromValue(argument));
    } else if (operation == "setEnabled:") {
        setEnabled(argument.toBool());
    } else if (operation == "setStreamerEnabled:") {
        setStreamerEnabled(argument.toBool());
    } else if (operation == "setStreamerFeet:") {
        setStreamerFeet(argument.toDouble());
    } else if (operation == "setStreamerColor:") {
        setStreamerColor(colorFromValue(argument));
    } else if (operation == "setBeepsEnabled:") {
        setBeepsEnabled(argument.toBool());
    } else if (operation == "setBeepsCount:") {
        setBeepsCount(textscan::clampToInt32(argument.toInt64()));
    } else if (operation == "setBeepsSeconds:") {
        setBeepsSeconds(argument.toDouble());
    } else if (operation == "setBeepOnCuePoint:") {
        setBeepOnCuePoint(argument.toBool());
    } else if (operation == "setPunchOnEachBeep:") {
        setPunchOnEachBeep(argument.toBool());
    } else {
        return false;
    }
    return true;
}

}  // namespace tollvane
