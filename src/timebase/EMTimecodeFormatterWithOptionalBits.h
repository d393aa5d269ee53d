#pragma once

// A timecode formatter that shows the bits unless the user default
// "showTimecodeWithoutBits" is on. The default is read at every display, so a
// change shows at the next redraw.
//
// Threads: main thread.

#include "timebase/EMTimecodeFormatter.h"

namespace tollvane {

class UserDefaults;

class EMTimecodeFormatterWithOptionalBits : public EMTimecodeFormatter {
public:
    // Reads the given store, or the standard one when none is given; the store
    // must outlive the formatter.
    explicit EMTimecodeFormatterWithOptionalBits(UserDefaults* defaults = nullptr) : defaults_(defaults) {}

protected:
    std::string stringForTimecode(const EMTimecode& timecode) const override;

private:
    UserDefaults* defaults_;
};

}  // namespace tollvane
