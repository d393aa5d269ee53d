#pragma once

#include <stdexcept>
#include <string>

namespace tollvane {

// Raised for data that cannot be archived or unarchived. The message names
// what is wrong ("object 12: key \"NS.objects\" is not an array") so that a
// refused file can be reported to the user as it is.
class ArchiveError : public std::runtime_error {
public:
    explicit ArchiveError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace tollvane
