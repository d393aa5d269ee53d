#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "midi/FFMIDIInvalidMessage.h"
#include "midi/FFMIDIMessageParser.h"
#include "midi/FFMIDIMessageParserDelegate.h"
#include "midi/FFMIDISourceEndpoint.h"
#include "midi/FFMIDISystemExclusiveMessage.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"

namespace tollvane {
namespace {

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes& bytes) {
    std::string text;
    for (uint8_t byte : bytes) {
        char part[4];
        std::snprintf(part, sizeof part, "%s%02X", text.empty() ? "" : " ", byte);
        text += part;
    }
    return text;
}

// "90 3C 64" for most messages; invalid runs as "bad 3C 00"; system
// exclusive as its full data, with "(cut)" when it ended without F7.
std::string describe(const FFMIDIMessage& message) {
    if (auto* invalid = dynamic_cast<const FFMIDIInvalidMessage*>(&message))
        return "bad " + hex(invalid->data());
    if (auto* sysEx = dynamic_cast<const FFMIDISystemExclusiveMessage*>(&message)) {
        return hex(sysEx->fullMessageData()) + (sysEx->wasReceivedWithEOX() ? "" : " (cut)");
    }
    Bytes bytes{message.statusByte()};
    const Bytes other = message.otherData();
    bytes.insert(bytes.end(), other.begin(), other.end());
    return hex(bytes);
}

struct Recorder : FFMIDIMessageParserDelegate {
    std::vector<std::vector<std::string>> batches;
    std::vector<FFMIDIMessageList> messageBatches;
    std::vector<size_t> progress;
    std::vector<std::pair<size_t, bool>> finished;

    void parser(FFMIDIMessageParser&, const FFMIDIMessageList& messages) override {
        std::vector<std::string> texts;
        for (const auto& message : messages) texts.push_back(describe(*message));
        batches.push_back(texts);
        messageBatches.push_back(messages);
    }
    void parser(FFMIDIMessageParser&, size_t length) override { progress.push_back(length); }
    void parser(FFMIDIMessageParser&, const FFMIDISystemExclusiveMessage& message) override {
        finished.emplace_back(message.dataLength() + 1, message.wasReceivedWithEOX());
    }
};

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(&loop_);
        parser_.setDelegate(&recorder_);
    }
    void TearDown() override { RunLoop::setMain(previousLoop_); }

    void take(std::initializer_list<Bytes> packets, uint64_t firstTimeStamp = 1000) {
        FFMIDIPacketList list;
        uint64_t timeStamp = firstTimeStamp;
        for (const Bytes& packet : packets) list.addPacket(timeStamp++, packet);
        parser_.takePacketList(list);
    }

    ManualRunLoop loop_;
    RunLoop* previousLoop_ = nullptr;
    Recorder recorder_;
    FFMIDIMessageParser parser_;
};

struct ParseCase {
    const char* name;
    std::vector<Bytes> packets;
    std::vector<std::string> messages;  // the one batch of the list; empty: no call at all
};

