#pragma once

// Helpers for the Standard MIDI File tests: files spelled out byte by byte,
// and events shown as one line of text so that a mismatch reads plainly.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "playback/sequence/MusicEventData.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane::smftest {

using Bytes = std::vector<uint8_t>;

inline void append(Bytes& out, std::initializer_list<uint8_t> bytes) {
    out.insert(out.end(), bytes);
}

inline void append32(Bytes& out, uint32_t value) {
    append(out, {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                 static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

inline Bytes chunk(const char* kind, const Bytes& body) {
    Bytes out(kind, kind + 4);
    append32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
    return chunk("MThd", {static_cast<uint8_t>(format >> 8), static_cast<uint8_t>(format),
                          static_cast<uint8_t>(tracks >> 8), static_cast<uint8_t>(tracks),
                          static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)});
}

// A whole file: header and one MTrk chunk per body.
inline Bytes file(uint16_t format, uint16_t division, const std::vector<Bytes>& trackBodies) {
    Bytes out = header(format, static_cast<uint16_t>(trackBodies.size()), division);
    for (const Bytes& body : trackBodies) {
        Bytes track = chunk("MTrk", body);
        out.insert(out.end(), track.begin(), track.end());
    }
    return out;
}

inline Bytes readFixture(const std::string& name) {
    std::ifstream in(std::string(TOLLVANE_TEST_DATA) + "/smf/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string hexBytes(const uint8_t* data, size_t length) {
    std::string out;
    char buffer[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : " %02x", data[i]);
        out += buffer;
    }
    return out;
}

// "6 @1.5000 note ch 9 key 62 vel 71/0 dur 1.5000" and the like.
inline std::string show(const MusicEventData& event) {
    char line[160];
    const double time = event.timeStamp;
    double bpm = 0.0;
    uint8_t metaType = 0;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    MIDINoteMessage note;
    MIDIChannelMessage channel;
    if (event.readTempo(bpm)) {
        std::snprintf(line, sizeof line, "3 @%.4f tempo %.4f", time, bpm);
    } else if (event.readMeta(metaType, data, length)) {
        std::snprintf(line, sizeof line, "5 @%.4f meta %02x [%s]", time, metaType,
                      hexBytes(data, length).c_str());
    } else if (event.type == kMusicEventType_MIDINoteMessage && event.readFixed(note)) {
        std::snprintf(line, sizeof line, "6 @%.4f note ch %d key %d vel %d/%d dur %.4f", time, note.channel,
                      note.note, note.velocity, note.releaseVelocity, static_cast<double>(note.duration));
    } else if (event.type == kMusicEventType_MIDIChannelMessage && event.readFixed(channel)) {
        std::snprintf(line, sizeof line, "7 @%.4f channel %02x %02x %02x", time, channel.status,
                      channel.data1, channel.data2);
    } else if (event.type == kMusicEventType_MIDIRawData && event.readLengthPrefixed(data, length)) {
        std::snprintf(line, sizeof line, "8 @%.4f raw [%s]", time, hexBytes(data, length).c_str());
    } else {
        std::snprintf(line, sizeof line, "%u @%.4f payload [%s]", event.type, time,
                      hexBytes(event.payload.data(), event.payload.size()).c_str());
    }
    return line;
}

inline std::vector<std::string> show(const std::vector<MusicEventData>& events) {
    std::vector<std::string> lines;
    for (const MusicEventData& event : events) lines.push_back(show(event));
    return lines;
}

inline std::vector<std::string> showTrack(const MusicSequence& sequence, uint32_t index) {
    MusicTrack* track = nullptr;
    if (sequence.trackAtIndex(index, track) != kMusicSequenceNoErr)
        return {"no track " + std::to_string(index)};
    return show(track->events());
}

inline MusicEventData note(double beats, uint8_t channel, uint8_t key, uint8_t velocity, uint8_t release,
                           float duration) {
    return MusicEventData::fixed(beats, kMusicEventType_MIDINoteMessage,
                                 MIDINoteMessage{channel, key, velocity, release, duration});
}

inline MusicEventData channelMessage(double beats, uint8_t status, uint8_t data1, uint8_t data2 = 0) {
    return MusicEventData::fixed(beats, kMusicEventType_MIDIChannelMessage,
                                 MIDIChannelMessage{status, data1, data2, 0});
}

inline MusicEventData raw(double beats, std::initializer_list<uint8_t> bytes) {
    const Bytes data(bytes);
    return MusicEventData::rawData(beats, data.data(), static_cast<uint32_t>(data.size()));
}

inline MusicEventData meta(double beats, uint8_t type, std::initializer_list<uint8_t> bytes) {
    const Bytes data(bytes);
    return MusicEventData::meta(beats, type, data.data(), static_cast<uint32_t>(data.size()));
}

}  // namespace tollvane::smftest
