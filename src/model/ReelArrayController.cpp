#include "model/ReelArrayController.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "document/Document.h"
#include "document/DocumentUndoController.h"
#include "model/Cue.h"
#include "model/Reel.h"
#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {

namespace {

constexpr const char* kAddObject = "addObject:";
constexpr const char* kRemoveObject = "removeObject:";
constexpr const char* kRelink = "_relink:";
constexpr const char* kReelsKey = "reels";
constexpr const char* kListKeys[] = {"content", "arrangedObjects", "arrangedObjectsAndMarkers"};

// Reels without a start come first; the sort is stable, so equal starts keep
// the order of the list.
bool startsBefore(const std::shared_ptr<Reel>& a, const std::shared_ptr<Reel>& b) {
    const auto& first = a->startTimecode();
    const auto& second = b->startTimecode();
    if (!second) return false;
    if (!first) return true;
    return first->compare(*second) < 0;
}

std::string lastPathComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string replacingPercentAt(const char* format, const std::string& text) {
    std::string result = format;
    const size_t at = result.find("%@");
    if (at != std::string::npos) result.replace(at, 2, text);
    return result;
}

void postSyncEventListingDidChange() {
    NotificationCenter::defaultCenter().postNotification(Reel::kSyncEventListingDidChangeNotification);
}

}  // namespace

// The undo manager holds its targets shared; the controller is owned by its
// document, so undo steps reach it through this forwarder, which outlives it
// harmlessly.
class ReelArrayController::UndoProxy : public UndoTarget {
public:
    explicit UndoProxy(ReelArrayController* controller) : controller_(controller) {}
    void detach() { controller_ = nullptr; }
    void performUndoOperation(const std::string& operation, const Value& argument) override {
        if (controller_) controller_->performUndoOperation(operation, argument);
    }

private:
    ReelArrayController* controller_;
};

ReelArrayController::ReelArrayController(Document& document)
    : document_(document), undoProxy_(std::make_shared<UndoProxy>(this)) {
    auto& center = NotificationCenter::defaultCenter();
    observers_.push_back(center.addObserver(Reel::kReelOrderDidChangeNotification,
                                            [this](const Notification&) { reelsNeedResorting(); }));
    observers_.push_back(center.addObserver(Cue::kReelSelectionByCueDidChangeNotification,
                                            [this](const Notification&) { updateReelSelection(); }));
}

ReelArrayController::~ReelArrayController() {
    auto& center = NotificationCenter::defaultCenter();
    for (const auto token : observers_) center.removeObserver(token);
    undoProxy_->detach();
    for (const auto& weak : adopted_) {
        if (auto reel = weak.lock(); reel && reel->document() == &document_) reel->setDocument(nullptr);
    }
}

// --- Content and order -------------------------------------------------------------

void ReelArrayController::announceListChange(void (KeyValueObservable::*announce)(std::string_view)) {
    for (const char* key : kListKeys) (this->*announce)(key);
}

void ReelArrayController::adopt(const std::shared_ptr<Reel>& reel) {
    if (reel->document() == &document_) return;
    reel->setDocument(&document_);
    adopted_.push_back(reel);
}

bool ReelArrayController::contains(const std::shared_ptr<Reel>& reel) const {
    return std::find(content_.begin(), content_.end(), reel) != content_.end();
}

void ReelArrayController::setContent(std::vector<std::shared_ptr<Reel>> reels) {
    std::erase(reels, nullptr);
    announceListChange(&KeyValueObservable::willChangeValueForKey);
    content_ = std::move(reels);
    for (const auto& reel : content_) adopt(reel);
    announceListChange(&KeyValueObservable::didChangeValueForKey);
    std::vector<std::shared_ptr<Reel>> kept;
    for (const auto& reel : selection_) {
        if (contains(reel)) kept.push_back(reel);
    }
    if (kept.size() != selection_.size()) setSelectedObjects(std::move(kept));
}

std::vector<std::shared_ptr<Reel>> ReelArrayController::arrangedObjects() const {
    std::vector<std::shared_ptr<Reel>> arranged = content_;
    std::stable_sort(arranged.begin(), arranged.end(), startsBefore);
    return arranged;
}

std::vector<std::shared_ptr<Reel>> ReelArrayController::arrangedObjectsAndMarkers() const {
    std::vector<std::shared_ptr<Reel>> choices{Reel::timecodeReelSelectionMarker()};
    const auto arranged = arrangedObjects();
    choices.insert(choices.end(), arranged.begin(), arranged.end());
    return choices;
}

void ReelArrayController::reelsNeedResorting() {
    // The order is computed when asked for; the tables only need to hear it.
    announceListChange(&KeyValueObservable::willChangeValueForKey);
    announceListChange(&KeyValueObservable::didChangeValueForKey);
}

// --- Selection ---------------------------------------------------------------------

