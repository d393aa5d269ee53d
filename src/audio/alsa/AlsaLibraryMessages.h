#pragma once

// The ALSA library prints its own diagnostics to stderr: every card it does
// not find while RtAudio lists devices, every device it cannot open. Those
// are routine answers here, and what matters reaches the log through
// RtAudio's own messages, so the library's lines are silenced for the
// process the first time this is called.
//
// Threads: any thread; call before RtAudio touches ALSA.

namespace tollvane {

void quietAlsaLibraryMessages();

}  // namespace tollvane
