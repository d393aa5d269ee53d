#include "platform/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/BlockingRunLoop.h"
#include "platform/HostClock.h"
#include "platform/ManualRunLoop.h"

namespace tollvane {
namespace {

using Firings = std::vector<std::pair<std::string, double>>;

class ManualRunLoopTest : public ::testing::Test {
protected:
    // Records which timer fired at what loop time.
    std::function<void()> record(const std::string& name) {
        return [this, name] { fired.emplace_back(name, loop.now()); };
    }

    ManualRunLoop loop;
    Firings fired;
};

TEST_F(ManualRunLoopTest, FiresOneShotsAndRepeatsInTimeOrderWithTiesInSchedulingOrder) {
    loop.scheduleTimer(0.3, true, record("repeat"));
    loop.scheduleTimer(0.5, false, record("half"));
    loop.scheduleTimer(0.3, false, record("tie"));
    loop.scheduleTimer(0.9, false, record("late tie"));

    loop.advance(1.0);

    Firings expected{{"repeat", 0.3}, {"tie", 0.3},    {"half", 0.5},
                     {"repeat", 0.6}, {"repeat", 0.9}, {"late tie", 0.9}};
    ASSERT_EQ(fired.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(fired[i].first, expected[i].first) << i;
        EXPECT_NEAR(fired[i].second, expected[i].second, 1e-12) << i;
    }
    EXPECT_DOUBLE_EQ(loop.now(), 1.0);
    EXPECT_EQ(loop.clock().now(), 1'000'000'000u);
}

TEST_F(ManualRunLoopTest, TimersFallDueAcrossSeveralAdvances) {
    loop.scheduleTimer(0.3, false, record("once"));
    loop.advance(0.25);
    EXPECT_TRUE(fired.empty());
    loop.advance(0.05);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_NEAR(fired[0].second, 0.3, 1e-12);
}

TEST_F(ManualRunLoopTest, CancelledTimerNeverFiresAndReleasesItsCallbackAtOnce) {
    auto held = std::make_shared<int>(1);
    std::weak_ptr<int> watch = held;
    auto timer =
        loop.scheduleTimer(0.1, false, [held = std::move(held), this] { fired.emplace_back("x", 0); });
    EXPECT_TRUE(timer->isValid());
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    EXPECT_TRUE(watch.expired());
    loop.advance(1.0);
    EXPECT_TRUE(fired.empty());
}

TEST_F(ManualRunLoopTest, RepeatingTimerCancelledFromItsOwnCallback) {
    auto held = std::make_shared<int>(1);
    std::weak_ptr<int> watch = held;
    int count = 0;
    auto timer = loop.scheduleTimer(0.1, true, [&count, held = std::move(held)](Timer& self) {
        // The captures must stay alive until the callback returns.
        EXPECT_EQ(*held, 1);
        if (++count == 3) self.invalidate();
        EXPECT_EQ(*held, 1);
    });
    loop.advance(1.0);
    EXPECT_EQ(count, 3);
    EXPECT_FALSE(timer->isValid());
    EXPECT_TRUE(watch.expired());
}

TEST_F(ManualRunLoopTest, OneShotIsInvalidAfterFiring) {
    auto timer = loop.scheduleTimer(0.1, false, record("once"));
    loop.advance(0.1);
    EXPECT_EQ(fired.size(), 1u);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(ManualRunLoopTest, RepeatingTimerKeepsItsPhaseAndSkipsMissedFirings) {
    int count = 0;
    auto timer = loop.scheduleTimer(0.1, true, [&] {
        fired.emplace_back("tick", loop.now());
        // The first firing runs long: 0.35 s of host time pass inside it.
        if (++count == 1) loop.clock().advanceSeconds(0.35);
    });
    loop.advance(0.75);
    ASSERT_EQ(fired.size(), 4u);
    EXPECT_NEAR(fired[0].second, 0.1, 1e-12);
    EXPECT_NEAR(fired[1].second, 0.5, 1e-12);
    EXPECT_NEAR(fired[2].second, 0.6, 1e-12);
    EXPECT_NEAR(fired[3].second, 0.7, 1e-12);
    EXPECT_NEAR(timer->fireDate(), 0.8, 1e-12);
}

TEST_F(ManualRunLoopTest, TimerScheduledInsideACallbackCountsFromThatMoment) {
    loop.scheduleTimer(0.2, false, [this] { loop.scheduleTimer(0.5, false, record("inner")); });
    loop.advance(0.69);
    EXPECT_TRUE(fired.empty());
    loop.advance(0.01);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_NEAR(fired[0].second, 0.7, 1e-12);
}

TEST_F(ManualRunLoopTest, WorkPostedByATimerRunsBeforeLaterTimers) {
    loop.scheduleTimer(0.1, false, [this] { loop.post(record("posted")); });
    loop.scheduleTimer(0.2, false, record("later"));
    loop.advance(1.0);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].first, "posted");
    EXPECT_NEAR(fired[0].second, 0.1, 1e-12);
    EXPECT_EQ(fired[1].first, "later");
}

TEST_F(ManualRunLoopTest, RunPendingRunsPostedWorkInOrderAndDueTimersWithoutMovingTime) {
    loop.post(record("a"));
    loop.scheduleTimer(0.0, false, record("timer"));
    loop.post(record("b"));
    loop.scheduleTimer(0.1, false, record("not yet"));
    loop.runPending();
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[0].first, "a");
    EXPECT_EQ(fired[1].first, "b");
    EXPECT_EQ(fired[2].first, "timer");
    EXPECT_EQ(loop.now(), 0.0);
}

TEST_F(ManualRunLoopTest, ZeroRepeatIntervalIsRaisedToTheMinimum) {
    int count = 0;
    loop.scheduleTimer(0.0, true, [&] { ++count; });
    loop.advance(0.001);
    EXPECT_EQ(count, 10);
}

TEST_F(ManualRunLoopTest, FarFutureTimerDoesNotWrapIntoThePast) {
    loop.clock().set(5'000'000'000u);
    loop.scheduleTimer(1e30, false, record("never"));
    loop.advance(100.0);
    EXPECT_TRUE(fired.empty());
}

TEST_F(ManualRunLoopTest, AdvancingFromInsideTheLoopIsRefused) {
    bool threw = false;
    loop.post([&] {
        try {
            loop.advance(1.0);
        } catch (const std::logic_error&) {
            threw = true;
        }
    });
    loop.runPending();
    EXPECT_TRUE(threw);
}

TEST_F(ManualRunLoopTest, ThrowingWorkLeavesTheRestQueued) {
    loop.post([] { throw std::runtime_error("boom"); });
    loop.post(record("after"));
    EXPECT_THROW(loop.runPending(), std::runtime_error);
    EXPECT_TRUE(fired.empty());
    loop.runPending();
    EXPECT_EQ(fired.size(), 1u);
}

TEST_F(ManualRunLoopTest, PerformOnMainThreadRunsInlineOnTheMainThread) {
    bool ran = false;
    EXPECT_TRUE(loop.isMainThread());
    EXPECT_TRUE(loop.performOnMainThread([&] { ran = true; }, false));
    EXPECT_TRUE(ran);
}

TEST_F(ManualRunLoopTest, WorkFromAnotherThreadRunsOnTheMainThreadInOrder) {
    std::vector<int> seen;
    bool done = false;
    bool allOnMain = true;
    std::atomic<bool> performAnswered{false};
    std::thread worker([&] {
        EXPECT_FALSE(loop.isMainThread());
        for (int i = 0; i < 100; ++i) {
            loop.post([&, i] {
                allOnMain = allOnMain && loop.isMainThread();
                seen.push_back(i);
            });
        }
        // Waits until the main thread has run it, so the 100 posts are done by then.
        bool ran = loop.performOnMainThread([&] { EXPECT_EQ(seen.size(), 100u); }, true);
        performAnswered = ran;
        loop.post([&] { done = true; });
    });
    while (!done) {
        loop.waitForPostedWork();
        loop.runPending();
    }
    worker.join();
    EXPECT_TRUE(performAnswered);
    EXPECT_TRUE(allOnMain);
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], i);
}

