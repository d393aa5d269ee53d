#pragma once

// What a parser tells its delegate (the input stream that owns it). All calls
// come on the thread that feeds the parser its packet lists: the main thread.

#include <cstddef>

#include "midi/FFMIDIMessage.h"

namespace tollvane {

class FFMIDIMessageParser;
class FFMIDISystemExclusiveMessage;

class FFMIDIMessageParserDelegate {
public:
    virtual ~FFMIDIMessageParserDelegate() = default;

    // The messages of one packet list, in order; never empty.
    virtual void parser(FFMIDIMessageParser& parser, const FFMIDIMessageList& didReadMessages) = 0;
    // A system-exclusive message is arriving: `isReadingSysExWithLength` bytes so far, F0 included.
    virtual void parser(FFMIDIMessageParser& parser, size_t isReadingSysExWithLength);
    // A system-exclusive message ended (with F7 or not); it is delivered with the others.
    virtual void parser(FFMIDIMessageParser& parser,
                        const FFMIDISystemExclusiveMessage& finishedReadingSysExMessage);
};

}  // namespace tollvane
