#pragma once

// `tollvane-cli import-csv`: imports a delimited text file into a document's
// ADR/Foley list, as the import dialog does with the columns in a given
// order, and saves the document. Bad input (an unreadable file, a row longer
// than the column list, a sync field that is no timecode) adds nothing and
// leaves the document file as it was.

#include <ostream>
#include <string>
#include <vector>

namespace tollvane {

class ImportCSVCommand {
public:
    static std::string usage();
    // Runs with the arguments after "import-csv"; throws CommandLineError for
    // a bad option, std::runtime_error for a file it cannot use.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tollvane
