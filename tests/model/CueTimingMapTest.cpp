#include "model/CueTimingMap.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventStreamer.h"
#include "platform/archive/Color.h"
#include "playback/FFMusicSequence.h"
#include "playback/TLEvent.h"
#include "timebase/NoteDuration.h"

namespace tollvane {
namespace {

using MeterRecord = CueTimingMap::MeterRecord;
using CountoffRecord = CueTimingMap::CountoffRecord;
using ClickContext = CueTimingMap::ClickContext;
using ClickSetting = CueTimingMap::ClickSetting;

struct Tempo {
    double beat;
    double bpm;
};

struct Meter {
    double beat;
    uint8_t numerator;
    uint8_t exponent;
};

// 120 bpm and 4/4 at beat 0, as a compiled cue opens, then the given changes.
// Sequence bar b starts at beat 4 (b - 1) until the first meter change.
std::shared_ptr<FFMusicSequence> makeSequence(std::vector<Tempo> tempos = {},
                                              std::vector<Meter> meters = {}) {
    auto store = std::make_shared<MusicSequence>();
    store->tempoTrack().newExtendedTempoEvent(0, 120);
    const uint8_t fourFour[4] = {4, 2, 24, 8};
    store->tempoTrack().newMetaEvent(0, 0x58, fourFour, 4);
    for (const Tempo& tempo : tempos) store->tempoTrack().newExtendedTempoEvent(tempo.beat, tempo.bpm);
    for (const Meter& meter : meters) {
        const uint8_t bytes[4] = {meter.numerator, meter.exponent, 24, 8};
        store->tempoTrack().newMetaEvent(meter.beat, 0x58, bytes, 4);
    }
    return FFMusicSequence::sequenceWithMusicSequence(store);
}

MeterRecord meterChange(double position, int32_t code) {
    MeterRecord record;
    record.lockPosition = position;
    record.clickNoteDuration = code;
    return record;
}

MeterRecord clickChange(double position, int32_t code, std::vector<uint32_t> pattern = {}) {
    MeterRecord record;
    record.isClickChange = true;
    record.changeClick = true;
    record.lockPosition = position;
    record.clickNoteDuration = code;
    record.clickPattern = std::move(pattern);
    return record;
}

ClickContext context(double playbackStart, uint32_t warningBeats = 4,
                     int32_t warningCode = NoteDuration::kSameAsClick, uint32_t mute = 0) {
    ClickContext c;
    c.playbackStartPosition = playbackStart;
    c.warningBeats = warningBeats;
    c.warningBeatNoteDuration = warningCode;
    c.clickMuteSetting = mute;
    return c;
}

struct ClickCase {
    double after;
    double expected;
    bool sounds = true;
};

void expectClicks(const CueTimingMap& map, const ClickContext& c, const std::vector<ClickCase>& cases) {
    for (const ClickCase& expected : cases) {
        bool sounds = !expected.sounds;
        EXPECT_DOUBLE_EQ(map.nextClickTimeAfterPrerollShiftedBeats(expected.after, c, &sounds),
                         expected.expected)
            << "after " << expected.after;
        EXPECT_EQ(sounds, expected.sounds) << "after " << expected.after;
    }
}

std::vector<uint8_t> colorData(double red, double green, double blue) {
    return Color::calibrated(red, green, blue)->archivedData();
}

// --- Warning clicks and mute settings ------------------------------------------

// 120 bpm up to beat 142, then 60 bpm: seconds(b) = b / 2 up to 142, then
// 71 + (b - 142). The playback start is at 144 (73 s).
class WarningClicks : public ::testing::Test {
protected:
    CueTimingMap map{makeSequence({{142, 60}}), {}, {}, 100000.0};
};

TEST_F(WarningClicks, FallFourThreeTwoAndOneSecondsBeforeTheStart) {
    // The click is one beat, one second at 60 bpm: the warning clicks fall at
    // 69, 70, 71 and 72 s, which are beats 138, 140 (both at 120 bpm), 142 and
    // 143, however many beats lie between them.
    expectClicks(map, context(144.0),
                 {
                     {0.0, 138.0},      // from before the first: the first
                     {138.0, 138.0},    // a click at the position counts
                     {138.01, 140.0},   // 69.005 s: one click passed
                     {141.0, 142.0},    // 70.5 s
                     {142.5, 143.0},    // 71.5 s
                     {143.2, 144.0},    // after the fourth: the start
                     {143.995, 144.0},  // playing: bar 36's click on 144
                     {144.3, 145.0},
                 });
}

TEST_F(WarningClicks, UseTheirOwnNoteLengthMeasuredAtTheStart) {
    // Code 4, a half note: 2 s at the start's 60 bpm, so 65, 67, 69, 71 s.
    expectClicks(map, context(144.0, 4, 4),
                 {{0.0, 130.0}, {130.5, 134.0}, {135.0, 138.0}, {140.0, 142.0}, {142.1, 144.0}});
    // Two warning clicks of one beat: 71 and 72 s.
    expectClicks(map, context(144.0, 2), {{0.0, 142.0}, {142.2, 143.0}, {143.1, 144.0}});
    // None: the start itself.
    expectClicks(map, context(144.0, 0), {{0.0, 144.0}, {143.5, 144.0}});
}

TEST_F(WarningClicks, MuteSettingOneKeepsOnlyTheWarningClicks) {
    // Past the fourth warning click the start itself is still answered (the
    // counters and exports walk the count-in up to it); from there on nothing.
    expectClicks(map, context(144.0, 4, NoteDuration::kSameAsClick, 1),
                 {{0.0, 138.0}, {141.0, 142.0}, {143.2, 144.0}, {144.0, 0.0}, {150.0, 0.0}});
}

TEST_F(WarningClicks, MuteSettingTwoSilencesEverything) {
    expectClicks(map, context(144.0, 4, NoteDuration::kSameAsClick, 2),
                 {{0.0, 0.0}, {143.2, 0.0}, {150.0, 0.0}});
}

TEST_F(WarningClicks, TheADRFoleyViewHasNoAudibleClicks) {
    ClickContext c = context(144.0);
    c.adrFoleyView = true;
    expectClicks(map, c, {{0.0, 0.0}, {150.0, 0.0}});
    // The visual click has no view check.
    EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(0.0, c), 138.0);
}

TEST(CueTimingMapTest, NoWarningClicksWhenTheStartBarHasNoClick) {
    // A click change to "off" at 140 covers the start's bar (37, from 144).
    CueTimingMap map(makeSequence(), {clickChange(140.0, NoteDuration::kOff)}, {}, 100000.0);
    expectClicks(map, context(144.0), {{0.0, 0.0}, {150.0, 0.0}});
    // A warning click of its own length still counts in: 4 beats of 0.5 s.
    expectClicks(map, context(144.0, 4, 6), {{0.0, 140.0}, {143.5, 144.0}});
}

// --- Click patterns --------------------------------------------------------------

// 7/8 from beat 128: sequence bar 33 is 128-131.5, bar 34 131.5-135, bar 35
// 135-138.5. A click change at 128 sets eighth-note pulses grouped 2+2+3;
// the meter change beside it leaves the click as it is.
class SevenEightPattern : public ::testing::Test {
protected:
    CueTimingMap map{makeSequence({}, {{128.0, 7, 3}}),
                     {meterChange(128.0, NoteDuration::kNoChange), clickChange(128.0, 8, {2, 2, 3})},
                     {},
                     100000.0};
};

TEST_F(SevenEightPattern, ClicksOnEveryEighthSoundingOnGroupStarts) {
    // Pulse j of bar 34 lies at 131.5 + 0.5 j; pulses 0, 2 and 4 begin groups.
    expectClicks(map, context(131.5),
                 {
                     {131.5, 131.5, true},   // pulse 0
                     {131.6, 132.0, false},  // 1
                     {132.1, 132.5, true},   // 2
                     {132.9, 133.0, false},  // 3
                     {133.4, 133.5, true},   // 4
                     {133.6, 134.0, false},  // 5
                     {134.2, 134.5, false},  // 6
                     {134.6, 135.0, true},   // bar 35's downbeat
                 });
}

TEST_F(SevenEightPattern, WarningClicksFollowThePatternBackFromTheStart) {
    // Warning interval 0.5 beat (0.25 s): clicks at 129.5, 130, 130.5, 131.
    // Seven pulses to the bar, so the i-th warning click is pulse
    // (i - 1 - 4 + 3500) mod 7: 3, 4, 5, 6, and the start is pulse 0.
    expectClicks(map, context(131.5),
                 {
                     {129.0, 129.5, false},
                     {129.6, 130.0, true},
                     {130.2, 130.5, false},
                     {130.7, 131.0, false},
                     {131.2, 131.5, true},
                 });
}

TEST_F(SevenEightPattern, VisualClicksSkipSilentWarningPulsesAndFollowBeats) {
    const ClickContext c = context(131.5);
    struct Case {
        double after, expected;
    } cases[] = {
        {129.0, 0.0},                    // warning pulse 3 is silent: no visual click
        {129.6, 130.0},                  // pulse 4 begins a group
        {131.2, 131.5}, {131.6, 132.5},  // no punch changes: one visual click a beat from the downbeat
        {134.6, 135.0},                  // 135.5 lies in bar 35: its downbeat
    };
    for (const Case& expected : cases) {
        EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(expected.after, c),
                         expected.expected)
            << expected.after;
    }
}

