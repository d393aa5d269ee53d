#pragma once

// A reel of the picture: the movie that holds a stretch of timecode. Cues
// name the reel they play in. This is the part of the reel the cue model
// needs; the reel's movie, timecodes and list come with the reel list.
//
// Threads: main thread.

#include <cstdint>
#include <memory>

namespace tollvane {

class Reel {
public:
    Reel() = default;
    explicit Reel(uint32_t reelID) : reelID_(reelID) {}
    virtual ~Reel() = default;

    uint32_t reelID() const { return reelID_; }
    void setReelID(uint32_t reelID) { reelID_ = reelID; }

    // The marker a new cue starts with: its reel is chosen by timecode.
    static const std::shared_ptr<Reel>& timecodeReelSelectionMarker();

private:
    uint32_t reelID_ = 0;
};

}  // namespace tollvane
