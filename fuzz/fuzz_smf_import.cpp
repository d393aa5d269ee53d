// Imports bytes as a Standard MIDI File into a new cue, every track chosen,
// a few pre-roll bars dropped (from the last byte), through the shipped
// event mapping. A file the reader takes must give a cue with a cue end,
// finite event times and a compiled sequence.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "document/SMFImporter.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEvent.h"
#include "model/CueEventCueEnd.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "playback/FFMusicSequence.h"
#include "playback/TLEventController.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/StandardMIDIFileReader.h"

using namespace tollvane;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

TLEventController& mapping() {
    static TLEventController* controller = [] {
        Log::setSink([](const std::string&) {});
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        auto* made = new TLEventController;
        made->setContent(TLEventController::defaultPreset());
        return made;
    }();
    return *controller;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TLEventController& events = mapping();
    auto store = std::make_shared<MusicSequence>();
    std::string reason;
    if (StandardMIDIFileReader::read(data, size, *store, &reason) != kMusicSequenceNoErr) return 0;
    const auto sequence = FFMusicSequence::sequenceWithMusicSequence(store);
    check(sequence != nullptr);

    SMFImporter::TrackIndexes tracks;
    for (uint32_t index = 0; index < store->trackCount(); ++index) tracks.insert(index);
    const uint32_t dropBars = size > 0 ? data[size - 1] % 4 : 0;

    auto cue = Cue::create();
    SMFImporter::importSequence(*cue, *sequence, tracks, dropBars, &events);
    check(cue->cueEndEvent() != nullptr);
    check(std::isfinite(cue->cueEndEvent()->lockPrerollShiftedBeats()));
    for (const auto& event : cue->trackEvents()) check(std::isfinite(event->lockPrerollShiftedBeats()));
    check(cue->sequence() != nullptr);
    return 0;
}
