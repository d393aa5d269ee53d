#pragma once

// The program's own virtual MIDI destination, named after the client
// ("Tollvane"), which other programs on the machine send to. Its messages
// carry the destination as their originating endpoint. Listening starts
// with setActive(true) and stops, removing the destination, with
// setActive(false) or destruction.
//
// Threads: main thread only.

#include <memory>

#include "midi/FFMIDIDestinationEndpoint.h"
#include "midi/FFMIDIInputStream.h"

namespace tollvane {

class UserDefaults;

class FFMIDIVirtualInputStream final : public FFMIDIInputStream {
public:
    explicit FFMIDIVirtualInputStream(FFMIDIClient& client);
    ~FFMIDIVirtualInputStream() override;

    // Creating the destination can fail (logged as "Couldn't create a MIDI
    // destination (error %ld)"); isActive() then stays false.
    void setActive(bool active);
    bool isActive() const { return endpoint_ != nullptr; }
    // Null while inactive.
    const std::shared_ptr<FFMIDIDestinationEndpoint>& endpoint() const { return endpoint_; }

    // 0 while inactive.
    FFMIDIUniqueID uniqueID() const { return endpoint_ ? endpoint_->uniqueID() : 0; }
    // Answers whether the destination took the ID (refused when inactive or taken).
    bool setUniqueID(FFMIDIUniqueID uniqueID);
    // Gives the destination the ID kept in "internalVirtualInputStreamID"
    // (when not 0; a refusal is ignored), then stores the ID it has, so that
    // it keeps its identity across launches.
    void keepUniqueIDAcrossLaunches(UserDefaults& defaults);

    void takePacketList(FFMIDIUniqueID source, const FFMIDIPacketList& packets) override;

private:
    FFMIDIPortRef port_ = 0;
    std::shared_ptr<FFMIDIDestinationEndpoint> endpoint_;
};

}  // namespace tollvane
