#pragma once

// `tollvane-cli midi-dump`: parses a file of raw MIDI bytes as the MIDI
// input would and prints every message: its type, channel, data and, for MTC
// quarter frames, full frames, MIDI Machine Control and MIDI Show Control,
// what it says. For checking what a device sends.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class MidiDumpCommand {
public:
    static const char* usage();
    // Runs with the arguments after "midi-dump"; throws CommandLineError for a
    // bad option. A file that cannot be read prints
    // "tollvane-cli: cannot read FILE: <reason>" on `err` and answers 1.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
