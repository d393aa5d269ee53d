#include "document/DocumentController.h"

#include <algorithm>
#include <cctype>

#include "document/Document.h"
#include "model/Reel.h"
#include "platform/AlertPresenter.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"

namespace tollvane {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%20" and the like become their characters; a "%" that starts no escape stays.
std::string removingPercentEscapes(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            if (high >= 0 && low >= 0) {
                result.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        result.push_back(text[i]);
    }
    return result;
}

std::string removingAll(std::string text, const std::string& part) {
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at))
        text.erase(at, part.size());
    return text;
}

}  // namespace

DocumentController& DocumentController::sharedDocumentController() {
    static DocumentController instance;
    return instance;
}

DocumentController::~DocumentController() {
    if (autosaveTimer_) autosaveTimer_->invalidate();
}

void DocumentController::addDocument(const std::shared_ptr<Document>& document) {
    if (!document || std::find(documents_.begin(), documents_.end(), document) != documents_.end()) return;
    documents_.push_back(document);
    frontDocumentMayHaveChanged();
}

void DocumentController::removeDocument(const std::shared_ptr<Document>& document) {
    const auto it = std::find(documents_.begin(), documents_.end(), document);
    if (it == documents_.end()) return;
    documents_.erase(it);
    if (currentDocument_.lock() == document) currentDocument_.reset();
    frontDocumentMayHaveChanged();
}

void DocumentController::setCurrentDocument(const std::shared_ptr<Document>& document) {
    currentDocument_ = document;
    frontDocumentMayHaveChanged();
}

std::shared_ptr<Document> DocumentController::frontDocument() const {
    if (auto current = currentDocument_.lock()) return current;
    if (documents_.empty()) return nullptr;
    if (auto remembered = frontDocument_.lock();
        remembered && std::find(documents_.begin(), documents_.end(), remembered) != documents_.end()) {
        return remembered;
    }
    return documents_.front();
}

void DocumentController::frontDocumentMayHaveChanged() {
    const auto front = frontDocument();
    const auto remembered = frontDocument_.lock();
    if (front == remembered) return;
    willChangeValueForKey("frontDocument");
    frontDocument_ = front;
    didChangeValueForKey("frontDocument");
    NotificationCenter::defaultCenter().postNotification(Reel::kSyncEventListingDidChangeNotification);
}

void DocumentController::setAutosavingDelay(double seconds) {
    if (autosaveTimer_) {
        autosaveTimer_->invalidate();
        autosaveTimer_.reset();
    }
    autosavingDelay_ = seconds > 0.0 ? seconds : 0.0;
    RunLoop* loop = RunLoop::mainIfInstalled();
    if (autosavingDelay_ == 0.0 || !loop) return;
    autosaveTimer_ = loop->scheduleTimer(autosavingDelay_, true, [this]() { autosaveDocuments(); });
}

void DocumentController::autosaveDocuments() {
    // A copy: autosaving may end in an alert, during which documents may close.
    const auto documents = documents_;
    for (const auto& document : documents) {
        if (document->hasUnautosavedChanges()) document->autosave();
    }
}

bool DocumentController::shouldRestoreAutosavedDocument(const std::string& fileName) {
    std::string text;
    if (fileName.empty()) {
        text =
            "Tollvane has found unsaved changes to an untitled document from a previous session. Would you "
            "like "
            "to restore these changes?";
    } else {
        const std::string lastComponent = fileName.substr(fileName.find_last_of('/') + 1);
        const std::string name = removingAll(removingPercentEscapes(lastComponent), ".tollvane");
        text = "Tollvane has found unsaved changes to the document \"" + name +
               "\" from a previous session. Would you like to restore these changes?";
    }
    return AlertPresenter::shared().runAlert({"Restore autosaved document?", text, {"Restore", "Discard"}}) ==
           0;
}

}  // namespace tollvane
