#include "platform/archive/ArchiveString.h"

namespace tollvane {

namespace {

// The length of the valid UTF-8 sequence at the start of `s`, or 0.
size_t validSequenceLength(std::string_view s) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

std::string archivableString(std::string_view text) {
    // Keys and class names are plain ASCII: copy them as they are.
    bool plain = true;
    for (char c : text) {
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) {
            plain = false;
            break;
        }
    }
    if (plain) return std::string(text);
    text = text.substr(0, text.find('\0'));
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t n = validSequenceLength(text.substr(pos));
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++pos;
        } else {
            out.append(text, pos, n);
            pos += n;
        }
    }
    return out;
}

}  // namespace tollvane
