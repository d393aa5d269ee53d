#pragma once

// Listens to a chosen set of MIDI sources through one input port: none, all
// present ones, or one. Each source has its own parser, so system exclusive
// from two sources never mixes.
//
// Threads: main thread only.

#include <memory>
#include <vector>

#include "midi/FFMIDIInputStream.h"
#include "midi/FFMIDISourceEndpoint.h"

namespace tollvane {

class FFMIDIPortInputStream final : public FFMIDIInputStream {
public:
    // Creates the port; a failure is logged as "Couldn't create a MIDI input
    // port (error %ld)" and thrown as std::runtime_error.
    explicit FFMIDIPortInputStream(FFMIDIClient& client);
    ~FFMIDIPortInputStream() override;

    // Connects what is new in the set and disconnects what left it. A refused
    // connection is logged as "Error from MIDIPortConnectSource: %d" and the
    // source stays out of the set.
    void setInputSources(const std::vector<std::shared_ptr<FFMIDISourceEndpoint>>& sources);
    void addInputSource(const std::shared_ptr<FFMIDISourceEndpoint>& source);
    void removeInputSource(const std::shared_ptr<FFMIDISourceEndpoint>& source);
    void removeAllInputSources() { setInputSources({}); }
    const std::vector<std::shared_ptr<FFMIDISourceEndpoint>>& inputSources() const { return sources_; }

    void takePacketList(FFMIDIUniqueID source, const FFMIDIPacketList& packets) override;

private:
    FFMIDIPortRef port_ = 0;
    std::vector<std::shared_ptr<FFMIDISourceEndpoint>> sources_;
};

}  // namespace tollvane
