#include "audio/TLAudioController.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "audio/offline/OfflineAudioDevice.h"
#include "platform/Log.h"
#include "platform/ManualHostClock.h"
#include "support/PredictedClick.h"

namespace tollvane {
namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kFrames = 256;
constexpr uint64_t kStart = 1'000'000'000'000;

class AudioControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink_ = Log::setSink([this](const std::string& line) { logged.push_back(line); });
        TLAudioController::setNoisePhase(0.0);
        layer.addDevice(stereo);
        layer.addDevice(quad);
        layer.addDevice(split);
    }
    void TearDown() override { Log::setSink(previousSink_); }

    // One cycle at the current clock, then the clock moves on by exactly the
    // buffer's duration from where the run began.
    void render(OfflineAudioDevice& device, int cycles) {
        for (int i = 0; i < cycles; ++i) {
            device.renderCycle();
            ++cyclesRun_;
            clock.set(kStart + static_cast<uint64_t>(std::llround(cyclesRun_ * device.bufferFrames() * 1e9 /
                                                                  device.sampleRate())));
        }
    }

    static size_t firstSounding(const std::vector<float>& samples) {
        for (size_t i = 0; i < samples.size(); ++i) {
            if (samples[i] != 0.0f) return i;
        }
        return samples.size();
    }

    std::vector<std::string> logged;
    ManualHostClock clock{kStart};
    UserDefaults defaults{""};
    OfflineAudioDeviceLayer layer;
    std::shared_ptr<OfflineAudioDevice> stereo = std::make_shared<OfflineAudioDevice>(
        11, "Stereo Out", std::vector<uint32_t>{2}, kRate, kFrames, clock);
    std::shared_ptr<OfflineAudioDevice> quad =
        std::make_shared<OfflineAudioDevice>(12, "Quad Out", std::vector<uint32_t>{4}, kRate, kFrames, clock);
    std::shared_ptr<OfflineAudioDevice> split = std::make_shared<OfflineAudioDevice>(
        13, "Split Out", std::vector<uint32_t>{1, 1}, kRate, kFrames, clock);

private:
    Log::Sink previousSink_;
    int cyclesRun_ = 0;
};

TEST_F(AudioControllerTest, ClickLengthAtCommonRates) {
    TLAudioController controller(defaults, layer);
    struct Case {
        double rate;
        uint64_t length;
    };
    for (const Case& c : {Case{48000.0, 720}, Case{44100.0, 661}, Case{96000.0, 1440}, Case{0.0, 0}}) {
        uint64_t length = 99;
        const std::vector<float> click = controller.createClickSampleAtSampleRate(c.rate, &length);
        EXPECT_EQ(length, c.length) << c.rate;
        EXPECT_EQ(click.size(), c.length) << c.rate;
    }
}

TEST_F(AudioControllerTest, ClickShapeAndSharedNoisePhase) {
    TLAudioController controller(defaults, layer);
    controller.setClickVolume(1.0f);
    const std::vector<float> first = controller.createClickSampleAtSampleRate(kRate);
    EXPECT_EQ(first[0], 0.0f);  // u = 0: the rise starts from nothing
    // The flat pulse: u from 0.1 to 1.1, samples 4 to 39 at 48 kHz, around full amplitude.
    for (int j = 4; j <= 39; ++j) EXPECT_NEAR(first[j], 1.0f, 0.5f) << j;
    EXPECT_LT(first[100], 0.0f);  // the negative tail
    EXPECT_NEAR(first.back(), 0.0f, 1e-3f);
    // Each sounding sample moves the phase on by 3 radians, wrapped.
    EXPECT_NEAR(TLAudioController::noisePhase(), std::fmod(720 * 3.0, 2 * std::numbers::pi), 1e-9);
    const std::vector<float> second = controller.createClickSampleAtSampleRate(kRate);
    EXPECT_NE(first, second);
    TLAudioController::setNoisePhase(0.0);
    EXPECT_EQ(controller.createClickSampleAtSampleRate(kRate), first);

    double phase = 1.0;
    EXPECT_EQ(TLAudioController::clickSample(-0.0001, 1.0f, phase), 0.0f);
    EXPECT_EQ(TLAudioController::clickSample(0.015, 1.0f, phase), 0.0f);
    EXPECT_EQ(phase, 1.0);  // silence leaves the phase alone
}

