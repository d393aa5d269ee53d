#include "document/Document.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include "TollvaneVersion.h"
#include "document/DocumentStatusDisplay.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventTempoChange.h"
#include "model/FFAlias.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

namespace {

constexpr const char* kSetProjectFramerate = "setProjectFramerate:";
constexpr const char* kSetReelSelectionMode = "setReelSelectionMode:";
constexpr const char* kSetCueSelectionMode = "setCueSelectionMode:";
constexpr const char* kZeroRect = "{{0, 0}, {0, 0}}";
constexpr const char* kAutosaveSuffix = ".autosave.tollvane";
constexpr const char* kNotADocument = "The file is not a Tollvane document: ";
constexpr int64_t kLastOldADRFoleyVersion = 216;
constexpr const char* kCannotReadText =
    "This file was created with a later version of Tollvane, and cannot be opened by this version.";
// "unsuppported" is the text users have always seen.
constexpr const char* kLaterVersionText =
    "This file was created with a later version of Tollvane, and may contain data that is unsupported by "
    "this "
    "version. If it does, any unsuppported data will be lost when you save. Do you want to open the file "
    "anyway?";
constexpr const char* kConvertedText =
    "This Tollvane document was saved in an older ADR/Foley format. It has been automatically converted. If "
    "you "
    "save this document, you will not be able to open it in versions of Tollvane older than v3.1.";

// The keys this version writes, in the order it writes them.
constexpr const char* kKnownKeys[] = {
    "minVersion",
    "absoluteMinVersion",
    "reels",
    "cues",
    "adrFoleyEvents",
    "reelSelectionMode",
    "cueSelectionMode",
    "projectFramerate",
    "documentViewType",
    "documentWindowFrame",
    "documentWindowOptions",
};

struct HandleRegistry {
    std::mutex mutex;
    std::map<uint32_t, std::weak_ptr<Document>> documents;
};

HandleRegistry& registry() {
    static HandleRegistry instance;
    return instance;
}

uint32_t nextHandle() {
    // Never 0, so a zeroed record names no document.
    static std::atomic<uint32_t> counter{0};
    return ++counter;
}

void registerArchiveClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        Cue::registerArchiveClass();
        Reel::registerArchiveClass();
        FFAlias::registerArchiveClass();
    });
}

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

// Restores the undo switch however loading ends.
class UndoOff {
public:
    explicit UndoOff(DocumentUndoController& undo) : undo_(undo), wasEnabled_(undo.undoEnabled()) {
        if (wasEnabled_) undo_.setUndoEnabled(false);
    }
    ~UndoOff() {
        if (wasEnabled_) undo_.setUndoEnabled(true);
    }
    UndoOff(const UndoOff&) = delete;
    UndoOff& operator=(const UndoOff&) = delete;

private:
    DocumentUndoController& undo_;
    bool wasEnabled_;
};

// The objects of one class in a list of the root dictionary. A key that holds
// something other than a list makes the file no document; elements of other
// classes are dropped with a warning.
template <class T>
bool objectsOfList(const ValueDictionary& root, const char* key, std::vector<std::shared_ptr<T>>& objects,
                   std::string* error) {
    const Value* list = root.find(key);
    if (!list || list->isNull()) return true;
    if (!list->isArray()) {
        setError(error, std::string(kNotADocument) + "\"" + key + "\" is not a list.");
        return false;
    }
    for (const Value& item : list->arrayValue()->items) {
        if (auto object = item.object<T>()) {
            objects.push_back(std::move(object));
        } else {
            TLLog("Warning: \"%s\" holds an object of another kind. Skipping.", key);
        }
    }
    return true;
}

template <class T>
Value arrayOf(const std::vector<std::shared_ptr<T>>& objects) {
    std::vector<Value> items;
    items.reserve(objects.size());
    for (const auto& object : objects) items.emplace_back(object);
    return Value::array(std::move(items));
}

