#pragma once

// `tollvane-cli demo [DIR]`: writes a demonstration document, "Tollvane
// Demo.tollvane", built through the model as the program's own windows
// would build it: two reels, three cues with tempo, meter and click changes,
// a count-off, streamers and punches, and a short ADR/Foley list, at 25 fps,
// with reels and cues selected by the incoming timecode.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class DemoCommand {
public:
    static constexpr const char* kFileName = "Tollvane Demo.tollvane";

    static const char* usage();
    // Runs with the arguments after "demo"; throws CommandLineError for a bad
    // option, std::runtime_error for a folder it cannot write into or a file
    // it must not replace.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
