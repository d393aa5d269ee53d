#pragma once

// The application's delegate and the hub the rest of the program reaches
// through the application: it keeps the long-lived controllers, brings the
// user defaults up to date (TLAppDelegateDefaults), opens the streamer
// windows remembered in "TLStreamerWindowNumbers", forwards live triggers to
// every streamer view and the audio controller, routes menu commands to the
// front document and the controllers, and opens files handed over by the
// system. It is the PlaybackApplication the real-time core calls, installed
// when launching finishes and removed at termination.
//
// Controllers are not owned; any of them may be null (the calls that need it
// do nothing), and those given must outlive the delegate. Windows are made
// by a StreamerWindowFactory.
//
// Threads: main thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/DocumentWindowPresenter.h"
#include "app/StreamerView.h"
#include "platform/MenuItem.h"
#include "platform/Timer.h"
#include "platform/UserDefaults.h"
#include "playback/PlaybackApplication.h"

namespace tollvane {

class CueController;
class DocumentController;
class MoviePlayer;
class RunLoop;
class Sequencer;
class SyncController;
class TLAudioController;
class TLEventController;
class TLMIDIController;
class TransportController;

struct TLAppControllers {
    TLEventController* eventController = nullptr;
    TLAudioController* audioController = nullptr;
    TLMIDIController* midiController = nullptr;
    MoviePlayer* reelController = nullptr;
    CueController* cueController = nullptr;
    DocumentController* documentController = nullptr;
    TransportController* transportController = nullptr;
    SyncController* syncController = nullptr;
    Sequencer* sequencer = nullptr;
};

class TLAppDelegate final : public PlaybackApplication, public std::enable_shared_from_this<TLAppDelegate> {
public:
    static constexpr double kAutosavingDelay = 30.0;
    static constexpr double kLaunchWindowsDelay = 0.5;
    static constexpr double kDisplayLinkPollInterval = 0.1;
    static constexpr double kPickupStatusDuration = 2.0;
    static constexpr const char* kHidePreviewFramesTitle = "Hide Preview Frames";
    static constexpr const char* kShowPreviewFramesTitle = "Show Preview Frames";
    static constexpr const char* kHelpURL = "file:///usr/share/doc/tollvane/README.md";

    struct Rect {
        double x = 0.0;
        double y = 0.0;
        double width = 0.0;
        double height = 0.0;
        bool operator==(const Rect&) const = default;
    };

    // init: defaults brought up to date, previewFramesVisible, the beep
    // preferences read and observed. `defaults` and `loop` outlive it.
    static std::shared_ptr<TLAppDelegate> create(const TLAppControllers& controllers,
                                                 StreamerWindowFactory windowFactory, UserDefaults& defaults,
                                                 RunLoop& loop);
    ~TLAppDelegate() override;
    TLAppDelegate(const TLAppDelegate&) = delete;
    TLAppDelegate& operator=(const TLAppDelegate&) = delete;

    const TLAppControllers& controllers() const { return controllers_; }
    TLMIDIController* midiController() const { return controllers_.midiController; }
    // Not owned; null drops what only the windows can do.
    void setDocumentWindowPresenter(DocumentWindowPresenter* presenter) { presenter_ = presenter; }

    // --- Start-up and quit ------------------------------------------------------
    // Autosave delay, the remembered window numbers, the audio output, the
    // streamer windows 0.5 s later (on the run loop); installs the delegate
    // as the PlaybackApplication.
    void applicationDidFinishLaunching();
    void launchAllWindows();
    // Saves the event mapping, stops every view's display link and orders
    // the windows out; the remembered window numbers stay as they are.
    void applicationWillTerminate();

    // --- Streamer windows ---------------------------------------------------------
    const std::vector<uint32_t>& windowNumbers() const { return windowNumbers_; }
    // The open windows' views, in window order (closing ones included).
    const std::vector<std::shared_ptr<StreamerView>>& windowControllers() const { return windowControllers_; }
    std::shared_ptr<StreamerView> loadWindowControllerNib(uint32_t number);
    // The menu command: launchNewWindow(0).
    void newWindow() { launchNewWindow(0); }
    void launchNewWindow(uint32_t from);
    // The front-most streamer window that is not closing, or null. Opening a
    // window brings it to the front; setKeyWindow reports a window the user
    // brought forward (unknown numbers are ignored).
    std::shared_ptr<StreamerView> keyWindow() const;
    void setKeyWindow(uint32_t number);
    // Stops the key window's display link and, once it has stopped (polled
    // every 0.1 s on the run loop, never blocking), removes the window and
    // stores "TLStreamerWindowCount" and "TLStreamerWindowNumbers".
    void closeWindow();
    void closeAllWindows();
    // The rectangle stored under "TLStreamerWindowFrame<number>", or zero.
    Rect defaultFrameRectForWindowNumber(uint32_t number) const;
    // The platform's rectangle text "{{x, y}, {w, h}}"; zero when malformed.
    static Rect rectFromString(std::string_view text);

