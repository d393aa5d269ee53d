#include "midi/MSCCueInfo.h"

#include <limits>
#include <optional>

namespace tollvane {

namespace {

constexpr uint8_t kSeparator = 0x00;
constexpr uint8_t kEndOfExclusive = 0xF7;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isContinuation(uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

// Bytes in the character a lead byte starts; 0 for a byte that cannot start one.
size_t sequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool isValidUTF8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        const size_t length = sequenceLength(lead);
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            if (!isContinuation(static_cast<uint8_t>(text[i + k]))) return false;
        }
        if (length > 1) {
            const auto second = static_cast<uint8_t>(text[i + 1]);
            // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
            if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
                (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
                return false;
        }
        i += length;
    }
    return true;
}

// A field cut at the byte limit may end inside a character: drop that part.
void dropCutCharacter(std::string& field) {
    size_t start = field.size();
    while (start > 0 && field.size() - start < 3 && isContinuation(static_cast<uint8_t>(field[start - 1]))) {
        --start;
    }
    if (start == 0) return;
    const size_t lead = start - 1;
    const size_t length = sequenceLength(static_cast<uint8_t>(field[lead]));
    if (length > 1 && lead + length > field.size()) field.erase(lead);
}

// The field's text: up to a leading 00 (the only 00 a field can hold), and
// only when it is UTF-8.
std::optional<std::string> fieldText(std::string field, bool wasCut) {
    if (!field.empty() && field.front() == '\0') return std::string();
    if (wasCut) dropCutCharacter(field);
    if (!isValidUTF8(field)) return std::nullopt;
    return field;
}

}  // namespace

MSCCueInfo MSCCueInfo::cueInfoFromBytes(const uint8_t* bytes, size_t length) {
    MSCCueInfo info;
    if (bytes == nullptr) return info;
    size_t i = kFirstFieldByte;
    while (i < length && bytes[i] != kEndOfExclusive && info.fields_.size() < kMaxFields) {
        std::string field(1, static_cast<char>(bytes[i++]));
        bool wasCut = false;
        for (; i < length && bytes[i] != kSeparator && bytes[i] != kEndOfExclusive; ++i) {
            if (field.size() < kMaxFieldBytes) {
                field.push_back(static_cast<char>(bytes[i]));
            } else {
                wasCut = true;
            }
        }
        std::optional<std::string> text = fieldText(std::move(field), wasCut);
        if (!text) break;
        info.fields_.push_back(std::move(*text));
        if (i < length && bytes[i] == kSeparator) ++i;
    }
    return info;
}

std::array<int32_t, 5> MSCCueInfo::numbersFromCueNumber(std::string_view cueNumber) {
    std::array<int32_t, 5> numbers{};
    size_t pos = 0;
    for (size_t index = 0; index < numbers.size(); ++index) {
        if (index > 0) {
            while (pos < cueNumber.size() && !isDigit(cueNumber[pos])) ++pos;
        }
        if (pos >= cueNumber.size() || !isDigit(cueNumber[pos])) break;
        int64_t value = 0;
        for (; pos < cueNumber.size() && isDigit(cueNumber[pos]); ++pos) {
            value = value * 10 + (cueNumber[pos] - '0');
            if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
        }
        numbers[index] = static_cast<int32_t>(value);
    }
    return numbers;
}

}  // namespace tollvane
