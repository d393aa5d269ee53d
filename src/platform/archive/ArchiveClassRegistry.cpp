#include "platform/archive/ArchiveClassRegistry.h"

#include <map>
#include <mutex>

#include "platform/archive/Color.h"

namespace tollvane {

namespace {

struct Registry {
    std::mutex mutex;
    // A map, so that the pointers factoryForClass hands out stay valid while
    // other classes register.
    std::map<std::string, ArchiveClassRegistry::Factory, std::less<>> factories;

    Registry() { factories.emplace("NSColor", &Color::decode); }
};

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

void ArchiveClassRegistry::registerClass(const std::string& className, Factory factory) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories[className] = std::move(factory);
}

const ArchiveClassRegistry::Factory* ArchiveClassRegistry::factoryForClass(const std::string& className) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.factories.find(className);
    return it == r.factories.end() ? nullptr : &it->second;
}

}  // namespace tollvane
