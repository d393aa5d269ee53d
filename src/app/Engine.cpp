#include "app/Engine.h"

#include <utility>

#include "app/TLAppDelegate.h"
#include "audio/TLAudioController.h"
#include "audio/jack/AudioDeviceLayerFactory.h"
#include "document/Document.h"
#include "document/DocumentController.h"
#include "midi/FFMIDIBackendChooser.h"
#include "midi/FFMIDIClient.h"
#include "midi/TLMIDIController.h"
#include "model/CueEnvironment.h"
#include "platform/UserDefaults.h"
#include "playback/CueController.h"
#include "playback/PlaybackApplication.h"
#include "playback/PlaybackEnvironment.h"
#include "playback/SyncController.h"
#include "playback/TLEventController.h"
#include "playback/TransportController.h"

namespace tollvane {

namespace {

// The name the program's MIDI client and its virtual destination go by.
constexpr const char* kMIDIClientName = "Tollvane";

}  // namespace

Engine::Engine(UserDefaults& defaults, RunLoop& loop, Options options) : defaults_(defaults), loop_(loop) {
    // The core's controllers first, in the order they depend on each other,
    // so that they outlive everything made here.
    TransportController& transport = transportController();
    // The mapping the user keeps (or the shipped one); quitting saves it back.
    TLEventController& events = eventController();
    events.loadFromDefaults();
    makeMIDI(options);
    makeAudio(options);
    syncController().setAudioController(audioController_.get());

    TLAppControllers controllers;
    controllers.eventController = &events;
    controllers.audioController = audioController_.get();
    controllers.midiController = midiController_.get();
    controllers.cueController = &cueController();
    controllers.documentController = &documentController();
    controllers.transportController = &transport;
    controllers.syncController = &syncController();
    delegate_ = TLAppDelegate::create(controllers, std::move(options.windowFactory), defaults_, loop_);
}

Engine::~Engine() {
    terminate();
}

void Engine::makeMIDI(const Options& options) {
    if (options.midi != "none") {
        if (auto backend = FFMIDIBackendChooser::chooseBackend(options.midi, options.jackServer)) {
            const std::string name = backend->name();
            auto client = std::make_unique<FFMIDIClient>(std::move(backend), kMIDIClientName, loop_);
            if (client->isValid()) {
                midiSystem_ = name;
                midiClient_ = std::move(client);
            }
        }
    }
    midiController_ = std::make_unique<TLMIDIController>(midiClient_.get(), defaults_, loop_);
    midiController_->setSyncController(&syncController());
    midiController_->setDocumentController(&documentController());
    midiController_->setEventController(&eventController());
    if (options.alertPresenter) midiController_->setAlertPresenter(options.alertPresenter);
}

void Engine::makeAudio(const Options& options) {
    AudioDeviceLayerFactory::Backend chosen = AudioDeviceLayerFactory::Backend::kNull;
    audioLayer_ = AudioDeviceLayerFactory::makeNamed(options.audio, options.jackServer, &chosen);
    audioSystem_ = AudioDeviceLayerFactory::backendName(chosen);
    audioController_ = std::make_unique<TLAudioController>(defaults_, *audioLayer_);
}

void Engine::start() {
    if (started_) return;
    started_ = true;
    previousEnvironment_ = CueEnvironment::install(std::make_shared<PlaybackEnvironment>());
    midiController_->start();
    delegate_->applicationDidFinishLaunching();
}

void Engine::openDocument(const std::shared_ptr<Document>& document) {
    DocumentController& documents = documentController();
    documents.addDocument(document);
    documents.setCurrentDocument(document);
    documents.frontDocumentMayHaveChanged();
    cueController().updateSelectedDocument();
}

void Engine::terminate() {
    if (terminated_) return;
    terminated_ = true;
    if (started_) {
        transportController().setRehearsalActive(false);
        syncController().pause();
        cueController().stop();
        delegate_->applicationWillTerminate();
    }
    audioController_->removeAllScheduledClicks();
    audioController_->stop();
    syncController().setAudioController(nullptr);
    midiController_.reset();
    midiClient_.reset();
    if (started_) CueEnvironment::install(previousEnvironment_);
    defaults_.synchronize();
}

DocumentController& Engine::documentController() const {
    return DocumentController::sharedDocumentController();
}

CueController& Engine::cueController() const {
    return CueController::sharedCueController();
}

SyncController& Engine::syncController() const {
    return SyncController::sharedInstance();
}

TransportController& Engine::transportController() const {
    return TransportController::sharedTransportController();
}

TLEventController& Engine::eventController() const {
    return TLEventController::sharedController();
}

}  // namespace tollvane
