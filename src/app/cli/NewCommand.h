#pragma once

// `tollvane-cli new`: writes a new, empty document (no reels, no cues) at a
// chosen project frame rate.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class NewCommand {
public:
    static const char* usage();
    // Runs with the arguments after "new"; throws CommandLineError for a bad
    // option or value, std::runtime_error for a file it cannot write.
    static int run(const std::vector<std::string>& arguments, std::ostream& out);
};

}  // namespace tollvane
