#include "model/CueArrayController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CueEventTestSupport.h"
#include "model/CueEnvironment.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventTempoChange.h"
#include "platform/NotificationCenter.h"
#include "platform/ScriptedAlertPresenter.h"

#include <unistd.h>

namespace tollvane {
namespace {

std::shared_ptr<EMTimecode> tc(const char* text) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), text);
}

// 25 fps, so that whole seconds are whole frames; records the auto-follow flag.
class TestEnvironment : public CueEnvironment {
public:
    EMTimecodeFramerate projectFramerate() const override { return EMTimecode::framerateForIndex(3); }
    void setProcessingAutoFollow(bool processing) override { processingAutoFollow = processing; }
    bool processingAutoFollow = false;
};

class CueArrayControllerTest : public CueEventTestBase {
protected:
    void SetUp() override {
        CueEventTestBase::SetUp();
        Cue::registerArchiveClass();
        CueEnvironment::install(environment);
        previousPresenter_ = AlertPresenter::setShared(&alerts);
    }
    void TearDown() override {
        UserDefaults::standardUserDefaults().removeObject("debugAutoFollow");
        AlertPresenter::setShared(previousPresenter_);
        CueEnvironment::install(nullptr);
        CueEventTestBase::TearDown();
    }

    CueArrayController& controller() { return document->cueController(); }
    UndoManager& undoManager() { return document->undoManager(); }

    std::shared_ptr<Cue> makeCue(const std::string& title, const char* sync = "1") {
        auto made = Cue::create();
        made->setTitle(title);
        made->setSyncTimecode(tc(sync));
        return made;
    }
    // A cue end locked to picture.
    static std::shared_ptr<CueEventCueEnd> endAt(const std::shared_ptr<Cue>& cue, const char* end) {
        auto event = CueEventCueEnd::cueEndEventWithCue(cue);
        event->setLockType(CueEvent::kLockTypeTimecode);
        event->setLockTimecode(tc(end));
        cue->setCueEndEvent(event);
        return event;
    }
    void setContent(std::vector<std::shared_ptr<Cue>> cues) {
        controller().setContent(std::move(cues));
        loop.advance(0.2);
        undoManager().removeAllActions();
    }
    bool parked(const std::shared_ptr<Cue>& cue) {
        const auto& parkedObjects = document->undoController().deletedObjects();
        return std::find(parkedObjects.begin(), parkedObjects.end(), Value(cue)) != parkedObjects.end();
    }
    std::vector<std::string> titles(const std::vector<std::shared_ptr<Cue>>& cues) {
        std::vector<std::string> result;
        for (const auto& cue : cues) result.push_back(cue->title());
        return result;
    }
    std::string tempPath(const char* name) {
        return (std::filesystem::temp_directory_path() /
                (std::string("cuelist-") + std::to_string(::getpid()) + "-" + name))
            .string();
    }

    ScriptedAlertPresenter alerts;
    std::shared_ptr<TestEnvironment> environment = std::make_shared<TestEnvironment>();

private:
    AlertPresenter* previousPresenter_ = nullptr;
};

TEST_F(CueArrayControllerTest, SelectingByTimecodeBetweenInsideAndAfterCues) {
    auto first = makeCue("First", "1:00:00:00");
    endAt(first, "1:00:30:00");
    auto second = makeCue("Second", "1:02:00:00");
    endAt(second, "1:02:30:00");
    setContent({second, first});

    struct Case {
        const char* timecode;
        std::shared_ptr<Cue> selected;  // null: nothing newly selected
    };
    const Case cases[] = {
        {"1:00:30:20", first},   // up to a second after its end
        {"1:01:00:00", second},  // between cues: the next to come
        {"0:59:00:00", first},   // before every cue: the earliest
        {"1:00:10:00", first},  {"1:02:10:00", second},
        {"1:02:30:24", second}, {"1:02:31:01", nullptr},  // after the last end plus one second
    };
    for (const Case& c : cases) {
        controller().setSelectedObjects({});
        EXPECT_EQ(controller().selectCueForTimecode(*tc(c.timecode)), c.selected != nullptr) << c.timecode;
        EXPECT_EQ(controller().selectedCue(), c.selected) << c.timecode;
        // The same answer again is no change.
        EXPECT_FALSE(controller().selectCueForTimecode(*tc(c.timecode))) << c.timecode;
    }
}

