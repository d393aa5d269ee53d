#include "app/cli/LiveStatusLine.h"

#include "app/Engine.h"
#include "app/cli/DocumentCommands.h"
#include "midi/TLMIDIController.h"
#include "model/Cue.h"
#include "playback/CueController.h"
#include "playback/SyncController.h"
#include "playback/TransportController.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

LiveStatusLine::LiveStatusLine(Engine& engine)
    : engine_(engine), counter_(engine.syncController(), engine.transportController()) {}

std::string LiveStatusLine::state() const {
    const SyncController& sync = engine_.syncController();
    const TLMIDIController& midi = engine_.midiController();
    if (sync.rehearsalActive()) return "rehearsing";
    if (sync.isPlaying()) return "chasing";
    if (!midi.MTCOnline()) return "offline";
    if (midi.mtcBeingReceived()) return "locking";
    return "waiting for MTC";
}

void LiveStatusLine::update(uint64_t hostTime) {
    const std::shared_ptr<Cue> cue = engine_.cueController().selectedCue();
    const TLMIDIController& midi = engine_.midiController();
    counter_.update(cue, midi.MTCOnline());
    std::string countoff = counter_.countoffText();
    while (!countoff.empty() && countoff.back() == ' ') countoff.pop_back();

    std::string cueText = cue ? "cue \"" + DocumentCommands::printable(cue->title()) + "\"" : "no cue";
    stable_ = state() + "  " + cueText;
    if (!countoff.empty()) stable_ += "  " + countoff;

    const SyncController& sync = engine_.syncController();
    const auto timecode = sync.isPlaying() ? sync.timecodeAtHostTime(hostTime) : sync.currentTimecode();
    text_ = (timecode ? timecode->stringRepresentation() : std::string("--:--:--:--")) + "  " + state() +
            "  " + cueText;
    if (!counter_.counterText().empty()) text_ += "  " + counter_.counterText();
    if (!countoff.empty()) text_ += "  " + countoff;
}

}  // namespace tollvane
