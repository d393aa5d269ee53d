#pragma once

// `tollvane-cli clicks`: takes a cue of a document, or builds one from
// command-line options (sync timecode, tempo and meter changes, click changes
// and patterns, count-offs, warning beats, playback start, click mute,
// length), and lists every audible and visual click the cue gives, as the
// sync thread would find them: the position, the bar|beat, the timecode and
// whether the click sounds or punches.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class ClicksCommand {
public:
    static const char* usage();
    // Runs with the arguments after "clicks"; throws CommandLineError for a
    // bad option or value, std::runtime_error for a document that cannot be
    // opened or has no such cue. The document's alerts go to `err`.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
