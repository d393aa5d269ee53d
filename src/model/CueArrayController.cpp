#include "model/CueArrayController.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <utility>

#include "document/Document.h"
#include "document/DocumentUndoController.h"
#include "model/Cue.h"
#include "model/CueEnvironment.h"
#include "model/CueEvent.h"
#include "model/CueEventCueEnd.h"
#include "platform/AlertPresenter.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"

namespace tollvane {

namespace {

constexpr const char* kAddObject = "addObject:";
constexpr const char* kRemoveObject = "removeObject:";
constexpr const char* kAddCollectionOfObjects = "addCollectionOfObjects:";
constexpr const char* kRemoveCollectionOfObjects = "removeCollectionOfObjects:";
constexpr const char* kReinstateCue = "reinstateCue:";

constexpr double kNoSyncPoint = -std::numeric_limits<double>::infinity();

std::string lowercased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool containsIgnoringCase(const std::string& text, const std::string& part) {
    return lowercased(text).find(lowercased(part)) != std::string::npos;
}

// The title holds the name followed by a blank, or is the name.
bool titleNames(const std::string& title, const std::string& name) {
    return title == name || containsIgnoringCase(title, name + " ");
}

std::string format(const char* pattern, int value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

// 1 to 26 as the letters a to z; anything else adds nothing.
std::string letterFor(int32_t number) {
    if (number < 1 || number > 26) return {};
    return std::string(1, static_cast<char>('a' + number - 1));
}

}  // namespace

// Undo steps hold their target; the controller belongs to its document and
// is not shared, so a small shared forwarder stands in for it.
class CueArrayController::UndoForwarder : public UndoTarget {
public:
    explicit UndoForwarder(CueArrayController* controller) : controller_(controller) {}
    void detach() { controller_ = nullptr; }
    void performUndoOperation(const std::string& operation, const Value& argument) override {
        if (controller_) controller_->performUndoOperation(operation, argument);
    }

private:
    CueArrayController* controller_;
};

CueArrayController::CueArrayController(Document& document)
    : document_(document), undoTarget_(std::make_shared<UndoForwarder>(this)) {
    observers_.push_back(NotificationCenter::defaultCenter().addObserver(
        kCueOrderDidChangeNotification, [this](const Notification&) { rearrangeObjects(); }));
}

CueArrayController::~CueArrayController() {
    for (const auto token : observers_) NotificationCenter::defaultCenter().removeObserver(token);
    undoTarget_->detach();
    for (auto& [cue, timing] : timings_) stopObserving(*timing);
}

// --- Content ---------------------------------------------------------------------

void CueArrayController::setContent(std::vector<std::shared_ptr<Cue>> cues) {
    willChangeContent();
    for (auto& [cue, timing] : timings_) stopObserving(*timing);
    timings_.clear();
    content_.clear();
    for (const auto& cue : cues) insertCue(cue);
    didChangeContent();
}

bool CueArrayController::contains(const std::shared_ptr<Cue>& cue) const {
    return timings_.count(cue.get()) != 0;
}

bool CueArrayController::insertCue(const std::shared_ptr<Cue>& cue) {
    if (!cue || contains(cue)) return false;
    cue->setDocument(&document_);
    content_.push_back(cue);
    observe(cue);
    return true;
}

bool CueArrayController::eraseCue(const std::shared_ptr<Cue>& cue) {
    auto found = timings_.find(cue.get());
    if (found == timings_.end()) return false;
    stopObserving(*found->second);
    timings_.erase(found);
    std::erase(content_, cue);
    orderDirty_ = true;
    return true;
}

void CueArrayController::willChangeContent() {
    willChangeValueForKey("content");
}

void CueArrayController::didChangeContent() {
    didChangeValueForKey("content");
    rearrangeObjects();
    pruneSelection();
}

void CueArrayController::pruneSelection() {
    std::vector<std::shared_ptr<Cue>> kept;
    for (const auto& cue : selection_) {
        if (contains(cue)) kept.push_back(cue);
    }
    if (kept.size() != selection_.size()) setSelectedObjects(std::move(kept));
}

std::vector<std::shared_ptr<Cue>> CueArrayController::arrangedObjects() const {
    return arranged_;
}

void CueArrayController::rearrangeObjects() {
    refreshTimings(false);
    std::vector<std::pair<double, std::shared_ptr<Cue>>> keyed;
    keyed.reserve(content_.size());
    for (const auto& cue : content_) keyed.emplace_back(timings_.at(cue.get())->sync, cue);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    willChangeValueForKey("arrangedObjects");
    arranged_.clear();
    for (auto& [sync, cue] : keyed) arranged_.push_back(std::move(cue));
    didChangeValueForKey("arrangedObjects");
}

// --- Selection ---------------------------------------------------------------------

void CueArrayController::setSelectedObjects(std::vector<std::shared_ptr<Cue>> cues) {
    willChangeValueForKey("selectedCue");
    selection_ = std::move(cues);
    didChangeValueForKey("selectedCue");
    NotificationCenter::defaultCenter().postNotification(Cue::kReelSelectionByCueDidChangeNotification);
}

std::shared_ptr<Cue> CueArrayController::selectedCue() const {
    if (document_.viewType() == Document::kADRFoleyViewType) return document_.adrFoleyCue();
    return selection_.size() == 1 ? selection_.front() : nullptr;
}

void CueArrayController::documentViewTypeDidChange() {
    willChangeValueForKey("selectedCue");
    didChangeValueForKey("selectedCue");
}

void CueArrayController::select(const std::shared_ptr<Cue>& cue) {
    setSelectedObjects({cue});
}

bool CueArrayController::isSelectedCue(const std::shared_ptr<Cue>& cue) const {
    return selection_.size() == 1 && selection_.front() == cue;
}

// --- Adding and removing -------------------------------------------------------------

void CueArrayController::registerUndo(const std::string& operation, const Value& argument,
                                      const std::string& actionName) {
    document_.undoController().registerDiscreteUndoWithTarget(undoTarget_, operation, argument, actionName);
}

Value CueArrayController::arrayOf(const std::vector<std::shared_ptr<Cue>>& cues) {
    std::vector<Value> items;
    items.reserve(cues.size());
    for (const auto& cue : cues) items.emplace_back(cue);
    return Value::array(std::move(items));
}

std::vector<std::shared_ptr<Cue>> CueArrayController::cuesOf(const Value& array) {
    std::vector<std::shared_ptr<Cue>> cues;
    if (const auto& list = array.arrayValue()) {
        for (const auto& item : list->items) {
            if (auto cue = item.object<Cue>()) cues.push_back(std::move(cue));
        }
    }
    return cues;
}

void CueArrayController::performUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == kAddObject) {
        addObject(argument.object<Cue>());
    } else if (operation == kRemoveObject) {
        removeObject(argument.object<Cue>());
    } else if (operation == kAddCollectionOfObjects) {
        addCollectionOfObjects(cuesOf(argument));
    } else if (operation == kRemoveCollectionOfObjects) {
        removeCollectionOfObjects(cuesOf(argument));
    } else if (operation == kReinstateCue) {
        reinstateCue(argument.object<Cue>());
    }
}

