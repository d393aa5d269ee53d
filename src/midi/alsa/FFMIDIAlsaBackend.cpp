#include "midi/alsa/FFMIDIAlsaBackend.h"

#include <RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <set>
#include <utility>

#include "platform/AlsaLibraryMessages.h"
#include "platform/HostClock.h"
#include "platform/Log.h"

namespace tollvane {

namespace {

bool deviceUsable(const std::string& path) {
    return access(path.c_str(), R_OK | W_OK) == 0;
}

void logRtMidiError(RtMidiError::Type type, const std::string& text, void* userData) {
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING && userData != nullptr) {
        static_cast<std::atomic<bool>*>(userData)->store(true, std::memory_order_release);
    }
    if (type == RtMidiError::DEBUG_WARNING) return;
    TLLog("ALSA MIDI: %s", text.c_str());
}

FFMIDIUniqueID nextCandidate(FFMIDIUniqueID id) {
    uint32_t next = static_cast<uint32_t>(id) + 1;
    if (next == 0) next = 1;
    return static_cast<FFMIDIUniqueID>(next);
}

}  // namespace

FFMIDIAlsaBackend::Listener::~Listener() = default;

FFMIDIAlsaBackend::FFMIDIAlsaBackend(std::string sequencerDevice)
    : sequencerDevice_(std::move(sequencerDevice)) {}

FFMIDIAlsaBackend::~FFMIDIAlsaBackend() {
    stopPolling();
    // Closing an RtMidiIn joins its input thread, so no delivery outlives this.
    inputPorts_.clear();
    destinations_.clear();
    std::lock_guard lock(listerMutex_);
    lister_.reset();
}

bool FFMIDIAlsaBackend::sequencerAvailable(const std::string& sequencerDevice) {
    // RtMidi writes to stderr before it throws, so an absent device is caught here first.
    if (!deviceUsable(sequencerDevice)) return false;
    quietAlsaLibraryMessages();
    try {
        RtMidiIn probe(RtMidi::LINUX_ALSA, "Tollvane probe");
        return probe.getCurrentApi() == RtMidi::LINUX_ALSA;
    } catch (const std::exception&) {
        return false;
    }
}

std::string FFMIDIAlsaBackend::stablePortName(const std::string& portName) {
    // Strip " <digits>:<digits>" at the end, and nothing else.
    size_t end = portName.size();
    size_t i = end;
    const auto digitsBefore = [&](size_t from) {
        size_t j = from;
        while (j > 0 && std::isdigit(static_cast<unsigned char>(portName[j - 1]))) --j;
        return j;
    };
    i = digitsBefore(end);
    if (i == end || i == 0 || portName[i - 1] != ':') return portName;
    const size_t colon = i - 1;
    i = digitsBefore(colon);
    if (i == colon || i == 0 || portName[i - 1] != ' ') return portName;
    return portName.substr(0, i - 1);
}

FFMIDIUniqueID FFMIDIAlsaBackend::uniqueIDForPortName(const std::string& portName) {
    // FNV-1a: stable across launches and builds, unlike std::hash.
    uint32_t hash = 2166136261u;
    for (const char c : stablePortName(portName)) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 16777619u;
    }
    if (hash == 0) hash = 1;
    return static_cast<FFMIDIUniqueID>(hash);
}

std::vector<FFMIDIUniqueID> FFMIDIAlsaBackend::uniqueIDsForPortNames(
    const std::vector<std::string>& portNames, const std::vector<FFMIDIUniqueID>& reserved) {
    std::set<FFMIDIUniqueID> taken(reserved.begin(), reserved.end());
    taken.insert(0);
    std::vector<FFMIDIUniqueID> ids;
    ids.reserve(portNames.size());
    for (const std::string& name : portNames) {
        FFMIDIUniqueID id = uniqueIDForPortName(name);
        while (taken.count(id) != 0) id = nextCandidate(id);
        taken.insert(id);
        ids.push_back(id);
    }
    return ids;
}

