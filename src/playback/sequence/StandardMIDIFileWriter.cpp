#include "playback/sequence/StandardMIDIFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "playback/sequence/MusicSequence.h"

namespace tollvane {

namespace {

constexpr uint32_t kMaxVariableLength = 0x0FFFFFFF;
constexpr uint8_t kMetaEndOfTrack = 0x2F;

// Where an event goes among those at its tick: note-offs of notes begun
// earlier first, then everything in the order of the track, then the ends of
// notes of no length (after their own note-ons).
enum Phase : uint8_t { kEndingNote = 0, kInOrder = 1, kEndingEmptyNote = 2 };

uint64_t ticksFor(double beats) {
    if (!(beats > 0.0)) return 0;
    const double ticks = std::round(beats * StandardMIDIFileWriter::kTicksPerQuarter);
    return ticks < 0x1p62 ? static_cast<uint64_t>(ticks) : uint64_t{1} << 62;
}

uint8_t dataByte(unsigned value) {
    return static_cast<uint8_t>(std::min(value, 127u));
}

void putVariableLength(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t buffer[4];
    int count = 0;
    do {
        buffer[count++] = value & 0x7F;
        value >>= 7;
    } while (value != 0 && count < 4);
    while (count > 1) out.push_back(buffer[--count] | 0x80);
    out.push_back(buffer[0]);
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// Gathers one track's events as file messages, then writes them in file order.
class TrackEncoder {
public:
    void add(const MusicEventData& event);
    bool finish(uint64_t endTick, std::vector<uint8_t>& out);
    uint64_t lastTick() const { return lastTick_; }
    const std::string& reason() const { return reason_; }

private:
    struct Message {
        uint64_t tick;
        uint32_t order;
        Phase phase;
        size_t offset;  // into bytes_
        uint32_t length;
    };

    void message(uint64_t tick, Phase phase, uint32_t order, std::initializer_list<uint8_t> bytes) {
        messages_.push_back({tick, order, phase, bytes_.size(), static_cast<uint32_t>(bytes.size())});
        bytes_.insert(bytes_.end(), bytes);
        lastTick_ = std::max(lastTick_, tick);
    }
    // A message with a length-prefixed body: `head`, the length, the bytes.
    void message(uint64_t tick, std::initializer_list<uint8_t> head, const uint8_t* data, uint32_t length) {
        if (length > kMaxVariableLength) {
            reason_ = "an event of " + std::to_string(length) + " bytes is too long for the file format";
            return;
        }
        const size_t offset = bytes_.size();
        bytes_.insert(bytes_.end(), head);
        putVariableLength(bytes_, length);
        bytes_.insert(bytes_.end(), data, data + length);
        messages_.push_back(
            {tick, order_++, kInOrder, offset, static_cast<uint32_t>(bytes_.size() - offset)});
        lastTick_ = std::max(lastTick_, tick);
    }

    std::vector<Message> messages_;
    std::vector<uint8_t> bytes_;
    uint32_t order_ = 0;
    uint64_t lastTick_ = 0;
    std::string reason_;
};

void TrackEncoder::add(const MusicEventData& event) {
    const uint64_t tick = ticksFor(event.timeStamp);
    switch (event.type) {
        case kMusicEventType_ExtendedTempo: {
            double bpm = 0.0;
            if (!event.readTempo(bpm) || !std::isfinite(bpm) || bpm <= 0.0) return;
            const double rounded = std::round(60000000.0 / bpm);
            const auto microseconds = static_cast<uint32_t>(std::clamp(rounded, 1.0, double{0xFFFFFF}));
            message(tick, kInOrder, order_++,
                    {0xFF, 0x51, 0x03, static_cast<uint8_t>(microseconds >> 16),
                     static_cast<uint8_t>(microseconds >> 8), static_cast<uint8_t>(microseconds)});
            return;
        }
        case kMusicEventType_Meta: {
            uint8_t type = 0;
            const uint8_t* data = nullptr;
            uint32_t length = 0;
            if (!event.readMeta(type, data, length) || type == kMetaEndOfTrack) return;
            message(tick, {0xFF, type}, data, length);
            return;
        }
        case kMusicEventType_MIDINoteMessage: {
            MIDINoteMessage note;
            if (!event.readFixed(note) || note.velocity == 0) return;
            const auto channel = static_cast<uint8_t>(note.channel & 0x0F);
            const uint8_t key = dataByte(note.note);
            // Rounding the end rather than the duration keeps the order of the
            // ends of one key's notes, so that they pair back the same.
            const uint64_t endTick =
                note.duration > 0.0f
                    ? std::max(tick, ticksFor(event.timeStamp + static_cast<double>(note.duration)))
                    : tick;
            const uint32_t order = order_++;
            message(tick, kInOrder, order,
                    {static_cast<uint8_t>(0x90 | channel), key, dataByte(note.velocity)});
            message(endTick, endTick == tick ? kEndingEmptyNote : kEndingNote, order,
                    {static_cast<uint8_t>(0x80 | channel), key, dataByte(note.releaseVelocity)});
            return;
        }
        case kMusicEventType_MIDIChannelMessage: {
            MIDIChannelMessage channel;
            if (!event.readFixed(channel) || channel.status < 0x80 || channel.status >= 0xF0) return;
            if ((channel.status & 0xE0) == 0xC0) {
                message(tick, kInOrder, order_++, {channel.status, dataByte(channel.data1)});
            } else {
                message(tick, kInOrder, order_++,
                        {channel.status, dataByte(channel.data1), dataByte(channel.data2)});
            }
            return;
        }
        case kMusicEventType_MIDIRawData: {
            const uint8_t* data = nullptr;
            uint32_t length = 0;
            if (!event.readLengthPrefixed(data, length)) return;
            if (length > 0 && data[0] == 0xF0) {
                message(tick, {0xF0}, data + 1, length - 1);
            } else {
                message(tick, {0xF7}, data, length);
            }
            return;
        }
        default:
            return;  // user and other events have no form in the file
    }
}

bool TrackEncoder::finish(uint64_t endTick, std::vector<uint8_t>& out) {
    if (!reason_.empty()) return false;
    std::sort(messages_.begin(), messages_.end(), [](const Message& a, const Message& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.phase != b.phase) return a.phase < b.phase;
        return a.order < b.order;
    });
    out.insert(out.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0});
    const size_t start = out.size();
    uint64_t now = 0;
    uint8_t runningStatus = 0;
    auto advance = [&](uint64_t tick) {
        if (tick - now > kMaxVariableLength) {
            reason_ = "two events are more than " + std::to_string(kMaxVariableLength) +
                      " ticks apart, beyond what the file format can hold";
            return false;
        }
        putVariableLength(out, static_cast<uint32_t>(tick - now));
        now = tick;
        return true;
    };
    for (const Message& message : messages_) {
        if (!advance(message.tick)) return false;
        const uint8_t* bytes = bytes_.data() + message.offset;
        const uint8_t status = bytes[0];
        const bool channel = status < 0xF0;
        const size_t skip = channel && status == runningStatus ? 1 : 0;
        out.insert(out.end(), bytes + skip, bytes + message.length);
        runningStatus = channel ? status : 0;
    }
    if (!advance(std::max(endTick, now))) return false;
    out.insert(out.end(), {0xFF, kMetaEndOfTrack, 0x00});
    const size_t length = out.size() - start;
    if (length > 0xFFFFFFFFu) {
        reason_ = "a track is too long for the file format";
        return false;
    }
    for (int i = 0; i < 4; ++i) out[start - 4 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    return true;
}

bool writeTrack(const MusicTrack& track, std::vector<uint8_t>& out, std::string& reason) {
    TrackEncoder encoder;
    track.forEachEvent([&](const MusicEventData& event) { encoder.add(event); });
    if (encoder.finish(ticksFor(track.length()), out)) return true;
    reason = encoder.reason();
    return false;
}

}  // namespace

int StandardMIDIFileWriter::write(const MusicSequence& sequence, std::vector<uint8_t>& bytes,
                                  std::string* reason) {
    auto failed = [&](const std::string& why) {
        if (reason) *reason = why;
        return kMusicSequenceError_OutOfRange;
    };
    std::vector<MusicTrack*> tracks;
    const uint32_t count = sequence.trackCount();
    for (uint32_t index = 0; index < count; ++index) {
        MusicTrack* track = nullptr;
        if (sequence.trackAtIndex(index, track) == kMusicSequenceNoErr) tracks.push_back(track);
    }
    if (tracks.size() + 1 > 0xFFFF) return failed("a file holds at most 65,535 tracks");

    bytes.clear();
    bytes.insert(bytes.end(), {'M', 'T', 'h', 'd'});
    put32(bytes, 6);
    const auto trackCount = static_cast<uint16_t>(tracks.size() + 1);
    bytes.insert(bytes.end(),
                 {0x00, 0x01, static_cast<uint8_t>(trackCount >> 8), static_cast<uint8_t>(trackCount),
                  static_cast<uint8_t>(kTicksPerQuarter >> 8), static_cast<uint8_t>(kTicksPerQuarter)});
    std::string why;
    if (!writeTrack(sequence.tempoTrack(), bytes, why)) return failed(why);
    for (const MusicTrack* track : tracks) {
        if (!writeTrack(*track, bytes, why)) return failed(why);
    }
    if (reason) reason->clear();
    return kMusicSequenceNoErr;
}

int StandardMIDIFileWriter::writeFile(const MusicSequence& sequence, const std::string& path,
                                      std::string* reason) {
    std::vector<uint8_t> bytes;
    const int status = write(sequence, bytes, reason);
    if (status != kMusicSequenceNoErr) return status;

    auto failed = [&](const std::string& why) {
        if (reason) *reason = why;
        return kMusicSequenceError_FileIO;
    };
    // A new file beside the old one, renamed over it once complete.
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return failed(std::strerror(errno));
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string why = std::strerror(errno);
            ::close(fd);
            ::unlink(temporary.c_str());
            return failed(why);
        }
        written += static_cast<size_t>(n);
    }
    struct stat existing {};
    ::fchmod(fd, ::stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0644);
    if (::close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(temporary.c_str());
        return failed(why);
    }
    return kMusicSequenceNoErr;
}

}  // namespace tollvane
