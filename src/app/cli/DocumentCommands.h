#pragma once

// What the command-line commands that read a document share: the switches
// that answer its alerts (--yes, --open-anyway), opening it with the cue
// defaults registered and a cue environment at its frame rate, and text fit
// for a terminal.

#include <memory>
#include <ostream>
#include <string>

#include "app/cli/CommandLineAlertPresenter.h"
#include "app/cli/CommandLineCueEnvironment.h"

namespace tollvane {

class AlertPresenter;
class Cue;
class CueEnvironment;
class CommandLineOptions;
class Document;

class DocumentCommands {
public:
    // Whether two paths name one file (or would, once written): a command
    // must not write its output over its input.
    static bool sameFile(const std::string& a, const std::string& b);
    // Adds --yes and --open-anyway to a command's options.
    static void addAlertSwitches(CommandLineOptions& options, CommandLineAlertPresenter::Switches& switches);
    // The two switches, for the commands' usage texts.
    static const char* alertSwitchesUsage();

    // Control characters of a document's texts shown as '.', to keep them
    // off the terminal.
    static std::string printable(std::string text);

    // The cue that --cue names: a cue ID; else the one cue with that exact
    // title; else the one cue whose title holds the text, ignoring case.
    // Throws std::runtime_error saying why none (or several) match.
    static std::shared_ptr<Cue> findCue(Document& document, const std::string& file,
                                        const std::string& wanted);

    // While alive: the cue defaults registered, the command line's alert
    // presenter installed, and a cue environment and the timecode
    // formatters at the project rate of the last document opened. All are
    // put back on destruction.
    class Session {
    public:
        Session(CommandLineAlertPresenter::Switches switches, std::ostream& err);
        ~Session();
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;

        // Opens FILE, or throws std::runtime_error with one line saying why
        // not (after the alert's own line when an alert refused it).
        std::shared_ptr<Document> open(const std::string& path);
        CommandLineCueEnvironment& environment() { return *environment_; }

    private:
        CommandLineAlertPresenter presenter_;
        AlertPresenter* previousPresenter_;
        std::shared_ptr<CommandLineCueEnvironment> environment_;
        std::shared_ptr<CueEnvironment> previousEnvironment_;
    };
};

}  // namespace tollvane
