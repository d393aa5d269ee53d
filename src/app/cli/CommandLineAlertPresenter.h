#pragma once

// How the command line answers the alerts a document raises while it opens
// or saves. Nobody is asked: every alert goes to stderr as one line
// ("tollvane-cli: <title> <text>") and is answered by the switches given:
//
// - an alert with a single button (a notice, such as the conversion of an
//   old ADR/Foley list, or a refusal that needs no answer) is only shown;
// - with --yes, every alert gets its default (first) button;
// - with --open-anyway, an alert that offers "Open" gets "Open";
// - otherwise the alert is refused: "Cancel" when it has one, else its last
//   button.
//
// Threads: main thread, as every alert.

#include <ostream>
#include <string>
#include <vector>

#include "platform/AlertPresenter.h"

namespace tollvane {

class CommandLineAlertPresenter final : public AlertPresenter {
public:
    struct Switches {
        bool yes = false;
        bool openAnyway = false;
    };

    CommandLineAlertPresenter(Switches switches, std::ostream& err);

    int runAlert(const Alert& alert) override;

    // Alerts that asked something and were refused, by title.
    const std::vector<std::string>& refusedAlerts() const { return refused_; }
    size_t shownCount() const { return shown_; }

private:
    Switches switches_;
    std::ostream& err_;
    std::vector<std::string> refused_;
    size_t shown_ = 0;
};

}  // namespace tollvane
