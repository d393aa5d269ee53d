#pragma once

// A point in picture time: hours, minutes, seconds, frames and bits (eightieths
// of a frame) at a frame rate. Every change normalises the fields: bits 0-79,
// frames 0 to fps-1, seconds and minutes 0-59, hours unbounded (they go past 24
// and below zero by borrowing); at drop frame the labels 00 and 01 of every
// minute but each tenth are skipped. An fps below 2 marks an invalid timecode,
// which is never normalised. An fps of 0 (only a damaged archive holds one)
// counts as 1 wherever the rate is divided or multiplied by.
//
// The `negative` flag is set when the value was last set from a negative frame
// count (or negative seconds); the fields then hold the magnitude, and the flag
// signs the frame count and the seconds. It is not printed, archived, copied
// or part of equality.
//
// Threads. Timecodes are used from the main thread and the sync thread. The
// setters of hh, mm, ss, ff and the rate, and convertFramerateTo, hold the
// timecode's own recursive mutex while they store and normalise (released by
// RAII, also when an exception passes); setBits, the conversions from frames
// and seconds, parsing and decoding take no lock. Every field is a relaxed
// atomic, so readers and writers on different threads never race on memory,
// but an unlocked reader may see some fields from before and some from after
// a change. A shared timecode stays consistent this way: the locked setters
// serialise among themselves; a thread that wants the whole value at once, or
// changes a shared timecode through one of the unlocked operations, holds
// mutex() around the work (it is recursive, so the setters inside still
// work); a thread that needs a private value takes a copy() under mutex().
// The mutex is a leaf lock: take no other lock while holding it.
//
// Real-time safety: the field getters, framesFromZero, secondsFromZero and the
// other conversions that return numbers, compare, and the unlocked setters
// neither lock nor allocate. The locked setters lock; the text forms,
// factories and copies allocate.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/archive/Archivable.h"
#include "timebase/EMTimecodeFramerate.h"
#include "timebase/MediaTime.h"

namespace tollvane {

class KeyedUnarchiver;

class EMTimecode : public Archivable {
public:
    // 0:00:00:00/00 at 29.97nd (index 4).
    EMTimecode();
    // The rate, then hh, mm, ss, ff and bits through the setters; `negative`
    // starts cleared. Reads the source without its lock.
    EMTimecode(const EMTimecode& other);
    EMTimecode& operator=(const EMTimecode& other);
    ~EMTimecode() override = default;

    static EMTimecodeFramerate framerateWithFPS(uint32_t fps, bool videoSpeed, bool dropFrame) {
        return EMTimecodeFramerate::framerateWithFPS(fps, videoSpeed, dropFrame);
    }
    static EMTimecodeFramerate framerateForIndex(int64_t index) {
        return EMTimecodeFramerate::framerateForIndex(index);
    }

    // Sets the rate, then hours, minutes, seconds, frames (and bits) through
    // their setters, each normalising.
    static std::shared_ptr<EMTimecode> timecodeWithFramerate(EMTimecodeFramerate framerate, int32_t hh,
                                                             int32_t mm, int32_t ss, int32_t ff);
    static std::shared_ptr<EMTimecode> timecodeWithFramerate(EMTimecodeFramerate framerate, int32_t hh,
                                                             int32_t mm, int32_t ss, int32_t ff,
                                                             uint32_t bits);
    // Sets the rate, then parses the text (setStringRepresentation).
    static std::shared_ptr<EMTimecode> timecodeWithFramerate(EMTimecodeFramerate framerate,
                                                             std::string_view fromStringRepresentation);
    // All zero at fps 1, no video speed, no drop frame; prints "[invalid]".
    static std::shared_ptr<EMTimecode> invalidTimecode();

    std::shared_ptr<EMTimecode> copy() const { return std::make_shared<EMTimecode>(*this); }

    // Field accessors. Getters: any thread, real-time safe. setHH, setMM, setSS,
    // setFF and setFramerate: any thread, take the lock. setBits: no lock.
    int32_t hh() const { return hh_.load(std::memory_order_relaxed); }
    int32_t mm() const { return mm_.load(std::memory_order_relaxed); }
    int32_t ss() const { return ss_.load(std::memory_order_relaxed); }
    int32_t ff() const { return ff_.load(std::memory_order_relaxed); }
    // Stored signed: setBits(-1) borrows one frame.
    uint32_t bits() const { return static_cast<uint32_t>(bits_.load(std::memory_order_relaxed)); }
    EMTimecodeFramerate framerate() const {
        return unpackFramerate(framerate_.load(std::memory_order_relaxed));
    }
    bool negative() const { return negative_.load(std::memory_order_relaxed); }

    void setHH(int32_t hh);
    void setMM(int32_t mm);
    void setSS(int32_t ss);
    void setFF(int32_t ff);
    void setBits(uint32_t bits);
    // Replaces the rate only; the fields are normalised at the new rate, not converted.
    void setFramerate(EMTimecodeFramerate framerate);

