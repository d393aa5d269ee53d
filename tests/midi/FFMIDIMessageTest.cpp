#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "midi/FFMIDIInvalidMessage.h"
#include "midi/FFMIDIPacketList.h"
#include "midi/FFMIDISystemCommonMessage.h"
#include "midi/FFMIDISystemExclusiveMessage.h"
#include "midi/FFMIDISystemRealTimeMessage.h"
#include "midi/FFMIDIVoiceMessage.h"
#include "platform/ManualHostClock.h"

namespace tollvane {
namespace {

using Bytes = std::vector<uint8_t>;

std::shared_ptr<FFMIDIMessage> make(uint8_t status) {
    if (status < 0xF0) return std::make_shared<FFMIDIVoiceMessage>(status, 1, 2);
    if (status >= 0xF8) return std::make_shared<FFMIDISystemRealTimeMessage>(status);
    return std::make_shared<FFMIDISystemCommonMessage>(status, 1, 2);
}

TEST(FFMIDIMessageTest, TypeCodesAndDataLengthsByStatus) {
    struct Case {
        uint8_t status;
        uint32_t type;
        size_t otherDataLength;
    };
    const Case cases[] = {
        {0x90, 0x1, 2},    {0x9F, 0x1, 2},    {0x80, 0x2, 2},     {0xA3, 0x4, 2},    {0xB0, 0x8, 2},
        {0xC5, 0x10, 1},   {0xD0, 0x20, 1},   {0xEF, 0x40, 2},    {0xF1, 0x80, 1},   {0xF2, 0x100, 2},
        {0xF3, 0x200, 1},  {0xF6, 0x400, 0},  {0xF8, 0x800, 0},   {0xFA, 0x1000, 0}, {0xFC, 0x2000, 0},
        {0xFB, 0x4000, 0}, {0xFE, 0x8000, 0}, {0xFF, 0x10000, 0}, {0xF4, 0, 0},      {0xF5, 0, 0},
        {0xF9, 0, 0},      {0xFD, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int{c.status});
        const auto message = make(c.status);
        EXPECT_EQ(message->messageType(), c.type);
        EXPECT_EQ(message->otherDataLength(), c.otherDataLength);
        EXPECT_EQ(message->matchesMessageTypeMask(0x1 | 0x80 | 0x800), (c.type & 0x881) != 0);
    }
    EXPECT_EQ(FFMIDISystemExclusiveMessage({1}).messageType(), 0x20000u);
    EXPECT_EQ(FFMIDIInvalidMessage({0xF5}).messageType(), 0x40000u);
    // A note-on with velocity 0 stays a note-on.
    EXPECT_EQ(FFMIDIVoiceMessage(0x90, 60, 0).messageType(), 0x1u);
}

TEST(FFMIDIMessageTest, VoiceMessageHalvesAndChannelMask) {
    FFMIDIVoiceMessage message(0x93, 60, 100);
    EXPECT_EQ(message.status(), 0x90);
    EXPECT_EQ(message.channel(), 4);
    message.setChannel(16);
    EXPECT_EQ(message.statusByte(), 0x9F);
    message.setStatus(0x80);
    EXPECT_EQ(message.statusByte(), 0x8F);
    message.setChannel(0);
    message.setChannel(17);
    message.setStatus(0xF0);
    message.setStatus(0x40);
    EXPECT_EQ(message.statusByte(), 0x8F);
    EXPECT_TRUE(message.matchesChannelMask(0x8000));
    EXPECT_FALSE(message.matchesChannelMask(0x7FFF));
    message.setDataByte2(0xFF);
    EXPECT_EQ(message.dataByte2(), 0x7F);
    EXPECT_EQ(message.otherData(), (Bytes{60, 0x7F}));
}

TEST(FFMIDIMessageTest, TransposeMovesNotesThatStayNotes) {
    struct Case {
        uint8_t status;
        uint8_t note;
        int by;
        bool moved;
        uint8_t after;
    };
    const Case cases[] = {
        {0x90, 60, 12, true, 72},   {0x80, 60, -60, true, 0}, {0xA0, 120, 7, true, 127},
        {0x90, 120, 8, false, 120}, {0x90, 5, -6, false, 5},  {0xB0, 60, 1, false, 60},
        {0xC0, 60, 1, false, 60},   {0xE0, 60, 1, false, 60},
    };
    for (const Case& c : cases) {
        FFMIDIVoiceMessage message(c.status, c.note, 1);
        EXPECT_EQ(message.transposeBy(c.by), c.moved) << int{c.status} << " " << int{c.note} << " " << c.by;
        EXPECT_EQ(message.dataByte1(), c.after);
    }
}

TEST(FFMIDIMessageTest, SysExDataForms) {
    FFMIDISystemExclusiveMessage complete({0x43, 0x10}, true, 7);
    EXPECT_EQ(complete.data(), (Bytes{0x43, 0x10}));
    EXPECT_EQ(complete.otherData(), (Bytes{0x43, 0x10, 0xF7}));
    EXPECT_EQ(complete.fullMessageData(), (Bytes{0xF0, 0x43, 0x10, 0xF7}));
    EXPECT_EQ(complete.receivedData(), (Bytes{0x43, 0x10, 0xF7}));
    EXPECT_EQ(complete.receivedDataWithStartByte(), (Bytes{0xF0, 0x43, 0x10, 0xF7}));
    EXPECT_EQ(complete.manufacturerName(), "Yamaha");
    EXPECT_EQ(complete.statusByte(), 0xF0);

    FFMIDISystemExclusiveMessage cut({0x7F, 0x01}, false);
    EXPECT_EQ(cut.otherData(), (Bytes{0x7F, 0x01, 0xF7}));
    EXPECT_EQ(cut.fullMessageData(), (Bytes{0xF0, 0x7F, 0x01, 0xF7}));
    EXPECT_EQ(cut.receivedData(), (Bytes{0x7F, 0x01}));
    EXPECT_EQ(cut.receivedDataWithStartByte(), (Bytes{0xF0, 0x7F, 0x01}));
    EXPECT_EQ(cut.manufacturerName(), "Universal Real Time");
    EXPECT_EQ(FFMIDISystemExclusiveMessage({0x00, 0x20, 0x29}).manufacturerName(), "Manufacturer 00 20 29");
    EXPECT_EQ(FFMIDISystemExclusiveMessage({}).manufacturerName(), "Unknown manufacturer");
}

TEST(FFMIDIMessageTest, CopiesAreIndependentAndKeepTheirKind) {
    FFMIDIVoiceMessage original(0x90, 60, 100, 55);
    auto copy = original.copy();
    original.setDataByte1(61);
    auto* voice = dynamic_cast<FFMIDIVoiceMessage*>(copy.get());
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(voice->dataByte1(), 60);
    EXPECT_EQ(voice->timeStamp(), 55u);

    ManualHostClock clock(12345);
    const HostClock* previous = HostClock::setShared(&clock);
    copy->setTimeStampToNow();
    HostClock::setShared(previous);
    EXPECT_EQ(copy->timeStamp(), 12345u);
}

TEST(FFMIDIPacketListTest, LongRunsAreSplitIntoPacketsOfAtMost65535Bytes) {
    FFMIDIPacketList list;
    list.addPacket(9, Bytes(70000, 0x01));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.packets()[0].bytes.size(), 65535u);
    EXPECT_EQ(list.packets()[1].bytes.size(), 4465u);
    EXPECT_EQ(list.packets()[1].timeStamp, 9u);
    EXPECT_EQ(list.byteCount(), 70000u);
}

TEST(FFMIDIPacketListTest, WireFormRoundTripsAndRefusesLies) {
    FFMIDIPacketList list;
    list.addPacket(0x0102030405060708ull, {0x90, 0x3C, 0x64});
    list.addPacket(0, Bytes{});
    const Bytes wire = list.serialize();
    EXPECT_EQ(wire.size(), 4u + 10 + 3 + 10);
    EXPECT_EQ((Bytes(wire.begin(), wire.begin() + 4)), (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(FFMIDIPacketList::deserialize(wire), list);

    const std::vector<Bytes> lies = {
        {},
        {1, 0, 0},
        {1, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 5, 0, 0x90},        // count says 5 bytes, 1 there
        {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // four billion packets
    };
    for (const Bytes& lie : lies) EXPECT_FALSE(FFMIDIPacketList::deserialize(lie).has_value());
}

}  // namespace
}  // namespace tollvane