// The walk exactly as described, straight from the cues' own answers.
std::shared_ptr<Cue> selectedByTheWalk(std::vector<std::shared_ptr<Cue>> cues, const EMTimecode& timecode) {
    std::stable_sort(cues.begin(), cues.end(), [](const auto& a, const auto& b) {
        return a->syncTimecode()->secondsFromZero() > b->syncTimecode()->secondsFromZero();
    });
    const double t = timecode.secondsFromZero();
    std::shared_ptr<Cue> candidate;
    for (const auto& cue : cues) {
        const double r = cue->rehearsalStartTimecode()->secondsFromZero();
        const double e = cue->cueEndTimecode()->secondsFromZero() + 1.0;
        if (!(t > e)) candidate = cue;
        if (t > r || t > e) return candidate;
    }
    return cues.empty() ? nullptr : cues.back();
}

TEST_F(CueArrayControllerTest, SelectingByTimecodeAgreesWithTheWalkThroughRandomEdits) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> minute(0, 40), second(0, 59), pick(0, 11), action(0, 4);
    auto timecodeAt = [](int seconds) {
        auto timecode = tc("0");
        timecode->setSecondsFromZero(3600.0 + seconds);
        return timecode;
    };
    std::vector<std::shared_ptr<Cue>> cues;
    std::vector<std::shared_ptr<CueEventCueEnd>> ends;
    for (int i = 0; i < 12; ++i) {
        auto made = Cue::create();
        made->setSyncTimecode(timecodeAt(60 * minute(random)));
        ends.push_back(endAt(made, "0"));
        ends.back()->setLockTimecode(timecodeAt(60 * minute(random) + second(random)));
        cues.push_back(made);
    }
    setContent(cues);

    for (int round = 0; round < 300; ++round) {
        const size_t i = static_cast<size_t>(pick(random));
        switch (action(random)) {
            case 0:
                cues[i]->setSyncTimecode(timecodeAt(60 * minute(random) + second(random)));
                break;
            case 1:
                ends[i]->setLockTimecode(timecodeAt(60 * minute(random) + second(random)));
                break;
            case 2:
                cues[i]->addEvent(CueEventTempoChange::tempoChangeEventWithCue(
                    cues[i], 40.0 + pick(random) * 10, 6, -4.0 * pick(random)));
                break;
            case 3:
                cues[i]->setWarningBeats(static_cast<uint32_t>(pick(random)));
                cues[i]->updateSequence();
                break;
            default:
                loop.advance(0.2);
                break;
        }
        for (int probe = 0; probe < 5; ++probe) {
            const auto t = timecodeAt(60 * minute(random) + second(random) - 60);
            controller().setSelectedObjects({});
            controller().selectCueForTimecode(*t);
            ASSERT_EQ(controller().selectedCue(), selectedByTheWalk(cues, *t))
                << "round " << round << " at " << t->stringRepresentation();
        }
    }
}

TEST_F(CueArrayControllerTest, SelectionAnnouncesTheSelectedCue) {
    auto one = makeCue("One");
    setContent({one});
    int announced = 0;
    int posted = 0;
    const auto observer = controller().addKeyObserver(
        [&announced](std::string_view key) { announced += key == "selectedCue"; });
    const auto token = NotificationCenter::defaultCenter().addObserver(
        "TLReelSelectionByCueDidChangeNotification", [&posted](const Notification&) { ++posted; });

    controller().setSelectedObjects({one});
    EXPECT_EQ(controller().selectedCue(), one);
    controller().setSelectedObjects({one, makeCue("Two")});
    EXPECT_EQ(controller().selectedCue(), nullptr);
    EXPECT_EQ(announced, 2);
    EXPECT_EQ(posted, 2);

    controller().setSelectedObjects({one});
    document->setViewType(Document::kADRFoleyViewType);
    const int beforeViewChange = announced;
    controller().documentViewTypeDidChange();
    EXPECT_EQ(announced, beforeViewChange + 1);
    EXPECT_EQ(controller().selectedCue(), document->adrFoleyCue());
    EXPECT_FALSE(controller().selectCueForTimecode(*tc("1:00:00:00")));
    document->setViewType(Document::kCueViewType);
    EXPECT_EQ(controller().selectedCue(), one);
    NotificationCenter::defaultCenter().removeObserver(token);
    controller().removeKeyObserver(observer);
}

