#pragma once

// The one object that listens to MIDI. It owns two input streams: one on
// the sources chosen in the preferences, one on the program's own virtual
// destination ("Tollvane"), and takes every parsed batch of both. From them
// it
// - assembles MIDI Time Code (quarter frames, the full-frame message and the
//   MIDI Machine Control locate), checks its rate against the project's and
//   hands each timecode to the sync controller; notices when MTC stops;
// - carries out MIDI Show Control LOAD (select a cue) and MTC chase on/off;
// - fires the event mapping for note-ons and system-exclusive messages, the
//   cue-start flash for mapped cue starts, and the free-time clocks for the
//   sustain pedal (controller 64).
//
// Collaborators are handed in so that tests build it without globals; a
// null collaborator means the program's shared one. The application it
// reaches through PlaybackApplication::current().
//
// Observed keys: "MTCOnline" (when mtcOnline or MTCOfflineForRehearsal
// changes), "midiEndpoints" and "midiEndpointNames" (on MIDI setup changes),
// "selectedMIDISourceEndpointIndex", and "projectFramerate" when set here.
//
// Threads: main thread only, like everything it calls. The MIDI thread only
// queues packet lists in the client, which delivers them here on the main
// run loop. Nothing here is real-time safe.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "midi/FFMIDIMessageDestination.h"
#include "platform/HostClock.h"
#include "platform/KeyValueObservable.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "timebase/EMTimecodeFramerate.h"

namespace tollvane {

class AlertPresenter;
class Document;
class DocumentController;
class EMTimecode;
class FFMIDIClient;
class FFMIDIPortInputStream;
class FFMIDISourceEndpoint;
class FFMIDIVirtualInputStream;
class RunLoop;
class SyncController;
class TLEventController;
class Timer;

class TLMIDIController final : public FFMIDIMessageDestination, public KeyValueObservable {
public:
    // Wall-clock seconds; only differences matter.
    using WallClock = std::function<double()>;
    // An entry of midiEndpoints(): one of the two fixed titles, or a source.
    using EndpointItem = std::variant<std::string, std::shared_ptr<FFMIDISourceEndpoint>>;

    static constexpr const char* kNoneEndpointTitle = "None (virtual input only)";
    static constexpr const char* kAllEndpointTitle = "All";
    static constexpr const char* kWaitingForMTCStatus = "Waiting for MTC...";
    static constexpr const char* kOfflineStatus = "Offline \u2014 Not following timecode.";
    // How often checkSync runs, and how long MTC may pause before it counts as stopped.
    static constexpr double kCheckSyncInterval = 0.1;
    static constexpr double kMTCStopTimeout = 0.1;
    // mtcValidMask when every piece that carries a high nibble was seen.
    static constexpr uint32_t kCompleteMask = 15;
    // How long after the frame it names a running timecode arrives.
    static constexpr double kAnchorLagFrames = 1.75;

    // Seconds since the platform's reference date (2001-01-01 UTC).
    static double systemWallClock();

    // Whether an MTC rate code (0 24 fps, 1 25 fps, 2 30 drop, 3 30 non-drop)
    // agrees with a frame rate. Video speed is not compared.
    static bool tcModeMatchesFramerate(int32_t tcMode, const EMTimecodeFramerate& framerate);

    // `client` may be null (no MIDI system): then there are no streams and no
    // sources, and only what is handed to takeMIDIMessages is heard. The
    // client, the defaults and the loop must outlive the controller.
    TLMIDIController(FFMIDIClient* client, UserDefaults& defaults, RunLoop& loop,
                     const HostClock& hostClock = HostClock::shared());
    ~TLMIDIController() override;
    TLMIDIController(const TLMIDIController&) = delete;
    TLMIDIController& operator=(const TLMIDIController&) = delete;

    // Collaborators, not owned (null: the shared one). Set before start().
    void setSyncController(SyncController* controller) { syncController_ = controller; }
    void setDocumentController(DocumentController* controller) { documentController_ = controller; }
    void setEventController(TLEventController* controller) { eventController_ = controller; }
    void setAlertPresenter(AlertPresenter* presenter) { alertPresenter_ = presenter; }
    // Null restores systemWallClock.
    void setWallClock(WallClock clock);

