#include "model/AutoPunchSettings.h"

#include "model/CueEvent.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

constexpr int32_t kDefaultBarHoles = 3;
constexpr int32_t kDefaultBeatHoles = 1;

}  // namespace

void AutoPunchSettings::setBarPunchEnabled(bool enabled) {
    owner_.setUndoableField(barPunchEnabled_, enabled, "setBarPunchEnabled:", "barPunchEnabled",
                            kPunchAction);
}

void AutoPunchSettings::setBarPunchColor(std::shared_ptr<Color> color) {
    owner_.setUndoableField(barPunchColor_, std::move(color), "setBarPunchColor:", "barPunchColor",
                            kPunchAction);
}

void AutoPunchSettings::setBarPunchHoles(int32_t holes) {
    owner_.setUndoableField(barPunchHoles_, holes, "setBarPunchHoles:", "barPunchHoles", kPunchAction);
}

void AutoPunchSettings::setBeatPunchColor(std::shared_ptr<Color> color) {
    owner_.setUndoableField(beatPunchColor_, std::move(color), "setBeatPunchColor:", "beatPunchColor",
                            kPunchAction);
}

void AutoPunchSettings::setBeatPunchHoles(int32_t holes) {
    owner_.setUndoableField(beatPunchHoles_, holes, "setBeatPunchHoles:", "beatPunchHoles", kPunchAction);
}

void AutoPunchSettings::initPunchDefaults() {
    barPunchEnabled_ = false;
    barPunchColor_ = CueEvent::whiteColor();
    barPunchHoles_ = kDefaultBarHoles;
    beatPunchColor_ = CueEvent::whiteColor();
    beatPunchHoles_ = kDefaultBeatHoles;
}

void AutoPunchSettings::copyPunchesTo(AutoPunchSettings& copy) const {
    copy.setBarPunchEnabled(barPunchEnabled_);
    copy.setBarPunchColor(barPunchColor_);
    copy.setBarPunchHoles(barPunchHoles_);
    copy.setBeatPunchColor(beatPunchColor_);
    copy.setBeatPunchHoles(beatPunchHoles_);
}

void AutoPunchSettings::encodeBarPunch(KeyedArchiver& coder) const {
    coder.encodeBool(barPunchEnabled_, "barPunchEnabled");
    coder.encodeObject(CueEvent::colorValue(barPunchColor_), "barPunchColor");
    coder.encodeInt(barPunchHoles_, "barPunchHoles");
}

void AutoPunchSettings::encodeBeatPunch(KeyedArchiver& coder) const {
    coder.encodeObject(CueEvent::colorValue(beatPunchColor_), "beatPunchColor");
    coder.encodeInt(beatPunchHoles_, "beatPunchHoles");
}

void AutoPunchSettings::decodePunches(KeyedUnarchiver& coder) {
    setBarPunchEnabled(coder.decodeBool("barPunchEnabled"));
    std::shared_ptr<Color> barColor = CueEvent::colorFromValue(coder.decodeObject("barPunchColor"));
    std::shared_ptr<Color> beatColor = CueEvent::colorFromValue(coder.decodeObject("beatPunchColor"));
    setBarPunchColor(barColor ? barColor : CueEvent::whiteColor());
    setBeatPunchColor(beatColor ? beatColor : CueEvent::whiteColor());
    const int32_t barHoles = textscan::clampToInt32(coder.decodeInt("barPunchHoles"));
    const int32_t beatHoles = textscan::clampToInt32(coder.decodeInt("beatPunchHoles"));
    setBarPunchHoles(barHoles == 0 ? kDefaultBarHoles : barHoles);
    setBeatPunchHoles(beatHoles == 0 ? kDefaultBeatHoles : beatHoles);
}

bool AutoPunchSettings::isPunchKey(std::string_view key) {
    return key == "barPunchEnabled" || key == "barPunchColor" || key == "barPunchHoles" ||
           key == "beatPunchColor" || key == "beatPunchHoles";
}

bool AutoPunchSettings::performPunchUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == "setBarPunchEnabled:") {
        setBarPunchEnabled(argument.toBool());
    } else if (operation == "setBarPunchColor:") {
        setBarPunchColor(CueEvent::colorFromValue(argument));
    } else if (operation == "setBarPunchHoles:") {
        setBarPunchHoles(textscan::clampToInt32(argument.toInt64()));
    } else if (operation == "setBeatPunchColor:") {
        setBeatPunchColor(CueEvent::colorFromValue(argument));
    } else if (operation == "setBeatPunchHoles:") {
        setBeatPunchHoles(textscan::clampToInt32(argument.toInt64()));
    } else {
        return false;
    }
    return true;
}

}  // namespace tollvane
