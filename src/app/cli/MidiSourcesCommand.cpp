#include "app/cli/MidiSourcesCommand.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "midi/FFMIDIBackendChooser.h"
#include "platform/Log.h"

namespace tollvane {

const char* MidiSourcesCommand::usage() {
    return "usage: tollvane-cli midi-sources [--midi jack|alsa|loopback] [--json]\n"
           "\n"
           "Lists the MIDI system Tollvane uses (JACK when a server runs, else the ALSA\n"
           "sequencer, else none) and every MIDI source it can listen to, with its unique\n"
           "ID: the value of the \"selectedMIDISourceEndpointID\" setting and of\n"
           "midi-monitor --source.\n"
           "\n"
           "  --midi NAME   use that MIDI system; fail when it is not there\n"
           "  --json        print {\"backend\": ..., \"sources\": [{\"name\", \"uniqueID\"}]}\n";
}

int MidiSourcesCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    std::string midi;
    bool json = false;
    CommandLineOptions options("midi-sources");
    options.value("--midi", [&](const std::string& value) {
        const auto names = FFMIDIBackendChooser::backendNames();
        if (std::find(names.begin(), names.end(), value) == names.end())
            throw CommandLineError("--midi takes jack, alsa or loopback, not '" + value + "'");
        midi = value;
    });
    options.flag("--json", json);
    if (!options.parse(arguments, 0, 0)) {
        out << usage();
        return 0;
    }

    // The chooser says why a system is not there; what starting one logs is
    // not this listing's business.
    std::string note;
    const Log::Sink previous = Log::setSink([&](const std::string& line) { note = line; });
    std::unique_ptr<FFMIDIBackend> backend = FFMIDIBackendChooser::chooseBackend(midi);
    Log::setSink([](const std::string&) {});
    std::vector<FFMIDIBackend::Source> sources;
    if (backend && backend->start("tollvane-cli", {}) == 0) sources = backend->sources();
    Log::setSink(previous);
    if (!backend) {
        err << "tollvane-cli: " << note << "\n";
        return 1;
    }
    if (!note.empty()) err << "tollvane-cli: " << note << "\n";

    if (json) {
        nlohmann::ordered_json result;
        result["backend"] = backend->name();
        result["sources"] = nlohmann::ordered_json::array();
        for (const FFMIDIBackend::Source& source : sources) {
            result["sources"].push_back({{"name", source.name}, {"uniqueID", source.uniqueID}});
        }
        out << result.dump(2) << "\n";
        return 0;
    }
    out << "MIDI system: " << backend->name() << "\n";
    if (sources.empty()) {
        out << "no MIDI sources\n";
        return 0;
    }
    for (const FFMIDIBackend::Source& source : sources) {
        char id[16];
        std::snprintf(id, sizeof id, "%d", source.uniqueID);
        out << id << "\t" << source.name << "\n";
    }
    return 0;
}

}  // namespace tollvane
