// The MIDI controller on virtual time: MIDI goes in through the loopback
// backend (or straight to takeMIDIMessages) and comes out at a real sync
// controller, a recording application, a document and the event mapping.

#include "midi/TLMIDIController.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "document/Document.h"
#include "document/DocumentController.h"
#include "document/DocumentStatusDisplay.h"
#include "midi/FFMIDIClient.h"
#include "midi/FFMIDIVoiceMessage.h"
#include "midi/loopback/FFMIDILoopbackBackend.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueDefaults.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/ScriptedAlertPresenter.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/MoviePlayer.h"
#include "playback/PlaybackApplication.h"
#include "playback/SyncController.h"
#include "playback/TLEvent.h"
#include "playback/TLEventController.h"
#include "support/PrivateSettings.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

const std::string kSettingsFolder = usePrivateSettingsFolder("tollvane-midi-tests");

constexpr int kRate25 = 1;
constexpr int kRate30 = 3;
constexpr const char* kIncorrectText =
    "The timecode being received is at the wrong framerate. Please check that the project framerate and the "
    "incoming MTC framerate match before putting Tollvane online.";

struct RecordingApplication : PlaybackApplication {
    void setLastReceivedTimecode(const EMTimecode& timecode) override {
        received.push_back(timecode.stringRepresentationWithBits());
    }
    void setCueStart() override { ++cueStarts; }
    void addPunchWithHoles(int holes, float, float, float, int) override { punches.push_back(holes); }
    void setFreeTimeClockVisibleForAllWindows(bool visible) override { clocks.push_back(visible); }
    void setMTCStatus(const std::string& status) override { statuses.push_back(status); }
    std::vector<std::string> received, statuses;
    std::vector<int> punches;
    std::vector<bool> clocks;
    int cueStarts = 0;
};

struct RecordingMovie : MoviePlayer {
    bool isPlaying() const override { return false; }
    std::recursive_mutex& consumerLock() override { return lock; }
    double currentTime() const override { return 0.0; }
    std::shared_ptr<Reel> selectedReel() const override { return nullptr; }
    void gotoBeginning() override {}
    void playFromTimecode(const EMTimecode&, uint64_t) override {}
    void pauseAtTimecode(const EMTimecode& timecode) override {
        pausesAt.push_back(timecode.stringRepresentation());
    }
    void pause() override {}
    void setMovieMuted(bool) override {}
    std::recursive_mutex lock;
    std::vector<std::string> pausesAt;
};

struct RecordingStatus : DocumentStatusDisplay {
    void showStatusMessage(const std::string& text, double) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

class TLMIDIControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(kSettingsFolder.empty());
        previousLoop_ = RunLoop::setMain(&loop);
        previousClock_ = HostClock::setShared(&loop.clock());
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        previousApplication_ = PlaybackApplication::install(application);
        defaults.setBool("mtcOnline", true);
        document = Document::create();
        document->setProjectFramerate(3);
        document->setStatusDisplay(&status);
        documents.addDocument(document);
        sync.setSyncThreadEnabled(false);
        sync.setReelController(&movie);
        backend->addSource(101, "Desk");
        backend->addSource(202, "Recorder");
    }
    void TearDown() override {
        midi.reset();
        client.reset();
        sync.setCueController(nullptr);
        loop.runPending();
        PlaybackApplication::install(previousApplication_);
        HostClock::setShared(previousClock_);
        RunLoop::setMain(previousLoop_);
    }

    void start() {
        client = std::make_unique<FFMIDIClient>(std::move(ownedBackend), "Tollvane", loop);
        midi = std::make_unique<TLMIDIController>(client.get(), defaults, loop, loop.clock());
        midi->setSyncController(&sync);
        midi->setDocumentController(&documents);
        midi->setEventController(&events);
        midi->setAlertPresenter(&alerts);
        midi->setWallClock([this] { return loop.now(); });
        midi->start();
    }

    // Into the virtual destination, as another program would send it.
    void send(std::initializer_list<uint8_t> bytes) {
        FFMIDIPacketList packets;
        packets.addPacket(loop.clock().now(), bytes);
        backend->sendToDestinationNamed("Tollvane", packets);
        loop.runPending();
    }

    // Quarter frames `first` to `last` of the cycle for h:m:s:f, one every
    // 10 ms (25 fps).
    void quarterFrames(int h, int m, int s, int f, int rate, int first = 0, int last = 7) {
        const int nibbles[8] = {f & 15, f >> 4, s & 15, s >> 4,
                                m & 15, m >> 4, h & 15, (h >> 4) | (rate << 1)};
        for (int piece = first; piece <= last; ++piece) {
            send({0xF1, static_cast<uint8_t>(piece << 4 | nibbles[piece])});
            loop.advance(0.01);
        }
    }

    std::shared_ptr<TLEvent> map(std::shared_ptr<TLEvent> event, const char* key, Value value) {
        event->setValueForKey(key, value);
        auto content = events.content();
        content.push_back(event);
        events.setContent(content);
        return event;
    }

    std::string lastReceived() const {
        return application->received.empty() ? "none" : application->received.back();
    }

    ManualRunLoop loop{1000'000'000'000};
    UserDefaults defaults{""};
    ScriptedAlertPresenter alerts;
    DocumentController documents;
    std::shared_ptr<Document> document;
    RecordingStatus status;
    TLEventController events{loop.clock()};
    RecordingMovie movie;
    SyncController sync{loop.clock()};
    std::shared_ptr<RecordingApplication> application = std::make_shared<RecordingApplication>();
    std::unique_ptr<FFMIDILoopbackBackend> ownedBackend = std::make_unique<FFMIDILoopbackBackend>();
    FFMIDILoopbackBackend* backend = ownedBackend.get();
    std::unique_ptr<FFMIDIClient> client;
    std::unique_ptr<TLMIDIController> midi;

private:
    RunLoop* previousLoop_ = nullptr;
    const HostClock* previousClock_ = nullptr;
    std::shared_ptr<PlaybackApplication> previousApplication_;
};

