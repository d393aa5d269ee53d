#include "model/CueDefaults.h"

#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"

namespace tollvane {

namespace {

Value colorData(double red, double green, double blue) {
    return Value(Color::calibrated(red, green, blue)->archivedData());
}

}  // namespace

void CueDefaults::registerDefaults(UserDefaults& defaults) {
    ValueDictionary values;
    values.set("countoffWarningStreamerEnabled", Value(true));
    values.set("countoffWarningStreamerColor", colorData(1, 1, 0));
    values.set("countoffWarningStreamerLength", Value(3.0));
    values.set("countoffDownbeatStreamerEnabled", Value(true));
    values.set("countoffDownbeatStreamerColor", colorData(0, 1, 0));
    values.set("countoffDownbeatStreamerLength", Value(3.0));
    values.set("countoffDownbeatBeepsEnabled", Value(false));
    values.set("countoffDownbeatBeepsCount", Value(3));
    values.set("countoffDownbeatBeepsTime", Value(2.0));
    values.set("countoffBeepPunchesEnabled", Value(true));
    values.set("cueEndStreamerEnabled", Value(true));
    values.set("cueEndStreamerColor", colorData(1, 0, 0));
    values.set("cueEndStreamerLength", Value(3.0));
    values.set("soundCueStreamerEnabled", Value(true));
    values.set("soundCueStreamerColor", colorData(1, 1, 0));
    values.set("soundCueStreamerLength", Value(3.0));
    values.set("latencyCompensation", Value(0.1));
    values.set("latencyCompensationAudio", Value(0.0));
    defaults.registerDefaults(values);
}

}  // namespace tollvane
