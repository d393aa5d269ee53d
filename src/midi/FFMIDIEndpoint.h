#pragma once

// A MIDI endpoint as the input layer knows it: a source we can listen to, or
// a destination (our own virtual one). Identified by a unique ID that stays
// the same for the same device or port across setup changes and launches;
// the name is for display. The client hands out one object per endpoint, so
// endpoints compare by address.
//
// Threads: immutable once made, except for the name, which the main thread
// may refresh; read it on the main thread.

#include <cstdint>
#include <string>

namespace tollvane {

using FFMIDIUniqueID = int32_t;

class FFMIDIEndpoint {
public:
    virtual ~FFMIDIEndpoint() = default;
    FFMIDIEndpoint(const FFMIDIEndpoint&) = delete;
    FFMIDIEndpoint& operator=(const FFMIDIEndpoint&) = delete;

    FFMIDIUniqueID uniqueID() const { return uniqueID_; }
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    virtual bool isSource() const = 0;

protected:
    FFMIDIEndpoint(FFMIDIUniqueID uniqueID, std::string name) : uniqueID_(uniqueID), name_(std::move(name)) {}

private:
    const FFMIDIUniqueID uniqueID_;
    std::string name_;
};

}  // namespace tollvane
