#pragma once

// A reference to a movie file that keeps the path it was made from and the
// path it last resolved to. Files written on the original platform carry
// its alias record; we cannot resolve those records, so their last known
// path serves, and the record itself is kept and written back unchanged.
// Aliases made here store the path itself (its UTF-8 bytes) as their record.
//
// Archived under "FFAlias": "alias" (the record as data) and
// "lastKnownPath" (string).
//
// Threads: main thread.

#include <memory>
#include <string>

#include "platform/archive/Archivable.h"
#include "platform/archive/Value.h"

namespace tollvane {

class KeyedUnarchiver;

class FFAlias : public Archivable {
public:
    FFAlias() = default;

    // An alias of a path (already tilde-expanded and absolute).
    static std::shared_ptr<FFAlias> aliasWithPath(const std::string& path);

    // The file's current path, or "" when it cannot be found; a found path
    // becomes the last known path.
    std::string fullPath();
    const std::string& lastKnownFullPath() const { return lastKnownPath_; }
    // The record as stored.
    const Data& aliasData() const { return aliasData_; }
    // Whether the record is one this program wrote (a path) rather than one
    // from elsewhere that only travels with the file.
    bool hasPathRecord() const;
    // The path the alias stands for without touching the disk: the record's
    // path, else the last known path.
    std::string recordedPath() const;

    // Equal when both resolve to the same full path.
    bool isEqual(FFAlias& other);

    std::string archiveClassName() const override { return "FFAlias"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder);
    static void registerArchiveClass();

private:
    Data aliasData_;
    bool aliasDataInline_ = false;
    std::string lastKnownPath_;
};

}  // namespace tollvane