TEST_F(AudioControllerTest, BeepEdgesAndRamps) {
    const float a = 0.5f;
    const float f = 1000.0f;
    auto sine = [&](double t) { return a * std::sin(2 * std::numbers::pi * f * t); };
    struct Case {
        double t;
        double expected;
    };
    const Case cases[] = {
        {-0.0001, 0.0},
        {0.0, 0.0},
        {0.001, sine(0.001) * 0.5},                         // halfway up the fade-in
        {0.01, sine(0.01)},                                 // full
        {0.0325, sine(0.0325) * 500 * (0.03333 - 0.0325)},  // fading out
        {0.03333, 0.0},
        {0.0334, 0.0},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(TLAudioController::beepSample(c.t, a, f), c.expected, 1e-6) << c.t;
    }
}

TEST_F(AudioControllerTest, RenderedSoundsMatchTheWaveforms) {
    TLAudioController controller(defaults, layer);
    controller.startOnDevice(stereo, 0, true);
    controller.triggerSingleClick();
    render(*stereo, 4);
    controller.triggerSingleBeep();
    render(*stereo, 8);
    const std::vector<float> out = stereo->recordedChannel(0);
    // Each slot advances before it sounds: sample j plays its sound at (j + 1) / rate.
    double phase = 0.0;
    for (size_t j = 0; j < 4 * kFrames; ++j) {
        const float expected =
            TLAudioController::clickSample((j + 1) / kRate, controller.clickVolume(), phase);
        ASSERT_NEAR(out[j], expected, 1e-6) << j;
    }
    for (size_t j = 0; j < 8 * kFrames; ++j) {
        const float expected = TLAudioController::beepSample((j + 1) / kRate, controller.warningBeepVolume(),
                                                             controller.warningBeepPitch());
        ASSERT_NEAR(out[4 * kFrames + j], expected, 1e-6) << j;
    }
}

TEST_F(AudioControllerTest, LevelsAreSquaredAndFollowTheDefaults) {
    TLAudioController controller(defaults, layer);
    EXPECT_NEAR(controller.clickVolume(), 0.7056f, 1e-6f);
    EXPECT_NEAR(controller.warningBeepVolume(), 0.7056f, 1e-6f);
    EXPECT_EQ(controller.warningBeepPitch(), 1000.0f);
    defaults.setDouble("clickLevel", 0.5);
    defaults.setDouble("warningBeepLevel", 0.1);
    defaults.setDouble("warningBeepPitch", 880.0);
    EXPECT_FLOAT_EQ(controller.clickVolume(), 0.25f);
    EXPECT_FLOAT_EQ(controller.warningBeepVolume(), 0.01f);
    EXPECT_EQ(controller.warningBeepPitch(), 880.0f);
}

TEST_F(AudioControllerTest, BeepTriggers) {
    TLAudioController controller(defaults, layer);
    controller.triggerBeepsWithTotalTime(2.0, 4);
    const double expected[] = {0.0, -0.5, -1.0, -1.5};
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(controller.beepSlot(i), expected[i]);
    for (int i = 4; i < 8; ++i) EXPECT_DOUBLE_EQ(controller.beepSlot(i), TLAudioController::kFreeBeep);

    controller.triggerBeepsWithTotalTime(1.0, 4);  // four more fill the table
    EXPECT_TRUE(logged.empty());
    std::vector<double> before;
    for (int i = 0; i < 8; ++i) before.push_back(controller.beepSlot(i));
    controller.triggerSingleBeep();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "Warning: maximum number of scheduled warning beeps (8) exceeded.");
    for (int i = 0; i < 8; ++i) EXPECT_EQ(controller.beepSlot(i), before[i]);

    TLAudioController idle(defaults, layer);
    idle.triggerBeepsWithTotalTime(1.0, 0);
    idle.triggerBeepsWithTotalTime(1.0, -2);
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(idle.beepSlot(i), TLAudioController::kFreeBeep);
}

