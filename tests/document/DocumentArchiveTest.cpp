// Documents as files: the hand-built fixtures in the platform's layout open
// with the right values and save back with every value kept; new documents;
// the keys a save writes; unknown keys; atomic saves.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "DocumentTestSupport.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEventBarNumberChange.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventPunch.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "platform/archive/Color.h"
#include "platform/archive/GenericArchiveObject.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

using testing::ArchiveRendering;
using testing::fixturePath;
using testing::readFile;
using testing::writeFile;

class DocumentArchiveTest : public testing::DocumentTestBase {
protected:
    std::shared_ptr<Document> openFixture(const std::string& name) {
        std::string error;
        auto document = Document::documentWithContentsOfFile(fixturePath(name), &error);
        EXPECT_TRUE(document) << error;
        return document;
    }

    static std::shared_ptr<Cue> cueTitled(Document& document, const std::string& title) {
        for (const auto& cue : document.cueController().content()) {
            if (cue->title() == title) return cue;
        }
        return nullptr;
    }

    template <class T>
    static std::shared_ptr<T> first(const std::vector<std::shared_ptr<CueEvent>>& events) {
        for (const auto& event : events) {
            if (auto kind = std::dynamic_pointer_cast<T>(event)) return kind;
        }
        return nullptr;
    }

    static std::string timecodeText(const std::shared_ptr<EMTimecode>& timecode) {
        return timecode ? timecode->stringRepresentation() : "(none)";
    }
};

TEST_F(DocumentArchiveTest, ANewDocumentStartsEmptyWithTheRememberedRateAndView) {
    UserDefaults::standardUserDefaults().setObject("lastProjectFramerate", Value(1));
    UserDefaults::standardUserDefaults().setObject("lastDocumentViewType", Value(1));
    auto document = Document::create();
    EXPECT_EQ(document->projectFramerate(), 1);
    EXPECT_EQ(document->viewType(), Document::kADRFoleyViewType);
    EXPECT_EQ(document->reelSelectionMode(), 1);
    EXPECT_EQ(document->cueSelectionMode(), 0);
    EXPECT_TRUE(document->isEmpty());
    EXPECT_FALSE(document->isDocumentEdited());
    for (const char* key : {"reels", "cues", "adrFoleyEvents"}) {
        const Value* list = document->documentDataFromDisk().find(key);
        ASSERT_TRUE(list && list->isArray()) << key;
        EXPECT_TRUE(list->arrayValue()->items.empty());
    }
    EXPECT_EQ(Document::documentForHandle(document->documentHandle()), document);

    UserDefaults::standardUserDefaults().removeObject("lastProjectFramerate");
    UserDefaults::standardUserDefaults().removeObject("lastDocumentViewType");
    auto plain = Document::create();
    EXPECT_EQ(plain->projectFramerate(), 4);
    EXPECT_EQ(plain->viewType(), Document::kCueViewType);
}

TEST_F(DocumentArchiveTest, SavingWritesEveryKeyInOrderAndKeepsUnknownOnes) {
    auto document = documentFromRoot(rootWith({{"laterVersionKey", Value("kept")},
                                               {"cues", Value::array()},
                                               {"projectFramerate", Value(6)},
                                               {"anotherKey", Value(int64_t{7})}}));
    ASSERT_TRUE(document);
    std::string error;
    const Data data = document->dataOfType(&error);
    ASSERT_FALSE(data.empty()) << error;
    const Value root = KeyedUnarchiver::unarchivedObjectWithData(data);
    ASSERT_TRUE(root.isDictionary());
    std::vector<std::string> keys;
    for (const auto& [key, value] : root.dictionaryValue()->entries) keys.push_back(key.stringValue());
    const std::vector<std::string> expected = {"minVersion",
                                               "absoluteMinVersion",
                                               "reels",
                                               "cues",
                                               "adrFoleyEvents",
                                               "reelSelectionMode",
                                               "cueSelectionMode",
                                               "projectFramerate",
                                               "documentViewType",
                                               "documentWindowFrame",
                                               "documentWindowOptions",
                                               "laterVersionKey",
                                               "anotherKey"};
    EXPECT_EQ(keys, expected);
    const ValueDictionary& saved = *root.dictionaryValue();
    EXPECT_EQ(saved.find("minVersion")->stringValue(), "218");
    EXPECT_EQ(saved.find("absoluteMinVersion")->stringValue(), "0");
    EXPECT_EQ(saved.find("projectFramerate")->toInt64(), 6);
    EXPECT_EQ(saved.find("documentWindowFrame")->stringValue(), "{{0, 0}, {0, 0}}");
    EXPECT_EQ(saved.find("laterVersionKey")->stringValue(), "kept");
    EXPECT_EQ(saved.find("anotherKey")->toInt64(), 7);
    const Value* options = saved.find("documentWindowOptions");
    ASSERT_TRUE(options && options->isDictionary());
    EXPECT_TRUE(options->dictionaryValue()->find("cueSortDescriptors")->isArray());
    EXPECT_TRUE(options->dictionaryValue()->find("reelSortDescriptors")->isArray());
    EXPECT_EQ(options->dictionaryValue()->find("selectedCueID")->toInt64(), 0);
}

