#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/FourCharCode.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/UserDefaults.h"
#include "playback/PlaybackApplication.h"
#include "playback/TLEvent.h"
#include "playback/TLEventController.h"
#include "playback/UserEventRecord.h"
#include "playback/sequence/MusicSequence.h"
#include "support/ScopedDefault.h"

namespace tollvane {
namespace {

template <class... Arguments>
std::string text(const char* format, Arguments... arguments) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, arguments...);
    return buffer;
}

class RecordingApplication : public PlaybackApplication {
public:
    void addStreamerWithRed(float red, float green, float blue, double feet, int size,
                            double skippingSeconds) override {
        calls.push_back(text("streamer %.2f %.2f %.2f %.2f' size %d skip %.3f", red, green, blue, feet, size,
                             skippingSeconds));
    }
    void addPunchWithHoles(int holes, float red, float green, float blue, int size) override {
        calls.push_back(text("punch %d %.2f %.2f %.2f size %d", holes, red, green, blue, size));
    }
    void addBeepsWithTime(double time, int count, bool punches) override {
        calls.push_back(text("beeps %.2f %d %d", time, count, punches ? 1 : 0));
    }
    void addClickWithVolume(double volume) override { calls.push_back(text("click %.2f", volume)); }
    void setCueStart() override { calls.push_back("cue start"); }
    void setDisplayText(const std::string& displayText) override { calls.push_back("text " + displayText); }
    void setMovieMuted(bool muted) override { calls.push_back(text("muted %d", muted ? 1 : 0)); }
    void selectCueMatching(uint32_t documentHandle, const std::string& cueNumber) override {
        calls.push_back(text("select %u ", documentHandle) + cueNumber);
    }

    std::vector<std::string> calls;
};

// Installs a recording application for the life of the object.
class InstalledApplication {
public:
    InstalledApplication()
        : application_(std::make_shared<RecordingApplication>()),
          previous_(PlaybackApplication::install(application_)) {}
    ~InstalledApplication() { PlaybackApplication::install(previous_); }
    std::vector<std::string>& calls() { return application_->calls; }

private:
    std::shared_ptr<RecordingApplication> application_;
    std::shared_ptr<PlaybackApplication> previous_;
};

// Catches log lines from any thread for the life of the object.
class LogCatcher {
public:
    LogCatcher()
        : previous_(Log::setSink([this](const std::string& line) {
              const std::lock_guard lock(mutex_);
              lines_.push_back(line);
          })) {}
    ~LogCatcher() { Log::setSink(previous_); }
    std::vector<std::string> lines() const {
        const std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    Log::Sink previous_;
};

// --- Triggering a TLEvent --------------------------------------------------------

// Installs a run loop as the main one for the life of the object.
class InstalledLoop {
public:
    explicit InstalledLoop(RunLoop& loop) : previous_(RunLoop::setMain(&loop)) {}
    ~InstalledLoop() { RunLoop::setMain(previous_); }

private:
    RunLoop* previous_;
};

class TLEventTriggerTest : public ::testing::Test {
protected:
    std::vector<std::string>& calls() { return application_.calls(); }

