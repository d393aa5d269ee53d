#include "document/ADRFoleyEventArrayController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DocumentTestSupport.h"
#include "document/ImportCSVWindowController.h"
#include "model/CueEnvironment.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventTempoChange.h"
#include "platform/archive/Color.h"
#include "timebase/EMTimecodeFormatter.h"

namespace tollvane {
namespace {

using Events = ADRFoleyEventArrayController::Events;

// The sync side as the tests set it: a timecode now, or none.
class NowEnvironment : public CueEnvironment {
public:
    std::shared_ptr<EMTimecode> currentTimecode() const override { return now ? now->copy() : nullptr; }
    std::shared_ptr<EMTimecode> now;
};

class ADRFoleyTest : public testing::DocumentTestBase {
protected:
    void SetUp() override {
        DocumentTestBase::SetUp();
        environment = std::make_shared<NowEnvironment>();
        previousEnvironment_ = CueEnvironment::install(environment);
        document = Document::create();
        // Sync fields are read at the project rate, as the application has it.
        const auto rate = EMTimecodeFramerate::framerateForIndex(document->projectFramerate());
        EMTimecodeFormatter::setProjectFramerateProvider([rate] { return rate; });
        controller = std::make_unique<ADRFoleyEventArrayController>(*document);
    }

    void TearDown() override {
        controller.reset();
        document.reset();
        EMTimecodeFormatter::setProjectFramerateProvider({});
        CueEnvironment::install(previousEnvironment_);
        DocumentTestBase::TearDown();
    }

    std::shared_ptr<EMTimecode> timecode(const char* text) const {
        return EMTimecode::timecodeWithFramerate(
            EMTimecodeFramerate::framerateForIndex(document->projectFramerate()), text);
    }

    bool lockedAt(const std::shared_ptr<CueEventSoundCue>& event, const char* text) const {
        return event->lockTimecode() && event->lockTimecode()->isEqual(*timecode(text));
    }

    bool inHiddenCue(const std::shared_ptr<CueEventSoundCue>& event) const {
        const auto& track = document->adrFoleyCue()->trackEvents();
        return std::find(track.begin(), track.end(), event) != track.end() &&
               event->cue() == document->adrFoleyCue();
    }

    // Events added at the given timecodes, none selected, no undo steps left.
    Events addEventsAt(std::initializer_list<const char*> timecodes) {
        Events added;
        for (const char* text : timecodes) {
            environment->now = timecode(text);
            added.push_back(controller->addEvent());
        }
        environment->now.reset();
        controller->setSelectedEvents({});
        document->undoManager().removeAllActions();
        return added;
    }

    std::string writeText(const std::string& name, const std::string& text) {
        const std::string path = folder + "/" + name;
        testing::writeFile(path, Data(text.begin(), text.end()));
        return path;
    }

    UndoManager& undo() { return document->undoManager(); }

