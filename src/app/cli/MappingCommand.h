#pragma once

// `tollvane-cli mapping`: the event mapping that MIDI notes and
// system-exclusive messages fire. Prints it (each trigger with its event's
// name, type, length, size and colour), loads a preset file into the user
// default "eventMapping", saves the mapping as a preset file, or goes back to
// the mapping shipped with the program.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class MappingCommand {
public:
    static std::string usage();
    // Runs with the arguments after "mapping"; throws CommandLineError for a
    // bad option. A preset that cannot be loaded or saved is reported (the
    // alert's line on `err`) with exit status 1.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
