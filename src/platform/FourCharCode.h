#pragma once

// A four-character code as the 32-bit integer it is stored as: 'beat' is
// 0x62656174.

#include <cstdint>
#include <string>

namespace tollvane {

constexpr uint32_t fourCharCode(const char (&code)[5]) {
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
           (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

// The four characters of a code ("beat").
inline std::string fourCharCodeString(uint32_t code) {
    return {char(code >> 24), char((code >> 16) & 0xff), char((code >> 8) & 0xff), char(code & 0xff)};
}

}  // namespace tollvane
