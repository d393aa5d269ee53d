#pragma once

// `tollvane-cli midi-sources`: which MIDI system the program would use and
// every MIDI source it offers, with the unique ID that the
// "selectedMIDISourceEndpointID" setting and `midi-monitor --source` take.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class MidiSourcesCommand {
public:
    static const char* usage();
    // Runs with the arguments after "midi-sources"; throws CommandLineError
    // for a bad option. A forced MIDI system that is not there prints
    // "tollvane-cli: ..." on `err` and answers 1.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
