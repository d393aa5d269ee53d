#include "midi/FFMIDIInputStream.h"

#include "midi/FFMIDIClient.h"
#include "midi/FFMIDIMessageDestination.h"
#include "midi/FFMIDISystemExclusiveMessage.h"
#include "platform/NotificationCenter.h"

namespace tollvane {

namespace {

int64_t sourceID(FFMIDIMessageParser& parser) {
    const std::shared_ptr<FFMIDIEndpoint> endpoint = parser.originatingEndpoint();
    return endpoint ? endpoint->uniqueID() : 0;
}

}  // namespace

FFMIDIInputStream::~FFMIDIInputStream() = default;

void FFMIDIInputStream::setSysExTimeOut(double seconds) {
    sysExTimeOut_ = seconds;
    for (auto& [id, parser] : parsers_) parser->setSysExTimeOut(seconds);
}

void FFMIDIInputStream::setIgnoresInvalidData(bool ignore) {
    ignoreInvalidData_ = ignore;
    for (auto& [id, parser] : parsers_) parser->setIgnoresInvalidData(ignore);
}

std::shared_ptr<FFMIDIMessageParser> FFMIDIInputStream::parserForEndpoint(
    const std::shared_ptr<FFMIDIEndpoint>& endpoint) {
    std::shared_ptr<FFMIDIMessageParser>& parser = parsers_[endpoint->uniqueID()];
    if (!parser) {
        parser = std::make_shared<FFMIDIMessageParser>();
        parser->setDelegate(this);
        parser->setSysExTimeOut(sysExTimeOut_);
        parser->setIgnoresInvalidData(ignoreInvalidData_);
    }
    // A source that went and came back is a new object: stamp messages with the current one.
    parser->setOriginatingEndpoint(endpoint);
    return parser;
}

void FFMIDIInputStream::removeParserForEndpoint(FFMIDIUniqueID uniqueID) {
    parsers_.erase(uniqueID);
}

void FFMIDIInputStream::parser(FFMIDIMessageParser&, const FFMIDIMessageList& didReadMessages) {
    if (destination_) destination_->takeMIDIMessages(didReadMessages);
}

void FFMIDIInputStream::parser(FFMIDIMessageParser& parser, size_t isReadingSysExWithLength) {
    NotificationCenter::defaultCenter().postNotificationName(
        FFMIDIInputStreamReadingSysExNotification, this,
        {{"length", Value(isReadingSysExWithLength)}, {"source", Value(sourceID(parser))}});
}

void FFMIDIInputStream::parser(FFMIDIMessageParser& parser, const FFMIDISystemExclusiveMessage& message) {
    NotificationCenter::defaultCenter().postNotificationName(
        FFMIDIInputStreamDoneReadingSysExNotification, this,
        {{"length", Value(message.receivedData().size() + 1)},
         {"valid", Value(message.wasReceivedWithEOX())},
         {"source", Value(sourceID(parser))}});
}

}  // namespace tollvane
