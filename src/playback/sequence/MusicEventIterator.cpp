#include "playback/sequence/MusicEventIterator.h"

#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/MusicTrack.h"

namespace tollvane {

MusicEventIterator::MusicEventIterator(MusicTrack& track) : track_(track) {}

int MusicEventIterator::seek(double beats) {
    index_ = track_.indexOfFirstEventAtOrAfter(beats);
    followingIndex_.reset();
    return kMusicSequenceNoErr;
}

int MusicEventIterator::nextEvent() {
    const size_t count = track_.eventCount();
    if (index_ >= count && !followingIndex_) return kMusicSequenceError_EndOfTrack;
    index_ = std::min(nextIndex(), count);
    followingIndex_.reset();
    return kMusicSequenceNoErr;
}

int MusicEventIterator::previousEvent() {
    if (index_ == 0) return kMusicSequenceError_EndOfTrack;
    index_ = std::min(index_, track_.eventCount()) - 1;
    followingIndex_.reset();
    return kMusicSequenceNoErr;
}

int MusicEventIterator::hasCurrentEvent(bool& answer) const {
    answer = index_ < track_.eventCount();
    return kMusicSequenceNoErr;
}

int MusicEventIterator::hasNextEvent(bool& answer) const {
    answer = nextIndex() < track_.eventCount();
    return kMusicSequenceNoErr;
}

int MusicEventIterator::hasPreviousEvent(bool& answer) const {
    answer = index_ > 0 && track_.eventCount() > 0;
    return kMusicSequenceNoErr;
}

int MusicEventIterator::getEventInfo(MusicEventData& event) const {
    return track_.eventAt(index_, event);
}

int MusicEventIterator::setEventTime(double beats) {
    size_t movedTo = 0;
    if (const int status = track_.setEventTime(index_, beats, movedTo); status != kMusicSequenceNoErr)
        return status;
    // The event that followed the moved one: it keeps its place when the
    // event went earlier and slides down by one when it went later.
    const size_t following = movedTo < index_ ? index_ + 1 : (movedTo > index_ ? index_ : index_ + 1);
    index_ = movedTo;
    followingIndex_ = following;
    return kMusicSequenceNoErr;
}

}  // namespace tollvane
