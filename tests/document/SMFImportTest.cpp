#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DocumentTestSupport.h"
#include "document/ImportSMFWindowController.h"
#include "document/SMFImporter.h"
#include "model/CueArrayController.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventPunch.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "playback/TLEvent.h"
#include "playback/TLEventController.h"
#include "timebase/NoteDuration.h"

namespace tollvane {
namespace {

std::string smfPath(const std::string& name) {
    return std::string(TOLLVANE_TEST_DATA) + "/smf-import/" + name;
}

class SMFImportTest : public testing::DocumentTestBase {
protected:
    void SetUp() override {
        DocumentTestBase::SetUp();
        savedClickChanges_ =
            UserDefaults::standardUserDefaults().objectForKey(SMFImporter::kImportClickChangesKey);
        UserDefaults::standardUserDefaults().setObject(SMFImporter::kImportClickChangesKey, Value());
        // File note 60 (mapping note 48) is a two-hole large punch, file note
        // 72 a 3-foot small streamer, the sysex F0 7D 01 F7 a regular punch.
        auto punch = TLEvent::punchEvent();
        punch->setValueForKey("noteOn", Value(int64_t{48}));
        punch->setValueForKey("eventLength", Value(int64_t{2}));
        punch->setValueForKey("eventSize", Value(int64_t{2}));
        auto streamer = TLEvent::streamerEvent();
        streamer->setValueForKey("noteOn", Value(int64_t{60}));
        streamer->setValueForKey("eventLength", Value(3.0));
        streamer->setValueForKey("eventSize", Value(int64_t{0}));
        auto sysex = TLEvent::punchEvent();
        sysex->setValueForKey("sysexArray", Value::array({Value(int64_t{0xF0}), Value(int64_t{0x7D}),
                                                          Value(int64_t{0x01}), Value(int64_t{0xF7})}));
        mapping.setContent({punch, streamer, sysex});
        document = Document::create();
    }

    void TearDown() override {
        document.reset();
        UserDefaults::standardUserDefaults().setObject(SMFImporter::kImportClickChangesKey,
                                                       savedClickChanges_);
        DocumentTestBase::TearDown();
    }

    std::shared_ptr<Cue> importDropTwoBars(SMFImporter::TrackIndexes tracks = {1, 2}) {
        return SMFImporter::cueWithContentsOfFile(smfPath("drop-two-bars.mid"), tracks, 2, &mapping);
    }

    template <class Kind>
    static std::vector<std::shared_ptr<Kind>> eventsOf(const std::vector<std::shared_ptr<CueEvent>>& list) {
        std::vector<std::shared_ptr<Kind>> found;
        for (const auto& event : list)
            if (auto kind = std::dynamic_pointer_cast<Kind>(event)) found.push_back(kind);
        return found;
    }

