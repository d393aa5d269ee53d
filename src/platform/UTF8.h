#pragma once

// Strict UTF-8 checks for bytes that arrive from files, devices and the
// network: no overlong forms, no UTF-16 surrogates, nothing past U+10FFFF.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tollvane {

struct UTF8 {
    // Bytes in the character that `lead` starts; 0 for a byte that cannot
    // start one.
    static size_t sequenceLength(uint8_t lead);
    static bool isContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }
    static bool isValid(std::string_view bytes);
    static bool isValid(const uint8_t* bytes, size_t size) {
        return isValid(std::string_view(reinterpret_cast<const char*>(bytes), size));
    }
};

}  // namespace tollvane