void ReelArrayController::setSelectedObjects(std::vector<std::shared_ptr<Reel>> reels) {
    // As a table selects: only reels of the list, each once.
    std::vector<std::shared_ptr<Reel>> selection;
    for (auto& reel : reels) {
        if (reel && contains(reel) && std::find(selection.begin(), selection.end(), reel) == selection.end())
            selection.push_back(std::move(reel));
    }
    if (selection == selection_) return;
    willChangeValueForKey("selectedObjects");
    selection_ = std::move(selection);
    didChangeValueForKey("selectedObjects");
}

std::shared_ptr<Reel> ReelArrayController::selectedReel() const {
    return selection_.size() == 1 ? selection_.front() : nullptr;
}

bool ReelArrayController::selectReelForTimecode(const EMTimecode& timecode) {
    if (!document_.shouldSelectReelByTimecode()) return false;
    std::shared_ptr<Reel> found;
    for (const auto& reel : arrangedObjects()) {
        const auto end = reel->endTimecode();
        if (end && end->compare(timecode) > 0) {
            found = reel;
            break;
        }
    }
    if (!found) return false;
    if (selection_.size() == 1 && selection_.front() == found) return false;
    setSelectedObjects({found});
    return true;
}

void ReelArrayController::updateReelSelection() {
    if (document_.reelSelectionMode() != 2) return;
    const auto cue = document_.selectedCue();
    if (!cue) return;
    const auto reel = cue->reel();
    if (!reel || reel->isMarker()) return;
    setSelectedObjects({reel});
}

// --- Adding and removing -------------------------------------------------------------

std::shared_ptr<Reel> ReelArrayController::addReelWithPath(const std::string& path) {
    auto reel = Reel::create();
    reel->setPath(path);
    reel->setStartTimecode(EMTimecode::timecodeWithFramerate(
        EMTimecodeFramerate::framerateForIndex(document_.projectFramerate()), "1"));
    reel->setTitle(lastPathComponent(path));
    addObject(reel);
    postSyncEventListingDidChange();
    return reel;
}

void ReelArrayController::addObject(const std::shared_ptr<Reel>& reel) {
    if (!reel || contains(reel)) return;
    auto& undo = document_.undoController();
    undo.removeDeletedObject(Value(reel));
    undo.registerDiscreteUndoWithTarget(undoProxy_, kRemoveObject, Value(reel), "Add Reel");
    announceListChange(&KeyValueObservable::willChangeValueForKey);
    adopt(reel);
    content_.push_back(reel);
    announceListChange(&KeyValueObservable::didChangeValueForKey);
    postSyncEventListingDidChange();
}

void ReelArrayController::removeObject(const std::shared_ptr<Reel>& reel) {
    if (!reel || !contains(reel)) return;
    auto& undo = document_.undoController();
    undo.addDeletedObject(Value(reel));
    undo.registerDiscreteUndoWithTarget(undoProxy_, kAddObject, Value(reel), "Remove Reel");
    announceListChange(&KeyValueObservable::willChangeValueForKey);
    std::erase(content_, reel);
    announceListChange(&KeyValueObservable::didChangeValueForKey);
    if (std::find(selection_.begin(), selection_.end(), reel) != selection_.end()) {
        std::vector<std::shared_ptr<Reel>> kept = selection_;
        std::erase(kept, reel);
        setSelectedObjects(std::move(kept));
    }
    postSyncEventListingDidChange();
}

void ReelArrayController::remove() {
    const auto selected = selection_;
    if (selected.empty()) return;
    // Several reels go in one step, so that one undo brings them all back.
    auto& undo = document_.undoController();
    const bool grouping = selected.size() > 1 && !undo.undoGroupName();
    if (grouping) undo.setUndoGroupName(std::string("Remove Reel"));
    for (const auto& reel : selected) removeObject(reel);
    if (grouping) undo.setUndoGroupName(std::nullopt);
}

// --- Frame rate ------------------------------------------------------------------------

void ReelArrayController::updateProjectFramerate() {
    const EMTimecodeFramerate rate = EMTimecodeFramerate::framerateForIndex(document_.projectFramerate());
    // The document's own "Change Project Framerate" step undoes this: undoing
    // it sets the old rate, and the starts are read again at that rate.
    auto& undo = document_.undoController();
    const bool undoWasEnabled = undo.undoEnabled();
    if (undoWasEnabled) undo.setUndoEnabled(false);
    for (const auto& reel : content_) {
        // A reel without a start has no digits to keep.
        if (!reel->startTimecode()) continue;
        reel->setStartTimecode(EMTimecode::timecodeWithFramerate(rate, reel->startTimecodeString()));
    }
    if (undoWasEnabled) undo.setUndoEnabled(true);
    postSyncEventListingDidChange();
}

// --- Broken reels and re-linking ----------------------------------------------------------

bool ReelArrayController::hasBrokenReels() const {
    return std::any_of(content_.begin(), content_.end(), [](const auto& reel) { return !reel->validFile(); });
}

