#include "app/BarBeatCounter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "model/Cue.h"
#include "model/CueTimingMap.h"
#include "playback/SyncController.h"
#include "playback/TransportController.h"
#include "timebase/EMTimecode.h"
#include "timebase/NoteDuration.h"

namespace tollvane {

BarBeatCounter::BarBeatCounter(SyncController& syncController, TransportController& transportController)
    : syncController_(syncController), transportController_(transportController) {}

std::string BarBeatCounter::counterTextFor(int64_t bar, int32_t beat, bool twoDigitBeats) {
    char text[48];
    std::snprintf(text, sizeof text, twoDigitBeats ? "%lld|%02d" : "%lld|%d", static_cast<long long>(bar),
                  static_cast<int>(beat));
    return text;
}

std::string BarBeatCounter::countoffTextFor(double remainingSeconds, double beatSeconds, double factor,
                                            uint32_t warningBeats) {
    const auto n = static_cast<int64_t>(warningBeats);
    // Clicks that still fit before the start. A click of no length, or a
    // map that answers nothing, gives the plain "n into " rather than a
    // division by zero; the clamp keeps the conversion to an integer defined.
    const double clickSeconds = beatSeconds * factor;
    double clicks = clickSeconds > 0.0 ? remainingSeconds / clickSeconds : static_cast<double>(n);
    if (std::isnan(clicks)) clicks = static_cast<double>(n);
    const auto k = static_cast<int64_t>(std::clamp(clicks, 0.0, static_cast<double>(n)));
    char text[48];
    if (n - k > 0) {
        std::snprintf(text, sizeof text, "%lld/%lld into ", static_cast<long long>(n - k),
                      static_cast<long long>(n));
    } else {
        std::snprintf(text, sizeof text, "%lld into ", static_cast<long long>(n));
    }
    return text;
}

bool BarBeatCounter::update(const std::shared_ptr<Cue>& cue, bool mtcOnline) {
    std::string counter;
    std::string countoff = countoffText_;
    const std::shared_ptr<EMTimecode> timecode = cue ? syncController_.currentTimecode() : nullptr;
    // One map for the whole computation, so a rebuild in between cannot mix
    // two tempo maps.
    const std::shared_ptr<const CueTimingMap> map = cue ? cue->timingMap() : nullptr;

    if (!cue) {
        counter.clear();
    } else if ((!mtcOnline && !syncController_.rehearsalActive()) || !timecode || !map->sequence()) {
        // Without a timecode or a compiled sequence there is no position to show.
        counter = kIdleCounterText;
        countoff.clear();
    } else {
        const double heard = map->secondsForBeats(cue->prerollShiftedBeatsForTimecode(*timecode));
        const double now = map->beatsForSeconds(heard + syncController_.videoLatencyCompensation());
        const double shown = std::min(std::max(now, transportController_.playbackStartPrerollShiftedBeats()),
                                      map->lengthInBeats());

        const BarBeatTime time = map->barBeatTimeForBeats(shown);
        // The meter is the sequence's own bar's: the offset only renumbers.
        const bool twoDigitBeats = map->timeSignatureOfBar(time.bar).numerator >= 10;
        const int64_t bar = int64_t{time.bar} + cue->barNumberOffsetValue() - Cue::kPrerollBars;
        counter = counterTextFor(bar, time.beat, twoDigitBeats);

        if (shown > now) {
            const double nowSeconds = map->secondsForBeats(now);
            const double shownSeconds = map->secondsForBeats(shown);
            const double beatSeconds = map->secondsForBeats(shown + 1.0) - shownSeconds;
            const int32_t code = transportController_.warningBeatNoteDuration();
            const double factor = code == NoteDuration::kSameAsClick
                                      ? transportController_.warningBeatDurationMatching()
                                      : NoteDuration::quarterNotes(code);
            countoff = countoffTextFor(shownSeconds - nowSeconds, beatSeconds, factor,
                                       transportController_.warningBeats());
        } else {
            countoff.clear();
        }
    }

    const bool changed = counter != counterText_ || countoff != countoffText_;
    counterText_ = std::move(counter);
    countoffText_ = std::move(countoff);
    return changed;
}

}  // namespace tollvane
