// The JSON and tab-delimited cue lists: both title rules, the orders, the
// ends, and the files.

#include "document/CueListExporter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueDefaults.h"
#include "model/CueEnvironment.h"
#include "model/CueEvent.h"
#include "model/CueEventCueEnd.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/UserDefaults.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

namespace fs = std::filesystem;

struct TitleCase {
    const char* title;
    int64_t reelNumber;
    const char* cueNumber;
    const char* rest;
};

void expectSplit(const CueListExporter::SplitTitle& split, const TitleCase& want) {
    SCOPED_TRACE(std::string("title '") + want.title + "'");
    EXPECT_EQ(split.reelNumber, want.reelNumber);
    EXPECT_EQ(split.cueNumber, want.cueNumber);
    EXPECT_EQ(split.title, want.rest);
}

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(CueListExporterTitles, JSONRuleScansFromTheFirstCharacter) {
    const TitleCase cases[] = {
        {"1M3 Opening", 1, "3", "Opening"},
        {"12 Untitled", 0, "12", "Untitled"},
        {"Opening", 0, "-", "Opening"},
        {"", 0, "-", ""},
        {"2m14 Main Title", 2, "14", "Main Title"},
        {"3MM5a  Two spaces", 3, "5a", "Two spaces"},
        {"1M3", 1, "3", ""},
        // The cue number stops at any white space, the title starts after all of it.
        {"1M3\tTabbed", 1, "3", "Tabbed"},
        {"1M3\xE3\x80\x80Wide space", 1, "3", "Wide space"},
        {"1M3\xC2\xA0No-break", 1, "3", "No-break"},
        // Nothing is skipped before the number.
        {" 1M3 Lead", 0, "-", " 1M3 Lead"},
        // Letters right before white space leave the cue number empty.
        {"1M Opening", 1, "", "Opening"},
        {"007 Bond", 0, "7", "Bond"},
        {"-2M1 Signed", -2, "1", "Signed"},
        {"4x Four", 0, "4", "x Four"},
        {"99999999999999999999M1 Big", kMax, "1", "Big"},
        {"1M3 \xC3\x9C"
         "berblendung",
         1, "3",
         "\xC3\x9C"
         "berblendung"},
    };
    for (const TitleCase& c : cases) expectSplit(CueListExporter::splitTitleForJSON(c.title), c);
}

TEST(CueListExporterTitles, TabDelimitedRuleSkipsWhiteSpaceAndStepsOverOneCharacter) {
    const TitleCase cases[] = {
        {"1M3 Opening", 1, "3", "Opening"},
        {"12 Untitled", 12, "", "12 Untitled"},
        {"Opening", 0, "", "Opening"},
        {"", 0, "", ""},
        {"2m14 Main Title", 2, "14", "Main Title"},
        // White space is skipped before each of the three items.
        {" 1M3 Lead", 1, "3", "Lead"},
        {"1 M 3 Spaced", 1, "3", "Spaced"},
        // Only one character is stepped over after the cue number.
        {"1M3  Two", 1, "3", " Two"},
        {"1M3\xE3\x80\x80Wide space", 1, "3", "Wide space"},
        {"1M3", 1, "3", ""},
        // With only white space left the scanner is at its end: nothing is stepped over.
        {"1M3 ", 1, "3", " "},
        {"1M", 1, "", "1M"},
        {"1M ", 1, "", "1M "},
        {"4x Four", 4, "", "4x Four"},
        {"-2M1 Signed", -2, "1", "Signed"},
    };
    for (const TitleCase& c : cases) expectSplit(CueListExporter::splitTitleForTabDelimitedList(c.title), c);
}

