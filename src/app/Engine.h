#pragma once

// The running program without its windows: the long-lived controllers made
// and connected in start-up order, the application delegate over them, and
// the orderly shut-down. The command line's live commands and the desktop
// program share it.
//
// The core's controllers are the program's own (the shared document, cue,
// sync and transport controllers and the registered event controller), so
// everything that reaches them through the shared accessors meets the same
// ones. The engine adds what only a running program has: the MIDI client and
// controller on the chosen MIDI system, the audio controller on the chosen
// audio system, and the delegate that the core calls as its application.
//
// Threads: main thread. One engine at a time: it installs itself as the
// program's application and cue environment.

#include <memory>
#include <string>

#include "app/StreamerView.h"

namespace tollvane {

class AlertPresenter;
class CueEnvironment;
class CueController;
class Document;
class DocumentController;
class FFMIDIClient;
class MTCoreAudioDeviceLayer;
class RunLoop;
class SyncController;
class TLAppDelegate;
class TLAudioController;
class TLEventController;
class TLMIDIController;
class TransportController;
class UserDefaults;

class Engine {
public:
    struct Options {
        // "jack", "alsa", "loopback", "none", or empty for the first MIDI
        // system available.
        std::string midi;
        // "jack", "alsa", "null", or empty for the first audio system available.
        std::string audio;
        // The JACK server for both (empty: the default one).
        std::string jackServer;
        StreamerWindowFactory windowFactory;
        // Alerts of the MIDI controller; null: the shared presenter.
        AlertPresenter* alertPresenter = nullptr;
    };

    // Makes the controllers (MIDI client and controller, audio controller,
    // event mapping, delegate) without starting anything.
    Engine(UserDefaults& defaults, RunLoop& loop, Options options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Start-up: the MIDI controller listens, the delegate finishes launching
    // (audio outputs listed and started from the defaults, streamer windows
    // after 0.5 s) and becomes the core's application.
    void start();
    // Makes `document` the front document that MTC selects reels and cues in.
    void openDocument(const std::shared_ptr<Document>& document);
    // Quit: rehearsal and chase stopped, clicks dropped, the delegate's
    // termination (mapping saved, views stopped), audio stopped, MIDI closed,
    // the defaults written. Also run by the destructor when not yet done.
    void terminate();

    // What was chosen: "jack", "alsa", "loopback" or "none"; "jack", "alsa" or "null".
    const std::string& midiSystem() const { return midiSystem_; }
    const std::string& audioSystem() const { return audioSystem_; }

    TLAppDelegate& delegate() const { return *delegate_; }
    TLMIDIController& midiController() const { return *midiController_; }
    // Null when there is no MIDI system.
    FFMIDIClient* midiClient() const { return midiClient_.get(); }
    TLAudioController& audioController() const { return *audioController_; }
    MTCoreAudioDeviceLayer& audioLayer() const { return *audioLayer_; }
    DocumentController& documentController() const;
    CueController& cueController() const;
    SyncController& syncController() const;
    TransportController& transportController() const;
    TLEventController& eventController() const;

private:
    void makeMIDI(const Options& options);
    void makeAudio(const Options& options);

    UserDefaults& defaults_;
    RunLoop& loop_;
    std::string midiSystem_ = "none";
    std::string audioSystem_ = "null";
    std::unique_ptr<FFMIDIClient> midiClient_;
    std::unique_ptr<TLMIDIController> midiController_;
    std::unique_ptr<MTCoreAudioDeviceLayer> audioLayer_;
    std::unique_ptr<TLAudioController> audioController_;
    std::shared_ptr<TLAppDelegate> delegate_;
    std::shared_ptr<CueEnvironment> previousEnvironment_;
    bool started_ = false;
    bool terminated_ = false;
};

}  // namespace tollvane
