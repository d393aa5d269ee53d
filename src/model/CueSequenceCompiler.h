#pragma once

// Compiles a cue into its music sequence: a tempo track with the cue's tempo
// and meter map behind 32 bars of 4/4 at 120 bpm, and a "_visual" track of
// user events (UserEventRecord) for everything that must happen on screen or
// in the audio at a given moment. Compilation also writes back into the
// cue's events: bar- and timecode-locked positions recomputed from the map
// being built, and the cue's rehearsal start.
//
// Every conversion inside a compilation uses the sequence being built, so
// each step sees exactly the tempo and meter events added before it. A
// failure logs its message and skips only the item concerned; only failing
// to create the sequence, its tempo track or the "_visual" track makes the
// compilation answer null.
//
// Threads: main thread (it reads and writes the cue's events).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/archive/Color.h"
#include "playback/sequence/MusicEventData.h"

namespace tollvane {

class Cue;
class CueEvent;
class FFMusicSequence;
class MusicSequence;
class MusicTrack;
class UserDefaults;

class CueSequenceCompiler {
public:
    // The user defaults a compilation reads, and the transport's playback
    // start, taken once per compilation.
    struct Settings {
        bool countoffDownbeatStreamerEnabled = false;
        std::shared_ptr<Color> countoffDownbeatStreamerColor;  // green when unset
        double countoffDownbeatStreamerLength = 3.0;
        bool countoffWarningStreamerEnabled = false;
        std::shared_ptr<Color> countoffWarningStreamerColor;  // yellow when unset
        double countoffWarningStreamerLength = 3.0;
        bool cueEndStreamerEnabled = false;
        double cueEndStreamerLength = 3.0;
        double latencyCompensation = 0.0;
        double latencyCompensationAudio = 0.0;
        bool debugAutoFollow = false;
        double playbackStartPrerollShiftedBeats = 128.0;

        // From the user defaults and the installed CueEnvironment.
        static Settings current();
        static Settings fromUserDefaults(const UserDefaults& defaults,
                                         double playbackStartPrerollShiftedBeats);
    };

    CueSequenceCompiler(Cue& cue, Settings settings);

    // calculatedSequence: compiles and answers a new sequence (its playback
    // rate set from the cue's playbackRateSetting), or null.
    std::shared_ptr<FFMusicSequence> calculatedSequence();

    // The playback rate of a playbackRateSetting: -1 gives 1/1.001, 1 gives
    // 1.001, anything else 1.0.
    static double playbackRateForSetting(int32_t setting);

    // The adders of the "_visual" track. Positions are in beats of `sequence`.
    // The start position of the streamer (which ends at `beats`); `beats`
    // itself when a conversion fails.
    static double addStreamerToTrack(MusicTrack& track, MusicSequence& sequence, double beats, float red,
                                     float green, float blue, float seconds);
    static void addPunchToTrack(MusicTrack& track, MusicSequence& sequence, double beats, int32_t count,
                                float red, float green, float blue);
    // The position of the first beep.
    double addBeepsToTrack(MusicTrack& track, MusicSequence& sequence, double beats, int32_t beepCount,
                           float totalDuration, bool punches, bool final) const;
    static void addTextChangeToTrack(MusicTrack& track, MusicSequence& sequence, double beats,
                                     const std::string& text);
    static void addReelMuteToTrack(MusicTrack& track, MusicSequence& sequence, double beats);
    void addCueChangeToTrack(MusicTrack& track, MusicSequence& sequence, double beats,
                             const std::string& cueNumber) const;

private:
    // Where the adders put their blocks: straight onto a track, or, while
    // compiling, into a list that joins the track in one merge at the end.
    // The track comes out the same (events at one time keep the order they
    // were added in), but a block placed before earlier ones (a count-off's
    // streamers after every track event) no longer moves all of them.
    class Target {
    public:
        explicit Target(MusicTrack& track, bool collect = false) : track_(track), collect_(collect) {}
        // The status the track gives the block (or, collecting, would give it).
        int add(double beats, const std::vector<uint8_t>& block);
        // Puts the collected blocks onto the track.
        void flush();

    private:
        MusicTrack& track_;
        bool collect_;
        std::vector<MusicEventData> pending_;
    };

    static double addStreamer(Target& target, MusicSequence& sequence, double beats, float red, float green,
                              float blue, float seconds);
    static void addPunch(Target& target, MusicSequence& sequence, double beats, int32_t count, float red,
                         float green, float blue);
    double addBeeps(Target& target, MusicSequence& sequence, double beats, int32_t beepCount,
                    float totalDuration, bool punches, bool final) const;
    static void addTextChange(Target& target, double beats, const std::string& text);
    static void addReelMute(Target& target, double beats);
    void addCueChange(Target& target, double beats, const std::string& cueNumber) const;

    // The steps of calculatedSequence, in order; each logs and skips only
    // the item concerned.
    void addInitialTempoAndMeter(MusicSequence& sequence) const;
    void addMeterChanges(MusicSequence& sequence) const;
    void updateBarLockedPositions(const MusicSequence& sequence) const;
    void addTempoChanges(MusicSequence& sequence) const;
    void addTimecodeLockedTempoChanges(MusicSequence& sequence) const;
    void updateTimecodeLockedPositions(const MusicSequence& sequence) const;
    void addTrackEvents(Target& target, MusicSequence& sequence) const;
    void addSoundCue(Target& target, MusicSequence& sequence, const CueEvent& event) const;
    void addCountoffs(Target& target, MusicSequence& sequence) const;
    // The first warning beat (the rehearsal start before the streamers).
    double firstWarningBeat(const MusicSequence& sequence,
                            const std::shared_ptr<FFMusicSequence>& wrapper) const;
    void addCountoffStreamers(Target& target, MusicSequence& sequence, double firstWarningBeat) const;
    void addCueEnd(Target& target, MusicSequence& sequence) const;
    // Seconds of the sync position in the map so far; 64.0 (after a warning)
    // when the lookup fails.
    double syncPointSeconds(const MusicSequence& sequence) const;

    Cue& cue_;
    Settings settings_;
};

}  // namespace tollvane
