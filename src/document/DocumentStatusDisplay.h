#pragma once

// Where a document shows its passing status messages ("Autosaved", "Wrong
// framerate"): the document window's status bar. The command line and
// tests install their own.
//
// Threads: main thread.

#include <string>

namespace tollvane {

class DocumentStatusDisplay {
public:
    virtual ~DocumentStatusDisplay() = default;
    // Shows `text` for `seconds`, then the permanent status again.
    virtual void showStatusMessage(const std::string& text, double seconds) = 0;
};

}  // namespace tollvane
