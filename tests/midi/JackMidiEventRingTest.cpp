#include "midi/jack/JackMidiEventRing.h"

#include <gtest/gtest.h>

#include <thread>

#include "midi/jack/FFMIDIJackBackend.h"

namespace tollvane {
namespace {

std::vector<uint8_t> bytesOf(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i);
    return bytes;
}

TEST(JackMidiEventRing, RecordsComeOutWholeAndInOrderAcrossTheWrap) {
    JackMidiEventRing ring(64);
    ASSERT_EQ(ring.capacity(), 64u);
    JackMidiEventRing::Header header;
    std::vector<uint8_t> out;
    // 20-byte header plus 3 bytes: the third record of each round straddles the end.
    for (int round = 0; round < 10; ++round) {
        for (int i = 0; i < 2; ++i) {
            const auto seed = static_cast<uint8_t>(round * 2 + i);
            ASSERT_TRUE(ring.push(1000u * seed, seed, -seed, bytesOf(3, seed)));
        }
        for (int i = 0; i < 2; ++i) {
            const auto seed = static_cast<uint8_t>(round * 2 + i);
            ASSERT_TRUE(ring.pop(header, out));
            EXPECT_EQ(header.hostTime, 1000u * seed);
            EXPECT_EQ(header.port, seed);
            EXPECT_EQ(header.source, -seed);
            EXPECT_EQ(out, bytesOf(3, seed));
        }
        EXPECT_FALSE(ring.pop(header, out));
    }
}

TEST(JackMidiEventRing, RefusesWhatDoesNotFitWithoutWritingAnything) {
    struct Case {
        size_t first;
        size_t second;
        bool secondFits;
    };
    const Case cases[] = {
        {0, 0, true},     // two bare headers
        {40, 4, true},    // exactly full: 60 + 24
        {40, 5, false},   // one byte over
        {120, 0, false},  // the first cannot fit even alone
    };
    for (const Case& c : cases) {
        JackMidiEventRing ring(128);
        const bool firstFits = c.first + 20 <= 128;
        EXPECT_EQ(ring.push(1, 1, 1, bytesOf(c.first, 1)), firstFits) << c.first;
        const size_t space = ring.freeSpace();
        if (firstFits) {
            const bool fits = ring.push(2, 2, 2, bytesOf(c.second + 44, 2));
            EXPECT_EQ(fits, c.secondFits) << c.first << "+" << c.second;
            if (!fits) {
                EXPECT_EQ(ring.freeSpace(), space);
            }
        }
        JackMidiEventRing::Header header;
        std::vector<uint8_t> out;
        if (firstFits) {
            ASSERT_TRUE(ring.pop(header, out));
            EXPECT_EQ(out, bytesOf(c.first, 1));
        }
        if (firstFits && c.secondFits) {
            ASSERT_TRUE(ring.pop(header, out));
            EXPECT_EQ(out, bytesOf(c.second + 44, 2));
        }
        EXPECT_FALSE(ring.pop(header, out));
        EXPECT_EQ(ring.freeSpace(), 128u);
    }
}

TEST(JackMidiEventRing, OneProducerOneConsumerLoseNothingThatWasAccepted) {
    JackMidiEventRing ring(256);
    constexpr uint64_t count = 20000;
    std::thread producer([&] {
        for (uint64_t i = 0; i < count; ++i) {
            const auto bytes = bytesOf(1 + i % 7, static_cast<uint8_t>(i));
            while (!ring.push(i, 0, 0, bytes)) std::this_thread::yield();
        }
    });
    JackMidiEventRing::Header header;
    std::vector<uint8_t> out;
    uint64_t expected = 0;
    while (expected < count) {
        if (!ring.pop(header, out)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(header.hostTime, expected);
        ASSERT_EQ(out, bytesOf(1 + expected % 7, static_cast<uint8_t>(expected)));
        ++expected;
    }
    producer.join();
}

TEST(FFMIDIJackBackend, HostTimeOfAFrameIsTheCycleStartPlusItsOffset) {
    struct Case {
        uint64_t cycleStart;
        uint32_t offset;
        uint32_t rate;
        uint64_t expected;
    };
    const Case cases[] = {
        {1000, 0, 48000, 1000},
        {1000, 48, 48000, 1001000},  // 1 ms
        {0, 255, 48000, 5312500},    // last frame of a 256-frame period
        {0, 1, 44100, 22676},        // 22675.7 ns rounds up
        {5'000'000'000'000, 96000, 96000, 5'001'000'000'000},
        {7, 100, 0, 7},  // no rate known yet
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FFMIDIJackBackend::hostTimeForFrame(c.cycleStart, c.offset, c.rate), c.expected)
            << c.offset << " at " << c.rate;
    }
}

TEST(FFMIDIJackBackend, UniqueIDsAreStableAcrossLaunchesAndNeverZero) {
    // Pinned: the IDs are stored in user defaults, so the hash may never change.
    EXPECT_EQ(static_cast<uint32_t>(FFMIDIJackBackend::uniqueIDForPortName("a")), 0xe40c292cu);
    EXPECT_EQ(FFMIDIJackBackend::uniqueIDForPortName("system:midi_capture_1"),
              FFMIDIJackBackend::uniqueIDForPortName(std::string("system:midi_capture_") + "1"));
    EXPECT_NE(FFMIDIJackBackend::uniqueIDForPortName("system:midi_capture_1"),
              FFMIDIJackBackend::uniqueIDForPortName("system:midi_capture_2"));
    EXPECT_NE(FFMIDIJackBackend::uniqueIDForPortName(""), 0);
}

}  // namespace
}  // namespace tollvane
