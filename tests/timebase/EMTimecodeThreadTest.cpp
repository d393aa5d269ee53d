#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

bool isNormalised(const EMTimecode& t) {
    const EMTimecodeFramerate rate = t.framerate();
    const bool dropped = rate.countsDropFrames() && t.ff() < 2 && t.ss() == 0 && t.mm() % 10 != 0;
    return t.mm() >= 0 && t.mm() < 60 && t.ss() >= 0 && t.ss() < 60 && t.ff() >= 0 &&
           t.ff() < static_cast<int32_t>(rate.fps) && t.bits() < 80 && !dropped;
}

// Two threads change one timecode through the locking setters while a third
// looks at it under its mutex: every value it sees is whole and normalised.
TEST(EMTimecodeThreadTest, LockedSettersKeepASharedTimecodeWhole) {
    const EMTimecodeFramerate rates[] = {EMTimecodeFramerate::framerateForIndex(5),
                                         EMTimecodeFramerate::framerateForIndex(3)};
    auto shared = EMTimecode::timecodeWithFramerate(rates[0], 1, 0, 0, 0);
    constexpr int kRounds = 20000;
    std::atomic<int> running{2};

    std::thread frames([&] {
        for (int i = 0; i < kRounds; ++i) {
            shared->setFF(i % 45 - 5);
            shared->setSS(i % 70);
        }
        running.fetch_sub(1);
    });
    std::thread hours([&] {
        for (int i = 0; i < kRounds; ++i) {
            shared->setMM(i % 75);
            shared->setHH(i % 3);
            if (i % 64 == 0) shared->setFramerate(rates[(i / 64) % 2]);
            if (i % 97 == 0) shared->convertFramerateTo(rates[(i / 97) % 2]);
        }
        running.fetch_sub(1);
    });

    int inconsistent = 0;
    int64_t unlockedSum = 0;
    while (running.load() > 0) {
        {
            std::lock_guard<std::recursive_mutex> lock(shared->mutex());
            if (!isNormalised(*shared)) ++inconsistent;
            auto snapshot = shared->copy();
            if (!isNormalised(*snapshot)) ++inconsistent;
        }
        // Unlocked reads may mix old and new fields but never race on memory.
        unlockedSum += shared->framesFromZero() & 1;
    }
    frames.join();
    hours.join();
    EXPECT_EQ(inconsistent, 0);
    EXPECT_TRUE(isNormalised(*shared));
    EXPECT_GE(unlockedSum, 0);
}

TEST(EMTimecodeThreadTest, SettersMayBeCalledWhileHoldingTheMutex) {
    EMTimecode t;
    std::lock_guard<std::recursive_mutex> lock(t.mutex());
    t.setHH(2);
    t.convertFramerateTo(EMTimecodeFramerate::framerateForIndex(1));
    EXPECT_EQ(t.hh(), 2);
}

}  // namespace
}  // namespace tollvane
