#include "document/ADRFoleyEventArrayController.h"

#include <algorithm>
#include <unordered_set>

#include "document/CSVParser.h"
#include "document/Document.h"
#include "document/DocumentUndoController.h"
#include "document/TextEncodingDetector.h"
#include "model/Cue.h"
#include "model/CueEnvironment.h"
#include "model/CueEventSoundCue.h"
#include "platform/archive/Color.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

namespace {

constexpr const char* kRemoveEventObjects = "removeEventObjects:";
constexpr const char* kReinstateEvents = "reinstateEvents:";

// Switches the document's undo registration off for a scope.
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

bool isTrimmedSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isTrimmedSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isTrimmedSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool contains(const ADRFoleyEventArrayController::Events& events,
              const std::shared_ptr<CueEventSoundCue>& event) {
    return std::find(events.begin(), events.end(), event) != events.end();
}

Value valueForKey(const CueEventSoundCue& event, std::string_view key) {
    if (key == "enabled") return Value(event.enabled());
    if (key == "streamerEnabled") return Value(event.streamerEnabled());
    if (key == "streamerColor") return event.streamerColor() ? Value(event.streamerColor()) : Value();
    if (key == "streamerFeet") return Value(event.streamerFeet());
    if (key == "beepsEnabled") return Value(event.beepsEnabled());
    if (key == "beepsCount") return Value(event.beepsCount());
    if (key == "beepsSeconds") return Value(event.beepsSeconds());
    if (key == "beepOnCuePoint") return Value(event.beepOnCuePoint());
    if (key == "punchOnEachBeep") return Value(event.punchOnEachBeep());
    return Value();
}

// Colours are objects: two events agree when their colours do.
bool sameValue(const Value& a, const Value& b) {
    const auto colorA = a.object<Color>();
    const auto colorB = b.object<Color>();
    if (colorA && colorB) return *colorA == *colorB;
    return a == b;
}

void setValueForKey(CueEventSoundCue& event, const Value& value, std::string_view key) {
    if (key == "enabled") {
        event.setEnabled(value.toBool());
    } else if (key == "streamerEnabled") {
        event.setStreamerEnabled(value.toBool());
    } else if (key == "streamerColor") {
        event.setStreamerColor(value.object<Color>());
    } else if (key == "streamerFeet") {
        event.setStreamerFeet(value.toDouble());
    } else if (key == "beepsEnabled") {
        event.setBeepsEnabled(value.toBool());
    } else if (key == "beepsCount") {
        event.setBeepsCount(static_cast<int32_t>(std::clamp<int64_t>(value.toInt64(), INT32_MIN, INT32_MAX)));
    } else if (key == "beepsSeconds") {
        event.setBeepsSeconds(value.toDouble());
    } else if (key == "beepOnCuePoint") {
        event.setBeepOnCuePoint(value.toBool());
    } else if (key == "punchOnEachBeep") {
        event.setPunchOnEachBeep(value.toBool());
    }
}

}  // namespace

// Undo steps hold their target; the controller is not shared, so a small
// shared forwarder stands in for it and is cut loose when it goes.
class ADRFoleyEventArrayController::UndoForwarder : public UndoTarget {
public:
    explicit UndoForwarder(ADRFoleyEventArrayController* controller) : controller_(controller) {}
    void detach() { controller_ = nullptr; }
    void performUndoOperation(const std::string& operation, const Value& argument) override {
        if (controller_) controller_->performUndoOperation(operation, argument);
    }

private:
    ADRFoleyEventArrayController* controller_;
};

const std::vector<std::string>& ADRFoleyEventArrayController::importFileTypes() {
    static const std::vector<std::string> types{"txt", "csv", "tsv", "tab"};
    return types;
}

const std::vector<std::string>& ADRFoleyEventArrayController::selectionKeys() {
    static const std::vector<std::string> keys{"enabled",      "streamerEnabled", "streamerColor",
                                               "streamerFeet", "beepsEnabled",    "beepsCount",
                                               "beepsSeconds", "beepOnCuePoint",  "punchOnEachBeep"};
    return keys;
}

ADRFoleyEventArrayController::ADRFoleyEventArrayController(Document& document)
    : document_(document), undoTarget_(std::make_shared<UndoForwarder>(this)) {
    document_.adrFoleyCue();
    followEvents();
    rebuildAllTags();
}

ADRFoleyEventArrayController::~ADRFoleyEventArrayController() {
    undoTarget_->detach();
    for (auto& [raw, followed] : followed_) {
        if (auto event = followed.event.lock()) event->removeKeyObserver(followed.token);
    }
}

std::shared_ptr<Cue> ADRFoleyEventArrayController::adrFoleyCue() const {
    return document_.adrFoleyCue();
}

