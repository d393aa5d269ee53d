#include "platform/archive/BinaryPlistCheck.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/archive/ArchiveError.h"

namespace tollvane {

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kTrailerSize = 32;

bool isPowerOfTwoWidth(unsigned n) {
    return n == 1 || n == 2 || n == 4 || n == 8;
}

uint64_t readBigEndian(const uint8_t* p, unsigned width) {
    uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value = (value << 8) | p[i];
    return value;
}

[[noreturn]] void fail(const std::string& what) {
    throw ArchiveError("binary property list: " + what);
}

std::string objectName(uint64_t index) {
    return "object " + std::to_string(index);
}

class Checker {
public:
    Checker(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    void run() {
        readTrailer();
        state_.assign(objectCount_, kUnvisited);
        nodes_.assign(objectCount_, 0);
        payload_.assign(objectCount_, 0);
        height_.assign(objectCount_, 0);
        // A tree that libplist builds has one node per reference slot (each
        // at least one byte); only containers shared through the object table
        // make it bigger. Keys are shared and short, so their bytes may repeat.
        nodeLimit_ = 2 * static_cast<uint64_t>(size_) + 4096;
        payloadLimit_ = 64 * static_cast<uint64_t>(size_) + 65536;
        visit(top_, 1);
    }

private:
    enum : uint8_t { kUnvisited, kOnPath, kDone };

    void readTrailer() {
        const uint8_t* trailer = bytes_ + size_ - kTrailerSize;
        offsetWidth_ = trailer[6];
        refWidth_ = trailer[7];
        objectCount_ = readBigEndian(trailer + 8, 8);
        top_ = readBigEndian(trailer + 16, 8);
        tableOffset_ = readBigEndian(trailer + 24, 8);
        // Any width up to 8 (libplist itself writes three-byte offsets); the
        // table and the trailer after every reference keep libplist's
        // eight-byte reads of odd widths inside the data.
        if (offsetWidth_ < 1 || offsetWidth_ > 8 || refWidth_ < 1 || refWidth_ > 8) {
            fail("the trailer gives offset width " + std::to_string(offsetWidth_) + " and reference width " +
                 std::to_string(refWidth_) + " (each must be 1 to 8)");
        }
        if (objectCount_ == 0) fail("the trailer gives no objects");
        if (top_ >= objectCount_) {
            fail("the top object " + std::to_string(top_) + " is beyond the " + std::to_string(objectCount_) +
                 " objects");
        }
        const uint64_t tableLimit = size_ - kTrailerSize;
        if (tableOffset_ <= kHeaderSize || tableOffset_ > tableLimit ||
            objectCount_ > (tableLimit - tableOffset_) / offsetWidth_) {
            fail("the offset table of " + std::to_string(objectCount_) + " entries does not fit in " +
                 std::to_string(size_) + " bytes");
        }
    }

    size_t offsetOf(uint64_t index) const {
        uint64_t offset = readBigEndian(bytes_ + tableOffset_ + index * offsetWidth_, offsetWidth_);
        if (offset < kHeaderSize || offset >= tableOffset_) {
            fail(objectName(index) + " has offset " + std::to_string(offset) + ", outside the object area");
        }
        return static_cast<size_t>(offset);
    }

    void need(uint64_t index, size_t pos, uint64_t length) const {
        if (length > tableOffset_ - pos) fail(objectName(index) + " runs past the end of the object area");
    }

    // The element or byte count of an object whose marker's low nibble is
    // `low`; 0xF means an integer object follows with the count.
    uint64_t countAt(uint64_t index, size_t& pos, unsigned low) const {
        if (low != 0xF) return low;
        need(index, pos, 1);
        uint8_t marker = bytes_[pos++];
        if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) {
            fail(objectName(index) + " has a malformed length");
        }
        unsigned width = 1u << (marker & 0x0F);
        need(index, pos, width);
        uint64_t count = readBigEndian(bytes_ + pos, width);
        pos += width;
        return count;
    }

    uint8_t markerOf(uint64_t index) const { return bytes_[offsetOf(index)]; }