TEST_F(DocumentArchiveTest, TheHandBuiltDocumentShowsItsValues) {
    auto document = openFixture("full.tollvane");
    ASSERT_TRUE(document);
    EXPECT_EQ(alerts.shownCount(), 0u);
    EXPECT_EQ(document->projectFramerate(), 3);
    EXPECT_EQ(document->reelSelectionMode(), 2);
    EXPECT_EQ(document->cueSelectionMode(), 1);
    EXPECT_TRUE(document->shouldSelectCueByTimecode());
    EXPECT_EQ(document->viewType(), Document::kCueViewType);
    EXPECT_EQ(document->documentWindowFrame().stringValue(), "{{120, 340}, {1180, 720}}");
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_EQ(document->undoManager().undoStepCount(), 0u);

    // Reels: the file's alias records cannot be resolved here; the last known path serves.
    const auto& reels = document->reelController().content();
    ASSERT_EQ(reels.size(), 2u);
    auto reel1 = Reel::reelWithID(1001);
    ASSERT_TRUE(reel1);
    EXPECT_EQ(reel1->title(), "Reel 1");
    EXPECT_EQ(reel1->startTimecodeString(), "1:00:00:00");
    EXPECT_EQ(reel1->path(), "/Volumes/Media/Reel 1.mov");
    EXPECT_FALSE(reel1->validFile());
    EXPECT_EQ(reel1->document(), document.get());
    ASSERT_TRUE(reel1->alias());
    EXPECT_GT(reel1->alias()->aliasData().size(), 16u);
    EXPECT_EQ(Reel::reelWithID(1002)->title(), "Reel 2 \u2013 Final");
    EXPECT_TRUE(document->reelController().hasBrokenReels());

    // The cue named in the window options is selected, as the window would.
    auto opening = cueTitled(*document, "1M1 Opening");
    auto chase = cueTitled(*document, "1M2 Chase");
    ASSERT_TRUE(opening && chase);
    EXPECT_EQ(document->cueController().selectedCue(), chase);
    EXPECT_EQ(opening->cueID(), 101u);
    EXPECT_EQ(opening->reel(), reel1);
    EXPECT_EQ(opening->document(), document.get());
    EXPECT_EQ(opening->syncTimecodeString(), "1:00:10:00");
    EXPECT_EQ(opening->barNumberOffsetValue(), 2);
    // Chase names reel 999, which does not exist: no reel.
    EXPECT_EQ(chase->reelID(), 999u);
    EXPECT_EQ(chase->reel(), nullptr);
    EXPECT_EQ(chase->optionalDisplayText().value_or(""), "Chase!");
    EXPECT_EQ(chase->warningBeats(), 2u);
    // Mode 2 follows the selected cue: Chase has no reel.
    EXPECT_TRUE(document->shouldSelectReelByTimecode());

    // Every event kind.
    auto tempo = first<CueEventTempoChange>(opening->tempoEvents());
    ASSERT_TRUE(tempo);
    EXPECT_DOUBLE_EQ(tempo->bpm(), 120.0);
    auto meter = first<CueEventMeterChange>(opening->meterEvents());
    ASSERT_TRUE(meter);
    EXPECT_EQ(meter->lockType(), CueEvent::kLockTypeBar);
    EXPECT_EQ(meter->lockBar(), 1);
    auto streamer = first<CueEventStreamer>(opening->trackEvents());
    ASSERT_TRUE(streamer && streamer->color());
    EXPECT_FLOAT_EQ(streamer->feet(), 4.5f);
    EXPECT_FLOAT_EQ(streamer->width(), 2.0f);
    EXPECT_NEAR(streamer->color()->calibratedRGB().blue, 0.8, 1e-9);
    EXPECT_EQ(timecodeText(streamer->lockTimecode()), "1:00:14:00");
    auto punch = first<CueEventPunch>(opening->trackEvents());
    ASSERT_TRUE(punch && punch->color());
    EXPECT_EQ(punch->holes(), 4);
    EXPECT_EQ(punch->color()->colorSpace(), Color::DeviceCMYK);
    auto barNumber = first<CueEventBarNumberChange>(opening->trackEvents());
    ASSERT_TRUE(barNumber);
    EXPECT_EQ(barNumber->lockBar(), 3);
    auto clickChange = first<CueEventClickChange>(opening->trackEvents());
    ASSERT_TRUE(clickChange);
    EXPECT_EQ(clickChange->clickPattern(), (std::vector<uint32_t>{2, 1, 1}));
    EXPECT_EQ(clickChange->clickNoteDuration(), 8);
    EXPECT_EQ(clickChange->beatPunchNoteDuration(), 6);
    auto countoff = first<CueEventCountoff>(opening->countoffEvents());
    ASSERT_TRUE(countoff);
    EXPECT_EQ(countoff->countoffBeats(), 2);
    ASSERT_TRUE(opening->cueEndEvent());
    EXPECT_TRUE(opening->cueEndEvent()->autoFollow());
    EXPECT_EQ(opening->cueEndEvent()->autoFollowCueNumber(), "1M2");
    EXPECT_EQ(opening->cueEndEvent()->streamerColor()->colorSpace(), Color::DeviceWhite);
    ASSERT_TRUE(opening->cueStartEvent());
    EXPECT_DOUBLE_EQ(opening->cueStartEvent()->lockPrerollShiftedBeats(), 132.0);
    EXPECT_TRUE(opening->sequence());

    // The ADR/Foley list and its hidden cue.
    ASSERT_EQ(document->adrFoleyEvents().size(), 2u);
    const auto& line = document->adrFoleyEvents().front();
    EXPECT_EQ(line->title(), "101");
    EXPECT_EQ(line->text(), "Where were you?");
    EXPECT_EQ(line->tags(), (std::vector<std::string>{"dx", "loop"}));
    EXPECT_EQ(timecodeText(line->lockTimecode()), "1:00:30:00");
    ASSERT_TRUE(line->streamerColor());
    EXPECT_NEAR(line->streamerColor()->calibratedRGB().red, 0.9, 1e-9);
    EXPECT_FALSE(document->adrFoleyEvents().back()->enabled());
    auto hidden = document->adrFoleyCue();
    ASSERT_TRUE(hidden);
    EXPECT_EQ(line->cue(), hidden);
    EXPECT_EQ(hidden->title(), "(ADR/Foley)");
    EXPECT_EQ(hidden->trackEvents().size(), 2u);

    // Unknown top-level keys and objects are carried as read.
    const Value* future = document->documentDataFromDisk().find("zFutureSetting");
    ASSERT_TRUE(future && future->isDictionary());
    auto thing = future->dictionaryValue()->find("thing")->object<GenericArchiveObject>();
    ASSERT_TRUE(thing);
    EXPECT_EQ(thing->className(), "TLFutureThing");
}