TEST_F(SevenEightPattern, ClickSettingIsThePatternFromItsPosition) {
    EXPECT_EQ(map.clickSettingForBar(32), ClickSetting(1.0));
    EXPECT_EQ(map.clickSettingForBar(34), ClickSetting(ClickPattern{0.5, {2, 2, 3}}));
    EXPECT_EQ(map.clickSettingForPrerollShiftedBeats(127.995), ClickSetting(ClickPattern{0.5, {2, 2, 3}}));
    EXPECT_EQ(map.clickSettingForPrerollShiftedBeats(127.98), ClickSetting(1.0));
}

TEST(CueTimingMapTest, APulseLongerThanTheBarLeavesWarningClicksSounding) {
    // Bars of 1/8 (half a beat) from 128 under a pattern of quarter-note
    // pulses: no whole pulse fits a bar, so there is no pulse to count back
    // from. The start at 130 is 65 s; four warning clicks of 0.5 s from 63 s.
    CueTimingMap map(makeSequence({}, {{128.0, 1, 3}}), {clickChange(128.0, 6, {2})}, {}, 100000.0);
    expectClicks(map, context(130.0), {{0.0, 126.0, true}, {127.5, 128.0, true}});
}

// --- Count-offs ------------------------------------------------------------------

// A count-off of 4 eighth notes into 144: 0.25 s apart at 120 bpm, so its
// clicks fall at 142, 142.5, 143 and 143.5 (the compilation's first click is
// 142); the step before the first would be 141.5.
CountoffRecord eighthCountoff() {
    CountoffRecord countoff;
    countoff.firstClickPosition = 142.0;
    countoff.lockPosition = 144.0;
    countoff.countoffBeats = 4;
    countoff.countoffNoteDuration = 8;
    countoff.audioClick = true;
    countoff.punchClick = true;
    return countoff;
}

