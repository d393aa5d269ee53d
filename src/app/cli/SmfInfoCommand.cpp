#include "app/cli/SmfInfoCommand.h"

#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "playback/FFMusicEvent.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/StandardMIDIFileReader.h"

namespace tollvane {

namespace {

constexpr uint8_t kMetaText = 0x01;
constexpr uint8_t kMetaTrackName = 0x03;

struct Options {
    std::string path;
    bool json = false;
    bool help = false;
};

struct FileHeader {
    uint16_t format = 0;
    uint16_t ticksPerQuarter = 0;
};

struct TrackSummary {
    std::string name;  // the first track-name event's text; empty without one
    std::vector<std::string> texts;
    size_t eventCount = 0;
    std::map<uint32_t, size_t> eventsByType;
};

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("smf-info");
    reader.flag("--json", options.json);
    options.help = !reader.parse(arguments, 1, 1, "a FILE to read");
    if (!options.help) options.path = reader.operands()[0];
    return options;
}

TrackSummary summarise(const MusicTrack& track) {
    TrackSummary summary;
    bool named = false;
    track.forEachEvent([&](const MusicEventData& event) {
        ++summary.eventCount;
        ++summary.eventsByType[event.type];
        uint8_t type = 0;
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        if (!event.readMeta(type, data, length)) return;
        const std::string text(reinterpret_cast<const char*>(data), length);
        if (type == kMetaTrackName && !named) {
            summary.name = text;
            named = true;
        } else if (type == kMetaText) {
            summary.texts.push_back(text);
        }
    });
    return summary;
}

// Meta texts come from the file as they are: keep control characters off the terminal.
std::string printable(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '.';
    }
    return text;
}

