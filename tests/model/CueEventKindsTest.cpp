#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CueEventTestSupport.h"
#include "model/CueEnvironment.h"
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
#include "platform/NotificationCenter.h"
#include "platform/archive/Color.h"

namespace tollvane {
namespace {

using EventPtr = std::shared_ptr<CueEvent>;
using Maker = std::function<EventPtr(const std::shared_ptr<Cue>&)>;

template <class Kind>
Kind& as(CueEvent& event) {
    return dynamic_cast<Kind&>(event);
}
template <class Kind>
const Kind& as(const CueEvent& event) {
    return dynamic_cast<const Kind&>(event);
}

Value dictionary(std::initializer_list<std::pair<const char*, Value>> entries) {
    Value result = Value::dictionary();
    for (const auto& [key, value] : entries) result.dictionaryValue()->set(key, value);
    return result;
}

std::shared_ptr<Color> defaultsColor(const char* key) {
    return Color::fromArchivedData(UserDefaults::standardUserDefaults().dataForKey(key));
}

// Colours by value: read-time defaults hand out a new object on each read.
Value colorText(const std::shared_ptr<Color>& color) {
    if (!color) return Value();
    const Color::RGBA& rgb = color->calibratedRGB();
    return Value(std::to_string(rgb.red) + " " + std::to_string(rgb.green) + " " + std::to_string(rgb.blue) +
                 " " + std::to_string(rgb.alpha));
}

template <class T>
T readAt(const std::vector<uint8_t>& block, size_t offset) {
    T value;
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

const Maker kStreamer = [](const auto& cue) {
    return CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 4.0);
};
const Maker kPunch = [](const auto& cue) {
    return CueEventPunch::punchEventWithCue(cue, nullptr, 3, 1.0f, 4.0);
};
const Maker kTempo = [](const auto& cue) {
    return CueEventTempoChange::tempoChangeEventWithCue(cue, 120.0, 6, 4.0);
};
const Maker kMeter = [](const auto& cue) {
    return CueEventMeterChange::meterChangeWithCue(cue, TimeSignature{4, 4}, 6, 2);
};
const Maker kClick = [](const auto& cue) { return CueEventClickChange::clickChangeEventWithCue(cue, 4.0); };
const Maker kCountoff = [](const auto& cue) { return CueEventCountoff::countoffEventWithCue(cue, 4.0); };
const Maker kSound = [](const auto& cue) { return CueEventSoundCue::soundCueEventWithCue(cue, "line"); };
const Maker kBarNumber = [](const auto& cue) {
    return CueEventBarNumberChange::barNumberChangeEventWithCue(cue, 4.0);
};
const Maker kEnd = [](const auto& cue) { return CueEventCueEnd::cueEndEventWithCue(cue); };
const Maker kMusicIn = [](const auto& cue) { return CueEventMusicIn::musicInEventWithCue(cue); };

using CueEventKindsTest = CueEventTestBase;

TEST_F(CueEventKindsTest, EachKindHasItsPriorityTypeStringProxyCodeAndLockTypes) {
    struct Case {
        Maker make;
        int32_t priority;
        const char* typeString;
        uint32_t proxyCode;
        bool beat, bar, timecode;
        int32_t lockType;
    };
    const Case cases[] = {
        {kCountoff, 10, "Countoff", fourCharCode("ctff"), true, true, false, CueEvent::kLockTypeBeat},
        {kSound, 20, "ADR/Foley Cue", fourCharCode("scue"), false, false, true, CueEvent::kLockTypeTimecode},
        {kBarNumber, 80, "Bar Number Change", fourCharCode("b#ch"), true, true, true,
         CueEvent::kLockTypeBeat},
        {kMeter, 100, "Meter Change", fourCharCode("metr"), false, true, false, CueEvent::kLockTypeBar},
        {kClick, 101, "Click Change", fourCharCode("clix"), true, true, true, CueEvent::kLockTypeBeat},
        {kTempo, 200, "Tempo Change", fourCharCode("tmpo"), true, true, true, CueEvent::kLockTypeBeat},
        {kStreamer, 500, "Streamer", fourCharCode("stmr"), true, true, true, CueEvent::kLockTypeBeat},
        {kPunch, 600, "Punch", fourCharCode("pnch"), true, true, true, CueEvent::kLockTypeBeat},
        {kEnd, 99999, "Event", fourCharCode("end "), true, true, true, CueEvent::kLockTypeBeat},
        {kMusicIn, 99999, "Event", fourCharCode("mxin"), true, true, true, CueEvent::kLockTypeBeat},
    };
    for (const Case& c : cases) {
        EventPtr event = c.make(nullptr);
        SCOPED_TRACE(c.typeString);
        EXPECT_EQ(event->sortPriority(), c.priority);
        EXPECT_EQ(event->eventTypeString(), c.typeString);
        EXPECT_EQ(event->proxyCode(), c.proxyCode);
        EXPECT_EQ(event->canLockToBeat(), c.beat);
        EXPECT_EQ(event->canLockToBar(), c.bar);
        EXPECT_EQ(event->canLockToTimecode(), c.timecode);
        EXPECT_EQ(event->lockType(), c.lockType);
        EXPECT_EQ(event->archiveClassChain(),
                  (std::vector<std::string>{event->archiveClassName(), "CueEvent", "NSObject"}));
    }
    EXPECT_FALSE(
        CueEventMeterChange::meterChangeWithCue(nullptr, {}, 6, 1)->lockTimesShouldUpdateImmediately());
    EXPECT_TRUE(kStreamer(nullptr)->lockTimesShouldUpdateImmediately());
}

TEST_F(CueEventKindsTest, FactoriesPlaceEventsAtTheTimeStampPlus128) {
    auto red = Color::calibrated(1, 0, 0);
    auto streamer = CueEventStreamer::streamerEventWithCue(cue, red, 2.5f, 0.5f, 10.0);
    EXPECT_EQ(streamer->lockPrerollShiftedBeats(), 138.0);
    EXPECT_EQ(streamer->color(), red);
    EXPECT_EQ(streamer->feet(), 2.5f);
    EXPECT_EQ(streamer->width(), 0.5f);
    // No colour given: white.
    EXPECT_EQ(*CueEventPunch::punchEventWithCue(cue, nullptr, 5, 2.0f, 1.0)->color(),
              *Color::calibrated(1, 1, 1));

    auto tempo = CueEventTempoChange::tempoChangeEventWithCue(cue, 120.12345, 8, 3.0);
    EXPECT_EQ(tempo->bpm(), 120.123);
    EXPECT_EQ(tempo->lockPrerollShiftedBeats(), 131.0);

    // The click change's position passes through single precision.
    auto click = CueEventClickChange::clickChangeEventWithCue(cue, 0.1);
    EXPECT_EQ(click->lockPrerollShiftedBeats(), static_cast<double>(static_cast<float>(128.1)));
    EXPECT_EQ(click->clickNoteDuration(), 6);

    // Without a sequence the bar of any position is -32.
    auto meter = CueEventMeterChange::meterChangeEventWithCue(nullptr, TimeSignature{3, 4}, 8.0);
    EXPECT_EQ(meter->lockBar(), -32);
    EXPECT_EQ(meter->clickNoteDuration(), -2);

    auto countoff = CueEventCountoff::countoffEventWithCue(cue, 2.0, 2, 8, false, true, false, true);
    EXPECT_EQ(countoff->lockPrerollShiftedBeats(), 130.0);
    EXPECT_EQ(countoff->eventProxy(), dictionary({{"type", Value(fourCharCode("ctff"))},
                                                  {"countoffBeats", Value(2)},
                                                  {"countoffNoteDuration", Value(8)},
                                                  {"audioClick", Value(false)},
                                                  {"punchClick", Value(true)},
                                                  {"streamerIntoFirstBeat", Value(false)},
                                                  {"streamerIntoLockTime", Value(true)}}));
    EXPECT_EQ(CueEventCountoff::countoffEventWithCue(cue, 0.0)->eventProxy(),
              dictionary({{"type", Value(fourCharCode("ctff"))},
                          {"countoffBeats", Value(4)},
                          {"countoffNoteDuration", Value(6)},
                          {"audioClick", Value(true)},
                          {"punchClick", Value(false)},
                          {"streamerIntoFirstBeat", Value(true)},
                          {"streamerIntoLockTime", Value(true)}}));
}

TEST_F(CueEventKindsTest, ASoundCueStartsAtOneHourAtTheProjectRateWithTheDefaultsSettings) {
    class Rate25 : public CueEnvironment {
        EMTimecodeFramerate projectFramerate() const override { return EMTimecode::framerateForIndex(3); }
    };
    auto previous = CueEnvironment::install(std::make_shared<Rate25>());
    auto sound = CueEventSoundCue::soundCueEventWithCue(cue, "Door slam");
    CueEnvironment::install(previous);

    EXPECT_EQ(sound->lockType(), CueEvent::kLockTypeTimecode);
    ASSERT_NE(sound->lockTimecode(), nullptr);
    EXPECT_EQ(sound->lockTimecode()->stringRepresentation(), "1:00:00:00");
    EXPECT_EQ(sound->lockTimecode()->framerate(), EMTimecode::framerateForIndex(3));
    EXPECT_EQ(sound->text(), "Door slam");
    EXPECT_EQ(sound->title(), "");
    EXPECT_TRUE(sound->tags().empty());
    EXPECT_TRUE(sound->enabled());

    const UserDefaults& defaults = UserDefaults::standardUserDefaults();
    EXPECT_EQ(sound->streamerEnabled(), defaults.boolForKey("soundCueStreamerEnabled"));
    EXPECT_EQ(*sound->streamerColor(), *defaultsColor("soundCueStreamerColor"));
    EXPECT_EQ(sound->streamerFeet(), defaults.doubleForKey("soundCueStreamerLength"));
    EXPECT_EQ(sound->beepsEnabled(), defaults.boolForKey("countoffDownbeatBeepsEnabled"));
    EXPECT_EQ(sound->beepsCount(), defaults.integerForKey("countoffDownbeatBeepsCount"));
    EXPECT_EQ(sound->beepsSeconds(), defaults.doubleForKey("countoffDownbeatBeepsTime"));
    EXPECT_EQ(sound->beepOnCuePoint(), defaults.boolForKey("downbeatBeepEnabled"));
    EXPECT_EQ(sound->punchOnEachBeep(), defaults.boolForKey("countoffBeepPunchesEnabled"));
    EXPECT_EQ(sound->eventListText(), "");
}

TEST_F(CueEventKindsTest, UnsetColoursAndFlagsReadFromTheDefaults) {
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    EXPECT_EQ(*end->streamerColor(), *defaultsColor("cueEndStreamerColor"));
    EXPECT_FALSE(end->autoFollow());
    EXPECT_EQ(end->autoFollowCueNumber(), "");
    auto blue = Color::calibrated(0, 0, 1);
    end->setStreamerColor(blue);
    EXPECT_EQ(end->streamerColor(), blue);

    auto countoff = CueEventCountoff::countoffEventWithCue(cue, 0.0);
    EXPECT_EQ(*countoff->streamerColorIntoFirstBeat(), *defaultsColor("countoffWarningStreamerColor"));
    EXPECT_EQ(*countoff->streamerColorIntoLockTime(), *defaultsColor("countoffDownbeatStreamerColor"));
    countoff->setStreamerColorIntoLockTime(blue);
    EXPECT_EQ(countoff->streamerColorIntoLockTime(), blue);
}

// Unset colours are read from the defaults through a per-key memory of the
// last colour data seen; a changed default must still show on the next read.
TEST_F(CueEventKindsTest, UnsetColoursFollowAChangedDefault) {
    auto countoff = CueEventCountoff::countoffEventWithCue(cue, 0.0);
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    struct Case {
        const char* key;
        std::function<std::shared_ptr<Color>()> read;
    };
    const Case cases[] = {
        {"countoffWarningStreamerColor", [&] { return countoff->streamerColorIntoFirstBeat(); }},
        {"countoffDownbeatStreamerColor", [&] { return countoff->streamerColorIntoLockTime(); }},
        {"cueEndStreamerColor", [&] { return end->streamerColor(); }},
    };
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    const auto green = Color::calibrated(0, 1, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const Value registered = colorText(defaultsColor(c.key));
        EXPECT_EQ(colorText(c.read()), registered);

        defaults.setData(c.key, green->archivedData());
        EXPECT_EQ(colorText(c.read()), colorText(green));
        defaults.setData(c.key, Data{1, 2, 3});
        EXPECT_FALSE(c.read()) << "data that is no colour";
        defaults.setData(c.key, Color::calibrated(0, 0, 1)->archivedData());
        EXPECT_EQ(colorText(c.read()), colorText(Color::calibrated(0, 0, 1)));

        defaults.removeObject(c.key);
        EXPECT_EQ(colorText(c.read()), registered);
    }
}

TEST_F(CueEventKindsTest, ProxiesHoldTheTypeAndTheSequenceRelevantValues) {
    auto red = Color::calibrated(1, 0, 0);
    struct Case {
        Maker make;
        std::function<void(CueEvent&)> edit;
        Value expected;
    };
    const Case cases[] = {
        {kStreamer, [&](CueEvent& e) { as<CueEventStreamer>(e).setColor(red); },
         dictionary({{"type", Value(fourCharCode("stmr"))},
                     {"width", Value(1.0f)},
                     {"feet", Value(3.0f)},
                     {"color", Value(red)}})},
        {kPunch, [&](CueEvent& e) { as<CueEventPunch>(e).setColor(red); },
         dictionary({{"type", Value(fourCharCode("pnch"))},
                     {"width", Value(1.0f)},
                     {"holes", Value(3)},
                     {"color", Value(red)}})},
        {kTempo, [](CueEvent& e) { as<CueEventTempoChange>(e).setBpm(96.5); },
         dictionary(
             {{"type", Value(fourCharCode("tmpo"))}, {"bpm", Value(96.5)}, {"noteDuration", Value(6)}})},
        {kMeter,
         [](CueEvent& e) {
             as<CueEventMeterChange>(e).setMeter({7, 8});
         },
         dictionary({{"type", Value(fourCharCode("metr"))},
                     {"numerator", Value(7)},
                     {"denominator", Value(8)},
                     {"clickNoteDuration", Value(6)}})},
        {kClick, [](CueEvent& e) { as<CueEventClickChange>(e).setChangePunches(true); },
         dictionary({{"type", Value(fourCharCode("clix"))},
                     {"changeClick", Value(true)},
                     {"clickNoteDuration", Value(6)},
                     {"changePunches", Value(true)}})},
        {kBarNumber, [](CueEvent& e) { as<CueEventBarNumberChange>(e).setBarNumber("12A"); },
         dictionary({{"type", Value(fourCharCode("b#ch"))}, {"barNumber", Value("12A")}})},
        {kBarNumber, [](CueEvent&) {}, dictionary({{"type", Value(fourCharCode("b#ch"))}})},
        {kEnd, [&](CueEvent& e) { as<CueEventCueEnd>(e).setStreamerColor(red); },
         dictionary({{"type", Value(fourCharCode("end "))}, {"streamerColor", Value(red)}})},
        {kEnd,
         [&](CueEvent& e) {
             as<CueEventCueEnd>(e).setStreamerColor(red);
             as<CueEventCueEnd>(e).setAutoFollow(true);
             as<CueEventCueEnd>(e).setAutoFollowCueNumber("2m1");
         },
         dictionary({{"type", Value(fourCharCode("end "))},
                     {"streamerColor", Value(red)},
                     {"autoFollow", Value("2m1")}})},
        // Auto-follow without a cue number does not reach the sequence.
        {kEnd,
         [&](CueEvent& e) {
             as<CueEventCueEnd>(e).setStreamerColor(red);
             as<CueEventCueEnd>(e).setAutoFollow(true);
         },
         dictionary({{"type", Value(fourCharCode("end "))}, {"streamerColor", Value(red)}})},
        {kMusicIn, [](CueEvent&) {}, dictionary({{"type", Value(fourCharCode("mxin"))}})},
        {kSound,
         [&](CueEvent& e) {
             auto& sound = as<CueEventSoundCue>(e);
             sound.setStreamerColor(red);
             sound.setEnabled(false);
             sound.setStreamerEnabled(true);
             sound.setBeepsEnabled(true);
             sound.setBeepsCount(2);
             sound.setBeepOnCuePoint(true);
             sound.setPunchOnEachBeep(false);
         },
         dictionary({{"type", Value(fourCharCode("scue"))},
                     {"text", Value("line")},
                     {"enabled", Value(false)},
                     {"streamerEnabled", Value(true)},
                     {"streamerColor", Value(red)},
                     {"beepsEnabled", Value(true)},
                     {"beepsCount", Value(2)},
                     {"beepOnCuePoint", Value(true)},
                     {"punchOnEachBeep", Value(false)}})},
    };
    for (const Case& c : cases) {
        EventPtr event = c.make(nullptr);
        c.edit(*event);
        EXPECT_EQ(event->eventProxy(), c.expected) << event->eventTypeString();
    }
}

TEST_F(CueEventKindsTest, EventListTextsFollowTheTable) {
    struct Case {
        Maker make;
        std::function<void(CueEvent&)> edit;
        const char* text;
    };
    const Case cases[] = {
        {kStreamer, [](CueEvent&) {}, "3' Streamer"},
        {kStreamer, [](CueEvent& e) { as<CueEventStreamer>(e).setFeet(2.5f); }, "2.5' Streamer"},
        {kPunch, [](CueEvent&) {}, "Punch"},
        {kTempo, [](CueEvent&) {}, "120 bpm"},
        {kTempo, [](CueEvent& e) { as<CueEventTempoChange>(e).setBpm(96.125); }, "96.125 bpm"},
        {kMeter,
         [](CueEvent& e) {
             as<CueEventMeterChange>(e).setMeter({7, 8});
         },
         "7/8"},
        {kCountoff, [](CueEvent& e) { as<CueEventCountoff>(e).setCountoffBeats(2); }, "2 free"},
        {kClick, [](CueEvent&) {}, "Click change"},
        {kEnd, [](CueEvent&) {}, "- End -"},
        {kMusicIn, [](CueEvent&) {}, "- Start -"},
        {kSound, [](CueEvent&) {}, ""},
        {kBarNumber, [](CueEvent&) {}, ""},
    };
    for (const Case& c : cases) {
        EventPtr event = c.make(nullptr);
        c.edit(*event);
        EXPECT_EQ(event->eventListText(), c.text) << event->eventTypeString();
    }
}

TEST_F(CueEventKindsTest, DerivedValuesOfTempoMeterAndClickChanges) {
    auto tempo = CueEventTempoChange::tempoChangeEventWithCue(nullptr, 60.0, 8, 0.0);
    EXPECT_EQ(tempo->quarterNoteBPM(), 30.0);
    tempo->setNoteDuration(2);
    EXPECT_EQ(tempo->quarterNoteBPM(), 240.0);
    tempo->setBpmAsNSNumber(Value(120.12345));
    EXPECT_EQ(tempo->bpm(), 120.123);
    tempo->setBpm(99.9996);
    EXPECT_EQ(tempo->bpm(), 100.0);

    struct ClockCase {
        int32_t code;
        int32_t clocks;
    };
    for (const ClockCase c :
         {ClockCase{11, 24}, {8, 12}, {6, 24}, {0, 192}, {10, 6}, {-1, 24}, {0xffff, 24}}) {
        auto meter = CueEventMeterChange::meterChangeWithCue(nullptr, TimeSignature{}, c.code, 1);
        auto click = CueEventClickChange::clickChangeWithCue(nullptr, c.code, 0.0);
        EXPECT_EQ(meter->clocksPerClick(), c.clocks) << c.code;
        EXPECT_EQ(click->clocksPerClick(), c.clocks) << c.code;
    }

    struct DenominatorCase {
        uint16_t denominator;
        uint8_t power;
    };
    auto meter = CueEventMeterChange::meterChangeWithCue(nullptr, TimeSignature{}, 6, 1);
    for (const DenominatorCase c :
         {DenominatorCase{1, 0}, {2, 1}, {4, 2}, {8, 3}, {16, 4}, {128, 7}, {0, 0}}) {
        meter->setMeter(TimeSignature{3, c.denominator});
        EXPECT_EQ(meter->midiDenominator(), c.power) << c.denominator;
    }

    meter->setMeter(TimeSignature{7, 8});
    EXPECT_EQ(meter->meterValue(), Value(7 | (8 << 16)));
    meter->setMeterValue(Value(5 | (16 << 16)));
    EXPECT_EQ(meter->meter(), (TimeSignature{5, 16}));
    meter->setMeterValue(Value("6/8"));
    EXPECT_EQ(meter->meter(), (TimeSignature{5, 16}));

    auto click = CueEventClickChange::clickChangeEventWithCue(nullptr, 0.0);
    click->setClickPatternString("2,2,3");
    EXPECT_EQ(click->clickPattern(), (std::vector<uint32_t>{2, 2, 3}));
    EXPECT_EQ(click->clickPatternString(), "2,2,3");
    click->setBeatPunchNoteDuration(8);
    EXPECT_TRUE(click->beatPunchEnabled());
    click->setBeatPunchNoteDuration(-1);
    EXPECT_FALSE(click->beatPunchEnabled());
}

TEST_F(CueEventKindsTest, StreamerAndPunchUserEventsAreTheCompiledRecords) {
    auto streamer =
        CueEventStreamer::streamerEventWithCue(nullptr, Color::calibrated(1.0, 0.5, 0.25), 3.0f, 1.0f, 0.0);
    const std::vector<uint8_t> block = streamer->userEvent();
    ASSERT_EQ(block.size(), 28u);
    EXPECT_EQ(readAt<uint32_t>(block, 0), 24u);
    EXPECT_EQ(readAt<uint32_t>(block, 4), fourCharCode("stmr"));
    EXPECT_EQ(readAt<float>(block, 8), 1.0f);
    EXPECT_EQ(readAt<float>(block, 12), 0.5f);
    EXPECT_EQ(readAt<float>(block, 16), 0.25f);
    EXPECT_DOUBLE_EQ(readAt<double>(block, 20), 3.0 * 0.6667);

    auto punch = CueEventPunch::punchEventWithCue(nullptr, Color::calibrated(0.0, 1.0, 0.0), 4, 1.0f, 0.0);
    const std::vector<uint8_t> punchBlock = punch->userEvent();
    ASSERT_EQ(punchBlock.size(), 24u);
    EXPECT_EQ(readAt<uint32_t>(punchBlock, 0), 20u);
    EXPECT_EQ(readAt<uint32_t>(punchBlock, 4), fourCharCode("pnch"));
    EXPECT_EQ(readAt<float>(punchBlock, 8), 0.0f);
    EXPECT_EQ(readAt<float>(punchBlock, 12), 1.0f);
    EXPECT_EQ(readAt<uint16_t>(punchBlock, 20), 4u);
    EXPECT_EQ(readAt<uint16_t>(punchBlock, 22), 0u);

    // Counts beyond the record's 16 bits are saturated, not wrapped.
    punch->setHoles(70000);
    EXPECT_EQ(readAt<uint16_t>(punch->userEvent(), 20), 65535u);
    punch->setHoles(-2);
    EXPECT_EQ(readAt<uint16_t>(punch->userEvent(), 20), 0u);
}

// --- Undo of the kinds' setters ---------------------------------------------------------

struct UndoCase {
    const char* action;
    Maker make;
    std::function<void(CueEvent&)> edit;
    std::function<Value(const CueEvent&)> read;
};

std::vector<UndoCase> undoCases() {
    // Unlike every default colour.
    auto red = Color::calibrated(0.25, 0.5, 0.75);
    return {
        {"Change Streamer Color", kStreamer, [=](CueEvent& e) { as<CueEventStreamer>(e).setColor(red); },
         [](const CueEvent& e) { return colorText(as<CueEventStreamer>(e).color()); }},
        {"Change Streamer Length", kStreamer, [](CueEvent& e) { as<CueEventStreamer>(e).setFeet(5.0f); },
         [](const CueEvent& e) { return Value(as<CueEventStreamer>(e).feet()); }},
        {"Change Streamer Width", kStreamer, [](CueEvent& e) { as<CueEventStreamer>(e).setWidth(2.0f); },
         [](const CueEvent& e) { return Value(as<CueEventStreamer>(e).width()); }},
        {"Change Punch Color", kPunch, [=](CueEvent& e) { as<CueEventPunch>(e).setColor(red); },
         [](const CueEvent& e) { return colorText(as<CueEventPunch>(e).color()); }},
        {"Change Punch Holes", kPunch, [](CueEvent& e) { as<CueEventPunch>(e).setHoles(1); },
         [](const CueEvent& e) { return Value(as<CueEventPunch>(e).holes()); }},
        {"Change Punch Width", kPunch, [](CueEvent& e) { as<CueEventPunch>(e).setWidth(0.5f); },
         [](const CueEvent& e) { return Value(as<CueEventPunch>(e).width()); }},
        {"Change Tempo", kTempo, [](CueEvent& e) { as<CueEventTempoChange>(e).setBpm(90.0); },
         [](const CueEvent& e) { return Value(as<CueEventTempoChange>(e).bpm()); }},
        {"Change Tempo Base Duration", kTempo,
         [](CueEvent& e) { as<CueEventTempoChange>(e).setNoteDuration(8); },
         [](const CueEvent& e) { return Value(as<CueEventTempoChange>(e).noteDuration()); }},
        {"Change Meter", kMeter,
         [](CueEvent& e) {
             as<CueEventMeterChange>(e).setMeter({6, 8});
         },
         [](const CueEvent& e) { return as<CueEventMeterChange>(e).meterValue(); }},
        {"Change Click Duration", kMeter,
         [](CueEvent& e) { as<CueEventMeterChange>(e).setClickNoteDuration(8); },
         [](const CueEvent& e) { return Value(as<CueEventMeterChange>(e).clickNoteDuration()); }},
        {"Change Auto Punch Options", kMeter,
         [](CueEvent& e) { as<CueEventMeterChange>(e).setBarPunchHoles(2); },
         [](const CueEvent& e) { return Value(as<CueEventMeterChange>(e).barPunchHoles()); }},
        {"Change Auto Punch Options", kMeter,
         [=](CueEvent& e) { as<CueEventMeterChange>(e).setBeatPunchColor(red); },
         [](const CueEvent& e) { return colorText(as<CueEventMeterChange>(e).beatPunchColor()); }},
        {"Change Auto Punch Options", kMeter,
         [](CueEvent& e) { as<CueEventMeterChange>(e).setBeatPunchEnabled(true); },
         [](const CueEvent& e) { return Value(as<CueEventMeterChange>(e).beatPunchEnabled()); }},
        {"Change Click Duration", kClick,
         [](CueEvent& e) { as<CueEventClickChange>(e).setClickNoteDuration(8); },
         [](const CueEvent& e) { return Value(as<CueEventClickChange>(e).clickNoteDuration()); }},
        {"Change Click Options", kClick,
         [](CueEvent& e) { as<CueEventClickChange>(e).setChangeClick(false); },
         [](const CueEvent& e) { return Value(as<CueEventClickChange>(e).changeClick()); }},
        {"Change Click Options", kClick,
         [](CueEvent& e) { as<CueEventClickChange>(e).setClickPatternString("3,2"); },
         [](const CueEvent& e) { return Value(as<CueEventClickChange>(e).clickPatternString()); }},
        {"Change Auto Punch Options", kClick,
         [](CueEvent& e) { as<CueEventClickChange>(e).setChangePunches(true); },
         [](const CueEvent& e) { return Value(as<CueEventClickChange>(e).changePunches()); }},
        {"Change Auto Punch Options", kClick,
         [](CueEvent& e) { as<CueEventClickChange>(e).setBeatPunchNoteDuration(8); },
         [](const CueEvent& e) { return Value(as<CueEventClickChange>(e).beatPunchNoteDuration()); }},
        {"Change Auto Punch Options", kClick,
         [](CueEvent& e) { as<CueEventClickChange>(e).setBarPunchEnabled(true); },
         [](const CueEvent& e) { return Value(as<CueEventClickChange>(e).barPunchEnabled()); }},
        {"Change Countoff Event Options", kCountoff,
         [](CueEvent& e) { as<CueEventCountoff>(e).setCountoffBeats(2); },
         [](const CueEvent& e) { return Value(as<CueEventCountoff>(e).countoffBeats()); }},
        {"Change Countoff Event Options", kCountoff,
         [](CueEvent& e) { as<CueEventCountoff>(e).setCountoffNoteDuration(8); },
         [](const CueEvent& e) { return Value(as<CueEventCountoff>(e).countoffNoteDuration()); }},
        {"Change Countoff Event Options", kCountoff,
         [](CueEvent& e) { as<CueEventCountoff>(e).setAudioClick(false); },
         [](const CueEvent& e) { return Value(as<CueEventCountoff>(e).audioClick()); }},
        {"Change Countoff Event Options", kCountoff,
         [](CueEvent& e) { as<CueEventCountoff>(e).setPunchClick(true); },
         [](const CueEvent& e) { return Value(as<CueEventCountoff>(e).punchClick()); }},
        {"Change Countoff Event Options", kCountoff,
         [](CueEvent& e) { as<CueEventCountoff>(e).setStreamerIntoFirstBeat(false); },
         [](const CueEvent& e) { return Value(as<CueEventCountoff>(e).streamerIntoFirstBeat()); }},
        {"Change Countoff Event Options", kCountoff,
         [](CueEvent& e) { as<CueEventCountoff>(e).setStreamerIntoLockTime(false); },
         [](const CueEvent& e) { return Value(as<CueEventCountoff>(e).streamerIntoLockTime()); }},
        {"Change Countoff Warning Streamer", kCountoff,
         [=](CueEvent& e) { as<CueEventCountoff>(e).setStreamerColorIntoFirstBeat(red); },
         [](const CueEvent& e) { return colorText(as<CueEventCountoff>(e).streamerColorIntoFirstBeat()); }},
        {"Change Countoff Streamer", kCountoff,
         [=](CueEvent& e) { as<CueEventCountoff>(e).setStreamerColorIntoLockTime(red); },
         [](const CueEvent& e) { return colorText(as<CueEventCountoff>(e).streamerColorIntoLockTime()); }},
        {"Change Cue End Streamer", kEnd, [=](CueEvent& e) { as<CueEventCueEnd>(e).setStreamerColor(red); },
         [](const CueEvent& e) { return colorText(as<CueEventCueEnd>(e).streamerColor()); }},
        {"Change Auto-continue", kEnd, [](CueEvent& e) { as<CueEventCueEnd>(e).setAutoFollow(true); },
         [](const CueEvent& e) { return Value(as<CueEventCueEnd>(e).autoFollow()); }},
        {"Change Auto-continue", kEnd,
         [](CueEvent& e) { as<CueEventCueEnd>(e).setAutoFollowCueNumber("3m1"); },
         [](const CueEvent& e) { return Value(as<CueEventCueEnd>(e).autoFollowCueNumber()); }},
        {"Change Cue Title", kSound, [](CueEvent& e) { as<CueEventSoundCue>(e).setTitle("A1"); },
         [](const CueEvent& e) { return Value(as<CueEventSoundCue>(e).title()); }},
        {"Change Cue Overlay Text", kSound, [](CueEvent& e) { as<CueEventSoundCue>(e).setText("Go"); },
         [](const CueEvent& e) { return Value(as<CueEventSoundCue>(e).text()); }},
        {"Change Cue Tags", kSound,
         [](CueEvent& e) {
             as<CueEventSoundCue>(e).setTags({"Bob", "loop"});
         },
         [](const CueEvent& e) { return Value(as<CueEventSoundCue>(e).tags().size()); }},
        {"Disable Cue", kSound, [](CueEvent& e) { as<CueEventSoundCue>(e).setEnabled(false); },
         [](const CueEvent& e) { return Value(as<CueEventSoundCue>(e).enabled()); }},
        {"Change Streamer Length", kSound, [](CueEvent& e) { as<CueEventSoundCue>(e).setStreamerFeet(6.0); },
         [](const CueEvent& e) { return Value(as<CueEventSoundCue>(e).streamerFeet()); }},
        {"Change Streamer Color", kSound, [=](CueEvent& e) { as<CueEventSoundCue>(e).setStreamerColor(red); },
         [](const CueEvent& e) { return colorText(as<CueEventSoundCue>(e).streamerColor()); }},
        {"Change Beep Options", kSound, [](CueEvent& e) { as<CueEventSoundCue>(e).setBeepsCount(7); },
         [](const CueEvent& e) { return Value(as<CueEventSoundCue>(e).beepsCount()); }},
        {"Change Beep Options", kSound, [](CueEvent& e) { as<CueEventSoundCue>(e).setBeepsSeconds(4.5); },
         [](const CueEvent& e) { return Value(as<CueEventSoundCue>(e).beepsSeconds()); }},
        {"Change Beep Options", kSound,
         [](CueEvent& e) {
             as<CueEventSoundCue>(e).setBeepOnCuePoint(!as<CueEventSoundCue>(e).beepOnCuePoint());
         },
         [](const CueEvent& e) { return Value(as<CueEventSoundCue>(e).beepOnCuePoint()); }},
        {"Change Beep Options", kSound,
         [](CueEvent& e) {
             as<CueEventSoundCue>(e).setPunchOnEachBeep(!as<CueEventSoundCue>(e).punchOnEachBeep());
         },
         [](const CueEvent& e) { return Value(as<CueEventSoundCue>(e).punchOnEachBeep()); }},
        {"Change Bar Number", kBarNumber,
         [](CueEvent& e) { as<CueEventBarNumberChange>(e).setBarNumber("14"); },
         [](const CueEvent& e) {
             const auto& number = as<CueEventBarNumberChange>(e).barNumber();
             return number ? Value(*number) : Value();
         }},
    };
}

TEST_F(CueEventKindsTest, EverySetterUndoesAndRedoesUnderItsActionName) {
    for (const UndoCase& c : undoCases()) {
        EventPtr event = c.make(cue);
        SCOPED_TRACE(std::string(event->eventTypeString()) + ": " + c.action);
        undoManager().removeAllActions();
        document->undoController().endEditing();

        const Value before = c.read(*event);
        c.edit(*event);
        const Value after = c.read(*event);
        ASSERT_NE(before, after);
        ASSERT_EQ(undoManager().undoStepCount(), 1u);
        EXPECT_EQ(undoManager().undoActionName(), c.action);
        undoManager().undo();
        EXPECT_EQ(c.read(*event), before);
        undoManager().redo();
        EXPECT_EQ(c.read(*event), after);
    }
}

TEST_F(CueEventKindsTest, FlagSettersNameTheStepByTheStateTheyLeave) {
    auto sound = CueEventSoundCue::soundCueEventWithCue(cue, "");
    struct Case {
        std::function<void(bool)> set;
        const char* off;
        const char* on;
    };
    const Case cases[] = {
        {[&](bool on) { sound->setEnabled(on); }, "Disable Cue", "Enable Cue"},
        {[&](bool on) { sound->setStreamerEnabled(on); }, "Disable Cue Streamer", "Enable Cue Streamer"},
        {[&](bool on) { sound->setBeepsEnabled(on); }, "Disable Cue Beeps", "Enable Cue Beeps"},
    };
    for (const Case& c : cases) {
        c.set(true);
        c.set(false);
        EXPECT_EQ(undoManager().undoActionName(), c.off);
        c.set(true);
        EXPECT_EQ(undoManager().undoActionName(), c.on);
    }
}

TEST_F(CueEventKindsTest, StreamerEditsCoalesceWhilePunchEditsStaySeparate) {
    auto streamer = CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 0.0);
    streamer->setFeet(4.0f);
    streamer->setFeet(5.0f);
    streamer->setFeet(6.0f);
    EXPECT_EQ(undoManager().undoStepCount(), 1u);
    undoManager().undo();
    EXPECT_EQ(streamer->feet(), 3.0f);

