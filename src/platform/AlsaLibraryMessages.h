#pragma once

// The ALSA library prints its own diagnostics to stderr: every card it does
// not find while RtAudio lists devices, every device or sequencer it cannot
// open. Those are routine answers here, and what matters reaches the log
// through RtAudio's and RtMidi's own messages, so the library's lines are
// silenced for the process the first time this is called. The library comes
// in with RtAudio and RtMidi rather than on our link line, hence a look-up
// (nothing happens without it).
//
// Threads: any thread; call before RtAudio or RtMidi touches ALSA.

namespace tollvane {

void quietAlsaLibraryMessages();

}  // namespace tollvane