// A version as text: strings as they stand, numbers written out.
std::optional<std::string> versionString(const Value* value) {
    if (!value) return std::nullopt;
    if (value->isString()) return value->stringValue();
    if (value->isInteger() || value->isBool()) return std::to_string(value->toInt64());
    if (value->isReal()) {
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", value->toDouble());
        return std::string(text);
    }
    return std::nullopt;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string stateFolder() {
    std::string folder = environment("TOLLVANE_CONFIG_DIR");
    if (!folder.empty()) return folder;
    std::string state = environment("XDG_STATE_HOME");
    // Relative values are to be ignored, as the base-directory convention says.
    if (state.empty() || state.front() != '/') {
        const std::string home = environment("HOME");
        if (home.empty()) return std::filesystem::temp_directory_path().string() + "/tollvane";
        state = home + "/.local/state";
    }
    return state + "/tollvane";
}

}  // namespace

// --- Versions ----------------------------------------------------------------------

int Document::compareVersions(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Runs of digits compare as numbers of any length: leading zeros
            // dropped, then the longer run is the greater, then digit by digit.
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && isDigit(a[endA])) ++endA;
            while (endB < b.size() && isDigit(b[endB])) ++endB;
            const std::string_view runA = a.substr(i, endA - i);
            const std::string_view runB = b.substr(j, endB - j);
            if (runA.size() != runB.size()) return runA.size() < runB.size() ? -1 : 1;
            if (const int order = runA.compare(runB); order != 0) return order < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