TEST_F(CueArrayControllerTest, TheMSCCueNumberMatch) {
    setContent({makeCue("Opening"), makeCue("112 Fanfare"), makeCue("12 Fanfare"), makeCue("12"),
                makeCue("1M3 Chase")});
    struct Case {
        const char* number;
        const char* selected;  // null: none
    };
    const Case cases[] = {
        {"12", "112 Fanfare"}, {"Opening", "Opening"}, {"1m3", "1M3 Chase"},
        {"Fanfare", nullptr},  {"99", nullptr},        {"", nullptr},
    };
    for (const Case& c : cases) {
        controller().setSelectedObjects({});
        EXPECT_EQ(controller().loadCueMatchingMSCCueNumber(c.number), c.selected != nullptr) << c.number;
        const auto selected = controller().selectedCue();
        EXPECT_EQ(selected ? selected->title() : std::string("none"), c.selected ? c.selected : "none")
            << c.number;
    }
}

TEST_F(CueArrayControllerTest, TheReelCueAndVersionMatch) {
    setContent({makeCue("2m14b Chase v2"), makeCue("2M14B Chase v3"), makeCue("2m14b Chase v.3 alt"),
                makeCue("2m14b Chase v3a"), makeCue("2m14 Other"), makeCue("2m14bb"), makeCue("2m14b")});
    struct Case {
        int32_t reel, cue, subCue, version, subVersion;
        const char* selected;
    };
    const Case cases[] = {
        {2, 14, 2, 3, 0, "2m14b Chase v3a"},  // the last holding v3 or v.3
        {2, 14, 2, 3, 1, "2m14b Chase v3a"},  // v3a
        {2, 14, 2, 2, 0, "2m14b Chase v2"},
        {2, 14, 2, 9, 0, "2m14b Chase v2"},  // no version mark: the first named
        {2, 14, 0, 9, 0, "2m14 Other"},
        {2, 14, 27, 9, 0, "2m14 Other"},  // no letter beyond z
        {3, 1, 0, 1, 0, nullptr},
    };
    for (const Case& c : cases) {
        controller().setSelectedObjects({});
        EXPECT_EQ(controller().loadCueMatchingReelNumber(c.reel, c.cue, c.subCue, c.version, c.subVersion),
                  c.selected != nullptr)
            << (c.selected ? c.selected : "none");
        const auto selected = controller().selectedCue();
        EXPECT_EQ(selected ? selected->title() : std::string("none"), c.selected ? c.selected : "none");
    }
    // Without the v3a cue the last v3 / v.3 wins.
    controller().removeObject(controller().content()[3]);
    EXPECT_TRUE(controller().loadCueMatchingReelNumber(2, 14, 2, 3, 0));
    EXPECT_EQ(controller().selectedCue()->title(), "2m14b Chase v.3 alt");
}

TEST_F(CueArrayControllerTest, TheTextMatchWalksTheDisplayedOrderAsAutoFollow) {
    setContent({makeCue("Grand Finale", "1:05:00:00"), makeCue("Finale Reprise", "1:01:00:00")});
    bool flagWhileSelecting = false;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        "TLReelSelectionByCueDidChangeNotification", [this, &flagWhileSelecting](const Notification&) {
            flagWhileSelecting = environment->processingAutoFollow;
        });

    EXPECT_TRUE(controller().loadCueMatchingString("FINALE"));
    EXPECT_EQ(controller().selectedCue()->title(), "Finale Reprise");
    EXPECT_TRUE(flagWhileSelecting);
    EXPECT_FALSE(environment->processingAutoFollow);
    EXPECT_TRUE(logged.empty());

    UserDefaults::standardUserDefaults().setBool("debugAutoFollow", true);
    EXPECT_FALSE(controller().loadCueMatchingString("Overture"));
    EXPECT_FALSE(controller().loadCueMatchingString(""));
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged.front(), "CAC loading match Overture");
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(CueArrayControllerTest, TheDisplayedOrderIsReSortedOnTheCueOrderNotification) {
    auto early = makeCue("Early", "1:00:00:00");
    auto late = makeCue("Late", "1:02:00:00");
    auto noSync = makeCue("No sync");
    noSync->setSyncTimecode(nullptr);
    setContent({late, noSync, early});
    EXPECT_EQ(titles(controller().arrangedObjects()), (std::vector<std::string>{"No sync", "Early", "Late"}));

    early->setSyncTimecode(tc("1:03:00:00"));
    EXPECT_EQ(titles(controller().arrangedObjects()), (std::vector<std::string>{"No sync", "Early", "Late"}));
    NotificationCenter::defaultCenter().postNotification("TLCueOrderDidChangeNotification");
    EXPECT_EQ(titles(controller().arrangedObjects()), (std::vector<std::string>{"No sync", "Late", "Early"}));
    // A cue without a sync point is never selected by timecode.
    EXPECT_TRUE(controller().selectCueForTimecode(*tc("0:00:00:01")));
    EXPECT_EQ(controller().selectedCue(), late);
}