TEST(CueTimingMapTest, CountoffClicksStepBackFromTheLockPosition) {
    CueTimingMap map(makeSequence(), {}, {eighthCountoff()}, 100000.0);
    expectClicks(map, context(128.0),
                 {
                     {140.8, 141.0},  // more than a beat before: the bar's click
                     {141.2, 142.0},  // before 141.5: still the first click
                     {141.6, 142.0},
                     {142.0, 142.0},
                     {142.1, 142.5},
                     {143.2, 143.5},
                     {143.7, 144.0},
                     {144.0, 144.0},
                     {144.05, 145.0},  // past the lock position: the bar's click
                     {144.2, 145.0},
                 });
}

TEST(CueTimingMapTest, CountoffClicksIgnoreTheCueLengthButBarClicksDoNot) {
    CueTimingMap map(makeSequence(), {}, {eighthCountoff()}, 143.0);
    expectClicks(map, context(128.0), {{140.5, 141.0}, {143.2, 143.5}, {143.7, 144.0}, {145.0, 0.0}});
}

TEST(CueTimingMapTest, AudioClickSoundsBeforeTheStartInsideCountoffsAndWhereTheClickIsOn) {
    // The click is off from 132; the count-off sounds inside its span.
    std::vector<MeterRecord> meters{clickChange(132.0, NoteDuration::kOff)};
    CountoffRecord silent = eighthCountoff();
    silent.audioClick = false;
    const ClickContext c = context(136.0);
    struct Case {
        std::vector<CountoffRecord> countoffs;
        double at;
        bool sounds;
    } cases[] = {
        {{eighthCountoff()}, 130.0, true},   // before the start
        {{eighthCountoff()}, 137.0, false},  // click off
        {{eighthCountoff()}, 142.5, true},   // inside the count-off
        {{eighthCountoff()}, 144.0, true},   // its lock position belongs to it
        {{eighthCountoff()}, 144.5, false}, {{silent}, 142.5, false},
    };
    for (const Case& expected : cases) {
        CueTimingMap map(makeSequence(), meters, expected.countoffs, 100000.0);
        EXPECT_EQ(map.audioClickAtPrerollShiftedBeats(expected.at, c), expected.sounds) << expected.at;
    }
    CueTimingMap before(makeSequence(), meters, {}, 100000.0);
    EXPECT_TRUE(before.audioClickAtPrerollShiftedBeats(131.99, context(128.0)));
    EXPECT_FALSE(before.audioClickAtPrerollShiftedBeats(132.0, context(128.0)));
}

