#include "midi/FFMIDIMessageParserDelegate.h"

namespace tollvane {

void FFMIDIMessageParserDelegate::parser(FFMIDIMessageParser&, size_t) {}

void FFMIDIMessageParserDelegate::parser(FFMIDIMessageParser&, const FFMIDISystemExclusiveMessage&) {}

}  // namespace tollvane