TEST(TLMIDIControllerRateTest, RateCodesMatchFramesPerSecondAndDropFrameOnly) {
    // Per project rate index 0-7: the MTC rate code that matches.
    const int expected[8] = {0, 0, 1, 1, 3, 2, 3, 2};
    for (int index = 0; index < 8; ++index) {
        for (int mode = 0; mode < 4; ++mode) {
            EXPECT_EQ(TLMIDIController::tcModeMatchesFramerate(mode, EMTimecode::framerateForIndex(index)),
                      mode == expected[index])
                << index << " " << mode;
        }
    }
}

// A cycle names the frame its first piece went out in and is complete 1.75
// frames later: time must run from where that frame began, not from the
// message, or everything chased runs 1.75 frames late.
TEST_F(TLMIDIControllerTest, TimeRunsFromWhereTheNamedFrameBegan) {
    start();
    quarterFrames(1, 0, 0, 0, kRate25);
    quarterFrames(1, 0, 0, 2, kRate25);
    ASSERT_TRUE(sync.isPlaying());
    const uint64_t lastPiece = loop.clock().now() - HostClock::ticksFromSeconds(0.01);
    // Frame 2 began 1.75 frames before the last piece: 3.75 frames past the hour.
    EXPECT_NEAR(sync.timecodeAtHostTime(lastPiece)->secondsFromZero(), 3600.0 + 3.75 / 25.0, 0.001);
}

TEST_F(TLMIDIControllerTest, AStreamStartingAtPieceFourRunsFromTheNextPieceThree) {
    start();
    quarterFrames(1, 0, 0, 0, kRate25, 4, 7);
    EXPECT_EQ(midi->mtcValidMask(), 12u);
    EXPECT_EQ(lastReceived(), "1:00:00:00/00");
    EXPECT_FALSE(midi->mtcBeingReceived());
    EXPECT_FALSE(sync.isPlaying());
    quarterFrames(1, 0, 0, 2, kRate25, 0, 3);
    EXPECT_EQ(lastReceived(), "1:00:00:01/00");
    EXPECT_TRUE(sync.isPlaying());
    EXPECT_TRUE(midi->mtcBeingReceived());
    quarterFrames(1, 0, 0, 2, kRate25, 4, 7);
    EXPECT_EQ(application->received.size(), 3u);
}