TEST_F(ParserTest, PacketListsGiveTheirMessagesInOneBatch) {
    const std::vector<ParseCase> cases = {
        {"note on", {{0x90, 0x3C, 0x64}}, {"90 3C 64"}},
        {"running status is not honoured", {{0x90, 0x3C, 0x64, 0x3C, 0x00}}, {"90 3C 64", "bad 3C 00"}},
        {"universal real-time sysex",
         {{0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0x00, 0x00, 0x00, 0xF7}},
         {"F0 7F 7F 01 01 21 00 00 00 F7"}},
        {"real time inside sysex", {{0xF0, 0x43, 0xF8, 0x10, 0xF7}}, {"F8", "F0 43 10 F7"}},
        {"sysex cut by a status byte",
         {{0xF0, 0x43, 0x10, 0x90, 0x3C, 0x64}},
         {"F0 43 10 F7 (cut)", "90 3C 64"}},
        {"invalid then clock", {{0xF5, 0xF8}}, {"bad F5", "F8"}},
        {"unfinished note dropped silently", {{0x90, 0x3C, 0xB0, 0x07, 0x64}}, {"B0 07 64"}},
        {"pending data does not carry over", {{0x90, 0x3C}, {0x64}}, {"bad 64"}},
        {"real time inside a voice message", {{0x90, 0xFE, 0x3C, 0xFA, 0x64}}, {"FE", "FA", "90 3C 64"}},
        {"one- and two-byte messages",
         {{0xC1, 0x05, 0xD2, 0x40, 0xE3, 0x00, 0x40, 0xA4, 0x3C, 0x10}},
         {"C1 05", "D2 40", "E3 00 40", "A4 3C 10"}},
        {"system common",
         {{0xF1, 0x27, 0xF2, 0x10, 0x20, 0xF3, 0x05, 0xF6}},
         {"F1 27", "F2 10 20", "F3 05", "F6"}},
        {"real-time messages", {{0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF}}, {"F8", "FA", "FB", "FC", "FE", "FF"}},
        {"undefined real time is invalid", {{0xF9, 0xFD, 0xF8}}, {"bad F9 FD", "F8"}},
        {"lone F7 is invalid", {{0xF7, 0x90, 0x3C, 0x64}}, {"bad F7", "90 3C 64"}},
        {"F4 clears the pending status", {{0x90, 0x3C, 0xF4, 0x64}}, {"bad F4 64"}},
        {"invalid run at the end of a packet", {{0xF1, 0x01, 0x02, 0x03}}, {"F1 01", "bad 02 03"}},
        {"sysex restarted by F0", {{0xF0, 0x01, 0xF0, 0x02, 0xF7}}, {"F0 01 F7 (cut)", "F0 02 F7"}},
        {"empty sysex", {{0xF0, 0xF7}}, {"F0 F7"}},
        {"invalid run before a sysex end", {{0xF0, 0x01, 0xF9, 0xF7}}, {"bad F9", "F0 01 F7"}},
        {"tune request ends sysex", {{0xF0, 0x01, 0xF6}}, {"F0 01 F7 (cut)", "F6"}},
        {"sysex split over packets", {{0xF0, 0x01}, {0x02}, {0x03, 0xF7, 0xF8}}, {"F0 01 02 03 F7", "F8"}},
        {"a packet of only data bytes", {{0x00, 0x7F}}, {"bad 00 7F"}},
        {"nothing", {{}}, {}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder;
        FFMIDIMessageParser parser;
        parser.setDelegate(&recorder);
        FFMIDIPacketList list;
        for (const Bytes& packet : c.packets) list.addPacket(5, packet);
        parser.takePacketList(list);
        if (c.messages.empty()) {
            EXPECT_TRUE(recorder.batches.empty());
        } else {
            ASSERT_EQ(recorder.batches.size(), 1u);
            EXPECT_EQ(recorder.batches[0], c.messages);
        }
        EXPECT_FALSE(parser.isReadingSysEx());
    }
}

TEST_F(ParserTest, IgnoringInvalidDataDropsOnlyTheInvalidBytes) {
    parser_.setIgnoresInvalidData(true);
    take({{0xF5, 0x90, 0x3C, 0x64, 0x3C, 0x00, 0xF9, 0xF8}});
    ASSERT_EQ(recorder_.batches.size(), 1u);
    EXPECT_EQ(recorder_.batches[0], (std::vector<std::string>{"90 3C 64", "F8"}));
}

TEST_F(ParserTest, MessagesCarryTheirPacketTimeAndEndpointAndSysExItsStart) {
    auto source = std::make_shared<FFMIDISourceEndpoint>(42, "Desk");
    parser_.setOriginatingEndpoint(source);
    take({{0xF0, 0x01}, {0xF8, 0x02}, {0xF7, 0x90, 0x3C, 0x64}}, 100);
    ASSERT_EQ(recorder_.messageBatches.size(), 1u);
    const FFMIDIMessageList& messages = recorder_.messageBatches[0];
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0]->timeStamp(), 101u);  // the clock
    EXPECT_EQ(messages[1]->timeStamp(), 100u);  // the sysex: its F0's packet
    EXPECT_EQ(messages[2]->timeStamp(), 102u);
    for (const auto& message : messages) EXPECT_EQ(message->originatingEndpoint(), source);
}

TEST_F(ParserTest, SysExSplitOverListsArrivesWithTheListThatEndsIt) {
    take({{0xF0, 0x43}});
    EXPECT_TRUE(recorder_.batches.empty());
    EXPECT_TRUE(parser_.isReadingSysEx());
    take({{0x10, 0x20}, {0xF7, 0xFC}});
    ASSERT_EQ(recorder_.batches.size(), 1u);
    EXPECT_EQ(recorder_.batches[0], (std::vector<std::string>{"F0 43 10 20 F7", "FC"}));
    EXPECT_EQ(recorder_.finished, (std::vector<std::pair<size_t, bool>>{{4, true}}));
}

TEST_F(ParserTest, StalledSysExIsDeliveredAloneWhenTheTimeoutFires) {
    take({{0xF0, 0x01, 0x02}});
    loop_.advance(0.999);
    EXPECT_TRUE(recorder_.batches.empty());
    loop_.advance(0.001);
    ASSERT_EQ(recorder_.batches.size(), 1u);
    EXPECT_EQ(recorder_.batches[0], (std::vector<std::string>{"F0 01 02 F7 (cut)"}));
    EXPECT_EQ(recorder_.finished, (std::vector<std::pair<size_t, bool>>{{3, false}}));
    EXPECT_FALSE(parser_.isReadingSysEx());
    loop_.advance(5);
    EXPECT_EQ(recorder_.batches.size(), 1u);
}

