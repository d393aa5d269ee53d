#pragma once

// Reads one command's arguments against the table of its options, so that
// every command treats "--help", unknown options, missing values and stray
// operands the same way. Options come as "--name VALUE" or "--name=VALUE";
// anything not starting with "-" is an operand, and so are "-" alone and
// negative numbers; after "--" every argument is an operand.
//
//     CommandLineOptions options("import-smf");
//     options.flag("--list", list).value("--tracks", [&](const std::string& v) { ... });
//     if (!options.parse(arguments, 2, 2, "a document FILE and a MIDI file")) { usage; }
//
// Errors are CommandLineError with a one-line message.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tollvane {

class CommandLineOptions {
public:
    explicit CommandLineOptions(std::string command) : command_(std::move(command)) {}

    // A switch without a value.
    CommandLineOptions& flag(std::string name, bool& target);
    CommandLineOptions& flag(std::string name, std::function<void()> action);
    // An option that takes a value.
    CommandLineOptions& value(std::string name, std::string& target);
    CommandLineOptions& value(std::string name, std::function<void(const std::string&)> action);

    // Reads `arguments`. Answers false when help was asked for ("-h" or
    // "--help"; the operand count is then not checked). Otherwise needs
    // between `minOperands` and `maxOperands` operands; `operandsWanted`
    // names them for the message when there are too few.
    bool parse(const std::vector<std::string>& arguments, size_t minOperands, size_t maxOperands,
               const std::string& operandsWanted = {});
    const std::vector<std::string>& operands() const { return operands_; }

    // Values, with an error naming the option when they do not read whole.
    static uint32_t wholeNumber(const std::string& option, const std::string& text);
    static int64_t integer(const std::string& option, const std::string& text);
    static double number(const std::string& option, const std::string& text);

private:
    struct Option {
        std::string name;
        bool takesValue = false;
        std::function<void(const std::string&)> action;
    };
    const Option* find(const std::string& name) const;

    std::string command_;
    std::vector<Option> options_;
    std::vector<std::string> operands_;
};

}  // namespace tollvane
