#include "document/ProcessingLog.h"

#include <algorithm>

namespace tollvane {

void ProcessingLog::addHeading(const std::string& text) {
    entries_.push_back(Entry{Kind::Heading, text, 0, {}});
}

void ProcessingLog::addMessage(const std::string& text) {
    entries_.push_back(Entry{Kind::Message, text, 0, {}});
}

void ProcessingLog::addWarning(const std::string& text) {
    entries_.push_back(Entry{Kind::Warning, text, 0, {}});
}

void ProcessingLog::addError(const std::string& text, int errorNumber, const std::string& detail) {
    entries_.push_back(Entry{Kind::Error, text, errorNumber, detail});
}

bool ProcessingLog::hasErrors() const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [](const Entry& entry) { return entry.kind == Kind::Error; });
}

std::string ProcessingLog::lineForEntry(const Entry& entry) {
    switch (entry.kind) {
        case Kind::Heading:
        case Kind::Message:
            return entry.text;
        case Kind::Warning:
            return "Warning: " + entry.text;
        case Kind::Error:
            break;
    }
    std::string line = "Error: " + entry.text;
    if (entry.errorNumber != 0) {
        line += " (Error " + std::to_string(entry.errorNumber);
        if (!entry.detail.empty()) line += ": " + entry.detail;
        line += ")";
    } else if (!entry.detail.empty()) {
        line += ": " + entry.detail;
    }
    return line;
}

std::string ProcessingLog::text() const {
    std::string text;
    bool underHeading = false;
    for (const Entry& entry : entries_) {
        if (entry.kind == Kind::Heading) {
            underHeading = true;
        } else if (underHeading) {
            text += "  ";
        }
        text += lineForEntry(entry) + "\n";
    }
    return text;
}

}  // namespace tollvane