    // Start-up: creates the two streams (failures are logged and the
    // controller carries on without that stream), keeps the virtual
    // destination's unique ID across launches, observes MIDI setup changes,
    // reads the settings, starts the checkSync timer and observes the
    // settings keys. Call once.
    void start();

    // --- Input ----------------------------------------------------------------

    void takeMIDIMessages(const FFMIDIMessageList& messages) override;

    // The eight quarter-frame pieces, each given the whole data byte.
    void setLowFF(int data);
    void setHighFF(int data);
    void setLowSS(int data);
    // Emits the timecode one frame before the registers' (see the .cpp),
    // once the rate code is known.
    void setHighSS(int data);
    void setLowMM(int data);
    void setHighMM(int data);
    void setLowHH(int data);
    // Takes the rate code and emits the registers' timecode.
    void setHighHH(int data);

    // The rate check, then the hand-off to the application and the sync
    // controller. A timecode at the wrong rate shows "Wrong framerate" in
    // the front document and is dropped.
    void setLastReceivedTimecode(const EMTimecode& timecode);
    // The last accepted timecode; null before the first.
    std::shared_ptr<EMTimecode> lastReceivedTimecode() const { return lastReceivedTimecode_; }

    // A whole system-exclusive message, F0 to F7: full frame, MMC locate,
    // MSC, then the event mapping.
    void sysexReceived(const uint8_t* bytes, size_t length);
    // Fires the mapping of note (n - 12) mod 256.
    void noteOnReceived(unsigned note);
    // Every kCheckSyncInterval: stops the sync controller once MTC has paused.
    void checkSync();
    // The cue-start flash in every streamer view.
    void setCueStart();

    // --- Settings and state ----------------------------------------------------

    // The front document's frame-rate index (4 without a front document).
    int64_t projectFramerate() const;
    void setProjectFramerate(int64_t framerateIndex);

    // Following MTC: the setting, and not switched off for a rehearsal.
    bool MTCOnline() const { return mtcOnline_ && !MTCOfflineForRehearsal_; }
    // Stores the flag and "mtcOnline" and shows the status text
    // kWaitingForMTCStatus or kOfflineStatus.
    void setMTCOnline(bool online);
    bool MTCOfflineForRehearsal() const { return MTCOfflineForRehearsal_; }
    void setMTCOfflineForRehearsal(bool offline);
    bool mscOnline() const { return mscOnline_; }
    void setMscOnline(bool online);
    // 1 to 127; 127 (all-call only) for a setting of 0.
    uint8_t mscDeviceID() const { return mscDeviceID_; }
    void setMscDeviceID(int64_t deviceID);
    bool isMTCVideoSpeed() const { return isMTCVideoSpeed_; }

    // kNoneEndpointTitle, kAllEndpointTitle, then every source present.
    std::vector<EndpointItem> midiEndpoints() const;
    // The same as display names.
    std::vector<std::string> midiEndpointNames() const;
    // 0 none, 1 all, 2 and up one source (its position in midiEndpoints).
    uint32_t selectedMIDISourceEndpointIndex() const { return inputEndpointIndex_; }
    // Listens to that selection and stores it in
    // "selectedMIDISourceEndpointID"; an index past the list is ignored.
    void setSelectedMIDISourceEndpointIndex(uint32_t index);

    // Reads "treatMTCAs", "mtcOnline", "mscOnline", "mscDeviceID" and applies
    // "selectedMIDISourceEndpointID" (with the "MIDI device disappeared"
    // alert when the source is gone).
    void getMIDIPrefs();
    // The reel's movie changed: MTC must run a whole cycle again before it
    // counts, and the status text is shown again.
    void movieChanged();
    // "FFMIDIClientSetupChangedNotification": the endpoint lists changed.
    void MIDISetupChanged();

