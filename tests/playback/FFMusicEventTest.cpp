#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "playback/FFMusicEvent.h"

namespace tollvane {
namespace {

std::vector<uint8_t> block(std::initializer_list<uint8_t> bytes) {
    const auto length = static_cast<uint32_t>(bytes.size());
    std::vector<uint8_t> out(4 + length);
    std::memcpy(out.data(), &length, 4);
    std::copy(bytes.begin(), bytes.end(), out.begin() + 4);
    return out;
}

std::vector<uint8_t> metaBlock(uint8_t type, const std::string& text) {
    const auto length = static_cast<uint32_t>(text.size());
    std::vector<uint8_t> out(8 + length, 0);
    out[0] = type;
    std::memcpy(out.data() + 4, &length, 4);
    std::copy(text.begin(), text.end(), out.begin() + 8);
    return out;
}

std::string mismatchMessage(const std::function<void()>& read) {
    try {
        read();
    } catch (const FFMusicEventTypeMismatch& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

TEST(FFMusicEventTest, FactoriesPackTheirPayloads) {
    const FFMusicEvent note = FFMusicEvent::eventWithMIDINote(60, 2, 100, 64, 1.5f, 3.25);
    EXPECT_EQ(note.type(), kMusicEventType_MIDINoteMessage);
    EXPECT_DOUBLE_EQ(note.timeStamp(), 3.25);
    const MIDINoteMessage message = note.midiNoteEvent();
    EXPECT_EQ(message.note, 60);
    EXPECT_EQ(message.channel, 2);
    EXPECT_EQ(message.velocity, 100);
    EXPECT_EQ(message.releaseVelocity, 64);
    EXPECT_FLOAT_EQ(message.duration, 1.5f);
    EXPECT_EQ(note.dataSize(), 8u);

    const FFMusicEvent status = FFMusicEvent::eventWithMIDIStatus(0xB1, 64, 127, 1.0);
    EXPECT_EQ(status.midiChannelMessageEvent().status, 0xB1);
    EXPECT_EQ(status.midiChannelMessageEvent().data2, 127);
    EXPECT_EQ(status.dataAsString(), "b1 40 7f 00");

    EXPECT_DOUBLE_EQ(FFMusicEvent::eventWithTempo(96.5, 0).extendedTempoEvent(), 96.5);

    const std::vector<uint8_t> user = block({'s', 't', 'r', 't'});
    const FFMusicEvent userEvent = FFMusicEvent::eventWithUserData(user.data(), 8, 2.0);
    EXPECT_EQ(std::vector<uint8_t>(userEvent.userEvent().begin(), userEvent.userEvent().end()), user);

    ParameterEvent parameter{1, 2, 3, 0.5f};
    EXPECT_EQ(FFMusicEvent::eventWithParameter(parameter, 0).parameterEvent().element, 3u);
    AUPresetEvent preset{-7, 99};
    EXPECT_EQ(FFMusicEvent::eventWithAUPreset(preset, 0).auPreset().presetNumber, -7);
    ExtendedControlEvent control{1, 7, 0.25f};
    EXPECT_EQ(FFMusicEvent::eventWithExtendedControl(control, 0).extendedControlEvent().controlID, 7u);
    ExtendedNoteOnEvent extended{};
    extended.duration = 2.0f;
    EXPECT_FLOAT_EQ(FFMusicEvent::eventWithExtendedNoteOn(extended, 0).extendedNoteOnEvent().duration, 2.0f);
    const std::vector<uint8_t> sysex = block({0xF0, 0x7D, 0xF7});
    EXPECT_EQ(FFMusicEvent::eventWithMIDIRawData(sysex.data(), 7, 0).midiRawData().size(), 7u);
}

TEST(FFMusicEventTest, ReadersOfAnotherTypeThrowWithTheirOwnName) {
    const FFMusicEvent tempo = FFMusicEvent::eventWithTempo(120, 1.5);
    const std::string of =
        " value from an event of a different type (FFMusicEvent at 1.500000 (type = 3, data = "
        "00 00 00 00 00 00 5e 40))";
    const FFMusicEvent note = FFMusicEvent::eventWithMIDINote(60, 0, 1, 0, 1, 1.5);
    struct Case {
        const char* name;
        std::function<void()> read;
        bool fullStop;
    } cases[] = {
        {"extendedNoteOnEvent", [&] { tempo.extendedNoteOnEvent(); }, true},
        {"extendedControlEvent", [&] { tempo.extendedControlEvent(); }, true},
        {"userEvent", [&] { tempo.userEvent(); }, true},
        {"metaEvent", [&] { tempo.metaEvent(); }, true},
        {"midiNoteEvent", [&] { tempo.midiNoteEvent(); }, true},
        {"midiChannelMessageEvent", [&] { tempo.midiChannelMessageEvent(); }, true},
        {"midiRawData", [&] { tempo.midiRawData(); }, false},
        {"parameterEvent", [&] { tempo.parameterEvent(); }, false},
        {"auPreset", [&] { tempo.auPreset(); }, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mismatchMessage(c.read),
                  std::string("Attempted to access ") + c.name + of + (c.fullStop ? "." : ""));
    }
    EXPECT_EQ(
        mismatchMessage([&] { note.extendedTempoEvent(); }),
        "Attempted to access extendedTempoEvent value from an event of a different type (FFMusicEvent at "
        "1.500000 (type = 6, data = 00 3c 01 00 00 00 80 3f)).");
    EXPECT_THROW(FFMusicEvent().userEvent(), std::logic_error);
}

TEST(FFMusicEventTest, Descriptions) {
    EXPECT_EQ(FFMusicEvent().description(), "FFMusicEvent at 0.000000 (type = NULL)");
    const std::vector<uint8_t> name = metaBlock(3, "_visual");
    const FFMusicEvent meta =
        FFMusicEvent::eventWithMetaEvent(name.data(), static_cast<uint32_t>(name.size()), 2);
    EXPECT_EQ(meta.description(), "FFMusicEvent at 2.000000 (meta, data = '_visual')");
    EXPECT_EQ(meta.metaEventType(), 3);
    EXPECT_EQ(meta.metaEventDataAsString(), "_visual");
    const std::vector<uint8_t> user = block({1, 0xab});
    EXPECT_EQ(FFMusicEvent::eventWithUserData(user.data(), 6, 0.125).description(),
              "FFMusicEvent at 0.125000 (type = 4, data = 02 00 00 00 01 ab)");
    EXPECT_EQ(FFMusicEvent(12, 0, nullptr, 0).description(), "FFMusicEvent at 0.000000 (type = 12, data = )");
}

TEST(FFMusicEventTest, MetaTextIsUTF8OrOneCharacterPerByte) {
    const std::vector<uint8_t> utf8 = metaBlock(1, "Caf\xc3\xa9");
    EXPECT_EQ(FFMusicEvent::eventWithMetaEvent(utf8.data(), static_cast<uint32_t>(utf8.size()), 0)
                  .metaEventDataAsString(),
              "Caf\xc3\xa9");
    const std::vector<uint8_t> latin1 = metaBlock(1, "Caf\xe9");
    EXPECT_EQ(FFMusicEvent::eventWithMetaEvent(latin1.data(), static_cast<uint32_t>(latin1.size()), 0)
                  .metaEventDataAsString(),
              "Caf\xc3\xa9");
    // A data length that claims more than the payload holds reads what is there.
    std::vector<uint8_t> lying = metaBlock(1, "abc");
    lying[4] = 200;
    EXPECT_EQ(FFMusicEvent::eventWithMetaEvent(lying.data(), static_cast<uint32_t>(lying.size()), 0)
                  .metaEventDataAsString(),
              "abc");
    const uint8_t three[3] = {1, 2, 3};
    EXPECT_EQ(FFMusicEvent::eventWithMetaEvent(three, 3, 0).metaEventDataAsString(), "");
}

TEST(FFMusicEventTest, CopiesOwnTheirPayloads) {
    const std::vector<uint8_t> user = block({1, 2, 3});
    FFMusicEvent original = FFMusicEvent::eventWithUserData(user.data(), 7, 4.0);
    FFMusicEvent copy = original;
    EXPECT_NE(copy.data().data(), original.data().data());
    EXPECT_EQ(copy.data(), original.data());
    copy.setTimeStamp(8.0);
    EXPECT_DOUBLE_EQ(original.timeStamp(), 4.0);
    FFMusicEvent assigned;
    assigned = original;
    EXPECT_EQ(assigned.type(), kMusicEventType_User);
    EXPECT_DOUBLE_EQ(assigned.timeStamp(), 4.0);
    EXPECT_NE(assigned.data().data(), original.data().data());

    // A payload shorter than its record reads zeros past its end.
    const uint8_t two[2] = {9, 60};
    const FFMusicEvent shortNote(kMusicEventType_MIDINoteMessage, 0, two, 2);
    EXPECT_EQ(shortNote.midiNoteEvent().note, 60);
    EXPECT_FLOAT_EQ(shortNote.midiNoteEvent().duration, 0.0f);
    EXPECT_EQ(FFMusicEvent(kMusicEventType_ExtendedTempo, 0, nullptr, 5).extendedTempoEvent(), 0.0);
}

}  // namespace
}  // namespace tollvane