int64_t Document::integerValueOfVersion(const Value& version) {
    if (version.isNumber()) return version.toInt64();
    if (!version.isString()) return 0;
    // The leading integer, as the platform's intValue reads it.
    const std::string& text = version.stringValue();
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        if (value > (INT32_MAX - (text[i] - '0')) / 10) return negative ? INT32_MIN : INT32_MAX;
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

// --- Life cycle ------------------------------------------------------------------

Document::Document() : undoController_(this, undoManager_), handle_(nextHandle()) {
    root_ = std::make_shared<ValueDictionary>();
    root_->isMutable = true;
    root_->set("reels", Value::array());
    root_->set("cues", Value::array());
    root_->set("adrFoleyEvents", Value::array());

    const UserDefaults& defaults = UserDefaults::standardUserDefaults();
    const Value lastRate = defaults.objectForKey("lastProjectFramerate");
    projectFramerate_ = lastRate.isNumber() ? lastRate.toInt64() : 4;
    viewType_.store(static_cast<int32_t>(defaults.integerForKey("lastDocumentViewType")),
                    std::memory_order_release);

    reelController_ = std::make_unique<ReelArrayController>(*this);
    cueController_ = std::make_unique<CueArrayController>(*this);
}

Document::~Document() {
    {
        std::lock_guard lock(registry().mutex);
        registry().documents.erase(handle_);
    }
    // Cues and reels may outlive the document (a player, an undo step of
    // another document): they must not reach back into it.
    if (adrFoleyCue_) adrFoleyCue_->setDocument(nullptr);
    for (const auto& cue : cueController_->content()) cue->setDocument(nullptr);
    for (const auto& reel : reelController_->content()) reel->setDocument(nullptr);
    for (const Value& parked : undoController_.deletedObjects()) {
        if (auto cue = parked.object<Cue>()) cue->setDocument(nullptr);
        if (auto reel = parked.object<Reel>()) reel->setDocument(nullptr);
    }
}

std::shared_ptr<Document> Document::create() {
    auto document = std::make_shared<Document>();
    document->registerHandle();
    return document;
}

std::shared_ptr<Document> Document::documentWithData(const Data& data, std::string* error) {
    auto document = std::make_shared<Document>();
    if (!document->readFromData(data, error)) return nullptr;
    document->registerHandle();
    return document;
}

std::shared_ptr<Document> Document::documentWithContentsOfFile(const std::string& path, std::string* error) {
    Data bytes;
    if (const std::string failure = AtomicFile::read(path, kLargestFile, bytes); !failure.empty()) {
        setError(error, "Couldn't read \"" + path + "\": " + failure);
        return nullptr;
    }
    auto document = documentWithData(bytes, error);
    if (document) document->setFilePath(path);
    return document;
}

void Document::registerHandle() {
    std::lock_guard lock(registry().mutex);
    registry().documents[handle_] = weak_from_this();
}

std::shared_ptr<Document> Document::documentForHandle(uint32_t handle) {
    std::lock_guard lock(registry().mutex);
    auto it = registry().documents.find(handle);
    return it == registry().documents.end() ? nullptr : it->second.lock();
}

// --- Reading -----------------------------------------------------------------------

bool Document::readFromData(const Data& data, std::string* error) {
    registerArchiveClasses();

    Value rootValue;
    try {
        rootValue = KeyedUnarchiver::unarchivedObjectWithData(data);
    } catch (const std::exception& e) {
        setError(error, std::string(kNotADocument) + e.what());
        return false;
    }
    if (!rootValue.isDictionary()) {
        setError(error, std::string(kNotADocument) + "its root object is not a dictionary.");
        return false;
    }
    // A mutable copy: the file's own dictionary may be shared inside the graph.
    auto root = std::make_shared<ValueDictionary>(*rootValue.dictionaryValue());
    root->isMutable = true;

    // The version gate.
    const std::string buildNumber = std::to_string(TOLLVANE_BUILD_NUMBER);
    const std::optional<std::string> absoluteMinVersion = versionString(root->find("absoluteMinVersion"));
    const std::optional<std::string> minVersion = versionString(root->find("minVersion"));
    if (absoluteMinVersion && Document::compareVersions(*absoluteMinVersion, buildNumber) > 0) {
        AlertPresenter::shared().runAlert({"Cannot read this file.", kCannotReadText, {"OK"}});
        setError(error, kCannotReadText);
        return false;
    }
    if (minVersion && Document::compareVersions(*minVersion, buildNumber) > 0) {
        const int answer =
            AlertPresenter::shared().runAlert({"Warning", kLaterVersionText, {"Open", "Cancel"}});
        if (answer != 0) {
            setError(error,
                     "This file was created with a later version of Tollvane; opening it was cancelled.");
            return false;
        }
    }

    // A later version may have changed more than these; its gate comes first.
    std::vector<std::shared_ptr<Reel>> reels;
    std::vector<std::shared_ptr<Cue>> cues;
    std::vector<std::shared_ptr<CueEventSoundCue>> adrFoleyEvents;
    if (!objectsOfList(*root, "reels", reels, error) || !objectsOfList(*root, "cues", cues, error) ||
        !objectsOfList(*root, "adrFoleyEvents", adrFoleyEvents, error)) {
        return false;
    }

    // Accepted: from here on the document takes the file's contents.
    {
        UndoOff undoOff(undoController_);
        root_ = root;
        auto number = [&](const char* key, int64_t fallback) {
            const Value* value = root_->find(key);
            return value && value->isNumber() ? value->toInt64() : fallback;
        };
        reelSelectionMode_ = number("reelSelectionMode", reelSelectionMode_);
        cueSelectionMode_ = number("cueSelectionMode", cueSelectionMode_);
        viewType_.store(static_cast<int32_t>(number("documentViewType", viewType())),
                        std::memory_order_release);
        projectFramerate_ = number("projectFramerate", projectFramerate_);

        for (const auto& cue : cues) {
            cue->setDocument(this);
            cue->setReel(Reel::reelWithID(cue->reelID()));
        }
        for (const auto& reel : reels) reel->setDocument(this);
        // A cue compiles as it is decoded, before it has its document. A cue
        // change in its sequence names the document by its handle, so a cue
        // that continues into another is rebuilt now that it has one; the
        // others' sequences do not depend on the document.
        for (const auto& cue : cues) {
            if (cue->sequenceNamesDocument()) cue->reallyUpdateSequence();
        }
        reelController_->setContent(reels);
        cueController_->setContent(cues);

        adrFoleyEvents_ = std::move(adrFoleyEvents);
        selectedADRFoleyEvents_.clear();
        if (adrFoleyCue_) {
            adrFoleyCue_->setDocument(nullptr);
            adrFoleyCue_.reset();
        }
        if (!adrFoleyEvents_.empty()) attachADRFoleyEvents();
    }

    const Value* storedMinVersion = root_->find("minVersion");
    if (Document::integerValueOfVersion(storedMinVersion ? *storedMinVersion : Value()) <=
            kLastOldADRFoleyVersion &&
        viewType() == kADRFoleyViewType) {
        convertOldADRFoleyFormat();
    }

    if (const Value options = documentWindowOptions(); options.isDictionary()) {
        if (const Value* selected = options.dictionaryValue()->find("selectedCueID");
            selected && selected->isNumber()) {
            if (auto cue = cueController_->cueForID(static_cast<uint32_t>(selected->toInt64()))) {
                cueController_->setSelectedObjects({cue});
            }
        }
    }

    savedToken_ = autosavedToken_ = undoManager_.changeToken();
    return true;
}

void Document::convertOldADRFoleyFormat() {
    {
        UndoOff undoOff(undoController_);
        const auto cue = hiddenCue();
        std::vector<std::shared_ptr<CueEventSoundCue>> events;
        for (const auto& scoringCue : cueController_->content()) {
            auto event =
                CueEventSoundCue::soundCueEventWithCue(cue, scoringCue->optionalDisplayText().value_or(""));
            event->setLockTimecode(scoringCue->syncTimecode());
            event->setTitle(scoringCue->title());
            events.push_back(std::move(event));
        }
        for (const auto& event : adrFoleyEvents_) {
            auto& track = cue->trackEvents();
            track.erase(std::remove(track.begin(), track.end(), event), track.end());
        }
        adrFoleyEvents_ = std::move(events);
        root_->set("adrFoleyEvents", arrayOf(adrFoleyEvents_));
        attachADRFoleyEvents();
    }
    AlertPresenter::shared().runAlert({"Converted document.", kConvertedText, {"OK"}});
}

// --- The hidden ADR/Foley cue ---------------------------------------------------

std::shared_ptr<Cue> Document::hiddenCue() const {
    if (adrFoleyCue_) return adrFoleyCue_;
    auto cue = Cue::create();
    // Set up before it has a document: nothing here is an edit to undo.
    cue->setTitle(Cue::kADRFoleyCueTitle);
    cue->setWarningBeats(0);
    cue->setSyncTimecode(
        EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(projectFramerate_), 0, 0, 0, 0));
    cue->tempoEvents().push_back(CueEventTempoChange::tempoChangeEventWithCue(cue, 60.0, 6, 0.0));
    cue->setDocument(const_cast<Document*>(this));
    cue->reallyUpdateSequence();
    adrFoleyCue_ = std::move(cue);
    return adrFoleyCue_;
}

