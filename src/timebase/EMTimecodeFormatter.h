#pragma once

// Shows timecodes in text fields and reads typed text back as timecodes.
// Display: no value shows "-:—:—:—", a text shows unchanged, a timecode its
// stringRepresentation, anything else nothing. Input: the text is parsed at the
// project frame rate, which the application supplies through a provider (the
// time base knows nothing of documents); until one is installed the rate of
// index 4 (29.97nd) is used. Every text is accepted; there is no error.
//
// Threads: formatters are used on the main thread. The provider may be
// installed and read from any thread.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "timebase/EMTimecode.h"
#include "timebase/EMTimecodeFramerate.h"

namespace tollvane {

class EMTimecodeFormatter {
public:
    // What a field can hold: nothing, a text, a timecode, or another kind of
    // value (a number stands for all of those). A null timecode is no value.
    using ObjectValue = std::variant<std::monostate, std::string, std::shared_ptr<EMTimecode>, double>;

    EMTimecodeFormatter() = default;
    virtual ~EMTimecodeFormatter() = default;

    std::string stringForObjectValue(const ObjectValue& value) const;
    // The attributed display is the same text with the field's own attributes.
    std::string attributedStringForObjectValue(const ObjectValue& value) const {
        return stringForObjectValue(value);
    }
    // A new timecode at the project frame rate parsed from the text.
    std::shared_ptr<EMTimecode> getObjectValue(std::string_view text) const;

    // Installs the source of the project frame rate; an empty function
    // restores the default.
    static void setProjectFramerateProvider(std::function<EMTimecodeFramerate()> provider);
    static EMTimecodeFramerate projectFramerate();

protected:
    virtual std::string stringForTimecode(const EMTimecode& timecode) const;
};

}  // namespace tollvane
