#include "model/FFAlias.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {

namespace {

// Strict UTF-8: a record from elsewhere is binary and fails this early.
bool isUTF8(const Data& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t lead = bytes[i];
        size_t extra = 0;
        uint32_t codePoint = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (i + extra >= bytes.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (codePoint < kSmallest[extra] || codePoint > 0x10FFFF) return false;
        if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return false;
        i += extra + 1;
    }
    return true;
}

bool exists(const std::string& path) {
    std::error_code code;
    return !path.empty() && std::filesystem::exists(path, code);
}

}  // namespace

std::shared_ptr<FFAlias> FFAlias::aliasWithPath(const std::string& path) {
    auto alias = std::make_shared<FFAlias>();
    alias->aliasData_.assign(path.begin(), path.end());
    alias->lastKnownPath_ = path;
    return alias;
}

bool FFAlias::hasPathRecord() const {
    return !aliasData_.empty() && aliasData_.front() == '/' &&
           std::find(aliasData_.begin(), aliasData_.end(), uint8_t{0}) == aliasData_.end() &&
           isUTF8(aliasData_);
}

std::string FFAlias::recordedPath() const {
    if (hasPathRecord()) return std::string(aliasData_.begin(), aliasData_.end());
    return lastKnownPath_;
}

std::string FFAlias::fullPath() {
    std::string path = recordedPath();
    if (!exists(path)) return {};
    lastKnownPath_ = path;
    return path;
}

bool FFAlias::isEqual(FFAlias& other) {
    const std::string mine = fullPath();
    return !mine.empty() && mine == other.fullPath();
}

void FFAlias::encodeWithCoder(KeyedArchiver& coder) const {
    if (aliasData_.empty()) {
        coder.encodeObject(Value(), "alias");
    } else if (aliasDataInline_) {
        coder.encodeBytes(aliasData_, "alias");
    } else {
        coder.encodeObject(Value(aliasData_), "alias");
    }
    coder.encodeObject(Value(lastKnownPath_), "lastKnownPath");
}

std::shared_ptr<Archivable> FFAlias::decode(KeyedUnarchiver& coder) {
    auto alias = std::make_shared<FFAlias>();
    // The record is written back in the form it was read: a data object, or
    // bytes inline in the alias's own record.
    const ArchiveField record = coder.decodeArchiveField("alias");
    alias->aliasData_ = record.value.dataValue();
    alias->aliasDataInline_ = record.kind == ArchiveField::Kind::Inline;
    alias->lastKnownPath_ = coder.decodeArchiveField("lastKnownPath").value.stringValue();
    return alias;
}

void FFAlias::registerArchiveClass() {
    static std::once_flag once;
    std::call_once(once, [] { ArchiveClassRegistry::registerClass("FFAlias", &FFAlias::decode); });
}

}  // namespace tollvane
