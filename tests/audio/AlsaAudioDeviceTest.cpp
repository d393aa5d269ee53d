#include "audio/alsa/AlsaAudioDevice.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "audio/alsa/AlsaAudioDeviceLayer.h"
#include "audio/alsa/AlsaStreamClock.h"
#include "audio/jack/AudioDeviceLayerFactory.h"
#include "platform/Log.h"
#include "support/LogCapture.h"

namespace tollvane {
namespace {

AlsaAudioDevice::Listing listing(std::string name, uint32_t channels, bool isDefault = false) {
    return {std::move(name), channels, 48000.0, isDefault};
}

TEST(AlsaAudioDeviceTest, IdentifiersAreStablePositiveAndDistinct) {
    // FNV-1a of "default", kept to 31 bits: the same on every build and launch.
    EXPECT_EQ(AlsaAudioDevice::deviceIDForName("default"), 0x933b5bdeu & 0x7fffffffu);
    const std::vector<std::string> names = {"default", "hw:PCH,0", "hw:PCH,3", "hw:USB,0", "hw:USB,0", ""};
    const uint32_t reserved = AlsaAudioDevice::deviceIDForName("hw:PCH,3");
    const std::vector<uint32_t> ids = AlsaAudioDevice::deviceIDsForNames(names, {reserved});
    ASSERT_EQ(ids.size(), names.size());
    EXPECT_EQ(std::set<uint32_t>(ids.begin(), ids.end()).size(), ids.size());
    for (uint32_t id : ids) {
        EXPECT_NE(id, 0u);
        EXPECT_NE(id, reserved);
        EXPECT_LE(id, 0x7fffffffu);
    }
    EXPECT_EQ(ids[0], AlsaAudioDevice::deviceIDForName("default"));
    EXPECT_EQ(ids, AlsaAudioDevice::deviceIDsForNames(names, {reserved}));
}

TEST(AlsaAudioDeviceTest, SampleRateIsPreferredElseCommonElseHighest) {
    struct Case {
        std::vector<unsigned> rates;
        unsigned preferred;
        double chosen;
    };
    const Case cases[] = {
        {{44100, 48000, 96000}, 96000, 96000.0},
        {{44100, 48000, 96000}, 0, 48000.0},
        {{22050, 44100}, 0, 44100.0},
        {{8000, 16000}, 0, 16000.0},
        {{44100, 48000}, 32000, 48000.0},
        {{}, 0, 48000.0},
        {{}, 44100, 44100.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AlsaAudioDevice::chooseSampleRate(c.rates, c.preferred), c.chosen) << c.preferred;
    }
}

TEST(AlsaAudioDeviceLayerTest, DevicesKeepTheirObjectsAndIdentifiersAcrossListings) {
    AlsaAudioDeviceLayer layer;
    layer.apply({listing("default", 2, true), listing("hw:PCH,0", 64), listing("hw:Busy,0", 0)});
    ASSERT_EQ(layer.devices().size(), 2u);  // the unprobed one is left out
    const std::shared_ptr<AlsaAudioDevice> standard = layer.devices()[0];
    const std::shared_ptr<AlsaAudioDevice> card = layer.devices()[1];
    EXPECT_TRUE(standard->isDefaultOutput());
    EXPECT_EQ(card->channelsForDirection(MTCoreAudioDirection::kOutput), AlsaAudioDevice::kMaxChannels);
    EXPECT_EQ(card->channelsForDirection(MTCoreAudioDirection::kInput), 0u);

    layer.apply({listing("hw:USB,0", 4), listing("default", 2, true)});
    EXPECT_FALSE(card->deviceName().has_value());
    EXPECT_EQ(standard->deviceName(), "default");
    ASSERT_EQ(layer.devices().size(), 2u);
    EXPECT_EQ(layer.devices()[1], standard);

    layer.apply({listing("hw:PCH,0", 8), listing("default", 2, true)});
    EXPECT_EQ(layer.devices()[0], card);
    EXPECT_EQ(card->deviceName(), "hw:PCH,0");
    EXPECT_EQ(card->channelsForDirection(MTCoreAudioDirection::kOutput), 8u);
    EXPECT_NE(card->deviceID(), standard->deviceID());
}

TEST(AlsaAudioDeviceLayerTest, DefaultOutputIsAlsasDefaultElseRtAudiosChoice) {
    struct Case {
        std::vector<AlsaAudioDevice::Listing> listings;
        size_t rtAudioDefault;
        std::string expected;  // "" for none
    };
    const Case cases[] = {
        {{listing("hw:PCH,0", 2), listing("hw:USB,0", 2), listing("default", 2)}, 0, "default"},
        {{listing("hw:PCH,0", 2), listing("hw:USB,0", 2), listing("default", 0)}, 1, "hw:USB,0"},
        {{listing("hw:PCH,0", 2, true), listing("hw:USB,0", 2)}, 1, "hw:USB,0"},
        {{listing("hw:PCH,0", 2, true)}, 5, ""},
        {{}, 0, ""},
    };
    for (Case c : cases) {
        AlsaAudioDeviceLayer::markDefaultOutput(c.listings, c.rtAudioDefault);
        std::string marked;
        for (const auto& l : c.listings) {
            if (l.isDefaultOutput) marked += (marked.empty() ? "" : ",") + l.name;
        }
        EXPECT_EQ(marked, c.expected) << c.rtAudioDefault;
    }
}

TEST(AlsaAudioDeviceLayerTest, StreamFormatIsOneFloatChannelPerBuffer) {
    AlsaAudioDevice device(7, {"hw:PCH,0", 2, 44100.0, false});
    const AudioStreamBasicDescription format =
        device.streamDescriptionForChannel(1, MTCoreAudioDirection::kOutput);
    EXPECT_EQ(format.mSampleRate, 44100.0);
    EXPECT_EQ(format.mFormatID, 0x6c70636du);
    EXPECT_EQ(format.mChannelsPerFrame, 1u);
    EXPECT_EQ(format.mBytesPerFrame, 4u);
    EXPECT_EQ(format.mBitsPerChannel, 32u);
    EXPECT_EQ(device.streamDescriptionForChannel(2, MTCoreAudioDirection::kOutput).mSampleRate, 0.0);
    EXPECT_EQ(device.streamDescriptionForChannel(0, MTCoreAudioDirection::kInput).mSampleRate, 0.0);
}

TEST(AlsaAudioDeviceLayerTest, StartingADeviceThatIsNotThereFailsCleanly) {
    AlsaAudioDevice device(7, {"hw:Tollvane-absent,0", 2, 48000.0, false});
    LogCapture capture;
    EXPECT_FALSE(device.deviceStart());
    device.deviceStop();
    capture.stop();
    EXPECT_FALSE(device.isRunning());
    EXPECT_FALSE(device.deviceName().has_value());
    EXPECT_TRUE(capture.logged("is no longer there")) << ::testing::PrintToString(capture.lines());
    EXPECT_EQ(capture.standardError(), "");
}

TEST(AlsaAudioDeviceLayerTest, FactoryFallsBackAndHonoursForcedNames) {
    const std::string absentJack = "tollvane-absent-" + std::to_string(getpid());
    LogCapture probe;
    const bool alsaHere =
        !AlsaAudioDeviceLayer::listOutputs().empty() && AlsaAudioDeviceLayer::open() != nullptr;
    probe.stop();
    EXPECT_EQ(probe.standardError(), "") << "the ALSA library printed while listing";
    using Backend = AudioDeviceLayerFactory::Backend;
    struct Case {
        std::string name;
        Backend backend;
        std::string logged;  // "" for nothing
    };
    const Case cases[] = {
        {"", alsaHere ? Backend::kAlsa : Backend::kNull, ""},
        {"null", Backend::kNull, ""},
        {"jack", Backend::kNull, "audio output over JACK is not available"},
        {"alsa", alsaHere ? Backend::kAlsa : Backend::kNull,
         alsaHere ? "" : "audio output over ALSA is not available"},
        {"oss", Backend::kNull, "Unknown audio system \"oss\" (use jack, alsa or null)"},
    };
    for (const Case& c : cases) {
        LogCapture capture;
        Backend chosen = Backend::kJack;
        const auto layer = AudioDeviceLayerFactory::makeNamed(c.name, absentJack, &chosen);
        capture.stop();
        ASSERT_NE(layer, nullptr);
        EXPECT_EQ(AudioDeviceLayerFactory::backendName(chosen),
                  AudioDeviceLayerFactory::backendName(c.backend))
            << "'" << c.name << "'";
        if (c.logged.empty()) {
            EXPECT_TRUE(capture.lines().empty())
                << c.name << ": " << ::testing::PrintToString(capture.lines());
        } else {
            EXPECT_TRUE(capture.logged(c.logged))
                << c.name << ": " << ::testing::PrintToString(capture.lines());
        }
        EXPECT_EQ(capture.standardError(), "") << c.name;
        if (chosen == Backend::kNull) {
            EXPECT_TRUE(dynamic_cast<AlsaAudioDeviceLayer*>(layer.get()) == nullptr);
        }
    }
    Backend chosen = Backend::kJack;
    AudioDeviceLayerFactory::make(absentJack, &chosen);
    EXPECT_EQ(chosen, alsaHere ? Backend::kAlsa : Backend::kNull);
}

// The loop's figures on a device whose crystal runs 80 ppm fast and whose
// callbacks wake up to a millisecond late. Counting frames alone would be
// 1.2 ms out after the fifteen seconds checked; reading the clock alone would
// step by up to a millisecond.
TEST(AlsaStreamClockTest, FollowsTheCardsRateAndSmoothsWakeUpJitter) {
    constexpr double kRate = 48000.0;
    constexpr uint32_t kFrames = 256;
    const double truePeriod = kFrames / (kRate * 1.00008);
    const uint64_t start = 5'000'000'000'000u;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> lateness(0.0, 0.001);

    AlsaStreamClock clock(kRate);
    double worstAfterSettling = 0.0;
    double worstStep = 0.0;
    uint64_t previous = 0;
    const int cycles = 20 * 188;  // twenty seconds
    for (int i = 0; i < cycles; ++i) {
        const double ideal = i * truePeriod;
        const auto reading = start + static_cast<uint64_t>((ideal + lateness(random)) * 1e9);
        const uint64_t now = clock.cycle(reading, kFrames);
        if (i > 5 * 188) {
            // The loop settles on the mean lateness; what matters is that it stays put.
            const double error =
                static_cast<double>(static_cast<int64_t>(now - start)) * 1e-9 - ideal - 0.0005;
            worstAfterSettling = std::max(worstAfterSettling, std::fabs(error));
            worstStep =
                std::max(worstStep, std::fabs(static_cast<double>(now - previous) * 1e-9 - truePeriod));
        }
        previous = now;
    }
    EXPECT_LT(worstAfterSettling, 0.0003);
    EXPECT_LT(worstStep, 0.00005);
}

TEST(AlsaStreamClockTest, AStallStartsTheLoopAgainFromTheReading) {
    AlsaStreamClock clock(48000.0);
    uint64_t reading = 1'000'000'000;
    for (int i = 0; i < 100; ++i, reading += 5'333'333) clock.cycle(reading, 256);
    reading += 200'000'000;
    EXPECT_EQ(clock.cycle(reading, 256), reading);
    EXPECT_EQ(clock.cycle(reading + 5'333'333, 256), reading + 5'333'333);
}

// Needs a sound card or the "default" PCM: not there in containers without /dev/snd.
TEST(AlsaAudioDeviceLayerTest, ADefaultOutputPlaysBuffersWithRisingHostTimes) {
    auto layer = AlsaAudioDeviceLayer::open();
    if (!layer) GTEST_SKIP() << "no ALSA output device here";
    auto device = std::dynamic_pointer_cast<AlsaAudioDevice>(layer->defaultOutputDevice());
    ASSERT_NE(device, nullptr);
    struct Seen {
        std::mutex mutex;
        std::condition_variable changed;
        int buffers = 0;
        bool rising = true;
        uint64_t last = 0;
    } seen;
    const MTCoreAudioDevice::IOProc proc = [](std::span<AudioBuffer>, uint32_t, uint64_t now, void* data) {
        auto* s = static_cast<Seen*>(data);
        std::lock_guard lock(s->mutex);
        s->rising = s->rising && now > s->last;
        s->last = now;
        ++s->buffers;
        s->changed.notify_all();
        return 0;
    };
    device->setIOProc(proc, &seen);
    ASSERT_TRUE(device->deviceStart());
    {
        std::unique_lock lock(seen.mutex);
        seen.changed.wait_for(lock, std::chrono::seconds(5), [&] { return seen.buffers >= 20; });
    }
    EXPECT_GT(device->bufferFrames(), 0u);
    device->deviceStop();
    device->removeIOProc();
    EXPECT_GE(seen.buffers, 20);
    EXPECT_TRUE(seen.rising);
}

}  // namespace
}  // namespace tollvane
