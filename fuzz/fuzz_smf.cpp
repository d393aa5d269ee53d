// Feeds bytes to the Standard MIDI File reader. A file it takes must write
// back and read again to the same events: the same tracks, the same kinds of
// event in the same order, times within half a tick, every payload but a
// note's duration the same (one key's overlapping notes may trade ends).
// A file it refuses must leave the sequence as it was, with a reason.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/StandardMIDIFileReader.h"
#include "playback/sequence/StandardMIDIFileWriter.h"

using namespace tollvane;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkSameEvents(const std::vector<MusicEventData>& first, const std::vector<MusicEventData>& second) {
    check(first.size() == second.size());
    for (size_t i = 0; i < first.size(); ++i) {
        const MusicEventData& a = first[i];
        const MusicEventData& b = second[i];
        check(a.type == b.type);
        const double expected = a.timeStamp > 0 ? a.timeStamp : 0.0;
        check(std::fabs(b.timeStamp - expected) <= 0.5 / StandardMIDIFileWriter::kTicksPerQuarter + 1e-9);
        if (a.type == kMusicEventType_MIDINoteMessage) {
            MIDINoteMessage x;
            MIDINoteMessage y;
            check(a.readFixed(x) && b.readFixed(y));
            check(x.channel == y.channel && x.note == y.note && x.velocity == y.velocity);
            check(y.duration >= 0.0f);
        } else {
            check(a.payload == b.payload);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MusicSequence sequence;
    std::string reason;
    const int status = StandardMIDIFileReader::read(data, size, sequence, &reason);
    if (status != kMusicSequenceNoErr) {
        check(!reason.empty());
        check(sequence.trackCount() == 0 && sequence.tempoTrack().eventCount() == 0);
        return 0;
    }
    (void)sequence.lengthInBeats();

    std::vector<uint8_t> written;
    if (StandardMIDIFileWriter::write(sequence, written, &reason) != kMusicSequenceNoErr) {
        // Only a file whose ticks are far coarser than ours can hold gaps we cannot.
        check(reason.find("ticks apart") != std::string::npos);
        return 0;
    }
    MusicSequence copy;
    check(StandardMIDIFileReader::read(written.data(), written.size(), copy, &reason) == kMusicSequenceNoErr);
    check(copy.trackCount() == sequence.trackCount());
    checkSameEvents(sequence.tempoTrack().events(), copy.tempoTrack().events());
    for (uint32_t index = 0; index < sequence.trackCount(); ++index) {
        MusicTrack* original = nullptr;
        MusicTrack* reread = nullptr;
        check(sequence.trackAtIndex(index, original) == kMusicSequenceNoErr);
        check(copy.trackAtIndex(index, reread) == kMusicSequenceNoErr);
        checkSameEvents(original->events(), reread->events());
    }
    return 0;
}
