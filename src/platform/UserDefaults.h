#pragma once

// The user-defaults store: registered defaults under persistent values, typed
// getters, observers per key. Persisted as a binary property list,
// "Defaults.plist" in "$XDG_CONFIG_HOME/tollvane/" ("~/.config/tollvane/"
// when that is unset; TOLLVANE_CONFIG_DIR replaces the whole folder, so tests
// never touch a user's file), written atomically: a temporary file in the
// same folder, flushed to disk, then renamed over the old one.
//
// A file that cannot be parsed is renamed aside ("Defaults.plist.corrupt-
// <timestamp>") with a logged warning and the store starts on its defaults. A
// file that exists but cannot be read is left alone: the store logs, starts
// on its defaults and does not write over it. A failed write is logged and
// tried again at the next write; nothing here throws for bad files or
// folders.
//
// When writes happen: a set marks the store changed. With a main run loop
// installed, the write follows writeDelay seconds later on that loop, so a
// burst of sets (a first launch, a window being dragged) costs one write;
// without one, each set writes through at once. synchronize() writes at once,
// destroying a store writes what is pending, and the standard store writes
// what is pending at exit.
//
// Values are plain property-list values (colours as archived colour data);
// setting anything else logs and changes nothing. Getters hand out copies:
// editing a returned array or dictionary does not change the store.
//
// Threads: getters from any non-real-time thread (they take the store's
// mutex briefly; a write to disk never holds it). Sets, observers and
// synchronize() on the main thread; observers are told on the setter's
// thread, after the set, only when the value the key reads back has changed.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Timer.h"
#include "platform/archive/Value.h"

namespace tollvane {

class UserDefaults {
public:
    using Observer = std::function<void(const std::string& key)>;
    using ObserverToken = uint64_t;

    static constexpr double writeDelay = 0.5;

    // The shared store, reading its file on first use. It lives until exit.
    static UserDefaults& standardUserDefaults();
    // Where the shared store keeps its file, from the environment; empty when
    // no folder can be found (the store then keeps values in memory only).
    static std::string defaultPath();

    // A store over a given file (tests, tools). An empty path keeps values in memory only.
    explicit UserDefaults(std::string path);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // Adds to the registered defaults (a key registered again takes the new
    // value). Registered values are never written to the file.
    void registerDefaults(const ValueDictionary& defaults);

    // The persistent value, else the registered default, else nil.
    Value objectForKey(std::string_view key) const;
    // Conversions as the platform's defaults make them: numbers convert among
    // themselves (reals truncate); strings are read as numbers ("YES", "true"
    // and non-zero numbers are true); a number asked for as a string gives its
    // decimal text; anything else gives false, 0, "", empty data or null.
    bool boolForKey(std::string_view key) const;
    int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    float floatForKey(std::string_view key) const { return static_cast<float>(doubleForKey(key)); }
    std::string stringForKey(std::string_view key) const;
    Data dataForKey(std::string_view key) const;
    std::shared_ptr<ValueArray> arrayForKey(std::string_view key) const;
    std::shared_ptr<ValueDictionary> dictionaryForKey(std::string_view key) const;

    // Stores a persistent value (nil removes it) and tells the key's observers.
    void setObject(std::string_view key, const Value& value);
    void setBool(std::string_view key, bool value) { setObject(key, Value(value)); }
    void setInteger(std::string_view key, int64_t value) { setObject(key, Value(value)); }
    void setDouble(std::string_view key, double value) { setObject(key, Value(value)); }
    void setFloat(std::string_view key, float value) { setObject(key, Value(value)); }
    void setString(std::string_view key, std::string value) { setObject(key, Value(std::move(value))); }
    void setData(std::string_view key, Data value) { setObject(key, Value(std::move(value))); }
    void removeObject(std::string_view key) { setObject(key, Value()); }

    // Observes one key. Removing (even from inside the observer) is safe;
    // unknown tokens are ignored.
    ObserverToken addObserver(std::string_view key, Observer observer);
    void removeObserver(ObserverToken token);

    // Writes the persistent values now if they changed since the last write.
    // Answers whether the file on disk holds them (true for a memory-only store).
    bool synchronize();
    const std::string& path() const { return path_; }

private:
    struct Registration {
        ObserverToken token;
        std::string key;
        Observer observer;
        std::atomic<bool> active{true};
    };

    void load();
    void setAside(const std::string& reason);
    Value lookupLocked(std::string_view key) const;
    void scheduleWrite();

    const std::string path_;
    mutable std::mutex mutex_;
    ValueDictionary registered_;
    ValueDictionary persistent_;
    bool dirty_ = false;
    // The file exists but could not be read; writing would destroy it.
    bool readOnly_ = false;
    std::shared_ptr<Timer> writeTimer_;
    std::vector<std::shared_ptr<Registration>> observers_;
    ObserverToken nextToken_ = 1;

    // Held across a whole write so that two writes cannot land out of order.
    std::mutex writeMutex_;
    bool writeFailing_ = false;
};

}  // namespace tollvane
