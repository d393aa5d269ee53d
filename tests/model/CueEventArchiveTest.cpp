#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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
#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

using Kind = ArchiveField::Kind;
using Type = Value::Type;

std::shared_ptr<EMTimecode> timecode(const char* text) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), text);
}

template <class Event>
std::shared_ptr<Event> roundTrip(const std::shared_ptr<Event>& event) {
    const Data data = KeyedArchiver::archivedDataWithRootObject(Value(event));
    return KeyedUnarchiver::unarchivedObjectWithData(data).template object<Event>();
}

// A record written by hand under an event class's name, for files from
// other versions.
class HandWrittenRecord : public Archivable {
public:
    HandWrittenRecord(std::string className, std::function<void(KeyedArchiver&)> write)
        : className_(std::move(className)), write_(std::move(write)) {}
    std::string archiveClassName() const override { return className_; }
    std::vector<std::string> archiveClassChain() const override {
        return {className_, "CueEvent", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override { write_(coder); }

private:
    std::string className_;
    std::function<void(KeyedArchiver&)> write_;
};

template <class Event>
std::shared_ptr<Event> decodeRecord(const char* className, std::function<void(KeyedArchiver&)> write) {
    auto record = std::make_shared<HandWrittenRecord>(className, std::move(write));
    const Data data = KeyedArchiver::archivedDataWithRootObject(Value(record));
    return KeyedUnarchiver::unarchivedObjectWithData(data).template object<Event>();
}

void writeBaseKeys(KeyedArchiver& coder, int32_t lockType = CueEvent::kLockTypeBeat) {
    coder.encodeInt(lockType, "lockType");
    coder.encodeObject(Value(3), "lockBar");
    coder.encodeObject(Value(160.0), "lockPrerollShiftedBeats");
    coder.encodeObject(Value(), "lockTimecode");
}

class CueEventArchiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CueEvent::registerArchiveClasses(); }
};