std::shared_ptr<Cue> Document::adrFoleyCue() {
    return hiddenCue();
}

void Document::attachADRFoleyEvents() {
    const auto cue = hiddenCue();
    auto& track = cue->trackEvents();
    for (const auto& event : adrFoleyEvents_) {
        event->setCue(cue);
        if (std::find(track.begin(), track.end(), event) == track.end()) track.push_back(event);
    }
    cue->reallyUpdateSequence();
}

std::vector<std::shared_ptr<CueEventSoundCue>> Document::adrFoleyRehearsalEvents() const {
    if (!selectedADRFoleyEvents_.empty()) return selectedADRFoleyEvents_;
    auto arranged = adrFoleyEvents_;
    std::stable_sort(arranged.begin(), arranged.end(),
                     [](const auto& a, const auto& b) { return a->compareTimecode(*b) < 0; });
    return arranged;
}

// --- Writing -----------------------------------------------------------------------

int64_t Document::selectedCueIDForWindowOptions() const {
    const auto& selection = cueController_->selectedObjects();
    return selection.size() == 1 ? int64_t{selection.front()->cueID()} : 0;
}

void Document::refreshRootDictionary() {
    Value frame = documentWindowFrame();
    if (!frame.isString()) frame = Value(kZeroRect);

    Value options = documentWindowOptions();
    if (!options.isDictionary()) {
        options = Value::dictionary();
        options.dictionaryValue()->set("cueSortDescriptors", Value::array());
        options.dictionaryValue()->set("reelSortDescriptors", Value::array());
    }
    options.dictionaryValue()->set("selectedCueID", Value(selectedCueIDForWindowOptions()));

    ValueDictionary refreshed;
    refreshed.isMutable = true;
    refreshed.set("minVersion", Value(kMinVersion));
    refreshed.set("absoluteMinVersion", Value(kAbsoluteMinVersion));
    refreshed.set("reels", arrayOf(reelController_->content()));
    refreshed.set("cues", arrayOf(cueController_->content()));
    refreshed.set("adrFoleyEvents", arrayOf(adrFoleyEvents_));
    refreshed.set("reelSelectionMode", Value(reelSelectionMode_));
    refreshed.set("cueSelectionMode", Value(cueSelectionMode_));
    refreshed.set("projectFramerate", Value(projectFramerate_));
    refreshed.set("documentViewType", Value(int64_t{viewType()}));
    refreshed.set("documentWindowFrame", frame);
    refreshed.set("documentWindowOptions", options);
    // Keys of other versions follow in the order they were read.
    for (auto& entry : root_->entries) {
        const bool known = entry.first.isString() &&
                           std::any_of(std::begin(kKnownKeys), std::end(kKnownKeys),
                                       [&](const char* key) { return entry.first.stringValue() == key; });
        if (!known) refreshed.entries.push_back(std::move(entry));
    }
    *root_ = std::move(refreshed);
}

