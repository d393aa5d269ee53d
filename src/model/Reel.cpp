#include "model/Reel.h"

namespace tollvane {

Reel::Reel() = default;
Reel::Reel(uint32_t reelID) : reelID_(reelID) {}
Reel::~Reel() = default;

void Reel::encodeWithCoder(KeyedArchiver&) const {}

void Reel::performUndoOperation(const std::string&, const Value&) {}

const std::shared_ptr<Reel>& Reel::timecodeReelSelectionMarker() {
    static const std::shared_ptr<Reel> marker = [] {
        auto reel = std::make_shared<Reel>();
        reel->setReelID(kTimecodeSelectionMarkerID);
        return reel;
    }();
    return marker;
}

}  // namespace tollvane