TEST_F(CueEventArchiveTest, EveryKindSurvivesARoundTrip) {
    auto red = Color::calibrated(1, 0, 0);
    auto green = Color::calibrated(0, 1, 0);

    auto streamer = CueEventStreamer::streamerEventWithCue(nullptr, red, 2.5f, 0.75f, 12.0);
    streamer->setLockType(CueEvent::kLockTypeTimecode);
    streamer->setLockBar(4);
    streamer->setLockTimecode(timecode("1:00:10:05"));
    auto streamerBack = roundTrip(streamer);
    ASSERT_NE(streamerBack, nullptr);
    EXPECT_EQ(streamerBack->lockType(), CueEvent::kLockTypeTimecode);
    EXPECT_EQ(streamerBack->lockBar(), 4);
    EXPECT_EQ(streamerBack->lockPrerollShiftedBeats(), 140.0);
    ASSERT_NE(streamerBack->lockTimecode(), nullptr);
    EXPECT_EQ(*streamerBack->lockTimecode(), *streamer->lockTimecode());
    EXPECT_EQ(*streamerBack->color(), *red);
    EXPECT_EQ(streamerBack->feet(), 2.5f);
    EXPECT_EQ(streamerBack->width(), 0.75f);
    EXPECT_EQ(streamerBack->cue(), nullptr);
    EXPECT_FALSE(streamerBack->lockTimesAreUpdatingAutomatically());

    auto punch = CueEventPunch::punchEventWithCue(nullptr, green, 5, 2.0f, 1.0);
    auto punchBack = roundTrip(punch);
    ASSERT_NE(punchBack, nullptr);
    EXPECT_EQ(*punchBack->color(), *green);
    EXPECT_EQ(punchBack->holes(), 5);
    EXPECT_EQ(punchBack->width(), 2.0f);
    EXPECT_EQ(punchBack->lockPrerollShiftedBeats(), 129.0);

    // The bpm is stored in single precision and comes back as typed.
    auto tempo = CueEventTempoChange::tempoChangeEventWithCue(nullptr, 120.123, 8, 16.0);
    auto tempoBack = roundTrip(tempo);
    ASSERT_NE(tempoBack, nullptr);
    EXPECT_EQ(tempoBack->bpm(), 120.123);
    EXPECT_EQ(tempoBack->noteDuration(), 8);

    auto meter = CueEventMeterChange::meterChangeWithCue(nullptr, TimeSignature{7, 8}, 8, 5);
    meter->setBarPunchEnabled(true);
    meter->setBarPunchColor(red);
    meter->setBarPunchHoles(2);
    meter->setBeatPunchEnabled(true);
    meter->setBeatPunchColor(green);
    meter->setBeatPunchHoles(4);
    auto meterBack = roundTrip(meter);
    ASSERT_NE(meterBack, nullptr);
    EXPECT_EQ(meterBack->lockType(), CueEvent::kLockTypeBar);
    EXPECT_EQ(meterBack->lockBar(), 5);
    EXPECT_EQ(meterBack->meter(), (TimeSignature{7, 8}));
    EXPECT_EQ(meterBack->clickNoteDuration(), 8);
    EXPECT_TRUE(meterBack->barPunchEnabled());
    EXPECT_EQ(*meterBack->barPunchColor(), *red);
    EXPECT_EQ(meterBack->barPunchHoles(), 2);
    EXPECT_TRUE(meterBack->beatPunchEnabled());
    EXPECT_EQ(*meterBack->beatPunchColor(), *green);
    EXPECT_EQ(meterBack->beatPunchHoles(), 4);

    auto click = CueEventClickChange::clickChangeWithCue(nullptr, 8, 4.0);
    click->setChangeClick(false);
    click->setClickPattern({2, 2, 3});
    click->setChangePunches(true);
    click->setBarPunchEnabled(true);
    click->setBarPunchColor(green);
    click->setBarPunchHoles(6);
    click->setBeatPunchNoteDuration(10);
    click->setBeatPunchColor(red);
    click->setBeatPunchHoles(2);
    auto clickBack = roundTrip(click);
    ASSERT_NE(clickBack, nullptr);
    EXPECT_FALSE(clickBack->changeClick());
    EXPECT_EQ(clickBack->clickNoteDuration(), 8);
    EXPECT_EQ(clickBack->clickPattern(), (std::vector<uint32_t>{2, 2, 3}));
    EXPECT_TRUE(clickBack->changePunches());
    EXPECT_TRUE(clickBack->barPunchEnabled());
    EXPECT_EQ(*clickBack->barPunchColor(), *green);
    EXPECT_EQ(clickBack->barPunchHoles(), 6);
    EXPECT_EQ(clickBack->beatPunchNoteDuration(), 10);
    EXPECT_EQ(*clickBack->beatPunchColor(), *red);
    EXPECT_EQ(clickBack->beatPunchHoles(), 2);
    EXPECT_EQ(clickBack->lockPrerollShiftedBeats(), 132.0);

    auto countoff = CueEventCountoff::countoffEventWithCue(nullptr, 8.0, 2, 8, false, true, false, true);
    countoff->setStreamerColorIntoLockTime(red);
    auto countoffBack = roundTrip(countoff);
    ASSERT_NE(countoffBack, nullptr);
    EXPECT_EQ(countoffBack->eventProxy(), countoff->eventProxy());
    EXPECT_EQ(*countoffBack->streamerColorIntoLockTime(), *red);

    auto sound = CueEventSoundCue::soundCueEventWithCue(nullptr, "Door");
    sound->setTitle("F12");
    sound->setTags({"Foley", "door"});
    sound->setEnabled(false);
    sound->setStreamerEnabled(false);
    sound->setStreamerFeet(4.5);
    sound->setStreamerColor(green);
    sound->setBeepsEnabled(true);
    sound->setBeepsCount(5);
    sound->setBeepsSeconds(2.5);
    sound->setBeepOnCuePoint(true);
    sound->setPunchOnEachBeep(false);
    auto soundBack = roundTrip(sound);
    ASSERT_NE(soundBack, nullptr);
    EXPECT_EQ(soundBack->lockType(), CueEvent::kLockTypeTimecode);
    EXPECT_EQ(*soundBack->lockTimecode(), *sound->lockTimecode());
    EXPECT_EQ(soundBack->title(), "F12");
    EXPECT_EQ(soundBack->text(), "Door");
    EXPECT_EQ(soundBack->tags(), (std::vector<std::string>{"Foley", "door"}));
    EXPECT_FALSE(soundBack->enabled());
    EXPECT_FALSE(soundBack->streamerEnabled());
    EXPECT_EQ(soundBack->streamerFeet(), 4.5);
    EXPECT_EQ(*soundBack->streamerColor(), *green);
    EXPECT_TRUE(soundBack->beepsEnabled());
    EXPECT_EQ(soundBack->beepsCount(), 5);
    EXPECT_EQ(soundBack->beepsSeconds(), 2.5);
    EXPECT_TRUE(soundBack->beepOnCuePoint());
    EXPECT_FALSE(soundBack->punchOnEachBeep());

    auto barNumber = CueEventBarNumberChange::barNumberChangeEventWithCue(nullptr, 4.0);
    barNumber->setBarNumber("12A");
    auto barNumberBack = roundTrip(barNumber);
    ASSERT_NE(barNumberBack, nullptr);
    EXPECT_EQ(barNumberBack->barNumber(), std::optional<std::string>("12A"));
    EXPECT_FALSE(roundTrip(CueEventBarNumberChange::barNumberChangeEventWithCue(nullptr, 0.0))->barNumber());

    auto end = CueEventCueEnd::cueEndEventWithCue(nullptr);
    end->setStreamerColor(green);
    end->setAutoFollow(true);
    end->setAutoFollowCueNumber("3m2");
    auto endBack = roundTrip(end);
    ASSERT_NE(endBack, nullptr);
    EXPECT_EQ(*endBack->streamerColor(), *green);
    EXPECT_TRUE(endBack->autoFollow());
    EXPECT_EQ(endBack->autoFollowCueNumber(), "3m2");

    auto musicIn = CueEventMusicIn::musicInEventWithCue(nullptr);
    musicIn->setLockPrerollShiftedBeats(144.0);
    auto musicInBack = roundTrip(musicIn);
    ASSERT_NE(musicInBack, nullptr);
    EXPECT_EQ(musicInBack->lockPrerollShiftedBeats(), 144.0);
}

