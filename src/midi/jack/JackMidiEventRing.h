#pragma once

// The hand-over of MIDI events from the JACK process callback to an ordinary
// thread: a single-producer, single-consumer ring of bytes, sized once at
// construction. Each record is a fixed header (host time, port, source,
// length) followed by the event's bytes; a record that does not fit whole is
// refused, so the reader never sees half an event.
//
// Threads: push() on the one producer thread, real-time safe (no lock, no
// allocation). pop() on the one consumer thread; it may allocate. capacity()
// and freeSpace() from either.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "midi/FFMIDIBackend.h"

namespace tollvane {

class JackMidiEventRing {
public:
    struct Header {
        uint64_t hostTime = 0;
        FFMIDIPortRef port = 0;
        FFMIDIUniqueID source = 0;
        uint32_t length = 0;
    };

    // The capacity is rounded up to a power of two.
    explicit JackMidiEventRing(size_t capacity);
    JackMidiEventRing(const JackMidiEventRing&) = delete;
    JackMidiEventRing& operator=(const JackMidiEventRing&) = delete;

    size_t capacity() const { return buffer_.size(); }
    size_t freeSpace() const;

    // Answers false, writing nothing, when the record does not fit.
    bool push(uint64_t hostTime, FFMIDIPortRef port, FFMIDIUniqueID source, std::span<const uint8_t> bytes);
    // Answers false when the ring is empty; otherwise fills both.
    bool pop(Header& header, std::vector<uint8_t>& bytes);

private:
    static constexpr size_t headerSize =
        sizeof(uint64_t) + sizeof(FFMIDIPortRef) + sizeof(FFMIDIUniqueID) + sizeof(uint32_t);

    // Copy in two blocks when the range wraps past the end of the buffer.
    void copyIn(size_t position, const uint8_t* from, size_t count);
    void copyOut(size_t position, uint8_t* to, size_t count) const;

    std::vector<uint8_t> buffer_;
    size_t mask_;
    alignas(64) std::atomic<size_t> writePosition_{0};
    alignas(64) std::atomic<size_t> readPosition_{0};
};

}  // namespace tollvane
