#pragma once

// `tollvane-cli info`: what a document holds: its project frame rate and
// selection modes, its reels (start, end, movie and whether it is missing),
// its cues (sync and end timecodes, reel, events by kind) and its ADR/Foley
// events.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class InfoCommand {
public:
    static std::string usage();
    // Runs with the arguments after "info"; throws CommandLineError for a bad
    // option, std::runtime_error for a document it cannot open.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