TEST_F(DocumentArchiveTest, TheHandBuiltDocumentSavesBackWithEveryValue) {
    const Data original = readFile(fixturePath("full.tollvane"));
    auto document = openFixture("full.tollvane");
    ASSERT_TRUE(document);
    const std::string path = folder + "/saved.tollvane";
    std::string error;
    ASSERT_TRUE(document->writeToFile(path, &error)) << error;
    testing::expectSameRendering(ArchiveRendering::of(readFile(path)), ArchiveRendering::of(original));

    // And what this program wrote opens and saves the same again.
    auto reopened = Document::documentWithContentsOfFile(path, &error);
    ASSERT_TRUE(reopened) << error;
    const std::string again = folder + "/again.tollvane";
    ASSERT_TRUE(reopened->writeToFile(again, &error)) << error;
    testing::expectSameRendering(ArchiveRendering::of(readFile(again)), ArchiveRendering::of(original));
}

TEST_F(DocumentArchiveTest, AnEditedValueIsWhatChangesInTheSavedFile) {
    auto document = openFixture("full.tollvane");
    ASSERT_TRUE(document);
    document->setCueSelectionMode(0);
    EXPECT_TRUE(document->isDocumentEdited());
    const std::string path = folder + "/edited.tollvane";
    std::string error;
    ASSERT_TRUE(document->writeToFile(path, &error)) << error;
    EXPECT_FALSE(document->isDocumentEdited());
    const std::string saved = ArchiveRendering::of(readFile(path));
    const std::string original = ArchiveRendering::of(readFile(fixturePath("full.tollvane")));
    EXPECT_NE(saved, original);
    auto reopened = Document::documentWithContentsOfFile(path, &error);
    ASSERT_TRUE(reopened) << error;
    EXPECT_EQ(reopened->cueSelectionMode(), 0);
    EXPECT_EQ(reopened->reelSelectionMode(), 2);
}