// --- Click changes ---------------------------------------------------------------

// The click goes off at cue bar 5 (sequence bar 37, beat 144) and comes back
// as a plain beat at cue bar 9 (sequence bar 41, beat 160); a meter change
// without a click of its own sits at 152.
class ClickOffFromBarFive : public ::testing::Test {
protected:
    CueTimingMap map{makeSequence(),
                     {clickChange(144.0, NoteDuration::kOff), meterChange(152.0, NoteDuration::kNoChange),
                      clickChange(160.0, 6)},
                     {},
                     100000.0};
};

TEST_F(ClickOffFromBarFive, NoClicksFromBarFive) {
    expectClicks(map, context(128.0),
                 {
                     {142.5, 143.0},
                     {143.5, 0.0},  // 144 lies in bar 37, which has no click
                     {150.0, 0.0},  // bar 38 silent and bar 39 too
                     {157.0, 160.0},
                     {160.5, 161.0},
                 });
}

TEST_F(ClickOffFromBarFive, SettingsAndAudioClicks) {
    EXPECT_EQ(map.clickSettingForBar(36), ClickSetting(1.0));
    EXPECT_EQ(map.clickSettingForBar(37), ClickSetting(0.0));
    EXPECT_EQ(map.clickSettingForBar(39), ClickSetting(0.0));
    EXPECT_EQ(map.clickSettingForBar(41), ClickSetting(ClickPattern{1.0, {}}));
    const ClickContext c = context(128.0);
    EXPECT_TRUE(map.audioClickAtPrerollShiftedBeats(143.99, c));
    EXPECT_FALSE(map.audioClickAtPrerollShiftedBeats(144.0, c));
    // The meter change at 152 leaves the click (and its silence) as it was.
    EXPECT_FALSE(map.audioClickAtPrerollShiftedBeats(153.0, c));
    EXPECT_TRUE(map.audioClickAtPrerollShiftedBeats(160.0, c));
}