TEST_F(TLMIDIControllerTest, TimecodeAtTheWrongRateIsDroppedAndShown) {
    struct Case {
        int projectIndex, rate;
        bool accepted;
    };
    const Case cases[] = {{4, kRate30, true}, {6, kRate30, true}, {3, kRate30, false}, {5, kRate30, false}};
    start();
    // Before the first hours piece there is no rate to check: nothing goes out.
    quarterFrames(1, 0, 0, 0, kRate30, 0, 3);
    EXPECT_TRUE(application->received.empty());
    EXPECT_TRUE(status.messages.empty());
    quarterFrames(1, 0, 0, 0, kRate30, 4, 7);
    for (const Case& c : cases) {
        document->setProjectFramerate(c.projectIndex);
        application->received.clear();
        status.messages.clear();
        quarterFrames(1, 0, 0, 0, c.rate);
        EXPECT_EQ(application->received.size(), c.accepted ? 2u : 0u) << c.projectIndex;
        EXPECT_EQ(status.messages, std::vector<std::string>(c.accepted ? 0 : 2, "Wrong framerate"));
    }
    EXPECT_TRUE(midi->MTCOnline());
}

TEST_F(TLMIDIControllerTest, PieceThreeAfterAMinuteWrapHandsOnFrameMinusOne) {
    document->setProjectFramerate(6);
    start();
    quarterFrames(0, 0, 59, 28, kRate30);
    quarterFrames(0, 1, 0, 0, kRate30, 0, 3);
    EXPECT_EQ(lastReceived(), "0:00:59:29/00");
    quarterFrames(0, 1, 0, 0, kRate30, 4, 7);
    EXPECT_EQ(lastReceived(), "0:01:00:00/00");
}

TEST_F(TLMIDIControllerTest, FullFrameFromAnyDeviceLocateFromAllCallAndBothCheckTheRate) {
    start();
    send({0xF0, 0x7F, 0x05, 0x01, 0x01, 0x21, 0x02, 0x03, 0x04, 0xF7});
    EXPECT_EQ(lastReceived(), "1:02:03:04/00");
    EXPECT_EQ(sync.currentTimecode()->stringRepresentation(), "1:02:03:04");
    send({0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0x21, 0x05, 0x06, 0x07, 0x28, 0xF7});
    EXPECT_EQ(lastReceived(), "1:05:06:07/40");
    send({0xF0, 0x7F, 0x05, 0x06, 0x44, 0x06, 0x01, 0x21, 0x09, 0x06, 0x07, 0x28, 0xF7});
    EXPECT_EQ(alerts.shownCount(), 0u);
    // 30 fps into a 25 fps project: offline, with the alert.
    send({0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x61, 0x02, 0x03, 0x04, 0xF7});
    EXPECT_FALSE(midi->MTCOnline());
    EXPECT_FALSE(defaults.boolForKey("mtcOnline"));
    EXPECT_EQ(application->statuses.back(), "Offline \u2014 Not following timecode.");
    ASSERT_EQ(alerts.shownCount(), 1u);
    EXPECT_EQ(alerts.shownAlerts()[0].title, "Incorrect framerate");
    EXPECT_EQ(alerts.shownAlerts()[0].text, kIncorrectText);
    EXPECT_EQ(alerts.shownAlerts()[0].shownButtons(), std::vector<std::string>{"OK"});
    // Offline, full frames are not taken.
    send({0xF0, 0x7F, 0x05, 0x01, 0x01, 0x21, 0x09, 0x03, 0x04, 0xF7});
    EXPECT_EQ(application->received, (std::vector<std::string>{"1:02:03:04/00", "1:05:06:07/40"}));
}

TEST_F(TLMIDIControllerTest, MSCLoadSelectsByCueNumberThenByReelAndVersion) {
    start();
    std::vector<std::shared_ptr<Cue>> cues;
    for (const char* title : {"1m2a Main Title v2", "1m2a Main Title v3", "7 Fanfare"}) {
        cues.push_back(Cue::create());
        cues.back()->setTitle(title);
    }
    CueArrayController& list = document->cueController();
    list.setContent(cues);
    struct Case {
        std::vector<uint8_t> number;
        const char* selected;
    };
    const Case cases[] = {{{'1', '.', '2', '.', '1', '.', '3'}, "1m2a Main Title v3"},
                          {{'7', 0x00, '1'}, "7 Fanfare"},
                          {{'A', '1', '2'}, "none"},
                          {{0x00, '7'}, "none"}};
    for (const Case& c : cases) {
        list.setSelectedObjects({});
        std::vector<uint8_t> bytes{0xF0, 0x7F, 0x7F, 0x02, 0x30, 0x05};
        bytes.insert(bytes.end(), c.number.begin(), c.number.end());
        bytes.push_back(0xF7);
        midi->sysexReceived(bytes.data(), bytes.size());
        EXPECT_EQ(list.selectedCue() ? list.selectedCue()->title() : "none", c.selected);
    }
}

