#include "model/CueEventCueEnd.h"

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {

namespace {

constexpr const char* kAutoContinueAction = "Change Auto-continue";

}  // namespace

std::shared_ptr<CueEventCueEnd> CueEventCueEnd::cueEndEventWithCue(const std::shared_ptr<Cue>& cue) {
    UndoSuspension noUndo(cue);
    return makeEvent<CueEventCueEnd>(cue);
}

void CueEventCueEnd::initKindDefaults() {
    streamerColor_.reset();
    autoFollow_.reset();
    autoFollowCueNumber_.reset();
}

std::shared_ptr<Color> CueEventCueEnd::streamerColor() const {
    return streamerColor_ ? streamerColor_ : colorFromUserDefaults("cueEndStreamerColor");
}

void CueEventCueEnd::setStreamerColor(std::shared_ptr<Color> color) {
    setUndoableField(streamerColor_, std::move(color), "setStreamerColor:", "streamerColor",
                     "Change Cue End Streamer");
}

void CueEventCueEnd::setAutoFollow(bool on) {
    setUndoableField(autoFollow_, on, "setAutoFollow:", "autoFollow", kAutoContinueAction);
}

void CueEventCueEnd::setAutoFollowCueNumber(std::string number) {
    setUndoableField(autoFollowCueNumber_, std::move(number),
                     "setAutoFollowCueNumber:", "autoFollowCueNumber", kAutoContinueAction);
}

Value CueEventCueEnd::eventProxy() const {
    Value proxy = CueEvent::eventProxy();
    auto& dictionary = *proxy.dictionaryValue();
    if (auto color = streamerColor()) dictionary.set("streamerColor", colorValue(color));
    const std::string number = autoFollowCueNumber();
    if (autoFollow() && !number.empty()) dictionary.set("autoFollow", Value(number));
    return proxy;
}

void CueEventCueEnd::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventCueEnd", &decodeEvent<CueEventCueEnd>);
}

std::shared_ptr<CueEvent> CueEventCueEnd::makeEmptyCopy() const {
    return makeEvent<CueEventCueEnd>(cue());
}

void CueEventCueEnd::copyKindFieldsTo(CueEvent& copy) const {
    auto& end = static_cast<CueEventCueEnd&>(copy);
    // The stored values, unset ones included, so the copy keeps reading the defaults.
    end.setStreamerColor(streamerColor_);
    end.autoFollow_ = autoFollow_;
    end.didChangeValueForKey("autoFollow");
    end.autoFollowCueNumber_ = autoFollowCueNumber_;
    end.didChangeValueForKey("autoFollowCueNumber");
}

void CueEventCueEnd::encodeKindFields(KeyedArchiver& coder) const {
    coder.encodeObject(colorValue(streamerColor_), "streamerColor");
    coder.encodeObject(fieldValue(autoFollow_), "autoFollow");
    coder.encodeObject(fieldValue(autoFollowCueNumber_), "autoFollowCueNumber");
}

void CueEventCueEnd::decodeKindFields(KeyedUnarchiver& coder) {
    setStreamerColor(colorFromValue(coder.decodeObject("streamerColor")));
    const Value autoFollow = coder.decodeObject("autoFollow");
    if (autoFollow.isNumber()) setAutoFollow(autoFollow.toBool());
    const Value number = coder.decodeObject("autoFollowCueNumber");
    if (number.isString()) setAutoFollowCueNumber(number.stringValue());
}

bool CueEventCueEnd::keyAffectsEventProxy(std::string_view key) const {
    return key == "streamerColor" || key == "autoFollow" || key == "autoFollowCueNumber";
}

bool CueEventCueEnd::performKindUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setStreamerColor:") {
        setStreamerColor(colorFromValue(argument));
    } else if (operation == "setAutoFollow:") {
        // Undoing the first choice puts the field back to unset.
        if (argument.isNull()) {
            setUndoableField(autoFollow_, std::nullopt, "setAutoFollow:", "autoFollow", kAutoContinueAction);
        } else {
            setAutoFollow(argument.toBool());
        }
    } else if (operation == "setAutoFollowCueNumber:") {
        if (argument.isNull()) {
            setUndoableField(autoFollowCueNumber_, std::nullopt,
                             "setAutoFollowCueNumber:", "autoFollowCueNumber", kAutoContinueAction);
        } else {
            setAutoFollowCueNumber(argument.stringValue());
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace tollvane
