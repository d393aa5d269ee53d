#pragma once

// Identifiers for new cues and reels, in the range random() gives
// (1 to 2^31 - 1; never 0, which stands for "none").
//
// The generator is seeded once per process from the system's entropy. Left
// unseeded, every run handed out the same sequence, so reels and cues made in
// two sessions shared IDs: opening both documents put one document's reel in
// the registry in place of the other's, and its cues followed the wrong reel.

#include <cstdint>

namespace tollvane {

uint32_t newRandomID();

}  // namespace tollvane
