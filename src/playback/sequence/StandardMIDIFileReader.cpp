#include "playback/sequence/StandardMIDIFileReader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "playback/sequence/MusicSequence.h"

namespace tollvane {

namespace {

constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaTimeSignature = 0x58;
constexpr int kKeys = 16 * 128;

std::string hex(unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02X", value);
    return buffer;
}

// One pass over the bytes of a file; remembers the first thing that went wrong.
class Parser {
public:
    Parser(const uint8_t* bytes, size_t size) : begin_(bytes), end_(bytes + size) {
        head_.fill(-1);
        tail_.fill(-1);
    }

    bool parse(StandardMIDIFileReader::Contents& contents);
    const std::string& reason() const { return reason_; }
    int status() const { return status_; }

private:
    // A note-on waiting for its note-off; chained per key, oldest first.
    struct Pending {
        size_t eventIndex;
        uint64_t startTick;
        int32_t next;
        int16_t key;
        bool open;
    };

    bool fail(std::string reason, int status = kMusicSequenceError_InvalidFile) {
        reason_ = std::move(reason);
        status_ = status;
        return false;
    }
    size_t offset(const uint8_t* at) const { return static_cast<size_t>(at - begin_); }
    std::string at(const uint8_t* where) const { return "at byte " + std::to_string(offset(where)); }

    static uint32_t read32(const uint8_t* p) {
        return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    }
    static uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

    bool readVariableLength(const uint8_t*& p, const uint8_t* end, uint32_t& value);
    // `length` receives the time of the track's end (its end-of-track event,
    // or its last event when it has none).
    bool parseTrack(const uint8_t* p, const uint8_t* end, int number, std::vector<MusicEventData>& own,
                    std::vector<MusicEventData>& tempo, double& length);
    void startNote(std::vector<MusicEventData>& own, uint64_t tick, uint8_t status, uint8_t note,
                   uint8_t velocity);
    void endNote(std::vector<MusicEventData>& own, uint64_t tick, uint8_t status, uint8_t note,
                 uint8_t releaseVelocity);
    double beats(uint64_t ticks) const { return static_cast<double>(ticks) / division_; }

