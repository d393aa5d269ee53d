#pragma once

// `tollvane-cli mtc-send`: a MIDI Time Code generator for checking a setup
// and for the end-to-end tests. A JACK client with one MIDI output port sends
// a full frame and then quarter frames on schedule, each at the exact frame
// its time falls on.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class MtcSendCommand {
public:
    static const char* usage();
    // Runs with the arguments after "mtc-send"; throws CommandLineError for
    // a bad option. No JACK server, or a --to port that is not there, prints
    // "tollvane-cli: ..." on `err` and answers 1. Stops after --duration or
    // on SIGINT or SIGTERM.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
