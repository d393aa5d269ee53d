#pragma once

// Sends MIDI Time Code from a JACK client with one MIDI output port: the
// full frame at the start, then quarter frames on the schedule of an
// MTCGenerator, each written in the process callback at the exact frame its
// time falls on. The run starts at the first cycle after start(); the host
// time of every quarter frame's frame (the cycle's start time plus the
// offset, on the program's CLOCK_MONOTONIC nanoseconds) is kept in a record
// sized before the run, for comparing with what a receiver stamped.
//
// Threads: everything on one control thread (the main thread), except that
// sentCount(), finished() and the counters may be read from any thread. The
// process callback takes no lock, allocates nothing and does no I/O.

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "midi/MTCGenerator.h"

namespace tollvane {

class MTCJackSender {
public:
    // An empty server name means the default server (or $JACK_DEFAULT_SERVER).
    explicit MTCJackSender(std::string serverName = {});
    ~MTCJackSender();
    MTCJackSender(const MTCJackSender&) = delete;
    MTCJackSender& operator=(const MTCJackSender&) = delete;

    // Opens the client and its output port "mtc out" and activates it.
    // Answers false with a reason in error().
    bool open(const std::string& clientName);
    const std::string& error() const { return error_; }
    // The output port's full name ("" before open).
    std::string portName() const;
    uint32_t sampleRate() const;
    uint32_t bufferSize() const;

    // Connects the output to a MIDI input port: its full name, or the short
    // name of a port of any client ("Tollvane" finds "Tollvane:Tollvane").
    // Waits until the connection carries data (a few cycles). Answers false
    // with a reason in error().
    bool connectTo(const std::string& port);

    // Once, after open: sends `quarterFrames` quarter frames (0: until
    // stop()) and records the host times of the first `recordCapacity`.
    void start(const MTCGenerator& generator, uint64_t quarterFrames, size_t recordCapacity);
    // Stops sending at the next cycle.
    void stop();
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    uint64_t sentCount() const { return sent_.load(std::memory_order_acquire); }
    // Cycles the server ran late or skipped during the run.
    uint64_t xrunCount() const { return xruns_.load(std::memory_order_relaxed); }
    // Events the port buffer had no room for.
    uint64_t lostEventCount() const { return lost_.load(std::memory_order_relaxed); }

    // After finished() or stop(): the host time at which the run started
    // (the full frame's), and those of the recorded quarter frames in order.
    uint64_t startHostTime() const { return startHostTime_; }
    std::vector<uint64_t> sentHostTimes() const;

private:
    static int processCallback(jack_nframes_t frames, void* arg);
    static int xrunCallback(void* arg);
    int process(jack_nframes_t frames);
    void waitForCycles(uint64_t count);

    const std::string serverName_;
    std::string error_;
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    int64_t clockOffset_ = 0;

    // Set before armed_ is released; read by the callback only once armed.
    std::optional<MTCGenerator> generator_;
    uint64_t limit_ = 0;
    std::vector<uint64_t> record_;
    // The callback's own state.
    bool begun_ = false;
    jack_nframes_t startFrame_ = 0;
    uint64_t startHostTime_ = 0;
    uint64_t next_ = 0;

    std::atomic<bool> armed_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> finished_{false};
    std::atomic<uint64_t> sent_{0};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<uint64_t> xruns_{0};
    std::atomic<uint64_t> lost_{0};
};

}  // namespace tollvane