const ADRFoleyEventArrayController::Events& ADRFoleyEventArrayController::events() const {
    return document_.adrFoleyEvents();
}

const ADRFoleyEventArrayController::Events& ADRFoleyEventArrayController::selectedEvents() const {
    return document_.selectedADRFoleyEvents();
}

void ADRFoleyEventArrayController::setSelectedEvents(Events events) {
    willChangeValueForKey("selectedObjects");
    Events kept;
    for (auto& event : events) {
        if (event && contains(this->events(), event) && !contains(kept, event))
            kept.push_back(std::move(event));
    }
    document_.selectedADRFoleyEvents() = std::move(kept);
    didChangeValueForKey("selectedObjects");
}

// --- The list ------------------------------------------------------------------------

Value ADRFoleyEventArrayController::arrayOf(const Events& events) {
    std::vector<Value> items;
    items.reserve(events.size());
    for (const auto& event : events) items.emplace_back(event);
    return Value::array(std::move(items));
}

ADRFoleyEventArrayController::Events ADRFoleyEventArrayController::eventsOf(const Value& array) {
    Events events;
    if (const auto& list = array.arrayValue()) {
        for (const auto& item : list->items) {
            if (auto event = item.object<CueEventSoundCue>()) events.push_back(std::move(event));
        }
    }
    return events;
}

void ADRFoleyEventArrayController::registerUndo(const std::string& operation, const Events& events,
                                                const std::string& actionName) {
    document_.undoController().registerDiscreteUndoWithTarget(undoTarget_, operation, arrayOf(events),
                                                              actionName);
}

void ADRFoleyEventArrayController::performUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == kRemoveEventObjects) {
        removeEventObjects(eventsOf(argument), "Delete Cues");
    } else if (operation == kReinstateEvents) {
        reinstateEvents(eventsOf(argument));
    }
}

void ADRFoleyEventArrayController::insertEvents(const Events& events) {
    UndoOff undoOff(document_.undoController());
    const auto cue = adrFoleyCue();
    auto& list = document_.adrFoleyEvents();
    auto& track = cue->trackEvents();
    // Membership by address: an import adds thousands at once.
    std::unordered_set<const CueEventSoundCue*> listed;
    for (const auto& event : list) listed.insert(event.get());
    std::unordered_set<const CueEvent*> tracked;
    for (const auto& event : track) tracked.insert(event.get());
    willChangeValueForKey("arrangedObjects");
    for (const auto& event : events) {
        if (!event || !listed.insert(event.get()).second) continue;
        event->setCue(cue);
        list.push_back(event);
        if (tracked.insert(event.get()).second) track.push_back(event);
    }
    cue->reallyUpdateSequence();
    didChangeValueForKey("arrangedObjects");
    followEvents();
    rebuildAllTags();
}

void ADRFoleyEventArrayController::eraseEvents(const Events& events) {
    UndoOff undoOff(document_.undoController());
    std::unordered_set<const CueEvent*> leaving;
    for (const auto& event : events) leaving.insert(event.get());
    const auto cue = adrFoleyCue();
    auto gone = [&leaving](const auto& event) { return leaving.count(event.get()) != 0; };
    willChangeValueForKey("arrangedObjects");
    std::erase_if(document_.adrFoleyEvents(), gone);
    std::erase_if(cue->trackEvents(), gone);
    cue->reallyUpdateSequence();
    didChangeValueForKey("arrangedObjects");
    if (std::any_of(selectedEvents().begin(), selectedEvents().end(), gone)) {
        Events kept = selectedEvents();
        std::erase_if(kept, gone);
        setSelectedEvents(std::move(kept));
    }
    followEvents();
    rebuildAllTags();
}

std::shared_ptr<CueEventSoundCue> ADRFoleyEventArrayController::addEvent() {
    std::shared_ptr<CueEventSoundCue> event;
    {
        UndoOff undoOff(document_.undoController());
        // Locked to "1" at the project rate unless the sync side has a timecode.
        event = CueEventSoundCue::soundCueEventWithCue(adrFoleyCue(), "");
        if (auto now = CueEnvironment::current().currentTimecode()) event->setLockTimecode(now->copy());
    }
    insertEvents({event});
    registerUndo(kRemoveEventObjects, {event}, "Add Cue");
    setSelectedEvents({event});
    return event;
}

void ADRFoleyEventArrayController::removeEventObjects(const Events& events, const std::string& actionName) {
    Events removed;
    for (const auto& event : events) {
        if (event && contains(this->events(), event) && !contains(removed, event)) removed.push_back(event);
    }
    if (removed.empty()) return;
    eraseEvents(removed);
    for (const auto& event : removed) document_.undoController().addDeletedObject(Value(event));
    registerUndo(kReinstateEvents, removed, actionName);
}