    ManualRunLoop loop_;
    // Defaults set and restored while the loop runs are written once, later,
    // rather than at every set.
    InstalledLoop installed_{loop_};
    InstalledApplication application_;
    ScopedDefault latency_{"latencyCompensation", Value(0.25)};
    ScopedDefault mute_{"muteReelAudioAtCueStart", Value(false)};
};

std::shared_ptr<TLEvent> withValue(std::shared_ptr<TLEvent> event, const char* key, const Value& value) {
    event->setValueForKey(key, value);
    return event;
}

TEST_F(TLEventTriggerTest, EachKindReachesTheApplication) {
    auto redStreamer = withValue(TLEvent::streamerEvent(), "eventLength", Value(4.5));
    redStreamer->setColorWithRed(1.0f, 0.0f, 0.0f);
    redStreamer->setValueForKey("eventSize", Value(2));
    auto flutter = withValue(TLEvent::punchEvent(), "eventLength", Value(3));
    auto cueChange = withValue(TLEvent::cueChangeEvent(), "cueNumber", Value("3A"));
    cueChange->setValueForKey("document", Value(7));
    auto beeps = withValue(TLEvent::beepEvent(), "beepPunches", Value(true));
    struct Case {
        const char* name;
        std::shared_ptr<TLEvent> event;
        float skip;
        std::vector<std::string> expected;
    } cases[] = {
        {"streamer", TLEvent::streamerEvent(), 0.5f, {"streamer 0.00 1.00 0.00 3.00' size 1 skip 0.500"}},
        {"red large streamer", redStreamer, 0.0f, {"streamer 1.00 0.00 0.00 4.50' size 2 skip 0.000"}},
        {"punch", TLEvent::punchEvent(), 0.0f, {"punch 1 1.00 1.00 1.00 size 1"}},
        {"flutter a frame late", flutter, 1.0f / 30.0f, {"punch 3 1.00 1.00 1.00 size 1"}},
        {"punch too late", TLEvent::punchEvent(), 0.034f, {}},
        {"beeps", beeps, 0.0f, {"beeps 2.00 3 1"}},
        {"beeps too late", TLEvent::beepEvent(), 0.05f, {}},
        {"click ignores its volume",
         withValue(TLEvent::clickEvent(), "volume", Value(0.3)),
         0.0f,
         {"click 1.00"}},
        {"click too late", TLEvent::clickEvent(), 0.05f, {}},
        {"cue start however late", TLEvent::cueStartEvent(), 5.0f, {"cue start"}},
        {"text", withValue(TLEvent::textChangeEvent(), "text", Value("Bar 12")), 3.0f, {"text Bar 12"}},
        {"reel mute while not muting", TLEvent::reelMuteEvent(), 0.0f, {}},
        {"cue change", cueChange, 2.0f, {"select 7 3A"}},
        {"cue change without a document", TLEvent::cueChangeEvent(), 0.0f, {}},
        {"unknown kind", std::make_shared<TLEvent>(), 0.0f, {}},
    };
    for (const Case& c : cases) {
        calls().clear();
        c.event->triggerSkippingSeconds(c.skip);
        EXPECT_EQ(calls(), c.expected) << c.name;
    }
}

TEST_F(TLEventTriggerTest, TriggerSkipsTheLatencyCompensationForStreamersOnly) {
    TLEvent::streamerEvent()->trigger();
    TLEvent::punchEvent()->trigger();
    EXPECT_EQ(calls(), (std::vector<std::string>{"streamer 0.00 1.00 0.00 3.00' size 1 skip 0.250",
                                                 "punch 1 1.00 1.00 1.00 size 1"}));
}

TEST_F(TLEventTriggerTest, ReelMuteFollowsTheDefault) {
    const ScopedDefault mute("muteReelAudioAtCueStart", Value(true));
    TLEvent::reelMuteEvent()->trigger();
    EXPECT_EQ(calls(), std::vector<std::string>{"muted 1"});
}

TEST_F(TLEventTriggerTest, RefusedOffTheMainThread) {
    const LogCatcher log;
    auto event = TLEvent::punchEvent();
    std::thread([&] { event->trigger(); }).join();
    EXPECT_TRUE(calls().empty());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "Warning: TLEvent of type 0x706e6368 triggered off the main thread. Ignoring.");
}

// --- User events from a sequence ---------------------------------------------------

// One beat is half a second: the sequence has no tempo events, so 120 bpm.
class TLEventUserEventTest : public TLEventTriggerTest {
protected:
    // Hands a block over on a player's thread, then lets the main thread run
    // what it was given.
    void deliver(const std::vector<uint8_t>& block, double atTime, double startSliceBeat,
                 MusicSequence* sequence = nullptr) {
        MusicSequence* from = sequence ? sequence : &sequence_;
        std::thread([&] {
            controller_.takeUserEvent(block, from, nullptr, atTime, startSliceBeat, startSliceBeat + 0.5);
        }).join();
        loop_.runPending();
    }

    MusicSequence sequence_;
    TLEventController controller_{loop_.clock()};
};

std::vector<uint8_t> block(uint32_t type) {
    std::vector<uint8_t> bytes(8);
    const uint32_t length = 4;
    std::memcpy(bytes.data(), &length, 4);
    std::memcpy(bytes.data() + 4, &type, 4);
    return bytes;
}

TEST_F(TLEventUserEventTest, EachRecordBecomesItsEvent) {
    const struct Case {
        const char* name;
        std::vector<uint8_t> block;
        std::vector<std::string> expected;
    } cases[] = {
        {"streamer",
         UserEventRecord::streamer({0.0f, 0.5f, 1.0f, 2.0}),
         {"streamer 0.00 0.50 1.00 3.00' size 1 skip 0.000"}},
        {"punch", UserEventRecord::punch({1.0f, 0.0f, 0.0f, 2}), {"punch 2 1.00 0.00 0.00 size 1"}},
        {"beeps", UserEventRecord::beeps({4, 1.5f, true}), {"beeps 1.50 4 1"}},
        {"text", UserEventRecord::textChange("Bar 12"), {"text Bar 12"}},
        {"reel mute", UserEventRecord::reelMute(), {}},
        {"cue change", UserEventRecord::cueChange(9, "12"), {"select 9 12"}},
        {"cue start", UserEventRecord::cueStart(), {"cue start"}},
        {"click", UserEventRecord::click(), {"click 1.00"}},
    };
    double beat = 0.0;
    for (const Case& c : cases) {
        calls().clear();
        beat += 1.0;
        deliver(c.block, beat, beat);
        EXPECT_EQ(calls(), c.expected) << c.name;
    }
}

