#include "playback/FFMusicEventIterator.h"

#include "platform/Log.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {

FFMusicEventIterator::FFMusicEventIterator(MusicTrack* track)
    : iterator_(track != nullptr ? std::make_unique<MusicEventIterator>(*track) : nullptr) {}

FFMusicEventIterator::FFMusicEventIterator(std::unique_ptr<MusicEventIterator> iterator)
    : iterator_(std::move(iterator)) {}

bool FFMusicEventIterator::advance() {
    if (!iterator_) {
        TLLog("Unable to advance because no iterator is in place.");
        return false;
    }
    bool hasNext = false;
    if (const int status = iterator_->hasNextEvent(hasNext); status != kMusicSequenceNoErr) {
        TLLog("Unable to determine if another event exists (Error %d).", status);
        return false;
    }
    if (!hasNext) return false;
    if (const int status = iterator_->nextEvent(); status != kMusicSequenceNoErr) {
        TLLog("Unable to go to next event (Error %d).", status);
        return false;
    }
    return true;
}

bool FFMusicEventIterator::hasCurrentEvent() const {
    bool answer = false;
    return iterator_ && iterator_->hasCurrentEvent(answer) == kMusicSequenceNoErr && answer;
}

bool FFMusicEventIterator::getEventType(uint32_t& eventType, std::vector<uint8_t>& eventData,
                                        uint32_t& dataSize, double& timeStamp) const {
    if (!iterator_) {
        TLLog("Unable to get event info because no iterator is in place.");
        return false;
    }
    MusicEventData event;
    if (const int status = iterator_->getEventInfo(event); status != kMusicSequenceNoErr) {
        TLLog("Unable to get event info (Error %d).", status);
        return false;
    }
    eventType = event.type;
    dataSize = static_cast<uint32_t>(event.payload.size());
    eventData = std::move(event.payload);
    timeStamp = event.timeStamp;
    return true;
}

bool FFMusicEventIterator::setCurrentEventTime(double timeStamp) {
    if (!iterator_) {
        TLLog("Unable to change event time because no iterator is in place.");
        return false;
    }
    if (const int status = iterator_->setEventTime(timeStamp); status != kMusicSequenceNoErr) {
        TLLog("Unable to change event time (Error %d).", status);
        return false;
    }
    return true;
}

}  // namespace tollvane
