#pragma once

// An archived object of a class this program does not know (sort
// descriptors, sets, anything a newer version writes). It keeps the class
// name, the class chain and the record's keyed fields in file order, inline
// values inline and references as references (the objects referred to are
// decoded, so sharing is kept), and writes itself back unchanged.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/archive/Archivable.h"
#include "platform/archive/ArchiveField.h"

namespace tollvane {

class KeyedUnarchiver;

class GenericArchiveObject : public Archivable {
public:
    GenericArchiveObject(std::string className, std::vector<std::string> classChain, ArchiveFields fields);

    // Reads the object the unarchiver stands on, whatever its class.
    static std::shared_ptr<GenericArchiveObject> decode(KeyedUnarchiver& coder);

    std::string archiveClassName() const override { return className_; }
    std::vector<std::string> archiveClassChain() const override { return classChain_; }
    bool archiveClassVariesByInstance() const override { return true; }
    void encodeWithCoder(KeyedArchiver& coder) const override;

    const std::string& className() const { return className_; }
    const std::vector<std::string>& classChain() const { return classChain_; }
    const ArchiveFields& fields() const { return fields_; }
    // The field under a key, or null.
    const ArchiveField* field(std::string_view key) const;
    // The inline scalar or the referenced object under a key; nil when the key
    // is absent or holds an inline array or dictionary.
    Value valueForKey(std::string_view key) const;

private:
    std::string className_;
    std::vector<std::string> classChain_;
    ArchiveFields fields_;
};

}  // namespace tollvane
