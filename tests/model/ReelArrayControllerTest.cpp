#include "model/ReelArrayController.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ReelTestSupport.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueDefaults.h"
#include "model/Reel.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

using namespace reeltest;

using Reels = std::vector<std::shared_ptr<Reel>>;

std::shared_ptr<EMTimecode> at30(const char* text) {
    return EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(6), text);
}

std::shared_ptr<Reel> reelAt(const char* start, const std::string& movie, const char* title = "") {
    auto reel = Reel::create();
    if (!movie.empty()) reel->setPath(movie);
    if (start) reel->setStartTimecode(at30(start));
    reel->setTitle(title);
    return reel;
}

class ReelArrayControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(nullptr);
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        Reel::registerArchiveClass();
        document_ = Document::create();
        document_->undoController().setUndoEnabled(false);
        document_->setReelSelectionMode(1);
        document_->undoController().setUndoEnabled(true);
    }
    void TearDown() override {
        // Undo steps may hold the document itself as their target.
        document_->undoManager().removeAllActions();
        document_.reset();
        RunLoop::setMain(previousLoop_);
    }

    ReelArrayController& controller() { return document_->reelController(); }
    UndoManager& undo() { return document_->undoManager(); }

    std::shared_ptr<Document> document_;

private:
    RunLoop* previousLoop_ = nullptr;
};

TEST_F(ReelArrayControllerTest, ArrangesByStartWithReelsWithoutStartFirst) {
    auto late = reelAt("2:00:00:00", "");
    auto early = reelAt("1:00:00:00", "");
    auto none = reelAt(nullptr, "");
    controller().setContent({late, early, none});
    EXPECT_EQ(controller().arrangedObjects(), (Reels{none, early, late}));
    EXPECT_EQ(controller().arrangedObjectsAndMarkers(),
              (Reels{Reel::timecodeReelSelectionMarker(), none, early, late}));
    EXPECT_EQ(late->document(), document_.get());

    int announced = 0;
    const auto token = controller().addKeyObserver([&](std::string_view key) {
        if (key == "arrangedObjects") ++announced;
    });
    late->setStartTimecode(at30("0:30:00:00"));
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(controller().arrangedObjects(), (Reels{none, late, early}));
    controller().removeKeyObserver(token);
}

TEST_F(ReelArrayControllerTest, SelectsTheFirstReelThatEndsAfterTheTimecode) {
    auto first = reelAt("1:00:00:00", sixtySecondMovie());
    auto second = reelAt("1:01:00:00", sixtySecondMovie());
    ASSERT_EQ(first->endTimecodeString(), "1:01:00:00");
    controller().setContent({second, first});

    EXPECT_TRUE(controller().selectReelForTimecode(*at30("1:00:59:29")));
    EXPECT_EQ(controller().selectedReel(), first);
    EXPECT_FALSE(controller().selectReelForTimecode(*at30("1:00:30:00")));
    EXPECT_TRUE(controller().selectReelForTimecode(*at30("1:01:00:00")));
    EXPECT_EQ(controller().selectedReel(), second);
    // Before the first reel: the first reel.
    EXPECT_TRUE(controller().selectReelForTimecode(*at30("0:10:00:00")));
    EXPECT_EQ(controller().selectedReel(), first);

    // Past every reel the selection stays.
    controller().setContent({first});
    EXPECT_FALSE(controller().selectReelForTimecode(*at30("1:01:00:00")));
    EXPECT_EQ(controller().selectedReel(), first);

    document_->setReelSelectionMode(0);
    controller().setSelectedObjects({});
    EXPECT_FALSE(controller().selectReelForTimecode(*at30("1:00:00:00")));
    EXPECT_FALSE(controller().selectedReel());
}

TEST_F(ReelArrayControllerTest, FollowsTheSelectedCuesReelInModeTwo) {
    auto reel = reelAt("1:00:00:00", "");
    controller().setContent({reel});
    auto cue = Cue::create();
    document_->cueController().addObject(cue);
    document_->cueController().setSelectedObjects({cue});

    cue->setReel(reel);
    EXPECT_FALSE(controller().selectedReel());
    document_->setReelSelectionMode(2);
    cue->setReel(Reel::defaultReelSelectionMarker());
    EXPECT_FALSE(controller().selectedReel());
    cue->setReel(reel);
    EXPECT_EQ(controller().selectedReel(), reel);
}

