// Opening a file: the version gate and its alerts, the old ADR/Foley
// conversion, cues given their reels, and bad input refused whole.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DocumentTestSupport.h"
#include "TollvaneVersion.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEventSoundCue.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/FFMusicSequence.h"
#include "playback/UserEventRecord.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/MusicTrack.h"

namespace tollvane {
namespace {

using testing::fixturePath;
using testing::readFile;
using testing::writeFile;

constexpr const char* kLaterWarning =
    "This file was created with a later version of Tollvane, and may contain data that is unsupported by "
    "this version. If it does, any unsuppported data will be lost when you save. Do you want to open the "
    "file anyway?";
constexpr const char* kCannotRead =
    "This file was created with a later version of Tollvane, and cannot be opened by this version.";

TEST(DocumentVersions, CompareAsNumbersPartByPart) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    } const cases[] = {
        {"218", "218", 0},
        {"219", "218", 1},
        {"217", "218", -1},
        {"1000", "218", 1},
        {"99", "218", -1},
        {"218.1", "218", 1},
        {"218", "218.1", -1},
        {"0218", "218", 0},
        {"3.10", "3.9", 1},
        {"v2", "v10", -1},
        {"", "218", -1},
        {"", "", 0},
        {"99999999999999999999", "218", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Document::compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(Document::compareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
}

TEST(DocumentVersions, MinVersionReadAsAnInteger) {
    EXPECT_EQ(Document::integerValueOfVersion(Value("216")), 216);
    EXPECT_EQ(Document::integerValueOfVersion(Value(" 217.5")), 217);
    EXPECT_EQ(Document::integerValueOfVersion(Value("abc")), 0);
    EXPECT_EQ(Document::integerValueOfVersion(Value()), 0);
    EXPECT_EQ(Document::integerValueOfVersion(Value(int64_t{215})), 215);
    EXPECT_EQ(Document::integerValueOfVersion(Value("99999999999")), INT32_MAX);
}

class DocumentOpeningTest : public testing::DocumentTestBase {
protected:
    static std::string build() { return std::to_string(TOLLVANE_BUILD_NUMBER); }
    static std::string later() { return std::to_string(TOLLVANE_BUILD_NUMBER + 1); }

    static Value cueWithTitle(const std::string& title, const std::string& sync,
                              std::optional<std::string> displayText = std::nullopt) {
        auto cue = Cue::create();
        cue->setTitle(title);
        cue->setSyncTimecodeString(sync);
        if (displayText) cue->setOptionalDisplayText(displayText);
        return Value(cue);
    }

    std::vector<Alert> shown() const { return alerts.shownAlerts(); }
};

TEST_F(DocumentOpeningTest, TheVersionGate) {
    struct Case {
        const char* name;
        std::optional<std::string> minVersion;
        std::optional<std::string> absoluteMinVersion;
        std::vector<std::string> answers;
        bool opens;
        std::vector<std::string> alertTitles;
    } const cases[] = {
        {"no versions at all", std::nullopt, std::nullopt, {}, true, {}},
        {"minVersion equal to the build", build(), "0", {}, true, {}},
        {"minVersion below the build", "200", "0", {}, true, {}},
        {"minVersion above the build, Open", later(), "0", {"Open"}, true, {"Warning"}},
        {"minVersion above the build, Cancel", later(), "0", {"Cancel"}, false, {"Warning"}},
        {"no absoluteMinVersion skips the first gate", later(), std::nullopt, {"Open"}, true, {"Warning"}},
        {"absoluteMinVersion equal to the build", build(), build(), {}, true, {}},
        {"absoluteMinVersion above the build", build(), later(), {}, false, {"Cannot read this file."}},
        {"absoluteMinVersion above refuses before asking",
         later(),
         later(),
         {},
         false,
         {"Cannot read this file."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        alerts.reset();
        for (const auto& answer : c.answers) alerts.answer(answer);
        Value root = rootWith({{"cues", Value::array({cueWithTitle("1M1", "1:00:00:00")})}});
        if (c.minVersion) root.dictionaryValue()->set("minVersion", Value(*c.minVersion));
        if (c.absoluteMinVersion)
            root.dictionaryValue()->set("absoluteMinVersion", Value(*c.absoluteMinVersion));
        std::string error;
        auto document = documentFromRoot(root, &error);
        EXPECT_EQ(document != nullptr, c.opens) << error;
        if (!c.opens) {
            EXPECT_FALSE(error.empty());
        }
        std::vector<std::string> titles;
        for (const auto& alert : shown()) titles.push_back(alert.title);
        EXPECT_EQ(titles, c.alertTitles);
        EXPECT_EQ(alerts.pendingAnswers(), 0u);
        if (document) {
            EXPECT_EQ(document->cueController().content().size(), 1u);
        }
    }
}

TEST_F(DocumentOpeningTest, TheVersionAlertsCarryTheirTexts) {
    alerts.answer("Cancel");
    EXPECT_FALSE(documentFromRoot(rootWith({{"minVersion", Value(later())}})));
    EXPECT_FALSE(documentFromRoot(rootWith({{"absoluteMinVersion", Value(later())}})));
    const auto alertsShown = shown();
    ASSERT_EQ(alertsShown.size(), 2u);
    EXPECT_EQ(alertsShown[0].title, "Warning");
    EXPECT_EQ(alertsShown[0].text, kLaterWarning);
    EXPECT_EQ(alertsShown[0].buttons, (std::vector<std::string>{"Open", "Cancel"}));
    EXPECT_EQ(alertsShown[1].title, "Cannot read this file.");
    EXPECT_EQ(alertsShown[1].text, kCannotRead);
    EXPECT_EQ(alertsShown[1].buttons, (std::vector<std::string>{"OK"}));
}

TEST_F(DocumentOpeningTest, VersionsWrittenAsNumbersCompareToo) {
    alerts.answer("Cancel");
    EXPECT_FALSE(documentFromRoot(rootWith({{"minVersion", Value(int64_t{TOLLVANE_BUILD_NUMBER + 1})}})));
    EXPECT_TRUE(documentFromRoot(rootWith({{"minVersion", Value(int64_t{TOLLVANE_BUILD_NUMBER})}})));
    EXPECT_EQ(alerts.shownCount(), 1u);
}

TEST_F(DocumentOpeningTest, ARefusedFileLeavesTheDocumentAsItWas) {
    auto document = Document::create();
    auto cue = document->cueController().newCue();
    document->setProjectFramerate(1);
    const size_t steps = document->undoManager().undoStepCount();
    alerts.answer("Cancel");
    std::string error;
    const Value root = rootWith({{"minVersion", Value(later())},
                                 {"projectFramerate", Value(5)},
                                 {"cues", Value::array({cueWithTitle("Other", "2:00:00:00")})}});
    EXPECT_FALSE(document->readFromData(KeyedArchiver::archivedDataWithRootObject(root), &error));
    EXPECT_EQ(document->projectFramerate(), 1);
    ASSERT_EQ(document->cueController().content().size(), 1u);
    EXPECT_EQ(document->cueController().content().front(), cue);
    EXPECT_EQ(document->undoManager().undoStepCount(), steps);
    EXPECT_FALSE(document->documentDataFromDisk().contains("minVersion"));
}

TEST_F(DocumentOpeningTest, LoadingRegistersNoUndoAndLeavesUndoOn) {
    auto document = documentFromRoot(rootWith({{"projectFramerate", Value(3)},
                                               {"reelSelectionMode", Value(2)},
                                               {"cueSelectionMode", Value(1)},
                                               {"documentViewType", Value(1)},
                                               {"cues", Value::array({cueWithTitle("1M1", "1:00:00:00")})}}));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->projectFramerate(), 3);
    EXPECT_EQ(document->reelSelectionMode(), 2);
    EXPECT_EQ(document->cueSelectionMode(), 1);
    EXPECT_EQ(document->viewType(), Document::kADRFoleyViewType);
    EXPECT_EQ(document->undoManager().undoStepCount(), 0u);
    EXPECT_TRUE(document->undoController().undoEnabled());
    EXPECT_FALSE(document->isDocumentEdited());
    // Opening does not change what new documents start with.
    EXPECT_FALSE(UserDefaults::standardUserDefaults().objectForKey("lastDocumentViewType").toInt64() == 1 &&
                 UserDefaults::standardUserDefaults().objectForKey("lastProjectFramerate").toInt64() == 3);
}

TEST_F(DocumentOpeningTest, CuesFindTheirReelsInTheRegistry) {
    auto reel = std::make_shared<Reel>(0x52454c31);
    reel->setTitle("Reel One");
    auto named = Cue::create();
    named->setReel(reel);
    auto orphan = Cue::create();
    orphan->setReelID(0x0bad0bad);
    orphan->setReel(nullptr);
    const Value root = rootWith(
        {{"reels", Value::array({Value(reel)})}, {"cues", Value::array({Value(named), Value(orphan)})}});
    auto document = documentFromRoot(root);
    ASSERT_TRUE(document);
    const auto& cues = document->cueController().content();
    ASSERT_EQ(cues.size(), 2u);
    const auto& reels = document->reelController().content();
    ASSERT_EQ(reels.size(), 1u);
    EXPECT_EQ(reels.front()->document(), document.get());
    std::shared_ptr<Cue> readNamed;
    std::shared_ptr<Cue> readOrphan;
    for (const auto& cue : cues) (cue->reelID() == 0x0bad0bad ? readOrphan : readNamed) = cue;
    ASSERT_TRUE(readNamed && readOrphan);
    EXPECT_EQ(readNamed->reel(), reels.front());
    EXPECT_EQ(readNamed->document(), document.get());
    EXPECT_EQ(readOrphan->reel(), nullptr);
    // And the orphan keeps naming its reel when saved.
    std::string error;
    auto again = Document::documentWithData(document->dataOfType(&error), &error);
    ASSERT_TRUE(again) << error;
    bool found = false;
    for (const auto& cue : again->cueController().content()) found |= cue->reelID() == 0x0bad0bad;
    EXPECT_TRUE(found);
}

namespace {

std::vector<UserEventRecord::CueChange> cueChangesOf(const Cue& cue) {
    std::vector<UserEventRecord::CueChange> changes;
    if (!cue.sequence()) return changes;
    MusicTrack* visual = nullptr;
    const auto store = cue.sequence()->musicSequence();
    if (store->trackAtIndex(0, visual) != kMusicSequenceNoErr) return changes;
    for (const MusicEventData& event : visual->events()) {
        if (event.type != kMusicEventType_User ||
            UserEventRecord::typeOf(event.payload) != UserEventRecord::kCueChange) {
            continue;
        }
        if (auto change = UserEventRecord::readCueChange(event.payload)) changes.push_back(*change);
    }
    return changes;
}

std::shared_ptr<Cue> cueTitled(Document& document, const std::string& title) {
    for (const auto& cue : document.cueController().content()) {
        if (cue->title() == title) return cue;
    }
    return nullptr;
}

}  // namespace

// Opened, or imported into another document, the cue's cue change names the
// document that now holds it.
TEST_F(DocumentOpeningTest, ACueThatContinuesIntoAnotherNamesItsDocument) {
    std::string error;
    auto document = Document::documentWithContentsOfFile(fixturePath("full.tollvane"), &error);
    ASSERT_TRUE(document) << error;
    auto changes = cueChangesOf(*cueTitled(*document, "1M1 Opening"));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].cueNumber, "1M2");
    EXPECT_EQ(Document::documentForHandle(changes[0].documentHandle), document);

    auto importer = Document::create();
    ASSERT_GT(importer->cueController().importCuesFromTollvaneDocumentAtPath(fixturePath("full.tollvane")),
              0u);
    changes = cueChangesOf(*cueTitled(*importer, "1M1 Opening"));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(Document::documentForHandle(changes[0].documentHandle), importer);
}

TEST_F(DocumentOpeningTest, TheOldADRFoleyFormatIsConverted) {
    auto document = Document::documentWithContentsOfFile(fixturePath("old-adrfoley.tollvane"), nullptr);
    ASSERT_TRUE(document);
    ASSERT_EQ(alerts.shownCount(), 1u);
    const Alert alert = shown().front();
    EXPECT_EQ(alert.title, "Converted document.");
    EXPECT_EQ(alert.text,
              "This Tollvane document was saved in an older ADR/Foley format. It has been automatically "
              "converted. If you save this document, you will not be able to open it in versions of Tollvane "
              "older than v3.1.");
    EXPECT_EQ(alert.shownButtons(), (std::vector<std::string>{"OK"}));

    const auto& events = document->adrFoleyEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->title(), "ADR 1");
    EXPECT_EQ(events[0]->text(), "Get down!");
    ASSERT_TRUE(events[0]->lockTimecode());
    EXPECT_EQ(events[0]->lockTimecode()->stringRepresentation(), "1:02:03:04");
    EXPECT_EQ(events[0]->lockType(), CueEvent::kLockTypeTimecode);
    EXPECT_EQ(events[1]->title(), "ADR 2");
    EXPECT_EQ(events[1]->text(), "");
    EXPECT_EQ(events[0]->cue(), document->adrFoleyCue());
    EXPECT_EQ(document->adrFoleyCue()->trackEvents().size(), 2u);
    // The cues stay; the list is what the saved file holds.
    EXPECT_EQ(document->cueController().content().size(), 2u);
    EXPECT_EQ(document->undoManager().undoStepCount(), 0u);
    const Value* list = document->documentDataFromDisk().find("adrFoleyEvents");
    ASSERT_TRUE(list && list->isArray());
    EXPECT_EQ(list->arrayValue()->items.size(), 2u);

    std::string error;
    auto saved = Document::documentWithData(document->dataOfType(&error), &error);
    ASSERT_TRUE(saved) << error;
    EXPECT_EQ(saved->adrFoleyEvents().size(), 2u);
    EXPECT_EQ(alerts.shownCount(), 1u);
}

TEST_F(DocumentOpeningTest, WhenTheOldFormatIsConverted) {
    struct Case {
        const char* name;
        std::optional<Value> minVersion;
        int32_t viewType;
        bool converts;
    } const cases[] = {
        {"absent minVersion in the ADR/Foley view", std::nullopt, 1, true},
        {"216 in the ADR/Foley view", Value("216"), 1, true},
        {"100 in the ADR/Foley view", Value("100"), 1, true},
        {"217 in the ADR/Foley view", Value("217"), 1, false},
        {"the build in the ADR/Foley view", Value(std::to_string(TOLLVANE_BUILD_NUMBER)), 1, false},
        {"absent minVersion in the scoring view", std::nullopt, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        alerts.reset();
        Value root = rootWith({{"documentViewType", Value(c.viewType)},
                               {"cues", Value::array({cueWithTitle("Line", "1:00:01:00", "Hello")})}});
        if (c.minVersion) root.dictionaryValue()->set("minVersion", *c.minVersion);
        auto document = documentFromRoot(root);
        ASSERT_TRUE(document);
        EXPECT_EQ(document->adrFoleyEvents().size(), c.converts ? 1u : 0u);
        EXPECT_EQ(alerts.shownCount(), c.converts ? 1u : 0u);
    }
}

TEST_F(DocumentOpeningTest, BadInputIsRefusedWithAMessageAndNoAlert) {
    const Data good = readFile(fixturePath("full.tollvane"));
    const Data truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
    Data damagedTrailer = good;
    damagedTrailer[damagedTrailer.size() - 9] ^= 0x40;
    const std::string garbage = "This is not a document at all.";
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist "
        "version=\"1.0\"><dict><key>cues</key><array/></dict>"
        "</plist>";

    struct Case {
        const char* name;
        Data data;
    } const cases[] = {
        {"empty", {}},
        {"garbage", Data(garbage.begin(), garbage.end())},
        {"truncated", truncated},
        {"damaged trailer", damagedTrailer},
        {"a plain property list, no archive", Data(xml.begin(), xml.end())},
        {"an archive of a string", KeyedArchiver::archivedDataWithRootObject(Value("just a string"))},
        {"an archive of an array", KeyedArchiver::archivedDataWithRootObject(Value::array({Value(1)}))},
        {"a foreign archive", readFile(std::string(TOLLVANE_TEST_DATA) + "/archives/string.archive")},
        {"cues that are no list",
         KeyedArchiver::archivedDataWithRootObject(rootWith({{"cues", Value("1M1")}}))},
        {"reels that are no list",
         KeyedArchiver::archivedDataWithRootObject(rootWith({{"reels", Value(int64_t{3})}}))},
        {"ADR/Foley events that are no list",
         KeyedArchiver::archivedDataWithRootObject(rootWith({{"adrFoleyEvents", Value::dictionary()}}))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(Document::documentWithData(c.data, &error));
        EXPECT_NE(error.find("not a Tollvane document"), std::string::npos) << error;
        EXPECT_EQ(alerts.shownCount(), 0u);
    }
}

TEST_F(DocumentOpeningTest, AnUnreadableFileIsRefusedAndLeftAlone) {
    const std::string path = folder + "/truncated.tollvane";
    const Data good = readFile(fixturePath("full.tollvane"));
    const Data truncated(good.begin(), good.begin() + 100);
    writeFile(path, truncated);
    std::string error;
    EXPECT_FALSE(Document::documentWithContentsOfFile(path, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readFile(path), truncated);

    error.clear();
    EXPECT_FALSE(Document::documentWithContentsOfFile(folder + "/missing.tollvane", &error));
    EXPECT_NE(error.find("missing.tollvane"), std::string::npos) << error;
}

TEST_F(DocumentOpeningTest, ObjectsOfOtherKindsInTheListsAreDropped) {
    const Value root =
        rootWith({{"cues", Value::array({Value("not a cue"), cueWithTitle("Real", "1:00:00:00")})},
                  {"adrFoleyEvents", Value::array({cueWithTitle("Not an event", "1:00:00:00")})}});
    auto document = documentFromRoot(root);
    ASSERT_TRUE(document);
    ASSERT_EQ(document->cueController().content().size(), 1u);
    EXPECT_EQ(document->cueController().content().front()->title(), "Real");
    EXPECT_TRUE(document->adrFoleyEvents().empty());
    EXPECT_TRUE(loggedLine("Skipping."));
}

TEST_F(DocumentOpeningTest, AForeignDictionaryOpensEmptyAndKeepsItsKeys) {
    auto document = Document::documentWithContentsOfFile(
        std::string(TOLLVANE_TEST_DATA) + "/archives/foundation.archive", nullptr);
    ASSERT_TRUE(document);
    EXPECT_TRUE(document->isEmpty());
    std::string error;
    const Value saved = KeyedUnarchiver::unarchivedObjectWithData(document->dataOfType(&error));
    ASSERT_TRUE(saved.isDictionary()) << error;
    EXPECT_EQ(saved.dictionaryValue()->find("count")->toInt64(), 42);
    EXPECT_TRUE(saved.dictionaryValue()->contains("nested"));
}

TEST_F(DocumentOpeningTest, AReelListFileOpensAsADocument) {
    auto reel = std::make_shared<Reel>(0x52454c32);
    auto document = documentFromRoot(rootWith({{"reels", Value::array({Value(reel)})}}));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->reelController().content().size(), 1u);
    EXPECT_TRUE(document->cueController().content().empty());
    EXPECT_FALSE(document->isEmpty());
}

}  // namespace
}  // namespace tollvane
