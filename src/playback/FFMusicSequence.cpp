#include "playback/FFMusicSequence.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>

#include "platform/Log.h"
#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/FFMusicPlayer.h"
#include "playback/sequence/StandardMIDIFileReader.h"
#include "playback/sequence/StandardMIDIFileWriter.h"

namespace tollvane {

namespace {

constexpr uint16_t kBarBeatSubbeatDivisor = 480;
constexpr uint16_t kBarNumberSubbeatDivisor = 24;

}  // namespace

FFMusicSequence::FFMusicSequence(Passkey, std::shared_ptr<MusicSequence> sequence)
    : sequence_(std::move(sequence)) {
    if (sequence_) sequence_->setPlaybackRate(playbackRate());
}

FFMusicSequence::~FFMusicSequence() {
    // The store may outlive this wrapper inside a player; it must not call a
    // destination that was installed through it.
    if (sequence_ && target_ != nullptr) sequence_->setUserCallback(nullptr);
}

std::shared_ptr<FFMusicSequence> FFMusicSequence::sequenceWithMusicSequence(
    std::shared_ptr<MusicSequence> sequence) {
    return std::make_shared<FFMusicSequence>(Passkey{}, std::move(sequence));
}

std::shared_ptr<FFMusicSequence> FFMusicSequence::sequenceWithContentsOfFile(const std::string& path) {
    if (path.empty()) return nullptr;
    auto sequence = std::make_shared<MusicSequence>();
    if (const int status = StandardMIDIFileReader::readFile(path, *sequence); status != kMusicSequenceNoErr) {
        TLLog("Error: FFMusicSequence couldn't load MIDI data (error %ld).", static_cast<long>(status));
        return nullptr;
    }
    return sequenceWithMusicSequence(std::move(sequence));
}

std::shared_ptr<FFMusicSequence> FFMusicSequence::sequenceWithContentsAtAlias(const std::string& path) {
    return sequenceWithContentsOfFile(path);
}

std::shared_ptr<FFMusicSequence> FFMusicSequence::sequenceWithEmptySequence() {
    TLLog("creating empty sequence...");
    auto sequence = std::make_shared<MusicSequence>();
    MusicTrack* track = nullptr;
    if (const int status = sequence->newTrack(track); status != kMusicSequenceNoErr) {
        TLLog("Unable to add a dummy track to the sequence (error %d).", status);
        return nullptr;
    }
    if (const int status = sequence->tempoTrack().newExtendedTempoEvent(0.0, TempoMap::kDefaultBPM);
        status != kMusicSequenceNoErr) {
        TLLog("Unable to create empty sequence (error %d).", status);
        return nullptr;
    }
    TLLog("done");
    return sequenceWithMusicSequence(std::move(sequence));
}

bool FFMusicSequence::isPathForMIDIFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char magic[4] = {};
    return file.read(magic, sizeof magic) && std::memcmp(magic, "MThd", sizeof magic) == 0;
}

void FFMusicSequence::setMusicSequence(std::shared_ptr<MusicSequence> sequence) {
    if (sequence_ && target_ != nullptr) sequence_->setUserCallback(nullptr);
    sequence_ = std::move(sequence);
    tracks_.clear();
    tempoTrack_.reset();
    if (sequence_) sequence_->setPlaybackRate(playbackRate());
    installUserCallback();
}

Data FFMusicSequence::smfData() const {
    Data bytes;
    const int status =
        sequence_ ? StandardMIDIFileWriter::write(*sequence_, bytes) : kMusicSequenceError_InvalidArgument;
    if (status != kMusicSequenceNoErr) {
        TLLog("Error: FFMusicSequence couldn't save MIDI data (error %ld).", static_cast<long>(status));
        return {};
    }
    return bytes;
}

double FFMusicSequence::lengthInBeats() const {
    if (!sequence_) {
        TLLog("FFMusicSequence tried to get length with no tempo track in place.");
        return 0.0;
    }
    return sequence_->lengthInBeats();
}

double FFMusicSequence::lengthInSeconds() const {
    return secondsForBeats(lengthInBeats());
}

