#pragma once

// Shows an event's lock time (a lockTime dictionary) through the formatter of
// its lock type: timecode, bar|beat, or bar only; remembers that formatter as
// current, and parses typed text with it back into a lockTime dictionary of
// the current lock type. Anything that is not a lockTime dictionary shows "-".
//
// Threads: main thread (text fields).

#include <cstdint>
#include <memory>
#include <string>

#include "model/BarBeatFormatter.h"
#include "platform/archive/Value.h"
#include "timebase/EMTimecodeFormatter.h"

namespace tollvane {

class CueEventLockTimeFormatter {
public:
    explicit CueEventLockTimeFormatter(BarBeatFormatter::CueProvider cueProvider = {});

    std::string stringForObjectValue(const Value& lockTime);
    // A lockTime dictionary of the current lock type; on failure nil and
    // `error` set to the formatter's error text.
    Value getObjectValue(const std::string& text, std::string* error = nullptr) const;

    int32_t currentLockType() const { return currentLockType_; }
    BarBeatFormatter& barOnlyFormatter() { return barOnlyFormatter_; }
    BarBeatFormatter& barBeatFormatter() { return barBeatFormatter_; }
    EMTimecodeFormatter& timecodeFormatter() { return timecodeFormatter_; }

private:
    BarBeatFormatter barOnlyFormatter_;
    BarBeatFormatter barBeatFormatter_;
    EMTimecodeFormatter timecodeFormatter_;
    int32_t currentLockType_;
};

}  // namespace tollvane
