#pragma once

// What a live session prints: one line per thing shown or sounded, with the
// host time (seconds) it happens at and the timecode the sync controller
// gives that time, and a status line. On a terminal the status line is
// redrawn in place below the event lines; otherwise it is printed as an
// ordinary line whenever it changes, so that scripts can follow it.
//
// Threads: main thread.

#include <cstdint>
#include <ostream>
#include <string>

namespace tollvane {

class SyncController;

class LiveLog {
public:
    LiveLog(std::ostream& out, const SyncController& sync, bool interactive);

    // "<host seconds>  <timecode>  <what>".
    void event(uint64_t hostTime, const std::string& what);
    // A plain line (headers, summaries).
    void line(const std::string& text);
    // The live status; `stable` is the part whose change is worth a line
    // when not on a terminal (the timecode and counter change all the time).
    void status(uint64_t hostTime, const std::string& text, const std::string& stable);
    // Leaves the terminal's status line behind.
    void finish();

    bool interactive() const { return interactive_; }

private:
    void clearStatus();
    void drawStatus();

    std::ostream& out_;
    const SyncController& sync_;
    const bool interactive_;
    std::string status_;
    std::string stable_;
    bool statusShown_ = false;
};

}  // namespace tollvane