// A document of two reels and three cues, stored in an order that is neither
// the reels' nor the cues' displayed order.
class CueListExporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(&loop_);
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        CueEnvironment::install(nullptr);
        previousSink_ = Log::setSink([this](const std::string& line) { logged_.push_back(line); });
        folder_ =
            fs::temp_directory_path() / ("tollvane-exports-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);

        document_ = Document::create();
        // Stored: the later reel first. The later reel has a 60-second movie.
        laterReel_ = makeReel(0x1234, "Reel 2", "1:00:00:00");
        laterReel_->setPath(std::string(TOLLVANE_TEST_DATA) + "/movies/sixty-seconds.mov");
        earlierReel_ = makeReel(7, "Reel 1", "0:40:00:00");
        document_->reelController().setContent({laterReel_, earlierReel_});

        later_ = makeCue("2M1 Later", "1:10:00:00");
        opening_ = makeCue("1M3 Opening", "1:00:00:00");
        opening_->setReel(laterReel_);
        auto end = CueEventCueEnd::cueEndEventWithCue(opening_);
        end->setLockType(CueEvent::kLockTypeTimecode);
        end->setLockTimecode(timecode("1:00:30:00"));
        opening_->addEvent(end);
        untitled_ = makeCue("12 Untitled", "1:05:00:00");
        document_->cueController().setContent({later_, opening_, untitled_});
    }

    void TearDown() override {
        document_.reset();
        fs::remove_all(folder_);
        Log::setSink(previousSink_);
        RunLoop::setMain(previousLoop_);
    }

    static std::shared_ptr<EMTimecode> timecode(const char* text) {
        return EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(3), text);
    }

    std::shared_ptr<Reel> makeReel(uint32_t reelID, const char* title, const char* start) {
        auto reel = std::make_shared<Reel>(reelID);
        reel->setTitle(title);
        reel->setStartTimecode(timecode(start));
        return reel;
    }

    std::shared_ptr<Cue> makeCue(const char* title, const char* sync) {
        auto cue = Cue::create();
        cue->setTitle(title);
        cue->setSyncTimecode(timecode(sync));
        return cue;
    }

    static std::string readFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    ManualRunLoop loop_;
    RunLoop* previousLoop_ = nullptr;
    Log::Sink previousSink_;
    std::vector<std::string> logged_;
    fs::path folder_;
    std::shared_ptr<Document> document_;
    std::shared_ptr<Reel> laterReel_, earlierReel_;
    std::shared_ptr<Cue> later_, opening_, untitled_;
};

TEST_F(CueListExporterTest, JSONListsReelsAndCuesInDisplayedOrder) {
    // A new cue follows the "Select by Timecode" marker, whose ID it reports;
    // a cue without a reel reports 0.
    untitled_->setReel(nullptr);
    const nlohmann::json json = nlohmann::json::parse(CueListExporter::jsonString(*document_));
    const nlohmann::json reels = nlohmann::json::parse(R"([
        {"reelID": 7, "title": "Reel 1", "start": "0:40:00:00", "end": ""},
        {"reelID": 4660, "title": "Reel 2", "start": "1:00:00:00", "end": "1:01:00:00"}])");
    EXPECT_EQ(json["reels"], reels);
    nlohmann::json cues = nlohmann::json::parse(R"([
        {"reelNumber": 1, "cueNumber": "3", "title": "Opening", "start": "1:00:00:00", "end": "1:00:30:00",
         "reelID": 4660},
        {"reelNumber": 0, "cueNumber": "12", "title": "Untitled", "start": "1:05:00:00", "end": "1:05:00:00",
         "reelID": 0},
        {"reelNumber": 2, "cueNumber": "1", "title": "Later", "start": "1:10:00:00", "end": "1:10:00:00",
         "reelID": 0}])");
    cues[2]["reelID"] = Reel::kTimecodeSelectionMarkerID;
    EXPECT_EQ(json["cues"], cues);
    EXPECT_EQ(json.size(), 2u);
    // Pretty-printed, keys in the order above.
    const std::string text = CueListExporter::jsonString(*document_);
    EXPECT_EQ(text.rfind("{\n  \"reels\": [\n    {\n      \"reelID\": 7,\n      \"title\"", 0), 0u) << text;
}

TEST_F(CueListExporterTest, TabDelimitedListHasOneLinePerCueInStoredOrder) {
    EXPECT_EQ(CueListExporter::tabDelimitedString(*document_),
              "2\t1\tLater\t1:10:00:00\t\t1:10:00:00\t\n"
              "1\t3\tOpening\t1:00:00:00\t\t1:00:30:00\t\n"
              "12\t\t12 Untitled\t1:05:00:00\t\t1:05:00:00\t\n");
}

