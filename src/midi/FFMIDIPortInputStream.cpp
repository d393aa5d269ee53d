#include "midi/FFMIDIPortInputStream.h"

#include <algorithm>
#include <stdexcept>

#include "midi/FFMIDIClient.h"
#include "platform/Log.h"

namespace tollvane {

FFMIDIPortInputStream::FFMIDIPortInputStream(FFMIDIClient& client) : FFMIDIInputStream(client) {
    const int error = client.isValid() ? client.backend().createInputPort(client.name(), port_) : -1;
    if (error != 0) {
        TLLog("Couldn't create a MIDI input port (error %ld)", static_cast<long>(error));
        throw std::runtime_error("Couldn't create a MIDI input port (error " + std::to_string(error) + ")");
    }
    client.registerStream(port_, this);
}

FFMIDIPortInputStream::~FFMIDIPortInputStream() {
    client_.unregisterStream(port_);
    client_.backend().disposeInputPort(port_);
}

void FFMIDIPortInputStream::setInputSources(
    const std::vector<std::shared_ptr<FFMIDISourceEndpoint>>& sources) {
    const std::vector<std::shared_ptr<FFMIDISourceEndpoint>> current = sources_;
    for (const auto& source : current) {
        if (std::find(sources.begin(), sources.end(), source) == sources.end()) removeInputSource(source);
    }
    for (const auto& source : sources) addInputSource(source);
}

void FFMIDIPortInputStream::addInputSource(const std::shared_ptr<FFMIDISourceEndpoint>& source) {
    if (!source || std::find(sources_.begin(), sources_.end(), source) != sources_.end()) return;
    const int error = client_.backend().connectSource(port_, source->uniqueID());
    if (error != 0) {
        TLLog("Error from MIDIPortConnectSource: %d", error);
        return;
    }
    parserForEndpoint(source);
    sources_.push_back(source);
}

void FFMIDIPortInputStream::removeInputSource(const std::shared_ptr<FFMIDISourceEndpoint>& source) {
    auto found = std::find(sources_.begin(), sources_.end(), source);
    if (found == sources_.end()) return;
    client_.backend().disconnectSource(port_, source->uniqueID());
    removeParserForEndpoint(source->uniqueID());
    sources_.erase(found);
}

void FFMIDIPortInputStream::takePacketList(FFMIDIUniqueID source, const FFMIDIPacketList& packets) {
    // Lists still queued from a source that was disconnected meanwhile are dropped.
    for (const auto& endpoint : sources_) {
        if (endpoint->uniqueID() == source) {
            const std::shared_ptr<FFMIDIMessageParser> parser = parserForEndpoint(endpoint);
            parser->takePacketList(packets);
            return;
        }
    }
}

}  // namespace tollvane