TEST_F(ReelArrayControllerTest, AddAndRemoveUndoEachOther) {
    NotificationCounter listing(Reel::kSyncEventListingDidChangeNotification);
    auto& parked = document_->undoController().deletedObjects();
    auto reel = controller().addReelWithPath(twoSecondMovie());
    ASSERT_TRUE(reel);
    EXPECT_EQ(reel->title(), "two-seconds.mov");
    EXPECT_EQ(reel->startTimecodeString(), "1:00:00:00");
    EXPECT_EQ(reel->startTimecode()->framerate(),
              EMTimecodeFramerate::framerateForIndex(document_->projectFramerate()));
    EXPECT_TRUE(reel->validFile());
    EXPECT_EQ(reel->document(), document_.get());
    EXPECT_GE(listing.count, 1);
    EXPECT_EQ(undo().undoActionName(), "Add Reel");

    controller().setSelectedObjects({reel});
    controller().remove();
    EXPECT_TRUE(controller().content().empty());
    EXPECT_FALSE(controller().selectedReel());
    EXPECT_EQ(parked.size(), 1u);
    EXPECT_EQ(undo().undoActionName(), "Remove Reel");

    undo().undo();
    EXPECT_EQ(controller().content(), (Reels{reel}));
    EXPECT_TRUE(parked.empty());
    undo().undo();
    EXPECT_TRUE(controller().content().empty());
    EXPECT_EQ(parked.size(), 1u);
    undo().redo();
    EXPECT_EQ(controller().content(), (Reels{reel}));
}

TEST_F(ReelArrayControllerTest, RemovingSeveralReelsIsOneStep) {
    auto a = reelAt("1:00:00:00", "");
    auto b = reelAt("2:00:00:00", "");
    auto c = reelAt("3:00:00:00", "");
    controller().setContent({a, b, c});
    controller().setSelectedObjects({a, c});
    const size_t steps = undo().undoStepCount();
    controller().remove();
    EXPECT_EQ(controller().content(), (Reels{b}));
    EXPECT_EQ(undo().undoStepCount(), steps + 1);
    EXPECT_EQ(undo().undoActionName(), "Remove Reel");
    undo().undo();
    EXPECT_EQ(controller().arrangedObjects(), (Reels{a, b, c}));
}

TEST_F(ReelArrayControllerTest, RateChangeKeepsTheDigitsOfEveryStart) {
    document_->setProjectFramerate(3);
    auto a = Reel::create();
    a->setStartTimecode(
        EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(3), "1:00:10:20"));
    auto b = Reel::create();
    b->setStartTimecode(
        EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(3), "2:03:04:05"));
    auto none = Reel::create();
    controller().setContent({a, b, none});
    NotificationCounter listing(Reel::kSyncEventListingDidChangeNotification);

    const size_t steps = undo().undoStepCount();
    document_->setProjectFramerate(1);
    EXPECT_EQ(a->startTimecodeString(), "1:00:10:20");
    EXPECT_EQ(a->startTimecode()->framerate().fps, 24u);
    EXPECT_EQ(b->startTimecodeString(), "2:03:04:05");
    EXPECT_FALSE(none->startTimecode());
    EXPECT_GE(listing.count, 1);
    // One step, the document's own: undoing it reads the starts again at 25.
    EXPECT_EQ(undo().undoStepCount(), steps + 1);
    undo().undo();
    EXPECT_EQ(a->startTimecode()->framerate().fps, 25u);
    EXPECT_EQ(a->startTimecodeString(), "1:00:10:20");
}

TEST_F(ReelArrayControllerTest, BrokenReelsAndTheirToolTips) {
    auto good = reelAt("1:00:00:00", twoSecondMovie(), "Reel 1");
    auto broken = reelAt("2:00:00:00", "/nonexistent/Reel 2.mov", "Reel 2");
    controller().setContent({good});
    EXPECT_FALSE(controller().hasBrokenReels());
    EXPECT_EQ(controller().toolTipForReel(*good), "Reel 1");
    controller().setContent({good, broken});
    EXPECT_TRUE(controller().hasBrokenReels());
    EXPECT_EQ(controller().toolTipForReel(*broken), "Unable to find a valid video file for this reel.");
}