Data Document::dataOfType(std::string* error) {
    refreshRootDictionary();
    try {
        return KeyedArchiver::archivedDataWithRootObject(Value(root_));
    } catch (const std::exception& e) {
        setError(error, std::string("Couldn't archive the document: ") + e.what());
        return {};
    }
}

bool Document::writeToFile(const std::string& path, std::string* error) {
    std::string archiveError;
    const Data data = dataOfType(&archiveError);
    if (data.empty()) {
        setError(error, archiveError);
        return false;
    }
    if (const std::string failure = AtomicFile::write(path, data); !failure.empty()) {
        setError(error, "Couldn't save \"" + path + "\": " + failure);
        return false;
    }
    const std::string oldAutosave = autosavePath();
    filePath_ = path;
    savedToken_ = autosavedToken_ = undoManager_.changeToken();
    std::error_code ignored;
    std::filesystem::remove(oldAutosave, ignored);
    std::filesystem::remove(autosavePath(), ignored);
    return true;
}

// --- Root dictionary accessors ---------------------------------------------------

Value Document::reelData() const {
    return arrayOf(reelController_->content());
}

void Document::setReelData(const Value& reels) {
    std::vector<std::shared_ptr<Reel>> list;
    if (const auto& array = reels.arrayValue()) {
        for (const Value& item : array->items) {
            if (auto reel = item.object<Reel>()) list.push_back(std::move(reel));
        }
    }
    root_->set("reels", arrayOf(list));
    reelController_->setContent(std::move(list));
}

Value Document::cueData() const {
    return arrayOf(cueController_->content());
}

