#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tollvane {
namespace {

TEST(NotificationCenterTest, DeliversByNameInTheOrderObserversWereAdded) {
    NotificationCenter center;
    std::vector<std::string> calls;
    center.addObserver("TLCueOrderDidChangeNotification",
                       [&](const Notification& n) { calls.push_back("first " + n.name); });
    center.addObserver("TLReelOrderDidChangeNotification",
                       [&](const Notification&) { calls.push_back("other"); });
    center.addObserver("TLCueOrderDidChangeNotification",
                       [&](const Notification&) { calls.push_back("second"); });

    center.postNotification("TLCueOrderDidChangeNotification");

    EXPECT_EQ(calls, (std::vector<std::string>{"first TLCueOrderDidChangeNotification", "second"}));
}

TEST(NotificationCenterTest, SenderFilterAndUserInfo) {
    NotificationCenter center;
    int senderA = 0;
    int senderB = 0;
    std::vector<std::string> calls;
    center.addObserver("Changed", &senderA, [&](const Notification&) { calls.push_back("only A"); });
    center.addObserver("Changed", [&](const Notification& n) {
        calls.push_back(n.object == &senderA ? "any saw A" : "any saw B");
        auto target = n.userInfo.find("target");
        if (target != n.userInfo.end()) calls.push_back(target->second.stringValue());
    });

    center.postNotificationName("Changed", &senderB, {{"target", Value("reel 2")}});
    center.postNotificationName("Changed", &senderA);

    EXPECT_EQ(calls, (std::vector<std::string>{"any saw B", "reel 2", "only A", "any saw A"}));
}

TEST(NotificationCenterTest, RemovedObserversAreNotCalled) {
    NotificationCenter center;
    int calls = 0;
    auto token = center.addObserver("N", [&](const Notification&) { ++calls; });
    center.postNotification("N");
    center.removeObserver(token);
    center.removeObserver(token);
    center.removeObserver(9999);
    center.postNotification("N");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, ObserverRemovingItselfAndAnotherDuringAPost) {
    NotificationCenter center;
    std::vector<std::string> calls;
    NotificationCenter::ObserverToken self = 0;
    NotificationCenter::ObserverToken later = 0;
    self = center.addObserver("N", [&](const Notification&) {
        calls.push_back("self");
        center.removeObserver(self);
        center.removeObserver(later);
    });
    later = center.addObserver("N", [&](const Notification&) { calls.push_back("later"); });
    center.postNotification("N");
    center.postNotification("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"self"}));
}

TEST(NotificationCenterTest, ObserverAddedDuringAPostWaitsForTheNext) {
    NotificationCenter center;
    std::vector<std::string> calls;
    bool added = false;
    center.addObserver("N", [&](const Notification&) {
        calls.push_back("outer");
        if (!added) {
            added = true;
            center.addObserver("N", [&](const Notification&) { calls.push_back("inner"); });
            // Posting from inside an observer must not deadlock.
            center.postNotification("Nested");
        }
    });
    center.postNotification("N");
    center.postNotification("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"outer", "outer", "inner"}));
}

TEST(NotificationCenterTest, ThreadsRegisterAndPostConcurrently) {
    NotificationCenter center;
    std::atomic<int> steady{0};
    center.addObserver("N", [&](const Notification&) { ++steady; });
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                auto token = center.addObserver("N", [](const Notification&) {});
                center.postNotification("N");
                center.removeObserver(token);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(steady.load(), kThreads * kRounds);
}

TEST(NotificationCenterTest, DefaultCenterIsOneInstance) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}

}  // namespace
}  // namespace tollvane
