#include "app/cli/ChaseCommand.h"

#include <optional>
#include <stdexcept>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "app/cli/LiveSession.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "platform/HostClock.h"

namespace tollvane {

namespace {

struct Options {
    std::string file;
    std::optional<std::string> cue;
    LiveSession::Options live;
    CommandLineAlertPresenter::Switches switches;
};

}  // namespace

const char* ChaseCommand::usage() {
    return "usage: tollvane-cli chase FILE [--cue TITLE|ID] [--midi jack|alsa|none]\n"
           "                          [--audio jack|alsa|null] [--output DEVICE:CHANNEL[:stereo]]\n"
           "                          [--online] [--seconds N]\n"
           "\n"
           "Follows MIDI Time Code with FILE as the front document, as the program does on a\n"
           "scoring stage: it listens on the virtual MIDI input \"Tollvane\" (and on the sources\n"
           "the settings choose), selects reels and cues by timecode when the document says\n"
           "so, plays the click and warning beeps on the audio output, and fires the cues'\n"
           "events and the MIDI event mapping. It prints a line for each streamer, punch,\n"
           "beep run, cue start and MTC status change (host time in seconds, timecode, what),\n"
           "and a live status line: timecode, state, selected cue, bar|beat and count-off. Off\n"
           "a terminal the status line is printed whenever the state, cue or count-off change.\n"
           "Ctrl-C (SIGINT) or SIGTERM stops it: output stopped, event mapping saved, exit 0.\n"
           "\n"
           "  --cue TITLE|ID   select this cue at the start (its ID, exact title, or the one\n"
           "                   title holding the text)\n"
           "  --midi NAME      the MIDI system: jack, alsa, loopback or none (default: JACK,\n"
           "                   else ALSA)\n"
           "  --audio NAME     the audio system: jack, alsa or null (default: JACK, else ALSA,\n"
           "                   else silent)\n"
           "  --output DEVICE:CHANNEL[:stereo]\n"
           "                   play on this output (a name or ID from audio-devices; channels\n"
           "                   count from 1) instead of the one the settings keep\n"
           "  --online         follow MTC even when the settings say offline (a full frame at\n"
           "                   the wrong rate turns following off, and that is kept)\n"
           "  --seconds N      stop after N seconds\n";
}

int ChaseCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    Options options;
    options.live.commandStarted = HostClock::shared().now();
    CommandLineOptions reader("chase");
    DocumentCommands::addAlertSwitches(reader, options.switches);
    reader.value("--cue", [&](const std::string& value) { options.cue = value; });
    LiveSession::addOptions(reader, options.live);
    reader.value("--seconds", [&](const std::string& value) {
        options.live.seconds = CommandLineOptions::number("--seconds", value);
        if (!(options.live.seconds > 0))
            throw CommandLineError("--seconds takes a number of seconds above 0, not '" + value + "'");
    });
    if (!reader.parse(arguments, 1, 1, "a document FILE")) {
        out << usage() << "\n" << DocumentCommands::alertSwitchesUsage();
        return 0;
    }
    options.file = reader.operands()[0];

    try {
        DocumentCommands::Session documents(options.switches, err);
        const std::shared_ptr<Document> document = documents.open(options.file);
        if (options.cue) {
            document->cueController().setSelectedObjects(
                {DocumentCommands::findCue(*document, options.file, *options.cue)});
        }
        LiveSession session(out, err);
        session.start(options.file, document, options.live);
        session.stop(session.run());
        return 0;
    } catch (const CommandLineError&) {
        throw;
    } catch (const std::exception& error) {
        err << "tollvane-cli chase: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace tollvane