TEST_F(DocumentArchiveTest, ASavedNewDocumentOpensWithItsCuesReelsAndSelection) {
    auto document = Document::create();
    auto reel = Reel::create();
    reel->setTitle("R");
    document->reelController().addObject(reel);
    auto cue = document->cueController().newCue();
    cue->setTitle("3M1 Storm");
    cue->setReel(reel);
    document->cueController().setSelectedObjects({cue});
    document->setDocumentWindowFrame(Value("{{1, 2}, {3, 4}}"));
    const std::string path = folder + "/new.tollvane";
    std::string error;
    ASSERT_TRUE(document->writeToFile(path, &error)) << error;
    EXPECT_EQ(document->filePath(), path);

    auto reopened = Document::documentWithContentsOfFile(path, &error);
    ASSERT_TRUE(reopened) << error;
    ASSERT_EQ(reopened->cueController().content().size(), 1u);
    auto read = reopened->cueController().content().front();
    EXPECT_EQ(read->title(), "3M1 Storm");
    EXPECT_EQ(read->cueID(), cue->cueID());
    ASSERT_TRUE(read->reel());
    EXPECT_EQ(read->reel()->reelID(), reel->reelID());
    EXPECT_EQ(reopened->cueController().selectedCue(), read);
    EXPECT_EQ(reopened->documentWindowFrame().stringValue(), "{{1, 2}, {3, 4}}");
}

TEST_F(DocumentArchiveTest, AFailedSaveLeavesTheOldFileAndSaysWhy) {
    const std::string path = folder + "/kept.tollvane";
    const Data old = {'o', 'l', 'd'};
    writeFile(path, old);
    auto document = Document::create();
    document->setReelSelectionMode(0);

    // A folder that cannot be written to.
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    std::string error;
    const bool written = document->writeToFile(path, &error);
    ::chmod(folder.c_str(), 0700);
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop the write";
    EXPECT_FALSE(written);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(readFile(path), old);
    EXPECT_TRUE(document->isDocumentEdited());
    EXPECT_TRUE(document->filePath().empty());
}

TEST_F(DocumentArchiveTest, ASaveOverADirectoryFailsAndLeavesIt) {
    const std::string path = folder + "/a-folder.tollvane";
    std::filesystem::create_directories(path + "/inside");
    auto document = Document::create();
    std::string error;
    EXPECT_FALSE(document->writeToFile(path, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(path + "/inside"));
}

}  // namespace
}  // namespace tollvane