    auto punch = CueEventPunch::punchEventWithCue(cue, nullptr, 3, 1.0f, 0.0);
    undoManager().removeAllActions();
    punch->setHoles(4);
    punch->setHoles(5);
    EXPECT_EQ(undoManager().undoStepCount(), 2u);
    undoManager().undo();
    EXPECT_EQ(punch->holes(), 4);

    auto sound = CueEventSoundCue::soundCueEventWithCue(cue, "");
    undoManager().removeAllActions();
    sound->setText("H");
    sound->setText("He");
    sound->setText("Hey");
    EXPECT_EQ(undoManager().undoStepCount(), 1u);
    undoManager().undo();
    EXPECT_EQ(sound->text(), "");
}

TEST_F(CueEventKindsTest, UndoingTheFirstAutoContinueChoiceUnsetsIt) {
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    end->setAutoFollowCueNumber("4m1");
    undoManager().undo();
    EXPECT_EQ(end->autoFollowCueNumber(), "");
    undoManager().redo();
    EXPECT_EQ(end->autoFollowCueNumber(), "4m1");
}

// --- Change propagation --------------------------------------------------------------------

class CueEventPropagationTest : public CueEventTestBase {
protected:
    void SetUp() override {
        CueEventTestBase::SetUp();
        token_ = NotificationCenter::defaultCenter().addObserver(Cue::kSequenceDidChangeNotification,
                                                                 [this](const Notification&) { ++rebuilds; });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(token_);
        CueEventTestBase::TearDown();
    }
    // Lets pending rebuilds happen and answers how many there were.
    int settle() {
        loop.advance(Cue::kUpdateDelay + 0.01);
        const int count = rebuilds;
        rebuilds = 0;
        return count;
    }

