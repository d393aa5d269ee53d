#pragma once

// The device layer under the audio controller: output devices with their
// names, identifiers and output channels, the stream format of a channel, and
// an I/O callback that each device calls once per output buffer with the host
// time ("now") of that buffer's cycle.
//
// Buffers are non-interleaved streams of interleaved 32-bit float frames: a
// device of two stereo streams hands over two buffers of two channels each.
//
// MTCoreAudioDeviceLayer lists the devices of one backend. Backends: the null
// layer (no device, for machines without sound) and the offline device (it
// renders into memory on a host clock that tests move).
//
// Threads: everything here on the main thread, except that the I/O callback
// runs on the device's own (real-time) thread between deviceStart() and
// deviceStop(). deviceStop() returns only once no callback is running.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tollvane {

struct AudioStreamBasicDescription {
    static constexpr uint32_t kFormatLinearPCM = 0x6c70636d;  // 'lpcm'
    static constexpr uint32_t kFlagIsFloat = 1u << 0;
    static constexpr uint32_t kFlagIsPacked = 1u << 3;
    static constexpr uint32_t kFlagIsNonInterleaved = 1u << 5;

    // 32-bit float linear PCM: `channels` interleaved in one buffer, or one
    // channel per buffer when `nonInterleaved`.
    static AudioStreamBasicDescription linearFloat(double sampleRate, uint32_t channels,
                                                   bool nonInterleaved) {
        AudioStreamBasicDescription format;
        format.mSampleRate = sampleRate;
        format.mFormatID = kFormatLinearPCM;
        format.mFormatFlags = kFlagIsFloat | kFlagIsPacked | (nonInterleaved ? kFlagIsNonInterleaved : 0u);
        format.mBytesPerFrame = (nonInterleaved ? 1u : channels) * static_cast<uint32_t>(sizeof(float));
        format.mFramesPerPacket = 1;
        format.mBytesPerPacket = format.mBytesPerFrame;
        format.mChannelsPerFrame = channels;
        format.mBitsPerChannel = 32;
        return format;
    }

    double mSampleRate = 0.0;
    uint32_t mFormatID = 0;
    uint32_t mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    uint32_t mReserved = 0;
};

// One stream's buffer: `numberChannels` interleaved float channels, filling
// `dataByteSize` bytes.
struct AudioBuffer {
    uint32_t numberChannels = 0;
    uint32_t dataByteSize = 0;
    float* data = nullptr;
};

enum class MTCoreAudioDirection { kInput, kOutput };

class MTCoreAudioDevice {
public:
    // Real-time: no lock, no allocation. Answers 0 for success.
    using IOProc = int (*)(std::span<AudioBuffer> outputs, uint32_t frames, uint64_t now, void* clientData);

    virtual ~MTCoreAudioDevice() = default;

    virtual uint32_t deviceID() const = 0;
    // None when the device does not exist (any more).
    virtual std::optional<std::string> deviceName() const = 0;
    virtual uint32_t channelsForDirection(MTCoreAudioDirection direction) const = 0;
    // The format of the stream that carries `channel` (from 0 across all
    // streams); all zeros when no stream carries it.
    virtual AudioStreamBasicDescription streamDescriptionForChannel(uint32_t channel,
                                                                    MTCoreAudioDirection direction) const = 0;

    virtual void setIOProc(IOProc proc, void* clientData) = 0;
    virtual void removeIOProc() = 0;
    virtual bool deviceStart() = 0;
    virtual void deviceStop() = 0;
};

class MTCoreAudioDeviceLayer {
public:
    virtual ~MTCoreAudioDeviceLayer() = default;

    virtual std::vector<std::shared_ptr<MTCoreAudioDevice>> allDevices() = 0;
    // None when the machine has no output.
    virtual std::shared_ptr<MTCoreAudioDevice> defaultOutputDevice() = 0;
    // None for an unknown identifier.
    virtual std::shared_ptr<MTCoreAudioDevice> deviceWithID(uint32_t deviceID);

    // The installed layer; the null layer until one is installed.
    static MTCoreAudioDeviceLayer& shared();
    // Installs a layer (nullptr restores the null one) and returns the one
    // before. The caller keeps it alive while installed; start-up and test
    // set-up only.
    static MTCoreAudioDeviceLayer* setShared(MTCoreAudioDeviceLayer* layer);
};

}  // namespace tollvane
