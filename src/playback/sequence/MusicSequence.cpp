#include "playback/sequence/MusicSequence.h"

#include <algorithm>
#include <cmath>

namespace tollvane {

MusicSequence::MusicSequence() : tempoTrack_(new MusicTrack(*this, true)) {}

MusicSequence::~MusicSequence() = default;

int MusicSequence::newTrack(MusicTrack*& track) {
    std::lock_guard lock(mutex_);
    tracks_.push_back(std::unique_ptr<MusicTrack>(new MusicTrack(*this, false)));
    track = tracks_.back().get();
    ++changeCount_;
    return kMusicSequenceNoErr;
}

int MusicSequence::disposeTrack(MusicTrack* track) {
    std::lock_guard lock(mutex_);
    if (track == tempoTrack_.get()) return kMusicSequenceError_InvalidArgument;
    auto it = std::find_if(tracks_.begin(), tracks_.end(), [track](const std::unique_ptr<MusicTrack>& owned) {
        return owned.get() == track;
    });
    if (it == tracks_.end()) return kMusicSequenceError_TrackNotFound;
    tracks_.erase(it);
    ++changeCount_;
    return kMusicSequenceNoErr;
}

uint32_t MusicSequence::trackCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<uint32_t>(tracks_.size());
}

int MusicSequence::trackAtIndex(uint32_t index, MusicTrack*& track) const {
    std::lock_guard lock(mutex_);
    if (index >= tracks_.size()) return kMusicSequenceError_TrackNotFound;
    track = tracks_[index].get();
    return kMusicSequenceNoErr;
}

int MusicSequence::trackIndex(const MusicTrack* track, uint32_t& index) const {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < tracks_.size(); ++i) {
        if (tracks_[i].get() == track) {
            index = static_cast<uint32_t>(i);
            return kMusicSequenceNoErr;
        }
    }
    return kMusicSequenceError_TrackNotFound;
}

TempoMap& MusicSequence::privateTempoMapLocked() const {
    if (!tempoMap_) {
        tempoMap_ = std::make_shared<TempoMap>();
        tempoPartStale_ = true;
        meterPartStale_ = true;
    } else if (tempoMapShared_) {
        tempoMap_ = std::make_shared<TempoMap>(*tempoMap_);
    }
    tempoMapShared_ = false;
    return *tempoMap_;
}

const TempoMap& MusicSequence::tempoMapLocked(bool tempo, bool meter) const {
    if (tempoMap_ && !(tempo && tempoPartStale_) && !(meter && meterPartStale_)) return *tempoMap_;
    TempoMap& map = privateTempoMapLocked();
    if (tempo && tempoPartStale_) {
        map.rebuildTempo(tempoTrack_->events_);
        tempoPartStale_ = false;
    }
    if (meter && meterPartStale_) {
        map.rebuildMeter(tempoTrack_->events_);
        meterPartStale_ = false;
    }
    return map;
}

std::shared_ptr<const TempoMap> MusicSequence::tempoMap() const {
    std::lock_guard lock(mutex_);
    tempoMapLocked(true, true);
    tempoMapShared_ = true;
    return tempoMap_;
}

int MusicSequence::secondsForBeats(double beats, double& seconds) const {
    if (!std::isfinite(beats)) return kMusicSequenceError_InvalidArgument;
    std::lock_guard lock(mutex_);
    seconds = tempoMapLocked(true, false).secondsForBeats(beats);
    return kMusicSequenceNoErr;
}

int MusicSequence::beatsForSeconds(double seconds, double& beats) const {
    if (!std::isfinite(seconds)) return kMusicSequenceError_InvalidArgument;
    std::lock_guard lock(mutex_);
    beats = tempoMapLocked(true, false).beatsForSeconds(seconds);
    return kMusicSequenceNoErr;
}

int MusicSequence::beatsToBarBeatTime(double beats, uint16_t subbeatDivisor, BarBeatTime& out) const {
    std::lock_guard lock(mutex_);
    return tempoMapLocked(false, true).beatsToBarBeatTime(beats, subbeatDivisor, out);
}

int MusicSequence::barBeatTimeToBeats(const BarBeatTime& time, double& beats) const {
    std::lock_guard lock(mutex_);
    return tempoMapLocked(false, true).barBeatTimeToBeats(time, beats);
}

double MusicSequence::lengthInBeats() const {
    std::lock_guard lock(mutex_);
    double length = tempoTrack_->lengthLocked();
    for (const auto& track : tracks_) length = std::max(length, track->lengthLocked());
    return length;
}

