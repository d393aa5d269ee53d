#include "midi/FFMIDIVirtualInputStream.h"

#include <cstdint>

#include "midi/FFMIDIClient.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"

namespace tollvane {

FFMIDIVirtualInputStream::FFMIDIVirtualInputStream(FFMIDIClient& client) : FFMIDIInputStream(client) {}

FFMIDIVirtualInputStream::~FFMIDIVirtualInputStream() {
    setActive(false);
}

void FFMIDIVirtualInputStream::setActive(bool active) {
    if (active == isActive()) return;
    if (!active) {
        client_.unregisterStream(port_);
        client_.backend().disposeDestination(port_);
        removeParserForEndpoint(endpoint_->uniqueID());
        endpoint_.reset();
        return;
    }
    FFMIDIUniqueID uniqueID = 0;
    const int error =
        client_.isValid() ? client_.backend().createDestination(client_.name(), port_, uniqueID) : -1;
    if (error != 0) {
        TLLog("Couldn't create a MIDI destination (error %ld)", static_cast<long>(error));
        return;
    }
    endpoint_ = std::make_shared<FFMIDIDestinationEndpoint>(uniqueID, client_.name());
    parserForEndpoint(endpoint_);
    client_.registerStream(port_, this);
}

bool FFMIDIVirtualInputStream::setUniqueID(FFMIDIUniqueID uniqueID) {
    if (!endpoint_) return false;
    if (uniqueID == endpoint_->uniqueID()) return true;
    if (client_.backend().setDestinationUniqueID(port_, uniqueID) != 0) return false;
    removeParserForEndpoint(endpoint_->uniqueID());
    endpoint_ = std::make_shared<FFMIDIDestinationEndpoint>(uniqueID, client_.name());
    parserForEndpoint(endpoint_);
    return true;
}

void FFMIDIVirtualInputStream::keepUniqueIDAcrossLaunches(UserDefaults& defaults) {
    if (!endpoint_) return;
    const int64_t kept = defaults.integerForKey("internalVirtualInputStreamID");
    if (kept != 0 && kept >= INT32_MIN && kept <= INT32_MAX) setUniqueID(static_cast<FFMIDIUniqueID>(kept));
    defaults.setInteger("internalVirtualInputStreamID", uniqueID());
}

void FFMIDIVirtualInputStream::takePacketList(FFMIDIUniqueID, const FFMIDIPacketList& packets) {
    if (!endpoint_) return;
    const std::shared_ptr<FFMIDIMessageParser> parser = parserForEndpoint(endpoint_);
    parser->takePacketList(packets);
}

}  // namespace tollvane
