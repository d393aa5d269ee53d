#pragma once

// `tollvane-cli export-clicks`: writes the click track of one cue of a
// document as a mono WAVE or AIFF file, as the document's click-track export
// does: silence, then every click at its sample, starting a chosen number of
// seconds before the first click.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class ExportClicksCommand {
public:
    static const char* usage();
    // Runs with the arguments after "export-clicks"; throws CommandLineError
    // for a bad option or value, std::runtime_error for a document that
    // cannot be opened, no such cue, a refused question or a failed export.
    // The progress bar and the document's alerts go to `err`.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
