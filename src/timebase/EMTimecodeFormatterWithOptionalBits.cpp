#include "timebase/EMTimecodeFormatterWithOptionalBits.h"

#include "platform/UserDefaults.h"

namespace tollvane {

std::string EMTimecodeFormatterWithOptionalBits::stringForTimecode(const EMTimecode& timecode) const {
    const UserDefaults& defaults = defaults_ ? *defaults_ : UserDefaults::standardUserDefaults();
    return defaults.boolForKey("showTimecodeWithoutBits") ? timecode.stringRepresentation()
                                                          : timecode.stringRepresentationWithBits();
}

}  // namespace tollvane
