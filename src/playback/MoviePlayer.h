#pragma once

// What the sync controller asks of the movie player (the reel controller):
// whether the movie plays, its time, the selected reel, and the three
// requests. NullMoviePlayer stands in until the movie player exists and
// wherever there is no picture (command line, tests).
//
// Threads: isPlaying, currentTime, selectedReel and gotoBeginning are called
// on the sync thread holding consumerLock(); playFromTimecode on the sync
// thread; pauseAtTimecode and pause on the main thread. The lock is
// recursive and may be taken from any thread.

#include <cstdint>
#include <memory>
#include <mutex>

namespace tollvane {

class EMTimecode;
class Reel;

class MoviePlayer {
public:
    virtual ~MoviePlayer() = default;

    virtual bool isPlaying() const = 0;
    // Held by the sync controller around currentTime and gotoBeginning.
    virtual std::recursive_mutex& consumerLock() = 0;
    // Seconds into the movie.
    virtual double currentTime() const = 0;
    // The reel whose movie is shown, or null.
    virtual std::shared_ptr<Reel> selectedReel() const = 0;
    virtual void gotoBeginning() = 0;
    // Starts the movie at `timecode`, which was current at `hostTime`.
    virtual void playFromTimecode(const EMTimecode& timecode, uint64_t hostTime) = 0;
    virtual void pauseAtTimecode(const EMTimecode& timecode) = 0;
    virtual void pause() = 0;
    virtual void setMovieMuted(bool muted) = 0;
};

// No movie: never plays, no reel, every request ignored.
class NullMoviePlayer final : public MoviePlayer {
public:
    bool isPlaying() const override { return false; }
    std::recursive_mutex& consumerLock() override { return lock_; }
    double currentTime() const override { return 0.0; }
    std::shared_ptr<Reel> selectedReel() const override { return nullptr; }
    void gotoBeginning() override {}
    void playFromTimecode(const EMTimecode&, uint64_t) override {}
    void pauseAtTimecode(const EMTimecode&) override {}
    void pause() override {}
    void setMovieMuted(bool) override {}

private:
    std::recursive_mutex lock_;
};

}  // namespace tollvane
