#include "app/cli/MidiDumpCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/MidiMessageDescription.h"
#include "midi/FFMIDIMessageParser.h"
#include "midi/FFMIDIMessageParserDelegate.h"
#include "platform/ManualRunLoop.h"

namespace tollvane {

namespace {

struct Options {
    std::string path;
    size_t packetLength = 0;  // 0: the whole file as one packet
    bool json = false;
    bool help = false;
};

size_t parsePacketLength(const std::string& text) {
    size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || text[0] == '-' || value < 1 ||
        value > FFMIDIPacketList::maxPacketLength)
        throw CommandLineError("--packets needs a number of bytes from 1 to 65535, not '" + text + "'");
    return value;
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("midi-dump");
    reader.flag("--json", options.json).value("--packets", [&](const std::string& value) {
        options.packetLength = parsePacketLength(value);
    });
    options.help = !reader.parse(arguments, 1, 1, "a FILE to read");
    if (!options.help) options.path = reader.operands()[0];
    return options;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& reason) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        reason = std::strerror(errno);
        return false;
    }
    uint8_t buffer[65536];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + count);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) reason = std::strerror(error);
    return !failed;
}

struct Entry {
    uint64_t packet;
    std::shared_ptr<FFMIDIMessage> message;
};

struct Collector : FFMIDIMessageParserDelegate {
    std::vector<Entry> entries;
    void parser(FFMIDIMessageParser&, const FFMIDIMessageList& messages) override {
        for (const auto& message : messages) entries.push_back({message->timeStamp(), message});
    }
    void parser(FFMIDIMessageParser&, size_t) override {}
    void parser(FFMIDIMessageParser&, const FFMIDISystemExclusiveMessage&) override {}
};

}  // namespace

const char* MidiDumpCommand::usage() {
    return "usage: tollvane-cli midi-dump FILE.syx|FILE.bin [--packets N] [--json]\n"
           "\n"
           "Parses a file of raw MIDI bytes as Tollvane's MIDI input would and prints every\n"
           "message: its packet, type, channel and bytes, and what MTC quarter frames, MTC\n"
           "full frames, MIDI Machine Control and MIDI Show Control messages say. Bytes\n"
           "that fit no message are listed as invalid data; running status is not\n"
           "honoured. A system-exclusive message still open at the end of the file is\n"
           "listed as ended without F7.\n"
           "\n"
           "  --packets N   feed the bytes in packets of N bytes (1 to 65535), as a device\n"
           "                would deliver them; voice messages do not span packets\n"
           "  --json        print the messages as a JSON array\n";
}

int MidiDumpCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!readFile(options.path, bytes, reason)) {
        err << "tollvane-cli: cannot read " << options.path << ": " << reason << "\n";
        return 1;
    }

    // The parser times out open system exclusive on the main run loop: give
    // it one on virtual time, so that the end of the file can close it.
    ManualRunLoop loop;
    RunLoop* previous = RunLoop::setMain(&loop);
    Collector collector;
    size_t packetCount = 0;
    {
        FFMIDIMessageParser parser;
        parser.setDelegate(&collector);
        FFMIDIPacketList packets;
        const size_t length = options.packetLength ? options.packetLength : FFMIDIPacketList::maxPacketLength;
        for (size_t offset = 0; offset < bytes.size(); offset += length) {
            const size_t count = std::min(length, bytes.size() - offset);
            packets.addPacket(packets.size() + 1, std::span<const uint8_t>(bytes.data() + offset, count));
        }
        packetCount = packets.size();
        parser.takePacketList(packets);
        loop.advance(parser.sysExTimeOut());
    }
    RunLoop::setMain(previous);

    size_t invalid = 0;
    if (options.json) {
        nlohmann::ordered_json json = nlohmann::ordered_json::array();
        for (const Entry& entry : collector.entries) {
            const MidiMessageDescription description = MidiMessageDescription::describe(*entry.message);
            nlohmann::ordered_json item;
            item["packet"] = entry.packet;
            item["type"] = description.type;
            item["typeCode"] = entry.message->messageType();
            if (description.channel) item["channel"] = *description.channel;
            item["bytes"] = MidiMessageDescription::hex(description.bytes);
            if (!description.meaning.empty()) item["meaning"] = description.meaning;
            json.push_back(item);
        }
        out << json.dump(2) << "\n";
        return 0;
    }
    out << options.path << ": " << bytes.size() << (bytes.size() == 1 ? " byte" : " bytes") << " in "
        << packetCount << (packetCount == 1 ? " packet" : " packets") << "\n";
    for (const Entry& entry : collector.entries) {
        const MidiMessageDescription description = MidiMessageDescription::describe(*entry.message);
        if (entry.message->messageType() == FFMIDIMessageTypeInvalid) ++invalid;
        const std::string channel = description.channel ? "ch " + std::to_string(*description.channel) : "";
        char head[64];
        std::snprintf(head, sizeof head, "%6llu  %-18s %-6s ", static_cast<unsigned long long>(entry.packet),
                      description.type.c_str(), channel.c_str());
        std::string line = head + MidiMessageDescription::hex(description.bytes);
        if (!description.meaning.empty()) line += "  " + description.meaning;
        out << line << "\n";
    }
    out << collector.entries.size() << (collector.entries.size() == 1 ? " message" : " messages") << ", "
        << invalid << " invalid\n";
    return 0;
}

}  // namespace tollvane
