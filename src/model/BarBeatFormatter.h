#pragma once

// Shows positions (pre-roll-shifted beats) as bar|beat|subbeat in the bar
// numbering the user sees, and reads typed bar|beat text back as positions,
// through the sequence of the cue the formatter follows (the cue list's
// selected cue, or an event's own cue).
//
// Display: not a number "-"; no cue sequence "-|-|---"; bar-only "%d|-|---"
// (the attributed form draws the text from the first "|" on in 50 % grey at
// 50 % alpha); otherwise "%d|%d|%03d", or "%d|%02d|%03d" when the shown
// bar's time signature has a numerator above 9. Input: bar (default 1), then
// unless bar-only one separator and the beat (default 1), one separator and
// the subbeat (default 0), at 480 subbeats to the beat.
//
// Threads: main thread (text fields).

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tollvane {

class Cue;

class BarBeatFormatter {
public:
    using CueProvider = std::function<std::shared_ptr<Cue>()>;
    // What a field can hold: nothing, a text, or a number.
    using ObjectValue = std::variant<std::monostate, std::string, double>;

    // A run of text with its colour, for the attributed display.
    struct AttributedRun {
        std::string text;
        bool dimmed = false;  // 50 % grey at 50 % alpha
    };

    explicit BarBeatFormatter(CueProvider cueProvider = {}, bool barOnly = false);

    bool barOnly() const { return barOnly_; }
    void setBarOnly(bool barOnly) { barOnly_ = barOnly; }
    void setCueProvider(CueProvider provider) { cueProvider_ = std::move(provider); }

    std::string stringForObjectValue(const ObjectValue& value) const;
    std::vector<AttributedRun> attributedStringForObjectValue(const ObjectValue& value) const;

    // The position of the text; on failure none and `error` holds
    // "Bar/beat formatter can't parse this because it's not a string." or
    // "Bar/beat formatter can't parse this because there's no cue in place.".
    struct ParseResult {
        bool ok = false;
        double beats = 0.0;
        std::string error;
    };
    ParseResult getObjectValue(const ObjectValue& value) const;

private:
    CueProvider cueProvider_;
    bool barOnly_ = false;
};

}  // namespace tollvane
