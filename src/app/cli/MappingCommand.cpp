#include "app/cli/MappingCommand.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/cli/CommandLineAlertPresenter.h"
#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "playback/TLEvent.h"
#include "playback/TLEventController.h"

namespace tollvane {

namespace {

// The mapping numbers notes an octave below MIDI: the MIDI controller looks
// up note n as n - 12.
constexpr int kMappingNoteOffset = 12;

struct Options {
    bool json = false;
    bool help = false;
    bool reset = false;
    std::optional<std::string> load;
    std::optional<std::string> save;
};

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    const auto path = [](std::optional<std::string>& into, const char* option) {
        return [&into, option](const std::string& value) {
            if (into) throw CommandLineError(std::string(option) + " given twice");
            if (value.empty()) throw CommandLineError(std::string(option) + " needs a FILE");
            into = value;
        };
    };
    CommandLineOptions reader("mapping");
    reader.flag("--json", options.json)
        .flag("--reset", options.reset)
        .value("--load", path(options.load, "--load"))
        .value("--save", path(options.save, "--save"));
    options.help = !reader.parse(arguments, 0, 0);
    if (options.load && options.reset) throw CommandLineError("--load and --reset cannot be used together");
    return options;
}

std::string format(const char* pattern, auto... arguments) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, arguments...);
    return buffer;
}

std::string noteName(int midiNote) {
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return names[midiNote % 12] + std::to_string(midiNote / 12 - 1);
}

std::string typeName(uint32_t type) {
    switch (type) {
        case TLEvent::kStreamer:
            return "streamer";
        case TLEvent::kPunch:
            return "punch";
        case TLEvent::kCueStart:
            return "cue start";
        case TLEvent::kClick:
            return "click";
        case TLEvent::kBeeps:
            return "beeps";
        case TLEvent::kTextChange:
            return "text change";
        case TLEvent::kReelMute:
            return "reel mute";
        case TLEvent::kCueChange:
            return "cue change";
        default:
            return format("0x%08x", type);
    }
}

const char* sizeWord(int64_t size) {
    return size == 0 ? "small" : size == 2 ? "large" : "regular";
}

// One mapping entry as the listing shows it.
struct Entry {
    std::optional<int64_t> noteOn;
    std::optional<std::vector<int64_t>> sysex;
    std::string name;
    std::string type;
    std::optional<double> length;  // streamer feet, punch holes
    std::optional<std::string> size;
    std::optional<std::vector<double>> color;
    std::optional<int64_t> beepCount;
    std::optional<double> beepTime;
};

Entry entryOf(const TLEvent& event) {
    Entry entry;
    const uint32_t type = event.eventType();
    if (const Value note = event.valueForKey("noteOn"); note.isNumber()) entry.noteOn = note.toInt64();
    if (const Value sysex = event.valueForKey("sysexArray"); sysex.isArray()) {
        entry.sysex.emplace();
        for (const Value& byte : sysex.arrayValue()->items) entry.sysex->push_back(byte.toInt64());
    }
    entry.name = event.eventName();
    entry.type = typeName(type);
    if (type == TLEvent::kStreamer || type == TLEvent::kPunch) {
        entry.length = event.valueForKey("eventLength").toDouble();
        entry.size = sizeWord(event.valueForKey("eventSize").toInt64());
        if (const std::shared_ptr<Color> color = event.color()) {
            entry.color =
                std::vector<double>{color->redComponent(), color->greenComponent(), color->blueComponent()};
        }
    }
    if (type == TLEvent::kBeeps) {
        entry.beepCount = event.valueForKey("beepCount").toInt64();
        entry.beepTime = event.valueForKey("beepTime").toDouble();
    }
    return entry;
}

// Notes first, low to high; then sysex messages; then entries nothing fires.
bool comesBefore(const Entry& a, const Entry& b) {
    const auto rank = [](const Entry& e) { return e.noteOn ? 0 : e.sysex ? 1 : 2; };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    if (a.noteOn && b.noteOn) return *a.noteOn < *b.noteOn;
    if (a.sysex && b.sysex) return *a.sysex < *b.sysex;
    return false;
}

std::string triggerText(const Entry& entry) {
    if (entry.noteOn) {
        const int64_t midi = (*entry.noteOn + kMappingNoteOffset) & 0xFF;
        return midi < 128
                   ? format("note %d (%s)", static_cast<int>(midi), noteName(static_cast<int>(midi)).c_str())
                   : format("noteOn %d", static_cast<int>(*entry.noteOn));
    }
    if (entry.sysex) {
        std::string text = "sysex";
        for (const int64_t byte : *entry.sysex) text += format(" %02X", static_cast<unsigned>(byte & 0xFF));
        return text;
    }
    return "-";
}