void Document::setCueData(const Value& cues) {
    std::vector<std::shared_ptr<Cue>> list;
    if (const auto& array = cues.arrayValue()) {
        for (const Value& item : array->items) {
            if (auto cue = item.object<Cue>()) list.push_back(std::move(cue));
        }
    }
    root_->set("cues", arrayOf(list));
    cueController_->setContent(std::move(list));
}

Value Document::adrFoleyCueData() const {
    return arrayOf(adrFoleyEvents_);
}

void Document::setAdrFoleyCueData(const Value& events) {
    if (adrFoleyCue_) {
        auto& track = adrFoleyCue_->trackEvents();
        for (const auto& event : adrFoleyEvents_) {
            track.erase(std::remove(track.begin(), track.end(), event), track.end());
        }
    }
    adrFoleyEvents_.clear();
    selectedADRFoleyEvents_.clear();
    if (const auto& array = events.arrayValue()) {
        for (const Value& item : array->items) {
            if (auto event = item.object<CueEventSoundCue>()) adrFoleyEvents_.push_back(std::move(event));
        }
    }
    root_->set("adrFoleyEvents", arrayOf(adrFoleyEvents_));
    attachADRFoleyEvents();
}

Value Document::documentWindowOptions() const {
    const Value* options = root_->find("documentWindowOptions");
    return options ? *options : Value();
}

void Document::setDocumentWindowOptions(const Value& options) {
    root_->set("documentWindowOptions", options);
}

Value Document::documentWindowFrame() const {
    const Value* frame = root_->find("documentWindowFrame");
    return frame ? *frame : Value();
}

void Document::setDocumentWindowFrame(const Value& frame) {
    root_->set("documentWindowFrame", frame);
}

bool Document::isEmpty() const {
    return reelController_->content().empty() && cueController_->content().empty();
}

// --- Settings ----------------------------------------------------------------------

// The undo stack belongs to the document: a step that held the document
// itself would keep it alive for ever. Steps hold this stand-in instead.
class Document::UndoProxy : public UndoTarget {
public:
    explicit UndoProxy(std::weak_ptr<Document> document) : document_(std::move(document)) {}
    void performUndoOperation(const std::string& operation, const Value& argument) override {
        if (auto document = document_.lock()) document->performUndoOperation(operation, argument);
    }

private:
    std::weak_ptr<Document> document_;
};

void Document::registerDiscreteUndo(const char* selector, const Value& oldValue, const char* actionName) {
    // A document made outside the factories has no owner to stand in for.
    if (!undoProxy_) {
        if (weak_from_this().expired()) return;
        undoProxy_ = std::make_shared<UndoProxy>(weak_from_this());
    }
    undoController_.registerDiscreteUndoWithTarget(undoProxy_, selector, oldValue, actionName);
}

void Document::setProjectFramerate(int64_t framerateIndex) {
    willChangeValueForKey("projectFramerate");
    const int64_t oldFramerateIndex = projectFramerate_;
    projectFramerate_ = framerateIndex;
    root_->set("projectFramerate", Value(framerateIndex));
    for (const auto& cue : cueController_->content()) cue->setFramerate(framerateIndex);
    if (adrFoleyCue_) adrFoleyCue_->setFramerate(framerateIndex);
    const EMTimecodeFramerate framerate = EMTimecode::framerateForIndex(framerateIndex);
    for (const auto& event : adrFoleyEvents_) event->convertLockTimecodeToFramerate(framerate);
    UserDefaults::standardUserDefaults().setInteger("lastProjectFramerate", framerateIndex);
    didChangeValueForKey("projectFramerate");
    reelController_->updateProjectFramerate();
    // Registered last: the reels re-read their starts with undo switched off,
    // and a setter's attempt to register then still renames the newest step.
    registerDiscreteUndo(kSetProjectFramerate, Value(oldFramerateIndex), "Change Project Framerate");
}