TEST_F(AudioControllerTest, AvoidOverlappingBeepsAndADRBeeps) {
    defaults.setBool("avoidOverlappingBeeps", true);
    TLAudioController controller(defaults, layer);
    controller.startOnDevice(stereo, 0, true);
    controller.triggerSingleBeep();
    // 0.2 s of output later a run spaced 0.5 s would overlap: nothing is scheduled.
    render(*stereo, static_cast<int>(0.2 * kRate / kFrames) + 1);
    controller.triggerBeepsWithTotalTime(2.0, 4);
    int waiting = 0;
    for (int i = 0; i < 8; ++i) waiting += controller.beepSlot(i) <= 0.0;
    EXPECT_EQ(waiting, 0);
    controller.triggerADRBeepsWithSpacing(1.0);  // the first beep is over: slots all free
    EXPECT_DOUBLE_EQ(controller.beepSlot(0), 0.0);
    EXPECT_DOUBLE_EQ(controller.beepSlot(1), -1.0);
    EXPECT_DOUBLE_EQ(controller.beepSlot(2), -2.0);
    controller.triggerADRBeepsWithSpacing(0.5);  // busy now: nothing changes
    EXPECT_GE(controller.beepSlot(3), TLAudioController::kBeepLength);
}

TEST_F(AudioControllerTest, ClickLandsOnTheSampleForItsHostTime) {
    TLAudioController controller(defaults, layer);
    controller.startOnDevice(stereo, 0, true);
    // The buffer holding the channel carries 512 floats, so the allowance is
    // 2 * 512 / 44100 s; a click for host time now + allowance + x samples
    // starts at sample floor(x) of the output.
    const double allowance = TLAudioController::outputAllowance(2 * kFrames);
    for (double x : {100.5, 700.25, 3000.75, 255.5}) {
        controller.removeAllScheduledClicks();
        render(*stereo, 2);
        stereo->clearRecording();
        const uint64_t now = clock.now();
        controller.addClickAtHostTime(now +
                                      static_cast<uint64_t>(std::llround((allowance + x / kRate) * 1e9)));
        render(*stereo, 16);
        const std::vector<float> left = stereo->recordedChannel(0);
        EXPECT_EQ(firstSounding(left), static_cast<size_t>(x)) << x;
        EXPECT_EQ(stereo->recordedChannel(1), left);
    }
}

TEST_F(AudioControllerTest, PendingClicksWaitForFreeSlotsAndWarnOnce) {
    TLAudioController controller(defaults, layer);
    controller.startOnDevice(stereo, 0, true);
    // Ten clicks that all start in the next buffer.
    const uint64_t due =
        clock.now() +
        static_cast<uint64_t>(std::llround(TLAudioController::outputAllowance(2 * kFrames) * 1e9));
    for (int i = 0; i < 10; ++i) controller.addClickAtHostTime(due + i * 100'000ull);
    EXPECT_EQ(controller.pendingClick(7), due + 700'000ull);  // the ninth and tenth are dropped
    controller.triggerSingleClick();                          // takes a slot now
    render(*stereo, 1);
    int busy = 0;
    for (int i = 0; i < 8; ++i) busy += controller.clickSlot(i) < TLAudioController::kClickLength;
    EXPECT_EQ(busy, 8);
    EXPECT_NE(controller.pendingClick(7), 0u);  // still pending
    EXPECT_TRUE(logged.empty());                // never from the callback
    controller.logPendingWarnings();
    controller.logPendingWarnings();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "Warning: maximum number of scheduled clicks (8) exceeded.");
    render(*stereo, 3);  // the single click is over: the last pending click gets its slot
    EXPECT_EQ(controller.pendingClick(7), 0u);
}

// A click is handed over a beat or more ahead. It must land where the time
// of the buffer it starts in puts it, whatever the buffers before it did: a
// device clock running 0.3% slow against host time, and a cycle that read
// the time of the cycle before it.
TEST_F(AudioControllerTest, AClickHandedOverAheadFollowsTheTimeOfTheBufferItStartsIn) {
    TLAudioController controller(defaults, layer);
    controller.startOnDevice(stereo, 0, true);
    const double allowance = TLAudioController::outputAllowance(2 * kFrames);
    const double period = kFrames / kRate * 1.003;
    auto cycleTime = [&](int cycle) {
        return kStart + static_cast<uint64_t>(std::llround(cycle * period * 1e9));
    };
    const uint64_t click = kStart + 500'000'000;
    controller.addClickAtHostTime(click);
    constexpr int kCycles = 120;
    constexpr int kMisread = 3;
    std::vector<uint64_t> times;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        times.push_back(cycleTime(cycle == kMisread ? cycle - 1 : cycle));
        clock.set(times.back());
        stereo->renderCycle();
    }
    // The first cycle whose buffer reaches the click's start.
    size_t expected = 0;
    for (int cycle = 0; cycle < kCycles && expected == 0; ++cycle) {
        const int64_t offset = predictedClickOffset(click, times[cycle], allowance, kRate);
        if (offset < kFrames) expected = static_cast<size_t>(cycle) * kFrames + static_cast<size_t>(offset);
    }
    ASSERT_NE(expected, 0u);
    EXPECT_EQ(firstSounding(stereo->recordedChannel(0)), expected);
}