std::shared_ptr<Cue> CueArrayController::newCue() {
    auto cue = Cue::create();
    // Added without an undo step of its own: "New Cue" is the one step.
    willChangeContent();
    insertCue(cue);
    didChangeContent();
    registerUndo(kRemoveObject, Value(cue), "New Cue");
    select(cue);
    return cue;
}

void CueArrayController::addObject(const std::shared_ptr<Cue>& cue) {
    if (!cue || contains(cue)) return;
    willChangeContent();
    insertCue(cue);
    registerUndo(kRemoveObject, Value(cue), "Add Cue");
    document_.undoController().removeDeletedObject(Value(cue));
    didChangeContent();
}

void CueArrayController::removeObject(const std::shared_ptr<Cue>& cue) {
    if (!cue || !contains(cue)) return;
    willChangeContent();
    registerUndo(kReinstateCue, Value(cue), "Remove Cue");
    document_.undoController().addDeletedObject(Value(cue));
    eraseCue(cue);
    didChangeContent();
}

void CueArrayController::addCollectionOfObjects(const std::vector<std::shared_ptr<Cue>>& cues) {
    std::vector<std::shared_ptr<Cue>> added;
    willChangeContent();
    for (const auto& cue : cues) {
        if (!insertCue(cue)) continue;
        document_.undoController().removeDeletedObject(Value(cue));
        added.push_back(cue);
    }
    if (!added.empty()) registerUndo(kRemoveCollectionOfObjects, arrayOf(added), "Add Cues");
    didChangeContent();
}

