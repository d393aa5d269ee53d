#include "timebase/EMTimecodeFormatter.h"

#include <mutex>

namespace tollvane {

namespace {

std::mutex& providerMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<EMTimecodeFramerate()>& provider() {
    static std::function<EMTimecodeFramerate()> installed;
    return installed;
}

// A hyphen, then a colon and an em dash three times.
constexpr const char* kNoValueText = "-:\u2014:\u2014:\u2014";

}  // namespace

std::string EMTimecodeFormatter::stringForObjectValue(const ObjectValue& value) const {
    if (std::holds_alternative<std::monostate>(value)) return kNoValueText;
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* timecode = std::get_if<std::shared_ptr<EMTimecode>>(&value)) {
        return *timecode ? stringForTimecode(**timecode) : kNoValueText;
    }
    return {};
}

std::shared_ptr<EMTimecode> EMTimecodeFormatter::getObjectValue(std::string_view text) const {
    return EMTimecode::timecodeWithFramerate(projectFramerate(), text);
}

std::string EMTimecodeFormatter::stringForTimecode(const EMTimecode& timecode) const {
    return timecode.stringRepresentation();
}

void EMTimecodeFormatter::setProjectFramerateProvider(std::function<EMTimecodeFramerate()> newProvider) {
    std::lock_guard<std::mutex> lock(providerMutex());
    provider() = std::move(newProvider);
}

EMTimecodeFramerate EMTimecodeFormatter::projectFramerate() {
    std::function<EMTimecodeFramerate()> current;
    {
        std::lock_guard<std::mutex> lock(providerMutex());
        current = provider();
    }
    // Called outside the mutex: the provider may itself take locks.
    return current ? current() : EMTimecodeFramerate::framerateForIndex(4);
}

}  // namespace tollvane