    const uint8_t* begin_;
    const uint8_t* end_;
    double division_ = 1.0;
    std::string reason_;
    int status_ = kMusicSequenceNoErr;
    std::vector<Pending> pending_;
    std::array<int32_t, kKeys> head_{};
    std::array<int32_t, kKeys> tail_{};
};

bool Parser::readVariableLength(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
    const uint8_t* start = p;
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (p == end) return fail("ends inside a variable-length number " + at(start));
        const uint8_t byte = *p++;
        value = value << 7 | (byte & 0x7Fu);
        if ((byte & 0x80) == 0) return true;
    }
    return fail("variable-length number longer than 4 bytes " + at(start));
}

void Parser::startNote(std::vector<MusicEventData>& own, uint64_t tick, uint8_t status, uint8_t note,
                       uint8_t velocity) {
    MIDINoteMessage message;
    message.channel = status & 0x0F;
    message.note = note;
    message.velocity = velocity;
    const int key = message.channel * 128 + note;
    const auto index = static_cast<int32_t>(pending_.size());
    pending_.push_back({own.size(), tick, -1, static_cast<int16_t>(key), true});
    if (tail_[key] >= 0) {
        pending_[tail_[key]].next = index;
    } else {
        head_[key] = index;
    }
    tail_[key] = index;
    own.push_back(MusicEventData::fixed(beats(tick), kMusicEventType_MIDINoteMessage, message));
}

void Parser::endNote(std::vector<MusicEventData>& own, uint64_t tick, uint8_t status, uint8_t note,
                     uint8_t releaseVelocity) {
    const int key = (status & 0x0F) * 128 + note;
    const int32_t index = head_[key];
    if (index < 0) return;
    head_[key] = pending_[index].next;
    if (head_[key] < 0) tail_[key] = -1;
    pending_[index].open = false;
    MusicEventData& event = own[pending_[index].eventIndex];
    MIDINoteMessage message;
    event.readFixed(message);
    message.releaseVelocity = releaseVelocity;
    message.duration = static_cast<float>(beats(tick - pending_[index].startTick));
    event = MusicEventData::fixed(event.timeStamp, kMusicEventType_MIDINoteMessage, message);
}

bool Parser::parseTrack(const uint8_t* p, const uint8_t* end, int number, std::vector<MusicEventData>& own,
                        std::vector<MusicEventData>& tempo, double& length) {
    pending_.clear();
    const std::string where = "track " + std::to_string(number) + ": ";
    uint64_t tick = 0;
    uint8_t runningStatus = 0;
    bool ended = false;
    while (p < end && !ended) {
        uint32_t delta = 0;
        if (!readVariableLength(p, end, delta)) return fail(where + reason_);
        tick += delta;
        if (p == end) return fail(where + "ends after a delta time " + at(p));
        const uint8_t* eventStart = p;
        uint8_t status = *p;
        if (status < 0x80) {
            if (runningStatus == 0) return fail(where + "data byte without a running status " + at(p));
            status = runningStatus;
        } else {
            ++p;
        }

        if (status < 0xF0) {
            runningStatus = status;
            const int dataBytes = (status & 0xE0) == 0xC0 ? 1 : 2;
            if (end - p < dataBytes) return fail(where + "ends inside a channel message " + at(eventStart));
            const uint8_t data1 = p[0];
            const uint8_t data2 = dataBytes == 2 ? p[1] : 0;
            if (data1 >= 0x80 || data2 >= 0x80) {
                return fail(where + "status byte where a data byte was expected " + at(p));
            }
            p += dataBytes;
            const uint8_t kind = status & 0xF0;
            if (kind == 0x90 && data2 > 0) {
                startNote(own, tick, status, data1, data2);
            } else if (kind == 0x90 || kind == 0x80) {
                endNote(own, tick, status, data1, kind == 0x80 ? data2 : 0);
            } else {
                MIDIChannelMessage message{status, data1, data2, 0};
                own.push_back(
                    MusicEventData::fixed(beats(tick), kMusicEventType_MIDIChannelMessage, message));
            }
            continue;
        }

        // Meta and system-exclusive events should cancel running status, but
        // some writers carry it across them; a status byte always follows
        // them in a file that keeps the rule, so keeping it reads both.
        if (status == 0xFF) {
            if (p == end) return fail(where + "ends inside a meta event " + at(eventStart));
            const uint8_t type = *p++;
            uint32_t length = 0;
            if (!readVariableLength(p, end, length)) return fail(where + reason_);
            if (length > static_cast<size_t>(end - p)) {
                return fail(where + "meta event length " + std::to_string(length) + " " + at(eventStart) +
                            " runs past the end of the track");
            }
            const uint8_t* data = p;
            p += length;
            if (type == kMetaEndOfTrack) {
                ended = true;
            } else if (type == kMetaTempo && length == 3 && (data[0] | data[1] | data[2]) != 0) {
                const uint32_t microseconds = uint32_t{data[0]} << 16 | uint32_t{data[1]} << 8 | data[2];
                tempo.push_back(MusicEventData::tempo(beats(tick), 60000000.0 / microseconds));
            } else if (type == kMetaTempo || type == kMetaTimeSignature) {
                tempo.push_back(MusicEventData::meta(beats(tick), type, data, length));
            } else {
                own.push_back(MusicEventData::meta(beats(tick), type, data, length));
            }
        } else if (status == 0xF0 || status == 0xF7) {
            uint32_t length = 0;
            if (!readVariableLength(p, end, length)) return fail(where + reason_);
            if (length > static_cast<size_t>(end - p)) {
                return fail(where + "system exclusive length " + std::to_string(length) + " " +
                            at(eventStart) + " runs past the end of the track");
            }
            // The F0 form sends its F0 too; the F7 form sends just the bytes it carries.
            std::vector<uint8_t> wire;
            wire.reserve(length + 1);
            if (status == 0xF0) wire.push_back(0xF0);
            wire.insert(wire.end(), p, p + length);
            p += length;
            own.push_back(
                MusicEventData::rawData(beats(tick), wire.data(), static_cast<uint32_t>(wire.size())));
        } else {
            return fail(where + "status " + hex(status) + " cannot appear in a file " + at(eventStart));
        }
    }

    // Notes still sounding end with their track.
    for (const Pending& note : pending_) {
        head_[note.key] = -1;
        tail_[note.key] = -1;
        if (!note.open) continue;
        MusicEventData& event = own[note.eventIndex];
        MIDINoteMessage message;
        event.readFixed(message);
        message.duration = static_cast<float>(beats(tick - note.startTick));
        event = MusicEventData::fixed(event.timeStamp, kMusicEventType_MIDINoteMessage, message);
    }
    length = beats(tick);
    return true;
}

bool Parser::parse(StandardMIDIFileReader::Contents& contents) {
    contents = {};
    const auto size = static_cast<size_t>(end_ - begin_);
    if (size < 4 || std::string_view(reinterpret_cast<const char*>(begin_), 4) != "MThd") {
        return fail("not a Standard MIDI File (it does not begin with \"MThd\")");
    }
    if (size < 14) return fail("the header chunk is cut short");
    const uint32_t headerLength = read32(begin_ + 4);
    if (headerLength < 6)
        return fail("the header chunk is too short (" + std::to_string(headerLength) + " bytes)");
    if (headerLength > size - 8) return fail("the header chunk length runs past the end of the file");
    const uint16_t format = read16(begin_ + 8);
    const uint16_t trackCount = read16(begin_ + 10);
    const auto division = static_cast<int16_t>(read16(begin_ + 12));
    if (format == 2)
        return fail("format 2 (independent patterns) is not supported", kMusicSequenceError_UnsupportedFile);
    if (format > 2)
        return fail("unknown format " + std::to_string(format), kMusicSequenceError_UnsupportedFile);
    if (division < 0)
        return fail("SMPTE-based time division is not supported", kMusicSequenceError_UnsupportedFile);
    if (division == 0) return fail("the time division is 0 ticks per quarter note");
    if (trackCount == 0) return fail("the file has no tracks");
    if (format == 0 && trackCount != 1) {
        return fail("a format 0 file has one track, this one declares " + std::to_string(trackCount));
    }
    contents.format = format;
    contents.ticksPerQuarter = static_cast<uint16_t>(division);
    division_ = division;

    const uint8_t* p = begin_ + 8 + headerLength;
    int number = 0;
    while (number < trackCount) {
        if (end_ - p < 8) {
            return fail("the file ends before track " + std::to_string(number + 1) + " of " +
                        std::to_string(trackCount));
        }
        const uint32_t length = read32(p + 4);
        if (length > static_cast<size_t>(end_ - p - 8)) {
            return fail("chunk length " + std::to_string(length) + " " + at(p) +
                        " runs past the end of the file (" + std::to_string(end_ - p - 8) + " bytes left)");
        }
        const bool isTrack = std::string_view(reinterpret_cast<const char*>(p), 4) == "MTrk";
        const uint8_t* body = p + 8;
        p = body + length;
        if (!isTrack) continue;  // chunks of unknown kinds are passed over
        ++number;
        if (format == 1 && number == 1) {
            if (!parseTrack(body, p, number, contents.tempoTrack, contents.tempoTrack,
                            contents.tempoTrackLength))
                return false;
        } else {
            contents.tracks.emplace_back();
            contents.trackLengths.push_back(0.0);
            if (!parseTrack(body, p, number, contents.tracks.back(), contents.tempoTrack,
                            contents.trackLengths.back()))
                return false;
            // The tempo track of a format 0 file is cut from its one track.
            if (format == 0) contents.tempoTrackLength = contents.trackLengths.back();
        }
    }
    // Tempo and time signatures gathered from later tracks fall in among the conductor's.
    std::stable_sort(
        contents.tempoTrack.begin(), contents.tempoTrack.end(),
        [](const MusicEventData& a, const MusicEventData& b) { return a.timeStamp < b.timeStamp; });
    return true;
}

}  // namespace

