#pragma once

// The input layer over a JACK server. Sources are the server's MIDI output
// ports; a source's unique ID is derived from the port's full name, so the
// same port keeps its ID across setup changes and launches. An input port of
// the layer becomes one JACK input port per connected source, because a JACK
// port merges everything connected to it and the parsers must know which
// source sent what. A virtual destination is a JACK input port of that name
// that other programs connect to.
//
// Every event is stamped with the host time of its own frame: the cycle's
// start time plus the event's offset at the server's sample rate, on the
// CLOCK_MONOTONIC nanoseconds the rest of the program uses. The process
// callback copies events into a fixed ring allocated before activation; a
// delivery thread empties it, hands packet lists to `received`, reports
// setup changes noted by JACK's notification callbacks through
// `setupChanged`, and logs events lost to a full ring.
//
// Threads: the FFMIDIBackend members, serverRunning() and the destructor on
// the main thread. The callbacks are made on the delivery thread.
// uniqueIDForPortName(), hostTimeForFrame() and droppedEventCount() from any
// thread. The process callback takes no lock and allocates nothing.

#include <array>
#include <atomic>
#include <map>
#include <semaphore>
#include <string>
#include <thread>

#include <jack/jack.h>

#include "midi/FFMIDIBackend.h"
#include "midi/jack/JackMidiEventRing.h"

namespace tollvane {

class FFMIDIJackBackend final : public FFMIDIBackend {
public:
    static constexpr int errorNoServer = -10830;
    static constexpr int errorUnknownObject = -10832;
    static constexpr int errorIDNotUnique = -10843;
    static constexpr int errorTooManyPorts = -10844;
    static constexpr int errorServerRefused = -10845;

    // JACK ports the backend may have open at once (per-source ports and destinations).
    static constexpr size_t maxJackPorts = 128;
    static constexpr size_t ringCapacity = size_t{1} << 20;

    // An empty server name means the default server (or $JACK_DEFAULT_SERVER).
    explicit FFMIDIJackBackend(std::string serverName = {});
    ~FFMIDIJackBackend() override;
    FFMIDIJackBackend(const FFMIDIJackBackend&) = delete;
    FFMIDIJackBackend& operator=(const FFMIDIJackBackend&) = delete;

    // Whether a server of that name accepts clients; never starts one.
    static bool serverRunning(const std::string& serverName = {});
    // Stable, never 0.
    static FFMIDIUniqueID uniqueIDForPortName(const std::string& fullName);
    static uint64_t hostTimeForFrame(uint64_t cycleStart, uint32_t frameOffset, uint32_t sampleRate);

    std::string name() const override { return "jack"; }
    int start(const std::string& clientName, Callbacks callbacks) override;
    std::vector<Source> sources() const override;
    int createInputPort(const std::string& name, FFMIDIPortRef& port) override;
    void disposeInputPort(FFMIDIPortRef port) override;
    int connectSource(FFMIDIPortRef port, FFMIDIUniqueID source) override;
    int disconnectSource(FFMIDIPortRef port, FFMIDIUniqueID source) override;
    int createDestination(const std::string& name, FFMIDIPortRef& port, FFMIDIUniqueID& uniqueID) override;
    int setDestinationUniqueID(FFMIDIPortRef port, FFMIDIUniqueID uniqueID) override;
    void disposeDestination(FFMIDIPortRef port) override;

    // Main thread: the full JACK name of a destination's port ("" when unknown).
    std::string destinationPortName(FFMIDIPortRef port) const;
    // Events the ring had no room for since start.
    uint64_t droppedEventCount() const { return dropped_.load(std::memory_order_relaxed); }

private:
    // What the process callback reads. `port` is published last (release) and
    // cleared first; `ref` and `source` change only while it is null and no
    // cycle can still be using the slot.
    struct Slot {
        std::atomic<jack_port_t*> port{nullptr};
        FFMIDIPortRef ref = 0;
        FFMIDIUniqueID source = 0;
    };

    struct InputPort {
        std::string name;
        unsigned nextSuffix = 1;
        std::map<FFMIDIUniqueID, size_t> slots;
    };

    struct Destination {
        std::string name;
        FFMIDIUniqueID uniqueID = 0;
        size_t slot = 0;
    };

    static int processCallback(jack_nframes_t frames, void* arg);
    static int sampleRateCallback(jack_nframes_t rate, void* arg);
    static void portRegistrationCallback(jack_port_id_t port, int registered, void* arg);
    static void portRenameCallback(jack_port_id_t port, const char* oldName, const char* newName, void* arg);
    static void shutdownCallback(void* arg);

    int process(jack_nframes_t frames);
    void noteForeignPortChange(jack_port_id_t port);
    void deliveryLoop();
    void deliverQueuedEvents();

    bool connected() const;
    std::string sourcePortName(FFMIDIUniqueID source) const;
    int publish(const std::string& portName, FFMIDIPortRef ref, FFMIDIUniqueID source, size_t& slot);
    void retire(size_t slot);
    bool idInUse(FFMIDIUniqueID uniqueID, FFMIDIPortRef except) const;

    const std::string serverName_;
    jack_client_t* client_ = nullptr;
    Callbacks callbacks_;

    std::array<Slot, maxJackPorts> slots_;
    JackMidiEventRing ring_{ringCapacity};
    int64_t clockOffset_ = 0;
    std::atomic<uint32_t> sampleRate_{48000};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<bool> setupDirty_{false};
    std::atomic<bool> shutDown_{false};
    std::atomic<bool> stopping_{false};
    std::counting_semaphore<> wake_{0};
    std::atomic<bool> wakePending_{false};
    std::thread deliveryThread_;
    uint64_t droppedReported_ = 0;

    std::map<FFMIDIPortRef, InputPort> inputPorts_;
    std::map<FFMIDIPortRef, Destination> destinations_;
    FFMIDIPortRef nextPort_ = 1;
};

}  // namespace tollvane
