#include "model/CueEventCountoff.h"

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/NoteDuration.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

constexpr const char* kOptionsAction = "Change Countoff Event Options";

}  // namespace

std::shared_ptr<CueEventCountoff> CueEventCountoff::countoffEventWithCue(
    const std::shared_ptr<Cue>& cue, double timeStamp, int32_t beats, int32_t duration, bool clickOn,
    bool punchesOn, bool warningStreamerOn, bool goStreamerOn) {
    UndoSuspension noUndo(cue);
    auto event = makeEvent<CueEventCountoff>(cue);
    event->setLockPrerollShiftedBeats(timeStamp + kMinimumPrerollShiftedBeats);
    event->setCountoffBeats(beats);
    event->setCountoffNoteDuration(duration);
    event->setAudioClick(clickOn);
    event->setPunchClick(punchesOn);
    event->setStreamerIntoFirstBeat(warningStreamerOn);
    event->setStreamerIntoLockTime(goStreamerOn);
    return event;
}

std::shared_ptr<CueEventCountoff> CueEventCountoff::countoffEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                         double timeStamp) {
    return countoffEventWithCue(cue, timeStamp, 4, NoteDuration::kQuarter, true, false, true, true);
}

void CueEventCountoff::initKindDefaults() {
    countoffBeats_ = 4;
    countoffNoteDuration_ = NoteDuration::kQuarter;
    audioClick_ = true;
    punchClick_ = false;
    streamerIntoFirstBeat_ = true;
    streamerIntoLockTime_ = true;
    streamerColorIntoFirstBeat_.reset();
    streamerColorIntoLockTime_.reset();
    firstClickPrerollShiftedBeats_ = 0.0;
}

void CueEventCountoff::setCountoffBeats(int32_t beats) {
    setUndoableField(countoffBeats_, beats, "setCountoffBeats:", "countoffBeats", kOptionsAction);
}

void CueEventCountoff::setCountoffNoteDuration(int32_t code) {
    setUndoableField(countoffNoteDuration_, code, "setCountoffNoteDuration:", "countoffNoteDuration",
                     kOptionsAction);
}

void CueEventCountoff::setAudioClick(bool on) {
    setUndoableField(audioClick_, on, "setAudioClick:", "audioClick", kOptionsAction);
}

void CueEventCountoff::setPunchClick(bool on) {
    setUndoableField(punchClick_, on, "setPunchClick:", "punchClick", kOptionsAction);
}

void CueEventCountoff::setStreamerIntoFirstBeat(bool on) {
    setUndoableField(streamerIntoFirstBeat_, on, "setStreamerIntoFirstBeat:", "streamerIntoFirstBeat",
                     kOptionsAction);
}

void CueEventCountoff::setStreamerIntoLockTime(bool on) {
    setUndoableField(streamerIntoLockTime_, on, "setStreamerIntoLockTime:", "streamerIntoLockTime",
                     kOptionsAction);
}

std::shared_ptr<Color> CueEventCountoff::streamerColorIntoFirstBeat() const {
    return streamerColorIntoFirstBeat_ ? streamerColorIntoFirstBeat_
                                       : colorFromUserDefaults("countoffWarningStreamerColor");
}

void CueEventCountoff::setStreamerColorIntoFirstBeat(std::shared_ptr<Color> color) {
    setUndoableField(streamerColorIntoFirstBeat_, std::move(color),
                     "setStreamerColorIntoFirstBeat:", "streamerColorIntoFirstBeat",
                     "Change Countoff Warning Streamer");
}

std::shared_ptr<Color> CueEventCountoff::streamerColorIntoLockTime() const {
    return streamerColorIntoLockTime_ ? streamerColorIntoLockTime_
                                      : colorFromUserDefaults("countoffDownbeatStreamerColor");
}

void CueEventCountoff::setStreamerColorIntoLockTime(std::shared_ptr<Color> color) {
    setUndoableField(streamerColorIntoLockTime_, std::move(color),
                     "setStreamerColorIntoLockTime:", "streamerColorIntoLockTime",
                     "Change Countoff Streamer");
}

Value CueEventCountoff::eventProxy() const {
    Value proxy = CueEvent::eventProxy();
    auto& dictionary = *proxy.dictionaryValue();
    dictionary.set("countoffBeats", Value(countoffBeats_));
    dictionary.set("countoffNoteDuration", Value(countoffNoteDuration_));
    dictionary.set("audioClick", Value(audioClick_));
    dictionary.set("punchClick", Value(punchClick_));
    dictionary.set("streamerIntoFirstBeat", Value(streamerIntoFirstBeat_));
    dictionary.set("streamerIntoLockTime", Value(streamerIntoLockTime_));
    return proxy;
}

