#pragma once

// The command line's streamer view: it draws nothing, but says what it was
// asked to draw, each at the host time it would appear (a delayed punch
// when its delay has run, unless cancelled first), and keeps count. Only a
// view given a log prints; further windows count silently, so that several
// remembered windows do not print every line several times.
//
// Threads: main thread.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "app/StreamerView.h"

namespace tollvane {

class HostClock;
class LiveLog;
class RunLoop;
class Timer;

class ConsoleStreamerView final : public StreamerView {
public:
    struct Counts {
        int cueStarts = 0;
        int streamers = 0;
        int punches = 0;
    };

    // `log` may be null; `clock`, `loop` and the log outlive the view.
    ConsoleStreamerView(uint32_t windowNumber, LiveLog* log, const HostClock& clock, RunLoop& loop);
    ~ConsoleStreamerView() override;

    const Counts& counts() const { return counts_; }

    uint32_t windowNumber() const override { return windowNumber_; }
    void receivedCueStart() override;
    void setCueStartTC(const EMTimecode& timecode) override;
    void setLastReceivedTC(const EMTimecode&) override {}
    void addStreamerWithRed(float red, float green, float blue, float feet, int size,
                            double skippingSeconds) override;
    void addPunchWithRed(float red, float green, float blue, int holes, int size, double afterDelay) override;
    void cancelAllPunches() override;

    void setPreviewFrameVisible(bool) override {}
    void setFreeTimeClockVisible(bool visible) override;
    void toggleFreeTimeClock() override { setFreeTimeClockVisible(!freeTimeClockVisible_); }
    void toggleBarBeatCounter() override {}
    void toggleSubtitles() override {}
    void resetWindowPrefs() override {}

    void dimWindowLevel() override {}
    void restoreWindowLevel() override {}
    void stopDisplayLink() override;
    bool displayLinkRunning() const override { return displayLinkRunning_; }
    void orderOut() override {}

private:
    void print(uint64_t hostTime, const std::string& what);

    const uint32_t windowNumber_;
    LiveLog* const log_;
    const HostClock& clock_;
    RunLoop& loop_;
    Counts counts_;
    bool freeTimeClockVisible_ = false;
    bool displayLinkRunning_ = true;
    std::map<uint64_t, std::shared_ptr<Timer>> pendingPunches_;
    uint64_t nextPunchID_ = 0;
};

}  // namespace tollvane
