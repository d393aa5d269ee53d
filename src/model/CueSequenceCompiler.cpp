#include "model/CueSequenceCompiler.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <typeinfo>
#include <vector>

#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueEnvironment.h"
#include "model/CueEvent.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventPunch.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "model/CueTimingMap.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "playback/FFMusicSequence.h"
#include "playback/UserEventRecord.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/MusicTrack.h"
#include "timebase/EMTimecode.h"
#include "timebase/NoteDuration.h"

namespace tollvane {

namespace {

constexpr int32_t kPrerollBars = 32;
constexpr double kCueStartBeats = 128.0;
constexpr double kFeetPerSecond = 1.5;
constexpr double kFallbackSyncPointSeconds = 64.0;
constexpr uint8_t kTimeSignatureMetaType = 0x58;
constexpr uint8_t kTrackNameMetaType = 3;
constexpr char kVisualTrackName[] = "_visual";

// Statuses print as "%ld/0x%lx": signed, then the 32-bit pattern.
long code(int status) {
    return static_cast<long>(status);
}
unsigned long hex(int status) {
    return static_cast<unsigned long>(static_cast<uint32_t>(status));
}

struct RGB {
    float red = 1.0f, green = 1.0f, blue = 1.0f;
};

// A colour's calibrated RGB; `fallback` when there is no colour.
RGB rgbOf(const std::shared_ptr<Color>& color, RGB fallback = {}) {
    if (!color) return fallback;
    const Color::RGBA& rgb = color->calibratedRGB();
    return {static_cast<float>(rgb.red), static_cast<float>(rgb.green), static_cast<float>(rgb.blue)};
}

float secondsOfFeet(double feet) {
    return static_cast<float>(feet / kFeetPerSecond);
}

// Writes a recomputed position without the event taking it for a user edit.
void storeLockPosition(CueEvent& event, double beats) {
    const bool wasUpdating = event.lockTimesAreUpdatingAutomatically();
    event.setLockTimesAreUpdatingAutomatically(true);
    event.setLockPrerollShiftedBeats(beats);
    event.setLockTimesAreUpdatingAutomatically(wasUpdating);
}

// The downbeat of a sequence bar (beat 1, subbeat 0 over 24).
int downbeatOfBar(const MusicSequence& sequence, int64_t bar, double& beats) {
    if (bar < std::numeric_limits<int32_t>::min() || bar > std::numeric_limits<int32_t>::max()) {
        return kMusicSequenceError_OutOfRange;
    }
    const BarBeatTime time{static_cast<int32_t>(bar), 1, 0, 24, 0};
    return sequence.barBeatTimeToBeats(time, beats);
}

int printableBar(int64_t bar) {
    return static_cast<int>(
        std::clamp<int64_t>(bar, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// The sequence bar of a cue bar.
int64_t sequenceBar(int32_t lockBar) {
    return int64_t{lockBar} + kPrerollBars;
}

// The sequence bar of a meter change: bars before the cue's first land on its
// first, so that the pre-roll keeps its 4/4.
int64_t meterChangeSequenceBar(int32_t lockBar) {
    return lockBar < 1 ? sequenceBar(1) : sequenceBar(lockBar);
}

// The downbeat of a sequence bar, logging a failure.
bool downbeatOfSequenceBar(const MusicSequence& sequence, int64_t bar, double& beats) {
    const int status = downbeatOfBar(sequence, bar, beats);
    if (status != kMusicSequenceNoErr) {
        TLLog("Warning: Unable to get beat number for %d|%d|000 (error %ld).", printableBar(bar), 1,
              code(status));
        return false;
    }
    return true;
}

// The events of `events` locked to timecode, ordered by compareTimecode.
std::vector<CueEvent*> sortedByTimecode(std::vector<CueEvent*> events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const CueEvent* a, const CueEvent* b) { return a->compareTimecode(*b) < 0; });
    return events;
}

// The position of a timecode-locked event: the seconds from the sync
// timecode to its lock timecode, after `syncSeconds`.
int positionOfTimecode(const MusicSequence& sequence, const EMTimecode* syncTimecode, const CueEvent& event,
                       double syncSeconds, double& beats) {
    const std::shared_ptr<EMTimecode> lockTimecode = event.lockTimecode();
    if (!syncTimecode || !lockTimecode) return kMusicSequenceError_InvalidArgument;
    return sequence.beatsForSeconds(lockTimecode->secondsFromTimecode(*syncTimecode) + syncSeconds, beats);
}

// The event as its kind, or null. Kinds are not subclassed, so the exact
// type decides; far cheaper than a cast through CueEvent's several bases.
template <class Kind>
const Kind* kindOf(const CueEvent* event) {
    return event && typeid(*event) == typeid(Kind) ? static_cast<const Kind*>(event) : nullptr;
}

bool hasLockType(const std::shared_ptr<CueEvent>& event, int32_t lockType) {
    return event && event->lockType() == lockType;
}

std::shared_ptr<Color> colorDefault(const UserDefaults& defaults, std::string_view key) {
    const Value value = defaults.objectForKey(key);
    std::shared_ptr<Color> color;
    if (value.isData()) {
        color = Color::fromArchivedData(value.dataValue());
    } else if (value.isObject()) {
        color = value.object<Color>();
    }
    return color ? color->colorUsingCalibratedRGB() : nullptr;
}

void readBool(const UserDefaults& defaults, std::string_view key, bool& into) {
    if (!defaults.objectForKey(key).isNull()) into = defaults.boolForKey(key);
}

void readDouble(const UserDefaults& defaults, std::string_view key, double& into) {
    if (!defaults.objectForKey(key).isNull()) into = defaults.doubleForKey(key);
}

}  // namespace

CueSequenceCompiler::Settings CueSequenceCompiler::Settings::current() {
    return fromUserDefaults(UserDefaults::standardUserDefaults(),
                            CueEnvironment::current().playbackStartPrerollShiftedBeats());
}

CueSequenceCompiler::Settings CueSequenceCompiler::Settings::fromUserDefaults(
    const UserDefaults& defaults, double playbackStartPrerollShiftedBeats) {
    Settings settings;
    readBool(defaults, "countoffDownbeatStreamerEnabled", settings.countoffDownbeatStreamerEnabled);
    settings.countoffDownbeatStreamerColor = colorDefault(defaults, "countoffDownbeatStreamerColor");
    readDouble(defaults, "countoffDownbeatStreamerLength", settings.countoffDownbeatStreamerLength);
    readBool(defaults, "countoffWarningStreamerEnabled", settings.countoffWarningStreamerEnabled);
    settings.countoffWarningStreamerColor = colorDefault(defaults, "countoffWarningStreamerColor");
    readDouble(defaults, "countoffWarningStreamerLength", settings.countoffWarningStreamerLength);
    readBool(defaults, "cueEndStreamerEnabled", settings.cueEndStreamerEnabled);
    readDouble(defaults, "cueEndStreamerLength", settings.cueEndStreamerLength);
    readDouble(defaults, "latencyCompensation", settings.latencyCompensation);
    readDouble(defaults, "latencyCompensationAudio", settings.latencyCompensationAudio);
    readBool(defaults, "debugAutoFollow", settings.debugAutoFollow);
    settings.playbackStartPrerollShiftedBeats = playbackStartPrerollShiftedBeats;
    return settings;
}

CueSequenceCompiler::CueSequenceCompiler(Cue& cue, Settings settings)
    : cue_(cue), settings_(std::move(settings)) {}

double CueSequenceCompiler::playbackRateForSetting(int32_t setting) {
    switch (setting) {
        case -1:
            return 1.0 / 1.001;
        case 1:
            return 1.001;
        default:
            return 1.0;
    }
}

std::shared_ptr<FFMusicSequence> CueSequenceCompiler::calculatedSequence() {
    auto store = std::make_shared<MusicSequence>();
    MusicSequence& sequence = *store;
    // Wrapped now (and only given its rate at the end) so that the click
    // setting at the playback start can be asked of this very sequence.
    std::shared_ptr<FFMusicSequence> wrapper = FFMusicSequence::sequenceWithMusicSequence(store);

    addInitialTempoAndMeter(sequence);
    addMeterChanges(sequence);
    updateBarLockedPositions(sequence);
    addTempoChanges(sequence);
    addTimecodeLockedTempoChanges(sequence);
    updateTimecodeLockedPositions(sequence);

    MusicTrack* visual = nullptr;
    if (const int status = sequence.newTrack(visual); status != kMusicSequenceNoErr || !visual) {
        TLLog("Unable to create visual event track in new sequence (error %ld).", code(status));
        return nullptr;
    }
    if (const int status =
            visual->newMetaEvent(0.0, kTrackNameMetaType, reinterpret_cast<const uint8_t*>(kVisualTrackName),
                                 sizeof kVisualTrackName - 1);
        status != kMusicSequenceNoErr) {
        TLLog("Warning: Unable to add name event to _visual track (error %ld).", code(status));
    }

    Target target(*visual, true);
    if (settings_.playbackStartPrerollShiftedBeats <= kCueStartBeats &&
        target.add(kCueStartBeats, UserEventRecord::cueStart()) != kMusicSequenceNoErr) {
        TLLog("Warning: Couldn't add cue start. Skipping.");
    }
    addTrackEvents(target, sequence);
    addCountoffs(target, sequence);
    const double warningStart = firstWarningBeat(sequence, wrapper);
    cue_.setRehearsalStartPrerollShiftedBeats(warningStart);
    addCountoffStreamers(target, sequence, warningStart);
    addCueEnd(target, sequence);
    target.flush();

    wrapper->setPlaybackRate(playbackRateForSetting(cue_.playbackRateSetting()));
    return wrapper;
}

void CueSequenceCompiler::addInitialTempoAndMeter(MusicSequence& sequence) const {
    MusicTrack& tempoTrack = sequence.tempoTrack();
    if (const int status = tempoTrack.newExtendedTempoEvent(0.0, 120.0); status != kMusicSequenceNoErr) {
        TLLog("Warning: Unable to add an initial 120bpm event (error %ld).", code(status));
    }
    const uint8_t fourFour[4] = {4, 2, 24, 8};
    if (const int status = tempoTrack.newMetaEvent(0.0, kTimeSignatureMetaType, fourFour, sizeof fourFour);
        status != kMusicSequenceNoErr) {
        TLLog("Warning: Unable to add an initial 4/4 event (error %ld).", code(status));
    }
}

void CueSequenceCompiler::addMeterChanges(MusicSequence& sequence) const {
    for (const std::shared_ptr<CueEvent>& event : cue_.meterEvents()) {
        const auto* meterChange = kindOf<CueEventMeterChange>(event.get());
        if (!meterChange) continue;
        // Always placed by bar, whatever the lock type.
        double beats = 0.0;
        if (!downbeatOfSequenceBar(sequence, meterChangeSequenceBar(meterChange->lockBar()), beats)) continue;
        const TimeSignature meter = meterChange->meter();
        const uint8_t data[4] = {static_cast<uint8_t>(meter.numerator), meterChange->midiDenominator(),
                                 static_cast<uint8_t>(meterChange->clocksPerClick()), 8};
        if (const int status =
                sequence.tempoTrack().newMetaEvent(beats, kTimeSignatureMetaType, data, sizeof data);
            status != kMusicSequenceNoErr) {
            TLLog("Warning: Unable to add %d/%d event at beat %0.1f (error %ld).", int{meter.numerator},
                  int{meter.denominator}, meterChange->lockPrerollShiftedBeats(), code(status));
        }
    }
}

void CueSequenceCompiler::updateBarLockedPositions(const MusicSequence& sequence) const {
    auto update = [&](const std::shared_ptr<CueEvent>& event) {
        if (!hasLockType(event, CueEvent::kLockTypeBar)) return;
        // A meter change's position is where its meter went, also when its
        // bar lies before the cue's first.
        const int64_t bar = kindOf<CueEventMeterChange>(event.get())
                                ? meterChangeSequenceBar(event->lockBar())
                                : sequenceBar(event->lockBar());
        double beats = 0.0;
        if (downbeatOfSequenceBar(sequence, bar, beats)) storeLockPosition(*event, beats);
    };
    for (const auto* list :
         {&cue_.tempoEvents(), &cue_.meterEvents(), &cue_.trackEvents(), &cue_.countoffEvents()}) {
        for (const std::shared_ptr<CueEvent>& event : *list) update(event);
    }
    update(cue_.cueEndEvent());
    update(cue_.cueStartEvent());
}

void CueSequenceCompiler::addTempoChanges(MusicSequence& sequence) const {
    for (const std::shared_ptr<CueEvent>& event : cue_.tempoEvents()) {
        const auto* tempoChange = kindOf<CueEventTempoChange>(event.get());
        if (!tempoChange || tempoChange->lockType() == CueEvent::kLockTypeTimecode) continue;
        double beats = tempoChange->lockPrerollShiftedBeats();
        if (tempoChange->lockType() == CueEvent::kLockTypeBar &&
            !downbeatOfSequenceBar(sequence, sequenceBar(tempoChange->lockBar()), beats)) {
            continue;
        }
        if (const int status =
                sequence.tempoTrack().newExtendedTempoEvent(beats, tempoChange->quarterNoteBPM());
            status != kMusicSequenceNoErr) {
            TLLog("Warning: Unable to add %0.1fbpm event at beat %0.1f (error %ld).", tempoChange->bpm(),
                  tempoChange->lockPrerollShiftedBeats(), code(status));
        }
    }
}

double CueSequenceCompiler::syncPointSeconds(const MusicSequence& sequence) const {
    double seconds = 0.0;
    if (const int status = sequence.secondsForBeats(cue_.syncPrerollShiftedBeats(), seconds);
        status != kMusicSequenceNoErr) {
        TLLog("Warning: Unable to find timing for sync point (error %ld).", code(status));
        return kFallbackSyncPointSeconds;
    }
    return seconds;
}

void CueSequenceCompiler::addTimecodeLockedTempoChanges(MusicSequence& sequence) const {
    std::vector<CueEvent*> locked;
    for (const std::shared_ptr<CueEvent>& event : cue_.tempoEvents()) {
        if (kindOf<CueEventTempoChange>(event.get()) && hasLockType(event, CueEvent::kLockTypeTimecode)) {
            locked.push_back(event.get());
        }
    }
    if (locked.empty()) return;
    const std::shared_ptr<EMTimecode> syncTimecode = cue_.syncTimecode();
    for (CueEvent* event : sortedByTimecode(std::move(locked))) {
        auto& tempoChange = static_cast<CueEventTempoChange&>(*event);
        // Asked again for each: a tempo change before the sync point moves it.
        const double syncSeconds = syncPointSeconds(sequence);
        double beats = 0.0;
        if (const int status =
                positionOfTimecode(sequence, syncTimecode.get(), tempoChange, syncSeconds, beats);
            status != kMusicSequenceNoErr) {
            TLLog("Warning: Unable to find timing for timecode-locked tempo event (error %ld).",
                  code(status));
            continue;
        }
        storeLockPosition(tempoChange, beats);
        if (beats < 0.0) {
            TLLog("Warning: Event at %s is before cue start. Skipping.",
                  tempoChange.lockTimecode()->description().c_str());
            continue;
        }
        if (const int status =
                sequence.tempoTrack().newExtendedTempoEvent(beats, tempoChange.quarterNoteBPM());
            status != kMusicSequenceNoErr) {
            TLLog("Warning: Unable to add %0.1fbpm event at beat %0.1f (error %ld).", tempoChange.bpm(),
                  tempoChange.lockPrerollShiftedBeats(), code(status));
        }
    }
}

void CueSequenceCompiler::updateTimecodeLockedPositions(const MusicSequence& sequence) const {
    std::vector<CueEvent*> locked;
    for (const std::shared_ptr<CueEvent>& event : cue_.trackEvents()) {
        if (hasLockType(event, CueEvent::kLockTypeTimecode)) locked.push_back(event.get());
    }
    if (hasLockType(cue_.cueEndEvent(), CueEvent::kLockTypeTimecode))
        locked.push_back(cue_.cueEndEvent().get());
    if (hasLockType(cue_.cueStartEvent(), CueEvent::kLockTypeTimecode)) {
        locked.push_back(cue_.cueStartEvent().get());
    }
    if (locked.empty()) return;
    const std::shared_ptr<EMTimecode> syncTimecode = cue_.syncTimecode();
    // The ADR/Foley cue counts its events from timecode zero.
    const double syncSeconds = cue_.isADRFoleyCue() ? 0.0 : syncPointSeconds(sequence);
    for (CueEvent* event : sortedByTimecode(std::move(locked))) {
        double beats = 0.0;
        if (const int status = positionOfTimecode(sequence, syncTimecode.get(), *event, syncSeconds, beats);
            status != kMusicSequenceNoErr) {
            TLLog("Warning: Unable to find timing for timecode-locked event (error %ld).", code(status));
            continue;
        }
        storeLockPosition(*event, beats);
    }
}

void CueSequenceCompiler::addTrackEvents(Target& target, MusicSequence& sequence) const {
    const double playbackStart = settings_.playbackStartPrerollShiftedBeats;
    for (const std::shared_ptr<CueEvent>& event : cue_.trackEvents()) {
        if (!event) continue;
        const double beats = event->lockPrerollShiftedBeats();
        if (!(beats >= playbackStart)) continue;
        if (const auto* streamer = kindOf<CueEventStreamer>(event.get())) {
            const RGB rgb = rgbOf(streamer->color());
            addStreamer(target, sequence, beats, rgb.red, rgb.green, rgb.blue,
                        secondsOfFeet(streamer->feet()));
        } else if (const auto* punch = kindOf<CueEventPunch>(event.get())) {
            const RGB rgb = rgbOf(punch->color());
            addPunch(target, sequence, beats, punch->holes(), rgb.red, rgb.green, rgb.blue);
        } else if (kindOf<CueEventSoundCue>(event.get())) {
            addSoundCue(target, sequence, *event);
        }
    }
}

void CueSequenceCompiler::addSoundCue(Target& target, MusicSequence& sequence, const CueEvent& event) const {
    const auto& soundCue = static_cast<const CueEventSoundCue&>(event);
    if (!soundCue.enabled()) return;
    const double beats = soundCue.lockPrerollShiftedBeats();
    addReelMute(target, beats);
    double streamerStart = beats;
    if (soundCue.streamerEnabled()) {
        const RGB rgb = rgbOf(soundCue.streamerColor());
        streamerStart = addStreamer(target, sequence, beats, rgb.red, rgb.green, rgb.blue,
                                    secondsOfFeet(soundCue.streamerFeet()));
    }
    double beepsStart = beats;
    if (soundCue.beepsEnabled()) {
        beepsStart = addBeeps(target, sequence, beats, soundCue.beepsCount(),
                              static_cast<float>(soundCue.beepsSeconds()), soundCue.punchOnEachBeep(),
                              soundCue.beepOnCuePoint());
    }
    // The overlay text appears with whichever warning comes first.
    addTextChange(target, std::min(streamerStart, beepsStart), soundCue.text());
}

void CueSequenceCompiler::addCountoffs(Target& target, MusicSequence& sequence) const {
    for (const std::shared_ptr<CueEvent>& event : cue_.countoffEvents()) {
        const auto* countoff = kindOf<CueEventCountoff>(event.get());
        if (!countoff) continue;
        const double beats = countoff->lockPrerollShiftedBeats();
        if (countoff->streamerIntoLockTime()) {
            const RGB rgb = rgbOf(countoff->streamerColorIntoLockTime());
            addStreamer(target, sequence, beats, rgb.red, rgb.green, rgb.blue,
                        secondsOfFeet(settings_.countoffDownbeatStreamerLength));
        }
        if (!countoff->streamerIntoFirstBeat()) continue;

        // Stepping back one click at a time is stepping back all of them at
        // once: each step is the same number of seconds.
        double lockSeconds = 0.0;
        double clickEndSeconds = 0.0;
        double firstClick = beats;
        int status = sequence.secondsForBeats(beats, lockSeconds);
        if (status == kMusicSequenceNoErr) {
            status = sequence.secondsForBeats(
                beats + NoteDuration::quarterNotes(countoff->countoffNoteDuration()), clickEndSeconds);
        }
        if (status == kMusicSequenceNoErr && countoff->countoffBeats() > 0) {
            const double clickSeconds = clickEndSeconds - lockSeconds;
            status =
                sequence.beatsForSeconds(lockSeconds - countoff->countoffBeats() * clickSeconds, firstClick);
        }
        if (status != kMusicSequenceNoErr) {
            TLLog("Warning: Unable to find timing for countoff (error %ld). Skipping.", code(status));
            continue;
        }
        const RGB rgb = rgbOf(countoff->streamerColorIntoFirstBeat());
        addStreamer(target, sequence, firstClick, rgb.red, rgb.green, rgb.blue,
                    secondsOfFeet(settings_.countoffWarningStreamerLength));
    }
}

double CueSequenceCompiler::firstWarningBeat(const MusicSequence& sequence,
                                             const std::shared_ptr<FFMusicSequence>& wrapper) const {
    const double playbackStart = settings_.playbackStartPrerollShiftedBeats;
    double interval = NoteDuration::quarterNotes(cue_.warningBeatNoteDuration());
    if (cue_.warningBeatNoteDuration() == NoteDuration::kSameAsClick) {
        const CueTimingMap map(wrapper, CueTimingMap::meterRecordsOf(cue_.meterEvents()), {},
                               cue_.lengthInBeats());
        const CueTimingMap::ClickSetting setting = map.clickSettingForPrerollShiftedBeats(playbackStart);
        if (const auto* number = std::get_if<double>(&setting)) {
            interval = *number;
        } else if (const auto* pattern = std::get_if<ClickPattern>(&setting)) {
            interval = pattern->baseDuration;
        } else {
            interval = 1.0;
        }
    }

    double startSeconds = 0.0;
    double nextBeatSeconds = 0.0;
    double firstWarning = playbackStart;
    int status = sequence.secondsForBeats(playbackStart, startSeconds);
    if (status == kMusicSequenceNoErr)
        status = sequence.secondsForBeats(playbackStart + 1.0, nextBeatSeconds);
    if (status == kMusicSequenceNoErr) {
        const double beatSeconds = nextBeatSeconds - startSeconds;
        status = sequence.beatsForSeconds(startSeconds - beatSeconds * cue_.warningBeats() * interval,
                                          firstWarning);
    }
    if (status != kMusicSequenceNoErr) {
        TLLog("Warning: Unable to find timing for warning beats (error %ld).", code(status));
        return playbackStart;
    }
    return firstWarning;
}

void CueSequenceCompiler::addCountoffStreamers(Target& target, MusicSequence& sequence,
                                               double firstWarningBeat) const {
    if (cue_.warningBeats() == 0) return;
    const double playbackStart = settings_.playbackStartPrerollShiftedBeats;
    double rehearsalStart = firstWarningBeat;
    if (settings_.countoffDownbeatStreamerEnabled) {
        double beats = playbackStart;
        if (const std::shared_ptr<CueEventMusicIn> musicIn = cue_.cueStartEvent();
            musicIn && musicIn->lockPrerollShiftedBeats() >= playbackStart) {
            beats = musicIn->lockPrerollShiftedBeats();
        }
        const RGB rgb = rgbOf(settings_.countoffDownbeatStreamerColor, RGB{0.0f, 1.0f, 0.0f});
        const double start = addStreamer(target, sequence, beats, rgb.red, rgb.green, rgb.blue,
                                         secondsOfFeet(settings_.countoffDownbeatStreamerLength));
        rehearsalStart = std::min(rehearsalStart, start);
    }
    if (settings_.countoffWarningStreamerEnabled) {
        const RGB rgb = rgbOf(settings_.countoffWarningStreamerColor, RGB{1.0f, 1.0f, 0.0f});
        const double start = addStreamer(target, sequence, firstWarningBeat, rgb.red, rgb.green, rgb.blue,
                                         secondsOfFeet(settings_.countoffWarningStreamerLength));
        rehearsalStart = std::min(rehearsalStart, start);
    }
    cue_.setRehearsalStartPrerollShiftedBeats(rehearsalStart);
}

void CueSequenceCompiler::addCueEnd(Target& target, MusicSequence& sequence) const {
    const std::shared_ptr<CueEventCueEnd> cueEnd = cue_.cueEndEvent();
    if (!cueEnd) return;
    const double beats = cueEnd->lockPrerollShiftedBeats();
    if (settings_.cueEndStreamerEnabled) {
        const RGB rgb = rgbOf(cueEnd->streamerColor(), RGB{1.0f, 0.0f, 0.0f});
        addStreamer(target, sequence, beats, rgb.red, rgb.green, rgb.blue,
                    secondsOfFeet(settings_.cueEndStreamerLength));
    }
    if (cueEnd->autoFollow() && !cueEnd->autoFollowCueNumber().empty()) {
        addCueChange(target, beats, cueEnd->autoFollowCueNumber());
    }
}

int CueSequenceCompiler::Target::add(double beats, const std::vector<uint8_t>& block) {
    if (!collect_) return track_.newUserEvent(beats, block.data());
    // A block built here always has its layout; the time is all the track
    // could refuse.
    if (!std::isfinite(beats)) return kMusicSequenceError_InvalidArgument;
    pending_.push_back(MusicEventData::user(beats, block.data() + sizeof(uint32_t),
                                            static_cast<uint32_t>(block.size() - sizeof(uint32_t))));
    return kMusicSequenceNoErr;
}

void CueSequenceCompiler::Target::flush() {
    if (pending_.empty()) return;
    if (const int status = track_.addEvents(std::move(pending_)); status != kMusicSequenceNoErr) {
        TLLog("Warning: Unable to add user events to _visual track (error %ld). Skipping.", code(status));
    }
    pending_.clear();
}

double CueSequenceCompiler::addStreamerToTrack(MusicTrack& track, MusicSequence& sequence, double beats,
                                               float red, float green, float blue, float seconds) {
    Target target(track);
    return addStreamer(target, sequence, beats, red, green, blue, seconds);
}

void CueSequenceCompiler::addPunchToTrack(MusicTrack& track, MusicSequence& sequence, double beats,
                                          int32_t count, float red, float green, float blue) {
    Target target(track);
    addPunch(target, sequence, beats, count, red, green, blue);
}

double CueSequenceCompiler::addBeepsToTrack(MusicTrack& track, MusicSequence& sequence, double beats,
                                            int32_t beepCount, float totalDuration, bool punches,
                                            bool final) const {
    Target target(track);
    return addBeeps(target, sequence, beats, beepCount, totalDuration, punches, final);
}

void CueSequenceCompiler::addTextChangeToTrack(MusicTrack& track, MusicSequence& /*sequence*/, double beats,
                                               const std::string& text) {
    Target target(track);
    addTextChange(target, beats, text);
}

void CueSequenceCompiler::addReelMuteToTrack(MusicTrack& track, MusicSequence& /*sequence*/, double beats) {
    Target target(track);
    addReelMute(target, beats);
}

void CueSequenceCompiler::addCueChangeToTrack(MusicTrack& track, MusicSequence& /*sequence*/, double beats,
                                              const std::string& cueNumber) const {
    Target target(track);
    addCueChange(target, beats, cueNumber);
}

double CueSequenceCompiler::addStreamer(Target& target, MusicSequence& sequence, double beats, float red,
                                        float green, float blue, float seconds) {
    double endSeconds = 0.0;
    if (const int status = sequence.secondsForBeats(beats, endSeconds); status != kMusicSequenceNoErr) {
        TLLog("Couldn't get time in seconds for streamer calculation (error %ld/0x%lx). Skipping.",
              code(status), hex(status));
        return beats;
    }
    double start = 0.0;
    if (const int status = sequence.beatsForSeconds(endSeconds - seconds, start);
        status != kMusicSequenceNoErr) {
        TLLog("Couldn't get shifted time in beats for streamer calculation (error %ld/0x%lx). Skipping.",
              code(status), hex(status));
        return beats;
    }
    const std::vector<uint8_t> block = UserEventRecord::streamer({red, green, blue, seconds});
    if (const int status = target.add(start, block); status != kMusicSequenceNoErr) {
        TLLog("Couldn't add streamer to visual track (error %ld/0x%lx). Skipping.", code(status),
              hex(status));
    }
    return start;
}

void CueSequenceCompiler::addPunch(Target& target, MusicSequence& sequence, double beats, int32_t count,
                                   float red, float green, float blue) {
    double seconds = 0.0;
    if (sequence.secondsForBeats(beats, seconds) != kMusicSequenceNoErr) {
        TLLog("Warning: Couldn't get time of punch in seconds. Skipping.");
        return;
    }
    // A punch of several holes flashes them a thirtieth of a second apart,
    // the last on the position.
    seconds -= (static_cast<double>(count) - 1.0) / 30.0;
    if (seconds < 0.0) {
        TLLog(
            "Warning: Couldn't shift punch because it would end up before beginning of sequence. Skipping.");
        return;
    }
    double start = 0.0;
    if (sequence.beatsForSeconds(seconds, start) != kMusicSequenceNoErr) {
        TLLog("Warning: Couldn't get shifted punch time in seconds. Skipping.");
        return;
    }
    const auto holes =
        static_cast<uint16_t>(std::clamp<int32_t>(count, 0, std::numeric_limits<uint16_t>::max()));
    const std::vector<uint8_t> block = UserEventRecord::punch({red, green, blue, holes});
    if (target.add(start, block) != kMusicSequenceNoErr) {
        TLLog("Warning: Couldn't add punch to track. Skipping.");
    }
}

double CueSequenceCompiler::addBeeps(Target& target, MusicSequence& sequence, double beats, int32_t beepCount,
                                     float totalDuration, bool punches, bool final) const {
    const double latencyOffset = settings_.latencyCompensationAudio - settings_.latencyCompensation;
    double seconds = 0.0;
    double start = beats;
    int status = sequence.secondsForBeats(beats, seconds);
    if (status == kMusicSequenceNoErr) {
        status =
            sequence.beatsForSeconds(seconds - (static_cast<double>(totalDuration) + latencyOffset), start);
    }
    if (status != kMusicSequenceNoErr) {
        TLLog("Warning: Couldn't add go beats to track. Skipping.");
        return beats;
    }
    // A beep on the cue point itself is one more at the same spacing; with no
    // beeps before it there is no spacing to keep, and it stays one beep.
    const auto count = static_cast<uint32_t>(std::max(beepCount, 0));
    UserEventRecord::Beeps beeps{count, totalDuration, punches};
    if (final) {
        beeps.count = count + 1;
        if (count > 0) beeps.seconds = static_cast<float>(totalDuration * (count + 1.0) / count);
    }
    if (target.add(start, UserEventRecord::beeps(beeps)) != kMusicSequenceNoErr) {
        TLLog("Warning: Couldn't add go beats to track. Skipping.");
    }
    return start;
}

void CueSequenceCompiler::addTextChange(Target& target, double beats, const std::string& text) {
    if (text.empty()) return;
    if (target.add(beats, UserEventRecord::textChange(text)) != kMusicSequenceNoErr) {
        TLLog("Warning: Couldn't add text change for sound cue. Skipping.");
    }
}

void CueSequenceCompiler::addReelMute(Target& target, double beats) {
    if (const int status = target.add(beats, UserEventRecord::reelMute()); status != kMusicSequenceNoErr) {
        TLLog("Couldn't add reel mute to visual track (error %ld/0x%lx). Skipping.", code(status),
              hex(status));
    }
}

void CueSequenceCompiler::addCueChange(Target& target, double beats, const std::string& cueNumber) const {
    if (settings_.debugAutoFollow) TLLog("Add cue change %s", cueNumber.c_str());
    const Document* document = cue_.document();
    const std::vector<uint8_t> block =
        UserEventRecord::cueChange(document ? document->documentHandle() : 0, cueNumber);
    if (const int status = target.add(beats, block); status != kMusicSequenceNoErr) {
        TLLog("Couldn't add cue change (error %ld/0x%lx). Skipping.", code(status), hex(status));
    }
}

}  // namespace tollvane
