#include "app/cli/NewCommand.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "document/Document.h"
#include "model/CueDefaults.h"
#include "platform/UserDefaults.h"
#include "timebase/EMTimecodeFramerate.h"

namespace tollvane {

namespace {

constexpr const char* kLastProjectFramerate = "lastProjectFramerate";

struct Options {
    std::string path;
    std::optional<int> rate;
    bool force = false;
    bool help = false;
};

// An index 0-7 or a rate's name.
int parseRate(const std::string& text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '7') return text[0] - '0';
    const int index = EMTimecodeFramerate::indexForName(text);
    if (index < 0) {
        throw CommandLineError("unknown frame rate '" + text +
                               "' for --rate (0-7, or 23.976, 24, 24.975, 25, 29.97nd, 29.97df, 30, 30df)");
    }
    return index;
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("new");
    reader.flag("--force", options.force).value("--rate", [&](const std::string& value) {
        options.rate = parseRate(value);
    });
    options.help = !reader.parse(arguments, 1, 1, "a FILE to write");
    if (!options.help) options.path = reader.operands()[0];
    return options;
}

}  // namespace

const char* NewCommand::usage() {
    return "usage: tollvane-cli new FILE [--rate INDEX|RATE] [--force]\n"
           "\n"
           "Writes a new, empty Tollvane document (no reels, no cues, no ADR/Foley events) to\n"
           "FILE, as the program's New and Save would. An existing FILE is left alone unless\n"
           "--force is given.\n"
           "\n"
           "  --rate INDEX|RATE  the project frame rate: an index 0-7 (0 23.976, 1 24, 2 24.975,\n"
           "                     3 25, 4 29.97nd, 5 29.97df, 6 30, 7 30df) or the rate itself\n"
           "                     (25, 29.97df, ...); by default the rate of the last new\n"
           "                     document made in the program, else 29.97nd\n"
           "  --force            replace an existing FILE\n";
}

int NewCommand::run(const std::vector<std::string>& arguments, std::ostream& out) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    std::error_code code;
    const auto status = std::filesystem::symlink_status(options.path, code);
    if (std::filesystem::exists(status) && !options.force)
        throw std::runtime_error(options.path + " already exists (--force replaces it)");

    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    CueDefaults::registerDefaults(defaults);
    std::shared_ptr<Document> document = Document::create();
    if (options.rate) {
        // The program remembers a rate the user picks for the next new
        // document; a file made here should not change that. Nor is the
        // rate a document starts with an edit to undo.
        const Value remembered = defaults.objectForKey(kLastProjectFramerate);
        document->undoManager().disableUndoRegistration();
        document->setProjectFramerate(*options.rate);
        document->undoManager().enableUndoRegistration();
        defaults.setObject(kLastProjectFramerate, remembered);
    }
    std::string error;
    if (!document->writeToFile(options.path, &error)) {
        throw std::runtime_error("cannot write " + options.path + (error.empty() ? "" : ": " + error));
    }
    out << "created " << options.path << " ("
        << EMTimecodeFramerate::framerateForIndex(document->projectFramerate()).label() << ")\n";
    return 0;
}

}  // namespace tollvane
