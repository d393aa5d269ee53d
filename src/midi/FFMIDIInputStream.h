#pragma once

// What the two input streams share: one parser per source they hear, the
// parsers' delegate, and the destination that takes every parsed batch. Each
// batch holds one packet list's messages, each message with its packet's
// host time.
//
// Sysex progress is posted as "FFMIDIInputStreamReadingSysExNotification"
// ("length": bytes so far, "source": the source's unique ID) and
// "FFMIDIInputStreamDoneReadingSysExNotification" ("length": payload bytes
// plus the F0, "valid": whether F7 ended it, "source").
//
// Threads: main thread only. A destination may change the stream's sources
// while taking a batch, but must not destroy the stream then.

#include <map>
#include <memory>

#include "midi/FFMIDIBackend.h"
#include "midi/FFMIDIMessageParser.h"
#include "midi/FFMIDIMessageParserDelegate.h"

namespace tollvane {

class FFMIDIClient;
class FFMIDIMessageDestination;

inline constexpr const char* FFMIDIInputStreamReadingSysExNotification =
    "FFMIDIInputStreamReadingSysExNotification";
inline constexpr const char* FFMIDIInputStreamDoneReadingSysExNotification =
    "FFMIDIInputStreamDoneReadingSysExNotification";

class FFMIDIInputStream : public FFMIDIMessageParserDelegate {
public:
    ~FFMIDIInputStream() override;
    FFMIDIInputStream(const FFMIDIInputStream&) = delete;
    FFMIDIInputStream& operator=(const FFMIDIInputStream&) = delete;

    // Not owned; null drops the batches.
    FFMIDIMessageDestination* messageDestination() const { return destination_; }
    void setMessageDestination(FFMIDIMessageDestination* destination) { destination_ = destination; }

    double sysExTimeOut() const { return sysExTimeOut_; }
    void setSysExTimeOut(double seconds);
    bool ignoresInvalidData() const { return ignoreInvalidData_; }
    void setIgnoresInvalidData(bool ignore);

    // From the client: a packet list from `source` arrived at this stream's port.
    virtual void takePacketList(FFMIDIUniqueID source, const FFMIDIPacketList& packets) = 0;

    void parser(FFMIDIMessageParser& parser, const FFMIDIMessageList& didReadMessages) override;
    void parser(FFMIDIMessageParser& parser, size_t isReadingSysExWithLength) override;
    void parser(FFMIDIMessageParser& parser,
                const FFMIDISystemExclusiveMessage& finishedReadingSysExMessage) override;

protected:
    explicit FFMIDIInputStream(FFMIDIClient& client) : client_(client) {}

    // The parser for a source, made on first use with the stream's settings.
    // Shared so that a caller feeding it keeps it alive should the
    // destination deselect the source while taking the batch.
    std::shared_ptr<FFMIDIMessageParser> parserForEndpoint(const std::shared_ptr<FFMIDIEndpoint>& endpoint);
    void removeParserForEndpoint(FFMIDIUniqueID uniqueID);

    FFMIDIClient& client_;

private:
    FFMIDIMessageDestination* destination_ = nullptr;
    std::map<FFMIDIUniqueID, std::shared_ptr<FFMIDIMessageParser>> parsers_;
    double sysExTimeOut_ = FFMIDIMessageParser::defaultSysExTimeOut;
    bool ignoreInvalidData_ = false;
};

}  // namespace tollvane
