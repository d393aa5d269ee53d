#include "midi/FFMIDIClient.h"

#include "midi/FFMIDIInputStream.h"
#include "platform/HostClock.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"

namespace tollvane {

FFMIDIClient::FFMIDIClient(std::unique_ptr<FFMIDIBackend> backend, std::string name, RunLoop& loop)
    : backend_(std::move(backend)), name_(std::move(name)), loop_(loop), shared_(std::make_shared<Shared>()) {
    shared_->client = this;
    std::weak_ptr<Shared> weakShared = shared_;
    RunLoop* loopPointer = &loop_;
    FFMIDIBackend::Callbacks callbacks;
    callbacks.received = [this](FFMIDIPortRef port, FFMIDIUniqueID source, FFMIDIPacketList&& packets) {
        enqueue(port, source, std::move(packets));
    };
    callbacks.setupChanged = [weakShared, loopPointer] {
        loopPointer->post([weakShared] {
            const std::shared_ptr<Shared> shared = weakShared.lock();
            if (shared && shared->client) shared->client->setupChanged();
        });
    };
    const int error = backend_->start(name_, std::move(callbacks));
    if (error != 0) {
        TLLog("Couldn't create a MIDI client (error %ld)", static_cast<long>(error));
        return;
    }
    valid_ = true;
}

FFMIDIClient::~FFMIDIClient() {
    // The backend stops calling back before anything it could reach goes away.
    backend_.reset();
    std::lock_guard lock(shared_->mutex);
    shared_->client = nullptr;
    shared_->queue.clear();
}

std::vector<std::shared_ptr<FFMIDISourceEndpoint>> FFMIDIClient::sources() {
    std::vector<std::shared_ptr<FFMIDISourceEndpoint>> present;
    if (!valid_) return present;
    for (const FFMIDIBackend::Source& source : backend_->sources()) {
        std::shared_ptr<FFMIDISourceEndpoint>& endpoint = endpoints_[source.uniqueID];
        if (!endpoint) {
            endpoint = std::make_shared<FFMIDISourceEndpoint>(source.uniqueID, source.name);
        } else if (endpoint->name() != source.name) {
            endpoint->setName(source.name);
        }
        present.push_back(endpoint);
    }
    return present;
}

std::shared_ptr<FFMIDISourceEndpoint> FFMIDIClient::sourceWithUniqueID(FFMIDIUniqueID uniqueID) {
    for (const auto& source : sources()) {
        if (source->uniqueID() == uniqueID) return source;
    }
    return nullptr;
}

void FFMIDIClient::registerStream(FFMIDIPortRef port, FFMIDIInputStream* stream) {
    streams_[port] = stream;
}

void FFMIDIClient::unregisterStream(FFMIDIPortRef port) {
    streams_.erase(port);
    std::lock_guard lock(shared_->mutex);
    std::erase_if(shared_->queue, [port](const Arrival& arrival) { return arrival.port == port; });
}

void FFMIDIClient::enqueue(FFMIDIPortRef port, FFMIDIUniqueID source, FFMIDIPacketList&& packets) {
    // "Now" is the moment of arrival, not of parsing on the main thread.
    const uint64_t now = HostClock::shared().now();
    for (FFMIDIPacket& packet : packets.packets()) {
        if (packet.timeStamp == 0) packet.timeStamp = now;
    }
    bool wasEmpty = false;
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->client) return;
        wasEmpty = shared_->queue.empty();
        shared_->queue.push_back({port, source, std::move(packets)});
    }
    if (!wasEmpty) return;
    std::weak_ptr<Shared> weakShared = shared_;
    loop_.post([weakShared] {
        const std::shared_ptr<Shared> shared = weakShared.lock();
        if (shared && shared->client) shared->client->deliverQueuedPacketLists();
    });
}

void FFMIDIClient::deliverQueuedPacketLists() {
    std::vector<Arrival> arrivals;
    {
        std::lock_guard lock(shared_->mutex);
        arrivals.swap(shared_->queue);
    }
    for (Arrival& arrival : arrivals) {
        auto stream = streams_.find(arrival.port);
        if (stream != streams_.end()) stream->second->takePacketList(arrival.source, arrival.packets);
    }
}

void FFMIDIClient::setupChanged() {
    sources();
    NotificationCenter::defaultCenter().postNotificationName(FFMIDIClientSetupChangedNotification, this);
}

}  // namespace tollvane
