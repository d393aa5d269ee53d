#pragma once

// The host time of each buffer of a device that keeps its own sample clock.
// Counting frames from a start time is free of jitter but drifts: a sound
// card's crystal is off by tens of parts per million, a tenth of a second an
// hour against the host clock that MTC and clicks are placed on. Reading the
// host clock in each callback does not drift but carries the scheduling
// jitter of the audio thread. A second-order delay-locked loop combines the
// two: it predicts each buffer's start from the frame count and the measured
// period, and corrects both slowly from the readings.
//
// Threads: one thread at a time (the audio thread while a stream runs; the
// main thread resets it before). Real-time safe: no lock, no allocation.

#include <cstdint>

namespace tollvane {

class AlsaStreamClock {
public:
    // Loop bandwidth in hertz: low enough to average a few hundred buffers'
    // jitter away, high enough to settle within seconds.
    static constexpr double kBandwidth = 1.0;
    // A reading this far from the prediction means the stream stalled or the
    // clock jumped: start again from the reading.
    static constexpr double kResyncSeconds = 0.05;

    explicit AlsaStreamClock(double sampleRate = 48000.0) { reset(sampleRate); }

    // Forget the history; the next cycle() starts from its reading.
    void reset(double sampleRate);
    // One buffer of `frames` is asked for, the host clock reading `reading`
    // now. Answers the host time of the buffer's start.
    uint64_t cycle(uint64_t reading, uint32_t frames);

    // Seconds per frame as the loop measures it.
    double framePeriod() const { return framePeriod_; }

private:
    double sampleRate_ = 48000.0;
    double framePeriod_ = 1.0 / 48000.0;
    bool started_ = false;
    uint64_t base_ = 0;     // host time the loop's seconds count from
    double predicted_ = 0;  // seconds after base_ at which this buffer is expected
};

}  // namespace tollvane