TEST_F(ReelArrayControllerTest, RelinksFromTheFirstFileMetInTheWalk) {
    ScratchDirectory scratch;
    scratch.copyMovie(twoSecondMovie(), "a/deeper/Reel 1.mov");
    scratch.copyMovie(twoSecondMovie(), "b/Reel 1.mov");
    scratch.write("c/Reel 1.mov/readme", "a folder named like the movie is not the movie");
    scratch.copyMovie(sixtySecondMovie(), "Reel 3.mov");
    std::string firstMet;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path())) {
        if (entry.is_regular_file() && entry.path().filename() == "Reel 1.mov") {
            firstMet = scratch.path() + "/" + entry.path().lexically_relative(scratch.path()).string();
            break;
        }
    }

    auto reel1 = reelAt("1:00:00:00", "/Volumes/Picture/Reel 1.mov");
    auto twin = reelAt("1:10:00:00", "/Volumes/Other/Reel 1.mov");
    auto reel3 = reelAt("1:20:00:00", "/Volumes/Picture/Reel 3.mov");
    auto good = reelAt("1:30:00:00", twoSecondMovie());
    controller().setContent({reel1, twin, reel3, good});
    NotificationCounter listing(Reel::kSyncEventListingDidChangeNotification);

    // Each file re-links one reel: the two same-named files serve both reels.
    EXPECT_EQ(controller().relinkBrokenReelsFromDirectory(scratch.path() + "/"), 3u);
    EXPECT_EQ(reel1->path(), firstMet);
    EXPECT_TRUE(reel1->validFile());
    EXPECT_TRUE(twin->validFile());
    EXPECT_NE(twin->path(), firstMet);
    EXPECT_EQ(reel3->path(), scratch / "Reel 3.mov");
    EXPECT_NEAR(reel3->duration(), 60.0, 1e-9);
    EXPECT_EQ(good->path(), twoSecondMovie());
    EXPECT_EQ(listing.count, 3);
    EXPECT_EQ(undo().undoActionName(), "relink reel");

    for (int step = 0; step < 3; ++step) undo().undo();
    EXPECT_EQ(reel1->path(), "/Volumes/Picture/Reel 1.mov");
    EXPECT_EQ(twin->path(), "/Volumes/Other/Reel 1.mov");
    EXPECT_EQ(reel3->path(), "/Volumes/Picture/Reel 3.mov");
    EXPECT_TRUE(controller().hasBrokenReels());
    undo().redo();
    EXPECT_EQ(controller().relinkBrokenReelsFromDirectory(scratch.path()), 2u);
    EXPECT_FALSE(controller().hasBrokenReels());
    EXPECT_EQ(controller().relinkBrokenReelsFromDirectory(scratch / "missing"), 0u);
}

TEST_F(ReelArrayControllerTest, RelinkIgnoresIncompleteRequests) {
    auto reel = reelAt("1:00:00:00", "/nonexistent/Reel 1.mov");
    controller().setContent({reel});
    const size_t steps = undo().undoStepCount();
    auto onlyReel = Value::dictionary();
    onlyReel.dictionaryValue()->set("reel", Value(reel));
    auto onlyPath = Value::dictionary();
    onlyPath.dictionaryValue()->set("path", Value(twoSecondMovie()));
    for (const Value& request : {onlyReel, onlyPath, Value("reel"), Value()}) controller().relink(request);
    EXPECT_EQ(undo().undoStepCount(), steps);
    EXPECT_EQ(reel->path(), "/nonexistent/Reel 1.mov");
}

