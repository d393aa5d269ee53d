#pragma once

// `tollvane-cli smf-info`: reads a Standard MIDI File as the program would
// import it and lists its tracks (name, text events, events by type), its
// tempo map and its meters, or says why the file cannot be read.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class SmfInfoCommand {
public:
    static const char* usage();
    // Runs with the arguments after "smf-info"; throws CommandLineError for a
    // bad option. A file that cannot be read prints
    // "tollvane-cli: cannot read FILE: <reason>" on `err` and answers 1.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
