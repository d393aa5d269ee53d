#pragma once

// A music sequence: the store's MusicSequence (owned, shared with the players
// that play it), its tracks as FFMusicTrack wrappers, the user-event
// destination that receives its user events during playback, and the
// playback rate applied to every beats/seconds conversion. Archived as the
// Standard MIDI File bytes of the sequence (class "FFMusicSequence", key
// "FFMusicSequenceSMFData"); user events are not carried by that format.
//
// Always held by a shared_ptr (made only through the class operations), so
// that a player can keep it alive.
//
// Threads: the conversions (secondsForBeats, beatsForSeconds,
// barBeatTimeForBeats, beatsForBarBeatTime, beatsForBarNumber,
// timeSignatureOfBar, lengthInBeats, lengthInSeconds) and playbackRate /
// setPlaybackRate may be called from any thread (the sync thread converts
// while the main thread builds); the rate is read and written atomically.
// Everything else, including setMusicSequence, on the main thread. No member
// takes a lock of its own; none is real-time safe.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/archive/Archivable.h"
#include "platform/archive/Value.h"
#include "playback/FFMusicTrack.h"
#include "playback/FFMusicUserEventDestination.h"
#include "playback/sequence/BarBeatTime.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {

class FFMusicPlayer;
class KeyedUnarchiver;

class FFMusicSequence : public Archivable, public std::enable_shared_from_this<FFMusicSequence> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    static constexpr const char* kSMFDataKey = "FFMusicSequenceSMFData";

    // Use the class operations below.
    FFMusicSequence(Passkey, std::shared_ptr<MusicSequence> sequence);
    ~FFMusicSequence() override;

    // Wraps a store sequence (ownership passes; null makes a wrapper without one).
    static std::shared_ptr<FFMusicSequence> sequenceWithMusicSequence(
        std::shared_ptr<MusicSequence> sequence);
    // Null for an empty path or a file that cannot be loaded (one log line).
    static std::shared_ptr<FFMusicSequence> sequenceWithContentsOfFile(const std::string& path);
    // An alias is given by its full path.
    static std::shared_ptr<FFMusicSequence> sequenceWithContentsAtAlias(const std::string& path);
    // One empty track and a tempo of 120 at beat 0.
    static std::shared_ptr<FFMusicSequence> sequenceWithEmptySequence();
    // True when the file's first four bytes are "MThd".
    static bool isPathForMIDIFile(const std::string& path);

    std::shared_ptr<MusicSequence> musicSequence() const { return sequence_; }
    // Drops the old store sequence (players still playing it keep it alive),
    // forgets the cached track wrappers, and installs the playback rate and the
    // user-event destination on the new one.
    void setMusicSequence(std::shared_ptr<MusicSequence> sequence);

    // The Standard MIDI File bytes at 480 ticks per quarter note; empty after
    // a log line on failure.
    Data smfData() const;

    double lengthInBeats() const;
    double lengthInSeconds() const;
    // Negative beats answer 0; otherwise the store's seconds divided by the
    // playback rate.
    double secondsForBeats(double beats) const;
    // The seconds times the playback rate; a negative product answers 0.
    double beatsForSeconds(double seconds) const;
    // 480 subbeats to the beat; zeros after a log line on failure.
    BarBeatTime barBeatTimeForBeats(double beats) const;
    double beatsForBarBeatTime(const BarBeatTime& time) const;
    // The beats of that bar and beat, subbeat 0 (divisor 24).
    double beatsForBarNumber(int32_t bar, uint16_t beatNumber) const;
    // 0/4 for bars below 1; otherwise the meter in force where the bar starts
    // (4/4 when none).
    TimeSignature timeSignatureOfBar(int32_t bar) const;

    // An extended tempo event on the tempo track.
    bool addTempoChange(double bpm, double timeStamp);
    // Does nothing and answers true.
    bool insertPrerollBars(uint32_t count);

    // Track wrappers, cached (and rebuilt when the store's track list changed).
    std::vector<std::shared_ptr<FFMusicTrack>> allTracks();
    std::vector<std::shared_ptr<FFMusicTrack>> allTracksExceptTempoTrack();
    std::vector<std::shared_ptr<FFMusicTrack>> allTracksIncludingTempoTrack();
    // A new wrapper; null after a log line.
    std::shared_ptr<FFMusicTrack> trackAtIndex(uint32_t index) const;
    std::shared_ptr<FFMusicTrack> tempoTrack();
    bool checkIfTempoTrack(const FFMusicTrack& track) const;

    // A new player on this sequence, owned by the caller; null (after a log
    // line) without a store sequence.
    std::unique_ptr<FFMusicPlayer> newPlayer();

    // Not retained: the destination must outlive every player of this sequence.
    void setUserEventDestination(FFMusicUserEventDestination* destination);
    FFMusicUserEventDestination* userEventDestination() const { return target_; }
    // Holds the destination under "target".
    const std::map<std::string, FFMusicUserEventDestination*>& callbackUserInfo() const {
        return callbackUserInfo_;
    }

    uint32_t midiDestination() const { return endpt_; }
    void setMidiDestination(uint32_t endpoint);
    AUGraphHandle AUGraph() const;
    void setAUGraph(AUGraphHandle graph);
    double playbackRate() const { return playbackRate_.load(std::memory_order_acquire); }
    // A rate that is not finite and positive is refused with a log line.
    void setPlaybackRate(double rate);

    // "FFMusicSequence - tracks: <all tracks including the tempo track>".
    std::string description();

    // copyWithZone: logs a warning, copies through the file format, then adds
    // every user event of the receiver to the copy's last track (a new one
    // when the copy has none). On failure: an empty sequence. The copy has
    // the receiver's playback rate and no destination.
    std::shared_ptr<FFMusicSequence> copy();

    // Archiving under the class name "FFMusicSequence".
    std::string archiveClassName() const override { return "FFMusicSequence"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    // Null (after a log line) when the bytes do not load.
    static std::shared_ptr<FFMusicSequence> decodeWithCoder(KeyedUnarchiver& coder);
    // Registers the decoding factory with ArchiveClassRegistry (repeated calls
    // do nothing).
    static void registerArchiveClass();

private:
    void installUserCallback();
    bool tracksAreCurrent() const;

    std::shared_ptr<MusicSequence> sequence_;
    std::vector<std::shared_ptr<FFMusicTrack>> tracks_;
    std::shared_ptr<FFMusicTrack> tempoTrack_;
    FFMusicUserEventDestination* target_ = nullptr;
    std::map<std::string, FFMusicUserEventDestination*> callbackUserInfo_;
    uint32_t endpt_ = 0;
    std::atomic<double> playbackRate_{1.0};
};

}  // namespace tollvane
