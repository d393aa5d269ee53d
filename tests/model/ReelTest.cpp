#include "model/Reel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "ReelTestSupport.h"
#include "document/Document.h"
#include "model/CueDefaults.h"
#include "platform/UserDefaults.h"

namespace tollvane {
namespace {

using namespace reeltest;

std::shared_ptr<EMTimecode> at(int64_t rateIndex, const char* text) {
    return EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(rateIndex), text);
}

std::shared_ptr<Reel> reelWith(const std::string& movie, std::shared_ptr<EMTimecode> start) {
    auto reel = Reel::create();
    if (!movie.empty()) reel->setPath(movie);
    if (start) reel->setStartTimecode(std::move(start));
    return reel;
}

TEST(ReelTest, NewReelIsBlankAndUnregistered) {
    auto reel = Reel::create();
    EXPECT_EQ(reel->title(), "");
    EXPECT_EQ(reel->duration(), 0.0);
    EXPECT_FALSE(reel->validFile());
    EXPECT_FALSE(reel->startTimecode());
    EXPECT_FALSE(reel->endTimecode());
    EXPECT_EQ(reel->startTimecodeString(), "-:--:--");
    EXPECT_EQ(reel->endTimecodeString(), "");
    EXPECT_EQ(reel->path(), "");
    EXPECT_FALSE(reel->isMarker());
    EXPECT_NE(Reel::reelWithID(reel->reelID()), reel);
}

TEST(ReelTest, EndIsStartPlusMovieLength) {
    struct Case {
        int64_t rate;
        const char* start;
        const char* end;
    };
    for (const Case& c : {Case{6, "1:00:00:00", "1:01:00:00"}, Case{3, "1:00:00:00", "1:01:00:00"},
                          Case{1, "0:59:30:12", "1:00:30:12"}}) {
        auto reel = reelWith(sixtySecondMovie(), at(c.rate, c.start));
        ASSERT_TRUE(reel->validFile());
        EXPECT_EQ(reel->endTimecode()->stringRepresentation(), c.end) << c.start;
        EXPECT_EQ(reel->endTimecodeString(), c.end);
        EXPECT_EQ(reel->endTimecode()->framerate(), EMTimecodeFramerate::framerateForIndex(c.rate));
        // The end is a copy: the start stays.
        EXPECT_EQ(reel->startTimecodeString(), c.start);
    }
}

TEST(ReelTest, EndOfAReelWithoutMovieIsItsStart) {
    auto reel = reelWith("", at(3, "1:00:00:00"));
    EXPECT_EQ(reel->endTimecode()->stringRepresentation(), "1:00:00:00");
    EXPECT_NE(reel->endTimecode(), reel->startTimecode());
    EXPECT_EQ(reel->endTimecodeString(), "");
    auto withMovieNoStart = reelWith(twoSecondMovie(), nullptr);
    EXPECT_EQ(withMovieNoStart->endTimecodeString(), "-:--:--");
}

TEST(ReelTest, SettingTheEndMovesTheStart) {
    auto withMovie = reelWith(sixtySecondMovie(), at(6, "0:00:00:00"));
    withMovie->setEndTimecode(*at(6, "1:01:00:00"));
    EXPECT_EQ(withMovie->startTimecodeString(), "1:00:00:00");
    EXPECT_EQ(withMovie->endTimecodeString(), "1:01:00:00");

    auto withoutMovie = reelWith("", at(6, "0:00:00:00"));
    withoutMovie->setEndTimecode(*at(6, "1:01:00:00"));
    EXPECT_EQ(withoutMovie->startTimecodeString(), "1:01:00:00");
}

TEST(ReelTest, TimecodeStringsParseAtTheStartRateElseTheirOwnDefault) {
    InstalledProjectRate project(3);
    auto reel = Reel::create();
    reel->setStartTimecodeString("1:00:00:24");
    EXPECT_EQ(reel->startTimecode()->framerate().fps, 25u);
    EXPECT_EQ(reel->startTimecodeString(), "1:00:00:24");

    reel->setStartTimecode(at(6, "2:00:00:00"));
    reel->setStartTimecodeString("1:00:00:29");
    EXPECT_EQ(reel->startTimecode()->framerate().fps, 30u);
    EXPECT_EQ(reel->startTimecodeString(), "1:00:00:29");

    // Without a start the end parses at 29.97 non-drop, whatever the project rate.
    auto noStart = Reel::create();
    noStart->setEndTimecodeString("1:00:00:00");
    EXPECT_EQ(noStart->startTimecode()->framerate(), EMTimecodeFramerate::framerateForIndex(4));
}

TEST(ReelTest, SettersPostTheirNotifications) {
    NotificationCounter order(Reel::kReelOrderDidChangeNotification);
    NotificationCounter listing(Reel::kSyncEventListingDidChangeNotification);
    auto reel = Reel::create();
    reel->setStartTimecode(at(3, "1"));
    EXPECT_EQ(order.count, 1);
    EXPECT_EQ(listing.count, 1);
    reel->setTitle("Reel 2");
    EXPECT_EQ(order.count, 2);
    EXPECT_EQ(listing.count, 1);
}

TEST(ReelTest, StartAndTitleChangesUndoThroughTheDocument) {
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    auto document = Document::create();
    auto reel = reelWith("", at(3, "1:00:00:00"));
    reel->setTitle("Reel 1");
    reel->setDocument(document.get());
    UndoManager& undo = document->undoManager();
    ASSERT_EQ(undo.undoStepCount(), 0u);

    reel->setStartTimecodeString("1:20:00:00");
    EXPECT_EQ(undo.undoActionName(), "Change Reel Start");
    reel->setTitle("Main titles");
    EXPECT_EQ(undo.undoActionName(), "Rename Reel");
    reel->setFormattedTitle(Value("Opening"));
    EXPECT_EQ(undo.undoStepCount(), 3u);

    undo.undo();
    EXPECT_EQ(reel->title(), "Main titles");
    undo.undo();
    EXPECT_EQ(reel->title(), "Reel 1");
    undo.undo();
    EXPECT_EQ(reel->startTimecodeString(), "1:00:00:00");
    undo.redo();
    EXPECT_EQ(reel->startTimecodeString(), "1:20:00:00");

    // Without a document nothing is registered.
    reel->setDocument(nullptr);
    const size_t steps = undo.undoStepCount();
    reel->setTitle("Elsewhere");
    EXPECT_EQ(undo.undoStepCount(), steps);
}

TEST(ReelTest, FormattedTitleTakesTextOnlyAndMarksMissingMovies) {
    LogCapture log;
    auto reel = reelWith(twoSecondMovie(), at(3, "1"));
    reel->setFormattedTitle(Value("Reel 4"));
    reel->setFormattedTitle(Reel::FormattedText{"Reel 5", true});
    EXPECT_EQ(reel->title(), "Reel 5");
    reel->setFormattedTitle(Value(42));
    EXPECT_EQ(reel->title(), "Reel 5");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("Unable to set formatted title of reel Reel (Reel 5)"), std::string::npos);
    EXPECT_NE(log.lines[0].find(" to value 42"), std::string::npos);

