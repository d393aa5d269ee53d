#pragma once

// An object that archives itself under keys, the way the original platform's
// keyed coding works: it names its class and class chain, writes its fields
// through a KeyedArchiver and is rebuilt from a KeyedUnarchiver by a factory
// registered under its class name (ArchiveClassRegistry).

#include <string>
#include <vector>

namespace tollvane {

class KeyedArchiver;

class Archivable {
public:
    virtual ~Archivable() = default;

    // The name recorded as "$classname".
    virtual std::string archiveClassName() const = 0;
    // The names recorded as "$classes", most derived first; by default the
    // class name followed by "NSObject".
    virtual std::vector<std::string> archiveClassChain() const { return {archiveClassName(), "NSObject"}; }
    // Whether two objects of the same C++ class may record different class
    // names or chains (objects carried through for classes we do not know).
    // The archiver asks for the names once per C++ class otherwise.
    virtual bool archiveClassVariesByInstance() const { return false; }
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

}  // namespace tollvane
