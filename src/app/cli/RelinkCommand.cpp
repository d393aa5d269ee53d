#include "app/cli/RelinkCommand.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "document/Document.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"

namespace tollvane {

namespace {

struct Options {
    std::string path;
    std::string directory;
    bool help = false;
    CommandLineAlertPresenter::Switches switches;
};

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("relink");
    DocumentCommands::addAlertSwitches(reader, options.switches);
    options.help = !reader.parse(arguments, 2, 2, "a FILE and the DIR to search");
    if (options.help) return options;
    options.path = reader.operands()[0];
    options.directory = reader.operands()[1];
    return options;
}

std::vector<std::shared_ptr<Reel>> brokenReels(Document& document) {
    std::vector<std::shared_ptr<Reel>> broken;
    for (const std::shared_ptr<Reel>& reel : document.reelController().arrangedObjects()) {
        if (!reel->validFile()) broken.push_back(reel);
    }
    return broken;
}

}  // namespace

std::string RelinkCommand::usage() {
    return std::string(
               "usage: tollvane-cli relink FILE DIR [--open-anyway] [--yes]\n"
               "\n"
               "Looks in DIR and every folder below it for the movie files of the reels of the\n"
               "Tollvane document FILE that are missing, as the program's Relink command does:\n"
               "a file with the same name as a missing reel's movie becomes that reel's movie\n"
               "(the first one met when several have that name). When any reel was re-linked,\n"
               "FILE is saved (replaced whole or not at all). Then each reel still missing is\n"
               "listed. The exit status is 0 even when some are; 1 when FILE or DIR cannot be\n"
               "read or FILE cannot be saved.\n"
               "\n") +
           DocumentCommands::alertSwitchesUsage();
}

int RelinkCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    struct stat status {};
    if (::stat(options.directory.c_str(), &status) != 0)
        throw std::runtime_error("cannot search " + options.directory + ": " + std::strerror(errno));
    if (!S_ISDIR(status.st_mode))
        throw std::runtime_error("cannot search " + options.directory + ": " + std::strerror(ENOTDIR));

    DocumentCommands::Session session(options.switches, err);
    const std::shared_ptr<Document> document = session.open(options.path);
    const size_t missing = brokenReels(*document).size();
    const size_t relinked =
        missing == 0 ? 0 : document->reelController().relinkBrokenReelsFromDirectory(options.directory);
    if (relinked > 0) {
        std::string error;
        if (!document->writeToFile(options.path, &error))
            throw std::runtime_error("cannot save " + options.path + (error.empty() ? "" : ": " + error));
    }
    out << "relinked " << relinked << " of " << missing
        << (missing == 1 ? " missing reel" : " missing reels");
    out << (relinked > 0 ? "; saved " + options.path : std::string()) << "\n";
    for (const std::shared_ptr<Reel>& reel : brokenReels(*document)) {
        const std::string path = reel->path();
        out << "  still missing: " << DocumentCommands::printable(reel->title()) << " ("
            << (path.empty() ? "no movie file" : DocumentCommands::printable(path)) << ")\n";
    }
    return 0;
}

}  // namespace tollvane