    int rebuilds = 0;

private:
    NotificationCenter::ObserverToken token_ = 0;
};

TEST_F(CueEventPropagationTest, ProxyEditsAskTheCueForOneRebuild) {
    struct Case {
        Maker make;
        std::function<void(CueEvent&)> edit;
        int rebuilds;
    };
    const Case cases[] = {
        {kStreamer, [](CueEvent& e) { as<CueEventStreamer>(e).setFeet(5.0f); }, 1},
        {kStreamer, [](CueEvent& e) { as<CueEventStreamer>(e).setColor(Color::calibrated(0, 1, 0)); }, 1},
        {kPunch, [](CueEvent& e) { as<CueEventPunch>(e).setHoles(2); }, 1},
        {kTempo, [](CueEvent& e) { as<CueEventTempoChange>(e).setBpm(80.0); }, 1},
        {kMeter,
         [](CueEvent& e) {
             as<CueEventMeterChange>(e).setMeter({3, 4});
         },
         1},
        {kMeter, [](CueEvent& e) { as<CueEventMeterChange>(e).setBarPunchEnabled(true); }, 1},
        {kClick, [](CueEvent& e) { as<CueEventClickChange>(e).setClickPatternString("2,3"); }, 1},
        {kClick, [](CueEvent& e) { as<CueEventClickChange>(e).setBeatPunchHoles(4); }, 1},
        {kCountoff, [](CueEvent& e) { as<CueEventCountoff>(e).setCountoffBeats(3); }, 1},
        {kSound, [](CueEvent& e) { as<CueEventSoundCue>(e).setBeepsSeconds(1.0); }, 1},
        {kSound, [](CueEvent& e) { as<CueEventSoundCue>(e).setTitle("not drawn"); }, 0},
        {kEnd, [](CueEvent& e) { as<CueEventCueEnd>(e).setAutoFollowCueNumber("2"); }, 1},
        {kBarNumber, [](CueEvent& e) { as<CueEventBarNumberChange>(e).setBarNumber("9"); }, 0},
        // A burst of edits costs one rebuild.
        {kStreamer,
         [](CueEvent& e) {
             for (float feet = 1.0f; feet < 6.0f; feet += 1.0f) as<CueEventStreamer>(e).setFeet(feet);
         },
         1},
        // Lock edits recompile too.
        {kStreamer, [](CueEvent& e) { e.setLockPrerollShiftedBeats(300.0); }, 1},
        {kStreamer, [](CueEvent& e) { e.nudge(1); }, 1},
    };
    std::vector<EventPtr> keep;
    for (const Case& c : cases) {
        EventPtr event = c.make(cue);
        keep.push_back(event);
        settle();
        c.edit(*event);
        EXPECT_EQ(settle(), c.rebuilds) << event->eventTypeString();
    }
}

TEST_F(CueEventPropagationTest, AutomaticUpdatesDoNotRecompile) {
    auto streamer = CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 0.0);
    settle();
    streamer->setLockTimesAreUpdatingAutomatically(true);
    streamer->setFeet(2.0f);
    streamer->setLockPrerollShiftedBeats(200.0);
    streamer->setLockTimesAreUpdatingAutomatically(false);
    streamer->updateLockTimesFromPrerollShiftedBeats();
    EXPECT_EQ(settle(), 0);
}

TEST_F(CueEventPropagationTest, DestroyingAnEventAsksItsCueToRecompile) {
    auto streamer = CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 0.0);
    settle();
    streamer.reset();
    EXPECT_EQ(settle(), 1);
}

}  // namespace
}  // namespace tollvane
