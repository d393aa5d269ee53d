#include "app/cli/CommandLineAlertPresenter.h"

namespace tollvane {

namespace {

// One line, whatever the text holds.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    return text;
}

}  // namespace

CommandLineAlertPresenter::CommandLineAlertPresenter(Switches switches, std::ostream& err)
    : switches_(switches), err_(err) {}

int CommandLineAlertPresenter::runAlert(const Alert& alert) {
    ++shown_;
    const std::vector<std::string> buttons = alert.shownButtons();
    std::string line = "tollvane-cli: " + oneLine(alert.title);
    if (!alert.title.empty() && !alert.text.empty()) {
        const char last = alert.title.back();
        line += (last == '.' || last == '!' || last == '?' || last == ':') ? " " : ": ";
    }
    line += oneLine(alert.text);
    err_ << line << "\n";
    if (buttons.size() <= 1 || switches_.yes) return 0;
    if (switches_.openAnyway) {
        for (size_t i = 0; i < buttons.size(); ++i) {
            if (buttons[i] == "Open") return static_cast<int>(i);
        }
    }
    refused_.push_back(alert.title);
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i] == "Cancel") return static_cast<int>(i);
    }
    return static_cast<int>(buttons.size() - 1);
}

}  // namespace tollvane
