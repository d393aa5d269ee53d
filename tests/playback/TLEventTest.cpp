#include "playback/TLEvent.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/archive/ArchiveError.h"
#include "platform/archive/ArchiveField.h"
#include "platform/archive/GenericArchiveObject.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

Data colorData(double red, double green, double blue) {
    return Color::calibrated(red, green, blue)->archivedData();
}

std::vector<std::string> keysOf(const TLEvent& event) {
    std::vector<std::string> keys;
    for (const auto& entry : event.contents().entries) keys.push_back(entry.first.stringValue());
    return keys;
}

TEST(TLEventTest, FactoriesSetTheirKeys) {
    struct Case {
        std::shared_ptr<TLEvent> event;
        uint32_t type;
        std::vector<std::string> keys;
        std::string name;
    } cases[] = {
        {TLEvent::streamerEvent(),
         fourCharCode("stmr"),
         {"eventType", "eventLength", "eventSize", "eventColor"},
         "3.0' regular streamer"},
        {TLEvent::punchEvent(),
         fourCharCode("pnch"),
         {"eventType", "eventLength", "eventSize", "eventColor"},
         "1-hole punch, regular"},
        {TLEvent::cueStartEvent(),
         fourCharCode("strt"),
         {"eventType", "eventLength", "eventSize", "eventColor"},
         "cue start"},
        {TLEvent::clickEvent(),
         fourCharCode("clix"),
         {"eventType", "eventLength", "eventSize", "volume", "eventColor"},
         "click"},
        {TLEvent::beepEvent(),
         fourCharCode("beep"),
         {"eventType", "beepCount", "beepTime", "beepPunches"},
         "3 beeps (2.00 sec)"},
        {TLEvent::textChangeEvent(), fourCharCode("txch"), {"eventType", "text"}, "\u2014"},
        {TLEvent::reelMuteEvent(), fourCharCode("rmut"), {"eventType"}, "\u2014"},
        {TLEvent::cueChangeEvent(), fourCharCode("qchg"), {"eventType", "cueNumber"}, "\u2014"},
    };
    for (const Case& expected : cases) {
        EXPECT_EQ(expected.event->eventType(), expected.type) << expected.name;
        EXPECT_EQ(keysOf(*expected.event), expected.keys) << expected.name;
        EXPECT_EQ(expected.event->defaultName(), expected.name);
        EXPECT_EQ(expected.event->eventName(), expected.name);
    }
    const auto streamer = TLEvent::streamerEvent();
    EXPECT_EQ(streamer->valueForKey("eventLength").toInt64(), 3);
    EXPECT_EQ(streamer->valueForKey("eventSize").toInt64(), 1);
    EXPECT_EQ(streamer->valueForKey("eventColor").dataValue(), colorData(0, 1, 0));
    EXPECT_EQ(TLEvent::clickEvent()->valueForKey("eventColor").dataValue(), colorData(1, 1, 1));
    EXPECT_DOUBLE_EQ(TLEvent::clickEvent()->valueForKey("volume").toDouble(-1), 0.0);
    EXPECT_DOUBLE_EQ(TLEvent::beepEvent()->valueForKey("beepTime").toDouble(), 2.0);
    EXPECT_EQ(TLEvent::textChangeEvent()->valueForKey("text"), Value(""));
    EXPECT_TRUE(TLEvent().contents().entries.empty());
    EXPECT_EQ(TLEvent().eventType(), 0u);
}

TEST(TLEventTest, DefaultNamesFollowTheSettings) {
    const auto name = [](std::shared_ptr<TLEvent> event, const char* key, Value value) {
        event->setValueForKey(key, value);
        return event->defaultName();
    };
    EXPECT_EQ(name(TLEvent::punchEvent(), "eventLength", Value(3)), "3-hole flutter, regular");
    EXPECT_EQ(name(TLEvent::punchEvent(), "eventSize", Value(0)), "1-hole punch, small");
    EXPECT_EQ(name(TLEvent::streamerEvent(), "eventSize", Value(2)), "3.0' large streamer");
    EXPECT_EQ(name(TLEvent::streamerEvent(), "eventLength", Value(4.5)), "4.5' regular streamer");
    EXPECT_EQ(name(TLEvent::beepEvent(), "beepCount", Value(1)), "beep");
    EXPECT_EQ(name(TLEvent::beepEvent(), "beepTime", Value(1.5)), "3 beeps (1.50 sec)");
}