double FFMusicSequence::secondsForBeats(double beats) const {
    if (beats < 0.0) return 0.0;
    if (!sequence_) {
        TLLog("FFMusicSequence tried to get seconds for beats with no sequence in place.");
        return 0.0;
    }
    double seconds = 0.0;
    if (const int status = sequence_->secondsForBeats(beats, seconds); status != kMusicSequenceNoErr) {
        TLLog("Unable to get seconds for %f beats (Error %d).", beats, status);
        return 0.0;
    }
    return seconds / playbackRate();
}

double FFMusicSequence::beatsForSeconds(double seconds) const {
    const double scaled = seconds * playbackRate();
    if (scaled < 0.0) return 0.0;
    double beats = 0.0;
    const int status =
        sequence_ ? sequence_->beatsForSeconds(scaled, beats) : kMusicSequenceError_InvalidArgument;
    if (status != kMusicSequenceNoErr) {
        TLLog("Unable to get beats for seconds (Error %d, seconds = %f).", status, scaled);
        return 0.0;
    }
    return beats;
}

BarBeatTime FFMusicSequence::barBeatTimeForBeats(double beats) const {
    BarBeatTime time;
    const int status = sequence_ ? sequence_->beatsToBarBeatTime(beats, kBarBeatSubbeatDivisor, time)
                                 : kMusicSequenceError_InvalidArgument;
    if (status != kMusicSequenceNoErr) {
        TLLog("Unable to convert beats (%0.04f) into bar-beat time (Error %d).", beats, status);
        return BarBeatTime{};
    }
    return time;
}

double FFMusicSequence::beatsForBarBeatTime(const BarBeatTime& time) const {
    double beats = 0.0;
    const int status =
        sequence_ ? sequence_->barBeatTimeToBeats(time, beats) : kMusicSequenceError_InvalidArgument;
    if (status != kMusicSequenceNoErr) {
        TLLog("Unable to convert bar-beat time into beats (Error %d).", status);
        return 0.0;
    }
    return beats;
}

double FFMusicSequence::beatsForBarNumber(int32_t bar, uint16_t beatNumber) const {
    BarBeatTime time;
    time.bar = bar;
    time.beat = beatNumber;
    time.subbeat = 0;
    time.subbeatDivisor = kBarNumberSubbeatDivisor;
    return beatsForBarBeatTime(time);
}

TimeSignature FFMusicSequence::timeSignatureOfBar(int32_t bar) const {
    if (bar < 1) return TimeSignature{0, 4};
    const double start = beatsForBarNumber(bar, 1);
    if (!sequence_) return TimeSignature{};
    return sequence_->tempoMap()->timeSignatureAtBeat(start);
}

bool FFMusicSequence::addTempoChange(double bpm, double timeStamp) {
    if (!sequence_) {
        TLLog("Couldn't get tempo track to add tempo change (error: %d)",
              kMusicSequenceError_InvalidArgument);
        return false;
    }
    if (const int status = sequence_->tempoTrack().newExtendedTempoEvent(timeStamp, bpm);
        status != kMusicSequenceNoErr) {
        TLLog("Couldn't add tempo change to sequence (error: %d)", status);
        return false;
    }
    return true;
}

bool FFMusicSequence::insertPrerollBars(uint32_t) {
    return true;
}

bool FFMusicSequence::tracksAreCurrent() const {
    if (!sequence_) return false;
    if (tracks_.size() != sequence_->trackCount()) return false;
    for (uint32_t i = 0; i < tracks_.size(); ++i) {
        MusicTrack* track = nullptr;
        if (sequence_->trackAtIndex(i, track) != kMusicSequenceNoErr || track != tracks_[i]->musicTrack()) {
            return false;
        }
    }
    return true;
}

