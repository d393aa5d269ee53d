#include "app/cli/CommandLineOptions.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "app/cli/CommandLineError.h"

namespace tollvane {
namespace {

template <typename T>
bool readWhole(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

}  // namespace

CommandLineOptions& CommandLineOptions::flag(std::string name, bool& target) {
    return flag(std::move(name), [&target] { target = true; });
}

CommandLineOptions& CommandLineOptions::flag(std::string name, std::function<void()> action) {
    options_.push_back(
        Option{std::move(name), false, [action = std::move(action)](const std::string&) { action(); }});
    return *this;
}

CommandLineOptions& CommandLineOptions::value(std::string name, std::string& target) {
    return value(std::move(name), [&target](const std::string& text) { target = text; });
}

CommandLineOptions& CommandLineOptions::value(std::string name,
                                              std::function<void(const std::string&)> action) {
    options_.push_back(Option{std::move(name), true, std::move(action)});
    return *this;
}

const CommandLineOptions::Option* CommandLineOptions::find(const std::string& name) const {
    for (const Option& option : options_) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

bool CommandLineOptions::parse(const std::vector<std::string>& arguments, size_t minOperands,
                               size_t maxOperands, const std::string& operandsWanted) {
    operands_.clear();
    bool help = false;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && (argument == "-h" || argument == "--help")) {
            help = true;
            continue;
        }
        // A negative number is an operand, not an option.
        const bool isOption = !optionsEnded && argument.size() >= 2 && argument[0] == '-' &&
                              !(argument[1] >= '0' && argument[1] <= '9') && argument[1] != '.';
        if (!isOption) {
            if (operands_.size() == maxOperands)
                throw CommandLineError("unexpected argument '" + argument + "'");
            operands_.push_back(argument);
            continue;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const Option* option = find(name);
        if (!option) throw CommandLineError("unknown option '" + name + "'");
        if (!option->takesValue) {
            if (equals != std::string::npos) throw CommandLineError(name + " takes no value");
            option->action({});
        } else if (equals != std::string::npos) {
            option->action(argument.substr(equals + 1));
        } else {
            if (i + 1 >= arguments.size()) throw CommandLineError(name + " needs a value");
            option->action(arguments[++i]);
        }
    }
    if (help) return false;
    if (operands_.size() < minOperands) {
        throw CommandLineError(command_ + " needs " +
                               (operandsWanted.empty() ? "more arguments" : operandsWanted));
    }
    return true;
}

uint32_t CommandLineOptions::wholeNumber(const std::string& option, const std::string& text) {
    uint32_t value = 0;
    if (!readWhole(text, value)) throw CommandLineError(option + " needs a whole number, not '" + text + "'");
    return value;
}

int64_t CommandLineOptions::integer(const std::string& option, const std::string& text) {
    int64_t value = 0;
    if (!readWhole(text, value)) throw CommandLineError(option + " needs an integer, not '" + text + "'");
    return value;
}

double CommandLineOptions::number(const std::string& option, const std::string& text) {
    double value = 0.0;
    if (!readWhole(text, value) || !std::isfinite(value)) {
        throw CommandLineError(option + " needs a number, not '" + text + "'");
    }
    return value;
}

}  // namespace tollvane
