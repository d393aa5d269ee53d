#include "playback/UserEventRecord.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tollvane {

namespace {

constexpr size_t kHeaderSize = 8;  // length word and type code
constexpr size_t kLengthWordSize = 4;

// A block of `size` bytes, zero-filled, with its length word and type code.
std::vector<uint8_t> newBlock(size_t size, uint32_t type) {
    std::vector<uint8_t> block(size, 0);
    const auto length = static_cast<uint32_t>(size - kLengthWordSize);
    std::memcpy(block.data(), &length, sizeof length);
    std::memcpy(block.data() + kLengthWordSize, &type, sizeof type);
    return block;
}

template <class T>
void put(std::vector<uint8_t>& block, size_t offset, T value) {
    std::memcpy(block.data() + offset, &value, sizeof value);
}

template <class T>
T get(std::span<const uint8_t> block, size_t offset) {
    T value{};
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

// A text fits a block only while the block's length fits its 32-bit word.
std::string_view fitted(std::string_view text, size_t overhead) {
    const size_t room = std::numeric_limits<uint32_t>::max() - overhead;
    return text.size() > room ? text.substr(0, room) : text;
}

// The UTF-8 text from `offset` up to its terminating zero, or the block's end.
std::string textAt(std::span<const uint8_t> block, size_t offset) {
    if (offset >= block.size()) return {};
    const auto* begin = reinterpret_cast<const char*>(block.data() + offset);
    const size_t available = block.size() - offset;
    const auto* zero = static_cast<const char*>(std::memchr(begin, 0, available));
    return std::string(begin, zero ? static_cast<size_t>(zero - begin) : available);
}

bool isOfType(std::span<const uint8_t> block, uint32_t type, size_t minimumSize) {
    const std::optional<uint32_t> actual = UserEventRecord::typeOf(block);
    return actual && *actual == type && block.size() >= minimumSize;
}

}  // namespace

std::vector<uint8_t> UserEventRecord::streamer(const Streamer& streamer) {
    std::vector<uint8_t> block = newBlock(kStreamerSize, kStreamer);
    put(block, 8, streamer.red);
    put(block, 12, streamer.green);
    put(block, 16, streamer.blue);
    put(block, 20, streamer.seconds);
    return block;
}

std::vector<uint8_t> UserEventRecord::punch(const Punch& punch) {
    std::vector<uint8_t> block = newBlock(kPunchSize, kPunch);
    put(block, 8, punch.red);
    put(block, 12, punch.green);
    put(block, 16, punch.blue);
    put(block, 20, punch.holes);
    return block;
}

std::vector<uint8_t> UserEventRecord::beeps(const Beeps& beeps) {
    std::vector<uint8_t> block = newBlock(kBeepsSize, kBeeps);
    put(block, 8, beeps.count);
    put(block, 12, beeps.seconds);
    put(block, 16, static_cast<uint8_t>(beeps.punches ? 1 : 0));
    return block;
}

std::vector<uint8_t> UserEventRecord::textChange(std::string_view text) {
    text = fitted(text, kHeaderSize + 1);
    std::vector<uint8_t> block = newBlock(kHeaderSize + text.size() + 1, kTextChange);
    std::copy(text.begin(), text.end(), block.begin() + kHeaderSize);
    return block;
}

std::vector<uint8_t> UserEventRecord::reelMute() {
    return newBlock(kHeaderSize, kReelMute);
}

std::vector<uint8_t> UserEventRecord::cueChange(uint32_t documentHandle, std::string_view cueNumber) {
    constexpr size_t kTextOffset = 12;
    constexpr size_t kTrailingZeros = 4;
    cueNumber = fitted(cueNumber, kTextOffset + 1 + kTrailingZeros);
    std::vector<uint8_t> block = newBlock(kTextOffset + cueNumber.size() + 1 + kTrailingZeros, kCueChange);
    put(block, 8, documentHandle);
    std::copy(cueNumber.begin(), cueNumber.end(), block.begin() + kTextOffset);
    return block;
}

std::vector<uint8_t> UserEventRecord::cueStart() {
    return newBlock(kHeaderSize, kCueStart);
}

std::vector<uint8_t> UserEventRecord::click() {
    return newBlock(kHeaderSize, kClick);
}

std::optional<uint32_t> UserEventRecord::typeOf(std::span<const uint8_t> block) {
    if (block.size() < kHeaderSize) return std::nullopt;
    if (get<uint32_t>(block, 0) != block.size() - kLengthWordSize) return std::nullopt;
    return get<uint32_t>(block, kLengthWordSize);
}

std::optional<UserEventRecord::Streamer> UserEventRecord::readStreamer(std::span<const uint8_t> block) {
    if (!isOfType(block, kStreamer, kStreamerSize)) return std::nullopt;
    return Streamer{get<float>(block, 8), get<float>(block, 12), get<float>(block, 16),
                    get<double>(block, 20)};
}

std::optional<UserEventRecord::Punch> UserEventRecord::readPunch(std::span<const uint8_t> block) {
    if (!isOfType(block, kPunch, kPunchSize)) return std::nullopt;
    return Punch{get<float>(block, 8), get<float>(block, 12), get<float>(block, 16),
                 get<uint16_t>(block, 20)};
}

std::optional<UserEventRecord::Beeps> UserEventRecord::readBeeps(std::span<const uint8_t> block) {
    if (!isOfType(block, kBeeps, kBeepsSize)) return std::nullopt;
    return Beeps{get<uint32_t>(block, 8), get<float>(block, 12), get<uint8_t>(block, 16) != 0};
}

std::optional<std::string> UserEventRecord::readTextChange(std::span<const uint8_t> block) {
    if (!isOfType(block, kTextChange, kHeaderSize)) return std::nullopt;
    return textAt(block, kHeaderSize);
}

std::optional<UserEventRecord::CueChange> UserEventRecord::readCueChange(std::span<const uint8_t> block) {
    if (!isOfType(block, kCueChange, 12)) return std::nullopt;
    return CueChange{get<uint32_t>(block, 8), textAt(block, 12)};
}

}  // namespace tollvane