size_t ReelArrayController::relinkBrokenReelsFromDirectory(const std::string& directory) {
    std::vector<std::pair<std::shared_ptr<Reel>, std::string>> broken;
    for (const auto& reel : content_) {
        if (reel->validFile()) continue;
        std::string name = lastPathComponent(reel->path());
        if (!name.empty()) broken.emplace_back(reel, std::move(name));
    }
    if (broken.empty()) return 0;

    std::string base = directory;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    namespace fs = std::filesystem;
    std::error_code code;
    fs::recursive_directory_iterator walk(base, fs::directory_options::skip_permission_denied, code);
    size_t relinked = 0;
    for (const fs::recursive_directory_iterator end; !code && walk != end && !broken.empty();
         walk.increment(code)) {
        const fs::directory_entry& entry = *walk;
        // A movie is a file; a folder of the same name is walked into, not taken.
        std::error_code statusCode;
        if (entry.is_directory(statusCode)) continue;
        const std::string name = entry.path().filename().string();
        const auto match =
            std::find_if(broken.begin(), broken.end(), [&](const auto& item) { return item.second == name; });
        if (match == broken.end()) continue;
        auto argument = Value::dictionary();
        argument.dictionaryValue()->set("reel", Value(match->first));
        argument.dictionaryValue()->set("path",
                                        Value(base + "/" + entry.path().lexically_relative(base).string()));
        broken.erase(match);
        relink(argument);
        ++relinked;
    }
    return relinked;
}

void ReelArrayController::relink(const Value& reelAndPath) {
    const auto& entries = reelAndPath.dictionaryValue();
    if (!entries) return;
    const Value* reelValue = entries->find("reel");
    const Value* pathValue = entries->find("path");
    if (!reelValue || !pathValue) return;
    const auto reel = reelValue->object<Reel>();
    if (!reel || !pathValue->isString()) return;

    auto previous = Value::dictionary();
    previous.dictionaryValue()->set("reel", Value(reel));
    previous.dictionaryValue()->set("path", Value(reel->path()));
    document_.undoController().registerDiscreteUndoWithTarget(undoProxy_, kRelink, previous, "relink reel");
    reel->setPath(pathValue->stringValue());
    postSyncEventListingDidChange();
    // Both reel tables show the reel's state.
    reelsNeedResorting();
}

std::string ReelArrayController::toolTipForReel(const Reel& reel) const {
    return reel.validFile() ? reel.title() : "Unable to find a valid video file for this reel.";
}

// --- Reel-list files ---------------------------------------------------------------------

void ReelArrayController::showError(const char* title, const char* format, const std::string& reason) const {
    AlertPresenter::shared().runAlert({title, replacingPercentAt(format, reason), {}});
}

bool ReelArrayController::saveReelListToPath(const std::string& path) {
    if (content_.empty()) {
        AlertPresenter::shared().runAlert(
            {"Unable to save reels.",
             "There are no reels to save. Please add a reel or two and try again.",
             {}});
        return false;
    }
    constexpr const char* kTitle = "Error saving reel listing";
    constexpr const char* kText = "Tollvane was unable to save the reel listing. %@";
    std::vector<Value> reels(content_.begin(), content_.end());
    auto root = Value::dictionary();
    root.dictionaryValue()->set(kReelsKey, Value::array(std::move(reels)));
    Data bytes;
    try {
        bytes = KeyedArchiver::archivedDataWithRootObject(root);
    } catch (const std::exception& error) {
        showError(kTitle, kText, error.what());
        return false;
    }
    if (const std::string failure = AtomicFile::write(path, bytes); !failure.empty()) {
        showError(kTitle, kText, failure);
        return false;
    }
    return true;
}

bool ReelArrayController::loadReelListFromPath(const std::string& path) {
    constexpr const char* kTitle = "Error loading reel listing.";
    constexpr const char* kText = "Tollvane was unable to load the reel listing. %@";
    Reel::registerArchiveClass();
    Data bytes;
    if (const std::string failure = AtomicFile::read(path, Document::kLargestFile, bytes); !failure.empty()) {
        showError(kTitle, kText, failure);
        return false;
    }
    std::vector<std::shared_ptr<Reel>> reels;
    try {
        const Value root = KeyedUnarchiver::unarchivedObjectWithData(bytes);
        const auto& dictionary = root.dictionaryValue();
        const Value* list = dictionary ? dictionary->find(kReelsKey) : nullptr;
        if (!list || !list->isArray()) {
            showError(kTitle, kText, "The file holds no reel listing.");
            return false;
        }
        for (const auto& item : list->arrayValue()->items) {
            if (auto reel = item.object<Reel>()) reels.push_back(std::move(reel));
        }
    } catch (const std::exception& error) {
        showError(kTitle, kText, error.what());
        return false;
    }
    setContent(std::move(reels));
    postSyncEventListingDidChange();
    return true;
}

// --- Undo -----------------------------------------------------------------------------------

void ReelArrayController::performUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == kAddObject) {
        addObject(argument.object<Reel>());
    } else if (operation == kRemoveObject) {
        removeObject(argument.object<Reel>());
    } else if (operation == kRelink) {
        relink(argument);
    }
}

}  // namespace tollvane
