#include "app/cli/DocumentCommands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/FFAlias.h"
#include "model/Reel.h"
#include "platform/UserDefaults.h"

namespace tollvane {

bool DocumentCommands::takeAlertSwitch(const std::string& argument,
                                       CommandLineAlertPresenter::Switches& switches) {
    if (argument == "--yes") {
        switches.yes = true;
        return true;
    }
    if (argument == "--open-anyway") {
        switches.openAnyway = true;
        return true;
    }
    return false;
}

const char* DocumentCommands::alertSwitchesUsage() {
    return "Alerts the document raises go to stderr, one line each. A notice (such as the\n"
           "conversion of an old ADR/Foley list) only shows; a question (such as whether to\n"
           "open a file made by a later version of Tollvane) is answered no, unless:\n"
           "  --open-anyway   open a file made by a later version anyway (saving it may lose\n"
           "                  what this version does not know)\n"
           "  --yes           answer every question with its default button (this opens a\n"
           "                  file made by a later version, too)\n";
}

std::string DocumentCommands::printable(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '.';
    }
    return text;
}

DocumentCommands::Session::Session(CommandLineAlertPresenter::Switches switches, std::ostream& err)
    : presenter_(switches, err),
      previousPresenter_(AlertPresenter::setShared(&presenter_)),
      environment_(std::make_shared<CommandLineCueEnvironment>(EMTimecodeFramerate::framerateForIndex(4))),
      previousEnvironment_(CueEnvironment::install(environment_)) {
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    Cue::registerArchiveClass();
    Reel::registerArchiveClass();
    FFAlias::registerArchiveClass();
}

DocumentCommands::Session::~Session() {
    CueEnvironment::install(previousEnvironment_);
    AlertPresenter::setShared(previousPresenter_);
}

std::shared_ptr<Document> DocumentCommands::Session::open(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    if (S_ISDIR(status.st_mode))
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(EISDIR));

    const size_t refusedBefore = presenter_.refusedAlerts().size();
    std::string error;
    std::shared_ptr<Document> document;
    try {
        document = Document::documentWithContentsOfFile(path, &error);
    } catch (const std::exception& exception) {
        error = exception.what();
    }
    if (!document) {
        const auto& refused = presenter_.refusedAlerts();
        for (size_t i = refusedBefore; i < refused.size(); ++i) {
            if (refused[i] == "Warning")
                throw std::runtime_error(path + " was not opened (--open-anyway opens it anyway)");
        }
        if (error.empty()) throw std::runtime_error("cannot open " + path);
        for (char& c : error) {
            if (c == '\n' || c == '\r' || c == '\t') c = ' ';
        }
        throw std::runtime_error("cannot open " + path + ": " + error);
    }
    environment_->setProjectFramerate(EMTimecodeFramerate::framerateForIndex(document->projectFramerate()));
    return document;
}

}  // namespace tollvane
