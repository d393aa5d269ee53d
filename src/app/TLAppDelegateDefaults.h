#pragma once

// Brings the user defaults up to date at start-up. A first launch
// ("launchCount" 0) writes the basic settings; then each version group is
// written when the stored "defaultsVersion" is at or below its number, so an
// old installation gains the keys added since; then "launchCount" is counted
// up and "defaultsVersion" becomes this build's number. Colours are archived
// colour data in calibrated RGB.
//
// Threads: main thread.

#include <cstdint>

namespace tollvane {

class UserDefaults;

struct TLAppDelegateDefaults {
    // This build's number, stored as "defaultsVersion".
    static constexpr int64_t kBuildNumber = 225;

    static void updateDefaults(UserDefaults& defaults);
};

}  // namespace tollvane