std::string CueEventCountoff::eventListText() const {
    return std::to_string(countoffBeats_) + " free";
}

void CueEventCountoff::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventCountoff", &decodeEvent<CueEventCountoff>);
}

std::shared_ptr<CueEvent> CueEventCountoff::makeEmptyCopy() const {
    return makeEvent<CueEventCountoff>(cue());
}

void CueEventCountoff::copyKindFieldsTo(CueEvent& copy) const {
    auto& countoff = static_cast<CueEventCountoff&>(copy);
    countoff.setCountoffBeats(countoffBeats_);
    countoff.setCountoffNoteDuration(countoffNoteDuration_);
    countoff.setAudioClick(audioClick_);
    countoff.setPunchClick(punchClick_);
    countoff.setStreamerIntoFirstBeat(streamerIntoFirstBeat_);
    countoff.setStreamerIntoLockTime(streamerIntoLockTime_);
    // The stored colours, unset ones included, so the copy keeps following the defaults.
    countoff.setStreamerColorIntoFirstBeat(streamerColorIntoFirstBeat_);
    countoff.setStreamerColorIntoLockTime(streamerColorIntoLockTime_);
    countoff.setFirstClickPrerollShiftedBeats(firstClickPrerollShiftedBeats_);
}

void CueEventCountoff::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeObject(Value(countoffBeats_), "countoffBeats");
    coder.encodeObject(Value(countoffNoteDuration_), "countoffNoteDuration");
    coder.encodeObject(Value(audioClick_), "audioClick");
    coder.encodeObject(Value(punchClick_), "punchClick");
    coder.encodeObject(Value(streamerIntoFirstBeat_), "streamerIntoFirstBeat");
    coder.encodeObject(Value(streamerIntoLockTime_), "streamerIntoLockTime");
    coder.encodeObject(colorValue(streamerColorIntoFirstBeat_), "streamerColorIntoFirstBeat");
    coder.encodeObject(colorValue(streamerColorIntoLockTime_), "streamerColorIntoLockTime");
}

void CueEventCountoff::decodeKindFields(KeyedUnarchiver& coder) {
    Value value;
    if (decodeIfPresent(coder, "countoffBeats", value) && value.isNumber()) {
        setCountoffBeats(textscan::clampToInt32(value.toInt64()));
    }
    if (decodeIfPresent(coder, "countoffNoteDuration", value) && value.isNumber()) {
        setCountoffNoteDuration(textscan::clampToInt32(value.toInt64()));
    }
    if (decodeIfPresent(coder, "audioClick", value) && value.isNumber()) setAudioClick(value.toBool());
    if (decodeIfPresent(coder, "punchClick", value) && value.isNumber()) setPunchClick(value.toBool());
    if (decodeIfPresent(coder, "streamerIntoFirstBeat", value) && value.isNumber()) {
        setStreamerIntoFirstBeat(value.toBool());
    }
    if (decodeIfPresent(coder, "streamerIntoLockTime", value) && value.isNumber()) {
        setStreamerIntoLockTime(value.toBool());
    }
    setStreamerColorIntoFirstBeat(colorFromValue(coder.decodeObject("streamerColorIntoFirstBeat")));
    setStreamerColorIntoLockTime(colorFromValue(coder.decodeObject("streamerColorIntoLockTime")));
}

bool CueEventCountoff::keyAffectsEventProxy(std::string_view key) const {
    return key == "countoffBeats" || key == "countoffNoteDuration" || key == "audioClick" ||
           key == "punchClick" || key == "streamerIntoFirstBeat" || key == "streamerIntoLockTime" ||
           key == "streamerColorIntoFirstBeat" || key == "streamerColorIntoLockTime";
}

bool CueEventCountoff::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setCountoffBeats:") {
        setCountoffBeats(textscan::clampToInt32(argument.toInt64()));
    } else if (operation == "setCountoffNoteDuration:") {
        setCountoffNoteDuration(textscan::clampToInt32(argument.toInt64()));
    } else if (operation == "setAudioClick:") {
        setAudioClick(argument.toBool());
    } else if (operation == "setPunchClick:") {
        setPunchClick(argument.toBool());
    } else if (operation == "setStreamerIntoFirstBeat:") {
        setStreamerIntoFirstBeat(argument.toBool());
    } else if (operation == "setStreamerIntoLockTime:") {
        setStreamerIntoLockTime(argument.toBool());
    } else if (operation == "setStreamerColorIntoFirstBeat:") {
        setStreamerColorIntoFirstBeat(colorFromValue(argument));
    } else if (operation == "setStreamerColorIntoLockTime:") {
        setStreamerColorIntoLockTime(colorFromValue(argument));
    } else {
        return false;
    }
    return true;
}

}  // namespace tollvane
