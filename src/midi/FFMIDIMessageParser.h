#pragma once

// Turns packet lists of raw MIDI bytes into messages, byte by byte. Running
// status is not honoured; real-time bytes may sit inside any other message;
// a system-exclusive message may span packets and lists and is finished by
// F7, by any other non-real-time status byte, by cancelReceivingSysExMessage()
// or by the timeout: when no byte of it has arrived for sysExTimeOut seconds
// after a packet list, it is delivered as it stands. Bytes that fit no
// message become FFMIDIInvalidMessages unless ignored. Pending voice and
// system-common data lives only within one packet.
//
// A system-exclusive payload is capped at maxSysExLength bytes: later bytes
// are dropped with one logged warning and the message still ends as usual.
//
// Threads: everything on the main thread (the timeout timer runs on the main
// run loop), except cancelReceivingSysExMessage(), which may be called from
// any thread. Not real-time safe: it allocates.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "midi/FFMIDIMessage.h"
#include "midi/FFMIDIPacketList.h"

namespace tollvane {

class FFMIDIEndpoint;
class FFMIDIMessageParserDelegate;
class Timer;

class FFMIDIMessageParser {
public:
    static constexpr size_t maxSysExLength = size_t{1} << 20;
    static constexpr double defaultSysExTimeOut = 1.0;

    FFMIDIMessageParser() = default;
    ~FFMIDIMessageParser();
    FFMIDIMessageParser(const FFMIDIMessageParser&) = delete;
    FFMIDIMessageParser& operator=(const FFMIDIMessageParser&) = delete;

    // Parses every packet and hands all messages of the list to the delegate
    // in one call (none when there are none), then looks after the timeout.
    void takePacketList(const FFMIDIPacketList& packetList);
    // The packet's messages; a system-exclusive message it finishes included.
    FFMIDIMessageList messagesForPacket(const FFMIDIPacket& packet);
    // Drops the system-exclusive message in progress; answers whether there was one.
    bool cancelReceivingSysExMessage();

    // Not owned: the delegate must outlive the parser or be replaced first.
    FFMIDIMessageParserDelegate* delegate() const { return delegate_; }
    void setDelegate(FFMIDIMessageParserDelegate* delegate) { delegate_ = delegate; }
    // Not owned either; every message retains it.
    std::shared_ptr<FFMIDIEndpoint> originatingEndpoint() const { return originatingEndpoint_.lock(); }
    void setOriginatingEndpoint(const std::shared_ptr<FFMIDIEndpoint>& endpoint) {
        originatingEndpoint_ = endpoint;
    }
    double sysExTimeOut() const { return sysExTimeOut_; }
    void setSysExTimeOut(double seconds) { sysExTimeOut_ = seconds; }
    bool ignoresInvalidData() const { return ignoreInvalidData_; }
    void setIgnoresInvalidData(bool ignore) { ignoreInvalidData_ = ignore; }

    bool isReadingSysEx() const { return readingSysEx_.load(std::memory_order_acquire); }

private:
    void parsePacket(const FFMIDIPacket& packet, const std::shared_ptr<FFMIDIEndpoint>& endpoint,
                     FFMIDIMessageList& messages);
    // Appends data bytes to the message in progress; answers false when none is.
    bool appendSysExData(const uint8_t* bytes, size_t count);
    void startSysEx(uint64_t timeStamp);
    // Null when no message was in progress.
    std::shared_ptr<FFMIDIMessage> finishSysExMessageWithValidEnd(
        bool validEnd, const std::shared_ptr<FFMIDIEndpoint>& endpoint);
    void updateSysExTimeOut();
    void sysExTimedOut();

    std::weak_ptr<FFMIDIEndpoint> originatingEndpoint_;
    FFMIDIMessageParserDelegate* delegate_ = nullptr;

    // The message in progress, across packets. Only the main thread starts
    // one; any thread may drop it, so readingSysEx_ is a hint the main thread
    // may trust when false and must confirm under the lock when true.
    std::optional<std::vector<uint8_t>> readingSysExData_;
    std::mutex readingSysExLock_;
    std::atomic<bool> readingSysEx_{false};
    bool sysExOverflowLogged_ = false;
    uint64_t startSysExTimeStamp_ = 0;
    std::shared_ptr<Timer> sysExTimeOutTimer_;
    double sysExTimeOut_ = defaultSysExTimeOut;
    bool ignoreInvalidData_ = false;
};

}  // namespace tollvane
