#include "platform/archive/BinaryPlistReader.h"

#include <cstring>

#include "platform/archive/ArchiveError.h"

namespace tollvane {

namespace {

constexpr size_t kTrailerSize = 32;

uint64_t readBigEndian(const uint8_t* p, unsigned width) {
    uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value = (value << 8) | p[i];
    return value;
}

void appendUTF8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string utf8FromUTF16(const uint8_t* units, uint64_t count) {
    constexpr uint32_t kReplacement = 0xFFFD;
    std::string out;
    out.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        const uint32_t unit = (uint32_t{units[2 * i]} << 8) | units[2 * i + 1];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
            const uint32_t next = (uint32_t{units[2 * i + 2]} << 8) | units[2 * i + 3];
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUTF8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUTF8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit);
    }
    return out;
}

}  // namespace

BinaryPlistReader::BinaryPlistReader(const uint8_t* bytes, size_t size) : bytes_(bytes) {
    const uint8_t* trailer = bytes + size - kTrailerSize;
    offsetWidth_ = trailer[6];
    refWidth_ = trailer[7];
    top_ = readBigEndian(trailer + 16, 8);
    tableOffset_ = readBigEndian(trailer + 24, 8);
}

size_t BinaryPlistReader::offsetOf(Ref ref) const {
    return static_cast<size_t>(readBigEndian(bytes_ + tableOffset_ + ref * offsetWidth_, offsetWidth_));
}

BinaryPlistReader::Ref BinaryPlistReader::refAt(size_t pos, size_t index) const {
    return readBigEndian(bytes_ + pos + index * refWidth_, refWidth_);
}

BinaryPlistReader::Header BinaryPlistReader::header(Ref ref) const {
    size_t pos = offsetOf(ref);
    const uint8_t marker = bytes_[pos++];
    uint64_t count = marker & 0x0F;
    const unsigned high = marker >> 4;
    if (count == 0xF && (high == 0x4 || high == 0x5 || high == 0x6 || high == 0xA || high == 0xD)) {
        const unsigned width = 1u << (bytes_[pos] & 0x0F);
        count = readBigEndian(bytes_ + pos + 1, width);
        pos += 1 + width;
    }
    return {marker, pos, count};
}

BinaryPlistReader::Kind BinaryPlistReader::kind(Ref ref) const {
    const uint8_t marker = bytes_[offsetOf(ref)];
    switch (marker >> 4) {
        case 0x0:
            if (marker == 0x08 || marker == 0x09) return Kind::Bool;
            throw ArchiveError("binary property list: the data could not be parsed");
        case 0x1:
            return Kind::Integer;
        case 0x2:
            return Kind::Real;
        case 0x3:
            return Kind::Date;
        case 0x4:
            return Kind::Data;
        case 0x5:
        case 0x6:
            return Kind::String;
        case 0x8:
            return Kind::UID;
        case 0xA:
            return Kind::Array;
        default:
            return Kind::Dictionary;
    }
}

bool BinaryPlistReader::boolValue(Ref ref) const {
    return bytes_[offsetOf(ref)] == 0x09;
}

uint64_t BinaryPlistReader::integerValue(Ref ref) const {
    const size_t pos = offsetOf(ref);
    const unsigned width = 1u << (bytes_[pos] & 0x0F);
    return width > 8 ? readBigEndian(bytes_ + pos + 1 + width - 8, 8)
                     : readBigEndian(bytes_ + pos + 1, width);
}

double BinaryPlistReader::realValue(Ref ref) const {
    const size_t pos = offsetOf(ref);
    const unsigned width = (bytes_[pos] & 0x0F) == 2 ? 4 : 8;
    const uint64_t bits = readBigEndian(bytes_ + pos + 1, width);
    if (width == 4) {
        float f;
        const auto narrow = static_cast<uint32_t>(bits);
        std::memcpy(&f, &narrow, sizeof f);
        return f;
    }
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

uint64_t BinaryPlistReader::uidValue(Ref ref) const {
    const size_t pos = offsetOf(ref);
    return readBigEndian(bytes_ + pos + 1, (bytes_[pos] & 0x0F) + 1u);
}

Data BinaryPlistReader::dataValue(Ref ref) const {
    const Header h = header(ref);
    return Data(bytes_ + h.pos, bytes_ + h.pos + h.count);
}

std::string_view BinaryPlistReader::stringValue(Ref ref) const {
    const Header h = header(ref);
    if (h.marker >> 4 == 0x5) return {reinterpret_cast<const char*>(bytes_ + h.pos), h.count};
    auto it = utf8_.find(ref);
    if (it == utf8_.end()) it = utf8_.emplace(ref, utf8FromUTF16(bytes_ + h.pos, h.count)).first;
    return it->second;
}

size_t BinaryPlistReader::count(Ref ref) const {
    return header(ref).count;
}

BinaryPlistReader::Ref BinaryPlistReader::element(Ref array, size_t index) const {
    return refAt(header(array).pos, index);
}

BinaryPlistReader::Ref BinaryPlistReader::keyAt(Ref dictionary, size_t index) const {
    return refAt(header(dictionary).pos, index);
}

BinaryPlistReader::Ref BinaryPlistReader::valueAt(Ref dictionary, size_t index) const {
    const Header h = header(dictionary);
    return refAt(h.pos, h.count + index);
}

BinaryPlistReader::Ref BinaryPlistReader::find(Ref dictionary, std::string_view key) const {
    const Header h = header(dictionary);
    for (size_t i = 0; i < h.count; ++i) {
        if (stringValue(refAt(h.pos, i)) == key) return refAt(h.pos, h.count + i);
    }
    return kNone;
}

}  // namespace tollvane