void ADRFoleyEventArrayController::removeEvents() {
    const Events selected = selectedEvents();
    removeEventObjects(selected, selected.size() == 1 ? "Delete Cue" : "Delete Cues");
}

void ADRFoleyEventArrayController::reinstateEvents(const Events& events) {
    Events back;
    for (const auto& event : events) {
        if (event && !contains(this->events(), event) && !contains(back, event)) back.push_back(event);
    }
    if (back.empty()) return;
    insertEvents(back);
    for (const auto& event : back) document_.undoController().removeDeletedObject(Value(event));
    registerUndo(kRemoveEventObjects, back, "Delete Cues");
}

// --- Editing the selection -----------------------------------------------------------

void ADRFoleyEventArrayController::editSelected(const std::function<void(CueEventSoundCue&)>& edit) {
    const Events selected = selectedEvents();
    if (selected.empty()) return;
    DocumentUndoController& undo = document_.undoController();
    undo.endEditing();
    undo.undoManager().beginUndoGrouping();
    for (const auto& event : selected) edit(*event);
    undo.undoManager().endUndoGrouping();
    undo.endEditing();
}

void ADRFoleyEventArrayController::lockCueToNow() {
    editSelected([](CueEventSoundCue& event) { event.setLockTimeToNow(); });
}

void ADRFoleyEventArrayController::nudgeCueForward() {
    editSelected([](CueEventSoundCue& event) { event.nudge(1); });
}

void ADRFoleyEventArrayController::nudgeCueBackward() {
    editSelected([](CueEventSoundCue& event) { event.nudge(-1); });
}

void ADRFoleyEventArrayController::toggleSelectionEnabled(const std::shared_ptr<CueEventSoundCue>& clicked) {
    if (!clicked || !contains(selectedEvents(), clicked)) return;
    const bool enabled = clicked->enabled();
    editSelected([enabled](CueEventSoundCue& event) {
        if (event.enabled() != enabled) event.setEnabled(enabled);
    });
}

ADRFoleyEventArrayController::SelectedValue ADRFoleyEventArrayController::selectedValueForKey(
    std::string_view key) const {
    SelectedValue result;
    const Events& selected = selectedEvents();
    const auto& keys = selectionKeys();
    if (selected.empty() || std::find(keys.begin(), keys.end(), key) == keys.end()) return result;
    result.value = valueForKey(*selected.front(), key);
    result.marker = SelectedValue::Marker::Value;
    for (size_t i = 1; i < selected.size(); ++i) {
        if (!sameValue(valueForKey(*selected[i], key), result.value)) {
            result.marker = SelectedValue::Marker::MultipleValues;
            result.value = Value();
            break;
        }
    }
    return result;
}

void ADRFoleyEventArrayController::setSelectedValue(const Value& value, std::string_view key) {
    const auto& keys = selectionKeys();
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) return;
    editSelected([&value, key](CueEventSoundCue& event) { setValueForKey(event, value, key); });
}

// --- Tags ------------------------------------------------------------------------------

std::vector<std::string> ADRFoleyEventArrayController::tagsFromField(std::string_view field) {
    std::vector<std::string> tags;
    field = trimmed(field);
    while (!field.empty()) {
        const size_t comma = field.find(',');
        const std::string_view piece = trimmed(field.substr(0, comma));
        // An empty piece ("dx,,walla") names no tag: a nameless menu item selects nothing useful.
        if (!piece.empty() && std::find(tags.begin(), tags.end(), piece) == tags.end())
            tags.emplace_back(piece);
        if (comma == std::string_view::npos) break;
        field.remove_prefix(comma + 1);
    }
    return tags;
}

bool ADRFoleyEventArrayController::isTimecodeText(std::string_view text) {
    text = trimmed(text);
    size_t pos = 0;
    int groups = 0;
    while (pos < text.size()) {
        if (groups > 0) {
            const char separator = text[pos];
            if (separator != ':' && separator != ';' && separator != '.' && separator != ',') return false;
            ++pos;
        }
        const size_t digits = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
        if (pos == digits || pos - digits > 9 || ++groups > 5) return false;
    }
    return groups > 0;
}

