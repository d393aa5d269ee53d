#include "model/BarBeatFormatter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "model/Cue.h"
#include "playback/FFMusicSequence.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

constexpr const char* kNotANumberText = "-";
constexpr const char* kNoSequenceText = "-|-|---";
constexpr const char* kNotAStringError = "Bar/beat formatter can't parse this because it's not a string.";
constexpr const char* kNoCueError = "Bar/beat formatter can't parse this because there's no cue in place.";
constexpr uint16_t kSubbeatDivisor = 480;

uint16_t clampToUInt16(int64_t value) {
    return static_cast<uint16_t>(std::clamp<int64_t>(value, 0, std::numeric_limits<uint16_t>::max()));
}

// Moves past one separator character, whatever it is.
void skipSeparator(std::string_view text, size_t& pos) {
    if (pos < text.size()) pos += textscan::characterLength(text, pos);
}

}  // namespace

BarBeatFormatter::BarBeatFormatter(CueProvider cueProvider, bool barOnly)
    : cueProvider_(std::move(cueProvider)), barOnly_(barOnly) {}

std::string BarBeatFormatter::stringForObjectValue(const ObjectValue& value) const {
    const auto* beats = std::get_if<double>(&value);
    if (!beats || std::isnan(*beats)) return kNotANumberText;

    const std::shared_ptr<Cue> cue = cueProvider_ ? cueProvider_() : nullptr;
    const std::shared_ptr<FFMusicSequence> sequence = cue ? cue->sequence() : nullptr;
    if (!sequence) return kNoSequenceText;

    const BarBeatTime time = sequence->barBeatTimeForBeats(*beats);
    const int32_t shownBar =
        textscan::clampToInt32(int64_t{time.bar} - Cue::kPrerollBars + int64_t{cue->barNumberOffsetValue()});
    char buffer[48];
    if (barOnly_) {
        std::snprintf(buffer, sizeof buffer, "%d|-|---", shownBar);
        return buffer;
    }
    // The meter of the bar the position lies in (its sequence bar), as the
    // transport's bar|beat display looks it up, so both show the same text.
    const bool twoDigitBeat = sequence->timeSignatureOfBar(time.bar).numerator > 9;
    std::snprintf(buffer, sizeof buffer, twoDigitBeat ? "%d|%02d|%03d" : "%d|%d|%03d", shownBar, time.beat,
                  time.subbeat);
    return buffer;
}

std::vector<BarBeatFormatter::AttributedRun> BarBeatFormatter::attributedStringForObjectValue(
    const ObjectValue& value) const {
    std::string text = stringForObjectValue(value);
    const size_t bar = text.find('|');
    // Only the bar-only display greys out its placeholder beat and subbeat.
    if (!barOnly_ || bar == std::string::npos || text == kNoSequenceText) {
        return {AttributedRun{std::move(text), false}};
    }
    std::vector<AttributedRun> runs;
    if (bar > 0) runs.push_back(AttributedRun{text.substr(0, bar), false});
    runs.push_back(AttributedRun{text.substr(bar), true});
    return runs;
}

BarBeatFormatter::ParseResult BarBeatFormatter::getObjectValue(const ObjectValue& value) const {
    ParseResult result;
    const auto* text = std::get_if<std::string>(&value);
    if (!text) {
        result.error = kNotAStringError;
        return result;
    }
    const std::shared_ptr<Cue> cue = cueProvider_ ? cueProvider_() : nullptr;
    const std::shared_ptr<FFMusicSequence> sequence = cue ? cue->sequence() : nullptr;
    if (!sequence) {
        result.error = kNoCueError;
        return result;
    }

    size_t pos = 0;
    int64_t bar = 1;
    int64_t beat = 1;
    int64_t subbeat = 0;
    if (!textscan::scanInteger(*text, pos, bar)) bar = 1;
    if (!barOnly_) {
        skipSeparator(*text, pos);
        if (!textscan::scanInteger(*text, pos, beat)) beat = 1;
        skipSeparator(*text, pos);
        if (!textscan::scanInteger(*text, pos, subbeat)) subbeat = 0;
    }

    BarBeatTime time;
    // Typed numbers are saturated into the fields' widths rather than wrapped.
    const int64_t sequenceBar =
        std::clamp<int64_t>(bar, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()) -
        cue->barNumberOffsetValue() + Cue::kPrerollBars;
    time.bar = textscan::clampToInt32(sequenceBar);
    time.beat = clampToUInt16(beat);
    time.subbeat = clampToUInt16(subbeat);
    time.subbeatDivisor = kSubbeatDivisor;
    result.beats = sequence->beatsForBarBeatTime(time);
    result.ok = true;
    return result;
}

}  // namespace tollvane
