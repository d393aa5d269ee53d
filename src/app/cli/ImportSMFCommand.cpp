#include "app/cli/ImportSMFCommand.h"

#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "document/Document.h"
#include "document/ImportSMFWindowController.h"
#include "document/SMFImporter.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "playback/FFMusicSequence.h"
#include "playback/TLEventController.h"

namespace tollvane {

namespace {

struct Options {
    std::string documentPath;
    std::string midiPath;
    std::optional<SMFImporter::TrackIndexes> tracks;
    uint32_t dropBars = 0;
    std::optional<int64_t> startBar;
    bool list = false;
    bool help = false;
    CommandLineAlertPresenter::Switches switches;
};

SMFImporter::TrackIndexes tracksFromOption(const std::string& value) {
    SMFImporter::TrackIndexes tracks;
    if (value.empty()) return tracks;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        tracks.insert(CommandLineOptions::wholeNumber(
            "--tracks", value.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return tracks;
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("import-smf");
    DocumentCommands::addAlertSwitches(reader, options.switches);
    reader.value("--tracks", [&](const std::string& value) { options.tracks = tracksFromOption(value); })
        .value("--drop-bars",
               [&](const std::string& value) {
                   options.dropBars = CommandLineOptions::wholeNumber("--drop-bars", value);
               })
        .value("--start-bar",
               [&](const std::string& value) {
                   options.startBar = CommandLineOptions::integer("--start-bar", value);
               })
        .flag("--list", options.list);
    options.help = !reader.parse(arguments, 2, 2, "a document FILE and a MIDI file");
    if (options.help) return options;
    const std::vector<std::string>& operands = reader.operands();
    options.documentPath = operands[0];
    options.midiPath = operands[1];
    return options;
}

std::string trackList(const SMFImporter::TrackIndexes& tracks) {
    if (tracks.empty()) return "none";
    std::string text;
    for (const uint32_t track : tracks) text += (text.empty() ? "" : ",") + std::to_string(track);
    return text;
}

}  // namespace

std::string ImportSMFCommand::usage() {
    return std::string(
               "usage: tollvane-cli import-smf FILE MIDI [--tracks LIST] [--drop-bars N] [--start-bar N]\n"
               "                               [--list] [--open-anyway] [--yes]\n"
               "\n"
               "Imports the Standard MIDI File MIDI into the Tollvane document FILE as a new cue\n"
               "and saves FILE (replaced whole or not at all). The file's tempo and meter\n"
               "changes become the cue's; notes and system-exclusive messages on the chosen\n"
               "tracks become streamers and punches through the event mapping (see 'mapping');\n"
               "an SMPTE offset becomes the cue's sync point.\n"
               "\n"
               "  --tracks LIST   the tracks to import, numbered from 0 without the tempo track,\n"
               "                  separated by commas (default: the tracks named \"Streamers\"\n"
               "                  or \"Punches\" in any letter case)\n"
               "  --drop-bars N   leave out N bars of pre-roll at the head of the file (default 0)\n"
               "  --start-bar N   number the cue's bars from N (default 1)\n"
               "  --list          list the tracks and the downbeat timecode first\n"
               "\n"
               "Nothing is imported, and FILE is left as it was, when MIDI is not a Standard MIDI\n"
               "File. Exit status 1 then.\n"
               "\n") +
           DocumentCommands::alertSwitchesUsage();
}

int ImportSMFCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    if (!FFMusicSequence::isPathForMIDIFile(options.midiPath) ||
        !FFMusicSequence::sequenceWithContentsOfFile(options.midiPath)) {
        throw std::runtime_error(options.midiPath + ": not a Standard MIDI File");
    }

    DocumentCommands::Session session(options.switches, err);
    const std::shared_ptr<Document> document = session.open(options.documentPath);
    TLEventController mapping;
    mapping.loadFromDefaults();
    SMFImporter importer(*document, &mapping);
    ImportSMFWindowController dialog(importer);
    dialog.setPathToImport(options.midiPath);
    dialog.setPrerollBarsToDrop(options.dropBars);
    if (options.startBar)
        document->cueController().setCueStartBarNumber(static_cast<int32_t>(*options.startBar));
    if (options.tracks) dialog.setTrackIndexesSelectedForImport(*options.tracks);

    if (options.list) {
        out << "tracks of " << options.midiPath << ":\n";
        for (size_t row = 0; row < dialog.numberOfRows(); ++row) {
            const bool selected =
                dialog.trackIndexesSelectedForImport().count(static_cast<uint32_t>(row)) != 0;
            out << "  " << (selected ? "* " : "  ") << row << "  "
                << DocumentCommands::printable(dialog.trackDescription(row)) << "\n";
        }
        out << "downbeat (bar " << dialog.smfDownbeatBarNumber() << ") at " << dialog.downbeatTimecodeString()
            << "\n";
    }

    const std::shared_ptr<Cue> cue = dialog.ok();
    std::string error;
    if (!document->writeToFile(options.documentPath, &error)) {
        throw std::runtime_error("cannot save " + options.documentPath + (error.empty() ? "" : ": " + error));
    }
    out << "added cue \"" << DocumentCommands::printable(cue->title()) << "\" from " << options.midiPath
        << " (tracks " << trackList(dialog.trackIndexesSelectedForImport()) << ", " << options.dropBars
        << (options.dropBars == 1 ? " bar" : " bars") << " dropped): sync " << cue->syncTimecodeString()
        << ", bars from " << document->cueController().cueStartBarNumber() << ", "
        << cue->tempoEvents().size() << " tempo, " << cue->meterEvents().size() << " meter, "
        << cue->trackEvents().size() << " track events; saved " << options.documentPath << "\n";
    return 0;
}

}  // namespace tollvane
