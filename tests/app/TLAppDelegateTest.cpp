#include "app/TLAppDelegate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/TLAudioController.h"
#include "audio/offline/OfflineAudioDevice.h"
#include "document/Document.h"
#include "document/DocumentController.h"
#include "document/DocumentStatusDisplay.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEvent.h"
#include "model/CueEventCueEnd.h"
#include "platform/ManualRunLoop.h"
#include "platform/NotificationCenter.h"
#include "playback/CueController.h"
#include "playback/SyncController.h"
#include "playback/TransportController.h"
#include "support/LogCapture.h"
#include "support/PrivateSettings.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

const std::string kSettingsFolder = usePrivateSettingsFolder("app_tests");

class RecordingView final : public StreamerView {
public:
    explicit RecordingView(uint32_t number) : number_(number) {}
    uint32_t windowNumber() const override { return number_; }
    void receivedCueStart() override { calls.push_back("receivedCueStart"); }
    void setCueStartTC(const EMTimecode&) override { calls.push_back("setCueStartTC"); }
    void setLastReceivedTC(const EMTimecode&) override { calls.push_back("setLastReceivedTC"); }
    void addStreamerWithRed(float, float, float, float feet, int size, double skip) override {
        calls.push_back("streamer " + std::to_string(feet) + " " + std::to_string(size) + " " +
                        std::to_string(skip));
    }
    void addPunchWithRed(float red, float green, float blue, int holes, int size, double delay) override {
        punchDelays.push_back(delay);
        whitePunches += red == 1.0f && green == 1.0f && blue == 1.0f && holes == 1 && size == 1;
    }
    void cancelAllPunches() override { calls.push_back("cancelAllPunches"); }
    void setPreviewFrameVisible(bool visible) override { previewFrameVisible = visible; }
    void setFreeTimeClockVisible(bool) override { calls.push_back("setFreeTimeClockVisible"); }
    void toggleFreeTimeClock() override { calls.push_back("toggleFreeTimeClock"); }
    void toggleBarBeatCounter() override { calls.push_back("toggleBarBeatCounter"); }
    void toggleSubtitles() override { calls.push_back("toggleSubtitles"); }
    void resetWindowPrefs() override { calls.push_back("resetWindowPrefs"); }
    void dimWindowLevel() override { calls.push_back("dimWindowLevel"); }
    void restoreWindowLevel() override { calls.push_back("restoreWindowLevel"); }
    void stopDisplayLink() override { stopping = true; }
    // Reports running for `pollsUntilStopped` looks after the stop.
    bool displayLinkRunning() const override { return !stopping || pollsUntilStopped-- > 0; }
    void orderOut() override { orderedOut = true; }

    std::vector<std::string> calls;
    std::vector<double> punchDelays;
    int whitePunches = 0;
    bool previewFrameVisible = false;
    bool stopping = false;
    bool orderedOut = false;
    mutable int pollsUntilStopped = 0;

private:
    uint32_t number_;
};

class RecordingPresenter final : public DocumentWindowPresenter, public DocumentStatusDisplay {
public:
    void showDocumentWindow(const std::shared_ptr<Document>&, Field field) override {
        fields.push_back(field);
    }
    void showStatusMessage(const std::string& text, double seconds) override {
        messages.push_back(text + " " + std::to_string(seconds));
    }
    std::vector<Field> fields;
    std::vector<std::string> messages;
};

struct MainLoop {
    ManualRunLoop loop;
    RunLoop* previous = RunLoop::setMain(&loop);
    ~MainLoop() { RunLoop::setMain(previous); }
};

Value numberList(std::vector<Value> items) {
    return Value::array(std::move(items));
}

std::vector<uint32_t> storedNumbers(const UserDefaults& defaults) {
    std::vector<uint32_t> numbers;
    if (auto array = defaults.arrayForKey("TLStreamerWindowNumbers"))
        for (const Value& item : array->items) numbers.push_back(static_cast<uint32_t>(item.toInt64()));
    return numbers;
}

class AppDelegateTest : public ::testing::Test {
protected:
    ~AppDelegateTest() override {
        if (delegate) delegate->applicationWillTerminate();
    }