    void visit(uint64_t index, size_t depth) {
        if (depth > BinaryPlistCheck::kMaxDepth) {
            fail("values nest deeper than " + std::to_string(BinaryPlistCheck::kMaxDepth) + " levels");
        }
        state_[index] = kOnPath;
        size_t pos = offsetOf(index);
        const uint8_t marker = bytes_[pos++];
        const unsigned high = marker >> 4;
        const unsigned low = marker & 0x0F;
        uint64_t nodes = 1;
        uint64_t payload = 0;
        uint64_t refCount = 0;
        uint64_t keyCount = 0;
        switch (high) {
            case 0x0:
                if (marker != 0x00 && marker != 0x08 && marker != 0x09) unknownMarker(index, marker);
                break;
            case 0x1:
                if (low > 4) unknownMarker(index, marker);
                need(index, pos, uint64_t{1} << low);
                break;
            case 0x2:
                if (low != 2 && low != 3) unknownMarker(index, marker);
                need(index, pos, uint64_t{1} << low);
                break;
            case 0x3:
                if (marker != 0x33) unknownMarker(index, marker);
                need(index, pos, 8);
                break;
            case 0x4:
            case 0x5: {
                uint64_t length = countAt(index, pos, low);
                need(index, pos, length);
                payload = length;
                break;
            }
            case 0x6: {
                uint64_t length = countAt(index, pos, low);
                if (length > tableOffset_) fail(objectName(index) + " runs past the end of the object area");
                need(index, pos, 2 * length);
                // Converted to UTF-8, a UTF-16 unit takes up to three bytes.
                payload = 3 * length;
                break;
            }
            case 0x8:
                if (!isPowerOfTwoWidth(low + 1)) unknownMarker(index, marker);
                need(index, pos, low + 1);
                break;
            case 0xA:
                refCount = countAt(index, pos, low);
                if (refCount > (tableOffset_ - pos) / refWidth_) {
                    fail(objectName(index) + " claims " + std::to_string(refCount) +
                         " elements, more than its data holds");
                }
                break;
            case 0xD:
                keyCount = countAt(index, pos, low);
                if (keyCount > (tableOffset_ - pos) / refWidth_ / 2) {
                    fail(objectName(index) + " claims " + std::to_string(keyCount) +
                         " entries, more than its data holds");
                }
                refCount = 2 * keyCount;
                break;
            default:
                unknownMarker(index, marker);
        }

        uint64_t height = 1;
        for (uint64_t i = 0; i < refCount; ++i) {
            uint64_t child = readBigEndian(bytes_ + pos + i * refWidth_, refWidth_);
            if (child >= objectCount_) {
                fail(objectName(index) + " refers to object " + std::to_string(child) + ", beyond the " +
                     std::to_string(objectCount_) + " objects");
            }
            if (state_[child] == kOnPath) fail(objectName(index) + " contains itself");
            if (state_[child] == kUnvisited) visit(child, depth + 1);
            if (i < keyCount) checkKey(index, child);
            if (depth + height_[child] > BinaryPlistCheck::kMaxDepth) {
                fail("values nest deeper than " + std::to_string(BinaryPlistCheck::kMaxDepth) + " levels");
            }
            height = std::max(height, height_[child] + 1);
            nodes += nodes_[child];
            payload += payload_[child];
            if (nodes > nodeLimit_ || payload > payloadLimit_) {
                fail("shared containers expand to more than " + std::to_string(size_) +
                     " bytes of data can justify");
            }
        }
        nodes_[index] = nodes;
        payload_[index] = payload;
        height_[index] = height;
        state_[index] = kDone;
    }

    // Dictionary keys are strings without NUL: libplist hands keys out as C
    // strings and aborts on a key whose length its strlen does not match.
    void checkKey(uint64_t dict, uint64_t key) const {
        size_t pos = offsetOf(key);
        const uint8_t marker = bytes_[pos++];
        const unsigned high = marker >> 4;
        if (high != 0x5 && high != 0x6) fail(objectName(dict) + " has a key that is not a string");
        const uint64_t length = countAt(key, pos, marker & 0x0F);
        if (high == 0x5) {
            if (std::memchr(bytes_ + pos, 0, length))
                fail(objectName(dict) + " has a key with a NUL character");
        } else {
            for (uint64_t unit = 0; unit < length; ++unit) {
                if (bytes_[pos + 2 * unit] == 0 && bytes_[pos + 2 * unit + 1] == 0) {
                    fail(objectName(dict) + " has a key with a NUL character");
                }
            }
        }
    }

    [[noreturn]] void unknownMarker(uint64_t index, uint8_t marker) const {
        static const char digits[] = "0123456789ABCDEF";
        std::string hex = {'0', 'x', digits[marker >> 4], digits[marker & 0x0F]};
        fail(objectName(index) + " has the unsupported type marker " + hex);
    }

    const uint8_t* bytes_;
    size_t size_;
    unsigned offsetWidth_ = 0;
    unsigned refWidth_ = 0;
    uint64_t objectCount_ = 0;
    uint64_t top_ = 0;
    uint64_t tableOffset_ = 0;
    uint64_t nodeLimit_ = 0;
    uint64_t payloadLimit_ = 0;
    std::vector<uint8_t> state_;
    std::vector<uint64_t> nodes_;
    std::vector<uint64_t> payload_;
    std::vector<uint64_t> height_;
};

bool startsWith(const uint8_t* bytes, size_t size, const char* prefix) {
    size_t n = std::strlen(prefix);
    return size >= n && std::memcmp(bytes, prefix, n) == 0;
}

}  // namespace

void BinaryPlistCheck::check(const uint8_t* bytes, size_t size) {
    if (size == 0) throw ArchiveError("the data is empty, not a keyed archive");
    if (!startsWith(bytes, size, "bplist")) {
        size_t start = 0;
        while (
            start < size && start < 64 &&
            (bytes[start] == ' ' || bytes[start] == '\t' || bytes[start] == '\n' || bytes[start] == '\r')) {
            ++start;
        }
        if (startsWith(bytes + start, size - start, "<?xml") ||
            startsWith(bytes + start, size - start, "<plist")) {
            throw ArchiveError(
                "the data is an XML property list; keyed archives are read in binary form only");
        }
        throw ArchiveError("the data is not a binary property list");
    }
    if (!startsWith(bytes, size, "bplist00")) {
        throw ArchiveError("the data is a binary property list of an unsupported version");
    }
    if (size < kHeaderSize + 1 + kTrailerSize)
        fail("the data is truncated (" + std::to_string(size) + " bytes)");
    Checker(bytes, size).run();
}

}  // namespace tollvane
