#include "audio/offline/OfflineAudioDevice.h"

#include <algorithm>
#include <numeric>

namespace tollvane {

OfflineAudioDevice::OfflineAudioDevice(uint32_t deviceID, std::string name,
                                       std::vector<uint32_t> streamChannels, double sampleRate,
                                       uint32_t bufferFrames, const HostClock& clock)
    : deviceID_(deviceID),
      name_(std::move(name)),
      streamChannels_(std::move(streamChannels)),
      sampleRate_(sampleRate),
      bufferFrames_(bufferFrames),
      clock_(clock) {
    for (uint32_t channels : streamChannels_) {
        cycleBuffers_.emplace_back(static_cast<size_t>(channels) * bufferFrames_, 0.0f);
    }
    for (size_t i = 0; i < streamChannels_.size(); ++i) {
        buffers_.push_back(AudioBuffer{streamChannels_[i],
                                       static_cast<uint32_t>(cycleBuffers_[i].size() * sizeof(float)),
                                       cycleBuffers_[i].data()});
    }
    recorded_.resize(streamChannels_.size());
}

uint32_t OfflineAudioDevice::channelsForDirection(MTCoreAudioDirection direction) const {
    if (direction != MTCoreAudioDirection::kOutput) return 0;
    return std::accumulate(streamChannels_.begin(), streamChannels_.end(), 0u);
}

AudioStreamBasicDescription OfflineAudioDevice::streamDescriptionForChannel(
    uint32_t channel, MTCoreAudioDirection direction) const {
    if (direction != MTCoreAudioDirection::kOutput) return {};
    for (uint32_t channels : streamChannels_) {
        if (channel < channels) {
            return AudioStreamBasicDescription::linearFloat(sampleRate_, channels, false);
        }
        channel -= channels;
    }
    return {};
}

void OfflineAudioDevice::setIOProc(IOProc proc, void* clientData) {
    proc_ = proc;
    clientData_ = clientData;
}

void OfflineAudioDevice::removeIOProc() {
    proc_ = nullptr;
    clientData_ = nullptr;
}

bool OfflineAudioDevice::deviceStart() {
    if (failsToStart_) return false;
    running_ = true;
    return true;
}

void OfflineAudioDevice::deviceStop() {
    running_ = false;
}

int OfflineAudioDevice::renderCycle() {
    if (!running_ || !proc_) return 0;
    // The callback is told to silence its buffers; garbage makes a callback
    // that forgets show up in the recording.
    for (auto& buffer : cycleBuffers_) std::fill(buffer.begin(), buffer.end(), 1.0f);
    const uint64_t now = clock_.now();
    cycleTimes_.push_back(now);
    const int status = proc_(buffers_, bufferFrames_, now, clientData_);
    for (size_t i = 0; i < cycleBuffers_.size(); ++i) {
        recorded_[i].insert(recorded_[i].end(), cycleBuffers_[i].begin(), cycleBuffers_[i].end());
    }
    return status;
}

std::vector<float> OfflineAudioDevice::recordedChannel(uint32_t channel) const {
    for (size_t stream = 0; stream < streamChannels_.size(); ++stream) {
        const uint32_t channels = streamChannels_[stream];
        if (channel < channels) {
            std::vector<float> samples;
            samples.reserve(recorded_[stream].size() / channels);
            for (size_t i = channel; i < recorded_[stream].size(); i += channels) {
                samples.push_back(recorded_[stream][i]);
            }
            return samples;
        }
        channel -= channels;
    }
    return {};
}

void OfflineAudioDevice::clearRecording() {
    for (auto& samples : recorded_) samples.clear();
    cycleTimes_.clear();
}

}  // namespace tollvane
