#pragma once

// The document windows and other windows as far as the application delegate
// drives them: bringing a document's window forward with a field active,
// opening a named window, the front document's MTC status and the help
// page. The GUI installs its own; the command line one that prints; without
// one these requests are dropped.
//
// Threads: main thread.

#include <memory>
#include <string>

namespace tollvane {

class Document;

class DocumentWindowPresenter {
public:
    // The transport and count-off controls a command can make active.
    enum class Field { None, TransportStartTime, CountoffBeats, CountoffDuration };

    virtual ~DocumentWindowPresenter() = default;

    // Brings the document's window to the front with `field` active.
    virtual void showDocumentWindow(const std::shared_ptr<Document>& /*document*/, Field /*field*/) {}
    virtual void showReelsWindow(const std::shared_ptr<Document>& /*document*/) {}
    // Opens a window description by name ("SyncStatus").
    virtual void openWindowNamed(const std::string& /*name*/) {}
    // The front document window's MTC status text.
    virtual void setMTCStatus(const std::string& /*status*/) {}
    virtual void openURL(const std::string& /*url*/) {}
};

}  // namespace tollvane
