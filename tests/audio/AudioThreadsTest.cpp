#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "audio/TLAudioController.h"
#include "audio/offline/OfflineAudioDevice.h"
#include "platform/Log.h"
#include "platform/ManualHostClock.h"

namespace tollvane {
namespace {

// The device thread renders while the sync thread hands in clicks and the
// main thread triggers and removes: every value stays whole and the output
// stays bounded.
TEST(AudioThreads, CallbackTriggersAndSchedulingRunTogether) {
    Log::Sink previous = Log::setSink([](const std::string&) {});
    ManualHostClock clock(1'000'000'000'000);
    UserDefaults defaults("");
    auto device =
        std::make_shared<OfflineAudioDevice>(1, "Out", std::vector<uint32_t>{2}, 48000.0, 64, clock);
    OfflineAudioDeviceLayer layer;
    layer.addDevice(device);
    TLAudioController controller(defaults, layer);
    controller.startOnDevice(device, 0, true);

    std::atomic<bool> stop{false};
    std::thread audio([&] {
        for (int i = 0; i < 3000; ++i) {
            device->renderCycle();
            clock.advance(1'333'333);
        }
        stop.store(true, std::memory_order_release);
    });
    std::thread sync([&] {
        while (!stop.load(std::memory_order_acquire)) {
            controller.addClickAtHostTime(clock.now() + 2'000'000);
            std::this_thread::yield();
        }
    });
    while (!stop.load(std::memory_order_acquire)) {
        controller.triggerSingleBeep();
        controller.triggerSingleClick();
        controller.removeAllScheduledClicks();
        controller.logPendingWarnings();
        std::this_thread::yield();
    }
    audio.join();
    sync.join();
    controller.stop();
    Log::setSink(previous);

    for (int i = 0; i < TLAudioController::kSlotCount; ++i) {
        EXPECT_TRUE(std::isfinite(controller.clickSlot(i)));
        EXPECT_TRUE(std::isfinite(controller.beepSlot(i)));
    }
    for (float sample : device->recordedChannel(0)) ASSERT_LE(std::fabs(sample), 16.0f);
}

}  // namespace
}  // namespace tollvane
