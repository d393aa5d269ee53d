#include "midi/jack/JackMidiEventRing.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tollvane {

JackMidiEventRing::JackMidiEventRing(size_t capacity)
    : buffer_(std::bit_ceil(std::max<size_t>(capacity, 2 * headerSize))), mask_(buffer_.size() - 1) {}

size_t JackMidiEventRing::freeSpace() const {
    return buffer_.size() -
           (writePosition_.load(std::memory_order_acquire) - readPosition_.load(std::memory_order_acquire));
}

void JackMidiEventRing::copyIn(size_t position, const uint8_t* from, size_t count) {
    const size_t start = position & mask_;
    const size_t first = std::min(count, buffer_.size() - start);
    std::memcpy(buffer_.data() + start, from, first);
    if (count > first) std::memcpy(buffer_.data(), from + first, count - first);
}

void JackMidiEventRing::copyOut(size_t position, uint8_t* to, size_t count) const {
    const size_t start = position & mask_;
    const size_t first = std::min(count, buffer_.size() - start);
    std::memcpy(to, buffer_.data() + start, first);
    if (count > first) std::memcpy(to + first, buffer_.data(), count - first);
}

bool JackMidiEventRing::push(uint64_t hostTime, FFMIDIPortRef port, FFMIDIUniqueID source,
                             std::span<const uint8_t> bytes) {
    const size_t write = writePosition_.load(std::memory_order_relaxed);
    const size_t read = readPosition_.load(std::memory_order_acquire);
    const size_t needed = headerSize + bytes.size();
    if (bytes.size() > UINT32_MAX || needed > buffer_.size() - (write - read)) return false;

    uint8_t header[headerSize];
    const auto length = static_cast<uint32_t>(bytes.size());
    std::memcpy(header, &hostTime, sizeof hostTime);
    std::memcpy(header + 8, &port, sizeof port);
    std::memcpy(header + 12, &source, sizeof source);
    std::memcpy(header + 16, &length, sizeof length);
    copyIn(write, header, headerSize);
    if (!bytes.empty()) copyIn(write + headerSize, bytes.data(), bytes.size());
    writePosition_.store(write + needed, std::memory_order_release);
    return true;
}

bool JackMidiEventRing::pop(Header& header, std::vector<uint8_t>& bytes) {
    const size_t read = readPosition_.load(std::memory_order_relaxed);
    const size_t write = writePosition_.load(std::memory_order_acquire);
    if (write == read) return false;

    uint8_t raw[headerSize];
    copyOut(read, raw, headerSize);
    std::memcpy(&header.hostTime, raw, sizeof header.hostTime);
    std::memcpy(&header.port, raw + 8, sizeof header.port);
    std::memcpy(&header.source, raw + 12, sizeof header.source);
    std::memcpy(&header.length, raw + 16, sizeof header.length);
    bytes.resize(header.length);
    if (header.length != 0) copyOut(read + headerSize, bytes.data(), header.length);
    readPosition_.store(read + headerSize + header.length, std::memory_order_release);
    return true;
}

}  // namespace tollvane
