#pragma once

// The program's one connection to the MIDI system, over a backend. Lists the
// sources with stable endpoint objects (one per unique ID for the life of
// the client), turns setup changes into "FFMIDIClientSetupChangedNotification"
// (posted on the main thread, the client as its object), and carries what
// arrives to the main thread: the backend's thread copies each packet list
// into a mutex-guarded queue and wakes the main run loop, which empties the
// queue and gives each list to the input stream of its port.
//
// Threads: everything on the main thread, which must run the RunLoop given
// at construction. The client must outlive its input streams.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/FFMIDIBackend.h"
#include "midi/FFMIDISourceEndpoint.h"

namespace tollvane {

class FFMIDIInputStream;
class RunLoop;

inline constexpr const char* FFMIDIClientSetupChangedNotification = "FFMIDIClientSetupChangedNotification";

class FFMIDIClient {
public:
    // Starts the backend; a failure is logged as "Couldn't create a MIDI
    // client (error %ld)" and leaves a client with no sources that delivers
    // nothing (isValid() false).
    FFMIDIClient(std::unique_ptr<FFMIDIBackend> backend, std::string name, RunLoop& loop);
    ~FFMIDIClient();
    FFMIDIClient(const FFMIDIClient&) = delete;
    FFMIDIClient& operator=(const FFMIDIClient&) = delete;

    const std::string& name() const { return name_; }
    bool isValid() const { return valid_; }
    FFMIDIBackend& backend() { return *backend_; }

    // The sources present now, in the backend's order.
    std::vector<std::shared_ptr<FFMIDISourceEndpoint>> sources();
    // Null when no present source has that ID.
    std::shared_ptr<FFMIDISourceEndpoint> sourceWithUniqueID(FFMIDIUniqueID uniqueID);

    // For input streams: which stream takes what arrives at a port.
    void registerStream(FFMIDIPortRef port, FFMIDIInputStream* stream);
    void unregisterStream(FFMIDIPortRef port);

    // Delivers what is queued now; the run loop does this by itself.
    void deliverQueuedPacketLists();

private:
    struct Arrival {
        FFMIDIPortRef port;
        FFMIDIUniqueID source;
        FFMIDIPacketList packets;
    };
    // Shared with the run-loop work so that work posted before the client
    // died finds it gone instead of a dangling pointer.
    struct Shared {
        std::mutex mutex;
        FFMIDIClient* client = nullptr;
        std::vector<Arrival> queue;
    };

    void enqueue(FFMIDIPortRef port, FFMIDIUniqueID source, FFMIDIPacketList&& packets);
    void setupChanged();

    std::unique_ptr<FFMIDIBackend> backend_;
    const std::string name_;
    RunLoop& loop_;
    bool valid_ = false;
    std::shared_ptr<Shared> shared_;
    std::map<FFMIDIUniqueID, std::shared_ptr<FFMIDISourceEndpoint>> endpoints_;
    std::map<FFMIDIPortRef, FFMIDIInputStream*> streams_;
};

}  // namespace tollvane