TEST_F(TLEventUserEventTest, SameBlockWithinAFrameIsOneEvent) {
    const auto streamer = UserEventRecord::streamer({});
    deliver(streamer, 4.0, 4.0);
    loop_.advance(0.020);
    deliver(streamer, 4.0, 4.0);
    EXPECT_EQ(calls().size(), 1u);
    // Another block inside the window is an event of its own.
    deliver(UserEventRecord::streamer({0.5f, 0.5f, 0.5f, 2.0}), 4.0, 4.0);
    deliver(streamer, 4.0, 4.0);
    EXPECT_EQ(calls().size(), 3u);
    loop_.advance(0.040);
    deliver(streamer, 4.0, 4.0);
    EXPECT_EQ(calls().size(), 4u);
}

TEST_F(TLEventUserEventTest, DuplicateWindowEndsAt33333332Nanoseconds) {
    const auto punch = UserEventRecord::punch({});
    deliver(punch, 1.0, 1.0);
    loop_.clock().advance(TLEventController::kDuplicateWindowNanos);
    deliver(punch, 1.0, 1.0);
    loop_.clock().advance(TLEventController::kDuplicateWindowNanos + 1);
    deliver(punch, 1.0, 1.0);
    EXPECT_EQ(calls().size(), 2u);
}

TEST_F(TLEventUserEventTest, LateDeliveriesSkipOrDrop) {
    const struct Case {
        const char* name;
        std::vector<uint8_t> block;
        double lateBeats;
        std::vector<std::string> expected;
    } cases[] = {
        {"2 s streamer 1.5 s late",
         UserEventRecord::streamer({}),
         3.0,
         {"streamer 1.00 1.00 1.00 3.00' size 1 skip 1.500"}},
        {"2 s streamer 2.5 s late", UserEventRecord::streamer({}), 5.0, {}},
        {"streamer just inside a frame",
         UserEventRecord::streamer({}),
         0.03,
         {"streamer 1.00 1.00 1.00 3.00' size 1 skip 0.000"}},
        {"punch 50 ms late", UserEventRecord::punch({}), 0.1, {}},
        {"punch inside a frame", UserEventRecord::punch({}), 0.03, {"punch 1 1.00 1.00 1.00 size 1"}},
        {"beeps 50 ms late", UserEventRecord::beeps({}), 0.1, {}},
        {"cue start 0.1 s late", UserEventRecord::cueStart(), 0.2, {}},
        {"cue start 0.09 s late", UserEventRecord::cueStart(), 0.18, {"cue start"}},
        {"text 10 s late", UserEventRecord::textChange("Bar 12"), 20.0, {"text Bar 12"}},
    };
    for (const Case& c : cases) {
        calls().clear();
        // Far enough apart that no block repeats the one before.
        loop_.advance(1.0);
        deliver(c.block, 10.0, 10.0 + c.lateBeats);
        EXPECT_EQ(calls(), c.expected) << c.name;
    }
}

TEST_F(TLEventUserEventTest, SkipIsInSecondsAtThePlaybackRate) {
    ASSERT_EQ(sequence_.setPlaybackRate(2.0), kMusicSequenceNoErr);
    deliver(UserEventRecord::streamer({}), 10.0, 16.0);
    EXPECT_EQ(calls(), std::vector<std::string>{"streamer 1.00 1.00 1.00 3.00' size 1 skip 1.500"});
}

TEST_F(TLEventUserEventTest, FailedConversionsAreLoggedAndCountAsZero) {
    const LogCatcher log;
    std::thread([&] {
        controller_.takeUserEvent(UserEventRecord::punch({}), nullptr, nullptr, 10.0, 20.0, 20.5);
    }).join();
    loop_.runPending();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "Couldn't get trigger time in seconds for chased event (0xffffffff).",
                               "Couldn't get start time in seconds for chased event (0xffffffff)."}));
    EXPECT_EQ(calls(), std::vector<std::string>{"punch 1 1.00 1.00 1.00 size 1"});
}

TEST_F(TLEventUserEventTest, UnknownAndMalformedRecordsAreLoggedAndIgnored) {
    const LogCatcher log;
    deliver(block(fourCharCode("zzzz")), 1.0, 1.0);
    auto shortPunch = UserEventRecord::punch({});
    shortPunch.resize(12);
    const uint32_t length = 8;
    std::memcpy(shortPunch.data(), &length, 4);
    deliver(shortPunch, 1.0, 1.0);
    deliver({1, 2, 3}, 1.0, 1.0);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "Warning: Unrecognized user event of type 0x7a7a7a7a received. Ignoring.",
                  "Warning: Malformed user event of type 0x706e6368 (12 bytes) received. Ignoring.",
                  "Warning: Malformed user event of type 0x0 (3 bytes) received. Ignoring."}));
}

TEST_F(TLEventUserEventTest, TriggersWaitForTheMainThread) {
    std::thread([&] {
        controller_.takeUserEvent(UserEventRecord::cueStart(), &sequence_, nullptr, 1.0, 1.0, 1.5);
    }).join();
    EXPECT_TRUE(calls().empty());
    loop_.runPending();
    EXPECT_EQ(calls(), std::vector<std::string>{"cue start"});
}

}  // namespace
}  // namespace tollvane
