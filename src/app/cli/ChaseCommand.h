#pragma once

// tollvane-cli chase: the program at work on a scoring stage, without its
// windows. It loads a document as the front document, listens on the
// virtual "Tollvane" MIDI input (and the sources the settings choose),
// follows MIDI Time Code, selects reels and cues by timecode as the document
// says, plays clicks and beeps on the audio output, fires mapped and
// compiled events, and prints a line for each streamer, punch, beep run and
// cue start with its host time, under a live status line. SIGINT or SIGTERM
// stops it cleanly (output stopped, mapping saved, exit status 0).

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class ChaseCommand {
public:
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
    static const char* usage();
};

}  // namespace tollvane
