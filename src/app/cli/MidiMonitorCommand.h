#pragma once

// `tollvane-cli midi-monitor`: listens on the program's virtual "Tollvane"
// destination and the chosen sources as the application would, prints every
// parsed message with its host time, and the timecodes the MIDI controller
// assembles from MIDI Time Code (with a document at --rate as the front
// document). For checking what a setup sends and when.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class MidiMonitorCommand {
public:
    static const char* usage();
    // Runs with the arguments after "midi-monitor"; throws CommandLineError
    // for a bad option. A MIDI system or source that is not there prints
    // "tollvane-cli: ..." on `err` and answers 1. Runs for --seconds, or
    // until SIGINT or SIGTERM, and answers 0.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