    TLEventController mapping;
    std::shared_ptr<Document> document;

private:
    Value savedClickChanges_;
};

TEST_F(SMFImportTest, TwoBarsDroppedMoveTheDownbeatToTimeStampZero) {
    const auto cue = importDropTwoBars();
    EXPECT_EQ(cue->title(), "drop-two-bars");

    // 96 bpm was in force before the cut-off and starts the cue; 120.000 at
    // beat 16 is imported, 120.005 at beat 20 is too close to it.
    const auto tempos = eventsOf<CueEventTempoChange>(cue->tempoEvents());
    ASSERT_EQ(tempos.size(), 2u);
    EXPECT_NEAR(tempos[0]->bpm(), 120.0, 1e-3);
    EXPECT_DOUBLE_EQ(tempos[0]->lockPrerollShiftedBeats(), 128.0 + 8.0);
    EXPECT_NEAR(tempos[1]->bpm(), 96.0, 1e-3);
    EXPECT_DOUBLE_EQ(tempos[1]->lockPrerollShiftedBeats(), 128.0);
    for (const auto& tempo : tempos) EXPECT_EQ(tempo->noteDuration(), NoteDuration::kQuarter);

    // 3/4 at the file's bar 3 lands on bar 1 with its clocks per click (48:
    // code 4); the 4/4 in force before the cut-off also starts the cue.
    const auto meters = eventsOf<CueEventMeterChange>(cue->meterEvents());
    ASSERT_EQ(meters.size(), 2u);
    EXPECT_EQ(meters[0]->meter(), (TimeSignature{3, 4}));
    EXPECT_EQ(meters[0]->lockBar(), 1);
    EXPECT_EQ(meters[0]->clickNoteDuration(), 4);
    EXPECT_EQ(meters[1]->meter(), (TimeSignature{4, 4}));
    EXPECT_EQ(meters[1]->lockBar(), 1);
    EXPECT_EQ(meters[1]->clickNoteDuration(), NoteDuration::kNoChange);

    // Cue end: the latest event (beat 24) less the dropped 8 beats.
    ASSERT_TRUE(cue->cueEndEvent());
    EXPECT_DOUBLE_EQ(cue->cueEndEvent()->lockPrerollShiftedBeats(), 128.0 + 16.0);
    EXPECT_TRUE(cue->sequence());
}

TEST_F(SMFImportTest, NotesAndSysexBecomeStreamersAndPunchesThroughTheMapping) {
    const auto cue = importDropTwoBars();
    const auto punches = eventsOf<CueEventPunch>(cue->trackEvents());
    const auto streamers = eventsOf<CueEventStreamer>(cue->trackEvents());

    // Punch track: beat 7.9 is dropped, 7.96 is inside the tolerance, the
    // velocity-0 note at beat 9 makes nothing, the sysex at beat 10 maps.
    // The early one is kept; the cue raises positions before bar 1 to it.
    struct Expected {
        double timeStamp;
        int32_t holes;
        float width;
    };
    const Expected expectedPunches[] = {{0.0, 2, 1.5f}, {0.0, 2, 1.5f}, {2.0, 1, 1.0f}, {4.0, 2, 1.5f}};
    ASSERT_EQ(punches.size(), std::size(expectedPunches));
    for (size_t i = 0; i < punches.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(punches[i]->lockPrerollShiftedBeats() - 128.0, expectedPunches[i].timeStamp, 1e-3);
        EXPECT_EQ(punches[i]->holes(), expectedPunches[i].holes);
        EXPECT_FLOAT_EQ(punches[i]->width(), expectedPunches[i].width);
    }

    // Streamer track: notes 72 at beats 12 and 24; note 74 is not mapped.
    ASSERT_EQ(streamers.size(), 2u);
    EXPECT_NEAR(streamers[0]->lockPrerollShiftedBeats(), 128.0 + 4.0, 1e-6);
    EXPECT_NEAR(streamers[1]->lockPrerollShiftedBeats(), 128.0 + 16.0, 1e-6);
    EXPECT_NEAR(streamers[0]->feet(), 3.0f, 1e-4f);
    EXPECT_FLOAT_EQ(streamers[0]->width(), 0.75f);
}

TEST_F(SMFImportTest, UnselectedTracksGiveNoEventsButStillTheirTempoMap) {
    const auto cue = importDropTwoBars({});
    EXPECT_TRUE(cue->trackEvents().empty());
    EXPECT_EQ(cue->tempoEvents().size(), 2u);
    EXPECT_EQ(cue->meterEvents().size(), 2u);

    // Track 0 ("Text") holds a note at beat 8 too.
    EXPECT_EQ(importDropTwoBars({0})->trackEvents().size(), 1u);
}

TEST_F(SMFImportTest, SMPTEOffsetFollowsTheDroppedPreroll) {
    const auto cue = importDropTwoBars();
    const auto sync = cue->syncTimecode();
    ASSERT_TRUE(sync);
    // 1:00:00:00 and 40 hundredths of a frame (32 bits), then the 4.5 s
    // that bars 1-2 take (four beats at 120 bpm, four at 96).
    auto expected = EMTimecode::timecodeWithFramerate(sync->framerate(), "1:00:00:00");
    expected->setBits(32);
    expected->addSeconds(4.5);
    EXPECT_TRUE(sync->isEqual(*expected)) << sync->description() << " vs " << expected->description();

    const auto undropped = SMFImporter::cueWithContentsOfFile(smfPath("drop-two-bars.mid"), {}, 0, &mapping);
    auto atOffset = EMTimecode::timecodeWithFramerate(sync->framerate(), "1:00:00:00");
    atOffset->setBits(32);
    EXPECT_TRUE(undropped->syncTimecode()->isEqual(*atOffset)) << undropped->syncTimecode()->description();
}

TEST_F(SMFImportTest, ClickChangesFollowTheDefault) {
    UserDefaults::standardUserDefaults().setBool(SMFImporter::kImportClickChangesKey, false);
    for (const auto& meter : eventsOf<CueEventMeterChange>(importDropTwoBars()->meterEvents())) {
        EXPECT_EQ(meter->clickNoteDuration(), NoteDuration::kNoChange);
    }
    UserDefaults::standardUserDefaults().setBool(SMFImporter::kImportClickChangesKey, true);
    EXPECT_EQ(eventsOf<CueEventMeterChange>(importDropTwoBars()->meterEvents())[0]->clickNoteDuration(), 4);
}

TEST_F(SMFImportTest, WithoutDroppedBarsTheFileMapsOneToOne) {
    const auto cue = SMFImporter::cueWithContentsOfFile(smfPath("plain.mid"), {0}, 0, &mapping);
    EXPECT_EQ(cue->title(), "plain");
    const auto tempos = eventsOf<CueEventTempoChange>(cue->tempoEvents());
    ASSERT_EQ(tempos.size(), 1u);
    EXPECT_NEAR(tempos[0]->bpm(), 90.0, 1e-3);
    EXPECT_DOUBLE_EQ(tempos[0]->lockPrerollShiftedBeats(), 128.0);
    const auto meters = eventsOf<CueEventMeterChange>(cue->meterEvents());
    ASSERT_EQ(meters.size(), 1u);
    EXPECT_EQ(meters[0]->meter(), (TimeSignature{6, 8}));
    EXPECT_EQ(meters[0]->clickNoteDuration(), 5);
    const auto punches = eventsOf<CueEventPunch>(cue->trackEvents());
    ASSERT_EQ(punches.size(), 1u);
    EXPECT_DOUBLE_EQ(punches[0]->lockPrerollShiftedBeats(), 128.0 + 3.0);
}

TEST_F(SMFImportTest, AFileThatDoesNotLoadGivesAnEmptyTitledCue) {
    const auto cue = SMFImporter::cueWithContentsOfFile(smfPath("not-midi.mid"), {0}, 0, &mapping);
    EXPECT_EQ(cue->title(), "not-midi");
    EXPECT_TRUE(cue->trackEvents().empty());
    EXPECT_FALSE(cue->hasCueEndEvent());
}

TEST_F(SMFImportTest, FinishingIsOneUndoStep) {
    SMFImporter importer(*document, &mapping);
    document->cueController().setCueStartBarNumber(5);
    document->undoManager().removeAllActions();

    const auto cue = importer.finishImportingSMF(smfPath("drop-two-bars.mid"), {1, 2}, 2);
    ASSERT_EQ(document->cueController().content().size(), 1u);
    EXPECT_EQ(document->cueController().content()[0], cue);
    EXPECT_EQ(cue->document(), document.get());
    EXPECT_EQ(cue->barNumberOffsetValue(), 4);
    EXPECT_EQ(document->cueController().selectedCue(), cue);
    EXPECT_EQ(document->undoManager().undoStepCount(), 1u);
    EXPECT_EQ(document->undoManager().undoActionName(), "Import SMF");

    document->undoManager().undo();
    EXPECT_TRUE(document->cueController().content().empty());
    document->undoManager().redo();
    ASSERT_EQ(document->cueController().content().size(), 1u);
    EXPECT_EQ(document->cueController().content()[0], cue);
}

TEST_F(SMFImportTest, QueuedFilesOpenOneDialogEach) {
    SMFImporter importer(*document, &mapping);
    EXPECT_EQ(importer.startImportingSMF(), nullptr);

    auto& queue = document->cueController().pendingSMFImports();
    queue = {smfPath("drop-two-bars.mid"), smfPath("plain.mid")};
    auto dialog = importer.startImportingSMF();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->smfFilename(), "drop-two-bars.mid");
    EXPECT_EQ(dialog->prerollBarsToDrop(), 0u);
    EXPECT_EQ(dialog->downbeatBarNumber(), 1);
    EXPECT_EQ(queue.size(), 1u);
    dialog->cancel();
    EXPECT_EQ(queue.size(), 1u);
    EXPECT_EQ(importer.startImportingSMF()->smfFilename(), "plain.mid");
    EXPECT_TRUE(queue.empty());
}

TEST_F(SMFImportTest, DialogPreselectsByNameAndDescribesTracks) {
    SMFImporter importer(*document, &mapping);
    ImportSMFWindowController dialog(importer);
    EXPECT_EQ(dialog.smfFilename(), "(no file)");
    EXPECT_EQ(dialog.numberOfRows(), 0u);

    dialog.setPathToImport(smfPath("drop-two-bars.mid"));
    EXPECT_EQ(dialog.trackIndexesSelectedForImport(), (SMFImporter::TrackIndexes{1, 2}));
    ASSERT_EQ(dialog.numberOfRows(), 3u);
    EXPECT_EQ(dialog.trackDescription(0), "Text / hits / second");
    EXPECT_EQ(dialog.objectValueForColumn("name", 2).stringValue(), "STREAMERS");
    EXPECT_EQ(dialog.objectValueForColumn("importEnabled", 0).toInt64(), 0);
    EXPECT_EQ(dialog.objectValueForColumn("importEnabled", 1).toInt64(), 1);

    dialog.setObjectValueForColumn(Value(int64_t{1}), "importEnabled", 0);
    dialog.setObjectValueForColumn(Value(int64_t{2}), "importEnabled", 1);
    EXPECT_EQ(dialog.trackIndexesSelectedForImport(), (SMFImporter::TrackIndexes{0, 2}));

    // The downbeat timecode moves with the bars to drop.
    const std::string atStart = dialog.downbeatTimecodeString();
    dialog.setPrerollBarsToDrop(2);
    EXPECT_EQ(dialog.smfDownbeatBarNumber(), 3u);
    EXPECT_NE(dialog.downbeatTimecodeString(), atStart);
    EXPECT_EQ(dialog.downbeatTimecodeString(), importDropTwoBars({})->syncTimecodeString());

    const auto cue = dialog.ok();
    ASSERT_TRUE(cue);
    EXPECT_EQ(eventsOf<CueEventPunch>(cue->trackEvents()).size(), 1u);  // the Text track's note
    EXPECT_EQ(eventsOf<CueEventStreamer>(cue->trackEvents()).size(), 2u);
}

}  // namespace
}  // namespace tollvane