TEST(CueTimingMapTest, TheLastApplyingRecordWinsInListOrder) {
    // Records out of position order (as a list not yet resorted holds them):
    // the later record in the list wins wherever both apply.
    CueTimingMap unsorted(makeSequence(), {meterChange(140.0, 8), meterChange(130.0, 4)}, {}, 100000.0);
    CueTimingMap sorted(makeSequence(), {meterChange(130.0, 4), meterChange(140.0, 8)}, {}, 100000.0);
    EXPECT_EQ(unsorted.clickSettingForPrerollShiftedBeats(125.0), ClickSetting(1.0));
    EXPECT_EQ(unsorted.clickSettingForPrerollShiftedBeats(135.0), ClickSetting(2.0));
    EXPECT_EQ(unsorted.clickSettingForPrerollShiftedBeats(145.0), ClickSetting(2.0));
    EXPECT_EQ(sorted.clickSettingForPrerollShiftedBeats(135.0), ClickSetting(2.0));
    EXPECT_EQ(sorted.clickSettingForPrerollShiftedBeats(145.0), ClickSetting(0.5));
}

TEST(CueTimingMapTest, ClickChangesThatDoNotChangeTheClickTakeNoPart) {
    MeterRecord punchesOnly = clickChange(132.0, 8);
    punchesOnly.changeClick = false;
    CueTimingMap map(makeSequence(), {punchesOnly}, {}, 100000.0);
    EXPECT_EQ(map.clickSettingForBar(35), ClickSetting(1.0));
}

TEST(CueTimingMapTest, AnswersPastTheCueLengthBecomeZero) {
    CueTimingMap map(makeSequence(), {}, {}, 150.0);
    expectClicks(map, context(128.0), {{149.5, 150.0}, {150.01, 0.0}});
    EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(149.5, context(128.0)), 150.0);
    EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(150.01, context(128.0)), 0.0);
}

// --- Visual clicks and punches ------------------------------------------------------

// From 128: a 3-hole red bar punch and a 1-hole blue punch on every eighth.
MeterRecord punches(double position) {
    MeterRecord record = clickChange(position, 6);
    record.changeClick = false;
    record.changePunches = true;
    record.barPunchEnabled = true;
    record.barPunchColor = Color::deviceRGB(1.0, 0.0, 0.0);
    record.barPunchHoles = 3;
    record.beatPunchNoteDuration = 8;
    record.beatPunchEnabled = true;
    record.beatPunchColor = Color::calibrated(0.0, 0.0, 1.0);
    record.beatPunchHoles = 1;
    return record;
}

MeterRecord punchesOff(double position) {
    MeterRecord record = clickChange(position, 6);
    record.changeClick = false;
    record.changePunches = true;
    record.beatPunchNoteDuration = NoteDuration::kOff;
    return record;
}

TEST(CueTimingMapTest, VisualClickSettingAndPositions) {
    CueTimingMap map(makeSequence(), {punches(128.0), punchesOff(144.0)}, {}, 100000.0);
    EXPECT_DOUBLE_EQ(map.visualClickSettingForBar(32), 1.0);
    EXPECT_DOUBLE_EQ(map.visualClickSettingForBar(33), 0.5);
    // Punches off means the beat again.
    EXPECT_DOUBLE_EQ(map.visualClickSettingForBar(37), 1.0);
    const ClickContext c = context(128.0);
    struct Case {
        double after, expected;
    } cases[] = {{128.0, 128.0}, {128.2, 128.5}, {131.8, 132.0}, {143.7, 144.0}, {144.2, 145.0}};
    for (const Case& expected : cases) {
        EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(expected.after, c),
                         expected.expected)
            << expected.after;
    }
}

