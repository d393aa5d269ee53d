#pragma once

// The bar|beat counter and the count-off text beside it, as the streamer
// views draw them and the command line's status line prints them. The
// counter shows the selected cue's bar and beat where the picture is (the
// incoming timecode plus the video latency), held at the playback start
// before it and at the cue's end after it. Before the playback start the
// count-off says how many warning clicks are left ("2/4 into ").
//
// Threads: main thread. update() reads the sync controller's published
// anchor and the cue's published map; it never waits for the sync mutex.

#include <cstdint>
#include <memory>
#include <string>

namespace tollvane {

class Cue;
class SyncController;
class TransportController;

class BarBeatCounter {
public:
    // Shown while neither MTC is followed nor a rehearsal runs.
    static constexpr const char* kIdleCounterText = " - ";

    // Both must outlive the counter.
    BarBeatCounter(SyncController& syncController, TransportController& transportController);

    // Recomputes both texts for `cue` (null: no cue selected). Answers
    // whether either text changed.
    bool update(const std::shared_ptr<Cue>& cue, bool mtcOnline);

    // Empty while no cue is selected (nothing is drawn).
    const std::string& counterText() const { return counterText_; }
    const std::string& countoffText() const { return countoffText_; }

    // The count-off for a position `remainingSeconds` before the playback
    // start, one beat there lasting `beatSeconds`, one warning click
    // `factor` beats, `warningBeats` clicks in all.
    static std::string countoffTextFor(double remainingSeconds, double beatSeconds, double factor,
                                       uint32_t warningBeats);

    // "%d|%d", or "%d|%02d" in bars of ten beats or more.
    static std::string counterTextFor(int64_t bar, int32_t beat, bool twoDigitBeats);

private:
    SyncController& syncController_;
    TransportController& transportController_;
    std::string counterText_;
    std::string countoffText_;
};

}  // namespace tollvane