TEST_F(AudioControllerTest, RemoveAllScheduledClicksCutsASoundingClick) {
    TLAudioController controller(defaults, layer);
    controller.startOnDevice(stereo, 0, true);
    controller.addClickAtHostTime(clock.now() + 500'000'000);
    controller.triggerSingleClick();
    render(*stereo, 1);  // 5.3 ms into a 15 ms click
    EXPECT_NE(stereo->recordedChannel(0)[kFrames - 1], 0.0f);
    controller.removeAllScheduledClicks();
    stereo->clearRecording();
    render(*stereo, 200);
    EXPECT_EQ(firstSounding(stereo->recordedChannel(0)), 200u * kFrames);
}

TEST_F(AudioControllerTest, OutputChannels) {
    TLAudioController controller(defaults, layer);
    struct Case {
        std::shared_ptr<OfflineAudioDevice> device;
        int channel;
        bool stereo;
        int outChannel;
        std::vector<bool> sounding;
    };
    const Case cases[] = {
        {quad, 3, true, 2, {false, false, true, true}},  // pairs start on odd outputs counted from 1
        {quad, 1, false, 1, {false, true, false, false}},
        {split, 0, true, 0, {true, true}},  // the pair's second channel is the next stream
        {split, 1, false, 1, {false, true}},
    };
    for (const Case& c : cases) {
        controller.startOnDevice(c.device, c.channel, c.stereo);
        EXPECT_EQ(controller.outChannel(), c.outChannel);
        c.device->clearRecording();
        controller.triggerSingleClick();
        render(*c.device, 1);
        for (size_t ch = 0; ch < c.sounding.size(); ++ch) {
            const auto samples = c.device->recordedChannel(static_cast<uint32_t>(ch));
            EXPECT_EQ(firstSounding(samples) < samples.size(), c.sounding[ch])
                << c.device->deviceName().value() << " channel " << ch;
        }
    }
}

TEST_F(AudioControllerTest, ChannelNotFoundSilencesAndFails) {
    TLAudioController controller(defaults, layer);
    AudioBuffer buffer{2, 8 * sizeof(float), nullptr};
    std::vector<float> data(8, 1.0f);
    buffer.data = data.data();
    controller.startOnDevice(stereo, 4, false);  // nothing carries output 5
    EXPECT_EQ(controller.deviceDescription().mSampleRate, 0.0);
    std::span<AudioBuffer> buffers(&buffer, 1);
    EXPECT_EQ(controller.render(buffers, 4, kRate, clock.now(), 0.0),
              TLAudioController::kStatusChannelNotFound);
    EXPECT_EQ(data, std::vector<float>(8, 0.0f));
}

TEST_F(AudioControllerTest, StartFailuresAndDefaults) {
    TLAudioController controller(defaults, layer);
    controller.startOnDevice(nullptr, 0, true);
    controller.startOnDevice(stereo, -1, false);
    stereo->setFailsToStart(true);
    controller.startOnDevice(stereo, 0, true);
    stereo->setFailsToStart(false);
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0], "Unable to start audio controller; invalid device (null) channel 0");
    EXPECT_EQ(logged[1], "Unable to start audio controller; invalid device Stereo Out channel -1");
    EXPECT_EQ(logged[2], "Couldn't start audio device Stereo Out (id 11).");

    defaults.setInteger("TLAudioOutputDevice", 12);
    defaults.setInteger("TLAudioOutputChannel", 2);
    defaults.setBool("TLAudioOutputStereo", false);
    controller.startFromDefaults();
    EXPECT_EQ(controller.outDevice(), quad);
    EXPECT_EQ(controller.audioOutputDescription(), "Quad Out, output 3");

    defaults.setInteger("TLAudioOutputDevice", 99);  // gone: the default output, channels 1-2
    controller.startFromDefaults();
    EXPECT_EQ(controller.outDevice(), stereo);
    EXPECT_EQ(controller.audioOutputDescription(), "Stereo Out, outputs 1-2");
    EXPECT_EQ(defaults.integerForKey("TLAudioOutputDevice"), 11);
    EXPECT_EQ(defaults.integerForKey("TLAudioOutputChannel"), 0);
    EXPECT_TRUE(defaults.boolForKey("TLAudioOutputStereo"));
    controller.stop();
    EXPECT_FALSE(stereo->isRunning());
}

