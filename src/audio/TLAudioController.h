#pragma once

// Every sound the program plays live: the metronome click and the warning
// beeps, synthesised in the output device's I/O callback from eight click
// slots and eight beep slots. A slot holds the seconds since its sound
// started: negative while it waits, past the sound's length when free.
// Clicks handed in for a host time wait in eight pending entries until the
// callback of the buffer they start in places them in click slots, so that
// each starts at the sample expected to sound at that time.
//
// Levels come from the user defaults "warningBeepLevel", "clickLevel" (a
// level L from 0 to 1, stored as the amplitude L squared) and
// "warningBeepPitch" (hertz), and follow them while the controller lives.
//
// Threads:
// - render() and ioProc(): the device's real-time thread; no lock, no
//   allocation, no I/O. The one warning it has (too many scheduled clicks)
//   sets a flag that logPendingWarnings() reports on the main thread.
// - addClickAtHostTime(): the sync thread; real-time safe.
// - removeAllScheduledClicks() and the triggers: any thread; real-time safe
//   except that a full beep table logs.
// - level setters and getters: any thread (single atomic words).
// - start, stop, createClickSampleAtSampleRate() and the output choice:
//   the main thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/AudioOutputMenu.h"
#include "audio/MTCoreAudioDevice.h"
#include "platform/Timer.h"
#include "platform/UserDefaults.h"
#include "playback/ClickScheduler.h"

namespace tollvane {

class TLAudioController final : public ClickScheduler {
public:
    static constexpr int kSlotCount = 8;
    static constexpr double kBeepLength = 0.03333;
    static constexpr double kClickLength = 0.015;
    static constexpr double kFreeBeep = 0.06666;
    static constexpr double kFreeClick = 0.03;
    static constexpr int kStatusOK = 0;
    static constexpr int kStatusChannelNotFound = -1;

    // Binds the levels to `defaults` and lists devices from `layer`; both
    // outlive the controller.
    explicit TLAudioController(UserDefaults& defaults = UserDefaults::standardUserDefaults(),
                               MTCoreAudioDeviceLayer& layer = MTCoreAudioDeviceLayer::shared());
    ~TLAudioController() override;
    TLAudioController(const TLAudioController&) = delete;
    TLAudioController& operator=(const TLAudioController&) = delete;

    // --- Output (main thread) ---------------------------------------------------
    void startFromDefaults();
    void startOnDevice(std::shared_ptr<MTCoreAudioDevice> device, int channel, bool stereo);
    void startOnCurrentDevice();
    void stop();
    // Rebuilds the output menu from the device layer.
    void populateAudioOutputs();
    // The output menu's choices, given as the chosen item's path: a device
    // (or the default output) on its first pair, a device's "stereo" or
    // "mono" from channel 1, or one pair or channel. A path that chooses
    // nothing is ignored.
    void setAudioOutputWithUnspecifiedChannel(const MenuItemPath& item);
    void setAudioOutput(const MenuItemPath& item);
    // Checks the current output in the menu, titles the pop-up with
    // audioOutputDescription() and stores the output under
    // "TLAudioOutputDevice", "TLAudioOutputChannel" and "TLAudioOutputStereo".
    void resetAudioPopupSelection();
    const AudioOutputMenu& audioOutputMenu() const { return audioOutputMenu_; }
    std::string audioOutputDescription() const;
    AudioStreamBasicDescription deviceDescription() const { return deviceDescription_; }
    std::shared_ptr<MTCoreAudioDevice> outDevice() const { return outDevice_; }
    int outChannel() const { return outChannel_; }
    bool outStereo() const { return outStereo_; }

    // --- Scheduling and triggering -----------------------------------------------
    void addClickAtHostTime(uint64_t hostTime) override;
    void removeAllScheduledClicks() override;
    void triggerSingleClick();
    void triggerSingleBeep();
    void triggerBeepsWithTotalTime(double totalTime, int count);
    void triggerADRBeepsWithSpacing(double spacing);

    // One click at the current click level, advancing the shared noise
    // phase; `length` (when given) receives the sample count.
    std::vector<float> createClickSampleAtSampleRate(double sampleRate, uint64_t* length = nullptr);

    // --- Levels -------------------------------------------------------------------
    float warningBeepVolume() const { return warningBeepVolume_.load(std::memory_order_relaxed); }
    void setWarningBeepVolume(float level);  // stores level squared
    float warningBeepPitch() const { return warningBeepPitch_.load(std::memory_order_relaxed); }
    void setWarningBeepPitch(float pitch);
    float clickVolume() const { return clickVolume_.load(std::memory_order_relaxed); }
    void setClickVolume(float level);  // stores level squared

    // --- The callback ---------------------------------------------------------------
    // The I/O callback's work for one cycle: silence every buffer, find the
    // output channel, place the pending clicks that start in this buffer (the
    // buffer sounds `allowance` seconds after `now`), synthesise `frames`
    // frames.
    int render(std::span<AudioBuffer> buffers, uint32_t frames, double sampleRate, uint64_t now,
               double allowance);
    // The callback installed on the device: render() with the device's sample
    // rate and the output allowance of the buffer holding the channel.
    static int ioProc(std::span<AudioBuffer> outputs, uint32_t frames, uint64_t now, void* clientData);
    // The time from handing a buffer over to hearing it, reckoned from the
    // float count of the buffer holding the output channel.
    static double outputAllowance(uint32_t floatCount) { return 2.0 * floatCount / 44100.0; }

    // Main thread: logs the warning the callback raised since the last call.
    void logPendingWarnings();

    // --- Waveforms --------------------------------------------------------------------
    static float beepSample(double t, float volume, float pitch);
    // Advances `noisePhase` when the sample is not silent.
    static float clickSample(double t, float volume, double& noisePhase);
    // The phase shared by every click; tests set it to replay a waveform.
    static double noisePhase();
    static void setNoisePhase(double phase);

    // For tests and diagnostics.
    double beepSlot(int index) const { return beeps_[index].load(std::memory_order_relaxed); }
    double clickSlot(int index) const { return clicks_[index].load(std::memory_order_relaxed); }
    uint64_t pendingClick(int index) const { return clicksToAdd_[index].load(std::memory_order_relaxed); }

private:
    static bool claimSlot(std::atomic<double>& slot, double freeFrom, double value);
    int claimFreeBeepSlot(double value);
    void bindLevels();
    void chooseAudioOutput(const MenuItemPath& item);

    UserDefaults& defaults_;
    MTCoreAudioDeviceLayer& layer_;
    std::shared_ptr<MTCoreAudioDevice> outDevice_;
    int outChannel_ = 0;
    bool outStereo_ = true;
    AudioStreamBasicDescription deviceDescription_;
    AudioOutputMenu audioOutputMenu_;
    std::atomic<double> sampleRate_{0.0};

    std::atomic<float> warningBeepVolume_{0.0f};
    std::atomic<float> warningBeepPitch_{1000.0f};
    std::atomic<float> clickVolume_{0.0f};
    std::array<std::atomic<double>, kSlotCount> beeps_;
    std::array<std::atomic<double>, kSlotCount> clicks_;
    std::array<std::atomic<uint64_t>, kSlotCount> clicksToAdd_;

    std::atomic<bool> clickOverflow_{false};
    std::shared_ptr<Timer> warningTimer_;
    std::vector<UserDefaults::ObserverToken> observers_;
};

}  // namespace tollvane