void CueArrayController::removeCollectionOfObjects(const std::vector<std::shared_ptr<Cue>>& cues) {
    std::vector<std::shared_ptr<Cue>> removed;
    willChangeContent();
    for (const auto& cue : cues) {
        if (!cue || !contains(cue)) continue;
        document_.undoController().addDeletedObject(Value(cue));
        eraseCue(cue);
        removed.push_back(cue);
    }
    if (!removed.empty()) registerUndo(kAddCollectionOfObjects, arrayOf(removed), "Remove Cues");
    didChangeContent();
}

void CueArrayController::reinstateCue(const std::shared_ptr<Cue>& cue) {
    addObject(cue);
    document_.undoController().removeDeletedObject(Value(cue));
}

void CueArrayController::remove() {
    // One undo step for what the user removed in one go.
    const std::vector<std::shared_ptr<Cue>> selected = selection_;
    if (selected.size() == 1) {
        removeObject(selected.front());
    } else if (!selected.empty()) {
        removeCollectionOfObjects(selected);
    }
}

std::shared_ptr<Cue> CueArrayController::duplicateSelectedCue() {
    // The list's own selection: the ADR/Foley view's hidden cue is never copied into the list.
    if (selection_.size() != 1) return nullptr;
    auto copy = selection_.front()->copy();
    copy->setDocument(&document_);
    addObject(copy);
    select(copy);
    return copy;
}

std::shared_ptr<Cue> CueArrayController::cueForID(uint32_t cueID) const {
    for (const auto& cue : content_) {
        if (cue->cueID() == cueID) return cue;
    }
    return nullptr;
}

size_t CueArrayController::importCuesFromTollvaneDocumentAtPath(const std::string& path) {
    std::vector<std::shared_ptr<Cue>> cues;
    {
        std::string error;
        auto other = Document::documentWithContentsOfFile(path, &error);
        if (!other && !error.empty()) TLLog("%s", error.c_str());
        if (other) cues = other->cueController().content();
        // The other document goes before its cues change hands, so that
        // nothing it does on its way out reaches cues that are ours by then.
    }
    std::vector<std::shared_ptr<Cue>> imported;
    willChangeContent();
    for (const auto& cue : cues) {
        if (!insertCue(cue)) continue;
        imported.push_back(cue);
        // Its cue changes still name the document it came from.
        if (cue->sequenceNamesDocument()) cue->reallyUpdateSequence();
    }
    didChangeContent();
    if (imported.empty()) {
        Alert alert;
        alert.title = "No cues were imported.";
        alert.text = "Please make sure to select a Tollvane document with at least one cue.";
        AlertPresenter::shared().runAlert(alert);
        return 0;
    }
    registerUndo(kRemoveCollectionOfObjects, arrayOf(imported), "Import Cues");
    return imported.size();
}

// --- Selecting without a click ---------------------------------------------------------

bool CueArrayController::selectCueForTimecode(const EMTimecode& timecode) {
    // The ADR/Foley view plays its hidden cue; the list's cues have no end there.
    if (document_.viewType() == Document::kADRFoleyViewType) return false;
    refreshTimings(true);
    const double t = timecode.secondsFromZero();
    Timing* candidate = nullptr;
    for (Timing* timing : latestFirst_) {
        if (!timing->takesPart) continue;
        if (!(t > timing->end)) candidate = timing;
        if (t > timing->rehearsalStart || t > timing->end) break;
    }
    // A walk that never stops has made each cue the candidate in turn, and
    // so ends on the earliest.
    if (!candidate || isSelectedCue(candidate->cue)) return false;
    select(candidate->cue);
    return true;
}

bool CueArrayController::loadCueMatchingMSCCueNumber(const std::string& number) {
    // An empty number would match every title with a blank in it.
    if (number.empty()) return false;
    for (const auto& cue : content_) {
        if (titleNames(cue->title(), number)) {
            select(cue);
            return true;
        }
    }
    return false;
}

