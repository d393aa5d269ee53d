#pragma once

// What a file-processing run reports to the user, in order: a heading (the
// file's name), plain messages, warnings and errors. An error may carry the
// number of the failure behind it (shown only when it is not 0) and a
// detail saying what failed.
//
// Threads: one thread at a time; no lock of its own.

#include <string>
#include <vector>

namespace tollvane {

class ProcessingLog {
public:
    enum class Kind { Heading, Message, Warning, Error };

    struct Entry {
        Kind kind = Kind::Message;
        std::string text;
        int errorNumber = 0;
        std::string detail;

        bool operator==(const Entry&) const = default;
    };

    void clear() { entries_.clear(); }
    void addHeading(const std::string& text);
    void addMessage(const std::string& text);
    void addWarning(const std::string& text);
    void addError(const std::string& text, int errorNumber = 0, const std::string& detail = "");

    const std::vector<Entry>& entries() const { return entries_; }
    bool hasErrors() const;

    // One line for an entry: a heading and a message as they stand,
    // "Warning: <text>", "Error: <text>" followed by " (Error <n>)" when the
    // number is not 0 and by the detail after ": " (inside the brackets when
    // there is a number).
    static std::string lineForEntry(const Entry& entry);
    // Every entry's line, each ended by a newline; the entries under a
    // heading indented by two blanks.
    std::string text() const;

private:
    std::vector<Entry> entries_;
};

}  // namespace tollvane