    // --- Preferences ---------------------------------------------------------------
    bool previewFramesVisible() const { return previewFramesVisible_; }
    bool beepOnStreamers() const { return beepOnStreamers_; }
    bool beepOnPunches() const { return beepOnPunches_; }
    void refreshAudioPreferences();
    // The menu item that shows or hides preview frames.
    const MenuItem& previewFramesMenuItem() const { return previewFramesMenuItem_; }

    // --- Forwarding to every streamer view ---------------------------------------------
    void setCueStart() override;
    void setCueStartTimecode(const EMTimecode& timecode);
    // Also selects the front document's reel and cue for the timecode when
    // it selects them by timecode.
    void setLastReceivedTimecode(const EMTimecode& timecode) override;
    void addStreamerWithRed(float red, float green, float blue, double feet);
    void addStreamerWithRed(float red, float green, float blue, double feet, int size);
    void addStreamerWithRed(float red, float green, float blue, double feet, int size,
                            double skippingSeconds) override;
    void addPunchWithHoles(int holes);
    void addPunchWithHoles(int holes, float red, float green, float blue, int size) override;
    // With beepOnPunches, one beep when the punch shows.
    void addPunchWithHoles(int holes, float red, float green, float blue, int size,
                           double afterDelay) override;
    void cancelAllPunches() override;
    void addClickWithVolume(double volume) override;
    void addBeepsWithTime(double time, int count);
    void addBeepsWithTime(double time, int count, bool punches) override;
    void togglePreviewFrameForAllWindows();
    void setFreeTimeClockVisibleForAllWindows(bool visible) override;
    void dimWindowLevels();
    void restoreWindowLevels();

    // --- What else the real-time core asks --------------------------------------------
    void setDisplayText(const std::string& text) override;
    void setMovieMuted(bool muted) override;
    void setMTCOfflineForRehearsal(bool offline) override;
    bool MTCOnline() const override;
    void setMTCStatus(const std::string& status) override;

    // --- Commands on the key streamer window ---------------------------------------------
    void resetOverlaysForKeyWindow();
    void toggleFreeTimeClockForKeyWindow();
    void toggleBarBeatCounterForKeyWindow();
    void toggleSubtitlesForKeyWindow();
    void togglePreviewFrameForKeyWindow();
    void toggleTimeCodeBurnForKeyWindow();
    void toggleRealTimeBurnForKeyWindow();
    void toggleFeetFramesBurnForKeyWindow();

    // --- Commands on the front document and the controllers ------------------------------
    void beginEditingTransportStartTime();
    void beginEditingCountoffBeats();
    void beginEditingCountoffDuration();
    void toggleMTCOnline();
    void nudgeOneFrameForward();
    void nudgeOneFrameBackward();
    void togglePickupActive();
    void showSyncStatusWindow();
    void newCue();
    void showReelsWindow();
    void help();

    // application:openFile: by extension ("tollvane", "TollvanePreset",
    // "mid"); answers whether the file was taken.
    bool applicationOpenFile(const std::string& path);

private:
    struct Token {};

public:
    TLAppDelegate(Token, const TLAppControllers& controllers, StreamerWindowFactory windowFactory,
                  UserDefaults& defaults, RunLoop& loop);

private:
    void readWindowNumbers();
    void storeWindowNumbers();
    bool isClosing(uint32_t number) const { return closing_.count(number) != 0; }
    void closeWindowController(const std::shared_ptr<StreamerView>& view);
    void finishClosingWhenStopped(const std::shared_ptr<StreamerView>& view);
    void finishClosing(const std::shared_ptr<StreamerView>& view);
    void beepAfterDelay(double seconds);
    void showFrontDocumentWindow(DocumentWindowPresenter::Field field);
    bool openDocument(const std::string& path);
    void notImplemented(const char* command) const;

    TLAppControllers controllers_;
    StreamerWindowFactory windowFactory_;
    UserDefaults& defaults_;
    RunLoop& loop_;
    DocumentWindowPresenter* presenter_ = nullptr;

    std::vector<std::shared_ptr<StreamerView>> windowControllers_;
    std::vector<uint32_t> windowNumbers_;
    std::set<uint32_t> closing_;
    // Front-most first is the back of this list.
    std::vector<uint32_t> windowOrder_;

    bool previewFramesVisible_ = false;
    bool beepOnStreamers_ = false;
    bool beepOnPunches_ = false;
    MenuItem previewFramesMenuItem_;

    std::vector<UserDefaults::ObserverToken> defaultsObservers_;
    std::shared_ptr<Timer> launchTimer_;
    std::map<uint32_t, std::shared_ptr<Timer>> closeTimers_;
    std::vector<std::shared_ptr<Timer>> beepTimers_;
};

}  // namespace tollvane
