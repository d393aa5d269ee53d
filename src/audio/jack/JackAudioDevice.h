#pragma once

// The JACK server as one output device. One client with an output port per
// playback port of the server ("out_1", "out_2", ...), each connected to its
// playback port when output starts. Every port is a stream of one channel,
// so the callback gets one buffer per channel.
//
// "Now" for a cycle is the cycle's start as the server reports it
// (jack_get_cycle_times), not a clock read in the callback, so a click's
// placement depends only on its host time and never on when the process
// thread happened to wake.
//
// JACK keeps its own microsecond clock, which need not be CLOCK_MONOTONIC
// (jackd2 here runs on a clock a quarter of a second apart from it, and the
// two drift apart as NTP slews the monotonic one). The offset between them is
// measured when the client opens and again every second while output runs,
// on a thread of the device's own; the process thread only reads it.
//
// Threads: everything on the main thread, except that the I/O callback runs
// on JACK's process thread between deviceStart() and deviceStop(). Install
// or remove the callback only while stopped. The process thread takes no
// lock, allocates nothing and does no I/O.

#include <jack/jack.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/MTCoreAudioDevice.h"

namespace tollvane {

class JackAudioDevice final : public MTCoreAudioDevice {
public:
    static constexpr uint32_t kDeviceID = 1;

    // Connects to the named server (empty: the default one, or the one named
    // by JACK_DEFAULT_SERVER) without starting one; none when no server runs.
    static std::shared_ptr<JackAudioDevice> open(const std::string& serverName = "",
                                                 const std::string& clientName = "Tollvane");
    ~JackAudioDevice() override;
    JackAudioDevice(const JackAudioDevice&) = delete;
    JackAudioDevice& operator=(const JackAudioDevice&) = delete;

    uint32_t deviceID() const override { return kDeviceID; }
    // None once the server has gone away.
    std::optional<std::string> deviceName() const override;
    uint32_t channelsForDirection(MTCoreAudioDirection direction) const override;
    AudioStreamBasicDescription streamDescriptionForChannel(uint32_t channel,
                                                            MTCoreAudioDirection direction) const override;
    void setIOProc(IOProc proc, void* clientData) override;
    void removeIOProc() override;
    bool deviceStart() override;
    void deviceStop() override;

    bool isRunning() const { return running_; }
    double sampleRate() const;
    uint32_t bufferFrames() const;
    // The server's latency from a playback port to the listener, in frames,
    // as JACK reports it for the port behind `channel`.
    struct LatencyRange {
        uint32_t min = 0;
        uint32_t max = 0;
    };
    LatencyRange outputLatency(uint32_t channel = 0) const;
    // Our output ports' full names, in channel order.
    std::vector<std::string> outputPortNames() const;
    const std::string& serverName() const { return serverName_; }

    // What to add to a JACK time (converted to nanoseconds) to get host time.
    // Any thread; real-time safe.
    int64_t clockOffset() const { return clockOffset_.load(std::memory_order_relaxed); }
    // JACK microseconds to host nanoseconds. Any thread; real-time safe.
    uint64_t hostTimeForJackTime(jack_time_t usecs) const {
        return static_cast<uint64_t>(static_cast<int64_t>(usecs) * 1000 + clockOffset());
    }
    // Measures the offset again now.
    void refreshClockOffset();
    // The offset to use for a measured difference between the host clock and
    // JACK's: none when they are within measuring noise of each other (the
    // same clock), the measurement otherwise.
    static int64_t chooseClockOffset(int64_t measured);
    // The offset to keep when `candidate` is measured while `current` is in
    // use: readings scatter by a few microseconds, and following each one
    // would move clicks back and forth by a frame, so only a move beyond
    // that scatter (real drift between the clocks) is taken up.
    static int64_t settledClockOffset(int64_t current, int64_t candidate);

private:
    JackAudioDevice(jack_client_t* client, std::string serverName);
    bool registerPorts();
    int64_t measureClockOffset() const;
    static int process(jack_nframes_t frames, void* arg);
    static void shutdown(void* arg);

    jack_client_t* client_;
    const std::string serverName_;
    std::vector<std::string> playbackPorts_;
    std::vector<jack_port_t*> ports_;
    // One per port, sized before the client runs; the process thread only
    // fills in the pointers and sizes.
    std::vector<AudioBuffer> buffers_;
    std::atomic<IOProc> proc_{nullptr};
    std::atomic<void*> clientData_{nullptr};
    std::atomic<bool> serverGone_{false};
    std::atomic<int64_t> clockOffset_{0};
    bool running_ = false;

    void startClockWatch();
    void stopClockWatch();
    std::thread clockWatch_;
    std::mutex clockWatchMutex_;
    std::condition_variable clockWatchWake_;
    bool clockWatchStop_ = false;
};

// The layer of a running JACK server: the server is its one device.
class JackAudioDeviceLayer final : public MTCoreAudioDeviceLayer {
public:
    explicit JackAudioDeviceLayer(std::shared_ptr<JackAudioDevice> device) : device_(std::move(device)) {}

    std::vector<std::shared_ptr<MTCoreAudioDevice>> allDevices() override { return {device_}; }
    std::shared_ptr<MTCoreAudioDevice> defaultOutputDevice() override { return device_; }
    const std::shared_ptr<JackAudioDevice>& device() const { return device_; }

private:
    std::shared_ptr<JackAudioDevice> device_;
};

}  // namespace tollvane