TEST_F(CueListExporterTest, OpeningAloneGivesTheWholeTitleInBothExports) {
    document_->cueController().setContent({makeCue("Opening", "2:00:00:00")});
    const nlohmann::json json = nlohmann::json::parse(CueListExporter::jsonString(*document_));
    EXPECT_EQ(json["cues"][0]["reelNumber"], 0);
    EXPECT_EQ(json["cues"][0]["cueNumber"], "-");
    EXPECT_EQ(json["cues"][0]["title"], "Opening");
    EXPECT_EQ(CueListExporter::tabDelimitedString(*document_), "0\t\tOpening\t2:00:00:00\t\t2:00:00:00\t\n");
}

TEST_F(CueListExporterTest, TabsAndLineBreaksInATitleKeepTheLineWhole) {
    document_->cueController().setContent({makeCue("1M3 Two\tcolumns\nand a line", "2:00:00:00")});
    EXPECT_EQ(CueListExporter::tabDelimitedString(*document_),
              "1\t3\tTwo columns and a line\t2:00:00:00\t\t2:00:00:00\t\n");
}

TEST_F(CueListExporterTest, BrokenUTF8InATitleIsReplacedNotFatal) {
    document_->cueController().setContent({makeCue("1M3 Caf\xE9 \xED\xA0\x80", "2:00:00:00")});
    const std::string text = CueListExporter::jsonString(*document_);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(nlohmann::json::parse(text)["cues"][0]["title"],
              "Caf\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(CueListExporter::tabDelimitedString(*document_),
              "1\t3\tCaf\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\t2:00:00:00\t\t2:00:00:00\t\n");

    const fs::path path = folder_ / "cues.json";
    std::string error;
    EXPECT_TRUE(CueListExporter::exportJSON(*document_, path.string(), &error)) << error;
    EXPECT_TRUE(logged_.empty());
}

TEST_F(CueListExporterTest, EmptyDocumentGivesEmptyListsAndAnEmptyText) {
    auto empty = Document::create();
    const nlohmann::json json = nlohmann::json::parse(CueListExporter::jsonString(*empty));
    EXPECT_EQ(json, nlohmann::json::parse(R"({"reels": [], "cues": []})"));
    EXPECT_EQ(CueListExporter::tabDelimitedString(*empty), "");
}

TEST_F(CueListExporterTest, FilesHoldTheTextsAndReplaceOldFilesWhole) {
    const fs::path json = folder_ / "list.json";
    const fs::path text = folder_ / "list.txt";
    std::ofstream(json) << "an older and much longer export that must not survive in part";
    std::string error;
    ASSERT_TRUE(CueListExporter::exportJSON(*document_, json.string(), &error)) << error;
    ASSERT_TRUE(CueListExporter::saveTabDelimitedCueList(*document_, text.string(), &error)) << error;
    EXPECT_EQ(readFile(json), CueListExporter::jsonString(*document_));
    EXPECT_EQ(readFile(text), CueListExporter::tabDelimitedString(*document_));
    for (const auto& entry : fs::directory_iterator(folder_)) {
        EXPECT_TRUE(entry.path() == json || entry.path() == text) << "left behind: " << entry.path();
    }
}

TEST_F(CueListExporterTest, AFailedWriteSaysWhyAndWritesNothing) {
    const fs::path blocker = folder_ / "not-a-folder";
    std::ofstream(blocker) << "x";
    std::string error;
    EXPECT_FALSE(CueListExporter::exportJSON(*document_, (blocker / "list.json").string(), &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(
        CueListExporter::saveTabDelimitedCueList(*document_, (blocker / "list.txt").string(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readFile(blocker), "x");
}

TEST_F(CueListExporterTest, ALinkIsWrittenThroughAndAFolderIsNotReplaced) {
    const fs::path target = folder_ / "real.txt";
    const fs::path link = folder_ / "link.txt";
    std::ofstream(target) << "old";
    fs::create_symlink(target, link);
    std::string error;
    ASSERT_TRUE(CueListExporter::saveTabDelimitedCueList(*document_, link.string(), &error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(target), CueListExporter::tabDelimitedString(*document_));

    const fs::path folder = folder_ / "list.json";
    fs::create_directory(folder);
    EXPECT_FALSE(CueListExporter::exportJSON(*document_, folder.string(), &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(folder));
}

}  // namespace
}  // namespace tollvane
