#include "app/cli/ConsoleStreamerView.h"

#include "app/cli/EventDescriptions.h"
#include "app/cli/LiveLog.h"
#include "platform/HostClock.h"
#include "platform/RunLoop.h"
#include "platform/Timer.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

ConsoleStreamerView::ConsoleStreamerView(uint32_t windowNumber, LiveLog* log, const HostClock& clock,
                                         RunLoop& loop)
    : windowNumber_(windowNumber), log_(log), clock_(clock), loop_(loop) {}

ConsoleStreamerView::~ConsoleStreamerView() {
    for (const auto& [id, timer] : pendingPunches_) timer->invalidate();
}

void ConsoleStreamerView::receivedCueStart() {
    ++counts_.cueStarts;
    print(clock_.now(), "cue start");
}

void ConsoleStreamerView::setCueStartTC(const EMTimecode& timecode) {
    ++counts_.cueStarts;
    print(clock_.now(), "cue start at " + timecode.stringRepresentation());
}

void ConsoleStreamerView::addStreamerWithRed(float red, float green, float blue, float feet, int size,
                                             double skippingSeconds) {
    ++counts_.streamers;
    print(clock_.now(), EventDescriptions::streamer(red, green, blue, feet, size, skippingSeconds));
}

void ConsoleStreamerView::addPunchWithRed(float red, float green, float blue, int holes, int size,
                                          double afterDelay) {
    const std::string what = EventDescriptions::punch(holes, red, green, blue, size);
    if (afterDelay <= 0.0) {
        ++counts_.punches;
        print(clock_.now(), what);
        return;
    }
    // Shown when its delay has run, at the time it was due.
    const uint64_t due = clock_.now() + HostClock::ticksFromSeconds(afterDelay);
    const uint64_t id = nextPunchID_++;
    pendingPunches_[id] = loop_.scheduleTimer(afterDelay, false, [this, what, due, id] {
        pendingPunches_.erase(id);
        ++counts_.punches;
        print(due, what);
    });
}

void ConsoleStreamerView::cancelAllPunches() {
    if (pendingPunches_.empty()) return;
    for (const auto& [id, timer] : pendingPunches_) timer->invalidate();
    pendingPunches_.clear();
    print(clock_.now(), "punches cancelled");
}

void ConsoleStreamerView::setFreeTimeClockVisible(bool visible) {
    if (visible == freeTimeClockVisible_) return;
    freeTimeClockVisible_ = visible;
    print(clock_.now(), visible ? "free-time clock shown" : "free-time clock hidden");
}

void ConsoleStreamerView::stopDisplayLink() {
    displayLinkRunning_ = false;
    for (const auto& [id, timer] : pendingPunches_) timer->invalidate();
    pendingPunches_.clear();
}

void ConsoleStreamerView::print(uint64_t hostTime, const std::string& what) {
    if (log_) log_->event(hostTime, what);
}

}  // namespace tollvane
