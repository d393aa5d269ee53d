#include "midi/jack/FFMIDIJackBackend.h"

#include <jack/midiport.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "platform/Log.h"

namespace tollvane {

namespace {

uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

jack_client_t* openClient(const std::string& clientName, const std::string& serverName) {
    jack_status_t status{};
    if (serverName.empty()) return jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    return jack_client_open(clientName.c_str(),
                            static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                            serverName.c_str());
}

// JACK prints its own diagnostics to stderr; probing for a server that is not
// there is routine, so those lines are silenced while the program runs.
void quietJackErrors(const char*) {}

}  // namespace

FFMIDIJackBackend::FFMIDIJackBackend(std::string serverName) : serverName_(std::move(serverName)) {}

FFMIDIJackBackend::~FFMIDIJackBackend() {
    if (client_ != nullptr) {
        // Stops the process and notification callbacks before anything they use goes.
        jack_deactivate(client_);
    }
    if (deliveryThread_.joinable()) {
        stopping_.store(true, std::memory_order_release);
        wake_.release();
        deliveryThread_.join();
    }
    if (client_ != nullptr) jack_client_close(client_);
}

bool FFMIDIJackBackend::serverRunning(const std::string& serverName) {
    jack_set_error_function(quietJackErrors);
    jack_client_t* probe = openClient("tollvane-probe", serverName);
    if (probe == nullptr) return false;
    jack_client_close(probe);
    return true;
}

FFMIDIUniqueID FFMIDIJackBackend::uniqueIDForPortName(const std::string& fullName) {
    // FNV-1a: stable across launches and builds, unlike std::hash.
    uint32_t hash = 2166136261u;
    for (const char c : fullName) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 16777619u;
    }
    if (hash == 0) hash = 1;
    return static_cast<FFMIDIUniqueID>(hash);
}

uint64_t FFMIDIJackBackend::hostTimeForFrame(uint64_t cycleStart, uint32_t frameOffset, uint32_t sampleRate) {
    if (sampleRate == 0) return cycleStart;
    return cycleStart + (uint64_t{frameOffset} * 1000000000u + sampleRate / 2) / sampleRate;
}

int FFMIDIJackBackend::start(const std::string& clientName, Callbacks callbacks) {
    if (client_ != nullptr) return 0;
    jack_set_error_function(quietJackErrors);
    client_ = openClient(clientName, serverName_);
    if (client_ == nullptr) return errorNoServer;
    callbacks_ = std::move(callbacks);

    // jackd2 reads CLOCK_MONOTONIC in microseconds; a server on another clock
    // is brought onto ours by the offset measured here.
    const uint64_t before = monotonicNanoseconds();
    const uint64_t jackNow = jack_get_time() * 1000u;
    const uint64_t after = monotonicNanoseconds();
    const int64_t offset = static_cast<int64_t>(before / 2 + after / 2) - static_cast<int64_t>(jackNow);
    if (std::llabs(offset) > 1000000) {
        clockOffset_ = offset;
        TLLog("The JACK server's clock differs from the host clock by %lld ns; correcting",
              static_cast<long long>(offset));
    }
    sampleRate_.store(jack_get_sample_rate(client_), std::memory_order_relaxed);

    jack_set_process_callback(client_, processCallback, this);
    jack_set_sample_rate_callback(client_, sampleRateCallback, this);
    jack_set_port_registration_callback(client_, portRegistrationCallback, this);
    jack_set_port_rename_callback(client_, portRenameCallback, this);
    jack_on_shutdown(client_, shutdownCallback, this);

    deliveryThread_ = std::thread([this] { deliveryLoop(); });
    if (jack_activate(client_) != 0) {
        stopping_.store(true, std::memory_order_release);
        wake_.release();
        deliveryThread_.join();
        jack_client_close(client_);
        client_ = nullptr;
        return errorServerRefused;
    }
    return 0;
}

bool FFMIDIJackBackend::connected() const {
    return client_ != nullptr && !shutDown_.load(std::memory_order_acquire);
}

std::vector<FFMIDIBackend::Source> FFMIDIJackBackend::sources() const {
    std::vector<Source> found;
    if (!connected()) return found;
    const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    if (names == nullptr) return found;
    for (const char** name = names; *name != nullptr; ++name) {
        found.push_back({uniqueIDForPortName(*name), *name});
    }
    jack_free(names);
    return found;
}

std::string FFMIDIJackBackend::sourcePortName(FFMIDIUniqueID source) const {
    for (const Source& candidate : sources()) {
        if (candidate.uniqueID == source) return candidate.name;
    }
    return {};
}