// The keys each kind writes, in order, with the form each is stored in.
TEST_F(CueEventArchiveTest, RecordsHoldTheKeysInTheirStoredForms) {
    struct Field {
        const char* key;
        Kind kind;
        Type type;
    };
    const std::vector<Field> base{{"lockType", Kind::Inline, Type::Integer},
                                  {"lockBar", Kind::Reference, Type::Integer},
                                  {"lockPrerollShiftedBeats", Kind::Reference, Type::Real},
                                  {"lockTimecode", Kind::Reference, Type::Object}};
    struct Case {
        std::shared_ptr<CueEvent> event;
        std::vector<Field> fields;
    };
    auto withTimecode = [](std::shared_ptr<CueEvent> event) {
        event->setLockTimecode(timecode("1:00:00:00"));
        return event;
    };
    auto countoff = CueEventCountoff::countoffEventWithCue(nullptr, 0.0);
    countoff->setStreamerColorIntoFirstBeat(Color::calibrated(1, 0, 0));
    countoff->setStreamerColorIntoLockTime(Color::calibrated(0, 1, 0));
    auto end = CueEventCueEnd::cueEndEventWithCue(nullptr);
    end->setStreamerColor(Color::calibrated(1, 0, 0));
    end->setAutoFollow(true);
    end->setAutoFollowCueNumber("2");
    auto barNumber = CueEventBarNumberChange::barNumberChangeEventWithCue(nullptr, 0.0);
    barNumber->setBarNumber("7");
    auto sound = CueEventSoundCue::soundCueEventWithCue(nullptr, "x");
    sound->setStreamerColor(Color::calibrated(1, 1, 0));
    const Case cases[] = {
        {withTimecode(CueEventStreamer::streamerEventWithCue(nullptr, nullptr, 3, 1, 0)),
         {{"color", Kind::Reference, Type::Object},
          {"feet", Kind::Inline, Type::Real},
          {"width", Kind::Inline, Type::Real}}},
        {withTimecode(CueEventPunch::punchEventWithCue(nullptr, nullptr, 3, 1, 0)),
         {{"color", Kind::Reference, Type::Object},
          {"holes", Kind::Inline, Type::Integer},
          {"width", Kind::Inline, Type::Real}}},
        {withTimecode(CueEventTempoChange::tempoChangeEventWithCue(nullptr, 100, 6, 0)),
         {{"bpm", Kind::Inline, Type::Real}, {"noteDuration", Kind::Inline, Type::Integer}}},
        {withTimecode(CueEventMeterChange::meterChangeWithCue(nullptr, {}, 6, 1)),
         {{"numerator", Kind::Inline, Type::Integer},
          {"denominator", Kind::Inline, Type::Integer},
          {"clickNoteDuration", Kind::Inline, Type::Integer},
          {"barPunchEnabled", Kind::Inline, Type::Bool},
          {"barPunchColor", Kind::Reference, Type::Object},
          {"barPunchHoles", Kind::Inline, Type::Integer},
          {"beatPunchEnabled", Kind::Inline, Type::Bool},
          {"beatPunchColor", Kind::Reference, Type::Object},
          {"beatPunchHoles", Kind::Inline, Type::Integer}}},
        {withTimecode(CueEventClickChange::clickChangeEventWithCue(nullptr, 0)),
         {{"changeClick", Kind::Reference, Type::Bool},
          {"clickNoteDuration", Kind::Inline, Type::Integer},
          {"clickPattern", Kind::Reference, Type::Array},
          {"changePunches", Kind::Reference, Type::Bool},
          {"barPunchEnabled", Kind::Inline, Type::Bool},
          {"barPunchColor", Kind::Reference, Type::Object},
          {"barPunchHoles", Kind::Inline, Type::Integer},
          {"beatPunchNoteDuration", Kind::Inline, Type::Integer},
          {"beatPunchColor", Kind::Reference, Type::Object},
          {"beatPunchHoles", Kind::Inline, Type::Integer}}},
        {withTimecode(countoff),
         {{"countoffBeats", Kind::Reference, Type::Integer},
          {"countoffNoteDuration", Kind::Reference, Type::Integer},
          {"audioClick", Kind::Reference, Type::Bool},
          {"punchClick", Kind::Reference, Type::Bool},
          {"streamerIntoFirstBeat", Kind::Reference, Type::Bool},
          {"streamerIntoLockTime", Kind::Reference, Type::Bool},
          {"streamerColorIntoFirstBeat", Kind::Reference, Type::Object},
          {"streamerColorIntoLockTime", Kind::Reference, Type::Object}}},
        {sound,
         {{"title", Kind::Reference, Type::String},
          {"text", Kind::Reference, Type::String},
          {"tags", Kind::Reference, Type::Array},
          {"enabled", Kind::Reference, Type::Bool},
          {"streamerEnabled", Kind::Reference, Type::Bool},
          {"streamerColor", Kind::Reference, Type::Data},
          {"streamerFeet", Kind::Reference, Type::Real},
          {"beepsEnabled", Kind::Reference, Type::Bool},
          {"beepsCount", Kind::Reference, Type::Integer},
          {"beepsSeconds", Kind::Reference, Type::Real},
          {"beepOnCuePoint", Kind::Reference, Type::Bool},
          {"punchOnEachBeep", Kind::Reference, Type::Bool}}},
        {withTimecode(barNumber), {{"barNumber", Kind::Reference, Type::String}}},
        {withTimecode(end),
         {{"streamerColor", Kind::Reference, Type::Object},
          {"autoFollow", Kind::Reference, Type::Bool},
          {"autoFollowCueNumber", Kind::Reference, Type::String}}},
        {withTimecode(CueEventMusicIn::musicInEventWithCue(nullptr)), {}},
    };
    for (const Case& c : cases) {
        const std::string className = c.event->archiveClassName();
        SCOPED_TRACE(className);
        ArchiveFields fields;
        std::vector<std::string> chain;
        const ArchiveClassRegistry::Factory original = *ArchiveClassRegistry::factoryForClass(className);
        ArchiveClassRegistry::registerClass(className,
                                            [&](KeyedUnarchiver& coder) -> std::shared_ptr<Archivable> {
                                                fields = coder.decodeAllFields();
                                                chain = coder.classChain();
                                                return nullptr;
                                            });
        KeyedUnarchiver::unarchivedObjectWithData(KeyedArchiver::archivedDataWithRootObject(Value(c.event)));
        ArchiveClassRegistry::registerClass(className, original);

        EXPECT_EQ(chain, (std::vector<std::string>{className, "CueEvent", "NSObject"}));
        std::vector<Field> expected = base;
        expected.insert(expected.end(), c.fields.begin(), c.fields.end());
        ASSERT_EQ(fields.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(fields[i].first, expected[i].key);
            EXPECT_EQ(fields[i].second.kind, expected[i].kind) << expected[i].key;
            EXPECT_EQ(fields[i].second.value.type(), expected[i].type) << expected[i].key;
        }
    }
}