    std::shared_ptr<NowEnvironment> environment;
    std::shared_ptr<Document> document;
    std::unique_ptr<ADRFoleyEventArrayController> controller;

private:
    std::shared_ptr<CueEnvironment> previousEnvironment_;
};

TEST_F(ADRFoleyTest, HiddenCueIsTheDocumentsSilentSixtyBpmCue) {
    const auto cue = controller->adrFoleyCue();
    ASSERT_TRUE(cue);
    EXPECT_EQ(cue, document->adrFoleyCue());
    EXPECT_EQ(cue->title(), "(ADR/Foley)");
    EXPECT_EQ(cue->warningBeats(), 0u);
    EXPECT_TRUE(cue->syncTimecode()->isEqual(*timecode("00:00:00:00")));
    ASSERT_EQ(cue->tempoEvents().size(), 1u);
}

TEST_F(ADRFoleyTest, AddEventLocksToNowOrToHourOneAndUndoesInOneStep) {
    const auto atOne = controller->addEvent();
    EXPECT_TRUE(lockedAt(atOne, "01:00:00:00"));
    EXPECT_EQ(atOne->text(), "");
    EXPECT_EQ(atOne->title(), "");
    EXPECT_EQ(undo().undoActionName(), "Add Cue");
    EXPECT_EQ(undo().undoStepCount(), 1u);

    environment->now = timecode("01:02:03:04");
    const auto atNow = controller->addEvent();
    EXPECT_TRUE(lockedAt(atNow, "01:02:03:04"));
    EXPECT_EQ(controller->events(), (Events{atOne, atNow}));
    EXPECT_TRUE(inHiddenCue(atNow));
    EXPECT_EQ(controller->selectedEvents(), Events{atNow});

    undo().undo();
    EXPECT_EQ(controller->events(), Events{atOne});
    EXPECT_FALSE(inHiddenCue(atNow));
    undo().redo();
    EXPECT_EQ(controller->events(), (Events{atOne, atNow}));
    EXPECT_TRUE(inHiddenCue(atNow));
}

TEST_F(ADRFoleyTest, RemoveParksEventsAndUndoReinstatesThem) {
    struct Case {
        size_t selected;
        const char* actionName;
    };
    for (const Case c : {Case{1, "Delete Cue"}, Case{2, "Delete Cues"}}) {
        SCOPED_TRACE(c.actionName);
        document->setAdrFoleyCueData(Value::array());
        const Events events = addEventsAt({"01:00:01:00", "01:00:02:00", "01:00:03:00"});
        const Events selected(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(c.selected));
        controller->setSelectedEvents(selected);
        controller->removeEvents();
        EXPECT_EQ(undo().undoActionName(), c.actionName);
        EXPECT_EQ(controller->events().size(), 3 - c.selected);
        EXPECT_TRUE(controller->selectedEvents().empty());
        EXPECT_EQ(document->undoController().deletedObjects().size(), c.selected);
        for (const auto& event : selected) EXPECT_FALSE(inHiddenCue(event));

        undo().undo();
        EXPECT_EQ(controller->events().size(), 3u);
        EXPECT_TRUE(document->undoController().deletedObjects().empty());
        for (const auto& event : selected) EXPECT_TRUE(inHiddenCue(event));
        undo().redo();
        EXPECT_EQ(controller->events().size(), 3 - c.selected);
        document->undoController().deletedObjects().clear();
    }
}

TEST_F(ADRFoleyTest, ReinstateRegistersDeleteCuesAndIgnoresListedEvents) {
    const Events events = addEventsAt({"01:00:01:00", "01:00:02:00"});
    controller->setSelectedEvents({events[0]});
    controller->removeEvents();
    controller->reinstateEvents(events);
    EXPECT_EQ(controller->events(), (Events{events[1], events[0]}));
    EXPECT_TRUE(document->undoController().deletedObjects().empty());
    EXPECT_EQ(undo().undoActionName(), "Delete Cues");
    undo().undo();
    EXPECT_EQ(controller->events(), Events{events[1]});
}

TEST_F(ADRFoleyTest, NudgesAndLockToNowMoveEverySelectedEventInOneStep) {
    const Events events = addEventsAt({"01:00:01:00", "01:00:02:00", "01:00:03:00"});
    controller->setSelectedEvents({events[0], events[2]});
    controller->nudgeCueForward();
    EXPECT_TRUE(lockedAt(events[0], "01:00:01:01"));
    EXPECT_TRUE(lockedAt(events[1], "01:00:02:00"));
    EXPECT_TRUE(lockedAt(events[2], "01:00:03:01"));
    controller->nudgeCueBackward();
    controller->nudgeCueBackward();
    EXPECT_TRUE(lockedAt(events[0], "01:00:00:29"));
    EXPECT_EQ(undo().undoStepCount(), 3u);

    environment->now = timecode("02:00:00:00");
    controller->lockCueToNow();
    EXPECT_TRUE(lockedAt(events[0], "02:00:00:00"));
    EXPECT_TRUE(lockedAt(events[2], "02:00:00:00"));
    EXPECT_EQ(undo().undoActionName(), "Change Event Lock Time");
    undo().undo();
    EXPECT_TRUE(lockedAt(events[0], "01:00:00:29"));
    EXPECT_TRUE(lockedAt(events[2], "01:00:02:29"));
}

TEST_F(ADRFoleyTest, ToggleEnabledSpreadsOnlyFromASelectedRow) {
    const Events events = addEventsAt({"01:00:01:00", "01:00:02:00", "01:00:03:00"});
    controller->setSelectedEvents({events[0], events[1]});
    // The checkbox of an unselected row changes that row alone.
    events[2]->setEnabled(false);
    controller->toggleSelectionEnabled(events[2]);
    EXPECT_TRUE(events[0]->enabled());
    EXPECT_TRUE(events[1]->enabled());

    events[1]->setEnabled(false);
    controller->toggleSelectionEnabled(events[1]);
    EXPECT_FALSE(events[0]->enabled());
    EXPECT_FALSE(events[1]->enabled());
}

TEST_F(ADRFoleyTest, AllTagsFollowEveryEventsTagsAndSelectByTag) {
    const Events events = addEventsAt({"01:00:01:00", "01:00:02:00", "01:00:03:00"});
    events[0]->setTags({"walla", "dx"});
    events[1]->setTags({"fx"});
    events[2]->setTags({"dx"});
    EXPECT_EQ(controller->allTags(), (std::vector<std::string>{"dx", "fx", "walla"}));
    events[0]->setTags({});
    EXPECT_EQ(controller->allTags(), (std::vector<std::string>{"dx", "fx"}));
    undo().undo();
    EXPECT_EQ(controller->allTags(), (std::vector<std::string>{"dx", "fx", "walla"}));

    controller->setSelectedEvents({events[1]});
    controller->selectByTag("dx");
    EXPECT_EQ(controller->selectedEvents(), (Events{events[1], events[0], events[2]}));
    controller->deselectByTag("fx");
    EXPECT_EQ(controller->selectedEvents(), (Events{events[0], events[2]}));

    controller->removeEvents();
    EXPECT_EQ(controller->allTags(), std::vector<std::string>{"fx"});
    // A removed event's tags no longer count.
    events[2]->setTags({"gone"});
    EXPECT_EQ(controller->allTags(), std::vector<std::string>{"fx"});
}

TEST_F(ADRFoleyTest, SelectedValuesShowNoSelectionMultipleOrCommon) {
    const Events events = addEventsAt({"01:00:01:00", "01:00:02:00"});
    EXPECT_TRUE(controller->selectedValueForKey("streamerFeet").isNoSelection());
    controller->setSelectedEvents(events);
    events[0]->setStreamerFeet(4.0);
    events[1]->setStreamerFeet(5.0);
    EXPECT_TRUE(controller->selectedValueForKey("streamerFeet").isMultipleValues());

    const size_t steps = undo().undoStepCount();
    controller->setSelectedValue(Value(6.5), "streamerFeet");
    EXPECT_EQ(undo().undoStepCount(), steps + 1);
    const auto common = controller->selectedValueForKey("streamerFeet");
    ASSERT_EQ(common.marker, ADRFoleyEventArrayController::SelectedValue::Marker::Value);
    EXPECT_EQ(common.value.toDouble(), 6.5);

    for (const std::string& key : ADRFoleyEventArrayController::selectionKeys()) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(controller->selectedValueForKey(key).isNoSelection());
    }
    controller->setSelectedValue(Value(7), "beepsCount");
    EXPECT_EQ(events[0]->beepsCount(), 7);
    EXPECT_EQ(events[1]->beepsCount(), 7);
    controller->setSelectedValue(Value(false), "enabled");
    EXPECT_FALSE(controller->selectedValueForKey("enabled").value.toBool(true));

