#include "app/cli/DocumentCommands.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "app/cli/CommandLineOptions.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueDefaults.h"
#include "model/FFAlias.h"
#include "model/Reel.h"
#include "platform/UserDefaults.h"
#include "timebase/EMTimecodeFormatter.h"

namespace tollvane {

namespace {

// Case-insensitive, for ASCII letters (titles are typed that way).
bool containsIgnoringCase(const std::string& text, const std::string& part) {
    auto lower = [](std::string value) {
        for (char& c : value) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return value;
    };
    return lower(text).find(lower(part)) != std::string::npos;
}

}  // namespace

bool DocumentCommands::sameFile(const std::string& a, const std::string& b) {
    std::error_code code;
    if (std::filesystem::equivalent(a, b, code)) return true;
    const auto left = std::filesystem::weakly_canonical(a, code);
    if (code) return false;
    const auto right = std::filesystem::weakly_canonical(b, code);
    return !code && left == right;
}

void DocumentCommands::addAlertSwitches(CommandLineOptions& options,
                                        CommandLineAlertPresenter::Switches& switches) {
    options.flag("--yes", switches.yes).flag("--open-anyway", switches.openAnyway);
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
    // Timecode text is read at the document's rate, as the application's
    // formatters read it at the project's.
    EMTimecodeFormatter::setProjectFramerateProvider(
        [environment = environment_] { return environment->projectFramerate(); });
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    Cue::registerArchiveClass();
    Reel::registerArchiveClass();
    FFAlias::registerArchiveClass();
}

DocumentCommands::Session::~Session() {
    EMTimecodeFormatter::setProjectFramerateProvider({});
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

// --cue: a cue ID; else the one cue with that exact title; else the one cue
// whose title holds the text, ignoring case.
std::shared_ptr<Cue> DocumentCommands::findCue(Document& document, const std::string& file,
                                               const std::string& wanted) {
    CueArrayController& cues = document.cueController();
    const bool number =
        !wanted.empty() && wanted.size() <= 10 &&
        std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (number && std::stoull(wanted) <= UINT32_MAX) {
        if (auto cue = cues.cueForID(static_cast<uint32_t>(std::stoull(wanted)))) return cue;
    }
    const std::vector<std::shared_ptr<Cue>> arranged = cues.arrangedObjects();
    for (const bool exact : {true, false}) {
        std::vector<std::shared_ptr<Cue>> found;
        for (const std::shared_ptr<Cue>& cue : arranged) {
            if (exact ? cue->title() == wanted : containsIgnoringCase(cue->title(), wanted))
                found.push_back(cue);
        }
        if (found.size() == 1) return found.front();
        if (found.size() > 1) {
            throw std::runtime_error(std::to_string(found.size()) + " cues of " + file + " match '" +
                                     DocumentCommands::printable(wanted) +
                                     "': give the cue's ID (tollvane-cli info lists them)");
        }
    }
    throw std::runtime_error("no cue of " + file + " has the ID or title '" +
                             DocumentCommands::printable(wanted) + "'");
}

}  // namespace tollvane