int FFMIDIAlsaBackend::makeListener(FFMIDIPortRef port, FFMIDIUniqueID source, bool delivers,
                                    std::unique_ptr<Listener>& made) {
    auto listener = std::make_unique<Listener>();
    listener->owner = this;
    listener->port = port;
    listener->source = source;
    try {
        listener->in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, clientName_);
        listener->in->setErrorCallback(&logRtMidiError, &listener->failed);
        if (delivers) {
            // MTC and system exclusive are what we are here for; pass everything on.
            listener->in->ignoreTypes(false, false, false);
            listener->in->setCallback(&messageCallback, listener.get());
        }
    } catch (const std::exception& error) {
        TLLog("ALSA MIDI: %s", error.what());
        return errorSequencerRefused;
    }
    if (listener->failed.load(std::memory_order_acquire)) return errorSequencerRefused;
    made = std::move(listener);
    return 0;
}

int FFMIDIAlsaBackend::start(const std::string& clientName, Callbacks callbacks) {
    if (lister_) return 0;
    if (!deviceUsable(sequencerDevice_)) {
        TLLog("The ALSA sequencer cannot be opened (%s: %s)", sequencerDevice_.c_str(), std::strerror(errno));
        return errorNoSequencer;
    }
    quietAlsaLibraryMessages();
    clientName_ = clientName.empty() ? std::string("Tollvane") : clientName;
    std::unique_ptr<Listener> lister;
    if (makeListener(0, 0, false, lister) != 0) {
        TLLog("The ALSA sequencer cannot be opened (%s)", sequencerDevice_.c_str());
        return errorNoSequencer;
    }
    callbacks_ = std::move(callbacks);
    {
        std::lock_guard lock(listerMutex_);
        lister_ = std::move(lister);
    }
    pollStop_ = false;
    pollThread_ = std::thread([this, names = portNames()]() mutable {
        std::vector<std::string> last = std::move(names);
        std::unique_lock lock(pollMutex_);
        while (true) {
            pollWake_.wait_for(lock, pollInterval, [this] { return pollStop_ || setupDirty_; });
            if (pollStop_) return;
            const bool dirty = std::exchange(setupDirty_, false);
            lock.unlock();
            std::vector<std::string> current = portNames();
            const bool changed = dirty || current != last;
            last = std::move(current);
            if (changed && callbacks_.setupChanged) callbacks_.setupChanged();
            lock.lock();
        }
    });
    return 0;
}

void FFMIDIAlsaBackend::stopPolling() {
    {
        std::lock_guard lock(pollMutex_);
        pollStop_ = true;
    }
    pollWake_.notify_all();
    if (pollThread_.joinable()) pollThread_.join();
}

void FFMIDIAlsaBackend::noteSetupChange() {
    {
        std::lock_guard lock(pollMutex_);
        setupDirty_ = true;
    }
    pollWake_.notify_all();
}

std::vector<std::string> FFMIDIAlsaBackend::portNames() const {
    std::vector<std::string> names;
    std::lock_guard lock(listerMutex_);
    if (!lister_) return names;
    try {
        const unsigned count = lister_->in->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            // A port that went between the count and now answers an empty name.
            std::string name = lister_->in->getPortName(i);
            if (!name.empty()) names.push_back(std::move(name));
        }
    } catch (const std::exception& error) {
        TLLog("ALSA MIDI: %s", error.what());
    }
    return names;
}

std::vector<FFMIDIUniqueID> FFMIDIAlsaBackend::destinationIDs() const {
    std::vector<FFMIDIUniqueID> ids;
    for (const auto& [port, destination] : destinations_) ids.push_back(destination.uniqueID);
    return ids;
}

std::vector<FFMIDIBackend::Source> FFMIDIAlsaBackend::sourcesNamed(
    const std::vector<std::string>& names) const {
    const std::vector<FFMIDIUniqueID> ids = uniqueIDsForPortNames(names, destinationIDs());
    std::vector<Source> found;
    found.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) found.push_back({ids[i], names[i]});
    return found;
}

std::vector<FFMIDIBackend::Source> FFMIDIAlsaBackend::sources() const {
    return sourcesNamed(portNames());
}

int FFMIDIAlsaBackend::createInputPort(const std::string& name, FFMIDIPortRef& port) {
    if (!lister_) return errorNoSequencer;
    port = nextPort_++;
    inputPorts_[port].name = name.empty() ? std::string("in") : name;
    return 0;
}

void FFMIDIAlsaBackend::disposeInputPort(FFMIDIPortRef port) {
    inputPorts_.erase(port);
}

