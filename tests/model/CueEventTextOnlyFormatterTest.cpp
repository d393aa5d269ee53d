#include "model/CueEventTextOnlyFormatter.h"

#include <gtest/gtest.h>

#include <memory>

#include "model/CueDefaults.h"
#include "model/CueEventSoundCue.h"
#include "platform/UserDefaults.h"

namespace tollvane {
namespace {

Value proxy(Value text, Value enabled) {
    Value dictionary = Value::dictionary();
    if (!text.isNull()) dictionary.dictionaryValue()->set("text", std::move(text));
    if (!enabled.isNull()) dictionary.dictionaryValue()->set("enabled", std::move(enabled));
    return dictionary;
}

TEST(CueEventTextOnlyFormatter, ShowsTheTextDimmedWhenTheCueIsDisabled) {
    struct Case {
        Value proxy;
        const char* text;
        bool dimmed;
    };
    const Case cases[] = {
        {proxy("Door slam", true), "Door slam", false},
        {proxy("Door slam", false), "Door slam", true},
        {proxy("Door slam", 0), "Door slam", true},
        {proxy("Footsteps", Value()), "Footsteps", false},
        {proxy(Value(), false), "", true},
        {proxy(Value(), Value()), "", false},
        {proxy(42, true), "", false},
        {Value("Door slam"), "", false},
        {Value(), "", false},
    };
    CueEventTextOnlyFormatter formatter;
    for (const Case& c : cases) {
        EXPECT_EQ(formatter.stringForObjectValue(c.proxy), c.text);
        const CueEventTextOnlyFormatter::AttributedText attributed =
            formatter.attributedStringForObjectValue(c.proxy);
        EXPECT_EQ(attributed.text, c.text);
        EXPECT_EQ(attributed.dimmed, c.dimmed) << c.text;
    }
}

TEST(CueEventTextOnlyFormatter, ShowsASoundCuesProxy) {
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    auto soundCue = CueEventSoundCue::soundCueEventWithCue(nullptr, "Glass breaks");
    CueEventTextOnlyFormatter formatter;
    EXPECT_EQ(formatter.stringForObjectValue(soundCue->eventProxy()), "Glass breaks");
    EXPECT_FALSE(formatter.attributedStringForObjectValue(soundCue->eventProxy()).dimmed);
    soundCue->setEnabled(false);
    EXPECT_TRUE(formatter.attributedStringForObjectValue(soundCue->eventProxy()).dimmed);
}

TEST(CueEventTextOnlyFormatter, NeverAcceptsInput) {
    CueEventTextOnlyFormatter formatter;
    Value object("unchanged");
    EXPECT_FALSE(formatter.getObjectValue("New text", &object));
    EXPECT_EQ(object, Value("unchanged"));
    EXPECT_FALSE(formatter.getObjectValue("", nullptr));
}

}  // namespace
}  // namespace tollvane
