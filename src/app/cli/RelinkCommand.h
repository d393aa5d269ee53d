#pragma once

// `tollvane-cli relink`: finds the missing movies of a document's reels in a
// folder (by file name, searching its subfolders) and saves the document.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class RelinkCommand {
public:
    static std::string usage();
    // Runs with the arguments after "relink"; throws CommandLineError for a
    // bad option, std::runtime_error for a document or folder it cannot use.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