    EXPECT_FALSE(reel->formattedTitle().missing);
    EXPECT_EQ(reel->formattedStartTimecodeString().text, "1:00:00:00");
    reel->setPath("/nonexistent/Reel 5.mov");
    EXPECT_TRUE(reel->formattedTitle().missing);
    EXPECT_TRUE(reel->formattedStartTimecodeString().missing);
    EXPECT_EQ(reel->formattedTitle().text, "Reel 5");
}

TEST(ReelTest, SetPathMeasuresTheMovieOrLogsWhyNot) {
    ScratchDirectory scratch;
    const std::string text = scratch.write("notes.mov", "not a movie at all\n");
    LogCapture log;
    auto reel = Reel::create();

    reel->setPath(twoSecondMovie());
    EXPECT_NEAR(reel->duration(), 2.0, 1e-9);
    EXPECT_EQ(reel->path(), twoSecondMovie());
    EXPECT_TRUE(log.lines.empty());

    reel->setPath(text);
    EXPECT_EQ(reel->duration(), -1.0);
    EXPECT_FALSE(reel->validFile());
    EXPECT_EQ(reel->path(), text);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find(text), std::string::npos);

    // A missing file keeps its path, so that a re-link can find it by name.
    reel->setPath(scratch / "gone.mov");
    EXPECT_EQ(reel->duration(), -1.0);
    EXPECT_EQ(reel->path(), scratch / "gone.mov");

    reel->setPath("");
    EXPECT_EQ(reel->duration(), -1.0);
    EXPECT_FALSE(reel->alias());
    EXPECT_EQ(reel->path(), "");
}

TEST(ReelTest, SetPathExpandsTildeAndMakesPathsAbsolute) {
    ScratchDirectory scratch;
    scratch.copyMovie(twoSecondMovie(), "Movies/reel.mov");
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", scratch.path().c_str(), 1);
    auto reel = Reel::create();
    reel->setPath("~/Movies/reel.mov");
    if (oldHome) {
        setenv("HOME", savedHome.c_str(), 1);
    } else {
        unsetenv("HOME");
    }
    EXPECT_EQ(reel->path(), scratch / "Movies/reel.mov");
    EXPECT_TRUE(reel->validFile());

    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(scratch.path());
    reel->setPath("Movies/reel.mov");
    std::filesystem::current_path(cwd);
    EXPECT_EQ(reel->path(), scratch / "Movies/reel.mov");
    EXPECT_TRUE(reel->validFile());
}

TEST(ReelTest, MarkersAreMadeOnceAndKeepTheirPlace) {
    struct Case {
        const std::shared_ptr<Reel>& marker;
        uint32_t id;
        const char* title;
    };
    for (const Case& c : {Case{Reel::manualReelSelectionMarker(), 0x6D616E75, "Select Manually"},
                          Case{Reel::timecodeReelSelectionMarker(), 0x736D7074, "Select by Timecode"},
                          Case{Reel::defaultReelSelectionMarker(), 0x70646566, "Project Default"}}) {
        EXPECT_EQ(c.marker->reelID(), c.id);
        EXPECT_EQ(c.marker->title(), c.title);
        EXPECT_TRUE(c.marker->isMarker());
        EXPECT_FALSE(c.marker->startTimecode());
        EXPECT_FALSE(c.marker->alias());
        EXPECT_EQ(c.marker->duration(), 0.0);
        EXPECT_EQ(Reel::reelWithID(c.id), c.marker);
        // An impostor under a marker's ID is not registered.
        Reel::registerReel(std::make_shared<Reel>(c.id));
        EXPECT_EQ(Reel::reelWithID(c.id), c.marker);
        EXPECT_EQ(Reel::allReels().count(c.id), 1u);
    }
    EXPECT_EQ(&Reel::manualReelSelectionMarker(), &Reel::manualReelSelectionMarker());
}

}  // namespace
}  // namespace tollvane
