#include "audio/jack/JackAudioDevice.h"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/TLAudioController.h"
#include "audio/jack/AudioDeviceLayerFactory.h"
#include "platform/HostClock.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"

namespace tollvane {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPoll = std::chrono::milliseconds(10);
constexpr double kRate = 48000.0;
constexpr uint32_t kPeriod = 256;
constexpr jack_time_t kPeriodMicros = static_cast<jack_time_t>(kPeriod / kRate * 1e6);
constexpr size_t kCaptureFrames = 4 * 48000;

uint64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

TEST(JackAudioDeviceClockTest, SameClockWithinToleranceElseMeasuredOffset) {
    struct Case {
        int64_t measured;
        int64_t chosen;
    };
    for (const Case& c :
         {Case{0, 0}, Case{999'999, 0}, Case{-999'999, 0}, Case{1'000'000, 1'000'000},
          Case{-5'000'000'000, -5'000'000'000}, Case{86'400'000'000'000, 86'400'000'000'000}}) {
        EXPECT_EQ(JackAudioDevice::chooseClockOffset(c.measured), c.chosen) << c.measured;
    }
}

TEST(JackAudioDeviceClockTest, OffsetFollowsDriftButNotScatter) {
    const int64_t current = 253'000'000;
    EXPECT_EQ(JackAudioDevice::settledClockOffset(current, current + 10'000), current);
    EXPECT_EQ(JackAudioDevice::settledClockOffset(current, current - 9'000), current);
    EXPECT_EQ(JackAudioDevice::settledClockOffset(current, current + 10'001), current + 10'001);
    EXPECT_EQ(JackAudioDevice::settledClockOffset(0, current), current);
}

TEST(JackAudioDeviceLayerTest, NoServerGivesTheNullLayer) {
    const std::string name = "tollvane-absent-" + std::to_string(getpid());
    EXPECT_EQ(JackAudioDevice::open(name), nullptr);
    Log::Sink previous = Log::setSink([](const std::string&) {});
    AudioDeviceLayerFactory::Backend chosen = AudioDeviceLayerFactory::Backend::kJack;
    auto layer = AudioDeviceLayerFactory::makeNamed("jack", name, &chosen);
    EXPECT_EQ(chosen, AudioDeviceLayerFactory::Backend::kNull);
    EXPECT_TRUE(layer->allDevices().empty());
    EXPECT_EQ(layer->defaultOutputDevice(), nullptr);
    Log::setSink(previous);
}

// A jackd with the dummy driver under a name of its own, for one test.
class JackServerTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "libjack is not instrumented: its threads order our buffers through shared memory";
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
        GTEST_SKIP() << "libjack is not instrumented: its threads order our buffers through shared memory";
#endif
#endif
        if (findProgram("jackd").empty()) GTEST_SKIP() << "jackd is not installed";
        static int serial = 0;
        server_ = std::make_unique<JackDummyServer>(
            "tollvane-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial), 48000, kPeriod);
        serverName = server_->name();
        ASSERT_TRUE(server_->started()) << "cannot start jackd";
        ASSERT_TRUE(server_->waitUntil([&] {
            device = JackAudioDevice::open(serverName, "tollvane-under-test");
            return device != nullptr;
        })) << "jackd did not accept clients within 10 s";
    }

    void TearDown() override {
        device.reset();
        server_.reset();
    }

public:
    // Waits for `done` with a deadline; answers whether it came true.
    template <typename Predicate>
    static bool waitFor(Predicate done, std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(kPoll);
        }
        return true;
    }

    std::string serverName;
    std::shared_ptr<JackAudioDevice> device;

private:
    std::unique_ptr<JackDummyServer> server_;
};

TEST_F(JackServerTest, TheServerIsOneStereoDevice) {
    JackAudioDeviceLayer layer(device);
    ASSERT_EQ(layer.allDevices().size(), 1u);
    EXPECT_EQ(layer.defaultOutputDevice(), device);
    EXPECT_EQ(layer.deviceWithID(JackAudioDevice::kDeviceID), device);
    EXPECT_EQ(layer.deviceWithID(2), nullptr);
    EXPECT_EQ(device->deviceName(), "JACK (" + serverName + ")");
    EXPECT_EQ(device->channelsForDirection(MTCoreAudioDirection::kOutput), 2u);
    EXPECT_EQ(device->channelsForDirection(MTCoreAudioDirection::kInput), 0u);
    EXPECT_EQ(device->sampleRate(), kRate);
    EXPECT_EQ(device->bufferFrames(), kPeriod);

    const AudioStreamBasicDescription format =
        device->streamDescriptionForChannel(1, MTCoreAudioDirection::kOutput);
    EXPECT_EQ(format.mSampleRate, kRate);
    EXPECT_EQ(format.mChannelsPerFrame, 1u);
    EXPECT_EQ(format.mBitsPerChannel, 32u);
    EXPECT_EQ(device->streamDescriptionForChannel(2, MTCoreAudioDirection::kOutput).mSampleRate, 0.0);
    EXPECT_EQ(device->streamDescriptionForChannel(0, MTCoreAudioDirection::kInput).mSampleRate, 0.0);

    // The dummy driver holds a cycle's output back by one period.
    EXPECT_GE(device->outputLatency(0).max, kPeriod);
    EXPECT_EQ(device->outputLatency(7).max, 0u);
}

TEST_F(JackServerTest, JackTimeConvertsToTheMonotonicClock) {
    const uint64_t before = monotonicNanos();
    const uint64_t jack = device->hostTimeForJackTime(jack_get_time());
    const uint64_t after = monotonicNanos();
    EXPECT_GE(jack + 1000, before);
    EXPECT_LE(jack, after + 1000);
}

TEST_F(JackServerTest, StartAndStopWithoutCallbackIsSilent) {
    EXPECT_TRUE(device->deviceStart());
    EXPECT_TRUE(device->isRunning());
    CaptureClient capture(serverName, kCaptureFrames);
    ASSERT_TRUE(capture.connectTo(device->outputPortNames()));
    ASSERT_TRUE(waitFor([&] { return capture.framesRecorded() >= 4 * kPeriod; }, std::chrono::seconds(5)));
    capture.stop();
    device->deviceStop();
    EXPECT_FALSE(device->isRunning());
    for (size_t i = 0; i < capture.framesRecorded(); ++i) ASSERT_EQ(capture.channel(0)[i], 0.0f) << i;
}

// The first frame at which the controller's arithmetic starts a click for
// `hostTime` when placed in a cycle starting at frame `frame`, host time `now`.
int64_t predictedFirstFrame(uint64_t hostTime, uint64_t now, int64_t frame) {
    return frame + predictedClickOffset(hostTime, now, TLAudioController::outputAllowance(kPeriod), kRate);
}

// Plays one click through the controller and records it with a second
// client. Answers false (after a failed assertion) when the run failed.
bool recordClick(const std::shared_ptr<JackAudioDevice>& device, CaptureClient& capture,
                 uint64_t& clickTime) {
    UserDefaults defaults{""};
    JackAudioDeviceLayer layer(device);
    TLAudioController controller(defaults, layer);
    controller.setClickVolume(1.0f);
    controller.startOnDevice(device, 0, true);
    EXPECT_TRUE(device->isRunning());
    if (!device->isRunning()) return false;
    EXPECT_TRUE(capture.connectTo(device->outputPortNames()));
    EXPECT_TRUE(
        JackServerTest::waitFor([&] { return capture.cyclesRecorded() >= 4; }, std::chrono::seconds(5)));
    clickTime = monotonicNanos() + 150'000'000;
    controller.addClickAtHostTime(clickTime);
    const size_t wanted = capture.framesRecorded() + static_cast<size_t>(0.4 * kRate);
    const bool recorded =
        JackServerTest::waitFor([&] { return capture.framesRecorded() >= wanted; }, std::chrono::seconds(5));
    EXPECT_TRUE(recorded);
    capture.stop();
    controller.stop();
    return recorded;
}

TEST_F(JackServerTest, ClickStartsAtTheFrameItsHostTimeGives) {
    // Only a run in which every cycle ran on time can show where a click
    // lands; a late run is tried again.
    std::unique_ptr<CaptureClient> recording;
    uint64_t clickTime = 0;
    for (int attempt = 0; attempt < 4 && !recording; ++attempt) {
        auto capture = std::make_unique<CaptureClient>(serverName, kCaptureFrames);
        if (!recordClick(device, *capture, clickTime)) return;
        if (capture->lateCycles(kPeriodMicros) == 0) recording = std::move(capture);
    }
    if (!recording) GTEST_SKIP() << "the JACK server ran cycles late in every attempt";
    const CaptureClient& capture = *recording;

    const std::vector<float>& left = capture.channel(0);
    const std::vector<float>& right = capture.channel(1);
    size_t first = 0;
    while (first < capture.framesRecorded() && left[first] == 0.0f) ++first;
    ASSERT_LT(first, capture.framesRecorded()) << "no click heard";
    for (size_t i = 0; i < capture.framesRecorded(); ++i) ASSERT_EQ(left[i], right[i]) << i;

    // The cycle the click starts in, and the frame JACK numbers it with.
    size_t at = 0;
    while (at + 1 < capture.cyclesRecorded() && capture.cycle(at + 1).recordedAt <= first) ++at;
    const int64_t heardFrame = static_cast<int64_t>(capture.cycle(at).frame) +
                               static_cast<int64_t>(first - capture.cycle(at).recordedAt);

    // Against the server's ideal clock (cycle starts fitted to a line at the
    // nominal rate): within one cycle of where the click belongs.
    double intercept = 0.0;
    for (size_t c = 0; c < capture.cyclesRecorded(); ++c) {
        intercept += static_cast<double>(device->hostTimeForJackTime(capture.cycle(c).start)) / 1e9 -
                     static_cast<double>(capture.cycle(c).frame) / kRate;
    }
    intercept /= static_cast<double>(capture.cyclesRecorded());
    const double ideal =
        (static_cast<double>(clickTime) / 1e9 - TLAudioController::outputAllowance(kPeriod) - intercept) *
        kRate;
    // Within two cycles: a non-realtime server on a busy machine may run a
    // cycle late, which moves the fitted line, not the click.
    EXPECT_LE(std::abs(static_cast<double>(heardFrame) - ideal), 2 * kPeriod)
        << heardFrame << " vs " << ideal;

    // Against the cycle it starts in, which placed it: where that cycle's
    // "now" puts it. The test converts the cycle's start with the clock
    // offset as it stands now; the device re-measures that offset every
    // second and a reading may move by a few microseconds, which can carry a
    // boundary across one frame.
    const auto& cycle = capture.cycle(at);
    const int64_t off = std::abs(
        predictedFirstFrame(clickTime, device->hostTimeForJackTime(cycle.start), cycle.frame) - heardFrame);
    EXPECT_LE(off, 1) << "its cycle's now does not place the click at frame " << heardFrame;
}

}  // namespace
}  // namespace tollvane