    std::shared_ptr<TLAppDelegate> makeDelegate() {
        TLAppControllers controllers;
        controllers.audioController = &audio;
        controllers.documentController = &documents;
        controllers.transportController = &transport;
        controllers.syncController = &sync;
        controllers.cueController = &cues;
        auto made = TLAppDelegate::create(
            controllers,
            [this](uint32_t number) {
                views.push_back(std::make_shared<RecordingView>(number));
                return views.back();
            },
            defaults, main.loop);
        made->setDocumentWindowPresenter(&presenter);
        return made;
    }
    void launch() {
        delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        main.loop.advance(TLAppDelegate::kLaunchWindowsDelay);
    }
    int claimedBeeps() const {
        int claimed = 0;
        for (int i = 0; i < TLAudioController::kSlotCount; ++i) claimed += audio.beepSlot(i) < 0.01;
        return claimed;
    }

    MainLoop main;
    UserDefaults defaults{""};
    OfflineAudioDeviceLayer layer;
    TLAudioController audio{defaults, layer};
    DocumentController documents;
    CueController cues{&documents, main.loop.clock()};
    SyncController sync{main.loop.clock()};
    TransportController transport{cues, sync};
    RecordingPresenter presenter;
    std::vector<std::shared_ptr<RecordingView>> views;
    std::shared_ptr<TLAppDelegate> delegate;
};

TEST_F(AppDelegateTest, WindowsOpenHalfASecondAfterLaunch) {
    delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    main.loop.advance(0.4);
    EXPECT_TRUE(views.empty());
    main.loop.advance(0.1);
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0]->windowNumber(), 0u);
    EXPECT_TRUE(views[0]->previewFrameVisible);
    EXPECT_EQ(&PlaybackApplication::current(), delegate.get());
}

TEST_F(AppDelegateTest, RememberedNumbersAreCleanedUp) {
    defaults.setObject("TLStreamerWindowNumbers",
                       numberList({Value("x"), Value(-1), Value(4), Value(4), Value(1.5), Value(2)}));
    launch();
    EXPECT_EQ(delegate->windowNumbers(), (std::vector<uint32_t>{4, 2}));
}

TEST_F(AppDelegateTest, NewWindowTakesTheFirstFreeNumber) {
    struct Case {
        std::vector<Value> open;
        uint32_t expected;
    };
    for (const Case& c : {Case{{Value(0), Value(2)}, 1}, Case{{Value(0), Value(1), Value(2)}, 3}}) {
        views.clear();
        defaults.setObject("TLStreamerWindowNumbers", numberList(c.open));
        launch();
        delegate->newWindow();
        ASSERT_EQ(views.size(), c.open.size() + 1);
        EXPECT_EQ(views.back()->windowNumber(), c.expected);
        EXPECT_TRUE(views.back()->previewFrameVisible);
        EXPECT_EQ(storedNumbers(defaults).back(), c.expected);
        delegate->applicationWillTerminate();
    }
}

TEST_F(AppDelegateTest, ClosingTheLastWindowIsRememberedAtTheNextLaunch) {
    launch();
    views[0]->pollsUntilStopped = 2;
    delegate->closeWindow();
    EXPECT_TRUE(views[0]->stopping);
    EXPECT_EQ(delegate->windowControllers().size(), 1u);
    EXPECT_EQ(delegate->keyWindow(), nullptr);
    main.loop.advance(TLAppDelegate::kDisplayLinkPollInterval);
    EXPECT_FALSE(views[0]->orderedOut);
    main.loop.advance(TLAppDelegate::kDisplayLinkPollInterval);
    EXPECT_TRUE(views[0]->orderedOut);
    EXPECT_TRUE(delegate->windowControllers().empty());
    EXPECT_TRUE(storedNumbers(defaults).empty());
    EXPECT_TRUE(defaults.objectForKey("TLStreamerWindowNumbers").isArray());
    EXPECT_EQ(defaults.integerForKey("TLStreamerWindowCount"), 0);

    delegate->applicationWillTerminate();
    views.clear();
    launch();
    EXPECT_TRUE(views.empty());
}