std::vector<std::shared_ptr<FFMusicTrack>> FFMusicSequence::allTracks() {
    if (tracksAreCurrent()) return tracks_;
    tracks_.clear();
    if (!sequence_) {
        TLLog("Unable to get track count from sequence (Error %d).", kMusicSequenceError_InvalidArgument);
        return tracks_;
    }
    const uint32_t count = sequence_->trackCount();
    for (uint32_t i = 0; i < count; ++i) {
        MusicTrack* track = nullptr;
        if (sequence_->trackAtIndex(i, track) == kMusicSequenceNoErr) {
            tracks_.push_back(FFMusicTrack::trackWithMusicTrack(track));
        }
    }
    return tracks_;
}

std::vector<std::shared_ptr<FFMusicTrack>> FFMusicSequence::allTracksExceptTempoTrack() {
    std::vector<std::shared_ptr<FFMusicTrack>> tracks = allTracks();
    uint32_t index = 0;
    if (sequence_ && sequence_->trackIndex(&sequence_->tempoTrack(), index) == kMusicSequenceNoErr &&
        index < tracks.size()) {
        TLLog("removing tempo track (index %d)", static_cast<int>(index));
        tracks.erase(tracks.begin() + index);
    }
    return tracks;
}

std::vector<std::shared_ptr<FFMusicTrack>> FFMusicSequence::allTracksIncludingTempoTrack() {
    std::vector<std::shared_ptr<FFMusicTrack>> tracks = allTracksExceptTempoTrack();
    if (auto tempo = tempoTrack()) tracks.push_back(std::move(tempo));
    return tracks;
}

std::shared_ptr<FFMusicTrack> FFMusicSequence::trackAtIndex(uint32_t index) const {
    MusicTrack* track = nullptr;
    const int status =
        sequence_ ? sequence_->trackAtIndex(index, track) : kMusicSequenceError_InvalidArgument;
    if (status != kMusicSequenceNoErr) {
        TLLog("Unable to get track from sequence (Error %d).", status);
        return nullptr;
    }
    return FFMusicTrack::trackWithMusicTrack(track);
}

std::shared_ptr<FFMusicTrack> FFMusicSequence::tempoTrack() {
    if (tempoTrack_) return tempoTrack_;
    if (!sequence_) {
        TLLog("Unable to get tempo track from sequence (Error %d).", kMusicSequenceError_InvalidArgument);
        return nullptr;
    }
    tempoTrack_ = FFMusicTrack::trackWithMusicTrack(&sequence_->tempoTrack());
    return tempoTrack_;
}

bool FFMusicSequence::checkIfTempoTrack(const FFMusicTrack& track) const {
    // The store gives the tempo track no index among the tracks; the handle
    // identifies it.
    return sequence_ && track.musicTrack() == &sequence_->tempoTrack();
}

std::unique_ptr<FFMusicPlayer> FFMusicSequence::newPlayer() {
    if (!sequence_) {
        TLLog("Tried to create music player with no sequence in place.");
        return nullptr;
    }
    auto player = std::make_unique<FFMusicPlayer>();
    player->setSequence(shared_from_this());
    return player;
}

void FFMusicSequence::setUserEventDestination(FFMusicUserEventDestination* destination) {
    target_ = destination;
    if (destination != nullptr) {
        callbackUserInfo_["target"] = destination;
    } else {
        callbackUserInfo_.erase("target");
    }
    installUserCallback();
}

void FFMusicSequence::installUserCallback() {
    if (target_ == nullptr && !sequence_) return;
    if (!sequence_) {
        TLLog("FFMusicSequence was unable to set user callback (Error %d).",
              kMusicSequenceError_InvalidArgument);
        return;
    }
    if (target_ == nullptr) {
        sequence_->setUserCallback(nullptr);
        return;
    }
    // The destination itself is captured, not this wrapper: a player may keep
    // the store (and call this) after the wrapper is gone.
    FFMusicUserEventDestination* target = target_;
    sequence_->setUserCallback([target](MusicSequence& sequence, MusicTrack& track, double eventTime,
                                        std::span<const uint8_t> userData, double startSliceBeat,
                                        double endSliceBeat) {
        target->takeUserEvent(userData, &sequence, &track, eventTime, startSliceBeat, endSliceBeat);
    });
}