TEST_F(TLMIDIControllerTest, MSCTakesItsOwnDeviceAndAllCall) {
    struct Case {
        int setting, device, format;
        bool taken;
    };
    const Case cases[] = {{5, 5, 0x10, false},   {5, 5, 0x11, true},  {5, 6, 0x30, false},
                          {5, 0x7F, 0x7F, true}, {0, 5, 0x40, false}, {0, 0x7F, 0x31, true}};
    start();
    for (const Case& c : cases) {
        midi->setMscDeviceID(c.setting);
        midi->setMTCOnline(true);
        send({0xF0, 0x7F, static_cast<uint8_t>(c.device), 0x02, static_cast<uint8_t>(c.format), 0x1A, 0xF7});
        EXPECT_EQ(midi->MTCOnline(), !c.taken) << c.setting << " " << c.device << " " << c.format;
    }
    EXPECT_EQ(midi->mscDeviceID(), 127);
    EXPECT_EQ(defaults.integerForKey("mscDeviceID"), 0);
    send({0xF0, 0x7F, 0x7F, 0x02, 0x7F, 0x19, 0xF7});
    EXPECT_TRUE(midi->MTCOnline());
    EXPECT_EQ(application->statuses.back(), "Waiting for MTC...");
}

TEST_F(TLMIDIControllerTest, NotesAndSysexFireTheirMappings) {
    start();
    map(TLEvent::punchEvent(), "noteOn", Value(60));
    map(TLEvent::cueStartEvent(), "noteOn", Value(62));
    map(TLEvent::punchEvent(), "noteOn", Value(249))->setValueForKey("eventLength", Value(4));
    map(TLEvent::punchEvent(), "sysexArray",
        Value::array(
            {Value(0xF0), Value(0x7F), Value(0x7F), Value(0x02), Value(0x7F), Value(0x1A), Value(0xF7)}))
        ->setValueForKey("eventLength", Value(2));
    send({0x90, 72, 0});
    EXPECT_TRUE(application->punches.empty());
    send({0x90, 72, 100});
    send({0x93, 74, 1});
    send({0x90, 5, 64});
    EXPECT_EQ(application->punches, (std::vector<int>{1, 4}));
    EXPECT_EQ(application->cueStarts, 1);
    send({0xF0, 0x7F, 0x7F, 0x02, 0x7F, 0x1A, 0xF7});
    EXPECT_EQ(application->punches.back(), 2);
    EXPECT_FALSE(midi->MTCOnline());
}

TEST_F(TLMIDIControllerTest, SustainPedalShowsAndHidesTheFreeTimeClocks) {
    start();
    midi->takeMIDIMessages({std::make_shared<FFMIDIVoiceMessage>(0xB0, 64, 0),
                            std::make_shared<FFMIDIVoiceMessage>(0xBF, 64, 127),
                            std::make_shared<FFMIDIVoiceMessage>(0xB0, 7, 0)});
    EXPECT_EQ(application->clocks, (std::vector<bool>{false, true}));
}

TEST_F(TLMIDIControllerTest, MTCStoppingPausesWhereItStoppedOrAtTheRehearsalStart) {
    auto cue = Cue::create();
    cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "1:00:10:00"));
    cue->reallyUpdateSequence();
    CueController cues(nullptr, loop.clock());
    cues.setPlayerFactory([this](Cue& selected) {
        auto player = std::make_unique<FFMusicPlayer>(loop.clock(), MusicPlayer::Delivery::stepped);
        player->setSequence(selected.sequence());
        return player;
    });
    cues.setSelectedCue(cue);
    start();
    struct Case {
        bool autoRewind, withCue;
        std::string pausedAt;
    };
    // The last timecode is the one piece 3 of the third cycle emits.
    const Case cases[] = {{false, true, "1:00:00:03"},
                          {true, true, cue->rehearsalStartTimecode()->stringRepresentation()},
                          {true, false, "1:00:00:03"}};
    for (const Case& c : cases) {
        defaults.setBool("transportAutoRewind", c.autoRewind);
        sync.setCueController(c.withCue ? &cues : nullptr);
        movie.pausesAt.clear();
        quarterFrames(1, 0, 0, 0, kRate25);
        quarterFrames(1, 0, 0, 2, kRate25);
        quarterFrames(1, 0, 0, 4, kRate25, 0, 3);
        ASSERT_TRUE(sync.isPlaying());
        // Checked every 0.1 s: stopped once more than 0.1 s has passed.
        loop.advance(0.05);
        EXPECT_TRUE(sync.isPlaying());
        loop.advance(0.15);
        EXPECT_FALSE(sync.isPlaying());
        EXPECT_EQ(movie.pausesAt, std::vector<std::string>{c.pausedAt});
        EXPECT_EQ(midi->mtcValidMask(), 0u);
        EXPECT_FALSE(midi->mtcBeingReceived());
    }
}