TEST(TLEventTest, WritesStoreRemoveAndAnnounce) {
    auto event = TLEvent::punchEvent();
    std::vector<std::string> announced;
    event->addKeyObserver([&](std::string_view key) { announced.emplace_back(key); });

    event->setValueForKey("customName", Value("Big hit"));
    EXPECT_EQ(event->eventName(), "Big hit");
    EXPECT_EQ(event->valueForKey("eventName"), Value("Big hit"));
    EXPECT_EQ(event->defaultName(), "1-hole punch, regular");
    EXPECT_EQ(announced, (std::vector<std::string>{"customName", "eventName", "eventData", "sortInfo"}));

    announced.clear();
    event->setValueForKey("customName", Value());
    EXPECT_FALSE(event->contents().contains("customName"));
    EXPECT_EQ(event->eventName(), "1-hole punch, regular");
    EXPECT_EQ(announced.front(), "customName");

    announced.clear();
    event->setValueForKey("noteOn", Value(60));
    EXPECT_EQ(announced, (std::vector<std::string>{"noteOn"}));
    EXPECT_EQ(event->valueForKey("noteOn").toInt64(), 60);
    EXPECT_TRUE(event->valueForKey("missing").isNull());

    announced.clear();
    event->setEventType(TLEvent::kBeeps);
    EXPECT_EQ(event->eventType(), TLEvent::kBeeps);
    EXPECT_EQ(announced.front(), "eventType");
}

TEST(TLEventTest, ColoursAreStoredAsCalibratedRGB) {
    auto event = TLEvent::streamerEvent();
    event->setValueForKey("eventColor", Value(Color::deviceRGB(0.2, 0.4, 0.6)->archivedData()));
    EXPECT_EQ(event->valueForKey("eventColor").dataValue(), colorData(0.2, 0.4, 0.6));
    event->setValueForKey("eventColor", Value(Color::calibratedWhite(0.5)));
    EXPECT_EQ(event->valueForKey("eventColor").dataValue(), colorData(0.5, 0.5, 0.5));
    ASSERT_NE(event->color(), nullptr);
    EXPECT_DOUBLE_EQ(event->color()->redComponent(), 0.5);

    // Anything that is no colour is refused, unannounced.
    std::vector<std::string> announced;
    event->addKeyObserver([&](std::string_view key) { announced.emplace_back(key); });
    event->setValueForKey("eventColor", Value(Data{1, 2, 3}));
    event->setValueForKey("eventColor", Value("red"));
    EXPECT_EQ(event->valueForKey("eventColor").dataValue(), colorData(0.5, 0.5, 0.5));
    EXPECT_TRUE(announced.empty());

    // Only streamers and punches have a colour to show.
    EXPECT_EQ(TLEvent::clickEvent()->color(), nullptr);
    EXPECT_NE(TLEvent::punchEvent()->color(), nullptr);
}

TEST(TLEventTest, DerivedKeys) {
    auto streamer = TLEvent::streamerEvent();
    // Green: hue 1/3 (85 of 256), full brightness and saturation.
    EXPECT_EQ(streamer->valueForKey("sortInfo"), Value("Stmr03085256256" + streamer->defaultName()));
    EXPECT_EQ(TLEvent::cueStartEvent()->valueForKey("sortInfo"), Value("CStart"));
    EXPECT_EQ(TLEvent::beepEvent()->valueForKey("sortInfo"), Value("-"));
    EXPECT_EQ(streamer->valueForKey("inspectorShouldShowLengthPopup"), Value(true));
    EXPECT_EQ(streamer->valueForKey("inspectorShouldShowPunchCountPopup"), Value(false));
    EXPECT_EQ(TLEvent::beepEvent()->valueForKey("inspectorShouldShowBeepTimeField"), Value(true));
    EXPECT_EQ(TLEvent::clickEvent()->valueForKey("inspectorShouldShowPreviewButton"), Value(true));
    EXPECT_EQ(TLEvent::clickEvent()->valueForKey("inspectorShouldShowColorWell"), Value(false));
}