TEST(CueTimingMapTest, BarAndBeatPunches) {
    CueTimingMap map(makeSequence(), {punches(128.0), punchesOff(136.0)}, {}, 100000.0);
    const ClickContext c = context(128.0);
    struct Case {
        double at;
        int64_t holes;  // 0: no punch
        std::vector<uint8_t> color;
    } cases[] = {
        {128.0, 3, colorData(1, 0, 0)},    // downbeat: the bar punch, in calibrated RGB
        {128.5, 1, colorData(0, 0, 1)},    // off the beat: the beat punch
        {129.0, 1, colorData(0, 0, 1)},    // beat 2
        {131.995, 3, colorData(1, 0, 0)},  // within 0.01 before bar 34's downbeat
        {135.5, 1, colorData(0, 0, 1)},
        {136.0, 0, {}},  // the punches go off here
        {140.0, 0, {}},
    };
    for (const Case& expected : cases) {
        const std::shared_ptr<TLEvent> punch = map.visualClickAtPrerollShiftedBeats(expected.at, c);
        if (expected.holes == 0) {
            EXPECT_EQ(punch, nullptr) << expected.at;
            continue;
        }
        ASSERT_NE(punch, nullptr) << expected.at;
        EXPECT_EQ(punch->eventType(), TLEvent::kPunch);
        EXPECT_EQ(punch->valueForKey("eventLength").toInt64(), expected.holes) << expected.at;
        EXPECT_EQ(punch->valueForKey("eventColor").dataValue(), expected.color) << expected.at;
    }
}

TEST(CueTimingMapTest, DefaultPunchesForWarningClicksAndCountoffs) {
    CueTimingMap map(makeSequence(), {}, {eighthCountoff()}, 100000.0);
    ClickContext c = context(136.0);
    EXPECT_EQ(map.visualClickAtPrerollShiftedBeats(130.0, c), nullptr);
    c.warningBeatPunchesEnabled = true;
    const std::shared_ptr<TLEvent> warning = map.visualClickAtPrerollShiftedBeats(130.0, c);
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->valueForKey("eventLength").toInt64(), 1);
    EXPECT_EQ(warning->valueForKey("eventColor").dataValue(), colorData(1, 1, 1));
    // Inside the count-off with its punch click on; none outside it without
    // punch changes.
    EXPECT_NE(map.visualClickAtPrerollShiftedBeats(142.5, c), nullptr);
    EXPECT_EQ(map.visualClickAtPrerollShiftedBeats(145.0, c), nullptr);
    CountoffRecord quiet = eighthCountoff();
    quiet.punchClick = false;
    CueTimingMap withoutPunches(makeSequence(), {}, {quiet}, 100000.0);
    EXPECT_EQ(withoutPunches.visualClickAtPrerollShiftedBeats(142.5, c), nullptr);
}

TEST(CueTimingMapTest, VisualCountoffClicksEndAtTheLockPosition) {
    CueTimingMap map(makeSequence(), {}, {eighthCountoff()}, 100000.0);
    const ClickContext c = context(128.0);
    EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(142.1, c), 142.5);
    EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(143.7, c), 144.0);
    // From the lock position on: the beat (the audible click keeps the
    // count-off a little longer).
    EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(144.0, c), 144.0);
    EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(144.05, c), 145.0);
}

// --- Beats and conversions ----------------------------------------------------------

TEST(CueTimingMapTest, NextBeatAcrossAMeterChange) {
    // 6/8 from 132 (bar 34): its beats are eighths, 0.5 apart.
    CueTimingMap map(makeSequence({}, {{132.0, 6, 3}}), {}, {}, 100000.0);
    struct Case {
        double after, expected;
    } cases[] = {
        {0.0, 1.0},      {130.9, 131.15},  // probes are 0.25 apart from the position itself
        {131.5, 132.0},                    // into the new meter
        {132.0, 132.5},                    // its first eighth
        {133.75, 134.0},
    };
    for (const Case& expected : cases) {
        EXPECT_DOUBLE_EQ(map.nextBeatTimeAfterPrerollShiftedBeats(expected.after), expected.expected)
            << expected.after;
    }
}

