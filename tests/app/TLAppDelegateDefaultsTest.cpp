#include "app/TLAppDelegateDefaults.h"

#include <gtest/gtest.h>

#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"

namespace tollvane {
namespace {

const char* const kFirstLaunchKeys[] = {"punchSize",
                                        "streamerWidth",
                                        "latencyCompensation",
                                        "coreMIDIName",
                                        "opacity",
                                        "backgroundIsOpaque",
                                        "bgColor",
                                        "previewFrameOnStartup",
                                        "streamerStyle",
                                        "punchAfterStreamers",
                                        "freeTimeClockSize",
                                        "warningBeepOnStreamers",
                                        "warningBeepOnPunches",
                                        "warningBeepPitch",
                                        "warningBeepLevel",
                                        "clickLevel",
                                        "mtcOnline"};
const char* const kVersion99And137Keys[] = {"countoffWarningStreamerEnabled",
                                            "countoffWarningStreamerColor",
                                            "countoffWarningStreamerLength",
                                            "countoffDownbeatStreamerEnabled",
                                            "countoffDownbeatStreamerColor",
                                            "countoffDownbeatStreamerLength",
                                            "countoffDownbeatBeepsEnabled",
                                            "countoffDownbeatBeepsCount",
                                            "countoffDownbeatBeepsTime",
                                            "cueEndStreamerEnabled",
                                            "cueEndStreamerColor",
                                            "cueEndStreamerLength",
                                            "barBeatCounterFontName",
                                            "barBeatCounterBackgroundColor",
                                            "barBeatCounterForegroundColor",
                                            "freeClickCounterFontName",
                                            "freeClickCounterBackgroundColor",
                                            "freeClickCounterForegroundColor",
                                            "subtitlesFontName",
                                            "subtitlesBackgroundColor",
                                            "subtitlesForegroundColor"};
const char* const kLaterKeys[] = {"movieVolume",
                                  "matchTimecodeRate",
                                  "soundCueStreamerEnabled",
                                  "soundCueStreamerColor",
                                  "soundCueStreamerLength",
                                  "latencyCompensationAudio",
                                  "countoffBeepPunchesEnabled"};

Color::RGBA colorAt(const UserDefaults& defaults, const char* key) {
    auto color = Color::fromArchivedData(defaults.dataForKey(key));
    EXPECT_TRUE(color) << key;
    EXPECT_EQ(color ? color->colorSpace() : 0, Color::CalibratedRGB) << key;
    return color ? color->calibratedRGB() : Color::RGBA{};
}

TEST(TLAppDelegateDefaultsTest, FirstLaunchWritesEveryKey) {
    UserDefaults defaults("");
    TLAppDelegateDefaults::updateDefaults(defaults);
    for (const char* key : kFirstLaunchKeys) EXPECT_FALSE(defaults.objectForKey(key).isNull()) << key;
    for (const char* key : kVersion99And137Keys) EXPECT_FALSE(defaults.objectForKey(key).isNull()) << key;
    for (const char* key : kLaterKeys) EXPECT_FALSE(defaults.objectForKey(key).isNull()) << key;

    EXPECT_TRUE(defaults.objectForKey("warningBeepPitch").isInteger());
    EXPECT_EQ(defaults.integerForKey("warningBeepPitch"), 1000);
    EXPECT_EQ(defaults.stringForKey("coreMIDIName"), "Tollvane");
    EXPECT_EQ(colorAt(defaults, "freeClickCounterBackgroundColor"), (Color::RGBA{0.8, 0.8, 0.3, 1.0}));
    EXPECT_EQ(colorAt(defaults, "countoffWarningStreamerColor"), (Color::RGBA{1, 1, 0, 1}));
    EXPECT_EQ(colorAt(defaults, "bgColor"), (Color::RGBA{0, 0, 0, 1}));
    EXPECT_EQ(defaults.integerForKey("launchCount"), 1);
    EXPECT_EQ(defaults.integerForKey("defaultsVersion"), TLAppDelegateDefaults::kBuildNumber);
}

TEST(TLAppDelegateDefaultsTest, Version150WritesOnlyTheLaterGroups) {
    UserDefaults defaults("");
    defaults.setInteger("launchCount", 7);
    defaults.setInteger("defaultsVersion", 150);
    defaults.setBool("adrStyleStreamers", true);
    TLAppDelegateDefaults::updateDefaults(defaults);

    for (const char* key : kFirstLaunchKeys) {
        if (std::string(key) == "streamerStyle") continue;
        EXPECT_TRUE(defaults.objectForKey(key).isNull()) << key;
    }
    for (const char* key : kVersion99And137Keys) EXPECT_TRUE(defaults.objectForKey(key).isNull()) << key;
    for (const char* key : kLaterKeys) EXPECT_FALSE(defaults.objectForKey(key).isNull()) << key;
    EXPECT_EQ(defaults.integerForKey("streamerStyle"), 1);
    EXPECT_EQ(defaults.integerForKey("launchCount"), 8);
    EXPECT_EQ(defaults.integerForKey("defaultsVersion"), TLAppDelegateDefaults::kBuildNumber);
}

TEST(TLAppDelegateDefaultsTest, CurrentVersionKeepsTheUsersSettings) {
    UserDefaults defaults("");
    TLAppDelegateDefaults::updateDefaults(defaults);
    defaults.setInteger("streamerStyle", 1);
    defaults.setDouble("movieVolume", 0.25);
    TLAppDelegateDefaults::updateDefaults(defaults);
    EXPECT_EQ(defaults.integerForKey("streamerStyle"), 1);
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("movieVolume"), 0.25);
    EXPECT_EQ(defaults.integerForKey("launchCount"), 2);
}

}  // namespace
}  // namespace tollvane