TEST(TLEventTest, Description) {
    auto event = std::make_shared<TLEvent>();
    event->setValueForKey("text", Value("Bar 12"));
    event->setEventType(TLEvent::kTextChange);
    EXPECT_EQ(event->description(),
              "TLEvent, contents = {\n    eventType = 1954046824;\n    text = \"Bar 12\";\n}");
}

TEST(TLEventTest, CopyIsIndependent) {
    auto event = TLEvent::punchEvent();
    event->setValueForKey("customName", Value("Hit"));
    auto copy = event->copy();
    EXPECT_EQ(keysOf(*copy), keysOf(*event));
    for (const auto& [key, value] : event->contents().entries) {
        EXPECT_EQ(copy->valueForKey(key.stringValue()), value) << key.stringValue();
    }
    copy->setValueForKey("eventLength", Value(4));
    EXPECT_EQ(event->valueForKey("eventLength").toInt64(), 1);
}

TEST(TLEventTest, ArchivesAsItsContentsDictionary) {
    TLEvent::registerArchiveClass();
    auto event = TLEvent::streamerEvent();
    event->setValueForKey("noteOn", Value(61));
    event->setValueForKey("sysexArray", Value::array({Value(0xF0), Value(0x7F), Value(0xF7)}));
    const Data data = KeyedArchiver::archivedDataWithRootObject(Value(event));

    // The same bytes as an object of class "TLEvent" whose fields are a
    // dictionary's "NS.keys" and "NS.objects".
    ArchiveField keys, objects;
    keys.kind = objects.kind = ArchiveField::Kind::Array;
    for (const auto& [key, value] : event->contents().entries) {
        keys.items.push_back(ArchiveField::reference(key));
        objects.items.push_back(ArchiveField::reference(value));
    }
    auto generic =
        std::make_shared<GenericArchiveObject>("TLEvent", std::vector<std::string>{"TLEvent", "NSObject"},
                                               ArchiveFields{{"NS.keys", keys}, {"NS.objects", objects}});
    EXPECT_EQ(KeyedArchiver::archivedDataWithRootObject(Value(generic)), data);

    const auto decoded = KeyedUnarchiver::unarchivedObjectWithData(data).object<TLEvent>();
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(keysOf(*decoded), keysOf(*event));
    for (const auto& [key, value] : event->contents().entries) {
        EXPECT_EQ(decoded->valueForKey(key.stringValue()), value) << key.stringValue();
    }
}

TEST(TLEventTest, RefusesMismatchedArchives) {
    TLEvent::registerArchiveClass();
    ArchiveField keys, objects;
    keys.kind = objects.kind = ArchiveField::Kind::Array;
    keys.items.push_back(ArchiveField::reference(Value("eventType")));
    auto generic =
        std::make_shared<GenericArchiveObject>("TLEvent", std::vector<std::string>{"TLEvent", "NSObject"},
                                               ArchiveFields{{"NS.keys", keys}, {"NS.objects", objects}});
    const Data data = KeyedArchiver::archivedDataWithRootObject(Value(generic));
    EXPECT_THROW(KeyedUnarchiver::unarchivedObjectWithData(data), ArchiveError);

    // No fields at all: an empty event.
    auto bare = std::make_shared<GenericArchiveObject>(
        "TLEvent", std::vector<std::string>{"TLEvent", "NSObject"}, ArchiveFields{});
    const auto empty =
        KeyedUnarchiver::unarchivedObjectWithData(KeyedArchiver::archivedDataWithRootObject(Value(bare)))
            .object<TLEvent>();
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->contents().entries.empty());
}

}  // namespace
}  // namespace tollvane
