#include "playback/sequence/TempoMap.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "playback/sequence/MusicSequence.h"

namespace tollvane {

namespace {

constexpr uint8_t kTimeSignatureMetaType = 0x58;
constexpr uint8_t kMaxDenominatorExponent = 7;

// Bar arithmetic is done in whole subbeats; a value a hair below a boundary
// (from the division) belongs to the boundary.
constexpr double kSubbeatTolerance = 1e-6;
// Subbeat counts beyond this lose whole-number precision in a double.
constexpr double kMaxSubbeats = 4.0e15;

double clampedStart(double beats) {
    return beats < 0.0 ? 0.0 : beats;
}

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

TempoMap::MeterSegment meterSegment(double beat, int64_t bar, TimeSignature signature) {
    TempoMap::MeterSegment segment;
    segment.beat = beat;
    segment.bar = bar;
    segment.signature = signature;
    segment.beatsPerUnit = 4.0 / signature.denominator;
    segment.beatsPerBar = signature.numerator * segment.beatsPerUnit;
    return segment;
}

}  // namespace

TempoMap::TempoMap() : tempo_(1), meter_{meterSegment(0.0, 1, TimeSignature{})} {}

std::shared_ptr<const TempoMap> TempoMap::build(const std::vector<MusicEventData>& tempoTrackEvents) {
    auto map = std::make_shared<TempoMap>();
    for (const MusicEventData& event : tempoTrackEvents) {
        map->applyTempo(event);
        map->applyMeter(event);
    }
    return map;
}

namespace {

bool readTimeSignature(const MusicEventData& event, const uint8_t*& data) {
    uint8_t metaType = 0;
    uint32_t length = 0;
    return event.readMeta(metaType, data, length) && metaType == kTimeSignatureMetaType && length >= 4;
}

}  // namespace

bool TempoMap::isTempoEvent(const MusicEventData& event) {
    double bpm = 0.0;
    return event.readTempo(bpm);
}

bool TempoMap::isMeterEvent(const MusicEventData& event) {
    const uint8_t* data = nullptr;
    return readTimeSignature(event, data);
}

void TempoMap::rebuildTempo(const std::vector<MusicEventData>& tempoTrackEvents) {
    tempo_.assign(1, TempoSegment{});
    lastTempoTime_ = -std::numeric_limits<double>::infinity();
    for (const MusicEventData& event : tempoTrackEvents) applyTempo(event);
}

void TempoMap::rebuildMeter(const std::vector<MusicEventData>& tempoTrackEvents) {
    meter_.assign(1, meterSegment(0.0, 1, TimeSignature{}));
    lastMeterTime_ = -std::numeric_limits<double>::infinity();
    for (const MusicEventData& event : tempoTrackEvents) applyMeter(event);
}

void TempoMap::applyTempo(const MusicEventData& event) {
    double bpm = 0.0;
    if (!std::isfinite(event.timeStamp) || !event.readTempo(bpm)) return;
    lastTempoTime_ = std::max(lastTempoTime_, event.timeStamp);
    if (!std::isfinite(bpm) || bpm <= 0.0) return;
    const double beat = clampedStart(event.timeStamp);
    TempoSegment& last = tempo_.back();
    if (beat == last.beat) {
        last.bpm = bpm;
        last.secondsPerBeat = 60.0 / bpm;
        return;
    }
    TempoSegment next;
    next.beat = beat;
    next.seconds = last.seconds + (beat - last.beat) * last.secondsPerBeat;
    next.bpm = bpm;
    next.secondsPerBeat = 60.0 / bpm;
    tempo_.push_back(next);
}

void TempoMap::applyMeter(const MusicEventData& event) {
    const uint8_t* data = nullptr;
    if (!std::isfinite(event.timeStamp) || !readTimeSignature(event, data)) return;
    lastMeterTime_ = std::max(lastMeterTime_, event.timeStamp);
    if (data[0] == 0 || data[1] > kMaxDenominatorExponent) return;
    const TimeSignature signature{data[0], static_cast<uint16_t>(1u << data[1])};
    const double beat = clampedStart(event.timeStamp);

    MeterSegment& last = meter_.back();
    const double barsElapsed = (beat - last.beat) / last.beatsPerBar;
    if (barsElapsed <= kSubbeatTolerance * 1e-3) {
        last = meterSegment(last.beat, last.bar, signature);
        return;
    }
    // A meter that does not fall on a bar line cuts the bar in progress
    // short; its own first bar starts at the event.
    const auto bars = static_cast<int64_t>(std::ceil(barsElapsed - 1e-9 * std::max(1.0, barsElapsed)));
    meter_.push_back(meterSegment(beat, last.bar + bars, signature));
}

const TempoMap::TempoSegment& TempoMap::tempoSegmentForBeats(double beats) const {
    auto it =
        std::upper_bound(tempo_.begin(), tempo_.end(), beats,
                         [](double value, const TempoSegment& segment) { return value < segment.beat; });
    return it == tempo_.begin() ? tempo_.front() : *(it - 1);
}

const TempoMap::MeterSegment& TempoMap::meterSegmentForBeats(double beats) const {
    auto it =
        std::upper_bound(meter_.begin(), meter_.end(), beats,
                         [](double value, const MeterSegment& segment) { return value < segment.beat; });
    return it == meter_.begin() ? meter_.front() : *(it - 1);
}

const TempoMap::MeterSegment& TempoMap::meterSegmentForBar(int64_t bar) const {
    auto it =
        std::upper_bound(meter_.begin(), meter_.end(), bar,
                         [](int64_t value, const MeterSegment& segment) { return value < segment.bar; });
    return it == meter_.begin() ? meter_.front() : *(it - 1);
}

double TempoMap::secondsForBeats(double beats) const {
    const TempoSegment& segment = tempoSegmentForBeats(beats);
    return segment.seconds + (beats - segment.beat) * segment.secondsPerBeat;
}

double TempoMap::beatsForSeconds(double seconds) const {
    auto it =
        std::upper_bound(tempo_.begin(), tempo_.end(), seconds,
                         [](double value, const TempoSegment& segment) { return value < segment.seconds; });
    const TempoSegment& segment = it == tempo_.begin() ? tempo_.front() : *(it - 1);
    return segment.beat + (seconds - segment.seconds) / segment.secondsPerBeat;
}

double TempoMap::bpmAtBeat(double beats) const {
    return tempoSegmentForBeats(beats).bpm;
}

int TempoMap::beatsToBarBeatTime(double beats, uint16_t subbeatDivisor, BarBeatTime& out) const {
    if (subbeatDivisor == 0 || !std::isfinite(beats)) return kMusicSequenceError_InvalidArgument;
    const MeterSegment& segment = meterSegmentForBeats(beats);
    const double subbeats = (beats - segment.beat) / segment.beatsPerUnit * subbeatDivisor;
    if (std::fabs(subbeats) > kMaxSubbeats) return kMusicSequenceError_OutOfRange;

    const auto total = static_cast<int64_t>(
        std::floor(subbeats + kSubbeatTolerance * std::max(1.0, std::fabs(subbeats) * 1e-9)));
    const int64_t perBar = int64_t{segment.signature.numerator} * subbeatDivisor;
    const int64_t barsIn = floorDiv(total, perBar);
    const int64_t bar = segment.bar + barsIn;
    if (bar < std::numeric_limits<int32_t>::min() || bar > std::numeric_limits<int32_t>::max()) {
        return kMusicSequenceError_OutOfRange;
    }
    const int64_t inBar = total - barsIn * perBar;
    out.bar = static_cast<int32_t>(bar);
    out.beat = static_cast<uint16_t>(inBar / subbeatDivisor + 1);
    out.subbeat = static_cast<uint16_t>(inBar % subbeatDivisor);
    out.subbeatDivisor = subbeatDivisor;
    out.reserved = 0;
    return kMusicSequenceNoErr;
}

int TempoMap::barBeatTimeToBeats(const BarBeatTime& time, double& beats) const {
    if (time.subbeatDivisor == 0) return kMusicSequenceError_InvalidArgument;
    const MeterSegment& segment = meterSegmentForBar(time.bar);
    const double units = (static_cast<double>(time.beat) - 1.0) +
                         static_cast<double>(time.subbeat) / static_cast<double>(time.subbeatDivisor);
    beats = segment.beat + static_cast<double>(time.bar - segment.bar) * segment.beatsPerBar +
            units * segment.beatsPerUnit;
    return kMusicSequenceNoErr;
}

double TempoMap::beatsForBarStart(int64_t bar) const {
    const MeterSegment& segment = meterSegmentForBar(bar);
    return segment.beat + static_cast<double>(bar - segment.bar) * segment.beatsPerBar;
}

TimeSignature TempoMap::timeSignatureAtBeat(double beats) const {
    return meterSegmentForBeats(beats).signature;
}

}  // namespace tollvane