    // Equal colours held by different objects agree.
    events[0]->setStreamerColor(Color::calibrated(1, 0, 0));
    events[1]->setStreamerColor(Color::calibrated(1, 0, 0));
    EXPECT_EQ(controller->selectedValueForKey("streamerColor").marker,
              ADRFoleyEventArrayController::SelectedValue::Marker::Value);
    EXPECT_TRUE(controller->selectedValueForKey("noSuchKey").isNoSelection());
}

TEST(ADRFoleyTagsTest, TagsFieldIsTrimmedSplitAndDeduplicated) {
    struct Case {
        const char* field;
        std::vector<std::string> tags;
    };
    for (const Case& c : {Case{" dx , walla,dx ", {"dx", "walla"}}, Case{"   ", {}}, Case{"fx", {"fx"}},
                          Case{"a,,b,", {"a", "b"}}, Case{"\tloop group\n", {"loop group"}}}) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(ADRFoleyEventArrayController::tagsFromField(c.field), c.tags);
    }
}

TEST(ADRFoleyImportCheckTest, NamesTheFirstRowThatWouldImportWrongly) {
    struct Case {
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> columns;
        std::string problem;
    };
    const std::vector<std::string> three{"sync", "cuenumber", "text"};
    for (const Case& c : {
             Case{{{"01:00:10:00", "101", "Hello"}, {" 1:00:11:00.40 "}}, three, ""},
             Case{{{"1000000"}, {"01;00;10;00"}, {"1.2.3.4"}}, three, ""},
             Case{{{"01:00:10:00", "101"}, {"ten past one", "102"}},
                  three,
                  "row 2: 'ten past one' is not a timecode"},
             Case{{{"", "101"}}, three, "row 1: '' is not a timecode"},
             Case{{{"1::2"}}, three, "row 1: '1::2' is not a timecode"},
             Case{{{"1:2:3:4:5:6"}}, three, "row 1: '1:2:3:4:5:6' is not a timecode"},
             Case{{{"1\n2"}}, three, "row 1: '1.2' is not a timecode"},
             Case{{{"a", "b", "c", "d"}}, three, "row 1: 4 fields but 3 columns"},
             Case{{{"any text", "b"}}, {"text", "sync"}, "row 1: 'b' is not a timecode"},
             Case{{{"any text", "b"}}, {"text", "(ignore)"}, ""},
         }) {
        SCOPED_TRACE(c.problem);
        EXPECT_EQ(ADRFoleyEventArrayController::problemWithRows(c.rows, c.columns), c.problem);
    }
}