    // MTC reception state, for the status views and tests.
    uint32_t mtcValidMask() const { return mtcValidMask_; }
    bool mtcBeingReceived() const { return mtcBeingReceived_; }
    int32_t tcMode() const { return tcMode_; }
    uint64_t lastReceivedMTCTimeStamp() const { return lastReceivedMTCTimeStamp_; }

private:
    struct SysexTimecode {
        uint32_t hh, mm, ss, ff;
        int32_t tcMode;
    };

    SyncController& syncController() const;
    DocumentController& documentController() const;
    TLEventController& eventController() const;
    AlertPresenter& alertPresenter() const;
    std::shared_ptr<Document> frontDocument() const;
    EMTimecodeFramerate projectFramerateRecord() const;

    void quarterFrameReceived(uint8_t data, uint64_t timeStamp);
    void controlChangeReceived(uint8_t controller, uint8_t value);
    // The registers' timecode with `ff` as its frame, `framesBefore` frames earlier.
    void emitTimecode(int32_t ff, int64_t framesBefore = 0);
    // The host time at which the frame `timecode` names began.
    uint64_t frameStartHostTime(const EMTimecode& timecode) const;
    // Full frame or MMC locate; answers whether the message was one (and is finished).
    bool mtcSysexReceived(const uint8_t* bytes, size_t length);
    void takeSysexTimecode(const SysexTimecode& timecode, bool withBits, uint32_t bits);
    void mscReceived(const uint8_t* bytes, size_t length);
    void receivedMSCGo(const uint8_t* bytes, size_t length);
    void receivedMSCStop(const uint8_t* bytes, size_t length);
    void receivedMSCLoad(const uint8_t* bytes, size_t length);
    void fireMappedSysex(const uint8_t* bytes, size_t length);

    void setMTCOnlineFlag(bool online);
    void listenToNoSource();
    void listenToAllSources();
    void applySelectedSourceSetting();

    FFMIDIClient* client_;
    UserDefaults& defaults_;
    RunLoop& loop_;
    const HostClock& hostClock_;
    WallClock wallClock_;
    SyncController* syncController_ = nullptr;
    DocumentController* documentController_ = nullptr;
    TLEventController* eventController_ = nullptr;
    AlertPresenter* alertPresenter_ = nullptr;

    std::unique_ptr<FFMIDIPortInputStream> portInputStream_;
    std::unique_ptr<FFMIDIVirtualInputStream> virtualInputStream_;
    uint32_t inputEndpointIndex_ = 0;
    // The one source listened to when the index is 2 or more.
    std::shared_ptr<FFMIDISourceEndpoint> selectedSource_;

    uint64_t lastReceivedMTCTimeStamp_ = 0;
    uint32_t hh_ = 0;
    uint32_t mm_ = 0;
    uint32_t ss_ = 0;
    uint32_t ff_ = 0;
    int32_t tcMode_ = 0;
    // Whether tcMode_ came from the sender yet.
    bool tcModeReceived_ = false;
    // The seconds of the last whole cycle (or full frame), to tell at piece 3
    // that the minute has wrapped since.
    uint32_t cycleSeconds_ = 0;
    bool cycleSecondsKnown_ = false;
    std::shared_ptr<EMTimecode> lastReceivedTimecode_;
    bool isMTCVideoSpeed_ = false;
    std::shared_ptr<Timer> syncTimer_;
    double timeAtLastMTCMessage_ = 0.0;
    uint32_t mtcValidMask_ = 0;
    bool mtcBeingReceived_ = false;
    // While a timecode assembled from quarter frames is handed on.
    bool fromQuarterFrames_ = false;
    bool mtcOnline_ = false;
    bool MTCOfflineForRehearsal_ = false;
    bool mscOnline_ = false;
    uint8_t mscDeviceID_ = 127;

    bool started_ = false;
    NotificationCenter::ObserverToken setupChangedToken_ = 0;
    std::vector<UserDefaults::ObserverToken> defaultsTokens_;
};

}  // namespace tollvane
