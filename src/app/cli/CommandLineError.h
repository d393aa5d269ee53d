#pragma once

#include <stdexcept>
#include <string>

namespace tollvane {

// A bad option or value on the command line: printed as one line, exit status 2.
class CommandLineError : public std::runtime_error {
public:
    explicit CommandLineError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace tollvane