int FFMIDIAlsaBackend::connectSource(FFMIDIPortRef port, FFMIDIUniqueID source) {
    if (!lister_) return errorNoSequencer;
    auto found = inputPorts_.find(port);
    if (found == inputPorts_.end()) return errorUnknownObject;
    if (found->second.listeners.count(source) != 0) return 0;
    std::string sourceName;
    for (const Source& candidate : sources()) {
        if (candidate.uniqueID == source) sourceName = candidate.name;
    }
    if (sourceName.empty()) return errorUnknownObject;

    std::unique_ptr<Listener> listener;
    if (const int error = makeListener(port, source, true, listener); error != 0) return error;
    // The new client numbers the ports afresh; find the source again by its full name.
    try {
        const unsigned count = listener->in->getPortCount();
        unsigned index = count;
        for (unsigned i = 0; i < count && index == count; ++i) {
            if (listener->in->getPortName(i) == sourceName) index = i;
        }
        if (index == count) return errorUnknownObject;
        listener->in->openPort(index, found->second.name);
    } catch (const std::exception& error) {
        TLLog("ALSA MIDI: %s", error.what());
        return errorSequencerRefused;
    }
    if (listener->failed.load(std::memory_order_acquire) || !listener->in->isPortOpen()) {
        return errorSequencerRefused;
    }
    found->second.listeners[source] = std::move(listener);
    return 0;
}

int FFMIDIAlsaBackend::disconnectSource(FFMIDIPortRef port, FFMIDIUniqueID source) {
    auto found = inputPorts_.find(port);
    if (found == inputPorts_.end()) return errorUnknownObject;
    return found->second.listeners.erase(source) != 0 ? 0 : errorUnknownObject;
}

bool FFMIDIAlsaBackend::idInUse(FFMIDIUniqueID uniqueID, FFMIDIPortRef except) const {
    for (const auto& [port, destination] : destinations_) {
        if (port != except && destination.uniqueID == uniqueID) return true;
    }
    for (const Source& source : sources()) {
        if (source.uniqueID == uniqueID) return true;
    }
    return false;
}

int FFMIDIAlsaBackend::createDestination(const std::string& name, FFMIDIPortRef& port,
                                         FFMIDIUniqueID& uniqueID) {
    if (!lister_) return errorNoSequencer;
    const FFMIDIPortRef ref = nextPort_;
    std::unique_ptr<Listener> listener;
    if (const int error = makeListener(ref, 0, true, listener); error != 0) return error;
    try {
        listener->in->openVirtualPort(name);
    } catch (const std::exception& error) {
        TLLog("ALSA MIDI: %s", error.what());
        return errorSequencerRefused;
    }
    if (listener->failed.load(std::memory_order_acquire)) return errorSequencerRefused;
    ++nextPort_;
    FFMIDIUniqueID id = uniqueIDForPortName(clientName_ + ":" + name);
    while (idInUse(id, 0)) id = nextCandidate(id);
    destinations_[ref] = {id, std::move(listener)};
    port = ref;
    uniqueID = id;
    noteSetupChange();
    return 0;
}

int FFMIDIAlsaBackend::setDestinationUniqueID(FFMIDIPortRef port, FFMIDIUniqueID uniqueID) {
    auto found = destinations_.find(port);
    if (found == destinations_.end()) return errorUnknownObject;
    if (found->second.uniqueID == uniqueID) return 0;
    if (uniqueID == 0 || idInUse(uniqueID, port)) return errorIDNotUnique;
    found->second.uniqueID = uniqueID;
    return 0;
}

void FFMIDIAlsaBackend::disposeDestination(FFMIDIPortRef port) {
    if (destinations_.erase(port) == 0) return;
    noteSetupChange();
}

void FFMIDIAlsaBackend::messageCallback(double, std::vector<unsigned char>* message, void* userData) {
    if (message == nullptr || message->empty()) return;
    const uint64_t arrival = HostClock::shared().now();
    const auto* listener = static_cast<const Listener*>(userData);
    const Callbacks& callbacks = listener->owner->callbacks_;
    if (!callbacks.received) return;
    FFMIDIPacketList packets;
    packets.addPacket(arrival, std::span<const uint8_t>(message->data(), message->size()));
    callbacks.received(listener->port, listener->source, std::move(packets));
}

}  // namespace tollvane
