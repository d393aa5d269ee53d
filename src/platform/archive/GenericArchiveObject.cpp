#include "platform/archive/GenericArchiveObject.h"

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {

GenericArchiveObject::GenericArchiveObject(std::string className, std::vector<std::string> classChain,
                                           ArchiveFields fields)
    : className_(std::move(className)), classChain_(std::move(classChain)), fields_(std::move(fields)) {}

std::shared_ptr<GenericArchiveObject> GenericArchiveObject::decode(KeyedUnarchiver& coder) {
    return std::make_shared<GenericArchiveObject>(coder.className(), coder.classChain(),
                                                  coder.decodeAllFields());
}

void GenericArchiveObject::encodeWithCoder(KeyedArchiver& coder) const {
    for (const auto& [key, field] : fields_) coder.encodeArchiveField(field, key);
}

const ArchiveField* GenericArchiveObject::field(std::string_view key) const {
    for (const auto& entry : fields_) {
        if (entry.first == key) return &entry.second;
    }
    return nullptr;
}

Value GenericArchiveObject::valueForKey(std::string_view key) const {
    const ArchiveField* f = field(key);
    if (!f || f->kind == ArchiveField::Kind::Array || f->kind == ArchiveField::Kind::Dictionary) return {};
    return f->value;
}

}  // namespace tollvane