TEST_F(ADRFoleyTest, ImportFromTextInColumnOrderUndoesInOneStep) {
    const std::string path = writeText("list.csv",
                                       "01:00:10:00;101;Hello\n"
                                       "\n"
                                       "01:00:12:00;102;\"Two; lines\nof text\";dx , walla, dx \n");
    const auto result = controller->finishImportingCSV(path, ";", {"sync", "cuenumber", "text", "tags"});
    ASSERT_TRUE(result.error.empty()) << result.error;
    ASSERT_EQ(result.added.size(), 2u);
    const auto& first = result.added[0];
    EXPECT_TRUE(lockedAt(first, "01:00:10:00"));
    EXPECT_EQ(first->title(), "101");
    EXPECT_EQ(first->text(), "Hello");
    EXPECT_TRUE(first->tags().empty());
    EXPECT_EQ(result.added[1]->text(), "Two; lines\nof text");
    EXPECT_EQ(result.added[1]->tags(), (std::vector<std::string>{"dx", "walla"}));
    EXPECT_TRUE(inHiddenCue(first));
    EXPECT_EQ(controller->allTags(), (std::vector<std::string>{"dx", "walla"}));

    EXPECT_EQ(undo().undoStepCount(), 1u);
    EXPECT_EQ(undo().undoActionName(), "Import from Text");
    undo().undo();
    EXPECT_TRUE(controller->events().empty());
    EXPECT_FALSE(inHiddenCue(first));
    undo().redo();
    EXPECT_EQ(controller->events(), result.added);
}

TEST_F(ADRFoleyTest, ImportIgnoresUnknownColumnsAndFieldsPastTheColumns) {
    const std::string path = writeText("wide.txt", "a\tb\tc\td\te\n");
    const auto result = controller->finishImportingCSV(path, "\t", {"text", "(ignore-1)", "cuenumber"});
    ASSERT_EQ(result.added.size(), 1u);
    EXPECT_EQ(result.added[0]->text(), "a");
    EXPECT_EQ(result.added[0]->title(), "c");
    EXPECT_TRUE(lockedAt(result.added[0], "01:00:00:00"));
}

TEST_F(ADRFoleyTest, UnreadableFileImportsNothingAndRegistersNoStep) {
    const std::string path = writeText("binary.csv", std::string("a\0b\0", 4));
    for (const std::string& bad : {path, folder + "/missing.csv"}) {
        const auto result = controller->finishImportingCSV(bad, ",", {"text"});
        EXPECT_FALSE(result.error.empty());
        EXPECT_TRUE(result.added.empty());
    }
    EXPECT_TRUE(controller->events().empty());
    EXPECT_FALSE(undo().canUndo());
}

