#pragma once

// The seam between the input layer and a MIDI system (JACK, the ALSA
// sequencer, or the loopback used by tests). A backend lists sources, opens
// input ports and connects sources to them, offers virtual destinations that
// other programs send to, and reports what arrives. Error results are the
// backend's own non-zero codes; 0 is success.
//
// Threads: every member is called on the main thread. The callbacks may be
// called from any thread (a backend's MIDI thread): `received` must not
// block for long, `setupChanged` must be cheap. A backend calls neither once
// its destructor has begun.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "midi/FFMIDIEndpoint.h"
#include "midi/FFMIDIPacketList.h"

namespace tollvane {

using FFMIDIPortRef = uint32_t;

class FFMIDIBackend {
public:
    struct Source {
        FFMIDIUniqueID uniqueID;
        std::string name;
    };

    struct Callbacks {
        // Sources or destinations came, went or were renamed.
        std::function<void()> setupChanged;
        // A packet list arrived at an input port or a virtual destination
        // (`port` is the handle either was given), from the source with
        // `source` as its unique ID (0 when the backend cannot tell, and for
        // destinations). Time stamps are host time; 0 means "on arrival".
        std::function<void(FFMIDIPortRef port, FFMIDIUniqueID source, FFMIDIPacketList&& packets)> received;
    };

    virtual ~FFMIDIBackend() = default;

    // "jack", "alsa", "loopback".
    virtual std::string name() const = 0;
    virtual int start(const std::string& clientName, Callbacks callbacks) = 0;

    virtual std::vector<Source> sources() const = 0;

    virtual int createInputPort(const std::string& name, FFMIDIPortRef& port) = 0;
    virtual void disposeInputPort(FFMIDIPortRef port) = 0;
    virtual int connectSource(FFMIDIPortRef port, FFMIDIUniqueID source) = 0;
    virtual int disconnectSource(FFMIDIPortRef port, FFMIDIUniqueID source) = 0;

    virtual int createDestination(const std::string& name, FFMIDIPortRef& port, FFMIDIUniqueID& uniqueID) = 0;
    // Refused (non-zero) when another endpoint has that ID.
    virtual int setDestinationUniqueID(FFMIDIPortRef port, FFMIDIUniqueID uniqueID) = 0;
    virtual void disposeDestination(FFMIDIPortRef port) = 0;
};

}  // namespace tollvane