void FFMusicSequence::setMidiDestination(uint32_t endpoint) {
    endpt_ = endpoint;
    if (!sequence_) return;
    if (const int status = sequence_->setMIDIEndpoint(endpoint); status != kMusicSequenceNoErr) {
        TLLog("Unable to set sequence MIDI endpoint (Error %d).", status);
    }
}

AUGraphHandle FFMusicSequence::AUGraph() const {
    return sequence_ ? sequence_->auGraph() : nullptr;
}

void FFMusicSequence::setAUGraph(AUGraphHandle graph) {
    if (sequence_) sequence_->setAUGraph(graph);
}

void FFMusicSequence::setPlaybackRate(double rate) {
    if (!std::isfinite(rate) || rate <= 0.0) {
        TLLog("Ignoring playback rate %f: it must be a positive number.", rate);
        return;
    }
    playbackRate_.store(rate, std::memory_order_release);
    if (sequence_) sequence_->setPlaybackRate(rate);
}

std::string FFMusicSequence::description() {
    std::vector<std::string> items;
    for (const auto& track : allTracksIncludingTempoTrack()) items.push_back(track->description());
    return "FFMusicSequence - tracks: " + descriptionOfArray(items);
}

std::shared_ptr<FFMusicSequence> FFMusicSequence::copy() {
    TLLog("WARNING: calling -[FFMusicSequence copyWithZone:]. This will result in an unplayable sequence.");
    auto copied = std::make_shared<MusicSequence>();
    auto result = sequenceWithMusicSequence(copied);
    result->setPlaybackRate(playbackRate());

    Data bytes;
    int status =
        sequence_ ? StandardMIDIFileWriter::write(*sequence_, bytes) : kMusicSequenceError_InvalidArgument;
    if (status != kMusicSequenceNoErr) {
        TLLog("Error: FFMusicSequence couldn't save MIDI data for copying (error %ld).",
              static_cast<long>(status));
        return result;
    }
    if (status = StandardMIDIFileReader::read(bytes.data(), bytes.size(), *copied);
        status != kMusicSequenceNoErr) {
        TLLog("Error: FFMusicSequence couldn't load MIDI data (error %ld).", static_cast<long>(status));
        return result;
    }

    // The file format does not carry user events: they go to the copy's last
    // track (a new one when the copy has none).
    std::vector<MusicEventData> userEvents;
    auto collect = [&userEvents](const MusicTrack& track) {
        track.forEachEvent([&userEvents](const MusicEventData& event) {
            if (event.type == kMusicEventType_User) userEvents.push_back(event);
        });
    };
    collect(sequence_->tempoTrack());
    for (uint32_t i = 0, count = sequence_->trackCount(); i < count; ++i) {
        MusicTrack* track = nullptr;
        if (sequence_->trackAtIndex(i, track) == kMusicSequenceNoErr) collect(*track);
    }
    if (userEvents.empty()) return result;

    MusicTrack* last = nullptr;
    const uint32_t count = copied->trackCount();
    if ((count == 0 ? copied->newTrack(last) : copied->trackAtIndex(count - 1, last)) ==
        kMusicSequenceNoErr) {
        last->addEvents(std::move(userEvents));
    }
    return result;
}

void FFMusicSequence::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeBytes(smfData(), kSMFDataKey);
}

std::shared_ptr<FFMusicSequence> FFMusicSequence::decodeWithCoder(KeyedUnarchiver& coder) {
    const Data bytes = coder.decodeBytes(kSMFDataKey);
    auto sequence = std::make_shared<MusicSequence>();
    if (const int status = StandardMIDIFileReader::read(bytes.data(), bytes.size(), *sequence);
        status != kMusicSequenceNoErr) {
        TLLog("Error: FFMusicSequence couldn't load MIDI data (error %ld).", static_cast<long>(status));
        return nullptr;
    }
    return sequenceWithMusicSequence(std::move(sequence));
}

void FFMusicSequence::registerArchiveClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        ArchiveClassRegistry::registerClass(
            "FFMusicSequence",
            [](KeyedUnarchiver& coder) -> std::shared_ptr<Archivable> { return decodeWithCoder(coder); });
    });
}

}  // namespace tollvane
