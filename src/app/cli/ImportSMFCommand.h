#pragma once

// `tollvane-cli import-smf`: imports a Standard MIDI File into a document as
// a new cue, as the import dialog does, and saves the document. A file that
// is no MIDI file adds nothing and leaves the document file as it was.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class ImportSMFCommand {
public:
    static std::string usage();
    // Runs with the arguments after "import-smf"; throws CommandLineError for
    // a bad option, std::runtime_error for a file it cannot use.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