TEST_F(CueEventArchiveTest, OlderMeterChangesGetWhitePunchesAndTheirHoleCounts) {
    auto meter = decodeRecord<CueEventMeterChange>("CueEventMeterChange", [](KeyedArchiver& coder) {
        writeBaseKeys(coder, CueEvent::kLockTypeBar);
        coder.encodeInt(6, "numerator");
        coder.encodeInt(8, "denominator");
        coder.encodeInt(-2, "clickNoteDuration");
        coder.encodeInt(0, "barPunchHoles");
        coder.encodeInt(0, "beatPunchHoles");
    });
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(meter->meter(), (TimeSignature{6, 8}));
    EXPECT_EQ(meter->clickNoteDuration(), -2);
    EXPECT_EQ(meter->lockBar(), 3);
    EXPECT_EQ(meter->lockPrerollShiftedBeats(), 160.0);
    EXPECT_EQ(meter->barPunchHoles(), 3);
    EXPECT_EQ(meter->beatPunchHoles(), 1);
    EXPECT_EQ(*meter->barPunchColor(), *Color::calibrated(1, 1, 1));
    EXPECT_EQ(*meter->beatPunchColor(), *Color::calibrated(1, 1, 1));
    EXPECT_FALSE(meter->barPunchEnabled());
}

