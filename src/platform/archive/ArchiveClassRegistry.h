#pragma once

// Maps a "$classname" to the factory that rebuilds such an object from its
// keys. "NSColor" is registered from the start (Color). Classes register once,
// at start-up or on first use, from the main thread; lookups may come from any
// thread after that. Registering a name again replaces its factory and must
// not happen while an archive is being read.

#include <functional>
#include <memory>
#include <string>

namespace tollvane {

class Archivable;
class KeyedUnarchiver;

class ArchiveClassRegistry {
public:
    // A factory reads the object's keys from the unarchiver (which stands on
    // that object) and returns the object; null decodes as nil.
    using Factory = std::function<std::shared_ptr<Archivable>(KeyedUnarchiver&)>;

    static void registerClass(const std::string& className, Factory factory);
    // The factory for a class name, or null when the class is unknown.
    static const Factory* factoryForClass(const std::string& className);
};

}  // namespace tollvane