std::string number(double value) {
    return format("%g", value);
}

std::string column(const std::string& text, size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

void printText(const std::vector<Entry>& entries, const std::string& source, std::ostream& out) {
    out << "event mapping: " << entries.size() << (entries.size() == 1 ? " entry" : " entries") << " ("
        << source << ")\n";
    if (entries.empty()) return;
    out << "  " << column("trigger", 15) << column("event", 28) << column("type", 12) << column("length", 8)
        << column("size", 9) << "colour\n";
    for (const Entry& entry : entries) {
        std::string length = "-";
        if (entry.length)
            length = entry.type == "streamer" ? number(*entry.length) + "'" : number(*entry.length);
        std::string color = "-";
        if (entry.color) {
            color =
                number((*entry.color)[0]) + " " + number((*entry.color)[1]) + " " + number((*entry.color)[2]);
        }
        out << "  " << column(triggerText(entry), 15) << column(DocumentCommands::printable(entry.name), 28)
            << column(entry.type, 12) << column(length, 8) << column(entry.size.value_or("-"), 9) << color
            << "\n";
    }
}

void printJson(const std::vector<Entry>& entries, const std::string& source, std::ostream& out) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Entry& entry : entries) {
        nlohmann::ordered_json item;
        if (entry.noteOn) {
            item["noteOn"] = *entry.noteOn;
            const int64_t midi = (*entry.noteOn + kMappingNoteOffset) & 0xFF;
            item["midiNote"] = midi;
            if (midi < 128) item["noteName"] = noteName(static_cast<int>(midi));
        }
        if (entry.sysex) item["sysex"] = *entry.sysex;
        item["name"] = entry.name;
        item["type"] = entry.type;
        if (entry.length) item["length"] = *entry.length;
        if (entry.size) item["size"] = *entry.size;
        if (entry.color) item["color"] = *entry.color;
        if (entry.beepCount) item["beepCount"] = *entry.beepCount;
        if (entry.beepTime) item["beepTime"] = *entry.beepTime;
        list.push_back(std::move(item));
    }
    nlohmann::ordered_json root;
    root["source"] = source;
    root["entries"] = std::move(list);
    out << root.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

}  // namespace

std::string MappingCommand::usage() {
    return "usage: tollvane-cli mapping [--json] [--load FILE | --reset] [--save FILE]\n"
           "\n"
           "Prints the event mapping: for each MIDI note or system-exclusive message, the\n"
           "event it fires (its name, type, length in feet for a streamer or holes for a\n"
           "punch, size and colour). The mapping is the one stored in the user default\n"
           "\"eventMapping\", or the default mapping shipped with Tollvane when none is stored.\n"
           "\n"
           "  --json          print the mapping as a JSON object\n"
           "  --load FILE     read the preset FILE (a .TollvanePreset) and store it as the mapping\n"
           "  --reset         forget the stored mapping: the shipped default applies again\n"
           "  --save FILE     write the mapping (after --load or --reset) to the preset FILE\n"
           "\n"
           "The mapping is printed after the changes. A preset that cannot be read or written\n"
           "is reported with the reason, and the exit status is 1; a bad option gives 2.\n";
}

int MappingCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    CommandLineAlertPresenter presenter({}, err);
    AlertPresenter* previousPresenter = AlertPresenter::setShared(&presenter);
    struct Restore {
        AlertPresenter* previous;
        ~Restore() { AlertPresenter::setShared(previous); }
    } restore{previousPresenter};

    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    TLEventController controller;
    if (options.reset) defaults.removeObject(TLEventController::kEventMappingKey);
    if (options.load) {
        if (!controller.loadPresetFromPath(*options.load)) return 1;
        controller.saveToDefaults();
    } else {
        controller.loadFromDefaults();
    }
    if ((options.load || options.reset) && !defaults.synchronize()) {
        err << "tollvane-cli: the mapping could not be stored in the user defaults (" << defaults.path()
            << ")\n";
        return 1;
    }
    if (options.save && !controller.savePresetToPath(*options.save)) return 1;

    const bool stored = defaults.objectForKey(TLEventController::kEventMappingKey).isData();
    const std::string source = stored ? "user defaults" : "shipped default";
    std::vector<Entry> entries;
    for (const auto& event : controller.content()) entries.push_back(entryOf(*event));
    std::stable_sort(entries.begin(), entries.end(), comesBefore);
    if (options.json) {
        printJson(entries, source, out);
    } else {
        printText(entries, source, out);
    }
    return 0;
}

}  // namespace tollvane
