#pragma once

// Named notifications, delivered synchronously on the poster's thread to the
// observers registered for that name (and, when they asked for one, that
// sender). Most notices carry no payload and observers re-read what changed;
// the few that need one carry a small user-info map.
//
// Threads: every member may be called from any thread except real-time ones.
// Observers run on the posting thread, outside the centre's lock, so they may
// post, add and remove observers (themselves included). An observer removed
// during a post is not called afterwards by that post; one added during a
// post is first called by the next. removeObserver() does not wait for a
// call already under way on another thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/archive/Value.h"

namespace tollvane {

struct Notification {
    using UserInfo = std::map<std::string, Value, std::less<>>;

    std::string name;
    // The sender, compared by address only; null when none was given.
    const void* object = nullptr;
    UserInfo userInfo;
};

class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using ObserverToken = uint64_t;

    static NotificationCenter& defaultCenter();

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Observes every notification of that name, or only those posted with the
    // given sender (a null sender means any).
    ObserverToken addObserver(std::string_view name, Observer observer);
    ObserverToken addObserver(std::string_view name, const void* object, Observer observer);
    // Unknown and already removed tokens are ignored.
    void removeObserver(ObserverToken token);

    void postNotification(std::string_view name, Notification::UserInfo userInfo = {});
    void postNotificationName(std::string_view name, const void* object,
                              Notification::UserInfo userInfo = {});

private:
    struct Registration {
        ObserverToken token;
        const void* object;
        Observer observer;
        std::atomic<bool> active{true};
    };

    std::mutex mutex_;
    ObserverToken nextToken_ = 1;
    // By name, in the order observers were added: that is the calling order.
    std::unordered_map<std::string, std::vector<std::shared_ptr<Registration>>> byName_;
    std::unordered_map<ObserverToken, std::string> nameOfToken_;
};

}  // namespace tollvane