TEST_F(ADRFoleyTest, QueuedFilesImportOneAfterAnotherEachWithItsDialog) {
    const std::string first = writeText("first.csv", "one\n");
    const std::string second = writeText("second.csv", "two\n");
    std::vector<std::string> dialogs;
    controller->setImportDialogOpener([&](const std::string& path) { dialogs.push_back(path); });

    controller->importCSV({first, second});
    EXPECT_EQ(dialogs, std::vector<std::string>{first});
    EXPECT_EQ(controller->pendingCSVImports(), std::vector<std::string>{second});
    // Cancelling the first leaves the second queued.
    controller->cancelImportingCSV();
    EXPECT_EQ(controller->pendingCSVImports(), std::vector<std::string>{second});

    EXPECT_TRUE(controller->startImportingCSV());
    EXPECT_EQ(dialogs.back(), second);
    controller->finishImportingCSV(second, ",", {"text"});
    EXPECT_TRUE(controller->pendingCSVImports().empty());
    EXPECT_FALSE(controller->startImportingCSV());

    controller->importCSV({first, second});
    controller->finishImportingCSV(first, ",", {"text"});
    EXPECT_EQ(dialogs.back(), second) << "finishing one import opens the next";
    EXPECT_EQ(controller->events().size(), 2u);
}

TEST_F(ADRFoleyTest, ImportDialogFitsColumnsToRowsAndImportsInTheDraggedOrder) {
    const std::string path = writeText("dialog.csv", "101|01:00:10:00|Hello|dx|x|y\n102|01:00:11:00|Bye\n");
    ImportCSVWindowController dialog(*controller, path);
    EXPECT_EQ(dialog.fileName(), "dialog.csv");
    EXPECT_EQ(dialog.delimiter(), ",");
    EXPECT_EQ(dialog.rows().size(), 2u);
    EXPECT_EQ(dialog.columnIdentifiers(), (std::vector<std::string>{"cuenumber", "sync", "tags", "text"}));

    dialog.selectDelimiterTag('|');
    EXPECT_EQ(dialog.delimiter(), "|");
    ASSERT_EQ(dialog.columns().size(), 6u);
    EXPECT_EQ(dialog.columns()[4].title, "(ignore)");
    EXPECT_NE(dialog.columns()[4].identifier, dialog.columns()[5].identifier);

    dialog.selectDelimiterTag(ImportCSVWindowController::kCustomDelimiterTag);
    EXPECT_TRUE(dialog.customDelimiterFieldVisible());
    dialog.setCustomDelimiter("1|");
    EXPECT_EQ(dialog.delimiter(), "1|");
    EXPECT_EQ(dialog.columns().size(), 4u) << "no row is longer than four fields now";
    dialog.selectDelimiterTag('|');

    // The file's order: cue number, sync, text, tags.
    dialog.moveColumn(3, 2);
    const auto result = dialog.ok();
    ASSERT_EQ(result.added.size(), 2u);
    EXPECT_EQ(result.added[0]->title(), "101");
    EXPECT_TRUE(lockedAt(result.added[0], "01:00:10:00"));
    EXPECT_EQ(result.added[0]->text(), "Hello");
    EXPECT_EQ(result.added[0]->tags(), std::vector<std::string>{"dx"});
    EXPECT_EQ(result.added[1]->text(), "Bye");
}

TEST_F(ADRFoleyTest, ImportDialogKeepsItsPreviewWhenTheFileCannotBeRead) {
    const std::string path = writeText("gone.csv", "a,b,c,d,e\n");
    ImportCSVWindowController dialog(*controller, path);
    EXPECT_EQ(dialog.columns().size(), 5u);
    std::filesystem::remove(path);
    dialog.selectDelimiterTag(';');
    EXPECT_TRUE(loggedLine("Error parsing text file: No such file or directory"));
    EXPECT_EQ(dialog.rows().size(), 1u);
    EXPECT_EQ(dialog.columns().size(), 5u);

    ImportCSVWindowController empty(*controller, std::nullopt);
    EXPECT_EQ(empty.fileName(), "(no file)");
    EXPECT_TRUE(empty.ok().added.empty());
}

}  // namespace
}  // namespace tollvane
