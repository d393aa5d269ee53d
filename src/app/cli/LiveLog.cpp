#include "app/cli/LiveLog.h"

#include <cstdio>

#include "playback/SyncController.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

LiveLog::LiveLog(std::ostream& out, const SyncController& sync, bool interactive)
    : out_(out), sync_(sync), interactive_(interactive) {}

void LiveLog::event(uint64_t hostTime, const std::string& what) {
    const auto timecode = sync_.timecodeAtHostTime(hostTime);
    char head[48];
    std::snprintf(head, sizeof head, "%.6f  %-11s  ", static_cast<double>(hostTime) / 1e9,
                  timecode ? timecode->stringRepresentation().c_str() : "-");
    line(head + what);
}

void LiveLog::line(const std::string& text) {
    clearStatus();
    out_ << text << '\n';
    drawStatus();
    out_.flush();
}

void LiveLog::status(uint64_t hostTime, const std::string& text, const std::string& stable) {
    // The time and counter are on the event line already; off a terminal
    // only what changes seldom is worth a line.
    if (interactive_) {
        status_ = text;
        clearStatus();
        drawStatus();
        out_.flush();
        return;
    }
    if (stable == stable_) return;
    stable_ = stable;
    event(hostTime, "status " + stable);
}

void LiveLog::finish() {
    if (!interactive_) return;
    clearStatus();
    status_.clear();
    out_.flush();
}

void LiveLog::clearStatus() {
    if (!statusShown_) return;
    out_ << "\r\033[K";
    statusShown_ = false;
}

void LiveLog::drawStatus() {
    if (!interactive_ || status_.empty()) return;
    out_ << status_;
    statusShown_ = true;
}

}  // namespace tollvane
