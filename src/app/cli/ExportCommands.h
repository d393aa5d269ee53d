#pragma once

// `tollvane-cli export-json` and `export-tsv`: a document's cue list for
// other tools, as the program's two export commands write it.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class ExportCommands {
public:
    static std::string jsonUsage();
    static std::string tsvUsage();
    // Run with the arguments after the command; throw CommandLineError for a
    // bad option, std::runtime_error for a document that cannot be opened or
    // a file that cannot be written.
    static int runJSON(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
    static int runTSV(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