TEST_F(AppDelegateTest, KeyWindowCommandsReachTheFrontWindow) {
    defaults.setObject("TLStreamerWindowNumbers", numberList({Value(0), Value(1)}));
    launch();
    delegate->toggleSubtitlesForKeyWindow();
    delegate->setKeyWindow(0);
    delegate->resetOverlaysForKeyWindow();
    EXPECT_EQ(views[1]->calls, std::vector<std::string>{"toggleSubtitles"});
    EXPECT_EQ(views[0]->calls, std::vector<std::string>{"resetWindowPrefs"});

    LogCapture log;
    delegate->toggleFeetFramesBurnForKeyWindow();
    EXPECT_TRUE(log.logged("ERROR: called toggleFeetFramesBurnForKeyWindow, which is not yet implemented"));

    delegate->closeAllWindows();
    EXPECT_TRUE(delegate->windowControllers().empty());
    EXPECT_EQ(defaults.integerForKey("TLStreamerWindowCount"), 0);
}

TEST_F(AppDelegateTest, BeepsWithPunchesSpreadThePunchesOverTheTime) {
    defaults.setBool("warningBeepOnPunches", true);
    launch();
    delegate->addBeepsWithTime(2.0, 4, true);
    EXPECT_EQ(views[0]->punchDelays, (std::vector<double>{0.0, 0.5, 1.0, 1.5}));
    EXPECT_EQ(views[0]->whitePunches, 4);
    EXPECT_EQ(claimedBeeps(), 4);
    delegate->addBeepsWithTime(2.0, 0, true);
    EXPECT_EQ(views[0]->punchDelays.size(), 4u);
}

TEST_F(AppDelegateTest, BeepOnPunchesSoundsWhenThePunchShows) {
    launch();
    delegate->addPunchWithHoles(1);
    EXPECT_EQ(claimedBeeps(), 0);
    defaults.setBool("warningBeepOnPunches", true);
    EXPECT_TRUE(delegate->beepOnPunches());
    PlaybackApplication::current().addPunchWithHoles(1, 1.0f, 0.0f, 0.0f, 2, 0.3);
    EXPECT_EQ(claimedBeeps(), 0);
    main.loop.advance(0.3);
    EXPECT_EQ(claimedBeeps(), 1);
    delegate->addPunchWithHoles(3);
    EXPECT_EQ(claimedBeeps(), 2);
    delegate->addPunchWithHoles(1, 1.0f, 1.0f, 1.0f, 1, 0.5);
    delegate->cancelAllPunches();
    main.loop.advance(0.5);
    EXPECT_EQ(claimedBeeps(), 2);
    EXPECT_EQ(views[0]->punchDelays, (std::vector<double>{0.0, 0.3, 0.0, 0.5}));
}

TEST_F(AppDelegateTest, PreviewFramesToggleRetitlesTheMenu) {
    launch();
    EXPECT_TRUE(delegate->previewFramesVisible());
    EXPECT_EQ(delegate->previewFramesMenuItem().title, "Hide Preview Frames");
    delegate->togglePreviewFrameForAllWindows();
    EXPECT_FALSE(views[0]->previewFrameVisible);
    EXPECT_EQ(delegate->previewFramesMenuItem().title, "Show Preview Frames");
}

TEST_F(AppDelegateTest, FrameRectsFromTheirText) {
    struct Case {
        const char* text;
        TLAppDelegate::Rect rect;
    };
    for (const Case& c :
         {Case{"{{10, 20}, {300, 400.5}}", {10, 20, 300, 400.5}}, Case{"{{-5,0},{1,2}}", {-5, 0, 1, 2}},
          Case{"", {}}, Case{"{{1, 2}, {3}}", {}}, Case{"{{1, 2}, {3, 4}} x", {}}})
        EXPECT_EQ(TLAppDelegate::rectFromString(c.text), c.rect) << c.text;
    defaults.setString("TLStreamerWindowFrame3", "{{1, 2}, {3, 4}}");
    delegate = makeDelegate();
    EXPECT_EQ(delegate->defaultFrameRectForWindowNumber(3), (TLAppDelegate::Rect{1, 2, 3, 4}));
    EXPECT_EQ(delegate->defaultFrameRectForWindowNumber(4), TLAppDelegate::Rect{});
}

