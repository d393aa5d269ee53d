// Standard MIDI File reading and writing speeds on a file of 100,000 events.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BenchTargets.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/StandardMIDIFileReader.h"
#include "playback/sequence/StandardMIDIFileWriter.h"

namespace tollvane {
namespace {

constexpr int kEvents = 100000;

// A cue-sized mix: a tempo track with tempo and meter changes, and eight
// tracks of notes (most of the events), controllers, markers and sysex.
void fill(MusicSequence& sequence) {
    MusicTrack& tempo = sequence.tempoTrack();
    int count = 0;
    for (int i = 0; i < 500; ++i, count += 2) {
        tempo.newExtendedTempoEvent(i * 16.0, 80.0 + (i % 60));
        const uint8_t meter[] = {static_cast<uint8_t>(3 + i % 5), 2, 24, 8};
        tempo.newMetaEvent(i * 16.0, 0x58, meter, sizeof meter);
    }
    std::vector<MusicTrack*> tracks(8);
    for (MusicTrack*& track : tracks) sequence.newTrack(track);
    const uint8_t sysex[] = {8, 0, 0, 0, 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0x00, 0x00, 0xF7};
    const uint8_t text[] = {'m', 'a', 'r', 'k'};
    for (int i = 0; count < kEvents; ++i, ++count) {
        MusicTrack& track = *tracks[i % tracks.size()];
        const double beats = i * 0.125;
        switch (i % 16) {
            case 0:
                track.newMetaEvent(beats, 0x06, text, sizeof text);
                break;
            case 1:
                track.newMIDIChannelEvent(beats, {0xB0, 7, static_cast<uint8_t>(i % 128), 0});
                break;
            case 2:
                track.newMIDIRawDataEvent(beats, sysex);
                break;
            default:
                track.newMIDINoteEvent(beats,
                                       {static_cast<uint8_t>(i % 16), static_cast<uint8_t>(36 + i % 60),
                                        static_cast<uint8_t>(1 + i % 127), 0, 0.5f});
                break;
        }
    }
}

std::vector<uint8_t> fileBytes() {
    MusicSequence sequence;
    fill(sequence);
    std::vector<uint8_t> bytes;
    StandardMIDIFileWriter::write(sequence, bytes);
    return bytes;
}

void BM_readSMF100kEvents(benchmark::State& state) {
    const std::vector<uint8_t> bytes = fileBytes();
    for (auto _ : state) {
        MusicSequence sequence;
        if (StandardMIDIFileReader::read(bytes.data(), bytes.size(), sequence) != kMusicSequenceNoErr) {
            state.SkipWithError("the file did not read");
            break;
        }
        benchmark::DoNotOptimize(sequence.trackCount());
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_readSMF100kEvents)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_readSMF100kEvents, "at most 100 ms per file");

void BM_writeSMF100kEvents(benchmark::State& state) {
    MusicSequence sequence;
    const std::vector<uint8_t> source = fileBytes();
    StandardMIDIFileReader::read(source.data(), source.size(), sequence);
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        StandardMIDIFileWriter::write(sequence, bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_writeSMF100kEvents)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_writeSMF100kEvents, "at most 100 ms per file");

}  // namespace
}  // namespace tollvane
