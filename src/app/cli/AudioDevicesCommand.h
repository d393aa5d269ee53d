#pragma once

// `tollvane-cli audio-devices [--audio jack|alsa|null] [--json]`: lists the
// audio outputs of the chosen system (by default the one the program would
// play on: a JACK server, else ALSA, else none) with names, identifiers,
// output channels and the default. For a JACK server and for each ALSA
// output that can be opened it adds the rate, the buffer size and the
// output latency beside the click's own output allowance, so that a user
// can set the audio latency compensation from them.

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