TEST_F(ManualRunLoopTest, ShutdownReleasesAThreadWaitingToPerform) {
    std::atomic<int> answer{-1};
    bool ran = false;
    std::thread worker([&] { answer = loop.performOnMainThread([&] { ran = true; }, true) ? 1 : 0; });
    loop.waitForPostedWork();
    loop.shutdown();
    worker.join();
    EXPECT_EQ(answer, 0);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(loop.post([] {}));
    EXPECT_FALSE(loop.scheduleTimer(0.1, false, [] {})->isValid());
}

TEST(ManualRunLoopLifetimeTest, DestroyingTheLoopReleasesAWaitingPerformer) {
    auto loop = std::make_unique<ManualRunLoop>();
    std::atomic<int> answer{-1};
    std::thread worker([&, raw = loop.get()] { answer = raw->performOnMainThread([] {}, true) ? 1 : 0; });
    loop->waitForPostedWork();
    loop.reset();
    worker.join();
    EXPECT_EQ(answer, 0);
}

TEST(ManualRunLoopLifetimeTest, ShutdownInvalidatesTimers) {
    ManualRunLoop loop;
    auto timer = loop.scheduleTimer(1.0, true, [] {});
    loop.shutdown();
    EXPECT_FALSE(timer->isValid());
}

TEST(RunLoopMainTest, InstallingAndUninstalling) {
    RunLoop* before = RunLoop::setMain(nullptr);
    EXPECT_EQ(RunLoop::mainIfInstalled(), nullptr);
    EXPECT_THROW(RunLoop::main(), std::logic_error);
    {
        ManualRunLoop loop;
        RunLoop::setMain(&loop);
        EXPECT_EQ(&RunLoop::main(), &loop);
    }
    // A destroyed loop takes itself out.
    EXPECT_EQ(RunLoop::mainIfInstalled(), nullptr);
    RunLoop::setMain(before);
}

