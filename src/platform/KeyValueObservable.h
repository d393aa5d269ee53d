#pragma once

// Observed properties: an object announces that one of its keys changed, and
// whoever observes the object re-reads the value. Observers are told after
// the change, on the thread that made it, with the key's name.
//
// Threads: main thread only (model objects are edited there). Adding and
// removing observers from inside an observer is safe: a removed observer is
// not called again, an added one first hears the next change.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tollvane {

class KeyValueObservable {
public:
    using Observer = std::function<void(std::string_view key)>;
    using ObserverToken = uint64_t;

    KeyValueObservable() = default;
    // Observers belong to one object: a copy starts without any.
    KeyValueObservable(const KeyValueObservable&) {}
    KeyValueObservable& operator=(const KeyValueObservable&) { return *this; }
    virtual ~KeyValueObservable() = default;

    ObserverToken addKeyObserver(Observer observer);
    void removeKeyObserver(ObserverToken token);

    // Announced around a change; observers hear didChangeValueForKey.
    void willChangeValueForKey(std::string_view key);
    void didChangeValueForKey(std::string_view key);

protected:
    // For subclasses that react to their own changes before the observers
    // hear them.
    virtual void observeOwnChange(std::string_view /*key*/) {}

private:
    struct Registration {
        ObserverToken token = 0;
        Observer observer;
        bool active = true;
    };
    std::vector<std::shared_ptr<Registration>> observers_;
    ObserverToken nextToken_ = 1;
};

}  // namespace tollvane
