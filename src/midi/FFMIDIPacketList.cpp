#include "midi/FFMIDIPacketList.h"

#include <algorithm>

namespace tollvane {

void FFMIDIPacketList::addPacket(uint64_t timeStamp, std::span<const uint8_t> bytes) {
    do {
        const size_t length = std::min(bytes.size(), maxPacketLength);
        packets_.push_back({timeStamp, std::vector<uint8_t>(bytes.begin(), bytes.begin() + length)});
        bytes = bytes.subspan(length);
    } while (!bytes.empty());
}

size_t FFMIDIPacketList::byteCount() const {
    size_t count = 0;
    for (const FFMIDIPacket& packet : packets_) count += packet.bytes.size();
    return count;
}

namespace {

void putLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool takeLittleEndian(std::span<const uint8_t>& data, int bytes, uint64_t& value) {
    if (data.size() < static_cast<size_t>(bytes)) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(data[i]) << (8 * i);
    data = data.subspan(bytes);
    return true;
}

}  // namespace

std::vector<uint8_t> FFMIDIPacketList::serialize() const {
    std::vector<uint8_t> out;
    out.reserve(4 + packets_.size() * 10 + byteCount());
    putLittleEndian(out, packets_.size(), 4);
    for (const FFMIDIPacket& packet : packets_) {
        putLittleEndian(out, packet.timeStamp, 8);
        putLittleEndian(out, packet.bytes.size(), 2);
        out.insert(out.end(), packet.bytes.begin(), packet.bytes.end());
    }
    return out;
}

std::optional<FFMIDIPacketList> FFMIDIPacketList::deserialize(std::span<const uint8_t> data) {
    uint64_t count = 0;
    if (!takeLittleEndian(data, 4, count)) return std::nullopt;
    // Each packet needs at least ten bytes: a lying count must not make us reserve gigabytes.
    if (count > data.size() / 10) return std::nullopt;
    FFMIDIPacketList list;
    list.packets_.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t timeStamp = 0;
        uint64_t length = 0;
        if (!takeLittleEndian(data, 8, timeStamp) || !takeLittleEndian(data, 2, length)) return std::nullopt;
        if (data.size() < length) return std::nullopt;
        list.packets_.push_back({timeStamp, std::vector<uint8_t>(data.begin(), data.begin() + length)});
        data = data.subspan(length);
    }
    return list;
}

}  // namespace tollvane
