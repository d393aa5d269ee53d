#include "platform/TerminalAlertPresenter.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>

namespace tollvane {

namespace {

constexpr int kAttempts = 3;

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

}  // namespace

TerminalAlertPresenter::TerminalAlertPresenter()
    : TerminalAlertPresenter(::isatty(STDIN_FILENO) ? &std::cin : nullptr, std::cerr) {}

TerminalAlertPresenter::TerminalAlertPresenter(std::istream* input, std::ostream& output)
    : input_(input), output_(output) {}

void TerminalAlertPresenter::addPresetAnswer(std::string answer) {
    presets_.push_back(std::move(answer));
}

std::optional<int> TerminalAlertPresenter::match(const std::string& answer,
                                                 const std::vector<std::string>& buttons) {
    std::string wanted = trimmed(answer);
    if (wanted.empty()) return std::nullopt;
    if (std::all_of(wanted.begin(), wanted.end(), [](unsigned char c) { return std::isdigit(c); }) &&
        wanted.size() < 6) {
        int number = std::stoi(wanted);
        if (number >= 1 && static_cast<size_t>(number) <= buttons.size()) return number - 1;
        return std::nullopt;
    }
    wanted = lowercase(wanted);
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (lowercase(buttons[i]) == wanted) return static_cast<int>(i);
    }
    return std::nullopt;
}

int TerminalAlertPresenter::runAlert(const Alert& alert) {
    std::vector<std::string> buttons = alert.shownButtons();
    output_ << alert.title << '\n';
    if (!alert.text.empty()) output_ << alert.text << '\n';
    if (buttons.size() == 1) {
        output_ << "[" << buttons.front() << "]\n";
        output_.flush();
        return 0;
    }
    for (size_t i = 0; i < buttons.size(); ++i) {
        output_ << "  " << i + 1 << ") " << buttons[i] << (i == 0 ? " (default)" : "") << '\n';
    }

    if (!presets_.empty()) {
        std::string preset = std::move(presets_.front());
        presets_.pop_front();
        if (std::optional<int> chosen = match(preset, buttons)) {
            output_ << "Answer: " << buttons[static_cast<size_t>(*chosen)] << " (given)\n";
            output_.flush();
            return *chosen;
        }
        output_ << "The given answer \"" << preset << "\" is not one of the buttons; using the default.\n";
    } else if (input_) {
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            output_ << "Choose 1-" << buttons.size() << " [1]: ";
            output_.flush();
            std::string line;
            if (!std::getline(*input_, line)) {
                output_ << '\n';
                break;
            }
            if (trimmed(line).empty()) break;
            if (std::optional<int> chosen = match(line, buttons)) return *chosen;
            output_ << "Please answer with a number from 1 to " << buttons.size() << " or a button's name.\n";
        }
    }
    output_ << "Answer: " << buttons.front() << " (default)\n";
    output_.flush();
    return 0;
}

}  // namespace tollvane
