#pragma once

// The command line's alerts: the title, text and buttons go to stderr; the
// answer comes from the answers given on the command line, in order, else
// from the terminal when stdin is one, else the default (first) button. An
// alert with a single button is only shown: it asks nothing and uses no
// given answer.
//
// An answer names a button by its title (any case) or by its number as
// listed, from 1.
//
// Threads: main thread, as every alert.

#include <deque>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/AlertPresenter.h"

namespace tollvane {

class TerminalAlertPresenter final : public AlertPresenter {
public:
    // stdin (when it is a terminal) and stderr.
    TerminalAlertPresenter();
    // Given streams; a null input means nobody can be asked.
    TerminalAlertPresenter(std::istream* input, std::ostream& output);

    void addPresetAnswer(std::string answer);
    int runAlert(const Alert& alert) override;

private:
    static std::optional<int> match(const std::string& answer, const std::vector<std::string>& buttons);

    std::istream* input_;
    std::ostream& output_;
    std::deque<std::string> presets_;
};

}  // namespace tollvane
