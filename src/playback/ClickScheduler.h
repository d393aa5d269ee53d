#pragma once

// What the sync controller asks of the audio controller: a click to sound at
// a host time, and every scheduled click dropped. The audio controller
// implements it; NullClickScheduler stands in where there is no audio.
//
// Threads: addClickAtHostTime on the sync thread, removeAllScheduledClicks
// on the main thread; both must be real-time safe for the audio callback.

#include <cstdint>

namespace tollvane {

class ClickScheduler {
public:
    virtual ~ClickScheduler() = default;
    // `hostTime` is the moment the click is to be heard.
    virtual void addClickAtHostTime(uint64_t hostTime) = 0;
    virtual void removeAllScheduledClicks() = 0;
};

class NullClickScheduler final : public ClickScheduler {
public:
    void addClickAtHostTime(uint64_t) override {}
    void removeAllScheduledClicks() override {}
};

}  // namespace tollvane
