#pragma once

// The live status of a session in one line: the timecode, what the program
// is doing (chasing MTC, rehearsing, waiting, offline), the selected cue,
// the bar|beat counter and the count-off text, as a streamer window would
// show them.
//
// Threads: main thread.

#include <cstdint>
#include <string>

#include "app/BarBeatCounter.h"

namespace tollvane {

class Engine;

class LiveStatusLine {
public:
    explicit LiveStatusLine(Engine& engine);

    void update(uint64_t hostTime);
    // "01:00:09:12  chasing  cue "1M1 Opening"  1|3  2/4 into".
    const std::string& text() const { return text_; }
    // The same without the timecode and the counter, which change all the time.
    const std::string& stableText() const { return stable_; }

    // What the program is doing: "rehearsing", "chasing", "locking" (MTC
    // arriving but not yet followed), "waiting for MTC" or "offline".
    std::string state() const;

private:
    Engine& engine_;
    BarBeatCounter counter_;
    std::string text_;
    std::string stable_;
};

}  // namespace tollvane
