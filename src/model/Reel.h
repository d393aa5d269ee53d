#pragma once

// A reel: one stretch of picture, a movie file and the timecode at which its
// first frame sits. Cues name their reel by `reelID`, which survives saving
// and loading through the process-wide registry of reels by ID. Three marker
// reels stand for ways of choosing a reel rather than a reel: "Select
// Manually", "Select by Timecode" and "Project Default".
//
// Archived under "Reel": "movieFileAlias" (FFAlias), "startTimecode"
// (EMTimecode), "title" (string), "id" (integer). Decoding re-opens the movie
// and registers the reel under its ID (a later reel with the same ID replaces
// the earlier one in the registry).
//
// Threads: main thread. The registry may be read from any thread.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "model/FFAlias.h"
#include "platform/FourCharCode.h"
#include "platform/KeyValueObservable.h"
#include "platform/UndoTarget.h"
#include "platform/archive/Archivable.h"
#include "platform/archive/Value.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

class Document;
class KeyedUnarchiver;

class Reel : public Archivable,
             public UndoTarget,
             public KeyValueObservable,
             public std::enable_shared_from_this<Reel> {
public:
    static constexpr uint32_t kManualSelectionMarkerID = fourCharCode("manu");
    static constexpr uint32_t kTimecodeSelectionMarkerID = fourCharCode("smpt");
    static constexpr uint32_t kDefaultSelectionMarkerID = fourCharCode("pdef");
    static constexpr const char* kReelOrderDidChangeNotification = "TLReelOrderDidChangeNotification";
    static constexpr const char* kSyncEventListingDidChangeNotification =
        "TLSyncEventListingDidChangeNotification";

    // A new reel: a random ID that is no marker's (not registered), empty
    // title, duration 0.
    Reel();
    // A reel with a given ID (not registered).
    explicit Reel(uint32_t reelID);
    ~Reel() override;
    static std::shared_ptr<Reel> create();

    uint32_t reelID() const { return reelID_; }
    void setReelID(uint32_t reelID) { reelID_ = reelID; }

    std::shared_ptr<EMTimecode> startTimecode() const { return startTimecode_; }
    // "Change Reel Start"; posts the reel-order and sync-listing notifications.
    void setStartTimecode(std::shared_ptr<EMTimecode> timecode);
    // "-:--:--" without a start.
    std::string startTimecodeString() const;
    // Parsed at the start's own rate, or at the project rate without a start.
    void setStartTimecodeString(const std::string& text);
    // The start advanced by the duration (when positive); null without a start.
    std::shared_ptr<EMTimecode> endTimecode() const;
    // Sets the start to the end minus the duration (only when it is positive).
    void setEndTimecode(const EMTimecode& end);
    // "" for a reel without a valid file, "-:--:--" without a start.
    std::string endTimecodeString() const;
    // Parsed at the start's rate, or at 29.97 non-drop without a start.
    void setEndTimecodeString(const std::string& text);

    const std::string& title() const { return title_; }
    // "Rename Reel"; posts the reel-order notification.
    void setTitle(std::string title);
    // The title, drawn in dark red (0.7, 0, 0) when the movie is missing.
    struct FormattedText {
        std::string text;
        bool missing = false;
    };
    FormattedText formattedTitle() const;
    FormattedText formattedStartTimecodeString() const;
    // A text Value is taken as the title; anything else is logged
    // ("Unable to set formatted title of reel %@ to value %@") and ignored.
    void setFormattedTitle(const Value& title);
    // A styled title: its text becomes the title.
    void setFormattedTitle(const FormattedText& title) { setTitle(title.text); }

    std::shared_ptr<FFAlias> alias() const { return alias_; }
    // "" without an alias; else the resolved path, or the last known one.
    std::string path() const;
    // An empty path clears the alias (duration -1). Otherwise the path
    // (tilde expanded, made absolute) becomes the alias and the movie's
    // duration is read; a file that is no movie logs its error and gives -1.
    // The path the alias already stands for keeps the alias (and a record
    // from elsewhere with it).
    void setPath(const std::string& path);
    double duration() const { return duration_; }
    // Duration above 0.
    bool validFile() const { return duration_ > 0.0; }

    // Not retained: the document owns its reels.
    Document* document() const { return document_; }
    void setDocument(Document* document) { document_ = document; }

    // One of the three markers.
    bool isMarker() const;

    // The registry.
    static std::shared_ptr<Reel> reelWithID(uint32_t reelID);
    static std::map<uint32_t, std::shared_ptr<Reel>> allReels();
    // Replaces a reel registered under the same ID; reels under a marker's
    // ID are not registered (the marker keeps its place).
    static void registerReel(const std::shared_ptr<Reel>& reel);

    // The markers, made and registered once.
    static const std::shared_ptr<Reel>& manualReelSelectionMarker();
    static const std::shared_ptr<Reel>& timecodeReelSelectionMarker();
    static const std::shared_ptr<Reel>& defaultReelSelectionMarker();

    std::string description() const;

    std::string archiveClassName() const override { return "Reel"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder);
    static void registerArchiveClass();

    void performUndoOperation(const std::string& operation, const Value& argument) override;

private:
    void registerUndo(const char* selector, const Value& oldValue, const char* actionName);
    // Opens the movie at an expanded, absolute path and keeps its length.
    void measureMovie(const std::string& path);

    uint32_t reelID_ = 0;
    std::shared_ptr<EMTimecode> startTimecode_;
    std::string title_;
    std::shared_ptr<FFAlias> alias_;
    double duration_ = 0.0;
    Document* document_ = nullptr;
};

}  // namespace tollvane