void MusicSequence::adoptContentsOf(MusicSequence& source) {
    if (&source == this) return;
    std::scoped_lock lock(mutex_, source.mutex_);
    tempoTrack_->events_ = std::move(source.tempoTrack_->events_);
    tempoTrack_->userEventCount_ = source.tempoTrack_->userEventCount_;
    tempoTrack_->assignedLength_ = source.tempoTrack_->assignedLength_;
    source.tempoTrack_->events_.clear();
    source.tempoTrack_->userEventCount_ = 0;
    source.tempoTrack_->assignedLength_ = 0.0;
    source.tempoTrack_->changedLocked();
    tempoTrack_->changedLocked();

    tracks_ = std::move(source.tracks_);
    source.tracks_.clear();
    for (auto& track : tracks_) {
        track->sequence_ = this;
        track->eventsEndValid_ = false;
    }
    ++changeCount_;
    ++source.changeCount_;
}

void MusicSequence::setUserCallback(UserCallback callback) {
    auto shared = callback ? std::make_shared<const UserCallback>(std::move(callback)) : nullptr;
    std::lock_guard lock(mutex_);
    userCallback_ = std::move(shared);
}

std::shared_ptr<const MusicSequence::UserCallback> MusicSequence::userCallback() const {
    std::lock_guard lock(mutex_);
    return userCallback_;
}

namespace {

auto firstAtOrAfter(const std::vector<MusicEventData>& events, double beats) {
    return std::lower_bound(
        events.begin(), events.end(), beats,
        [](const MusicEventData& event, double value) { return event.timeStamp < value; });
}

}  // namespace

void MusicSequence::copyUserEvents(double fromBeats, double toBeats,
                                   std::vector<ScheduledUserEvent>& into) const {
    if (!(fromBeats < toBeats)) return;
    const size_t start = into.size();
    {
        std::lock_guard lock(mutex_);
        auto collect = [&](MusicTrack& track) {
            if (track.userEventCount_ == 0) return;
            for (auto it = firstAtOrAfter(track.events_, fromBeats);
                 it != track.events_.end() && it->timeStamp < toBeats; ++it) {
                if (it->type == kMusicEventType_User) into.push_back({&track, it->timeStamp, it->payload});
            }
        };
        collect(*tempoTrack_);
        for (const auto& track : tracks_) collect(*track);
    }
    std::stable_sort(
        into.begin() + static_cast<std::ptrdiff_t>(start), into.end(),
        [](const ScheduledUserEvent& a, const ScheduledUserEvent& b) { return a.time < b.time; });
}

bool MusicSequence::nextUserEventTime(double fromBeats, double& time) const {
    std::lock_guard lock(mutex_);
    bool found = false;
    auto scan = [&](const MusicTrack& track) {
        if (track.userEventCount_ == 0) return;
        for (auto it = firstAtOrAfter(track.events_, fromBeats); it != track.events_.end(); ++it) {
            if (found && it->timeStamp >= time) return;
            if (it->type == kMusicEventType_User) {
                time = it->timeStamp;
                found = true;
                return;
            }
        }
    };
    scan(*tempoTrack_);
    for (const auto& track : tracks_) scan(*track);
    return found;
}

uint64_t MusicSequence::changeCount() const {
    std::lock_guard lock(mutex_);
    return changeCount_;
}

void MusicSequence::trackChangedLocked(const MusicTrack& track) {
    ++changeCount_;
    if (&track == tempoTrack_.get()) tempoMap_.reset();
}

void MusicSequence::tempoTrackEventAddedLocked(const MusicEventData& event) {
    ++changeCount_;
    if (!tempoMap_) return;
    if (TempoMap::isTempoEvent(event)) {
        if (tempoPartStale_) return;
        if (!tempoMap_->canExtendTempoWith(event)) {
            tempoPartStale_ = true;
            return;
        }
        privateTempoMapLocked().applyTempo(event);
    } else if (TempoMap::isMeterEvent(event)) {
        if (meterPartStale_) return;
        if (!tempoMap_->canExtendMeterWith(event)) {
            meterPartStale_ = true;
            return;
        }
        privateTempoMapLocked().applyMeter(event);
    }
}

int MusicSequence::setPlaybackRate(double rate) {
    if (!std::isfinite(rate) || rate <= 0.0) return kMusicSequenceError_InvalidArgument;
    playbackRate_.store(rate, std::memory_order_release);
    return kMusicSequenceNoErr;
}

int MusicSequence::setMIDIEndpoint(uint32_t endpoint) {
    std::lock_guard lock(mutex_);
    midiEndpoint_ = endpoint;
    return kMusicSequenceNoErr;
}

uint32_t MusicSequence::midiEndpoint() const {
    std::lock_guard lock(mutex_);
    return midiEndpoint_;
}

int MusicSequence::setAUGraph(AUGraphHandle graph) {
    std::lock_guard lock(mutex_);
    auGraph_ = graph;
    return kMusicSequenceNoErr;
}

AUGraphHandle MusicSequence::auGraph() const {
    std::lock_guard lock(mutex_);
    return auGraph_;
}

}  // namespace tollvane