TEST_F(CueArrayControllerTest, NewAddRemoveAndDuplicateAreUndoable) {
    auto created = controller().newCue();
    EXPECT_EQ(created->document(), document.get());
    EXPECT_EQ(controller().selectedCue(), created);
    EXPECT_EQ(undoManager().undoActionName(), "New Cue");
    undoManager().undo();
    EXPECT_TRUE(controller().content().empty());
    EXPECT_EQ(controller().selectedCue(), nullptr);
    EXPECT_TRUE(parked(created));
    undoManager().redo();
    EXPECT_FALSE(parked(created));

    auto a = makeCue("A", "1:00:00:00");
    auto b = makeCue("B", "1:01:00:00");
    controller().addCollectionOfObjects({b, a, created});
    EXPECT_EQ(undoManager().undoActionName(), "Add Cues");
    EXPECT_EQ(controller().content().size(), 3u);
    controller().setSelectedObjects({a});
    auto copy = controller().duplicateSelectedCue();
    EXPECT_EQ(undoManager().undoActionName(), "Add Cue");
    EXPECT_EQ(copy->syncTimecodeString(), a->syncTimecodeString());
    EXPECT_EQ(controller().selectedCue(), copy);

    controller().setSelectedObjects({a, copy});
    controller().remove();
    EXPECT_EQ(undoManager().undoActionName(), "Remove Cues");
    EXPECT_TRUE(parked(a) && parked(copy));
    controller().removeObject(b);
    EXPECT_EQ(undoManager().undoActionName(), "Remove Cue");
    EXPECT_EQ(controller().content(), std::vector<std::shared_ptr<Cue>>{created});
    undoManager().undo();
    undoManager().undo();
    EXPECT_EQ(controller().content().size(), 4u);
    EXPECT_FALSE(parked(a) || parked(b));

    a->setCueID(77);
    EXPECT_EQ(controller().cueForID(77), a);
}

TEST_F(CueArrayControllerTest, ImportingCues) {
    const std::string empty = tempPath("empty.tollvane");
    const std::string two = tempPath("two.tollvane");
    std::string error;
    ASSERT_TRUE(Document::create()->writeToFile(empty, &error)) << error;
    auto other = Document::create();
    other->cueController().setContent({makeCue("1M1 Main Title"), makeCue("1M2 Chase", "1:05:00:00")});
    ASSERT_TRUE(other->writeToFile(two, &error)) << error;
    other.reset();
    setContent({makeCue("Existing")});

    // Nothing to import: the alert and no undo step.
    EXPECT_EQ(controller().importCuesFromTollvaneDocumentAtPath(empty), 0u);
    ASSERT_EQ(alerts.shownCount(), 1u);
    EXPECT_EQ(alerts.shownAlerts()[0].title, "No cues were imported.");
    EXPECT_EQ(alerts.shownAlerts()[0].text,
              "Please make sure to select a Tollvane document with at least one cue.");
    EXPECT_FALSE(undoManager().canUndo());

    EXPECT_EQ(controller().importCuesFromTollvaneDocumentAtPath(two), 2u);
    EXPECT_EQ(alerts.shownCount(), 1u);
    EXPECT_EQ(titles(controller().content()),
              (std::vector<std::string>{"Existing", "1M1 Main Title", "1M2 Chase"}));
    for (const auto& imported : controller().content()) EXPECT_EQ(imported->document(), document.get());
    EXPECT_EQ(undoManager().undoActionName(), "Import Cues");
    undoManager().undo();
    EXPECT_EQ(titles(controller().content()), (std::vector<std::string>{"Existing"}));
    std::filesystem::remove(empty);
    std::filesystem::remove(two);
}

}  // namespace
}  // namespace tollvane
