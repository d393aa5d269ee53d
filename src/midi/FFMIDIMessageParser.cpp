#include "midi/FFMIDIMessageParser.h"

#include <algorithm>

#include "midi/FFMIDIInvalidMessage.h"
#include "midi/FFMIDIMessageParserDelegate.h"
#include "midi/FFMIDISystemCommonMessage.h"
#include "midi/FFMIDISystemExclusiveMessage.h"
#include "midi/FFMIDISystemRealTimeMessage.h"
#include "midi/FFMIDIVoiceMessage.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"

namespace tollvane {

namespace {

constexpr size_t kSysExProgressStep = 256;

// Data bytes a status byte expects; -1 for status bytes that are complete or invalid alone.
int dataLengthForStatus(uint8_t status) {
    switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xE0:
            return 2;
        case 0xC0:
        case 0xD0:
            return 1;
        default:
            break;
    }
    switch (status) {
        case 0xF1:
        case 0xF3:
            return 1;
        case 0xF2:
            return 2;
        default:
            return -1;
    }
}

void stamp(FFMIDIMessage& message, const std::shared_ptr<FFMIDIEndpoint>& endpoint) {
    message.setOriginatingEndpoint(endpoint);
}

}  // namespace

FFMIDIMessageParser::~FFMIDIMessageParser() {
    if (sysExTimeOutTimer_) sysExTimeOutTimer_->invalidate();
}

void FFMIDIMessageParser::takePacketList(const FFMIDIPacketList& packetList) {
    const std::shared_ptr<FFMIDIEndpoint> endpoint = originatingEndpoint_.lock();
    FFMIDIMessageList messages;
    for (const FFMIDIPacket& packet : packetList.packets()) parsePacket(packet, endpoint, messages);
    if (!messages.empty() && delegate_) delegate_->parser(*this, messages);
    updateSysExTimeOut();
}

FFMIDIMessageList FFMIDIMessageParser::messagesForPacket(const FFMIDIPacket& packet) {
    FFMIDIMessageList messages;
    parsePacket(packet, originatingEndpoint_.lock(), messages);
    return messages;
}

void FFMIDIMessageParser::parsePacket(const FFMIDIPacket& packet,
                                      const std::shared_ptr<FFMIDIEndpoint>& endpoint,
                                      FFMIDIMessageList& messages) {
    const uint64_t timeStamp = packet.timeStamp;
    const uint8_t* const bytes = packet.bytes.data();
    const size_t count = packet.bytes.size();

    uint8_t pendingStatus = 0;
    int expected = 0;
    int received = 0;
    uint8_t data[2] = {0, 0};
    std::vector<uint8_t> invalidRun;

    // An invalid run ends when a valid byte follows or the packet ends.
    auto flushInvalid = [&] {
        if (invalidRun.empty()) return;
        auto message = std::make_shared<FFMIDIInvalidMessage>(std::move(invalidRun), timeStamp);
        stamp(*message, endpoint);
        messages.push_back(std::move(message));
        invalidRun.clear();
    };
    auto markInvalid = [&](uint8_t byte) {
        if (!ignoreInvalidData_) invalidRun.push_back(byte);
    };

    size_t i = 0;
    while (i < count) {
        const uint8_t byte = bytes[i];
        if (byte >= 0xF8) {
            if (byte == 0xF9 || byte == 0xFD) {
                markInvalid(byte);
            } else {
                flushInvalid();
                auto message = std::make_shared<FFMIDISystemRealTimeMessage>(byte, timeStamp);
                stamp(*message, endpoint);
                messages.push_back(std::move(message));
            }
            ++i;
            continue;
        }
        if (byte >= 0x80) {
            const bool endsSysEx = byte == 0xF7 && isReadingSysEx();
            // F7 alone and F4/F5 are invalid but still clear the pending status.
            const bool valid = endsSysEx || (byte != 0xF4 && byte != 0xF5 && byte != 0xF7);
            // Whatever this byte completes comes after the invalid run before it.
            if (valid || isReadingSysEx()) flushInvalid();
            if (std::shared_ptr<FFMIDIMessage> sysEx =
                    finishSysExMessageWithValidEnd(byte == 0xF7, endpoint)) {
                messages.push_back(std::move(sysEx));
            }
            if (!valid) markInvalid(byte);
            pendingStatus = byte;
            received = 0;
            expected = std::max(dataLengthForStatus(byte), 0);
            if (byte == 0xF6) {
                auto message = std::make_shared<FFMIDISystemCommonMessage>(byte, 0, 0, timeStamp);
                stamp(*message, endpoint);
                messages.push_back(std::move(message));
            } else if (byte == 0xF0) {
                startSysEx(timeStamp);
            }
            ++i;
            continue;
        }
        // A data byte. Inside a system-exclusive message the whole run of data bytes goes in at once.
        if (isReadingSysEx()) {
            size_t end = i + 1;
            while (end < count && bytes[end] < 0x80) ++end;
            if (appendSysExData(bytes + i, end - i)) {
                flushInvalid();
                i = end;
                continue;
            }
        }
        if (expected > 0) {
            flushInvalid();
            data[received++] = byte;
            if (received == expected) {
                if (pendingStatus < 0xF0) {
                    auto message =
                        std::make_shared<FFMIDIVoiceMessage>(pendingStatus, data[0], data[1], timeStamp);
                    stamp(*message, endpoint);
                    messages.push_back(std::move(message));
                } else {
                    auto message = std::make_shared<FFMIDISystemCommonMessage>(pendingStatus, data[0],
                                                                               data[1], timeStamp);
                    stamp(*message, endpoint);
                    messages.push_back(std::move(message));
                }
                expected = 0;
                received = 0;
                data[1] = 0;
            }
        } else {
            markInvalid(byte);
        }
        ++i;
    }
    flushInvalid();
}

