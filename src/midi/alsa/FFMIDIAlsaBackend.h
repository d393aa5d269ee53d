#pragma once

// The input layer over the ALSA sequencer, through RtMidi, for machines
// without a JACK server. Sources are the sequencer's readable ports as RtMidi
// lists them ("client:port 20:0"). Each connected source gets an RtMidiIn of
// its own per input port (RtMidi opens one connection per object, and the
// parsers must know which source sent what); a virtual destination is an
// RtMidiIn with a virtual port of that name.
//
// Unique IDs. ALSA numbers clients in the order they arrive, so the "20:0"
// at the end of a port's name changes when a device is plugged in again or
// the machine restarts; the ID is a 32-bit hash of the name without those
// numbers, so the same device keeps its ID across launches. Two ports of the
// same name (two units of one model) would share a hash: the later one in the
// listing takes the next free value. 0 is never handed out.
//
// RtMidi reports no setup changes, so a background thread compares the port
// list with the previous one every pollInterval and calls `setupChanged`
// when it differs (and at once when a destination of ours comes or goes).
// Each message is delivered as a one-packet list stamped with the host time
// at which RtMidi handed it to us. RtMidi's errors are logged and become
// non-zero results; nothing is thrown out of the backend.
//
// Threads: the FFMIDIBackend members, sequencerAvailable() and the destructor
// on the main thread. `received` is called on RtMidi's input threads (one per
// connection), `setupChanged` on the poll thread. uniqueIDForPortName(),
// stablePortName() and uniqueIDsForPortNames() from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/FFMIDIBackend.h"

class RtMidiIn;

namespace tollvane {

class FFMIDIAlsaBackend final : public FFMIDIBackend {
public:
    static constexpr int errorNoSequencer = -10830;
    static constexpr int errorUnknownObject = -10832;
    static constexpr int errorIDNotUnique = -10843;
    static constexpr int errorSequencerRefused = -10845;

    static constexpr const char* defaultSequencerDevice = "/dev/snd/seq";
    static constexpr std::chrono::milliseconds pollInterval{1000};

    // `sequencerDevice` is the device node the sequencer lives behind; start()
    // fails without opening anything when it cannot be read and written.
    explicit FFMIDIAlsaBackend(std::string sequencerDevice = defaultSequencerDevice);
    ~FFMIDIAlsaBackend() override;
    FFMIDIAlsaBackend(const FFMIDIAlsaBackend&) = delete;
    FFMIDIAlsaBackend& operator=(const FFMIDIAlsaBackend&) = delete;

    // Whether a sequencer client can be opened now; prints nothing.
    static bool sequencerAvailable(const std::string& sequencerDevice = defaultSequencerDevice);

    // The name without RtMidi's trailing " client:port" numbers.
    static std::string stablePortName(const std::string& portName);
    // Stable across launches and builds; never 0.
    static FFMIDIUniqueID uniqueIDForPortName(const std::string& portName);
    // The IDs of a listing, in its order: distinct from each other and from
    // `reserved`, never 0.
    static std::vector<FFMIDIUniqueID> uniqueIDsForPortNames(
        const std::vector<std::string>& portNames, const std::vector<FFMIDIUniqueID>& reserved = {});

    std::string name() const override { return "alsa"; }
    int start(const std::string& clientName, Callbacks callbacks) override;
    std::vector<Source> sources() const override;
    int createInputPort(const std::string& name, FFMIDIPortRef& port) override;
    void disposeInputPort(FFMIDIPortRef port) override;
    int connectSource(FFMIDIPortRef port, FFMIDIUniqueID source) override;
    int disconnectSource(FFMIDIPortRef port, FFMIDIUniqueID source) override;
    int createDestination(const std::string& name, FFMIDIPortRef& port, FFMIDIUniqueID& uniqueID) override;
    int setDestinationUniqueID(FFMIDIPortRef port, FFMIDIUniqueID uniqueID) override;
    void disposeDestination(FFMIDIPortRef port) override;

private:
    // One RtMidiIn and what its threads need to know about it. Its address is
    // RtMidi's user data, so it stays put while the RtMidiIn lives.
    struct Listener {
        FFMIDIAlsaBackend* owner = nullptr;
        FFMIDIPortRef port = 0;
        FFMIDIUniqueID source = 0;
        std::atomic<bool> failed{false};
        std::unique_ptr<RtMidiIn> in;
        ~Listener();
    };

    struct InputPort {
        std::string name;
        std::map<FFMIDIUniqueID, std::unique_ptr<Listener>> listeners;
    };

    struct Destination {
        FFMIDIUniqueID uniqueID = 0;
        std::unique_ptr<Listener> listener;
    };

    static void messageCallback(double deltaTime, std::vector<unsigned char>* message, void* userData);

    int makeListener(FFMIDIPortRef port, FFMIDIUniqueID source, bool delivers,
                     std::unique_ptr<Listener>& made);
    std::vector<std::string> portNames() const;
    std::vector<FFMIDIUniqueID> destinationIDs() const;
    std::vector<Source> sourcesNamed(const std::vector<std::string>& names) const;
    bool idInUse(FFMIDIUniqueID uniqueID, FFMIDIPortRef except) const;
    void noteSetupChange();
    void pollLoop();
    void stopPolling();

    const std::string sequencerDevice_;
    std::string clientName_;
    Callbacks callbacks_;

    // Lists the ports; the poll thread uses it too.
    mutable std::mutex listerMutex_;
    std::unique_ptr<Listener> lister_;

    std::thread pollThread_;
    std::mutex pollMutex_;
    std::condition_variable pollWake_;
    bool pollStop_ = false;
    bool setupDirty_ = false;

    std::map<FFMIDIPortRef, InputPort> inputPorts_;
    std::map<FFMIDIPortRef, Destination> destinations_;
    FFMIDIPortRef nextPort_ = 1;
};

}  // namespace tollvane
