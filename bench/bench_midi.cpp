// Parsing speed of the MIDI message parser.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "BenchTargets.h"
#include "midi/FFMIDIMessageParser.h"
#include "midi/FFMIDIMessageParserDelegate.h"

namespace {

using namespace tollvane;

struct Counter : FFMIDIMessageParserDelegate {
    size_t messages = 0;
    void parser(FFMIDIMessageParser&, const FFMIDIMessageList& batch) override { messages += batch.size(); }
    void parser(FFMIDIMessageParser&, size_t) override {}
    void parser(FFMIDIMessageParser&, const FFMIDISystemExclusiveMessage&) override {}
};

// 1,000 quarter frames, one per packet as a MIDI interface delivers them,
// eight pieces of running timecode each.
FFMIDIPacketList quarterFrames() {
    FFMIDIPacketList list;
    for (int i = 0; i < 1000; ++i) {
        const int piece = i % 8;
        const uint8_t value = static_cast<uint8_t>((i / 8) & 0x0F);
        list.addPacket(1000000ull + 10000000ull * i, {0xF1, static_cast<uint8_t>(piece << 4 | value)});
    }
    return list;
}

void BM_parseQuarterFrames(benchmark::State& state) {
    const FFMIDIPacketList list = quarterFrames();
    Counter counter;
    FFMIDIMessageParser parser;
    parser.setDelegate(&counter);
    for (auto _ : state) {
        parser.takePacketList(list);
        benchmark::ClobberMemory();
    }
    // Inverted rate: seconds per byte.
    state.counters["per_byte"] =
        benchmark::Counter(static_cast<double>(list.byteCount()),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_parseQuarterFrames);
TOLLVANE_BENCH_TARGET(BM_parseQuarterFrames, "at most 50 ns per byte (2,000 bytes a list)");

// A 1 MiB mix of voice, real-time, system-common and system-exclusive
// messages in 256-byte packets, as a busy line would carry them.
FFMIDIPacketList mixedMegabyte(size_t& messageCount) {
    std::vector<uint8_t> bytes;
    messageCount = 0;
    uint8_t note = 0;
    while (bytes.size() < (size_t{1} << 20)) {
        note = static_cast<uint8_t>((note + 7) & 0x7F);
        bytes.insert(bytes.end(),
                     {0x90, note, 0x64, 0xF8, 0x80, note, 0x00, 0xF1, 0x25, 0xB0, 0x40, 0x7F, 0xFE});
        messageCount += 6;
        if (note % 16 == 0) {
            bytes.insert(bytes.end(), {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0x00, 0x00, 0x00, 0xF7});
            ++messageCount;
        }
    }
    FFMIDIPacketList list;
    for (size_t offset = 0; offset < bytes.size(); offset += 256) {
        const size_t length = std::min<size_t>(256, bytes.size() - offset);
        list.addPacket(offset, std::span<const uint8_t>(bytes.data() + offset, length));
    }
    return list;
}

void BM_parseMixedMegabyte(benchmark::State& state) {
    size_t messageCount = 0;
    const FFMIDIPacketList list = mixedMegabyte(messageCount);
    Counter counter;
    FFMIDIMessageParser parser;
    parser.setDelegate(&counter);
    for (auto _ : state) {
        parser.takePacketList(list);
        benchmark::ClobberMemory();
    }
    state.counters["messages_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * messageCount), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_parseMixedMegabyte)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_parseMixedMegabyte, "at least 5 million messages a second");

}  // namespace
