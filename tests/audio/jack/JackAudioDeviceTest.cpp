#include "audio/jack/JackAudioDevice.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/TLAudioController.h"
#include "audio/jack/AudioDeviceLayerFactory.h"
#include "platform/HostClock.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"

extern char** environ;

namespace tollvane {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPoll = std::chrono::milliseconds(10);
constexpr double kRate = 48000.0;
constexpr uint32_t kPeriod = 256;

uint64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

std::string findJackd() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string candidate = dirs.substr(start, end - start) + "/jackd";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
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
        const std::string jackd = findJackd();
        if (jackd.empty()) GTEST_SKIP() << "jackd is not installed";
        static int serial = 0;
        serverName = "tollvane-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        std::vector<std::string> args = {jackd, "-n",    serverName, "--no-realtime",        "-d", "dummy",
                                         "-r",  "48000", "-p",       std::to_string(kPeriod)};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawn(&server_, jackd.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(spawned, 0) << "cannot start jackd";

        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!(device = JackAudioDevice::open(serverName, "tollvane-under-test"))) {
            int status = 0;
            if (waitpid(server_, &status, WNOHANG) == server_) {
                server_ = 0;
                FAIL() << "jackd exited before accepting clients";
            }
            if (Clock::now() > deadline) FAIL() << "jackd did not accept clients within 10 s";
            std::this_thread::sleep_for(kPoll);
        }
    }

    void TearDown() override {
        device.reset();
        if (server_ <= 0) return;
        kill(server_, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (waitpid(server_, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(server_, SIGKILL);
                waitpid(server_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(kPoll);
        }
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
    pid_t server_ = 0;
};

// A second client whose inputs listen to our outputs: it keeps every frame
// it hears and each cycle's first frame and start time.
class CaptureClient {
public:
    static constexpr size_t kMaxFrames = 4 * 48000;
    static constexpr size_t kMaxCycles = kMaxFrames / 64;

    struct Cycle {
        jack_nframes_t frame;
        jack_time_t start;
        size_t recordedAt;  // index of its first frame in the recording
        jack_time_t late;   // how long after its start this client ran
    };

    explicit CaptureClient(const std::string& serverName) {
        jack_status_t status{};
        client_ = jack_client_open("tollvane-capture",
                                   static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                                   serverName.c_str());
        if (!client_) return;
        for (int i = 0; i < 2; ++i) {
            const std::string name = "in_" + std::to_string(i + 1);
            ports_[i] =
                jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
            samples_[i].assign(kMaxFrames, 0.0f);
        }
        cycles_.assign(kMaxCycles, Cycle{});
        jack_set_process_callback(client_, &CaptureClient::process, this);
    }
    ~CaptureClient() {
        if (client_) jack_client_close(client_);
    }

    bool connectTo(const std::vector<std::string>& outputs) {
        if (!client_ || jack_activate(client_) != 0) return false;
        for (size_t i = 0; i < 2 && i < outputs.size(); ++i) {
            if (jack_connect(client_, outputs[i].c_str(), jack_port_name(ports_[i])) != 0) return false;
        }
        return true;
    }
    void stop() { jack_deactivate(client_); }

    size_t framesRecorded() const { return frames_.load(std::memory_order_acquire); }
    size_t cyclesRecorded() const { return cycleCount_.load(std::memory_order_acquire); }
    const std::vector<float>& channel(int i) const { return samples_[i]; }
    const Cycle& cycle(size_t i) const { return cycles_[i]; }
    // Whether every cycle ran within its period: a server that is not
    // real-time, on a loaded machine, may not, and then the graph's clients
    // can see the timing of a later cycle than the buffer they fill.
    bool ranOnTime() const {
        const auto period = static_cast<jack_time_t>(kPeriod / kRate * 1e6);
        for (size_t c = 0; c < cyclesRecorded(); ++c) {
            if (cycles_[c].late >= period) return false;
        }
        return true;
    }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<CaptureClient*>(arg);
        const size_t at = self->frames_.load(std::memory_order_relaxed);
        const size_t cycle = self->cycleCount_.load(std::memory_order_relaxed);
        if (at + frames > kMaxFrames || cycle == kMaxCycles) return 0;
        jack_nframes_t first = 0;
        jack_time_t start = 0;
        jack_time_t next = 0;
        float period = 0.0f;
        jack_get_cycle_times(self->client_, &first, &start, &next, &period);
        const jack_time_t ran = jack_get_time();
        self->cycles_[cycle] = Cycle{first, start, at, ran > start ? ran - start : 0};
        for (int i = 0; i < 2; ++i) {
            const auto* in = static_cast<const float*>(jack_port_get_buffer(self->ports_[i], frames));
            std::copy(in, in + frames, self->samples_[i].begin() + static_cast<std::ptrdiff_t>(at));
        }
        self->frames_.store(at + frames, std::memory_order_release);
        self->cycleCount_.store(cycle + 1, std::memory_order_release);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* ports_[2] = {nullptr, nullptr};
    std::vector<float> samples_[2];
    std::vector<Cycle> cycles_;
    std::atomic<size_t> frames_{0};
    std::atomic<size_t> cycleCount_{0};
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
    CaptureClient capture(serverName);
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
    const double dt = 1.0 / kRate;
    const double slot =
        TLAudioController::outputAllowance(kPeriod) - HostClock::secondsBetween(now, hostTime);
    // Each sample adds dt before it is computed; the click's first sample
    // (u = 0) is silent, so the first audible one follows it.
    int64_t k = 0;
    double value = slot + dt;
    while (value <= 0.0) {
        value += dt;
        ++k;
    }
    return frame + k;
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
        auto capture = std::make_unique<CaptureClient>(serverName);
        if (!recordClick(device, *capture, clickTime)) return;
        if (capture->ranOnTime()) recording = std::move(capture);
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

    // Against the cycle that placed it (one of those before it started):
    // where its "now" puts it. The test converts the cycle's start with the
    // clock offset as it stands now; the device re-measures that offset every
    // second and a reading may move by a few microseconds, which can carry a
    // boundary across one frame.
    int64_t closest = std::numeric_limits<int64_t>::max();
    for (size_t c = 0; c <= at; ++c) {
        const auto& cycle = capture.cycle(c);
        const int64_t predicted =
            predictedFirstFrame(clickTime, device->hostTimeForJackTime(cycle.start), cycle.frame);
        closest = std::min(closest, std::abs(predicted - heardFrame));
    }
    EXPECT_LE(closest, 1) << "no cycle's now places the click at frame " << heardFrame;
}

}  // namespace
}  // namespace tollvane