std::string ADRFoleyEventArrayController::problemWithRows(const std::vector<std::vector<std::string>>& rows,
                                                          const std::vector<std::string>& columns) {
    for (size_t r = 0; r < rows.size(); ++r) {
        const std::string where = "row " + std::to_string(r + 1) + ": ";
        if (rows[r].size() > columns.size()) {
            return where + std::to_string(rows[r].size()) + " fields but " + std::to_string(columns.size()) +
                   " columns";
        }
        for (size_t i = 0; i < rows[r].size(); ++i) {
            if (columns[i] == "sync" && !isTimecodeText(rows[r][i])) {
                std::string shown = rows[r][i];
                for (char& c : shown) {
                    if (static_cast<unsigned char>(c) < 0x20) c = '.';
                }
                return where + "'" + shown + "' is not a timecode";
            }
        }
    }
    return {};
}

void ADRFoleyEventArrayController::followEvents() {
    std::unordered_set<const CueEventSoundCue*> listed;
    for (const auto& event : events()) {
        listed.insert(event.get());
        if (followed_.count(event.get())) continue;
        const auto token = event->addKeyObserver([this](std::string_view key) {
            if (key == "tags") rebuildAllTags();
        });
        followed_.emplace(event.get(), Followed{event, token});
    }
    for (auto it = followed_.begin(); it != followed_.end();) {
        if (listed.count(it->first)) {
            ++it;
            continue;
        }
        if (auto event = it->second.event.lock()) event->removeKeyObserver(it->second.token);
        it = followed_.erase(it);
    }
}

void ADRFoleyEventArrayController::rebuildAllTags() {
    std::vector<std::string> tags;
    for (const auto& event : events()) tags.insert(tags.end(), event->tags().begin(), event->tags().end());
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    if (tags == allTags_) return;
    willChangeValueForKey("allTags");
    allTags_ = std::move(tags);
    didChangeValueForKey("allTags");
}

void ADRFoleyEventArrayController::selectByTag(std::string_view tag) {
    Events selection = selectedEvents();
    for (const auto& event : events()) {
        const auto& tags = event->tags();
        if (std::find(tags.begin(), tags.end(), tag) != tags.end() && !contains(selection, event)) {
            selection.push_back(event);
        }
    }
    setSelectedEvents(std::move(selection));
}

void ADRFoleyEventArrayController::deselectByTag(std::string_view tag) {
    Events selection = selectedEvents();
    std::erase_if(selection, [tag](const auto& event) {
        const auto& tags = event->tags();
        return std::find(tags.begin(), tags.end(), tag) != tags.end();
    });
    setSelectedEvents(std::move(selection));
}

// --- Importing delimited text ------------------------------------------------------------

void ADRFoleyEventArrayController::importCSV(const std::vector<std::string>& paths) {
    pendingCSVImports_.insert(pendingCSVImports_.end(), paths.begin(), paths.end());
    startImportingCSV();
}

bool ADRFoleyEventArrayController::startImportingCSV() {
    if (pendingCSVImports_.empty()) return false;
    const std::string path = pendingCSVImports_.front();
    pendingCSVImports_.erase(pendingCSVImports_.begin());
    if (openImportDialog_) openImportDialog_(path);
    return true;
}

ADRFoleyEventArrayController::ImportResult ADRFoleyEventArrayController::finishImportingCSV(
    const std::string& path, std::string_view delimiter, const std::vector<std::string>& columns) {
    ImportResult result;
    const TextEncodingDetector::Result text = TextEncodingDetector::stringWithContentsOfFile(path);
    if (!text.ok()) {
        result.error = text.error;
    } else {
        result.added = importRows(CSVParser::csvRowsWithDelimiter(text.text, delimiter), columns);
    }
    // A file that could not be read does not hold up the ones queued after it.
    startImportingCSV();
    return result;
}

ADRFoleyEventArrayController::Events ADRFoleyEventArrayController::importRows(
    const std::vector<std::vector<std::string>>& rows, const std::vector<std::string>& columns) {
    Events added;
    {
        UndoOff undoOff(document_.undoController());
        const auto cue = adrFoleyCue();
        added.reserve(rows.size());
        for (const auto& row : rows) {
            if (row.empty()) continue;
            auto event = CueEventSoundCue::soundCueEventWithCue(cue, "");
            const size_t count = std::min(row.size(), columns.size());
            for (size_t i = 0; i < count; ++i) {
                const std::string& column = columns[i];
                if (column == "cuenumber") {
                    event->setTitle(row[i]);
                } else if (column == "sync") {
                    event->setLockTimeString(Value(row[i]));
                } else if (column == "tags") {
                    std::vector<std::string> tags = tagsFromField(row[i]);
                    if (!tags.empty()) event->setTags(std::move(tags));
                } else if (column == "text") {
                    event->setText(row[i]);
                }
            }
            added.push_back(std::move(event));
        }
    }
    if (added.empty()) return added;
    insertEvents(added);
    registerUndo(kRemoveEventObjects, added, "Import from Text");
    return added;
}

}  // namespace tollvane