TEST(ManualRunLoopClockTest, DrivesAClockItIsGiven) {
    ManualHostClock clock(2'000'000'000u);
    ManualRunLoop loop(clock);
    loop.advance(0.5);
    EXPECT_EQ(clock.now(), 2'500'000'000u);
    EXPECT_DOUBLE_EQ(loop.now(), 2.5);
}

// The blocking loop runs on real time with real threads; every wait below
// ends on the loop's own wake-up, never on a sleep.
TEST(BlockingRunLoopTest, ThreadPostsWorkAndStopsTheLoop) {
    BlockingRunLoop loop;
    std::vector<int> seen;
    bool allOnMain = true;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            loop.post([&, i] {
                allOnMain = allOnMain && loop.isMainThread();
                seen.push_back(i);
            });
        }
        loop.post([&] { loop.stop(); });
    });
    loop.run();
    worker.join();
    EXPECT_TRUE(allOnMain);
    ASSERT_EQ(seen.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], i);
}

TEST(BlockingRunLoopTest, StopBeforeRunEndsTheNextRunAtOnce) {
    BlockingRunLoop loop;
    std::thread stopper([&] { loop.stop(); });
    stopper.join();
    loop.run();
    SUCCEED();
}

TEST(BlockingRunLoopTest, WaitingPerformFromAnotherThreadRuns) {
    BlockingRunLoop loop;
    bool ran = false;
    std::atomic<bool> answer{false};
    std::thread worker([&] {
        answer = loop.performOnMainThread([&] { ran = loop.isMainThread(); }, true);
        loop.stop();
    });
    loop.run();
    worker.join();
    EXPECT_TRUE(answer);
    EXPECT_TRUE(ran);
}

TEST(BlockingRunLoopTest, RunUntilPredicateAndTimers) {
    BlockingRunLoop loop;
    int ticks = 0;
    auto timer = loop.scheduleTimer(0.001, true, [&] { ++ticks; });
    EXPECT_TRUE(loop.runUntil([&] { return ticks >= 3; }, loop.now() + 10.0));
    EXPECT_EQ(ticks, 3);
    timer->invalidate();
}

TEST(BlockingRunLoopTest, RunUntilDeadlineWaitsForIt) {
    BlockingRunLoop loop;
    double deadline = loop.now() + 0.01;
    EXPECT_TRUE(loop.runUntil(deadline));
    EXPECT_GE(loop.now(), deadline);
    EXPECT_FALSE(loop.runUntil([] { return false; }, loop.now() + 0.005));
}

TEST(BlockingRunLoopTest, RunsOnlyOnItsOwnThread) {
    BlockingRunLoop loop;
    bool threw = false;
    std::thread other([&] {
        try {
            loop.run();
        } catch (const std::logic_error&) {
            threw = true;
        }
    });
    other.join();
    EXPECT_TRUE(threw);
}

TEST(BlockingRunLoopTest, ShutdownReleasesAWaitingPerformerWhenTheLoopNoLongerRuns) {
    BlockingRunLoop loop;
    std::atomic<int> answer{-1};
    std::thread worker([&] {
        loop.post([&] { loop.stop(); });
        answer = loop.performOnMainThread([] {}, true) ? 1 : 0;
    });
    // The first post stops the loop; the perform may or may not have run by then.
    loop.run();
    loop.shutdown();
    worker.join();
    EXPECT_NE(answer, -1);
    EXPECT_TRUE(loop.isShutDown());
}

}  // namespace
}  // namespace tollvane
