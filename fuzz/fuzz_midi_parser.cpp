// Feeds MIDI bytes to the message parser as packet lists: the first byte
// picks how the rest is cut into packets and lists. Checks what the result
// must satisfy: every message has a known kind with consistent data, system
// exclusive never passes its cap, and re-parsing what came out gives the
// same messages.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "midi/FFMIDIInvalidMessage.h"
#include "midi/FFMIDIMessageParser.h"
#include "midi/FFMIDIMessageParserDelegate.h"
#include "midi/FFMIDISystemExclusiveMessage.h"

using namespace tollvane;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

struct Collector : FFMIDIMessageParserDelegate {
    FFMIDIMessageList messages;
    size_t lastProgress = 0;
    bool reading = false;

    void parser(FFMIDIMessageParser&, const FFMIDIMessageList& batch) override {
        check(!batch.empty());
        messages.insert(messages.end(), batch.begin(), batch.end());
    }
    void parser(FFMIDIMessageParser&, size_t length) override {
        check(length == 1 || (length % 256 == 0 && length > lastProgress));
        check(length <= FFMIDIMessageParser::maxSysExLength + 1);
        lastProgress = length == 1 ? 1 : length;
    }
    void parser(FFMIDIMessageParser&, const FFMIDISystemExclusiveMessage& message) override {
        check(message.dataLength() <= FFMIDIMessageParser::maxSysExLength);
    }
};

// The bytes a message stands for, as a sender would have sent them.
void appendWire(const FFMIDIMessage& message, std::vector<uint8_t>& out) {
    if (auto* invalid = dynamic_cast<const FFMIDIInvalidMessage*>(&message)) {
        check(!invalid->data().empty());
        return;  // invalid runs are left out of the re-parse
    }
    if (auto* sysEx = dynamic_cast<const FFMIDISystemExclusiveMessage*>(&message)) {
        const std::vector<uint8_t> full = sysEx->fullMessageData();
        check(full.front() == 0xF0 && full.back() == 0xF7);
        for (size_t i = 1; i + 1 < full.size(); ++i) check(full[i] < 0x80);
        out.insert(out.end(), full.begin(), full.end());
        return;
    }
    check(message.messageType() != 0 && (message.messageType() & (message.messageType() - 1)) == 0);
    out.push_back(message.statusByte());
    const std::vector<uint8_t> other = message.otherData();
    for (uint8_t byte : other) check(byte < 0x80);
    out.insert(out.end(), other.begin(), other.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t packetLength = 1 + data[0] % 17;
    const bool ignoreInvalid = (data[0] & 0x80) != 0;
    ++data;
    --size;

    Collector collector;
    FFMIDIMessageParser parser;
    parser.setDelegate(&collector);
    parser.setIgnoresInvalidData(ignoreInvalid);
    size_t offset = 0;
    uint64_t timeStamp = 1;
    while (offset < size) {
        FFMIDIPacketList list;
        for (int packet = 0; packet < 3 && offset < size; ++packet) {
            const size_t length = std::min(packetLength, size - offset);
            list.addPacket(timeStamp++, std::span<const uint8_t>(data + offset, length));
            offset += length;
        }
        parser.takePacketList(list);
    }
    parser.cancelReceivingSysExMessage();

    std::vector<uint8_t> wire;
    size_t valid = 0;
    for (const auto& message : collector.messages) {
        check(message->timeStamp() >= 1 && message->timeStamp() < timeStamp);
        if (ignoreInvalid) check(message->messageType() != FFMIDIMessageTypeInvalid);
        if (message->messageType() != FFMIDIMessageTypeInvalid) ++valid;
        appendWire(*message, wire);
    }

    // The messages written out again parse, in one packet, into the same messages.
    Collector again;
    FFMIDIMessageParser reparser;
    reparser.setDelegate(&again);
    FFMIDIPacketList list;
    if (!wire.empty()) list.addPacket(1, wire);
    if (list.size() == 1) {
        reparser.takePacketList(list);
        check(again.messages.size() == valid);
        size_t j = 0;
        for (const auto& message : collector.messages) {
            if (message->messageType() == FFMIDIMessageTypeInvalid) continue;
            const auto& other = again.messages[j++];
            check(other->messageType() == message->messageType());
            check(other->statusByte() == message->statusByte());
            check(other->otherData() == message->otherData());
        }
    }
    return 0;
}
