#include "playback/TLEventController.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/ScriptedAlertPresenter.h"
#include "platform/UserDefaults.h"
#include "platform/archive/KeyedArchiver.h"
#include "playback/PlaybackApplication.h"
#include "playback/TLEvent.h"

namespace tollvane {
namespace {

namespace fs = std::filesystem;

class CountingApplication : public PlaybackApplication {
public:
    void addStreamerWithRed(float, float, float, double feet, int, double skippingSeconds) override {
        streamers.push_back({feet, skippingSeconds});
    }
    void addClickWithVolume(double) override { ++clicks; }

    std::vector<std::pair<double, double>> streamers;
    int clicks = 0;
};

class TLEventControllerTest : public ::testing::Test {
protected:
    TLEventControllerTest()
        : previousLoop_(RunLoop::setMain(&loop_)),
          previousAlerts_(AlertPresenter::setShared(&alerts_)),
          previousApplication_(PlaybackApplication::install(application_)),
          oldMapping_(
              UserDefaults::standardUserDefaults().objectForKey(TLEventController::kEventMappingKey)) {
        folder_ =
            fs::temp_directory_path() / ("tollvane-events-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    ~TLEventControllerTest() override {
        UserDefaults::standardUserDefaults().setObject(TLEventController::kEventMappingKey, oldMapping_);
        PlaybackApplication::install(previousApplication_);
        AlertPresenter::setShared(previousAlerts_);
        RunLoop::setMain(previousLoop_);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    static std::shared_ptr<TLEvent> mapped(std::shared_ptr<TLEvent> event, int note) {
        event->setValueForKey("noteOn", Value(note));
        return event;
    }

    static std::vector<std::string> descriptions(const TLEventController::Events& events) {
        std::vector<std::string> texts;
        for (const auto& event : events) texts.push_back(event->description());
        return texts;
    }

    ManualRunLoop loop_;
    RunLoop* previousLoop_;
    ScriptedAlertPresenter alerts_;
    AlertPresenter* previousAlerts_;
    std::shared_ptr<CountingApplication> application_ = std::make_shared<CountingApplication>();
    std::shared_ptr<PlaybackApplication> previousApplication_;
    Value oldMapping_;
    fs::path folder_;
    TLEventController controller_{loop_.clock()};
};

TEST_F(TLEventControllerTest, NotesMatchOnTheirLowEightBits) {
    controller_.setContent({mapped(TLEvent::streamerEvent(), 60), mapped(TLEvent::punchEvent(), 61),
                            mapped(TLEvent::clickEvent(), 60), TLEvent::beepEvent()});
    EXPECT_EQ(controller_.eventsForNote(0x13C).size(), 2u);
    EXPECT_EQ(controller_.eventsForNote(60).size(), 2u);
    EXPECT_EQ(controller_.eventsForNote(61)[0]->eventType(), TLEvent::kPunch);
    EXPECT_TRUE(controller_.eventsForNote(62).empty());
    // An entry without a note is fired by none, not by note 0.
    EXPECT_TRUE(controller_.eventsForNote(0).empty());
}

TEST_F(TLEventControllerTest, SysexMatchesExactlyItsBytes) {
    auto entry = TLEvent::punchEvent();
    entry->setValueForKey("sysexArray", Value::array({Value(0xF0), Value(0x7F), Value(0x01), Value(0xF7)}));
    controller_.setContent({entry, TLEvent::streamerEvent()});
    const uint8_t exact[] = {0xF0, 0x7F, 0x01, 0xF7};
    const uint8_t longer[] = {0xF0, 0x7F, 0x01, 0xF7, 0x00};
    const uint8_t other[] = {0xF0, 0x7F, 0x02, 0xF7};
    EXPECT_EQ(controller_.eventsForSysex(exact, 4).size(), 1u);
    EXPECT_TRUE(controller_.eventsForSysex(longer, 5).empty());
    EXPECT_TRUE(controller_.eventsForSysex(exact, 3).empty());
    EXPECT_TRUE(controller_.eventsForSysex(other, 4).empty());
    EXPECT_TRUE(controller_.eventsForSysex(nullptr, 4).empty());
}

TEST_F(TLEventControllerTest, AddedEntriesGoOnTopSelectedWithTheirDefaultNames) {
    controller_.setContent({mapped(TLEvent::streamerEvent(), 40)});
    const struct {
        void (TLEventController::*add)();
        const char* name;
    } cases[] = {
        {&TLEventController::addStreamer, "3.0' regular streamer"},
        {&TLEventController::addPunch, "1-hole punch, regular"},
        {&TLEventController::addBeep, "3 beeps (2.00 sec)"},
        {&TLEventController::addClick, "click"},
        {&TLEventController::addCueStart, "cue start"},
    };
    for (const auto& c : cases) {
        (controller_.*c.add)();
        EXPECT_EQ(controller_.arrangedObjects()[0]->eventName(), c.name);
        EXPECT_EQ(controller_.selectionIndexes(), std::vector<size_t>{0}) << c.name;
    }
    EXPECT_EQ(controller_.content().size(), 6u);
    // Sorted again ("-" < "CStart" < "Pnch..." < "Stmr..."), the selection follows its entry.
    controller_.rearrangeObjects();
    std::vector<std::string> names;
    for (const auto& event : controller_.arrangedObjects()) names.push_back(event->eventName());
    EXPECT_EQ(names,
              (std::vector<std::string>{"click", "3 beeps (2.00 sec)", "cue start", "1-hole punch, regular",
                                        "3.0' regular streamer", "3.0' regular streamer"}));
    EXPECT_EQ(controller_.selectionIndexes(), std::vector<size_t>{2});
}

TEST_F(TLEventControllerTest, TestingTriggersTheSelectionWithoutSkipping) {
    controller_.setContent({TLEvent::streamerEvent(), TLEvent::clickEvent(), TLEvent::punchEvent()});
    // Arranged: "-" (click) before "Pnch..." before "Stmr...".
    controller_.setSelectionIndexes({0, 2, 7});
    controller_.testSelectedEvents();
    EXPECT_EQ(application_->clicks, 1);
    ASSERT_EQ(application_->streamers.size(), 1u);
    EXPECT_EQ(application_->streamers[0].second, 0.0);
}

TEST_F(TLEventControllerTest, EditingAnEntryRedrawsTheTable) {
    controller_.setContent({TLEvent::streamerEvent()});
    int redraws = 0;
    controller_.addKeyObserver([&](std::string_view key) { redraws += key == "arrangedObjects"; });
    const auto entry = controller_.content()[0];
    entry->setValueForKey("noteOn", Value(50));
    entry->setValueForKey("customName", Value("Big one"));
    entry->setValueForKey("beepTime", Value(1.0));
    EXPECT_GE(redraws, 2);
    const int before = redraws;
    controller_.setContent({});
    entry->setValueForKey("noteOn", Value(51));
    EXPECT_EQ(redraws, before + 1);  // setContent's own announcement only
}

TEST_F(TLEventControllerTest, PresetRoundTrip) {
    auto named = mapped(TLEvent::punchEvent(), 30);
    named->setValueForKey("customName", Value("Hit"));
    named->setValueForKey("sysexArray", Value::array({Value(0xF0), Value(0xF7)}));
    controller_.setContent({mapped(TLEvent::streamerEvent(), 50), named, mapped(TLEvent::beepEvent(), 31)});
    ASSERT_TRUE(controller_.savePresetToPath(path("Mine.TollvanePreset")));

    TLEventController other(loop_.clock());
    ASSERT_TRUE(other.loadPresetFromPath(path("Mine.TollvanePreset")));
    EXPECT_EQ(descriptions(other.content()), descriptions(controller_.content()));
    EXPECT_EQ(alerts_.shownCount(), 0u);
}

TEST_F(TLEventControllerTest, FailedLoadAlertsAndKeepsTheMapping) {
    controller_.setContent({mapped(TLEvent::streamerEvent(), 50)});
    const std::vector<std::string> before = descriptions(controller_.content());
    std::ofstream(path("garbage.TollvanePreset")) << "not an archive";
    fs::create_directories(folder_ / "folder.TollvanePreset");
    std::ofstream(path("string.TollvanePreset"), std::ios::binary) << [] {
        const Data bytes = KeyedArchiver::archivedDataWithRootObject(Value("hello"));
        return std::string(bytes.begin(), bytes.end());
    }();
    for (const char* name : {"garbage.TollvanePreset", "missing.TollvanePreset", "folder.TollvanePreset",
                             "string.TollvanePreset"}) {
        alerts_.reset();
        EXPECT_FALSE(controller_.loadPresetFromPath(path(name))) << name;
        ASSERT_EQ(alerts_.shownCount(), 1u) << name;
        const Alert alert = alerts_.shownAlerts()[0];
        EXPECT_EQ(alert.title, "Error loading preset");
        EXPECT_TRUE(alert.text.starts_with("Tollvane was unable to load the event mapping preset. "))
            << alert.text;
        EXPECT_GT(alert.text.size(),
                  std::string("Tollvane was unable to load the event mapping preset. ").size());
        EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
        EXPECT_EQ(descriptions(controller_.content()), before) << name;
    }
}

TEST_F(TLEventControllerTest, FailedSaveAlertsAndLeavesTheOldFile) {
    controller_.setContent({mapped(TLEvent::streamerEvent(), 50)});
    std::ofstream(path("plain-file")) << "x";
    EXPECT_FALSE(controller_.savePresetToPath(path("plain-file") + "/Mine.TollvanePreset"));
    fs::create_directories(folder_ / "folder.TollvanePreset");
    EXPECT_FALSE(controller_.savePresetToPath(path("folder.TollvanePreset")));
    ASSERT_EQ(alerts_.shownCount(), 2u);
    const Alert alert = alerts_.shownAlerts()[0];
    EXPECT_EQ(alert.title, "Error saving preset");
    EXPECT_TRUE(alert.text.starts_with("Tollvane was unable to save the event mapping preset. "))
        << alert.text;
    EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(fs::is_directory(folder_ / "folder.TollvanePreset"));
}

TEST_F(TLEventControllerTest, MappingRoundTripsThroughTheDefaults) {
    controller_.setContent({mapped(TLEvent::streamerEvent(), 50), mapped(TLEvent::clickEvent(), 51)});
    controller_.cleanUp();
    EXPECT_TRUE(UserDefaults::standardUserDefaults().objectForKey("eventMapping").isData());

    TLEventController other(loop_.clock());
    ASSERT_TRUE(other.loadFromDefaults());
    EXPECT_EQ(descriptions(other.content()), descriptions(controller_.content()));

    // An empty mapping is a mapping too.
    controller_.setContent({});
    controller_.saveToDefaults();
    ASSERT_TRUE(other.loadFromDefaults());
    EXPECT_TRUE(other.content().empty());
}

TEST_F(TLEventControllerTest, DefaultsFallBackToTheShippedMapping) {
    const size_t shipped = TLEventController::defaultPreset().size();
    ASSERT_GT(shipped, 0u);
    UserDefaults::standardUserDefaults().removeObject("eventMapping");
    ASSERT_TRUE(controller_.loadFromDefaults());
    EXPECT_EQ(controller_.content().size(), shipped);

    // A damaged default is reported and costs the user nothing.
    std::vector<std::string> lines;
    const Log::Sink previous = Log::setSink([&](const std::string& line) { lines.push_back(line); });
    UserDefaults::standardUserDefaults().setData("eventMapping", Data{1, 2, 3});
    controller_.setContent({});
    EXPECT_TRUE(controller_.loadFromDefaults());
    Log::setSink(previous);
    EXPECT_EQ(controller_.content().size(), shipped);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("Warning: The stored event mapping could not be read")) << lines[0];
}

TEST_F(TLEventControllerTest, ShippedMappingIsWhatOurArchiverWrites) {
    const auto bytes = TLEventController::defaultPresetData();
    const TLEventController::Events events = TLEventController::defaultPreset();
    const std::vector<uint8_t> rewritten = TLEventController::archiveOfEvents(events);
    EXPECT_EQ(rewritten, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

TEST_F(TLEventControllerTest, ShippedMappingPlacesEachKindWhereTheReadmeSays) {
    const TLEventController::Events events = TLEventController::defaultPreset();
    std::map<int64_t, std::string> byNote;
    for (const auto& event : events) {
        const Value note = event->valueForKey("noteOn");
        ASSERT_TRUE(note.isInteger()) << event->description();
        EXPECT_TRUE(byNote.emplace(note.toInt64(), event->eventName()).second)
            << "note twice: " << note.toInt64();
    }
    // MIDI note n fires noteOn n - 12.
    const std::map<int64_t, std::string> expected = {
        {24, "1-hole punch, regular"},   {25, "cue start"},
        {26, "2-hole flutter, regular"}, {27, "click"},
        {28, "3-hole flutter, regular"}, {29, "1-hole punch, large"},
        {30, "3 beeps (2.00 sec)"},      {31, "2-hole flutter, large"},
        {33, "3-hole flutter, large"},   {35, "1-hole punch, small"},
        {36, "2.0' regular streamer"},   {38, "3.0' regular streamer"},
        {40, "4.0' regular streamer"},   {41, "6.0' regular streamer"},
        {43, "8.0' regular streamer"},
    };
    for (const auto& [note, name] : expected) EXPECT_EQ(byNote[note], name) << "noteOn " << note;
    EXPECT_EQ(byNote.size(), 30u);
    // One colour per streamer octave: green, yellow, red, blue.
    const std::map<int64_t, std::vector<double>> colours = {
        {36, {0, 1, 0}}, {48, {1, 1, 0}}, {60, {1, 0, 0}}, {72, {0, 0.5, 1}}};
    for (const auto& event : events) {
        const int64_t note = event->valueForKey("noteOn").toInt64();
        const auto colour = colours.find(note);
        if (colour == colours.end()) continue;
        const auto shade = event->color();
        ASSERT_TRUE(shade);
        EXPECT_EQ(
            (std::vector<double>{shade->redComponent(), shade->greenComponent(), shade->blueComponent()}),
            colour->second);
    }
}

TEST(TLEventControllerSharedTest, FirstMadeIsSharedUntilItGoes) {
    auto first = std::make_unique<TLEventController>();
    if (&TLEventController::sharedController() != first.get()) {
        GTEST_SKIP() << "a shared controller already exists in this process";
    }
    TLEventController second;
    EXPECT_EQ(&TLEventController::sharedController(), first.get());
    first.reset();
    TLEventController& made = TLEventController::sharedController();
    EXPECT_NE(&made, &second);
    EXPECT_EQ(&TLEventController::sharedController(), &made);
}

}  // namespace
}  // namespace tollvane