int FFMIDIJackBackend::publish(const std::string& portName, FFMIDIPortRef ref, FFMIDIUniqueID source,
                               size_t& slot) {
    auto free = std::find_if(slots_.begin(), slots_.end(),
                             [](const Slot& s) { return s.port.load(std::memory_order_relaxed) == nullptr; });
    if (free == slots_.end()) return errorTooManyPorts;
    jack_port_t* port =
        jack_port_register(client_, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (port == nullptr) return errorServerRefused;
    free->ref = ref;
    free->source = source;
    free->port.store(port, std::memory_order_release);
    slot = static_cast<size_t>(free - slots_.begin());
    return 0;
}

void FFMIDIJackBackend::retire(size_t slot) {
    jack_port_t* port = slots_[slot].port.exchange(nullptr, std::memory_order_acq_rel);
    if (port == nullptr) return;
    // A cycle that read the port before it was cleared must end before the
    // port is unregistered and the slot reused.
    if (connected()) {
        const uint64_t seen = cycles_.load(std::memory_order_acquire);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        while (cycles_.load(std::memory_order_acquire) == seen &&
               std::chrono::steady_clock::now() < deadline && !shutDown_.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        jack_port_unregister(client_, port);
    }
}

int FFMIDIJackBackend::createInputPort(const std::string& name, FFMIDIPortRef& port) {
    if (!connected()) return errorNoServer;
    port = nextPort_++;
    inputPorts_[port].name = name.empty() ? std::string("in") : name;
    return 0;
}

void FFMIDIJackBackend::disposeInputPort(FFMIDIPortRef port) {
    auto found = inputPorts_.find(port);
    if (found == inputPorts_.end()) return;
    for (const auto& [source, slot] : found->second.slots) retire(slot);
    inputPorts_.erase(found);
}

int FFMIDIJackBackend::connectSource(FFMIDIPortRef port, FFMIDIUniqueID source) {
    if (!connected()) return errorNoServer;
    auto found = inputPorts_.find(port);
    if (found == inputPorts_.end()) return errorUnknownObject;
    const std::string sourceName = sourcePortName(source);
    if (sourceName.empty()) return errorUnknownObject;
    InputPort& input = found->second;
    if (input.slots.count(source) != 0) return 0;

    size_t slot = 0;
    const std::string portName = input.name + " " + std::to_string(input.nextSuffix++);
    if (const int error = publish(portName, port, source, slot); error != 0) return error;
    const int error = jack_connect(client_, sourceName.c_str(), jack_port_name(slots_[slot].port.load()));
    if (error != 0 && error != EEXIST) {
        retire(slot);
        return errorServerRefused;
    }
    input.slots[source] = slot;
    return 0;
}

int FFMIDIJackBackend::disconnectSource(FFMIDIPortRef port, FFMIDIUniqueID source) {
    auto found = inputPorts_.find(port);
    if (found == inputPorts_.end()) return errorUnknownObject;
    auto slot = found->second.slots.find(source);
    if (slot == found->second.slots.end()) return errorUnknownObject;
    retire(slot->second);
    found->second.slots.erase(slot);
    return 0;
}

bool FFMIDIJackBackend::idInUse(FFMIDIUniqueID uniqueID, FFMIDIPortRef except) const {
    for (const auto& [port, destination] : destinations_) {
        if (port != except && destination.uniqueID == uniqueID) return true;
    }
    for (const Source& source : sources()) {
        if (source.uniqueID == uniqueID) return true;
    }
    return false;
}

int FFMIDIJackBackend::createDestination(const std::string& name, FFMIDIPortRef& port,
                                         FFMIDIUniqueID& uniqueID) {
    if (!connected()) return errorNoServer;
    const FFMIDIPortRef ref = nextPort_;
    size_t slot = 0;
    if (const int error = publish(name, ref, 0, slot); error != 0) return error;
    ++nextPort_;
    FFMIDIUniqueID id = uniqueIDForPortName(jack_port_name(slots_[slot].port.load()));
    while (id == 0 || idInUse(id, 0)) ++id;
    destinations_[ref] = {name, id, slot};
    port = ref;
    uniqueID = id;
    setupDirty_.store(true, std::memory_order_release);
    wake_.release();
    return 0;
}

int FFMIDIJackBackend::setDestinationUniqueID(FFMIDIPortRef port, FFMIDIUniqueID uniqueID) {
    auto found = destinations_.find(port);
    if (found == destinations_.end()) return errorUnknownObject;
    if (found->second.uniqueID == uniqueID) return 0;
    if (uniqueID == 0 || idInUse(uniqueID, port)) return errorIDNotUnique;
    found->second.uniqueID = uniqueID;
    return 0;
}

void FFMIDIJackBackend::disposeDestination(FFMIDIPortRef port) {
    auto found = destinations_.find(port);
    if (found == destinations_.end()) return;
    retire(found->second.slot);
    destinations_.erase(found);
    setupDirty_.store(true, std::memory_order_release);
    wake_.release();
}

std::string FFMIDIJackBackend::destinationPortName(FFMIDIPortRef port) const {
    auto found = destinations_.find(port);
    if (found == destinations_.end()) return {};
    jack_port_t* jackPort = slots_[found->second.slot].port.load(std::memory_order_acquire);
    return jackPort != nullptr ? jack_port_name(jackPort) : std::string();
}

int FFMIDIJackBackend::processCallback(jack_nframes_t frames, void* arg) {
    return static_cast<FFMIDIJackBackend*>(arg)->process(frames);
}

int FFMIDIJackBackend::process(jack_nframes_t frames) {
    jack_nframes_t cycleFrames = 0;
    jack_time_t cycleStartMicros = 0;
    jack_time_t nextCycleMicros = 0;
    float periodMicros = 0;
    uint64_t cycleStart = 0;
    if (jack_get_cycle_times(client_, &cycleFrames, &cycleStartMicros, &nextCycleMicros, &periodMicros) ==
        0) {
        cycleStart = static_cast<uint64_t>(static_cast<int64_t>(cycleStartMicros * 1000u) + clockOffset_);
    } else {
        cycleStart = monotonicNanoseconds();
    }
    const uint32_t sampleRate = sampleRate_.load(std::memory_order_relaxed);

    bool wrote = false;
    for (Slot& slot : slots_) {
        jack_port_t* port = slot.port.load(std::memory_order_acquire);
        if (port == nullptr) continue;
        void* buffer = jack_port_get_buffer(port, frames);
        if (buffer == nullptr) continue;
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event{};
            if (jack_midi_event_get(&event, buffer, i) != 0) continue;
            const uint64_t hostTime = hostTimeForFrame(cycleStart, event.time, sampleRate);
            if (!ring_.push(hostTime, slot.ref, slot.source,
                            std::span<const uint8_t>(event.buffer, event.size))) {
                dropped_.fetch_add(1, std::memory_order_relaxed);
            }
            wrote = true;
        }
    }
    cycles_.fetch_add(1, std::memory_order_acq_rel);
    if (wrote && !wakePending_.exchange(true, std::memory_order_acq_rel)) wake_.release();
    return 0;
}

int FFMIDIJackBackend::sampleRateCallback(jack_nframes_t rate, void* arg) {
    static_cast<FFMIDIJackBackend*>(arg)->sampleRate_.store(rate, std::memory_order_relaxed);
    return 0;
}

void FFMIDIJackBackend::noteForeignPortChange(jack_port_id_t id) {
    // Our own per-source ports come and go with the selection; reporting them
    // would have the selection re-applied for nothing.
    jack_port_t* port = jack_port_by_id(client_, id);
    if (port != nullptr && jack_port_is_mine(client_, port)) return;
    setupDirty_.store(true, std::memory_order_release);
    wake_.release();
}

void FFMIDIJackBackend::portRegistrationCallback(jack_port_id_t port, int, void* arg) {
    static_cast<FFMIDIJackBackend*>(arg)->noteForeignPortChange(port);
}

void FFMIDIJackBackend::portRenameCallback(jack_port_id_t port, const char*, const char*, void* arg) {
    static_cast<FFMIDIJackBackend*>(arg)->noteForeignPortChange(port);
}

void FFMIDIJackBackend::shutdownCallback(void* arg) {
    auto* self = static_cast<FFMIDIJackBackend*>(arg);
    self->shutDown_.store(true, std::memory_order_release);
    self->setupDirty_.store(true, std::memory_order_release);
    self->wake_.release();
}

void FFMIDIJackBackend::deliveryLoop() {
    while (!stopping_.load(std::memory_order_acquire)) {
        wake_.try_acquire_for(std::chrono::milliseconds(100));
        if (stopping_.load(std::memory_order_acquire)) break;
        wakePending_.store(false, std::memory_order_release);
        deliverQueuedEvents();
        if (setupDirty_.exchange(false, std::memory_order_acq_rel) && callbacks_.setupChanged) {
            callbacks_.setupChanged();
        }
        const uint64_t dropped = dropped_.load(std::memory_order_relaxed);
        if (dropped != droppedReported_) {
            TLLog("JACK MIDI input queue full: %llu events dropped",
                  static_cast<unsigned long long>(dropped - droppedReported_));
            droppedReported_ = dropped;
        }
    }
}

void FFMIDIJackBackend::deliverQueuedEvents() {
    // Consecutive events from the same port and source travel in one list.
    FFMIDIPacketList list;
    FFMIDIPortRef listPort = 0;
    FFMIDIUniqueID listSource = 0;
    const auto handOver = [&] {
        if (list.empty()) return;
        if (callbacks_.received) callbacks_.received(listPort, listSource, std::move(list));
        list = FFMIDIPacketList();
    };
    JackMidiEventRing::Header header;
    std::vector<uint8_t> bytes;
    while (ring_.pop(header, bytes)) {
        if (!list.empty() && (header.port != listPort || header.source != listSource)) handOver();
        listPort = header.port;
        listSource = header.source;
        list.addPacket(header.hostTime, bytes);
    }
    handOver();
}

}  // namespace tollvane
