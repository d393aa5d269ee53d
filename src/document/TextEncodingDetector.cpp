#include "document/TextEncodingDetector.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include "platform/UTF8.h"

namespace tollvane {

namespace {

void appendUTF8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

TextEncodingDetector::Result failure(std::string error) {
    TextEncodingDetector::Result result;
    result.error = std::move(error);
    return result;
}

TextEncodingDetector::Result decodeUTF16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return failure("UTF-16 text with an odd number of bytes");
    auto unitAt = [&](size_t i) {
        const auto a = static_cast<uint8_t>(bytes[i]);
        const auto b = static_cast<uint8_t>(bytes[i + 1]);
        return static_cast<uint32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    TextEncodingDetector::Result result;
    result.encoding = bigEndian ? TextEncodingDetector::Encoding::UTF16BigEndian
                                : TextEncodingDetector::Encoding::UTF16LittleEndian;
    result.text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 3 >= bytes.size()) return failure("UTF-16 text ends inside a surrogate pair");
            const uint32_t low = unitAt(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return failure("UTF-16 text with an unpaired surrogate");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return failure("UTF-16 text with an unpaired surrogate");
        }
        appendUTF8(result.text, unit);
    }
    return result;
}

}  // namespace

TextEncodingDetector::Result TextEncodingDetector::stringFromBytes(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        const std::string_view body = bytes.substr(3);
        if (!UTF8::isValid(body)) return failure("UTF-8 text with invalid bytes");
        Result result;
        result.text = body;
        result.encoding = Encoding::UTF8WithBOM;
        return result;
    }
    if (bytes.starts_with("\xFE\xFF")) return decodeUTF16(bytes.substr(2), true);
    if (bytes.starts_with("\xFF\xFE")) return decodeUTF16(bytes.substr(2), false);
    if (bytes.find('\0') != std::string_view::npos) return failure("not a text file");
    Result result;
    if (UTF8::isValid(bytes)) {
        result.text = bytes;
        result.encoding = Encoding::UTF8;
        return result;
    }
    result.encoding = Encoding::Latin1;
    result.text.reserve(bytes.size() + bytes.size() / 4);
    for (char c : bytes) appendUTF8(result.text, static_cast<uint8_t>(c));
    return result;
}

TextEncodingDetector::Result TextEncodingDetector::stringWithContentsOfFile(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return failure(std::strerror(errno));
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        bytes.append(buffer, got);
        if (bytes.size() > kLargestFile) return failure("file too large");
        if (got < sizeof buffer) break;
    }
    if (std::ferror(file.get())) return failure(std::strerror(errno));
    return stringFromBytes(bytes);
}

const char* TextEncodingDetector::encodingName(Encoding encoding) {
    switch (encoding) {
        case Encoding::UTF8:
            return "UTF-8";
        case Encoding::UTF8WithBOM:
            return "UTF-8 with byte-order mark";
        case Encoding::UTF16BigEndian:
            return "UTF-16 big endian";
        case Encoding::UTF16LittleEndian:
            return "UTF-16 little endian";
        case Encoding::Latin1:
            return "Latin-1";
    }
    return "unknown";
}

}  // namespace tollvane
