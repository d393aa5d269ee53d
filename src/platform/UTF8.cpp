#include "platform/UTF8.h"

namespace tollvane {

size_t UTF8::sequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool UTF8::isValid(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<uint8_t>(bytes[i]);
        const size_t length = sequenceLength(lead);
        if (length == 0 || length > bytes.size() - i) return false;
        for (size_t k = 1; k < length; ++k) {
            if (!isContinuation(static_cast<uint8_t>(bytes[i + k]))) return false;
        }
        if (length > 2) {
            const auto second = static_cast<uint8_t>(bytes[i + 1]);
            // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
            if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
                (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace tollvane