int StandardMIDIFileReader::parse(const uint8_t* bytes, size_t size, Contents& contents,
                                  std::string& reason) {
    Parser parser(bytes, size);
    if (parser.parse(contents)) return 0;
    reason = parser.reason();
    return parser.status();
}

int StandardMIDIFileReader::load(Contents&& contents, MusicSequence& sequence) {
    // Built on the side, so that a failure leaves the sequence as it was.
    MusicSequence loaded;
    int status = loaded.tempoTrack().addEvents(std::move(contents.tempoTrack));
    if (status == kMusicSequenceNoErr) status = loaded.tempoTrack().setLength(contents.tempoTrackLength);
    for (size_t index = 0; index < contents.tracks.size(); ++index) {
        if (status != kMusicSequenceNoErr) return status;
        MusicTrack* track = nullptr;
        status = loaded.newTrack(track);
        if (status == kMusicSequenceNoErr) status = track->addEvents(std::move(contents.tracks[index]));
        if (status == kMusicSequenceNoErr && index < contents.trackLengths.size())
            status = track->setLength(contents.trackLengths[index]);
    }
    if (status == kMusicSequenceNoErr) sequence.adoptContentsOf(loaded);
    return status;
}

int StandardMIDIFileReader::read(const uint8_t* bytes, size_t size, MusicSequence& sequence,
                                 std::string* reason) {
    Contents contents;
    std::string why;
    int status = parse(bytes, size, contents, why);
    if (status == kMusicSequenceNoErr) {
        status = load(std::move(contents), sequence);
        if (status != kMusicSequenceNoErr) {
            why = "the sequence did not take the file's events (error " + std::to_string(status) + ")";
        }
    }
    if (reason) *reason = why;
    return status;
}

int StandardMIDIFileReader::readFileBytes(const std::string& path, std::vector<uint8_t>& bytes,
                                          std::string* reason) {
    auto failed = [&](int status, const std::string& why) {
        if (reason) *reason = why;
        return status;
    };
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return failed(kMusicSequenceError_FileIO, std::strerror(EISDIR));
    errno = 0;
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file)
        return failed(kMusicSequenceError_FileIO, errno != 0 ? std::strerror(errno) : "cannot open it");
    const std::streamoff size = file.tellg();
    if (size < 0) return failed(kMusicSequenceError_FileIO, "cannot read it");
    if (static_cast<uint64_t>(size) > kMaxFileSize) {
        return failed(kMusicSequenceError_FileTooLarge,
                      "the file is larger than " + std::to_string(kMaxFileSize >> 20) + " MB");
    }
    bytes.resize(static_cast<size_t>(size));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), size)) {
        bytes.clear();
        return failed(kMusicSequenceError_FileIO, "cannot read it");
    }
    if (reason) reason->clear();
    return kMusicSequenceNoErr;
}

int StandardMIDIFileReader::readFile(const std::string& path, MusicSequence& sequence, std::string* reason) {
    std::vector<uint8_t> bytes;
    const int status = readFileBytes(path, bytes, reason);
    if (status != kMusicSequenceNoErr) return status;
    return read(bytes.data(), bytes.size(), sequence, reason);
}

}  // namespace tollvane