TEST_F(ReelArrayControllerTest, ReelListFilesRoundTrip) {
    ScratchDirectory scratch;
    ScriptedAlerts alerts;
    const std::string file = scratch / "reels.tollvane";
    EXPECT_FALSE(controller().saveReelListToPath(file));
    ASSERT_EQ(alerts.presenter.shownCount(), 1u);
    EXPECT_EQ(alerts.presenter.shownAlerts()[0].title, "Unable to save reels.");
    EXPECT_EQ(alerts.presenter.shownAlerts()[0].text,
              "There are no reels to save. Please add a reel or two and try again.");
    EXPECT_FALSE(std::filesystem::exists(file));

    auto a = reelAt("1:00:00:00", twoSecondMovie(), "Reel 1");
    auto b = reelAt("1:20:00:00", "/Volumes/Picture/Reel 2.mov", "Reel 2");
    controller().setContent({a, b});
    ASSERT_TRUE(controller().saveReelListToPath(file));
    const Value root = KeyedUnarchiver::unarchivedObjectWithData([&] {
        std::ifstream in(file, std::ios::binary);
        return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }());
    ASSERT_TRUE(root.isDictionary());
    ASSERT_EQ(root.dictionaryValue()->entries.size(), 1u);
    EXPECT_TRUE(root.dictionaryValue()->contains("reels"));

    auto other = Document::create();
    NotificationCounter listing(Reel::kSyncEventListingDidChangeNotification);
    ASSERT_TRUE(other->reelController().loadReelListFromPath(file));
    EXPECT_EQ(listing.count, 1);
    const Reels loaded = other->reelController().arrangedObjects();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0]->reelID(), a->reelID());
    EXPECT_EQ(loaded[0]->title(), "Reel 1");
    EXPECT_EQ(loaded[0]->path(), twoSecondMovie());
    EXPECT_TRUE(loaded[0]->validFile());
    EXPECT_EQ(loaded[1]->startTimecodeString(), "1:20:00:00");
    EXPECT_EQ(loaded[1]->path(), "/Volumes/Picture/Reel 2.mov");
    EXPECT_EQ(loaded[1]->document(), other.get());
    EXPECT_EQ(alerts.presenter.shownCount(), 1u);
}

TEST_F(ReelArrayControllerTest, DocumentFilesReadAsReelLists) {
    ScratchDirectory scratch;
    auto reel = reelAt("1:00:00:00", twoSecondMovie(), "Reel 1");
    auto root = Value::dictionary();
    root.dictionaryValue()->set("minVersion", Value("218"));
    root.dictionaryValue()->set("reels", Value::array({Value(reel)}));
    root.dictionaryValue()->set("cues", Value::array());
    const Data bytes = KeyedArchiver::archivedDataWithRootObject(root);
    const std::string file = scratch.write("project.tollvane", std::string(bytes.begin(), bytes.end()));
    ASSERT_TRUE(controller().loadReelListFromPath(file));
    ASSERT_EQ(controller().content().size(), 1u);
    EXPECT_EQ(controller().content()[0]->title(), "Reel 1");
}

TEST_F(ReelArrayControllerTest, FailedReelListFilesSayWhyAndChangeNothing) {
    ScratchDirectory scratch;
    ScriptedAlerts alerts;
    auto reel = reelAt("1:00:00:00", "", "Reel 1");
    controller().setContent({reel});

    const Data stringRoot = KeyedArchiver::archivedDataWithRootObject(Value("reels"));
    const std::string sources[] = {
        scratch / "missing.tollvane",
        scratch.write("garbage.tollvane", "bplist00 this is not a reel list"),
        scratch.write("string.tollvane", std::string(stringRoot.begin(), stringRoot.end())),
    };
    for (const std::string& source : sources) {
        EXPECT_FALSE(controller().loadReelListFromPath(source)) << source;
        EXPECT_EQ(controller().content(), (Reels{reel}));
    }
    ASSERT_EQ(alerts.presenter.shownCount(), 3u);
    for (const Alert& alert : alerts.presenter.shownAlerts()) {
        EXPECT_EQ(alert.title, "Error loading reel listing.");
        EXPECT_EQ(alert.text.rfind("Tollvane was unable to load the reel listing. ", 0), 0u) << alert.text;
        EXPECT_GT(alert.text.size(), std::string("Tollvane was unable to load the reel listing. ").size());
    }

    // A folder where the file would go: the write fails, nothing is left behind.
    const std::string blocker = scratch.write("blocker", "a file, not a folder");
    EXPECT_FALSE(controller().saveReelListToPath(blocker + "/reels.tollvane"));
    ASSERT_EQ(alerts.presenter.shownCount(), 4u);
    const Alert saving = alerts.presenter.shownAlerts()[3];
    EXPECT_EQ(saving.title, "Error saving reel listing");
    EXPECT_EQ(saving.text.rfind("Tollvane was unable to save the reel listing. ", 0), 0u) << saving.text;
    std::ifstream in(blocker);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              "a file, not a folder");
}

}  // namespace
}  // namespace tollvane
