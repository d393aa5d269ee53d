#include "model/CueEventLockTimeFormatter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEvent.h"
#include "model/CueEventMeterChange.h"
#include "platform/ManualRunLoop.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"

namespace tollvane {
namespace {

Value lockTimeDictionary(int64_t lockType, Value time) {
    Value dictionary = Value::dictionary();
    dictionary.dictionaryValue()->set("lockType", Value(lockType));
    dictionary.dictionaryValue()->set("lockTime", std::move(time));
    return dictionary;
}

// A 4/4 cue whose bar 3 is in 12/8 (bar 3 at 136, bar 4 at 142).
class CueEventLockTimeFormatterTest : public ::testing::Test {
protected:
    void SetUp() override {
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        previousLoop_ = RunLoop::setMain(&loop_);
        cue_ = Cue::create();
        cue_->meterEvents().push_back(
            CueEventMeterChange::meterChangeWithCue(cue_, TimeSignature{12, 8}, -2, 3));
        cue_->meterEvents().push_back(
            CueEventMeterChange::meterChangeWithCue(cue_, TimeSignature{4, 4}, -2, 4));
        cue_->reallyUpdateSequence();
        ASSERT_NE(cue_->sequence(), nullptr);
    }
    void TearDown() override {
        EMTimecodeFormatter::setProjectFramerateProvider({});
        cue_.reset();
        RunLoop::setMain(previousLoop_);
    }

    ManualRunLoop loop_;
    RunLoop* previousLoop_ = nullptr;
    std::shared_ptr<Cue> cue_;
    CueEventLockTimeFormatter formatter_{[this] { return cue_; }};
};

TEST_F(CueEventLockTimeFormatterTest, ShowsEachLockTypeThroughItsFormatterAndRemembersIt) {
    auto timecode = EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(3), 1, 0, 2, 12);
    struct Case {
        Value lockTime;
        const char* text;
        int32_t lockType;
    };
    const Case cases[] = {
        {lockTimeDictionary(CueEvent::kLockTypeBeat, Value(137.25)), "3|03|240", CueEvent::kLockTypeBeat},
        {lockTimeDictionary(CueEvent::kLockTypeBar, Value(137.25)), "3|-|---", CueEvent::kLockTypeBar},
        {lockTimeDictionary(CueEvent::kLockTypeTimecode, Value(timecode)), "", CueEvent::kLockTypeTimecode},
        {lockTimeDictionary(CueEvent::kLockTypeBeat, Value(129.5)), "1|2|240", CueEvent::kLockTypeBeat},
        {lockTimeDictionary(CueEvent::kLockTypeBar, Value(142)), "4|-|---", CueEvent::kLockTypeBar},
    };
    for (const Case& c : cases) {
        const std::string expected = *c.text ? c.text : timecode->stringRepresentation();
        EXPECT_EQ(formatter_.stringForObjectValue(c.lockTime), expected);
        EXPECT_EQ(formatter_.currentLockType(), c.lockType) << expected;
    }
    EXPECT_TRUE(formatter_.barOnlyFormatter().barOnly());
    EXPECT_FALSE(formatter_.barBeatFormatter().barOnly());
}

TEST_F(CueEventLockTimeFormatterTest, ShowsADashForAnythingElseAndKeepsTheCurrentFormatter) {
    formatter_.stringForObjectValue(lockTimeDictionary(CueEvent::kLockTypeBar, Value(136.0)));
    const Value others[] = {
        Value(),
        Value(136.0),
        Value("3|1|000"),
        lockTimeDictionary(int64_t{fourCharCode("none")}, Value(136.0)),
        Value::dictionary(),
    };
    for (const Value& value : others) {
        EXPECT_EQ(formatter_.stringForObjectValue(value), "-");
        EXPECT_EQ(formatter_.currentLockType(), CueEvent::kLockTypeBar);
    }
}

TEST_F(CueEventLockTimeFormatterTest, ReadsTextBackAsALockTimeOfTheCurrentType) {
    formatter_.stringForObjectValue(lockTimeDictionary(CueEvent::kLockTypeBeat, Value(128.0)));
    std::string error;
    Value lockTime = formatter_.getObjectValue("3|2|240", &error);
    EXPECT_EQ(lockTime, lockTimeDictionary(CueEvent::kLockTypeBeat, Value(136.75)));
    EXPECT_TRUE(error.empty());

    // Bar-locked times travel as the beats of the bar's downbeat.
    formatter_.stringForObjectValue(lockTimeDictionary(CueEvent::kLockTypeBar, Value(128.0)));
    lockTime = formatter_.getObjectValue("4|3|000");
    EXPECT_EQ(lockTime, lockTimeDictionary(CueEvent::kLockTypeBar, Value(142.0)));

    EMTimecodeFormatter::setProjectFramerateProvider(
        [] { return EMTimecodeFramerate::framerateForIndex(3); });
    formatter_.stringForObjectValue(lockTimeDictionary(
        CueEvent::kLockTypeTimecode,
        Value(EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(3), 1, 0, 0, 0))));
    lockTime = formatter_.getObjectValue("1:00:02:12");
    const auto& dictionary = lockTime.dictionaryValue();
    ASSERT_NE(dictionary, nullptr);
    EXPECT_EQ(dictionary->find("lockType")->toInt64(), CueEvent::kLockTypeTimecode);
    const auto timecode = dictionary->find("lockTime")->object<EMTimecode>();
    ASSERT_NE(timecode, nullptr);
    EXPECT_EQ(timecode->framerate(), EMTimecodeFramerate::framerateForIndex(3));
    EXPECT_EQ(timecode->stringRepresentation(),
              EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(3), 1, 0, 2, 12)
                  ->stringRepresentation());
}

TEST_F(CueEventLockTimeFormatterTest, ParsesWithTheBeatFormatterBeforeAnythingWasShown) {
    EXPECT_EQ(formatter_.currentLockType(), CueEvent::kLockTypeBeat);
    EXPECT_EQ(formatter_.getObjectValue("2"), lockTimeDictionary(CueEvent::kLockTypeBeat, Value(132.0)));
}

TEST_F(CueEventLockTimeFormatterTest, AnswersNilWithTheFormattersErrorWithoutCue) {
    CueEventLockTimeFormatter noCue;
    std::string error;
    EXPECT_TRUE(noCue.getObjectValue("1|1|000", &error).isNull());
    EXPECT_EQ(error, "Bar/beat formatter can't parse this because there's no cue in place.");
    EXPECT_EQ(noCue.stringForObjectValue(lockTimeDictionary(CueEvent::kLockTypeBeat, Value(128.0))),
              "-|-|---");
    EXPECT_TRUE(noCue.getObjectValue("1").isNull());
}

}  // namespace
}  // namespace tollvane
