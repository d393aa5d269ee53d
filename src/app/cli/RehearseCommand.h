#pragma once

// tollvane-cli rehearse: runs a rehearsal of one cue of a document through
// the real-time core (transport, sync controller, cue player, event
// controller) and prints, in time order, what a scoring stage would see and
// hear: clicks, streamers, punches, beeps, the cue-start flash, overlay text
// and the status line. By default on virtual time, so the list comes at once
// and is the same on every run; --realtime runs on the system clock with the
// sync and player threads.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class RehearseCommand {
public:
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
    static const char* usage();
};

}  // namespace tollvane
