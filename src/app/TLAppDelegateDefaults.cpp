#include "app/TLAppDelegateDefaults.h"

#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"

namespace tollvane {

namespace {

Value colorData(double red, double green, double blue) {
    return Value(Color::calibrated(red, green, blue)->archivedData());
}

void writeFirstLaunchGroup(UserDefaults& defaults) {
    defaults.setDouble("punchSize", 0.6);
    defaults.setDouble("streamerWidth", 0.15);
    defaults.setDouble("latencyCompensation", 0.1);
    defaults.setString("coreMIDIName", "Tollvane");
    defaults.setDouble("opacity", 1.0);
    defaults.setBool("backgroundIsOpaque", false);
    defaults.setObject("bgColor", colorData(0, 0, 0));
    defaults.setBool("previewFrameOnStartup", true);
    defaults.setInteger("streamerStyle", 0);
    defaults.setBool("punchAfterStreamers", true);
    defaults.setDouble("freeTimeClockSize", 0.2);
    defaults.setBool("warningBeepOnStreamers", false);
    defaults.setBool("warningBeepOnPunches", false);
    defaults.setInteger("warningBeepPitch", 1000);
    defaults.setDouble("warningBeepLevel", 0.84);
    defaults.setDouble("clickLevel", 0.84);
    defaults.setBool("mtcOnline", true);
}

void writeVersion99Group(UserDefaults& defaults) {
    defaults.setBool("countoffWarningStreamerEnabled", true);
    defaults.setObject("countoffWarningStreamerColor", colorData(1, 1, 0));
    defaults.setDouble("countoffWarningStreamerLength", 3.0);
    defaults.setBool("countoffDownbeatStreamerEnabled", true);
    defaults.setObject("countoffDownbeatStreamerColor", colorData(0, 1, 0));
    defaults.setDouble("countoffDownbeatStreamerLength", 3.0);
    defaults.setBool("countoffDownbeatBeepsEnabled", false);
    defaults.setInteger("countoffDownbeatBeepsCount", 3);
    defaults.setDouble("countoffDownbeatBeepsTime", 2.0);
    defaults.setBool("cueEndStreamerEnabled", true);
    defaults.setObject("cueEndStreamerColor", colorData(1, 0, 0));
    defaults.setDouble("cueEndStreamerLength", 3.0);
}

void writeVersion137Group(UserDefaults& defaults) {
    defaults.setString("barBeatCounterFontName", "Courier");
    defaults.setObject("barBeatCounterBackgroundColor", colorData(0, 0, 0));
    defaults.setObject("barBeatCounterForegroundColor", colorData(1, 1, 1));
    defaults.setString("freeClickCounterFontName", "Courier");
    defaults.setObject("freeClickCounterBackgroundColor", colorData(0.8, 0.8, 0.3));
    defaults.setObject("freeClickCounterForegroundColor", colorData(0, 0, 0));
    defaults.setString("subtitlesFontName", "Courier");
    defaults.setObject("subtitlesBackgroundColor", colorData(0, 0, 0));
    defaults.setObject("subtitlesForegroundColor", colorData(1, 1, 1));
}

void writeVersion209Group(UserDefaults& defaults) {
    defaults.setBool("soundCueStreamerEnabled", true);
    defaults.setObject("soundCueStreamerColor", colorData(1, 1, 0));
    defaults.setDouble("soundCueStreamerLength", 3.0);
    defaults.setDouble("latencyCompensationAudio", 0.0);
    defaults.setBool("countoffBeepPunchesEnabled", true);
}

}  // namespace

void TLAppDelegateDefaults::updateDefaults(UserDefaults& defaults) {
    const int64_t launchCount = defaults.integerForKey("launchCount");
    const int64_t version = defaults.integerForKey("defaultsVersion");

    if (launchCount == 0) writeFirstLaunchGroup(defaults);
    if (version <= 99) writeVersion99Group(defaults);
    if (version <= 137) writeVersion137Group(defaults);
    if (version <= 158) defaults.setDouble("movieVolume", 0.84);
    if (version <= 165) defaults.setBool("matchTimecodeRate", false);
    if (version <= 209) writeVersion209Group(defaults);
    if (version <= 224)
        defaults.setInteger("streamerStyle", defaults.boolForKey("adrStyleStreamers") ? 1 : 0);

    defaults.setInteger("launchCount", launchCount + 1);
    defaults.setInteger("defaultsVersion", kBuildNumber);
}

}  // namespace tollvane
