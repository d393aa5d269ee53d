#pragma once

// The event mapping and the sequences' user-event destination.
//
// As the mapping's list controller it holds the mapping entries (TLEvents
// tied to a MIDI note by "noteOn" or to a system-exclusive message by
// "sysexArray"), shows them sorted by "sortInfo", keeps a selection, adds
// entries, previews them, and stores the mapping in the user default
// "eventMapping" or in a preset file (a keyed archive whose root object is
// an array of TLEvents). When nothing is stored, the mapping shipped with the
// program (the "TollvaneDefault" preset) is used.
//
// As the user-event destination it takes each user event a cue's player
// passes, decodes it into a TLEvent and has the main thread trigger it.
//
// One shared controller: the first one made registers itself and
// sharedController() answers it (making one when none exists yet); it
// unregisters when destroyed. Tests make their own.
//
// Threads: takeUserEvent on a player's thread (any number of them); it
// neither waits for the main thread nor takes a lock the main thread holds.
// The static members on any thread. Everything else on the main thread.
// Nothing here is real-time safe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/HostClock.h"
#include "platform/KeyValueObservable.h"
#include "playback/FFMusicUserEventDestination.h"

namespace tollvane {

class TLEvent;

class TLEventController : public KeyValueObservable, public FFMusicUserEventDestination {
public:
    using Events = std::vector<std::shared_ptr<TLEvent>>;

    // The user default that holds the archived mapping.
    static constexpr const char* kEventMappingKey = "eventMapping";
    // Two deliveries of the same block at most this far apart are one event.
    static constexpr uint64_t kDuplicateWindowNanos = 33'333'332;

    // The program's controller; made (empty) on first use when none exists.
    static TLEventController& sharedController();

    // An empty mapping on `clock` (read for the arrival time of user events).
    // Registers itself as the shared controller when there is none.
    explicit TLEventController(const HostClock& clock = HostClock::shared());
    ~TLEventController() override;
    TLEventController(const TLEventController&) = delete;
    TLEventController& operator=(const TLEventController&) = delete;

    // --- The mapping list ---------------------------------------------------

    // The entries in stored order. Setting drops null entries, clears the
    // selection, sorts the arranged list and announces "content" and
    // "arrangedObjects".
    const Events& content() const { return content_; }
    void setContent(Events events);
    // The entries as the table shows them: sorted by "sortInfo", ascending
    // (ties in stored order), except that added entries stay on top until
    // the next sort. A change of an entry's name, length, size, note, sysex
    // or colour announces "arrangedObjects" (the row is redrawn, not moved).
    const Events& arrangedObjects() const { return arranged_; }
    // Sorts the arranged list again.
    void rearrangeObjects();
    // Indexes into arrangedObjects(); out-of-range ones are dropped. The
    // selection follows its entries when the list is sorted again.
    std::vector<size_t> selectionIndexes() const;
    void setSelectionIndexes(const std::vector<size_t>& indexes);
    Events selectedObjects() const;

    // Insert a fresh entry of that kind at the top of the arranged list
    // (index 0) and select it.
    void addStreamer();
    void addPunch();
    void addCueStart();
    void addClick();
    void addBeep();

    // Triggers every selected entry with a skip of 0.
    void testSelectedEvents();

    // The entries whose "noteOn" is the note's low 8 bits.
    Events eventsForNote(unsigned note) const;
    // The entries whose "sysexArray" is exactly these bytes.
    Events eventsForSysex(const uint8_t* bytes, size_t length) const;

    // --- Storage ------------------------------------------------------------

    // The mapping from "eventMapping", else the shipped default; the content
    // stays as it is when neither yields a mapping. Answers whether the
    // content was replaced.
    bool loadFromDefaults();
    // Archives the content under "eventMapping".
    void saveToDefaults();
    // At exit: saves to the defaults.
    void cleanUp();
    // Makes a preset file the content; on failure the alert "Error loading
    // preset" and the content stays. Answers whether it loaded.
    bool loadPresetFromPath(const std::string& path);
    // Writes the content as a preset file, replacing any old file whole; on
    // failure the alert "Error saving preset". Answers whether it saved.
    bool savePresetToPath(const std::string& path) const;

    // The shipped "TollvaneDefault" preset: its archive bytes, and the
    // mapping read from them (empty if they cannot be read). Any thread.
    static std::span<const uint8_t> defaultPresetData();
    static Events defaultPreset();
    // The mapping in an archive (root: an array of TLEvents), and the
    // archive of a mapping. Throw ArchiveError for anything else. Any thread.
    static Events eventsFromArchive(const std::vector<uint8_t>& data);
    static std::vector<uint8_t> archiveOfEvents(const Events& events);

    // --- User events ---------------------------------------------------------

    // On the player's thread: drops a duplicate of the last block, works out
    // how late the event comes, decodes it and posts its trigger to the main
    // run loop without waiting.
    void takeUserEvent(std::span<const uint8_t> userEvent, MusicSequence* fromSequence, MusicTrack* track,
                       double atTime, double startSliceBeat, double endSliceBeat) override;

    // The event a user-event block stands for, given how many seconds late it
    // arrives; null for a block that triggers nothing. Any thread.
    static std::shared_ptr<TLEvent> eventForUserEvent(std::span<const uint8_t> userEvent, double skipSeconds);

private:
    void willChangeContent();
    void didChangeContent();
    void observe(const std::shared_ptr<TLEvent>& event);
    void stopObservingAll();
    void insertAtTop(std::shared_ptr<TLEvent> event);
    // Whether this delivery repeats the last one; remembers it otherwise.
    bool isDuplicate(std::span<const uint8_t> userEvent, uint64_t now);

    struct Observation {
        std::weak_ptr<TLEvent> event;
        KeyValueObservable::ObserverToken token = 0;
    };

    const HostClock& clock_;
    Events content_;
    Events arranged_;
    Events selection_;
    std::vector<Observation> observations_;

    // The user-event path's own state, touched by players' threads only.
    std::mutex userEventMutex_;
    std::vector<uint8_t> lastReceivedUserEvent_;
    bool hasLastReceivedUserEvent_ = false;
    uint64_t lastUserEventHostTime_ = 0;
};

}  // namespace tollvane
