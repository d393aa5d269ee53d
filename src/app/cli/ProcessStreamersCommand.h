#pragma once

// `tollvane-cli process-streamers`: moves the notes of a Standard MIDI File's
// "Streamers" track earlier (see Sequencer) and writes the processed copy to
// the file given with -o, printing the processing log.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class ProcessStreamersCommand {
public:
    static std::string usage();
    // Runs with the arguments after "process-streamers"; throws
    // CommandLineError for a bad option (no -o, or -o naming the MIDI file
    // itself). Answers 1, writing nothing, when the file does not load, has
    // no "Streamers" track or the copy cannot be saved.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