bool CueArrayController::loadCueMatchingReelNumber(int32_t reelNumber, int32_t cueNumber,
                                                   int32_t subCueNumber, int32_t versionNumber,
                                                   int32_t subVersionNumber) {
    const std::string name = format("%d", reelNumber) + format("m%d", cueNumber) + letterFor(subCueNumber);
    std::vector<std::shared_ptr<Cue>> named;
    for (const auto& cue : content_) {
        if (titleNames(cue->title(), name)) named.push_back(cue);
    }
    if (named.empty()) return false;
    const std::string subVersion = letterFor(subVersionNumber);
    const std::string marks[] = {format("v%d", versionNumber) + subVersion,
                                 format("v.%d", versionNumber) + subVersion};
    std::shared_ptr<Cue> chosen = named.front();
    for (const auto& cue : named) {
        if (containsIgnoringCase(cue->title(), marks[0]) || containsIgnoringCase(cue->title(), marks[1])) {
            chosen = cue;
        }
    }
    select(chosen);
    return true;
}

bool CueArrayController::loadCueMatchingString(const std::string& text) {
    // Every title contains the empty text.
    if (text.empty()) return false;
    if (UserDefaults::standardUserDefaults().boolForKey("debugAutoFollow")) {
        TLLog("CAC loading match %s", text.c_str());
    }
    for (const auto& cue : arranged_) {
        if (!containsIgnoringCase(cue->title(), text)) continue;
        CueEnvironment& environment = CueEnvironment::current();
        environment.setProcessingAutoFollow(true);
        select(cue);
        environment.setProcessingAutoFollow(false);
        return true;
    }
    return false;
}

// --- Kept timings ---------------------------------------------------------------------

void CueArrayController::observe(const std::shared_ptr<Cue>& cue) {
    auto timing = std::make_unique<Timing>();
    Timing* kept = timing.get();
    timing->cue = cue;
    timing->cueToken = cue->addKeyObserver([this, kept](std::string_view) { markDirty(*kept); });
    timings_.emplace(cue.get(), std::move(timing));
    anyTimingDirty_ = true;
    orderDirty_ = true;
}

void CueArrayController::stopObserving(Timing& timing) {
    timing.cue->removeKeyObserver(timing.cueToken);
    if (auto end = timing.observedEnd.lock()) end->removeKeyObserver(timing.endToken);
    timing.observedEnd.reset();
}

void CueArrayController::markDirty(Timing& timing) {
    timing.dirty = true;
    anyTimingDirty_ = true;
}

double CueArrayController::syncSecondsOf(const Cue& cue) {
    const auto sync = cue.syncTimecode();
    return sync ? sync->secondsFromZero() : kNoSyncPoint;
}

void CueArrayController::refreshTiming(Timing& timing, bool withTimes) {
    const double sync = syncSecondsOf(*timing.cue);
    if (sync != timing.sync) orderDirty_ = true;
    timing.sync = sync;
    if (!withTimes) return;

    // The end event's own lock timecode changes without the cue saying so
    // until its next rebuild.
    const std::shared_ptr<CueEvent> end = timing.cue->cueEndEvent();
    if (end != timing.observedEnd.lock()) {
        if (auto old = timing.observedEnd.lock()) old->removeKeyObserver(timing.endToken);
        timing.observedEnd = end;
        Timing* kept = &timing;
        if (end) timing.endToken = end->addKeyObserver([this, kept](std::string_view) { markDirty(*kept); });
    }

    const auto rehearsalStart = timing.cue->rehearsalStartTimecode();
    const auto cueEnd = timing.cue->cueEndTimecode();
    timing.takesPart = sync != kNoSyncPoint && rehearsalStart && cueEnd;
    timing.rehearsalStart = rehearsalStart ? rehearsalStart->secondsFromZero() : 0.0;
    timing.end = cueEnd ? cueEnd->secondsFromZero() + 1.0 : 0.0;
    timing.dirty = false;
}

void CueArrayController::refreshTimings(bool withTimes) {
    if (anyTimingDirty_) {
        bool stillDirty = false;
        for (auto& [cue, timing] : timings_) {
            if (!timing->dirty) continue;
            refreshTiming(*timing, withTimes);
            stillDirty = stillDirty || timing->dirty;
        }
        anyTimingDirty_ = stillDirty;
    }
    if (!orderDirty_) return;
    latestFirst_.clear();
    latestFirst_.reserve(content_.size());
    for (const auto& cue : content_) latestFirst_.push_back(timings_.at(cue.get()).get());
    std::stable_sort(latestFirst_.begin(), latestFirst_.end(),
                     [](const Timing* a, const Timing* b) { return a->sync > b->sync; });
    orderDirty_ = false;
}

}  // namespace tollvane
