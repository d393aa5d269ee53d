#include "model/CueTimingMap.h"

#include <algorithm>
#include <cmath>

#include "model/CueEvent.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventMeterChange.h"
#include "platform/archive/Color.h"
#include "playback/FFMusicSequence.h"
#include "playback/TLEvent.h"
#include "timebase/NoteDuration.h"

namespace tollvane {

namespace {

// Positions closer than this count as the same place.
constexpr double kTolerance = 0.01;
// A count-off keeps answering its lock position this far past it.
constexpr double kCountoffAllowance = 0.1;
// A count-off takes over the click this far before its first click.
constexpr double kCountoffLeadIn = 1.0;
// Bar-beat times come with 480 subbeats to the beat; a punch within 10 of
// them after a downbeat is a bar punch.
constexpr uint16_t kDownbeatSubbeats = 10;
constexpr double kBeatProbe = 0.25;
// A beat of the meter is at most a whole note (4 beats, 16 probes); when
// this many probes find no new beat the conversions are failing.
constexpr int kMaxBeatProbes = 64;

std::shared_ptr<TLEvent> punchWith(int32_t holes, const std::shared_ptr<const Color>& color) {
    auto event = TLEvent::punchEvent();
    event->setValueForKey("eventLength", Value(holes));
    const Data data = color ? color->archivedData() : Color::calibrated(1.0, 1.0, 1.0)->archivedData();
    event->setValueForKey("eventColor", Value(data));
    return event;
}

// A meter change always shapes the click; a click change only when it
// changes the click. Only click changes change the punches.
bool takesPartInClick(const CueTimingMap::MeterRecord& record) {
    return !record.isClickChange || record.changeClick;
}

bool takesPartInVisualClick(const CueTimingMap::MeterRecord& record) {
    return record.isClickChange && record.changePunches;
}

}  // namespace

CueTimingMap::CueTimingMap() {
    buildTables();
}

CueTimingMap::CueTimingMap(std::shared_ptr<FFMusicSequence> sequence, std::vector<MeterRecord> meters,
                           std::vector<CountoffRecord> countoffs, double lengthInBeats)
    : sequence_(std::move(sequence)),
      meters_(std::move(meters)),
      countoffs_(std::move(countoffs)),
      lengthInBeats_(lengthInBeats) {
    buildTables();
}

std::vector<CueTimingMap::MeterRecord> CueTimingMap::meterRecordsOf(
    const std::vector<std::shared_ptr<CueEvent>>& meterEvents) {
    std::vector<MeterRecord> records;
    records.reserve(meterEvents.size());
    for (const auto& event : meterEvents) {
        if (auto change = std::dynamic_pointer_cast<CueEventClickChange>(event)) {
            MeterRecord record;
            record.isClickChange = true;
            record.lockPosition = change->lockPrerollShiftedBeats();
            record.clickNoteDuration = change->clickNoteDuration();
            record.changeClick = change->changeClick();
            record.clickPattern = change->clickPattern();
            record.changePunches = change->changePunches();
            record.beatPunchNoteDuration = change->beatPunchNoteDuration();
            record.barPunchEnabled = change->barPunchEnabled();
            record.barPunchColor = change->barPunchColor();
            record.barPunchHoles = change->barPunchHoles();
            record.beatPunchEnabled = change->beatPunchEnabled();
            record.beatPunchColor = change->beatPunchColor();
            record.beatPunchHoles = change->beatPunchHoles();
            records.push_back(std::move(record));
        } else if (auto meter = std::dynamic_pointer_cast<CueEventMeterChange>(event)) {
            MeterRecord record;
            record.lockPosition = meter->lockPrerollShiftedBeats();
            record.clickNoteDuration = meter->clickNoteDuration();
            record.barPunchEnabled = meter->barPunchEnabled();
            record.barPunchColor = meter->barPunchColor();
            record.barPunchHoles = meter->barPunchHoles();
            record.beatPunchEnabled = meter->beatPunchEnabled();
            record.beatPunchColor = meter->beatPunchColor();
            record.beatPunchHoles = meter->beatPunchHoles();
            records.push_back(std::move(record));
        }
    }
    return records;
}

std::vector<CueTimingMap::CountoffRecord> CueTimingMap::countoffRecordsOf(
    const std::vector<std::shared_ptr<CueEvent>>& countoffEvents) {
    std::vector<CountoffRecord> records;
    records.reserve(countoffEvents.size());
    for (const auto& event : countoffEvents) {
        auto countoff = std::dynamic_pointer_cast<CueEventCountoff>(event);
        if (!countoff) continue;
        CountoffRecord record;
        record.firstClickPosition = countoff->firstClickPrerollShiftedBeats();
        record.lockPosition = countoff->lockPrerollShiftedBeats();
        record.countoffBeats = countoff->countoffBeats();
        record.countoffNoteDuration = countoff->countoffNoteDuration();
        record.audioClick = countoff->audioClick();
        record.punchClick = countoff->punchClick();
        records.push_back(record);
    }
    return records;
}

// --- Conversions -------------------------------------------------------------

double CueTimingMap::secondsForBeats(double beats) const {
    return sequence_ ? sequence_->secondsForBeats(beats) : 0.0;
}

double CueTimingMap::beatsForSeconds(double seconds) const {
    return sequence_ ? sequence_->beatsForSeconds(seconds) : 0.0;
}

BarBeatTime CueTimingMap::barBeatTimeForBeats(double beats) const {
    return sequence_ ? sequence_->barBeatTimeForBeats(beats) : BarBeatTime{};
}

double CueTimingMap::beatsForBarNumber(int32_t sequenceBar, uint16_t beatNumber) const {
    return sequence_ ? sequence_->beatsForBarNumber(sequenceBar, beatNumber) : 0.0;
}

double CueTimingMap::beatsForBarBeatTime(const BarBeatTime& time) const {
    return sequence_ ? sequence_->beatsForBarBeatTime(time) : 0.0;
}

TimeSignature CueTimingMap::timeSignatureOfBar(int32_t sequenceBar) const {
    return sequence_ ? sequence_->timeSignatureOfBar(sequenceBar) : TimeSignature{0, 0};
}

// --- Tables ------------------------------------------------------------------

void CueTimingMap::applyClickRecord(const MeterRecord& record, int32_t index, ClickState& state,
                                    bool& audible) {
    if (!takesPartInClick(record)) return;
    const int32_t code = record.clickNoteDuration;
    if (code == NoteDuration::kNoChange) return;
    if (code == NoteDuration::kOff) {
        state = ClickState{ClickState::Kind::Number, 0.0, -1};
        audible = false;
        return;
    }
    const double length = NoteDuration::quarterNotes(code);
    state = record.isClickChange ? ClickState{ClickState::Kind::Pattern, length, index}
                                 : ClickState{ClickState::Kind::Number, length, -1};
    audible = true;
}

void CueTimingMap::applyVisualRecord(const MeterRecord& record, double& interval) {
    if (!takesPartInVisualClick(record)) return;
    const int32_t code = record.beatPunchNoteDuration;
    if (code == NoteDuration::kNoChange) return;
    // No beat punch interval of its own: every beat.
    interval = code == NoteDuration::kOff ? 1.0 : NoteDuration::quarterNotes(code);
}

void CueTimingMap::buildTables() {
    ClickState click;
    bool audible = true;
    double visual = 1.0;
    for (size_t index = 0; index < meters_.size(); ++index) {
        const MeterRecord& record = meters_[index];
        if (takesPartInClick(record)) {
            applyClickRecord(record, static_cast<int32_t>(index), click, audible);
            if (!clickPositions_.empty() && record.lockPosition < clickPositions_.back()) {
                clickPositionsInOrder_ = false;
            }
            clickPositions_.push_back(record.lockPosition);
            clickStates_.push_back(click);
            audioStates_.push_back(audible ? 1 : 0);
        }
        if (takesPartInVisualClick(record)) {
            applyVisualRecord(record, visual);
            if (!visualPositions_.empty() && record.lockPosition < visualPositions_.back()) {
                visualPositionsInOrder_ = false;
            }
            visualPositions_.push_back(record.lockPosition);
            visualIntervals_.push_back(visual);
        }
    }
}

CueTimingMap::ClickState CueTimingMap::clickStateAt(double beats) const {
    // Every record that takes part and lies before the position applies; the
    // last one wins.
    const double limit = beats + kTolerance;
    if (clickPositionsInOrder_) {
        const auto end = std::lower_bound(clickPositions_.begin(), clickPositions_.end(), limit);
        if (end == clickPositions_.begin()) return ClickState{};
        return clickStates_[static_cast<size_t>(end - clickPositions_.begin()) - 1];
    }
    ClickState state;
    bool audible = true;
    for (size_t index = 0; index < meters_.size(); ++index) {
        if (meters_[index].lockPosition < limit) {
            applyClickRecord(meters_[index], static_cast<int32_t>(index), state, audible);
        }
    }
    return state;
}

CueTimingMap::ClickSetting CueTimingMap::settingOf(const ClickState& state) const {
    switch (state.kind) {
        case ClickState::Kind::None:
            return std::monostate{};
        case ClickState::Kind::Number:
            return state.interval;
        case ClickState::Kind::Pattern:
            return ClickPattern{state.interval, meters_[static_cast<size_t>(state.record)].clickPattern};
    }
    return std::monostate{};
}

double CueTimingMap::visualIntervalAt(double beats) const {
    const double limit = beats + kTolerance;
    if (visualPositionsInOrder_) {
        const auto end = std::lower_bound(visualPositions_.begin(), visualPositions_.end(), limit);
        if (end == visualPositions_.begin()) return 1.0;
        return visualIntervals_[static_cast<size_t>(end - visualPositions_.begin()) - 1];
    }
    double interval = 1.0;
    for (const MeterRecord& record : meters_) {
        if (record.lockPosition < limit) applyVisualRecord(record, interval);
    }
    return interval;
}

bool CueTimingMap::pulseSounds(const ClickState& state, int64_t pulse) const {
    // The first pulse of each group sounds, and every pulse past the groups.
    const std::vector<uint32_t>& pattern = meters_[static_cast<size_t>(state.record)].clickPattern;
    if (pattern.empty()) return true;
    int64_t sum = 0;
    for (const uint32_t group : pattern) {
        if (sum == pulse) return true;
        sum += group;
    }
    return sum <= pulse;
}

int64_t CueTimingMap::stepsToReach(double start, double interval, double beats) {
    if (!(beats > start) || !std::isfinite(beats - start)) return 0;
    // Computed rather than added up step by step: the same positions without
    // the rounding that piles up over many additions.
    const double estimate = std::min(std::ceil((beats - start) / interval), 1.0e15);
    auto steps = static_cast<int64_t>(estimate);
    while (steps > 0 && start + static_cast<double>(steps - 1) * interval >= beats) --steps;
    while (start + static_cast<double>(steps) * interval < beats) ++steps;
    return steps;
}

// --- Click decisions -----------------------------------------------------------

CueTimingMap::ClickSetting CueTimingMap::clickSettingForPrerollShiftedBeats(double beats) const {
    return settingOf(clickStateAt(beats));
}

CueTimingMap::ClickSetting CueTimingMap::clickSettingForBar(int32_t sequenceBar) const {
    return settingOf(clickStateAt(downbeatOf(sequenceBar)));
}

bool CueTimingMap::audioClickAtPrerollShiftedBeats(double beats, const ClickContext& context) const {
    if (beats < context.playbackStartPosition - kTolerance) return true;
    for (const CountoffRecord& countoff : countoffs_) {
        if (countoff.audioClick && countoff.firstClickPosition <= beats && beats <= countoff.lockPosition) {
            return true;
        }
    }
    // The records up to the first one after the position decide.
    size_t applying = 0;
    if (clickPositionsInOrder_) {
        applying =
            static_cast<size_t>(std::upper_bound(clickPositions_.begin(), clickPositions_.end(), beats) -
                                clickPositions_.begin());
    } else {
        while (applying < clickPositions_.size() && !(clickPositions_[applying] > beats)) ++applying;
    }
    return applying == 0 || audioStates_[applying - 1] != 0;
}

CueTimingMap::ClickAnswer CueTimingMap::warningClickAfter(double beats, const ClickContext& context) const {
    const double start = context.playbackStartPosition;
    const BarBeatTime startTime = barBeatTimeForBeats(start);
    const ClickState setting = clickStateAt(downbeatOf(startTime.bar));
    const bool sameAsClick = context.warningBeatNoteDuration == NoteDuration::kSameAsClick;
    double interval = NoteDuration::quarterNotes(context.warningBeatNoteDuration);
    if (sameAsClick) {
        if (setting.kind == ClickState::Kind::Number || setting.kind == ClickState::Kind::Pattern) {
            interval = setting.interval;
            if (interval < kTolerance) return ClickAnswer{0.0, true};
        } else {
            interval = 1.0;
        }
    }

    // In seconds: the warning clicks are `warningBeats` steps of one interval
    // (measured at the start) leading up to the start.
    const double now = secondsForBeats(beats);
    const double startSeconds = secondsForBeats(start);
    const double step = secondsForBeats(start + interval) - startSeconds;
    const int64_t count = context.warningBeats;
    const double first = startSeconds - static_cast<double>(count) * step;
    int64_t passed = 0;
    if (now > first) {
        // A step that is no step (failed conversions) passes every click.
        const bool pastAll = !(step > 0.0) || (now - first) / step > static_cast<double>(count);
        passed = pastAll ? count : std::min(stepsToReach(first, step, now), count);
    }
    const double seconds = first + static_cast<double>(passed) * step;

    ClickAnswer answer;
    if (sameAsClick && setting.kind == ClickState::Kind::Pattern) {
        BarBeatTime nextBar = startTime;
        nextBar.bar += 1;
        const double barLength = beatsForBarBeatTime(nextBar) - start;
        const double pulses = barLength / interval;
        const int64_t pulsesPerBar = pulses >= 1.0 && pulses < 1.0e9 ? static_cast<int64_t>(pulses) : 0;
        // A pulse longer than the bar leaves every warning click sounding.
        if (pulsesPerBar > 0) {
            // The warning click's pulse, counted back from the start.
            int64_t pulse = (passed - count + 500 * pulsesPerBar) % pulsesPerBar;
            if (pulse < 0) pulse += pulsesPerBar;
            answer.sounds = pulseSounds(setting, pulse);
        }
    }
    answer.position = passed >= count ? start : beatsForSeconds(seconds);
    return answer;
}

std::optional<double> CueTimingMap::countoffClickAfter(double beats, bool audible) const {
    for (const CountoffRecord& countoff : countoffs_) {
        const double lock = countoff.lockPosition;
        if (!(countoff.firstClickPosition < beats + kCountoffLeadIn)) continue;
        if (!(beats < (audible ? lock + kCountoffAllowance : lock))) continue;
        double answer = lock;
        const double lockSeconds = secondsForBeats(lock);
        const double step =
            secondsForBeats(lock + NoteDuration::quarterNotes(countoff.countoffNoteDuration)) - lockSeconds;
        // Without a step (failed conversions) there is nothing to step back by.
        if (countoff.countoffBeats >= 0 && step > 0.0) {
            // Clicks step back from the lock position; the answer is the
            // last one at or after the position.
            double previous = lock;
            double beforePrevious = lock;
            bool found = false;
            for (int64_t k = 1; k <= int64_t{countoff.countoffBeats} + 1; ++k) {
                const double click = beatsForSeconds(lockSeconds - static_cast<double>(k) * step);
                if (beats > click) {
                    answer = previous;
                    found = true;
                    break;
                }
                beforePrevious = previous;
                previous = click;
            }
            // Asked from before the click ahead of the first one: the first.
            if (!found) answer = beforePrevious;
        }
        // Past the lock position (inside the allowance) the count-off has
        // nothing left to give.
        if (answer < beats) continue;
        return answer;
    }
    return std::nullopt;
}

double CueTimingMap::nextClickTimeAfterPrerollShiftedBeats(double beats, const ClickContext& context,
                                                           bool* clickShouldSound) const {
    if (clickShouldSound) *clickShouldSound = true;
    if (context.adrFoleyView || !std::isfinite(beats)) return 0.0;

    if (beats < context.playbackStartPosition - kTolerance) {
        if (context.clickMuteSetting == 2) return 0.0;
        const ClickAnswer answer = warningClickAfter(beats, context);
        if (clickShouldSound) *clickShouldSound = answer.sounds;
        return answer.position;
    }

    if (context.clickMuteSetting == 1 || context.clickMuteSetting == 2) return 0.0;
    if (const std::optional<double> countoff = countoffClickAfter(beats, true)) return *countoff;

    const int32_t bar = barOf(beats);
    const double downbeat = downbeatOf(bar);
    const ClickState setting = clickStateAt(downbeat);
    if (setting.kind == ClickState::Kind::None) return 0.0;

    const auto nextBarDownbeat = [&] {
        const double next = downbeatOf(bar + 1);
        const ClickState nextSetting = clickStateAt(next);
        const bool clicks =
            nextSetting.kind == ClickState::Kind::Pattern ||
            (nextSetting.kind == ClickState::Kind::Number && nextSetting.interval >= kTolerance);
        return clicks ? next : 0.0;
    };

    double answer = 0.0;
    if (setting.interval < kTolerance) {
        answer = nextBarDownbeat();
    } else {
        const int64_t steps = stepsToReach(downbeat, setting.interval, beats);
        const double click = downbeat + static_cast<double>(steps) * setting.interval;
        if (barOf(click) > bar) {
            answer = nextBarDownbeat();
        } else {
            answer = click;
            if (setting.kind == ClickState::Kind::Pattern && clickShouldSound) {
                *clickShouldSound = pulseSounds(setting, steps);
            }
        }
    }
    return answer > lengthInBeats_ ? 0.0 : answer;
}

double CueTimingMap::visualClickSettingForBar(int32_t sequenceBar) const {
    return visualIntervalAt(downbeatOf(sequenceBar));
}

double CueTimingMap::nextVisualClickTimeAfterPrerollShiftedBeats(double beats,
                                                                 const ClickContext& context) const {
    if (!std::isfinite(beats)) return 0.0;
    if (beats < context.playbackStartPosition - kTolerance) {
        const ClickAnswer answer = warningClickAfter(beats, context);
        return answer.sounds ? answer.position : 0.0;
    }
    if (const std::optional<double> countoff = countoffClickAfter(beats, false)) return *countoff;

    const int32_t bar = barOf(beats);
    const double downbeat = downbeatOf(bar);
    const double interval = visualIntervalAt(downbeat);
    double answer = 0.0;
    if (interval < kTolerance) {
        answer = downbeatOf(bar + 1);
    } else {
        const int64_t steps = stepsToReach(downbeat, interval, beats);
        const double click = downbeat + static_cast<double>(steps) * interval;
        if (barOf(click) > bar) {
            const double next = downbeatOf(bar + 1);
            answer = visualIntervalAt(next) >= kTolerance ? next : 0.0;
        } else {
            answer = click;
        }
    }
    return answer > lengthInBeats_ ? 0.0 : answer;
}

std::shared_ptr<TLEvent> CueTimingMap::visualClickAtPrerollShiftedBeats(double beats,
                                                                        const ClickContext& context) const {
    if (beats < context.playbackStartPosition - kTolerance) {
        return context.warningBeatPunchesEnabled ? TLEvent::punchEvent() : nullptr;
    }
    for (const CountoffRecord& countoff : countoffs_) {
        if (countoff.punchClick && countoff.firstClickPosition <= beats && beats <= countoff.lockPosition) {
            return TLEvent::punchEvent();
        }
    }

    const MeterRecord* punches = nullptr;
    for (const MeterRecord& record : meters_) {
        if (!record.isClickChange) continue;
        if (record.lockPosition > beats) break;
        if (record.changePunches) punches = &record;
    }
    if (!punches) return nullptr;

    const BarBeatTime time = barBeatTimeForBeats(beats + kTolerance);
    const bool onDownbeat = time.beat == 1 && time.subbeat < kDownbeatSubbeats;
    if (onDownbeat && punches->barPunchEnabled)
        return punchWith(punches->barPunchHoles, punches->barPunchColor);
    if (punches->beatPunchEnabled) return punchWith(punches->beatPunchHoles, punches->beatPunchColor);
    return nullptr;
}

double CueTimingMap::nextBeatTimeAfterPrerollShiftedBeats(double beats) const {
    if (!std::isfinite(beats)) return 0.0;
    BarBeatTime previous = barBeatTimeForBeats(beats);
    for (int probe = 1; probe <= kMaxBeatProbes; ++probe) {
        const double position = beats + kBeatProbe * probe;
        const BarBeatTime time = barBeatTimeForBeats(position);
        if (time.bar != previous.bar || time.beat != previous.beat) return position;
        previous = time;
    }
    return 0.0;
}

}  // namespace tollvane
