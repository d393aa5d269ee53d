#include "model/Reel.h"

namespace tollvane {

const std::shared_ptr<Reel>& Reel::timecodeReelSelectionMarker() {
    static const std::shared_ptr<Reel> marker = std::make_shared<Reel>();
    return marker;
}

}  // namespace tollvane
