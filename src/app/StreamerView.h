#pragma once

// What the application delegate asks of one streamer window: its view (the
// streamers, punches and overlays it draws) and its window (level, display
// link, ordering). The display work supplies the real windows; the command
// line supplies a view that records what it is asked to draw, and tests one
// that records every call.
//
// Threads: main thread.

#include <cstdint>
#include <functional>
#include <memory>

namespace tollvane {

class EMTimecode;

class StreamerView {
public:
    virtual ~StreamerView() = default;

    // The window's number, as remembered in "TLStreamerWindowNumbers".
    virtual uint32_t windowNumber() const = 0;

    // Time input from the window controller.
    virtual void receivedCueStart() = 0;
    virtual void setCueStartTC(const EMTimecode& timecode) = 0;
    virtual void setLastReceivedTC(const EMTimecode& timecode) = 0;

    virtual void addStreamerWithRed(float red, float green, float blue, float feet, int size,
                                    double skippingSeconds) = 0;
    virtual void addPunchWithRed(float red, float green, float blue, int holes, int size,
                                 double afterDelay) = 0;
    virtual void cancelAllPunches() = 0;

    // Overlays.
    virtual void setPreviewFrameVisible(bool visible) = 0;
    virtual void setFreeTimeClockVisible(bool visible) = 0;
    virtual void toggleFreeTimeClock() = 0;
    virtual void toggleBarBeatCounter() = 0;
    virtual void toggleSubtitles() = 0;
    virtual void resetWindowPrefs() = 0;

    // The window.
    virtual void dimWindowLevel() = 0;
    virtual void restoreWindowLevel() = 0;
    // Stopping may finish later: displayLinkRunning() says when it has.
    virtual void stopDisplayLink() = 0;
    virtual bool displayLinkRunning() const = 0;
    virtual void orderOut() = 0;
};

// Makes the window (and its view) with the given number; null when it cannot.
using StreamerWindowFactory = std::function<std::shared_ptr<StreamerView>(uint32_t windowNumber)>;

}  // namespace tollvane
