#pragma once

// Sets a user default for the length of a test, then puts back what was
// there.

#include <string>

#include "platform/UserDefaults.h"

namespace tollvane {

class ScopedDefault {
public:
    ScopedDefault(const char* key, const Value& value)
        : key_(key), old_(UserDefaults::standardUserDefaults().objectForKey(key)) {
        UserDefaults::standardUserDefaults().setObject(key_, value);
    }
    ~ScopedDefault() { UserDefaults::standardUserDefaults().setObject(key_, old_); }
    ScopedDefault(const ScopedDefault&) = delete;
    ScopedDefault& operator=(const ScopedDefault&) = delete;

private:
    std::string key_;
    Value old_;
};

}  // namespace tollvane
