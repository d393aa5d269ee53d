#include "platform/KeyValueObservable.h"

#include <algorithm>

namespace tollvane {

KeyValueObservable::ObserverToken KeyValueObservable::addKeyObserver(Observer observer) {
    auto registration = std::make_shared<Registration>();
    registration->token = nextToken_++;
    registration->observer = std::move(observer);
    observers_.push_back(registration);
    return registration->token;
}

void KeyValueObservable::removeKeyObserver(ObserverToken token) {
    auto it = std::find_if(observers_.begin(), observers_.end(),
                           [token](const auto& registration) { return registration->token == token; });
    if (it == observers_.end()) return;
    (*it)->active = false;
    observers_.erase(it);
}

void KeyValueObservable::willChangeValueForKey(std::string_view) {}

void KeyValueObservable::didChangeValueForKey(std::string_view key) {
    observeOwnChange(key);
    // A snapshot, so observers may add and remove observers while we walk.
    const auto snapshot = observers_;
    for (const auto& registration : snapshot) {
        if (registration->active) registration->observer(key);
    }
}

}  // namespace tollvane
