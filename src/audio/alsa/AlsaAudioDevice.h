#pragma once

// One ALSA output (a card's PCM device, or "default") through RtAudio. The
// stream is opened when output starts, with every output channel (at most
// kMaxChannels) as 32-bit floats, non-interleaved, so the callback gets one
// buffer per channel, as from the JACK device.
//
// Identifiers. RtAudio numbers devices by their place in its listing, which
// changes when a card comes or goes; the identifier is a hash of the device's
// name, kept to 31 bits and never 0 (0 means "the default output" in the
// defaults, and the menu's tags are signed). The layer keeps them distinct.
//
// "Now" for a buffer comes from the stream's frame count, tied to the host
// clock when output starts and held to it by AlsaStreamClock, so a click's
// placement does not follow the audio thread's wake-up jitter, nor drift with
// the card's crystal.
//
// Threads: everything on the main thread, except that the I/O callback runs
// on RtAudio's thread between deviceStart() and deviceStop(). Install or
// remove the callback only while stopped. That thread takes no lock,
// allocates nothing and does no I/O; RtAudio's warnings raised on it are
// counted and logged from the main thread when output stops.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/MTCoreAudioDevice.h"
#include "audio/alsa/AlsaStreamClock.h"

class RtAudio;

namespace tollvane {

class AlsaAudioDevice final : public MTCoreAudioDevice {
public:
    static constexpr uint32_t kMaxChannels = 32;
    static constexpr unsigned kRequestedBufferFrames = 256;
    // Asked of RtAudio for its thread; below a JACK server's usual 70+.
    static constexpr int kRealtimePriority = 60;

    // What the listing says of a device.
    struct Listing {
        std::string name;
        uint32_t outputChannels = 0;
        // The rate the stream will ask for.
        double sampleRate = 0.0;
        bool isDefaultOutput = false;
    };

    AlsaAudioDevice(uint32_t deviceID, Listing listing);
    ~AlsaAudioDevice() override;
    AlsaAudioDevice(const AlsaAudioDevice&) = delete;
    AlsaAudioDevice& operator=(const AlsaAudioDevice&) = delete;

    // Stable across launches; 31 bits, never 0.
    static uint32_t deviceIDForName(const std::string& name);
    // The identifiers of a listing, in its order: distinct from each other
    // and from `reserved`.
    static std::vector<uint32_t> deviceIDsForNames(const std::vector<std::string>& names,
                                                   const std::vector<uint32_t>& reserved = {});
    // The rate to ask for: the device's preferred one, else 48 kHz, else
    // 44.1 kHz, else the highest it offers (48 kHz when it offers none).
    static double chooseSampleRate(const std::vector<unsigned>& rates, unsigned preferred);

    uint32_t deviceID() const override { return deviceID_; }
    // None when the last listing did not have it.
    std::optional<std::string> deviceName() const override;
    uint32_t channelsForDirection(MTCoreAudioDirection direction) const override;
    AudioStreamBasicDescription streamDescriptionForChannel(uint32_t channel,
                                                            MTCoreAudioDirection direction) const override;
    void setIOProc(IOProc proc, void* clientData) override;
    void removeIOProc() override;
    bool deviceStart() override;
    void deviceStop() override;

    const std::string& name() const { return listing_.name; }
    bool isRunning() const { return running_; }
    // The running stream's rate, else the rate it would ask for.
    double sampleRate() const;
    // 0 while stopped.
    uint32_t bufferFrames() const { return running_ ? bufferFrames_ : 0; }
    // The stream's output latency in frames as RtAudio reports it; 0 while stopped.
    long outputLatencyFrames() const;

    // The layer's view after a listing: present with these figures, or gone.
    void update(const Listing& listing);
    void markGone() { present_ = false; }
    bool isDefaultOutput() const { return present_ && listing_.isDefaultOutput; }

private:
    static int callback(void* output, void* input, unsigned frames, double streamTime, unsigned status,
                        void* userData);
    void closeStream();

    const uint32_t deviceID_;
    Listing listing_;
    bool present_ = true;

    std::unique_ptr<RtAudio> audio_;
    bool running_ = false;
    double streamRate_ = 0.0;
    uint32_t bufferFrames_ = 0;
    uint32_t streamChannels_ = 0;
    // Sized before the stream starts; the callback only fills in pointers and sizes.
    std::vector<AudioBuffer> buffers_;
    AlsaStreamClock clock_;
    std::atomic<IOProc> proc_{nullptr};
    std::atomic<void*> clientData_{nullptr};
    std::atomic<uint64_t> underruns_{0};
};

}  // namespace tollvane
