#include "midi/loopback/FFMIDILoopbackBackend.h"

#include <algorithm>
#include <utility>

namespace tollvane {

FFMIDILoopbackBackend::~FFMIDILoopbackBackend() {
    std::lock_guard lock(mutex_);
    callbacks_ = {};
    started_ = false;
}

int FFMIDILoopbackBackend::start(const std::string&, Callbacks callbacks) {
    std::lock_guard lock(mutex_);
    callbacks_ = std::move(callbacks);
    started_ = true;
    return 0;
}

std::vector<FFMIDIBackend::Source> FFMIDILoopbackBackend::sources() const {
    std::lock_guard lock(mutex_);
    return sources_;
}

int FFMIDILoopbackBackend::createInputPort(const std::string&, FFMIDIPortRef& port) {
    std::lock_guard lock(mutex_);
    if (portCreationError_ != 0) return std::exchange(portCreationError_, 0);
    port = nextPort_++;
    inputPorts_[port];
    return 0;
}

void FFMIDILoopbackBackend::disposeInputPort(FFMIDIPortRef port) {
    std::lock_guard lock(mutex_);
    inputPorts_.erase(port);
}

int FFMIDILoopbackBackend::connectSource(FFMIDIPortRef port, FFMIDIUniqueID source) {
    std::lock_guard lock(mutex_);
    if (connectionError_ != 0) return std::exchange(connectionError_, 0);
    auto found = inputPorts_.find(port);
    const bool known = std::any_of(sources_.begin(), sources_.end(),
                                   [source](const Source& s) { return s.uniqueID == source; });
    if (found == inputPorts_.end() || !known) return errorUnknownObject;
    found->second.insert(source);
    return 0;
}

int FFMIDILoopbackBackend::disconnectSource(FFMIDIPortRef port, FFMIDIUniqueID source) {
    std::lock_guard lock(mutex_);
    auto found = inputPorts_.find(port);
    if (found == inputPorts_.end() || found->second.erase(source) == 0) return errorUnknownObject;
    return 0;
}

bool FFMIDILoopbackBackend::idInUseLocked(FFMIDIUniqueID uniqueID) const {
    for (const Source& source : sources_) {
        if (source.uniqueID == uniqueID) return true;
    }
    for (const auto& [port, destination] : destinations_) {
        if (destination.uniqueID == uniqueID) return true;
    }
    return false;
}

int FFMIDILoopbackBackend::createDestination(const std::string& name, FFMIDIPortRef& port,
                                             FFMIDIUniqueID& uniqueID) {
    {
        std::lock_guard lock(mutex_);
        while (idInUseLocked(nextDestinationID_)) ++nextDestinationID_;
        uniqueID = nextDestinationID_++;
        port = nextPort_++;
        destinations_[port] = {name, uniqueID};
    }
    reportSetupChange();
    return 0;
}

int FFMIDILoopbackBackend::setDestinationUniqueID(FFMIDIPortRef port, FFMIDIUniqueID uniqueID) {
    std::lock_guard lock(mutex_);
    auto found = destinations_.find(port);
    if (found == destinations_.end()) return errorUnknownObject;
    if (found->second.uniqueID == uniqueID) return 0;
    if (uniqueID == 0 || idInUseLocked(uniqueID)) return errorIDNotUnique;
    found->second.uniqueID = uniqueID;
    return 0;
}

void FFMIDILoopbackBackend::disposeDestination(FFMIDIPortRef port) {
    {
        std::lock_guard lock(mutex_);
        if (destinations_.erase(port) == 0) return;
    }
    reportSetupChange();
}

void FFMIDILoopbackBackend::addSource(FFMIDIUniqueID uniqueID, std::string name) {
    {
        std::lock_guard lock(mutex_);
        auto found = std::find_if(sources_.begin(), sources_.end(),
                                  [uniqueID](const Source& s) { return s.uniqueID == uniqueID; });
        if (found != sources_.end()) {
            found->name = std::move(name);
        } else {
            sources_.push_back({uniqueID, std::move(name)});
        }
    }
    reportSetupChange();
}

void FFMIDILoopbackBackend::removeSource(FFMIDIUniqueID uniqueID) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(sources_, [uniqueID](const Source& s) { return s.uniqueID == uniqueID; });
        for (auto& [port, connected] : inputPorts_) connected.erase(uniqueID);
    }
    reportSetupChange();
}

bool FFMIDILoopbackBackend::sendFromSource(FFMIDIUniqueID source, const FFMIDIPacketList& packets) {
    std::vector<FFMIDIPortRef> ports;
    std::function<void(FFMIDIPortRef, FFMIDIUniqueID, FFMIDIPacketList &&)> received;
    {
        std::lock_guard lock(mutex_);
        if (!started_) return false;
        for (const auto& [port, connected] : inputPorts_) {
            if (connected.count(source)) ports.push_back(port);
        }
        received = callbacks_.received;
    }
    for (FFMIDIPortRef port : ports) received(port, source, FFMIDIPacketList(packets));
    return !ports.empty();
}

bool FFMIDILoopbackBackend::sendToDestination(FFMIDIUniqueID destination, const FFMIDIPacketList& packets) {
    std::function<void(FFMIDIPortRef, FFMIDIUniqueID, FFMIDIPacketList &&)> received;
    FFMIDIPortRef target = 0;
    {
        std::lock_guard lock(mutex_);
        if (!started_) return false;
        for (const auto& [port, entry] : destinations_) {
            if (entry.uniqueID == destination) target = port;
        }
        if (target == 0) return false;
        received = callbacks_.received;
    }
    received(target, 0, FFMIDIPacketList(packets));
    return true;
}

bool FFMIDILoopbackBackend::sendToDestinationNamed(const std::string& name, const FFMIDIPacketList& packets) {
    FFMIDIUniqueID uniqueID = 0;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [port, entry] : destinations_) {
            if (entry.name == name) {
                uniqueID = entry.uniqueID;
                break;
            }
        }
    }
    return uniqueID != 0 && sendToDestination(uniqueID, packets);
}

std::vector<FFMIDIBackend::Source> FFMIDILoopbackBackend::destinations() const {
    std::lock_guard lock(mutex_);
    std::vector<Source> present;
    for (const auto& [port, entry] : destinations_) present.push_back({entry.uniqueID, entry.name});
    return present;
}

void FFMIDILoopbackBackend::failNextPortCreation(int error) {
    std::lock_guard lock(mutex_);
    portCreationError_ = error;
}

void FFMIDILoopbackBackend::failNextConnection(int error) {
    std::lock_guard lock(mutex_);
    connectionError_ = error;
}

void FFMIDILoopbackBackend::reportSetupChange() {
    std::function<void()> setupChanged;
    {
        std::lock_guard lock(mutex_);
        if (!started_) return;
        setupChanged = callbacks_.setupChanged;
    }
    if (setupChanged) setupChanged();
}

}  // namespace tollvane
