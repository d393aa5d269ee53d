#pragma once

// The application's open documents and which of them is the front document,
// the one whose selected reel and cue the real-time side follows; autosaving
// every open document on a timer; and the prompt that offers to restore
// autosaved work at launch.
//
// Threads: main thread.

#include <memory>
#include <string>
#include <vector>

#include "platform/KeyValueObservable.h"
#include "platform/Timer.h"

namespace tollvane {

class Document;

class DocumentController : public KeyValueObservable {
public:
    static DocumentController& sharedDocumentController();

    DocumentController() = default;
    ~DocumentController() override;
    DocumentController(const DocumentController&) = delete;
    DocumentController& operator=(const DocumentController&) = delete;

    const std::vector<std::shared_ptr<Document>>& documents() const { return documents_; }
    void addDocument(const std::shared_ptr<Document>& document);
    void removeDocument(const std::shared_ptr<Document>& document);

    // The document whose window is main (set by the windows), or null.
    std::shared_ptr<Document> currentDocument() const { return currentDocument_.lock(); }
    void setCurrentDocument(const std::shared_ptr<Document>& document);

    // The current document; else the remembered front document if still
    // open; else the first open document; null with none open.
    std::shared_ptr<Document> frontDocument() const;
    // Recomputes; a change is announced ("frontDocument") and posts
    // "TLSyncEventListingDidChangeNotification". Adding, removing and
    // setting the current document call it.
    void frontDocumentMayHaveChanged();

    // Autosaves every edited document every `seconds` on the main run loop
    // (0 stops; without a main run loop nothing is scheduled).
    void setAutosavingDelay(double seconds);
    double autosavingDelay() const { return autosavingDelay_; }
    // Autosaves every document with changes not yet autosaved (what the
    // timer does).
    void autosaveDocuments();

    // Asks "Restore autosaved document?" for the autosave copy of `fileName`
    // (a path or file name, percent escapes and ".tollvane" taken out; ""
    // for an untitled document); true for "Restore".
    static bool shouldRestoreAutosavedDocument(const std::string& fileName);

private:
    std::vector<std::shared_ptr<Document>> documents_;
    std::weak_ptr<Document> currentDocument_;
    std::weak_ptr<Document> frontDocument_;
    std::shared_ptr<Timer> autosaveTimer_;
    double autosavingDelay_ = 0.0;
};

}  // namespace tollvane
