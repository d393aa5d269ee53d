#include "model/FFAlias.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/UTF8.h"
#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {

namespace {

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
           UTF8::isValid(aliasData_.data(), aliasData_.size());
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
