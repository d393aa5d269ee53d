#pragma once

// An output device that renders into memory. Each renderCycle() hands the
// callback one buffer per stream, with "now" read once from the host clock
// the device was made with, and keeps what the callback wrote; tests move a
// ManualHostClock between cycles and check the output sample by sample.
//
// Threads: one thread drives it (the test's, or an export's).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/MTCoreAudioDevice.h"
#include "platform/HostClock.h"

namespace tollvane {

class OfflineAudioDevice final : public MTCoreAudioDevice {
public:
    // `streamChannels`: the channel count of each output stream, in order.
    OfflineAudioDevice(uint32_t deviceID, std::string name, std::vector<uint32_t> streamChannels,
                       double sampleRate, uint32_t bufferFrames, const HostClock& clock);

    uint32_t deviceID() const override { return deviceID_; }
    std::optional<std::string> deviceName() const override { return name_; }
    uint32_t channelsForDirection(MTCoreAudioDirection direction) const override;
    AudioStreamBasicDescription streamDescriptionForChannel(uint32_t channel,
                                                            MTCoreAudioDirection direction) const override;
    void setIOProc(IOProc proc, void* clientData) override;
    void removeIOProc() override;
    bool deviceStart() override;
    void deviceStop() override;

    // Makes deviceStart() fail, as a device that has gone away would.
    void setFailsToStart(bool fails) { failsToStart_ = fails; }
    bool isRunning() const { return running_; }

    // One buffer through the callback at the clock's time; answers the
    // callback's status (0 when stopped or without a callback: nothing is
    // rendered then).
    int renderCycle();
    uint32_t bufferFrames() const { return bufferFrames_; }
    double sampleRate() const { return sampleRate_; }

    // Everything rendered so far on an output channel (from 0 across
    // streams), one float per frame.
    std::vector<float> recordedChannel(uint32_t channel) const;
    // The "now" handed to each rendered cycle.
    const std::vector<uint64_t>& cycleTimes() const { return cycleTimes_; }
    void clearRecording();

private:
    const uint32_t deviceID_;
    const std::string name_;
    const std::vector<uint32_t> streamChannels_;
    const double sampleRate_;
    const uint32_t bufferFrames_;
    const HostClock& clock_;
    IOProc proc_ = nullptr;
    void* clientData_ = nullptr;
    bool running_ = false;
    bool failsToStart_ = false;
    std::vector<std::vector<float>> cycleBuffers_;
    std::vector<AudioBuffer> buffers_;
    std::vector<std::vector<float>> recorded_;
    std::vector<uint64_t> cycleTimes_;
};

// A layer listing offline devices; the first is the default output.
class OfflineAudioDeviceLayer final : public MTCoreAudioDeviceLayer {
public:
    void addDevice(std::shared_ptr<MTCoreAudioDevice> device) { devices_.push_back(std::move(device)); }
    std::vector<std::shared_ptr<MTCoreAudioDevice>> allDevices() override { return devices_; }
    std::shared_ptr<MTCoreAudioDevice> defaultOutputDevice() override {
        return devices_.empty() ? nullptr : devices_.front();
    }

private:
    std::vector<std::shared_ptr<MTCoreAudioDevice>> devices_;
};

}  // namespace tollvane
