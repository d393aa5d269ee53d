#include "model/Reel.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "document/Document.h"
#include "document/DocumentUndoController.h"
#include "model/CueEnvironment.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/RandomID.h"
#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/MovieFile.h"

namespace tollvane {

namespace {

constexpr const char* kSetStartTimecode = "setStartTimecode:";
constexpr const char* kSetTitle = "setTitle:";
constexpr const char* kNoTimecode = "-:--:--";

// The start and everything read from it.
constexpr std::initializer_list<const char*> kStartKeys = {"startTimecode", "startTimecodeString",
                                                           "formattedStartTimecodeString", "endTimecode",
                                                           "endTimecodeString"};
constexpr std::initializer_list<const char*> kTitleKeys = {"title", "formattedTitle"};
constexpr std::initializer_list<const char*> kPathKeys = {"alias",          "path",
                                                          "duration",       "validFile",
                                                          "endTimecode",    "endTimecodeString",
                                                          "formattedTitle", "formattedStartTimecodeString"};

struct Registry {
    std::mutex mutex;
    std::map<uint32_t, std::shared_ptr<Reel>> reels;
};

Registry& registry() {
    // Never destroyed: reels may still be looked up while the program exits.
    static Registry* const shared = new Registry();
    return *shared;
}

void insertIntoRegistry(const std::shared_ptr<Reel>& reel) {
    Registry& shared = registry();
    std::lock_guard lock(shared.mutex);
    shared.reels[reel->reelID()] = reel;
}

std::string homeDirectory(const std::string& user) {
    if (user.empty()) {
        if (const char* home = std::getenv("HOME"); home && *home) return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (user.empty()) {
        getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
    } else {
        getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    }
    return found && found->pw_dir ? std::string(found->pw_dir) : std::string();
}

// "~" and "~user" at the start, as a shell expands them; an unknown user
// leaves the path as it is.
std::string expandingTilde(const std::string& path) {
    if (path.empty() || path[0] != '~') return path;
    const size_t slash = path.find('/');
    const std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const std::string home = homeDirectory(user);
    if (home.empty()) return path;
    return slash == std::string::npos ? home : home + path.substr(slash);
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::error_code code;
    const auto absolute = std::filesystem::absolute(path, code);
    return code ? path : absolute.string();
}

std::string describe(const Value& value) {
    char text[64];
    switch (value.type()) {
        case Value::Type::Null:
            return "(null)";
        case Value::Type::Bool:
            return value.toBool() ? "1" : "0";
        case Value::Type::Integer:
            return std::to_string(value.toInt64());
        case Value::Type::Real:
            std::snprintf(text, sizeof text, "%g", value.toDouble());
            return text;
        case Value::Type::String:
            return value.stringValue();
        case Value::Type::Data:
            return "<" + std::to_string(value.dataValue().size()) + " bytes>";
        case Value::Type::Array:
            return "(" + std::to_string(value.arrayValue()->items.size()) + " items)";
        case Value::Type::Dictionary:
            return "{" + std::to_string(value.dictionaryValue()->entries.size()) + " entries}";
        case Value::Type::Object:
            return "<" + value.objectValue()->archiveClassName() + ">";
    }
    return {};
}

void post(const char* name) {
    NotificationCenter::defaultCenter().postNotification(name);
}

}  // namespace

// --- Life cycle ----------------------------------------------------------------

Reel::Reel() : reelID_(newRandomID()) {
    // A marker's ID would make the new reel stand for "select by timecode"
    // (or one of the others) wherever a cue refers to it.
    while (isMarker()) reelID_ = newRandomID();
}
Reel::Reel(uint32_t reelID) : reelID_(reelID) {}
Reel::~Reel() = default;

std::shared_ptr<Reel> Reel::create() {
    return std::make_shared<Reel>();
}

// --- Start and end -------------------------------------------------------------

void Reel::setStartTimecode(std::shared_ptr<EMTimecode> timecode) {
    for (const char* key : kStartKeys) willChangeValueForKey(key);
    registerUndo(kSetStartTimecode, Value(startTimecode_), "Change Reel Start");
    startTimecode_ = std::move(timecode);
    for (const char* key : kStartKeys) didChangeValueForKey(key);
    post(kReelOrderDidChangeNotification);
    post(kSyncEventListingDidChangeNotification);
}

std::string Reel::startTimecodeString() const {
    return startTimecode_ ? startTimecode_->stringRepresentation() : kNoTimecode;
}

void Reel::setStartTimecodeString(const std::string& text) {
    const EMTimecodeFramerate rate =
        startTimecode_ ? startTimecode_->framerate() : CueEnvironment::current().projectFramerate();
    setStartTimecode(EMTimecode::timecodeWithFramerate(rate, text));
}

std::shared_ptr<EMTimecode> Reel::endTimecode() const {
    if (!startTimecode_) return nullptr;
    auto end = startTimecode_->copy();
    if (duration_ > 0.0) end->addSeconds(duration_);
    return end;
}

void Reel::setEndTimecode(const EMTimecode& end) {
    auto start = end.copy();
    if (duration_ > 0.0) start->subtractSeconds(duration_);
    setStartTimecode(std::move(start));
}

std::string Reel::endTimecodeString() const {
    if (!validFile()) return "";
    if (!startTimecode_) return kNoTimecode;
    return endTimecode()->stringRepresentation();
}

void Reel::setEndTimecodeString(const std::string& text) {
    const EMTimecodeFramerate rate =
        startTimecode_ ? startTimecode_->framerate() : EMTimecodeFramerate::framerateForIndex(4);
    setEndTimecode(*EMTimecode::timecodeWithFramerate(rate, text));
}

// --- Title -----------------------------------------------------------------------

void Reel::setTitle(std::string title) {
    for (const char* key : kTitleKeys) willChangeValueForKey(key);
    registerUndo(kSetTitle, Value(title_), "Rename Reel");
    title_ = std::move(title);
    for (const char* key : kTitleKeys) didChangeValueForKey(key);
    post(kReelOrderDidChangeNotification);
}

Reel::FormattedText Reel::formattedTitle() const {
    return {title_, !validFile()};
}

Reel::FormattedText Reel::formattedStartTimecodeString() const {
    return {startTimecodeString(), !validFile()};
}

void Reel::setFormattedTitle(const Value& title) {
    if (title.isString()) {
        setTitle(title.stringValue());
        return;
    }
    TLLog("Unable to set formatted title of reel %s to value %s", description().c_str(),
          describe(title).c_str());
}

// --- Movie -----------------------------------------------------------------------

std::string Reel::path() const {
    if (!alias_) return "";
    std::string resolved = alias_->fullPath();
    return resolved.empty() ? alias_->lastKnownFullPath() : resolved;
}

void Reel::setPath(const std::string& path) {
    for (const char* key : kPathKeys) willChangeValueForKey(key);
    if (path.empty()) {
        alias_.reset();
        duration_ = -1.0;
    } else {
        const std::string full = absolutePath(expandingTilde(path));
        // The same file again keeps its alias, and with it a record written
        // elsewhere that we could not make anew.
        if (!alias_ || alias_->recordedPath() != full) alias_ = FFAlias::aliasWithPath(full);
        measureMovie(full);
    }
    for (const char* key : kPathKeys) didChangeValueForKey(key);
}

void Reel::measureMovie(const std::string& path) {
    std::string error;
    duration_ = MovieFile::durationOfMovieAtPath(path, &error);
    if (duration_ <= 0.0) {
        duration_ = -1.0;
        TLLog("Unable to open movie file %s: %s", path.c_str(), error.c_str());
    }
}

bool Reel::isMarker() const {
    return reelID_ == kManualSelectionMarkerID || reelID_ == kTimecodeSelectionMarkerID ||
           reelID_ == kDefaultSelectionMarkerID;
}

// --- Registry and markers --------------------------------------------------------

// The markers are registered when first asked for; a lookup makes sure they
// are there, so a cue read before anything asked for them still finds them.
std::shared_ptr<Reel> Reel::reelWithID(uint32_t reelID) {
    switch (reelID) {
        case kManualSelectionMarkerID:
            return manualReelSelectionMarker();
        case kTimecodeSelectionMarkerID:
            return timecodeReelSelectionMarker();
        case kDefaultSelectionMarkerID:
            return defaultReelSelectionMarker();
        default:
            break;
    }
    Registry& shared = registry();
    std::lock_guard lock(shared.mutex);
    const auto found = shared.reels.find(reelID);
    return found == shared.reels.end() ? nullptr : found->second;
}

std::map<uint32_t, std::shared_ptr<Reel>> Reel::allReels() {
    manualReelSelectionMarker();
    timecodeReelSelectionMarker();
    defaultReelSelectionMarker();
    Registry& shared = registry();
    std::lock_guard lock(shared.mutex);
    return shared.reels;
}

void Reel::registerReel(const std::shared_ptr<Reel>& reel) {
    // A reel read from a file under a marker's ID must not stand in for the
    // marker: cues that choose their reel by timecode would name that reel.
    if (!reel || reel->isMarker()) return;
    insertIntoRegistry(reel);
}

// The markers are made quietly: a notification posted from inside the
// initialisation of a function-local static could call back into it.
const std::shared_ptr<Reel>& Reel::manualReelSelectionMarker() {
    static const std::shared_ptr<Reel> marker = [] {
        auto reel = std::make_shared<Reel>(kManualSelectionMarkerID);
        reel->title_ = "Select Manually";
        insertIntoRegistry(reel);
        return reel;
    }();
    return marker;
}

const std::shared_ptr<Reel>& Reel::timecodeReelSelectionMarker() {
    static const std::shared_ptr<Reel> marker = [] {
        auto reel = std::make_shared<Reel>(kTimecodeSelectionMarkerID);
        reel->title_ = "Select by Timecode";
        insertIntoRegistry(reel);
        return reel;
    }();
    return marker;
}

const std::shared_ptr<Reel>& Reel::defaultReelSelectionMarker() {
    static const std::shared_ptr<Reel> marker = [] {
        auto reel = std::make_shared<Reel>(kDefaultSelectionMarkerID);
        reel->title_ = "Project Default";
        insertIntoRegistry(reel);
        return reel;
    }();
    return marker;
}

std::string Reel::description() const {
    return "Reel (" + title_ + "); ID " + std::to_string(reelID_) + ", start " + startTimecodeString() +
           ", movie " + (alias_ ? path() : std::string("(none)"));
}

// --- Archive -----------------------------------------------------------------------

void Reel::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(Value(alias_), "movieFileAlias");
    coder.encodeObject(Value(startTimecode_), "startTimecode");
    coder.encodeObject(Value(title_), "title");
    coder.encodeInt(reelID_, "id");
}

std::shared_ptr<Archivable> Reel::decode(KeyedUnarchiver& coder) {
    // Files from elsewhere may hold the ID as a number object rather than inline.
    auto reel = std::make_shared<Reel>(static_cast<uint32_t>(coder.decodeArchiveField("id").value.toInt64()));
    reel->alias_ = coder.decodeObject("movieFileAlias").object<FFAlias>();
    const std::string path = reel->path();
    if (path.empty()) {
        // No alias, or one that names no path at all: kept as read, broken.
        reel->duration_ = -1.0;
    } else {
        reel->setPath(path);
    }
    // Stored directly: a reel being read has no document to undo in, and
    // nothing shows it yet.
    reel->title_ = coder.decodeObject("title").stringValue();
    const auto start = coder.decodeObject("startTimecode").object<EMTimecode>();
    reel->startTimecode_ = start ? start->copy() : nullptr;
    registerReel(reel);
    return reel;
}

void Reel::registerArchiveClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        EMTimecode::registerArchiveClass();
        FFAlias::registerArchiveClass();
        ArchiveClassRegistry::registerClass("Reel", &Reel::decode);
    });
}

// --- Undo ----------------------------------------------------------------------------

void Reel::registerUndo(const char* selector, const Value& oldValue, const char* actionName) {
    if (!document_) return;
    const auto self = weak_from_this().lock();
    if (!self) return;
    document_->undoController().registerDiscreteUndoWithTarget(self, selector, oldValue, actionName);
}

void Reel::performUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == kSetStartTimecode) {
        setStartTimecode(argument.object<EMTimecode>());
    } else if (operation == kSetTitle) {
        setTitle(argument.stringValue());
    }
}

}  // namespace tollvane
