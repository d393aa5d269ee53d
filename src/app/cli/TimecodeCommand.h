#pragma once

// `tollvane-cli timecode`: reads a value at a frame rate and prints it in the
// forms a user works with (timecode, frames, seconds, feet and frames), at
// the same or another rate.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class TimecodeCommand {
public:
    static const char* usage();
    // Runs with the arguments after "timecode"; throws CommandLineError.
    static int run(const std::vector<std::string>& arguments, std::ostream& out);
};

}  // namespace tollvane
