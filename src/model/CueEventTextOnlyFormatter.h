#pragma once

// Shows an ADR/Foley sound cue in a list cell by its overlay text alone: the
// "text" of the cue's event proxy (the empty text when there is none), in the
// disabled-text colour when the proxy's "enabled" is off. The cell is read
// only: typed text is never accepted.
//
// Threads: main thread (list cells).

#include <string>
#include <string_view>

#include "platform/archive/Value.h"

namespace tollvane {

class CueEventTextOnlyFormatter {
public:
    struct AttributedText {
        std::string text;
        bool dimmed = false;  // the disabled-text colour
    };

    std::string stringForObjectValue(const Value& eventProxy) const;
    AttributedText attributedStringForObjectValue(const Value& eventProxy) const;
    // Always false; `object` is left as it is.
    bool getObjectValue(std::string_view text, Value* object) const;
};

}  // namespace tollvane
