#include "midi/MSCCueInfo.h"

#include <limits>
#include <optional>
#include "platform/UTF8.h"

namespace tollvane {

namespace {

constexpr uint8_t kSeparator = 0x00;
constexpr uint8_t kEndOfExclusive = 0xF7;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A field cut at the byte limit may end inside a character: drop that part.
void dropCutCharacter(std::string& field) {
    size_t start = field.size();
    while (start > 0 && field.size() - start < 3 &&
           UTF8::isContinuation(static_cast<uint8_t>(field[start - 1]))) {
        --start;
    }
    if (start == 0) return;
    const size_t lead = start - 1;
    const size_t length = UTF8::sequenceLength(static_cast<uint8_t>(field[lead]));
    if (length > 1 && lead + length > field.size()) field.erase(lead);
}

// The field's text: up to a leading 00 (the only 00 a field can hold), and
// only when it is UTF-8.
std::optional<std::string> fieldText(std::string field, bool wasCut) {
    if (!field.empty() && field.front() == '\0') return std::string();
    if (wasCut) dropCutCharacter(field);
    if (!UTF8::isValid(field)) return std::nullopt;
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
