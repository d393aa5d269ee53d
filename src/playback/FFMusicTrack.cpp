#include "playback/FFMusicTrack.h"

#include <cstring>

#include "platform/Log.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {

namespace {

constexpr uint8_t kTrackNameMetaType = 3;

}  // namespace

std::shared_ptr<FFMusicTrack> FFMusicTrack::newTrackInSequence(MusicSequence* sequence,
                                                               const std::string& name) {
    MusicTrack* track = nullptr;
    const int status = sequence != nullptr ? sequence->newTrack(track) : kMusicSequenceError_InvalidArgument;
    if (status != kMusicSequenceNoErr) {
        TLLog("Unable to add track to sequence: error %d (%x)", status, static_cast<unsigned>(status));
        return nullptr;
    }
    track->newMetaEvent(0.0, kTrackNameMetaType, reinterpret_cast<const uint8_t*>(name.data()),
                        static_cast<uint32_t>(name.size()));
    return std::make_shared<FFMusicTrack>(track);
}

std::shared_ptr<FFMusicTrack> FFMusicTrack::trackWithMusicTrack(MusicTrack* track) {
    return std::make_shared<FFMusicTrack>(track);
}

std::string FFMusicTrack::trackName() const {
    if (track_ == nullptr) {
        TLLog("FFMusicTrack tried to get track name with no track in place.");
        return "-";
    }
    std::string name;
    bool found = false;
    track_->forEachEvent([&](const MusicEventData& event) {
        uint8_t metaType = 0;
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        if (found || !event.readMeta(metaType, data, length) || metaType != kTrackNameMetaType) return;
        name = textFromBytes(data, length);
        found = true;
    });
    return name;
}

double FFMusicTrack::length() const {
    if (track_ == nullptr) {
        TLLog("FFMusicTrack tried to get length with no track in place.");
        return 0.0;
    }
    return track_->length();
}

std::vector<FFMusicEvent> FFMusicTrack::events() const {
    std::vector<FFMusicEvent> events;
    if (track_ == nullptr) return events;
    const std::vector<MusicEventData> stored = track_->events();
    events.reserve(stored.size());
    for (const MusicEventData& event : stored) events.emplace_back(event);
    return events;
}

std::unique_ptr<FFMusicEventIterator> FFMusicTrack::eventIterator() const {
    return std::make_unique<FFMusicEventIterator>(track_);
}

bool FFMusicTrack::addUserEvent(std::span<const uint8_t> userEvent, double atTime) {
    if (track_ == nullptr) {
        TLLog("FFMusicTrack tried to schedule a user event with no track in place.");
        return false;
    }
    int status = kMusicSequenceError_InvalidArgument;
    if (userEvent.size() >= sizeof(uint32_t)) {
        uint32_t length = 0;
        std::memcpy(&length, userEvent.data(), sizeof length);
        if (length <= userEvent.size() - sizeof(uint32_t))
            status = track_->newUserEvent(atTime, userEvent.data());
    }
    if (status != kMusicSequenceNoErr) {
        TLLog("Unable to schedule a user event (Error %d).", status);
        return false;
    }
    return true;
}

bool FFMusicTrack::addEvent(const FFMusicEvent& event) {
    if (track_ == nullptr) {
        TLLog("FFMusicTrack tried to add an event with no track in place.");
        return false;
    }
    // The store checks the payload against the layout of its type (1 to 10)
    // and files it as that type's own operation would.
    const int status = track_->addEvent(event.musicEventData());
    if (status != kMusicSequenceNoErr) {
        TLLog("Unable to add %s event to track (Error %d).", event.typeAsString().c_str(), status);
        return false;
    }
    return true;
}

std::string FFMusicTrack::description() const {
    std::vector<std::string> items;
    for (const FFMusicEvent& event : events()) items.push_back(event.description());
    return "Track '" + trackName() + "': " + descriptionOfArray(items);
}

}  // namespace tollvane
