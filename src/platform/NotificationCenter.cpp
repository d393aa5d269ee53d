#include "platform/NotificationCenter.h"

#include <algorithm>
#include <vector>

namespace tollvane {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(std::string_view name, Observer observer) {
    return addObserver(name, nullptr, std::move(observer));
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(std::string_view name, const void* object,
                                                                  Observer observer) {
    auto registration = std::make_shared<Registration>();
    registration->object = object;
    registration->observer = std::move(observer);
    std::lock_guard<std::mutex> lock(mutex_);
    registration->token = nextToken_++;
    std::string key(name);
    byName_[key].push_back(registration);
    nameOfToken_.emplace(registration->token, std::move(key));
    return registration->token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
    std::shared_ptr<Registration> removed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto named = nameOfToken_.find(token);
        if (named == nameOfToken_.end()) return;
        auto list = byName_.find(named->second);
        if (list != byName_.end()) {
            auto& registrations = list->second;
            auto it = std::find_if(registrations.begin(), registrations.end(),
                                   [&](const auto& r) { return r->token == token; });
            if (it != registrations.end()) {
                removed = *it;
                removed->active.store(false, std::memory_order_release);
                registrations.erase(it);
            }
            if (registrations.empty()) byName_.erase(list);
        }
        nameOfToken_.erase(named);
    }
    // The observer's captures go here, outside the lock, unless a post in
    // progress still holds the registration.
}

void NotificationCenter::postNotification(std::string_view name, Notification::UserInfo userInfo) {
    postNotificationName(name, nullptr, std::move(userInfo));
}

void NotificationCenter::postNotificationName(std::string_view name, const void* object,
                                              Notification::UserInfo userInfo) {
    std::vector<std::shared_ptr<Registration>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto list = byName_.find(std::string(name));
        if (list == byName_.end()) return;
        for (const auto& registration : list->second) {
            if (registration->object == nullptr || registration->object == object)
                targets.push_back(registration);
        }
    }
    Notification notification{std::string(name), object, std::move(userInfo)};
    for (const auto& registration : targets) {
        if (registration->active.load(std::memory_order_acquire)) registration->observer(notification);
    }
}

}  // namespace tollvane