void FFMIDIMessageParser::startSysEx(uint64_t timeStamp) {
    {
        std::lock_guard lock(readingSysExLock_);
        readingSysExData_.emplace();
        readingSysEx_.store(true, std::memory_order_release);
    }
    startSysExTimeStamp_ = timeStamp;
    sysExOverflowLogged_ = false;
    if (delegate_) delegate_->parser(*this, size_t{1});
}

bool FFMIDIMessageParser::appendSysExData(const uint8_t* bytes, size_t count) {
    size_t before = 0;
    size_t after = 0;
    bool overflow = false;
    {
        std::lock_guard lock(readingSysExLock_);
        if (!readingSysExData_) return false;
        std::vector<uint8_t>& buffer = *readingSysExData_;
        before = buffer.size();
        const size_t room = maxSysExLength - before;
        const size_t taken = std::min(room, count);
        buffer.insert(buffer.end(), bytes, bytes + taken);
        after = buffer.size();
        overflow = taken < count;
    }
    if (overflow && !sysExOverflowLogged_) {
        sysExOverflowLogged_ = true;
        TLLog(
            "Warning: system exclusive message longer than %zu bytes; dropping the rest of its data. "
            "Ignoring.",
            maxSysExLength);
    }
    if (delegate_) {
        // Progress counts the F0: report each multiple of 256 the length passed.
        for (size_t mark = (before + 1) / kSysExProgressStep + 1; mark * kSysExProgressStep <= after + 1;
             ++mark) {
            delegate_->parser(*this, mark * kSysExProgressStep);
        }
    }
    return true;
}

std::shared_ptr<FFMIDIMessage> FFMIDIMessageParser::finishSysExMessageWithValidEnd(
    bool validEnd, const std::shared_ptr<FFMIDIEndpoint>& endpoint) {
    if (!isReadingSysEx()) return nullptr;
    std::shared_ptr<FFMIDISystemExclusiveMessage> message;
    {
        std::lock_guard lock(readingSysExLock_);
        readingSysEx_.store(false, std::memory_order_release);
        if (!readingSysExData_) return nullptr;
        message = std::make_shared<FFMIDISystemExclusiveMessage>(std::move(*readingSysExData_), validEnd,
                                                                 startSysExTimeStamp_);
        readingSysExData_.reset();
    }
    message->setOriginatingEndpoint(endpoint);
    if (delegate_) delegate_->parser(*this, *message);
    return message;
}

bool FFMIDIMessageParser::cancelReceivingSysExMessage() {
    std::lock_guard lock(readingSysExLock_);
    readingSysEx_.store(false, std::memory_order_release);
    const bool wasReading = readingSysExData_.has_value();
    readingSysExData_.reset();
    return wasReading;
}

void FFMIDIMessageParser::updateSysExTimeOut() {
    if (sysExTimeOutTimer_) {
        sysExTimeOutTimer_->invalidate();
        sysExTimeOutTimer_.reset();
    }
    if (!isReadingSysEx()) return;
    RunLoop* loop = RunLoop::mainIfInstalled();
    if (!loop) return;
    sysExTimeOutTimer_ = loop->scheduleTimer(sysExTimeOut_, false, [this] { sysExTimedOut(); });
}

void FFMIDIMessageParser::sysExTimedOut() {
    sysExTimeOutTimer_.reset();
    std::shared_ptr<FFMIDIMessage> message =
        finishSysExMessageWithValidEnd(false, originatingEndpoint_.lock());
    if (message && delegate_) delegate_->parser(*this, FFMIDIMessageList{std::move(message)});
}

}  // namespace tollvane
