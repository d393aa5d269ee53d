#include "model/BarBeatFormatter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventMeterChange.h"
#include "platform/ManualRunLoop.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"

namespace tollvane {
namespace {

// A cue in 4/4 whose bar 3 is a 12/8 bar: bar 1 at 128, bar 2 at 132,
// bar 3 at 136 (six quarters long, counted in eighths), bar 4 at 142.
class BarBeatFormatterTest : public ::testing::Test {
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
        cue_.reset();
        RunLoop::setMain(previousLoop_);
    }

    BarBeatFormatter formatter(bool barOnly = false) {
        return BarBeatFormatter([cue = cue_] { return cue; }, barOnly);
    }

    ManualRunLoop loop_;
    RunLoop* previousLoop_ = nullptr;
    std::shared_ptr<Cue> cue_;
};

TEST_F(BarBeatFormatterTest, ShowsPositionsAsBarBeatSubbeat) {
    struct Case {
        double beats;
        const char* text;
    };
    const Case cases[] = {
        {128.0, "1|1|000"},  {129.5, "1|2|240"},   {131.999, "1|4|479"}, {132.0, "2|1|000"},
        {136.0, "3|01|000"}, {137.25, "3|03|240"}, {140.5, "3|10|000"},  {141.5, "3|12|000"},
        {142.0, "4|1|000"},  {124.0, "0|1|000"},   {0.0, "-31|1|000"},
    };
    BarBeatFormatter bars = formatter();
    for (const Case& c : cases) EXPECT_EQ(bars.stringForObjectValue(c.beats), c.text) << c.beats;
}

TEST_F(BarBeatFormatterTest, ShowsTheBarNumberOffsetAndKeepsTheTwoDigitBeatOfTheBar) {
    cue_->setBarNumberOffset(Value(10));
    BarBeatFormatter bars = formatter();
    EXPECT_EQ(bars.stringForObjectValue(128.0), "11|1|000");
    // The width follows the meter of the bar the position is in, not of the
    // sequence bar that happens to carry the shown number.
    EXPECT_EQ(bars.stringForObjectValue(136.0), "13|01|000");
    EXPECT_EQ(bars.stringForObjectValue(142.0), "14|1|000");
    cue_->setBarNumberOffset(Value(-5));
    EXPECT_EQ(bars.stringForObjectValue(136.0), "-2|01|000");
}

TEST_F(BarBeatFormatterTest, ShowsOnlyTheBarWhenBarOnlyAndGreysTheRest) {
    BarBeatFormatter bar = formatter(true);
    EXPECT_EQ(bar.stringForObjectValue(137.25), "3|-|---");
    const auto runs = bar.attributedStringForObjectValue(137.25);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].text, "3");
    EXPECT_FALSE(runs[0].dimmed);
    EXPECT_EQ(runs[1].text, "|-|---");
    EXPECT_TRUE(runs[1].dimmed);

    const auto full = formatter().attributedStringForObjectValue(137.25);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].text, "3|03|240");
    EXPECT_FALSE(full[0].dimmed);
}

TEST_F(BarBeatFormatterTest, ShowsPlaceholdersForNonNumbersAndWithoutCue) {
    BarBeatFormatter bars = formatter();
    EXPECT_EQ(bars.stringForObjectValue(std::monostate{}), "-");
    EXPECT_EQ(bars.stringForObjectValue(std::string("1|1|000")), "-");
    EXPECT_EQ(bars.stringForObjectValue(std::numeric_limits<double>::quiet_NaN()), "-");

    for (bool barOnly : {false, true}) {
        BarBeatFormatter noCue({}, barOnly);
        EXPECT_EQ(noCue.stringForObjectValue(128.0), "-|-|---");
        BarBeatFormatter nullCue([] { return std::shared_ptr<Cue>(); }, barOnly);
        const auto runs = nullCue.attributedStringForObjectValue(128.0);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].text, "-|-|---");
        EXPECT_FALSE(runs[0].dimmed);
    }
}

TEST_F(BarBeatFormatterTest, ReadsTypedPositionsWithDefaults) {
    struct Case {
        const char* text;
        bool barOnly;
        double beats;
    };
    const Case cases[] = {
        {"1|1|000", false, 128.0},  {"3|2|240", false, 136.75}, {"3|12|000", false, 141.5},
        {"2", false, 132.0},        {"2|3", false, 134.0},      {"", false, 128.0},
        {"4.2.240", false, 143.5},  {"4 2 240", false, 143.5},  {"0|1|000", false, 124.0},
        {"-1|1|0", false, 120.0},   {"|3", false, 130.0},       {"x", false, 128.0},
        {"3|4|000", true, 136.0},   {"4", true, 142.0},         {"", true, 128.0},
        {"2\u00b73", false, 134.0},  // a separator of more than one byte is still one character
    };
    for (const Case& c : cases) {
        const BarBeatFormatter::ParseResult result = formatter(c.barOnly).getObjectValue(std::string(c.text));
        EXPECT_TRUE(result.ok) << '"' << c.text << '"';
        EXPECT_DOUBLE_EQ(result.beats, c.beats) << '"' << c.text << '"';
        EXPECT_TRUE(result.error.empty());
    }
}

TEST_F(BarBeatFormatterTest, ReadsTypedBarsInTheShownNumbering) {
    cue_->setBarNumberOffset(Value(10));
    EXPECT_DOUBLE_EQ(formatter().getObjectValue(std::string("11|1|000")).beats, 128.0);
    EXPECT_DOUBLE_EQ(formatter(true).getObjectValue(std::string("14")).beats, 142.0);
}

TEST_F(BarBeatFormatterTest, ReadsBackWhatItShows) {
    BarBeatFormatter bars = formatter();
    for (double beats : {128.0, 129.5, 136.0, 137.25, 141.75, 150.125, 124.0}) {
        const std::string text = bars.stringForObjectValue(beats);
        const BarBeatFormatter::ParseResult result = bars.getObjectValue(text);
        ASSERT_TRUE(result.ok) << text;
        EXPECT_DOUBLE_EQ(result.beats, beats) << text;
    }
}

TEST_F(BarBeatFormatterTest, SaturatesHugeTypedNumbers) {
    const BarBeatFormatter::ParseResult result =
        formatter().getObjectValue(std::string("99999999999999999999|70000|-5"));
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(std::isfinite(result.beats));
}

TEST_F(BarBeatFormatterTest, RefusesNonTextAndMissingCue) {
    const char* notAString = "Bar/beat formatter can't parse this because it's not a string.";
    const char* noCue = "Bar/beat formatter can't parse this because there's no cue in place.";
    for (const BarBeatFormatter::ObjectValue& value :
         {BarBeatFormatter::ObjectValue{}, BarBeatFormatter::ObjectValue{128.0}}) {
        const BarBeatFormatter::ParseResult result = formatter().getObjectValue(value);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, notAString);
    }
    BarBeatFormatter noProvider;
    EXPECT_EQ(noProvider.getObjectValue(std::string("1|1|000")).error, noCue);
    BarBeatFormatter nullCue([] { return std::shared_ptr<Cue>(); });
    const BarBeatFormatter::ParseResult result = nullCue.getObjectValue(std::string("1|1|000"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, noCue);
}

}  // namespace
}  // namespace tollvane
