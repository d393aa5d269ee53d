#pragma once

// A packet list: time-stamped runs of MIDI bytes as a backend hands them
// over. Each packet holds at most 65535 bytes (its count is 16 bits on the
// wire); addPacket() splits a longer run into several packets with the same
// time stamp. A time stamp of 0 means "now".
//
// The wire form (serialize / deserialize): a 32-bit packet count, then per
// packet a 64-bit host time, a 16-bit byte count and the bytes, all
// little-endian.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

namespace tollvane {

struct FFMIDIPacket {
    uint64_t timeStamp = 0;
    std::vector<uint8_t> bytes;

    bool operator==(const FFMIDIPacket&) const = default;
};

class FFMIDIPacketList {
public:
    static constexpr size_t maxPacketLength = 0xFFFF;

    FFMIDIPacketList() = default;

    void addPacket(uint64_t timeStamp, std::span<const uint8_t> bytes);
    void addPacket(uint64_t timeStamp, std::initializer_list<uint8_t> bytes) {
        addPacket(timeStamp, std::span<const uint8_t>(bytes.begin(), bytes.size()));
    }

    const std::vector<FFMIDIPacket>& packets() const { return packets_; }
    std::vector<FFMIDIPacket>& packets() { return packets_; }
    size_t size() const { return packets_.size(); }
    bool empty() const { return packets_.empty(); }
    size_t byteCount() const;

    std::vector<uint8_t> serialize() const;
    // Null when the data is cut short or claims more than it holds.
    static std::optional<FFMIDIPacketList> deserialize(std::span<const uint8_t> data);

    bool operator==(const FFMIDIPacketList&) const = default;

private:
    std::vector<FFMIDIPacket> packets_;
};

}  // namespace tollvane