TEST(CueTimingMapTest, WithoutASequenceEverythingIsZeroAndNothingHangs) {
    CueTimingMap map;
    EXPECT_DOUBLE_EQ(map.lengthInBeats(), 100000.0);
    EXPECT_DOUBLE_EQ(map.secondsForBeats(200.0), 0.0);
    EXPECT_DOUBLE_EQ(map.beatsForSeconds(10.0), 0.0);
    EXPECT_EQ(map.barBeatTimeForBeats(200.0), BarBeatTime{});
    EXPECT_DOUBLE_EQ(map.beatsForBarNumber(40, 1), 0.0);
    EXPECT_EQ(map.timeSignatureOfBar(40), (TimeSignature{0, 0}));
    EXPECT_DOUBLE_EQ(map.nextBeatTimeAfterPrerollShiftedBeats(130.0), 0.0);
    // Every time is 0 s, so the warning clicks collapse onto position 0.
    EXPECT_DOUBLE_EQ(map.nextClickTimeAfterPrerollShiftedBeats(100.0, context(128.0), nullptr), 0.0);
    EXPECT_EQ(map.clickSettingForBar(40), ClickSetting(1.0));
}

TEST(CueTimingMapTest, PositionsThatAreNoNumbersAnswerNoClick) {
    CueTimingMap map(makeSequence(), {}, {eighthCountoff()}, 100000.0);
    const double infinity = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double position : {infinity, nan}) {
        EXPECT_DOUBLE_EQ(map.nextClickTimeAfterPrerollShiftedBeats(position, context(128.0), nullptr), 0.0);
        EXPECT_DOUBLE_EQ(map.nextVisualClickTimeAfterPrerollShiftedBeats(position, context(128.0)), 0.0);
        EXPECT_DOUBLE_EQ(map.nextBeatTimeAfterPrerollShiftedBeats(position), 0.0);
    }
}

TEST(CueTimingMapTest, RecordsOfCueEvents) {
    auto change = CueEventClickChange::clickChangeWithCue(nullptr, 8, 4.0);
    change->setClickPattern({2, 2, 3});
    change->setChangePunches(true);
    change->setBeatPunchNoteDuration(8);
    change->setBarPunchHoles(5);
    auto meter = CueEventMeterChange::meterChangeWithCue(nullptr, TimeSignature{7, 8}, 8, 1);
    auto streamer =
        CueEventStreamer::streamerEventWithCue(nullptr, Color::calibrated(1, 1, 1), 3.0f, 1.0f, 0.0);
    const std::vector<MeterRecord> meters = CueTimingMap::meterRecordsOf({meter, change, streamer});
    ASSERT_EQ(meters.size(), 2u);
    EXPECT_FALSE(meters[0].isClickChange);
    EXPECT_EQ(meters[0].clickNoteDuration, 8);
    EXPECT_TRUE(meters[1].isClickChange);
    EXPECT_DOUBLE_EQ(meters[1].lockPosition, 132.0);
    EXPECT_EQ(meters[1].clickPattern, (std::vector<uint32_t>{2, 2, 3}));
    EXPECT_TRUE(meters[1].changePunches);
    EXPECT_TRUE(meters[1].beatPunchEnabled);
    EXPECT_EQ(meters[1].beatPunchNoteDuration, 8);
    EXPECT_EQ(meters[1].barPunchHoles, 5);

    auto countoff = CueEventCountoff::countoffEventWithCue(nullptr, 16.0, 3, 8, false, true, true, true);
    countoff->setFirstClickPrerollShiftedBeats(142.5);
    const std::vector<CountoffRecord> countoffs = CueTimingMap::countoffRecordsOf({countoff});
    ASSERT_EQ(countoffs.size(), 1u);
    EXPECT_DOUBLE_EQ(countoffs[0].firstClickPosition, 142.5);
    EXPECT_DOUBLE_EQ(countoffs[0].lockPosition, 144.0);
    EXPECT_EQ(countoffs[0].countoffBeats, 3);
    EXPECT_EQ(countoffs[0].countoffNoteDuration, 8);
    EXPECT_FALSE(countoffs[0].audioClick);
    EXPECT_TRUE(countoffs[0].punchClick);
}

}  // namespace
}  // namespace tollvane
