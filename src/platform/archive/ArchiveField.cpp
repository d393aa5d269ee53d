#include "platform/archive/ArchiveField.h"

namespace tollvane {

ArchiveField::ArchiveField() = default;
ArchiveField::~ArchiveField() = default;
ArchiveField::ArchiveField(const ArchiveField&) = default;
ArchiveField::ArchiveField(ArchiveField&&) noexcept = default;
ArchiveField& ArchiveField::operator=(const ArchiveField&) = default;
ArchiveField& ArchiveField::operator=(ArchiveField&&) noexcept = default;

ArchiveField ArchiveField::inlineValue(Value v) {
    ArchiveField field;
    field.value = std::move(v);
    return field;
}

ArchiveField ArchiveField::reference(Value v) {
    ArchiveField field;
    field.kind = Kind::Reference;
    field.value = std::move(v);
    return field;
}

bool ArchiveField::operator==(const ArchiveField& other) const {
    return kind == other.kind && value == other.value && items == other.items && entries == other.entries;
}

}  // namespace tollvane