TEST_F(TLMIDIControllerTest, AMissingSourceFallsBackToTheVirtualInputWithAnAlert) {
    defaults.setString("selectedMIDISourceEndpointID", "202");
    start();
    EXPECT_EQ(midi->selectedMIDISourceEndpointIndex(), 3u);
    EXPECT_EQ(midi->midiEndpointNames(),
              (std::vector<std::string>{"None (virtual input only)", "All", "Desk", "Recorder"}));
    FFMIDIPacketList note;
    note.addPacket(1, {0xB0, 64, 1});
    EXPECT_FALSE(backend->sendFromSource(101, note));
    EXPECT_TRUE(backend->sendFromSource(202, note));

    loop.runPending();
    int endpointNotices = 0;
    midi->addKeyObserver([&](std::string_view key) { endpointNotices += key == "midiEndpoints"; });
    backend->removeSource(202);
    loop.runPending();
    EXPECT_EQ(endpointNotices, 1);
    defaults.setBool("mscOnline", true);
    ASSERT_EQ(alerts.shownCount(), 1u);
    EXPECT_EQ(alerts.shownAlerts()[0].title, "MIDI device disappeared");
    EXPECT_EQ(
        alerts.shownAlerts()[0].text,
        "The previously selected MIDI device is not available. Tollvane will only listen on its built-in "
        "virtual input.");
    EXPECT_EQ(midi->selectedMIDISourceEndpointIndex(), 0u);
    EXPECT_EQ(defaults.stringForKey("selectedMIDISourceEndpointID"), "None");

    midi->setSelectedMIDISourceEndpointIndex(1);
    EXPECT_EQ(defaults.stringForKey("selectedMIDISourceEndpointID"), "All");
    EXPECT_TRUE(backend->sendFromSource(101, note));
    midi->setSelectedMIDISourceEndpointIndex(2);
    EXPECT_EQ(defaults.stringForKey("selectedMIDISourceEndpointID"), "101");
    EXPECT_NE(defaults.integerForKey("internalVirtualInputStreamID"), 0);
}

TEST_F(TLMIDIControllerTest, WithoutAPortStreamTheVirtualInputStillListens) {
    std::vector<std::string> logged;
    const Log::Sink previous = Log::setSink([&](const std::string& line) { logged.push_back(line); });
    backend->failNextPortCreation(-50);
    start();
    Log::setSink(previous);
    EXPECT_NE(std::find(logged.begin(), logged.end(),
                        "ERROR: Could not create MIDI input port stream: Caught std::runtime_error: Couldn't "
                        "create a MIDI input port (error -50)"),
              logged.end());
    send({0xB0, 64, 0});
    EXPECT_EQ(application->clocks, std::vector<bool>{false});
}

TEST_F(TLMIDIControllerTest, RehearsalTakesMTCOfflineWithoutStoppingTheDecoding) {
    start();
    int notices = 0;
    midi->addKeyObserver([&](std::string_view key) { notices += key == "MTCOnline"; });
    midi->setMTCOfflineForRehearsal(true);
    EXPECT_FALSE(midi->MTCOnline());
    EXPECT_EQ(notices, 1);
    quarterFrames(1, 0, 0, 0, kRate25);
    EXPECT_EQ(lastReceived(), "1:00:00:00/00");
    midi->setMTCOfflineForRehearsal(false);
    EXPECT_TRUE(midi->MTCOnline());
    EXPECT_EQ(notices, 2);
    midi->movieChanged();
    EXPECT_EQ(application->statuses.back(), "Waiting for MTC...");
}

}  // namespace
}  // namespace tollvane
