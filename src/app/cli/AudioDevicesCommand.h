#pragma once

// `tollvane-cli audio-devices`: lists the audio outputs the program would
// play on (names, identifiers, output channels, the default) and, for a JACK
// server, the server's output latency beside the audio controller's own
// allowance, so that a user can set the audio latency compensation from it.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class AudioDevicesCommand {
public:
    static const char* usage();
    // Runs with the arguments after "audio-devices"; throws CommandLineError.
    static int run(const std::vector<std::string>& arguments, std::ostream& out);
};

}  // namespace tollvane