std::string format(const char* pattern, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

void printTrack(const std::string& label, const TrackSummary& track, std::ostream& out) {
    out << "  " << label << " " << (track.name.empty() ? "(no name)" : "\"" + printable(track.name) + "\"")
        << ": " << track.eventCount << (track.eventCount == 1 ? " event" : " events");
    const char* separator = " (";
    for (const auto& [type, count] : track.eventsByType) {
        out << separator << count << " " << FFMusicEvent::typeAsString(type);
        separator = ", ";
    }
    out << (track.eventsByType.empty() ? "" : ")") << "\n";
    if (track.texts.empty()) return;
    out << "    text: ";
    for (size_t i = 0; i < track.texts.size(); ++i) out << (i == 0 ? "" : " / ") << printable(track.texts[i]);
    out << "\n";
}

void printText(const std::string& path, const FileHeader& header, const MusicSequence& sequence,
               const TrackSummary& tempoTrack, const std::vector<TrackSummary>& tracks, const TempoMap& map,
               std::ostream& out) {
    const double beats = sequence.lengthInBeats();
    out << path << ": format " << header.format << ", " << header.ticksPerQuarter
        << " ticks per quarter note, " << tracks.size() << (tracks.size() == 1 ? " track" : " tracks")
        << " and the tempo track\n";
    out << "length: " << format("%.3f", beats) << " beats, " << format("%.3f", map.secondsForBeats(beats))
        << " seconds\n\n";

    out << "tracks:\n";
    printTrack("tempo track", tempoTrack, out);
    for (size_t i = 0; i < tracks.size(); ++i) printTrack("track " + std::to_string(i), tracks[i], out);

    out << "\ntempo map:\n"
        << "        beat        bpm     seconds\n";
    for (const TempoMap::TempoSegment& segment : map.tempoSegments()) {
        out << format("  %10.3f", segment.beat) << format(" %10.3f", segment.bpm)
            << format(" %11.3f", segment.seconds) << "\n";
    }

    out << "\nmeters:\n"
        << "     bar        beat  meter\n";
    for (const TempoMap::MeterSegment& segment : map.meterSegments()) {
        char line[96];
        std::snprintf(line, sizeof line, "  %6lld  %10.3f  %u/%u\n", static_cast<long long>(segment.bar),
                      segment.beat, unsigned{segment.signature.numerator},
                      unsigned{segment.signature.denominator});
        out << line;
    }
}

nlohmann::ordered_json trackJson(const TrackSummary& track) {
    nlohmann::ordered_json json;
    json["name"] = track.name;
    json["texts"] = track.texts;
    json["eventCount"] = track.eventCount;
    json["eventsByType"] = nlohmann::ordered_json::object();
    for (const auto& [type, count] : track.eventsByType)
        json["eventsByType"][FFMusicEvent::typeAsString(type)] = count;
    return json;
}

void printJson(const std::string& path, const FileHeader& header, const MusicSequence& sequence,
               const TrackSummary& tempoTrack, const std::vector<TrackSummary>& tracks, const TempoMap& map,
               std::ostream& out) {
    nlohmann::ordered_json json;
    const double beats = sequence.lengthInBeats();
    json["file"] = path;
    json["format"] = header.format;
    json["ticksPerQuarterNote"] = header.ticksPerQuarter;
    json["trackCount"] = tracks.size();
    json["lengthInBeats"] = beats;
    json["lengthInSeconds"] = map.secondsForBeats(beats);
    json["tempoTrack"] = trackJson(tempoTrack);
    json["tracks"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < tracks.size(); ++i) {
        nlohmann::ordered_json track;
        track["index"] = i;
        track.update(trackJson(tracks[i]));
        json["tracks"].push_back(track);
    }
    json["tempoMap"] = nlohmann::ordered_json::array();
    for (const TempoMap::TempoSegment& segment : map.tempoSegments()) {
        json["tempoMap"].push_back(
            {{"beat", segment.beat}, {"bpm", segment.bpm}, {"seconds", segment.seconds}});
    }
    json["meters"] = nlohmann::ordered_json::array();
    for (const TempoMap::MeterSegment& segment : map.meterSegments()) {
        json["meters"].push_back({{"bar", segment.bar},
                                  {"beat", segment.beat},
                                  {"numerator", segment.signature.numerator},
                                  {"denominator", segment.signature.denominator}});
    }
    // Texts are the file's bytes and need not be UTF-8.
    out << json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

}  // namespace

const char* SmfInfoCommand::usage() {
    return "usage: tollvane-cli smf-info FILE [--json]\n"
           "\n"
           "Reads the Standard MIDI File FILE (format 0 or 1) as a cue import would and lists\n"
           "its tracks (name, text events, events by type), its tempo map (beat, bpm and\n"
           "seconds at each change) and its meters (bar, beat and meter at each change).\n"
           "A file that cannot be read is named with the reason, and the exit status is 1.\n"
           "\n"
           "  --json   print the same as a JSON object\n";
}

int SmfInfoCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    std::vector<uint8_t> bytes;
    std::string reason;
    StandardMIDIFileReader::Contents contents;
    MusicSequence sequence;
    int status = StandardMIDIFileReader::readFileBytes(options.path, bytes, &reason);
    if (status == kMusicSequenceNoErr)
        status = StandardMIDIFileReader::parse(bytes.data(), bytes.size(), contents, reason);
    const FileHeader header{contents.format, contents.ticksPerQuarter};
    if (status == kMusicSequenceNoErr) {
        status = StandardMIDIFileReader::load(std::move(contents), sequence);
        if (status != kMusicSequenceNoErr)
            reason = "the events do not fit a sequence (error " + std::to_string(status) + ")";
    }
    if (status != kMusicSequenceNoErr) {
        err << "tollvane-cli: cannot read " << options.path << ": " << reason << "\n";
        return 1;
    }

    const TrackSummary tempoTrack = summarise(sequence.tempoTrack());
    std::vector<TrackSummary> tracks;
    for (uint32_t index = 0; index < sequence.trackCount(); ++index) {
        MusicTrack* track = nullptr;
        if (sequence.trackAtIndex(index, track) == kMusicSequenceNoErr) tracks.push_back(summarise(*track));
    }
    const std::shared_ptr<const TempoMap> map = sequence.tempoMap();
    if (options.json) {
        printJson(options.path, header, sequence, tempoTrack, tracks, *map, out);
    } else {
        printText(options.path, header, sequence, tempoTrack, tracks, *map, out);
    }
    return 0;
}

}  // namespace tollvane