TEST_F(ParserTest, EachListMovesTheTimeoutAndAFinishedMessageCancelsIt) {
    parser_.setSysExTimeOut(0.5);
    take({{0xF0, 0x01}});
    loop_.advance(0.4);
    take({{0x02}});
    loop_.advance(0.4);
    EXPECT_TRUE(recorder_.batches.empty());
    take({{0x03, 0xF7}});
    loop_.advance(2);
    ASSERT_EQ(recorder_.batches.size(), 1u);
    EXPECT_EQ(recorder_.batches[0], (std::vector<std::string>{"F0 01 02 03 F7"}));
}

TEST_F(ParserTest, WithoutARunLoopTheSysExWaitsForItsEnd) {
    RunLoop::setMain(nullptr);
    take({{0xF0, 0x01}});
    EXPECT_TRUE(parser_.isReadingSysEx());
    take({{0xF7}});
    EXPECT_EQ(recorder_.batches.size(), 1u);
}

TEST_F(ParserTest, ProgressIsReportedAtEveryMultipleOf256BytesWithTheF0) {
    Bytes sysEx(600, 0x11);
    sysEx.front() = 0xF0;
    sysEx.back() = 0xF7;
    take({sysEx});
    EXPECT_EQ(recorder_.progress, (std::vector<size_t>{1, 256, 512}));
    EXPECT_EQ(recorder_.finished, (std::vector<std::pair<size_t, bool>>{{599, true}}));

    // The same over packets that split the marks.
    recorder_.progress.clear();
    take({{0xF0}, Bytes(254, 0x01), Bytes(1, 0x02), Bytes(300, 0x03), {0xF7}});
    EXPECT_EQ(recorder_.progress, (std::vector<size_t>{1, 256, 512}));
}

TEST_F(ParserTest, SysExBeyondTheCapIsCutWithOneWarning) {
    std::vector<std::string> lines;
    Log::Sink previous = Log::setSink([&](const std::string& line) { lines.push_back(line); });
    const size_t over = FFMIDIMessageParser::maxSysExLength + 1000;
    Bytes chunk(over / 4 + 1, 0x55);
    take({{0xF0}, chunk, chunk, chunk, chunk, {0xF7}});
    Log::setSink(previous);
    ASSERT_EQ(recorder_.messageBatches.size(), 1u);
    const auto* sysEx =
        dynamic_cast<const FFMIDISystemExclusiveMessage*>(recorder_.messageBatches[0].front().get());
    ASSERT_NE(sysEx, nullptr);
    EXPECT_EQ(sysEx->dataLength(), FFMIDIMessageParser::maxSysExLength);
    EXPECT_TRUE(sysEx->wasReceivedWithEOX());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Warning: ", 0), 0u);
    EXPECT_NE(lines[0].find("Ignoring."), std::string::npos);
    EXPECT_EQ(recorder_.progress.back(), FFMIDIMessageParser::maxSysExLength);
}

TEST_F(ParserTest, CancellingDropsTheMessageInProgress) {
    take({{0xF0, 0x01}});
    EXPECT_TRUE(parser_.cancelReceivingSysExMessage());
    EXPECT_FALSE(parser_.cancelReceivingSysExMessage());
    take({{0x02, 0xF7}});
    ASSERT_EQ(recorder_.batches.size(), 1u);
    EXPECT_EQ(recorder_.batches[0], (std::vector<std::string>{"bad 02 F7"}));
    EXPECT_TRUE(recorder_.finished.empty());
    loop_.advance(2);
    EXPECT_EQ(recorder_.batches.size(), 1u);
}

TEST_F(ParserTest, CancellingFromAnotherThreadWhileBytesArrive) {
    std::atomic<bool> stop{false};
    std::thread canceller([&] {
        while (!stop.load()) parser_.cancelReceivingSysExMessage();
    });
    for (int i = 0; i < 2000; ++i) take({{0xF0, 0x01, 0x02}, {0x03, 0xF7}});
    stop = true;
    canceller.join();
    // Whatever the interleaving, each list gives at most one sysex and nothing is left open.
    for (const auto& batch : recorder_.batches) EXPECT_LE(batch.size(), 2u);
    parser_.cancelReceivingSysExMessage();
    EXPECT_FALSE(parser_.isReadingSysEx());
}

TEST_F(ParserTest, MessagesForPacketKeepsTheSysExAcrossPackets) {
    EXPECT_TRUE(parser_.messagesForPacket({1, {0xF0, 0x01}}).empty());
    const FFMIDIMessageList messages = parser_.messagesForPacket({2, {0x02, 0xF7}});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(describe(*messages[0]), "F0 01 02 F7");
    EXPECT_EQ(messages[0]->timeStamp(), 1u);
    EXPECT_TRUE(recorder_.batches.empty());
}

TEST_F(ParserTest, AParserDestroyedWithAPendingTimeoutIsNotCalledBack) {
    {
        FFMIDIMessageParser parser;
        parser.setDelegate(&recorder_);
        FFMIDIPacketList list;
        list.addPacket(1, {0xF0, 0x01});
        parser.takePacketList(list);
    }
    loop_.advance(2);
    EXPECT_TRUE(recorder_.batches.empty());
}

}  // namespace
}  // namespace tollvane