    // Frame count from zero, signed by `negative`; at drop frame the real count
    // (labels skipped are not counted). No lock.
    int64_t framesFromZero() const;
    // Sets hh, mm, ss and ff from a count; bits stay. A negative count sets
    // `negative` and stores the magnitude. No lock.
    void setFramesFromZero(int64_t frames);
    // (frames + bits / 80) / fps, times 1.001 at video speed. No lock.
    double secondsFromZero() const;
    // Sets every field, bits included (the fraction of a frame truncated to
    // eightieths). No lock.
    void setSecondsFromZero(double seconds);

    int64_t framesFromTimecode(const EMTimecode& other) const;
    double secondsFromTimecode(const EMTimecode& other) const;
    // The other's frame count plus `frames`, read at this timecode's own rate;
    // then the other's bits.
    void setFrames(int64_t frames, const EMTimecode& fromTimecode);
    void setSeconds(double seconds, const EMTimecode& fromTimecode);
    void addFrames(int64_t frames);
    void subtractFrames(int64_t frames);
    void addSeconds(double seconds);
    void subtractSeconds(double seconds);

    // Keeps the point in time while replacing the rate. Takes the lock.
    void convertFramerateTo(EMTimecodeFramerate framerate);
    // Keeps the time within the hour while replacing the rate; the hours stay.
    void convertFramerateFromReelStartTo(EMTimecodeFramerate framerate);

    // The frames from `other` in this timecode's media ticks and timescale.
    MediaTime cmTimeRelativeToTimecode(const EMTimecode& other) const;
    int32_t _timeScale() const { return framerate().mediaTimescale(); }
    int32_t _timeScaleTicksPerFrame() const { return framerate().mediaTicksPerFrame(); }

    // Film footage of the frame count: 16 frames to the foot in 35 mm, 40 in
    // 16 mm, printed "feet+frames" ("90+00"). A negative count prints its
    // magnitude after a minus sign.
    std::string feetFramesRepresentation35mm() const;
    std::string feetFramesRepresentation16mm() const;

    // "1:00:00;02", "1:00:00;02/40", "1:00:00;02/40@29.97df".
    std::string stringRepresentation() const;
    std::string stringRepresentationWithBits() const;
    std::string stringRepresentationWithBitsAndFramerate() const;
    std::string description() const { return stringRepresentationWithBitsAndFramerate(); }
    // Parses "h:mm:ss:ff[/bits]" with any single characters as separators, or
    // the packed HHMMSSFF form when the first number is above 100. Empty text
    // changes nothing. The rate stays. Clears `negative`. No lock.
    void setStringRepresentation(std::string_view text);

    // -1, 0 or 1 by secondsFromZero: timecodes at different rates compare by time.
    int compare(const EMTimecode& other) const;
    // The same fields, separator and rate label.
    bool isEqual(const EMTimecode& other) const;
    bool operator==(const EMTimecode& other) const { return isEqual(other); }

    // The timecode's own lock, for callers that read or change a shared
    // timecode as a whole.
    std::recursive_mutex& mutex() const { return mutex_; }

    // Archiving under the class name "EMTimecode".
    std::string archiveClassName() const override { return "EMTimecode"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    // Stores the eight archived values as read (clamped to the fields' ranges),
    // without normalising; `negative` starts cleared.
    static std::shared_ptr<EMTimecode> decodeWithCoder(KeyedUnarchiver& coder);
    // Registers the decoding factory with ArchiveClassRegistry; call once
    // before unarchiving (repeated calls do nothing).
    static void registerArchiveClass();

private:
    struct Fields {
        int32_t hh;
        int32_t mm;
        int32_t ss;
        int32_t ff;
        int32_t bits;
    };

    Fields loadFields() const;
    void storeFields(const Fields& fields);
    // Normalises the given fields at the current rate and stores them.
    void storeNormalised(Fields fields);
    // hh, mm, ss and ff of a non-negative frame count at the current rate.
    Fields fieldsForCount(int64_t real) const;
    void assignFrom(const EMTimecode& other);
    std::string formatted(bool withBits, bool withFramerate) const;

    std::atomic<int32_t> hh_{0};
    std::atomic<int32_t> mm_{0};
    std::atomic<int32_t> ss_{0};
    std::atomic<int32_t> ff_{0};
    std::atomic<int32_t> bits_{0};
    // The rate packed into one word (fps, then the two flags above it), so that
    // it is read and written whole and lock-free.
    static uint64_t packFramerate(EMTimecodeFramerate rate) {
        return uint64_t{rate.fps} | (uint64_t{rate.videoSpeed} << 32) | (uint64_t{rate.dropFrame} << 33);
    }
    static EMTimecodeFramerate unpackFramerate(uint64_t packed) {
        return {static_cast<uint32_t>(packed), ((packed >> 32) & 1) != 0, ((packed >> 33) & 1) != 0};
    }
    void storeFramerate(EMTimecodeFramerate rate) {
        framerate_.store(packFramerate(rate), std::memory_order_relaxed);
    }

    std::atomic<uint64_t> framerate_{packFramerate(EMTimecodeFramerate::framerateForIndex(4))};
    std::atomic<bool> negative_{false};
    mutable std::recursive_mutex mutex_;
};

}  // namespace tollvane