void Document::setReelSelectionMode(int64_t mode) {
    willChangeValueForKey("reelSelectionMode");
    registerDiscreteUndo(kSetReelSelectionMode, Value(reelSelectionMode_), "Change Reel Selection Mode");
    reelSelectionMode_ = mode;
    root_->set("reelSelectionMode", Value(mode));
    didChangeValueForKey("reelSelectionMode");
}

void Document::setCueSelectionMode(int64_t mode) {
    willChangeValueForKey("cueSelectionMode");
    registerDiscreteUndo(kSetCueSelectionMode, Value(cueSelectionMode_), "Change Cue Selection Mode");
    cueSelectionMode_ = mode;
    root_->set("cueSelectionMode", Value(mode));
    didChangeValueForKey("cueSelectionMode");
}

void Document::setViewType(int32_t viewType) {
    willChangeValueForKey("documentViewType");
    viewType_.store(viewType, std::memory_order_release);
    root_->set("documentViewType", Value(int64_t{viewType}));
    UserDefaults::standardUserDefaults().setInteger("lastDocumentViewType", viewType);
    didChangeValueForKey("documentViewType");
    cueController_->documentViewTypeDidChange();
}

void Document::performUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == kSetProjectFramerate) {
        setProjectFramerate(argument.toInt64(projectFramerate_));
    } else if (operation == kSetReelSelectionMode) {
        setReelSelectionMode(argument.toInt64(reelSelectionMode_));
    } else if (operation == kSetCueSelectionMode) {
        setCueSelectionMode(argument.toInt64(cueSelectionMode_));
    }
}

// --- Selection -----------------------------------------------------------------------

std::shared_ptr<Cue> Document::selectedCue() const {
    if (viewType() == kADRFoleyViewType) return hiddenCue();
    return cueController_->selectedCue();
}

bool Document::selectCueMatching(const std::string& text) {
    return cueController_->loadCueMatchingString(text);
}

bool Document::shouldSelectReelByTimecode() const {
    switch (reelSelectionMode_) {
        case 1:
            return true;
        case 2: {
            const auto cue = selectedCue();
            const auto reel = cue ? cue->reel() : nullptr;
            return !reel || reel->isMarker();
        }
        default:
            return false;
    }
}

// --- Status, edited state, autosave ---------------------------------------------

void Document::receivedAtWrongFramerate() {
    if (statusDisplay_) statusDisplay_->showStatusMessage("Wrong framerate", 0.5);
}

bool Document::isDocumentEdited() const {
    return undoManager_.changeToken() != savedToken_;
}

bool Document::hasUnautosavedChanges() const {
    return undoManager_.changeToken() != autosavedToken_;
}

std::string Document::autosavePath() const {
    if (filePath_.empty()) {
        return stateFolder() + "/Untitled-" + std::to_string(::getpid()) + "-" + std::to_string(handle_) +
               kAutosaveSuffix;
    }
    const std::filesystem::path path(filePath_);
    std::string name = path.filename().string();
    const std::string extension = std::string(".") + kFileExtension;
    if (name.size() > extension.size() && name.ends_with(extension))
        name.resize(name.size() - extension.size());
    return (path.parent_path() / (name + kAutosaveSuffix)).string();
}

bool Document::autosave(std::string* error) {
    if (!hasUnautosavedChanges()) return true;
    std::string archiveError;
    const Data data = dataOfType(&archiveError);
    if (data.empty()) {
        setError(error, archiveError);
        return false;
    }
    const std::string path = autosavePath();
    // Unsaved work may be private: the copy is readable by its owner only.
    if (const std::string failure = AtomicFile::write(path, data, 0600); !failure.empty()) {
        TLLog("Couldn't autosave to %s: %s", path.c_str(), failure.c_str());
        setError(error, "Couldn't autosave \"" + path + "\": " + failure);
        return false;
    }
    autosavedToken_ = undoManager_.changeToken();
    if (statusDisplay_) statusDisplay_->showStatusMessage("Autosaved", 2.0);
    return true;
}

}  // namespace tollvane