TEST_F(AppDelegateTest, ReceivedTimecodesSelectTheCueWhenTheDocumentSaysSo) {
    launch();
    auto document = Document::create();
    documents.addDocument(document);
    const auto rate = EMTimecode::framerateForIndex(4);
    std::vector<std::shared_ptr<Cue>> made;
    for (const auto& [sync, end] :
         {std::pair{"1:00:00:00", "1:00:30:00"}, std::pair{"1:02:00:00", "1:02:30:00"}}) {
        auto cue = Cue::create();
        cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(rate, sync));
        auto cueEnd = CueEventCueEnd::cueEndEventWithCue(cue);
        cueEnd->setLockType(CueEvent::kLockTypeTimecode);
        cueEnd->setLockTimecode(EMTimecode::timecodeWithFramerate(rate, end));
        cue->setCueEndEvent(cueEnd);
        made.push_back(cue);
    }
    document->cueController().setContent(made);
    document->cueController().setSelectedObjects({made[0]});
    main.loop.advance(0.2);
    const auto between = EMTimecode::timecodeWithFramerate(rate, "1:01:00:00");

    delegate->setLastReceivedTimecode(*between);
    EXPECT_EQ(document->cueController().selectedCue(), made[0]);
    EXPECT_EQ(views[0]->calls.back(), "setLastReceivedTC");
    document->setCueSelectionMode(1);
    delegate->setLastReceivedTimecode(*between);
    EXPECT_EQ(document->cueController().selectedCue(), made[1]);
}

TEST_F(AppDelegateTest, PickupShowsItsStatusAndStartsEditing) {
    launch();
    auto document = Document::create();
    document->setStatusDisplay(&presenter);
    documents.addDocument(document);
    int posted = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(
        TransportController::kPickupActiveDidChangeNotification, [&](const Notification&) { ++posted; });
    delegate->togglePickupActive();
    delegate->togglePickupActive();
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_FALSE(transport.pickupActive());
    EXPECT_EQ(posted, 2);
    EXPECT_EQ(presenter.messages, std::vector<std::string>{"Pickup active " + std::to_string(2.0)});
    EXPECT_EQ(presenter.fields.back(), DocumentWindowPresenter::Field::TransportStartTime);
}

TEST_F(AppDelegateTest, OpeningADocumentReplacesOnlyAnUntouchedNewOne) {
    const std::string path = kSettingsFolder + "/Opened.tollvane";
    {
        auto saved = Document::create();
        saved->cueController().newCue();
        std::string error;
        ASSERT_TRUE(saved->writeToFile(path, &error)) << error;
    }
    delegate = makeDelegate();
    auto untouched = Document::create();
    documents.addDocument(untouched);
    EXPECT_TRUE(delegate->applicationOpenFile(path));
    ASSERT_EQ(documents.documents().size(), 1u);
    EXPECT_EQ(documents.frontDocument()->filePath(), path);
    EXPECT_TRUE(delegate->applicationOpenFile(path));
    EXPECT_EQ(documents.documents().size(), 1u);

    documents.removeDocument(documents.frontDocument());
    auto edited = Document::create();
    edited->setProjectFramerate(2);
    documents.addDocument(edited);
    EXPECT_TRUE(delegate->applicationOpenFile(path));
    EXPECT_EQ(documents.documents().size(), 2u);

    EXPECT_FALSE(delegate->applicationOpenFile(kSettingsFolder + "/notes.txt"));
    EXPECT_FALSE(delegate->applicationOpenFile(kSettingsFolder + "/missing.tollvane"));
    std::filesystem::remove(path);
}

TEST_F(AppDelegateTest, TerminationStopsEveryViewAndKeepsTheNumbers) {
    defaults.setObject("TLStreamerWindowNumbers", numberList({Value(0), Value(1)}));
    launch();
    delegate->applicationWillTerminate();
    for (const auto& view : views) EXPECT_TRUE(view->stopping && view->orderedOut);
    EXPECT_EQ(storedNumbers(defaults), (std::vector<uint32_t>{0, 1}));
    EXPECT_NE(&PlaybackApplication::current(), delegate.get());
}

}  // namespace
}  // namespace tollvane
