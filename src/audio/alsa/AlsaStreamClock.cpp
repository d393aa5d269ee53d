#include "audio/alsa/AlsaStreamClock.h"

#include <cmath>
#include <numbers>

namespace tollvane {

void AlsaStreamClock::reset(double sampleRate) {
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    framePeriod_ = 1.0 / sampleRate_;
    started_ = false;
}

uint64_t AlsaStreamClock::cycle(uint64_t reading, uint32_t frames) {
    if (frames == 0) frames = 1;
    double error = 0.0;
    if (started_) {
        const double measured = static_cast<double>(static_cast<int64_t>(reading - base_)) * 1e-9;
        error = measured - predicted_;
    }
    if (!started_ || std::fabs(error) > kResyncSeconds) {
        started_ = true;
        base_ = reading;
        framePeriod_ = 1.0 / sampleRate_;
        predicted_ = 0.0;
        error = 0.0;
    }
    const uint64_t start =
        static_cast<uint64_t>(static_cast<int64_t>(base_) + std::llround(predicted_ * 1e9));

    const double omega = 2.0 * std::numbers::pi * kBandwidth * framePeriod_ * frames;
    predicted_ += std::numbers::sqrt2 * omega * error + framePeriod_ * frames;
    framePeriod_ += omega * omega * error / frames;

    // Keep the loop's seconds small, so that a double holds them to the nanosecond.
    while (predicted_ >= 1.0) {
        base_ += 1'000'000'000u;
        predicted_ -= 1.0;
    }
    return start;
}

}  // namespace tollvane