TEST_F(CueEventArchiveTest, AMeterChangeStoredWithAnotherLockTypeReadsBackBarLocked) {
    auto meter = decodeRecord<CueEventMeterChange>("CueEventMeterChange", [](KeyedArchiver& coder) {
        writeBaseKeys(coder, CueEvent::kLockTypeTimecode);
    });
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(meter->lockType(), CueEvent::kLockTypeBar);
}

TEST_F(CueEventArchiveTest, OlderClickChangesGetTheirFixUps) {
    struct Case {
        std::function<void(KeyedArchiver&)> beatPunch;
        int32_t expected;
    };
    const Case cases[] = {
        {[](KeyedArchiver& coder) { coder.encodeBool(true, "beatPunchNoteDuration"); }, 6},
        {[](KeyedArchiver& coder) { coder.encodeBool(false, "beatPunchNoteDuration"); }, 0},
        {[](KeyedArchiver& coder) { coder.encodeInt(8, "beatPunchNoteDuration"); }, 8},
        {[](KeyedArchiver& coder) { coder.encodeInt(-1, "beatPunchNoteDuration"); }, -1},
        {[](KeyedArchiver&) {}, -1},
    };
    for (const Case& c : cases) {
        auto click = decodeRecord<CueEventClickChange>("CueEventClickChange", [&](KeyedArchiver& coder) {
            writeBaseKeys(coder);
            coder.encodeObject(Value(true), "changeClick");
            coder.encodeInt(8, "clickNoteDuration");
            c.beatPunch(coder);
        });
        ASSERT_NE(click, nullptr);
        EXPECT_EQ(click->beatPunchNoteDuration(), c.expected);
        EXPECT_TRUE(click->clickPattern().empty());
        EXPECT_EQ(click->clickNoteDuration(), 8);
        EXPECT_EQ(click->barPunchHoles(), 3);
        EXPECT_EQ(click->beatPunchHoles(), 1);
        EXPECT_EQ(*click->barPunchColor(), *Color::calibrated(1, 1, 1));
        EXPECT_EQ(*click->beatPunchColor(), *Color::calibrated(1, 1, 1));
    }
}

