#pragma once

// A MIDI system inside the process, for tests and for machines with no MIDI
// service: sources are added and removed by hand, and packet lists are
// injected with chosen host times, as if sent by a source or by another
// program to a virtual destination. Destinations get unique IDs counting up
// from firstDestinationID; an ID already used by a source or another
// destination is refused.
//
// Threads: the FFMIDIBackend members on the main thread; the injection and
// source members from any thread (a test's stand-in for a MIDI thread). The
// callbacks run on the injecting thread;
// injecting threads must stop before the backend is destroyed.

#include <map>
#include <mutex>
#include <set>

#include "midi/FFMIDIBackend.h"

namespace tollvane {

class FFMIDILoopbackBackend final : public FFMIDIBackend {
public:
    static constexpr FFMIDIUniqueID firstDestinationID = 0x4C000001;
    static constexpr int errorUnknownObject = -10832;
    static constexpr int errorIDNotUnique = -10843;

    FFMIDILoopbackBackend() = default;
    ~FFMIDILoopbackBackend() override;

    std::string name() const override { return "loopback"; }
    int start(const std::string& clientName, Callbacks callbacks) override;
    std::vector<Source> sources() const override;
    int createInputPort(const std::string& name, FFMIDIPortRef& port) override;
    void disposeInputPort(FFMIDIPortRef port) override;
    int connectSource(FFMIDIPortRef port, FFMIDIUniqueID source) override;
    int disconnectSource(FFMIDIPortRef port, FFMIDIUniqueID source) override;
    int createDestination(const std::string& name, FFMIDIPortRef& port, FFMIDIUniqueID& uniqueID) override;
    int setDestinationUniqueID(FFMIDIPortRef port, FFMIDIUniqueID uniqueID) override;
    void disposeDestination(FFMIDIPortRef port) override;

    // Any thread. Each reports a setup change (a rename of an unknown source adds it).
    void addSource(FFMIDIUniqueID uniqueID, std::string name);
    void removeSource(FFMIDIUniqueID uniqueID);

    // Any thread. Hands the list to every port connected to the source, or to
    // the destination with that unique ID (by name: the first of that name).
    // Answers whether anything took it.
    bool sendFromSource(FFMIDIUniqueID source, const FFMIDIPacketList& packets);
    bool sendToDestination(FFMIDIUniqueID destination, const FFMIDIPacketList& packets);
    bool sendToDestinationNamed(const std::string& name, const FFMIDIPacketList& packets);

    // Any thread. The names and IDs of the destinations present.
    std::vector<Source> destinations() const;
    // The next createInputPort or connectSource answers this error instead (0: none).
    void failNextPortCreation(int error);
    void failNextConnection(int error);

private:
    struct Destination {
        std::string name;
        FFMIDIUniqueID uniqueID;
    };

    void reportSetupChange();
    bool idInUseLocked(FFMIDIUniqueID uniqueID) const;

    mutable std::mutex mutex_;
    Callbacks callbacks_;
    bool started_ = false;
    std::vector<Source> sources_;
    std::map<FFMIDIPortRef, std::set<FFMIDIUniqueID>> inputPorts_;
    std::map<FFMIDIPortRef, Destination> destinations_;
    FFMIDIPortRef nextPort_ = 1;
    FFMIDIUniqueID nextDestinationID_ = firstDestinationID;
    int portCreationError_ = 0;
    int connectionError_ = 0;
};

}  // namespace tollvane