// Titles of a menu level, a check mark shown as "*".
std::vector<std::string> titles(const std::vector<MenuItem>& items) {
    std::vector<std::string> result;
    for (const MenuItem& item : items) result.push_back((item.checked ? "*" : "") + item.title);
    return result;
}

TEST_F(AudioControllerTest, OutputMenuOffersPairsAndChannelsAndFollowsTheChoice) {
    OfflineAudioDeviceLayer menuLayer;
    auto three =
        std::make_shared<OfflineAudioDevice>(21, "Three", std::vector<uint32_t>{3}, kRate, kFrames, clock);
    auto none = std::make_shared<OfflineAudioDevice>(22, "Inputs Only", std::vector<uint32_t>{}, kRate,
                                                     kFrames, clock);
    menuLayer.addDevice(stereo);
    menuLayer.addDevice(none);
    menuLayer.addDevice(three);
    TLAudioController controller(defaults, menuLayer);
    controller.populateAudioOutputs();
    const auto& menu = controller.audioOutputMenu().items();
    EXPECT_EQ(titles(menu),
              (std::vector<std::string>{"(Default output, channels 1-2)", "Stereo Out", "Three"}));
    EXPECT_EQ(menu[2].tag, 21);
    EXPECT_EQ(titles(menu[2].submenu), (std::vector<std::string>{"stereo", "mono"}));
    EXPECT_EQ(titles(menu[2].submenu[0].submenu), (std::vector<std::string>{"Outputs 1-2"}));
    EXPECT_EQ(titles(menu[2].submenu[1].submenu),
              (std::vector<std::string>{"Output 1", "Output 2", "Output 3"}));
    EXPECT_EQ(menu[2].submenu[1].submenu[2].tag, 3);

    controller.setAudioOutput({2, 1, 2});  // Three, mono, output 3
    EXPECT_EQ(controller.outDevice(), three);
    EXPECT_EQ(controller.audioOutputMenu().title(), "Three, output 3");
    EXPECT_EQ(titles(menu),
              (std::vector<std::string>{"(Default output, channels 1-2)", "Stereo Out", "*Three"}));
    EXPECT_EQ(titles(menu[2].submenu), (std::vector<std::string>{"stereo", "*mono"}));
    EXPECT_EQ(titles(menu[2].submenu[1].submenu),
              (std::vector<std::string>{"Output 1", "Output 2", "*Output 3"}));
    EXPECT_EQ(defaults.integerForKey("TLAudioOutputChannel"), 2);

    controller.setAudioOutputWithUnspecifiedChannel({2, 0});  // Three, stereo: outputs 1-2
    EXPECT_EQ(controller.audioOutputMenu().title(), "Three, outputs 1-2");
    EXPECT_EQ(titles(menu[2].submenu[0].submenu), (std::vector<std::string>{"*Outputs 1-2"}));
    EXPECT_EQ(titles(menu[2].submenu[1].submenu),
              (std::vector<std::string>{"Output 1", "Output 2", "Output 3"}));

    controller.setAudioOutputWithUnspecifiedChannel({0});  // the default output
    EXPECT_EQ(controller.outDevice(), stereo);
    EXPECT_EQ(titles(menu),
              (std::vector<std::string>{"(Default output, channels 1-2)", "*Stereo Out", "Three"}));
    EXPECT_TRUE(defaults.boolForKey("TLAudioOutputStereo"));

    controller.setAudioOutput({5, 0, 0});  // leads nowhere: nothing changes
    EXPECT_EQ(controller.outDevice(), stereo);
    controller.stop();
}

}  // namespace
}  // namespace tollvane