TEST_F(CueEventArchiveTest, DecodingRestoresLockTimesWithoutRaisingThemOrRecordingAnEdit) {
    // A timecode-locked tempo change that lay before the cue's start.
    auto tempo = decodeRecord<CueEventTempoChange>("CueEventTempoChange", [](KeyedArchiver& coder) {
        coder.encodeInt(CueEvent::kLockTypeTimecode, "lockType");
        coder.encodeObject(Value(-2), "lockBar");
        coder.encodeObject(Value(96.0), "lockPrerollShiftedBeats");
        coder.encodeObject(Value(timecode("0:59:58:00")), "lockTimecode");
        coder.encodeFloat(132.5f, "bpm");
        coder.encodeInt(6, "noteDuration");
        coder.encodeObject(Value("kept by newer versions"), "someLaterKey");
    });
    ASSERT_NE(tempo, nullptr);
    EXPECT_EQ(tempo->lockType(), CueEvent::kLockTypeTimecode);
    EXPECT_EQ(tempo->lockBar(), -2);
    EXPECT_EQ(tempo->lockPrerollShiftedBeats(), 96.0);
    EXPECT_EQ(tempo->lockTimecode()->stringRepresentation(), "0:59:58:00");
    EXPECT_EQ(tempo->bpm(), 132.5);
    EXPECT_FALSE(tempo->lockTimesAreUpdatingAutomatically());
    EXPECT_EQ(tempo->cue(), nullptr);
}

TEST_F(CueEventArchiveTest, SoundCueColoursAreStoredAsColourData) {
    auto fromData = decodeRecord<CueEventSoundCue>("CueEventSoundCue", [](KeyedArchiver& coder) {
        writeBaseKeys(coder, CueEvent::kLockTypeTimecode);
        coder.encodeObject(Value(Color::calibrated(0, 0, 1)->archivedData()), "streamerColor");
    });
    ASSERT_NE(fromData, nullptr);
    ASSERT_NE(fromData->streamerColor(), nullptr);
    EXPECT_EQ(*fromData->streamerColor(), *Color::calibrated(0, 0, 1));

    // A colour object where data belongs is read as well.
    auto fromObject = decodeRecord<CueEventSoundCue>("CueEventSoundCue", [](KeyedArchiver& coder) {
        writeBaseKeys(coder, CueEvent::kLockTypeTimecode);
        coder.encodeObject(Value(Color::calibrated(0, 1, 1)), "streamerColor");
    });
    ASSERT_NE(fromObject, nullptr);
    EXPECT_EQ(*fromObject->streamerColor(), *Color::calibrated(0, 1, 1));
}

TEST_F(CueEventArchiveTest, WrongTypesRefuseTheArchive) {
    EXPECT_THROW(
        decodeRecord<CueEventStreamer>(
            "CueEventStreamer", [](KeyedArchiver& coder) { coder.encodeObject(Value("x"), "lockType"); }),
        ArchiveError);
    // Out-of-range numbers are saturated into their fields.
    auto meter = decodeRecord<CueEventMeterChange>("CueEventMeterChange", [](KeyedArchiver& coder) {
        writeBaseKeys(coder, CueEvent::kLockTypeBar);
        coder.encodeInt(70000, "numerator");
        coder.encodeInt(-4, "denominator");
        coder.encodeInt(int64_t{1} << 40, "clickNoteDuration");
    });
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(meter->meter(), (TimeSignature{65535, 0}));
    EXPECT_EQ(meter->clickNoteDuration(), INT32_MAX);
}

}  // namespace
}  // namespace tollvane
