#pragma once

// A value as it stands under one key of an archived object's record: an
// inline property-list value (a scalar, or an inline array or dictionary of
// further fields) or a reference to another archived object. Objects that keep
// records they do not fully interpret (classes this program does not know,
// colours in colour spaces of their own) hold their keys as these, so that
// they write back exactly what they read: inline values stay inline,
// references stay references.

#include <string>
#include <utility>
#include <vector>

#include "platform/archive/Value.h"

namespace tollvane {

struct ArchiveField {
    enum class Kind { Inline, Reference, Array, Dictionary };

    Kind kind = Kind::Inline;
    // Inline: a bool, integer, real, string or data. Reference: the object
    // referred to (nil for the "$null" reference).
    Value value;
    // Array: the inline array's elements.
    std::vector<ArchiveField> items;
    // Dictionary: the inline dictionary's entries, in file order.
    std::vector<std::pair<std::string, ArchiveField>> entries;

    // Declared here and defaulted out of line: the members hold the type
    // itself, which is complete only after the class.
    ArchiveField();
    ~ArchiveField();
    ArchiveField(const ArchiveField&);
    ArchiveField(ArchiveField&&) noexcept;
    ArchiveField& operator=(const ArchiveField&);
    ArchiveField& operator=(ArchiveField&&) noexcept;

    static ArchiveField inlineValue(Value v);
    static ArchiveField reference(Value v);

    // Structural equality; referenced objects compare as Value does (by identity).
    bool operator==(const ArchiveField& other) const;
    bool operator!=(const ArchiveField& other) const { return !(*this == other); }
};

// The keyed fields of one record, in file order, without "$class".
using ArchiveFields = std::vector<std::pair<std::string, ArchiveField>>;

}  // namespace tollvane
