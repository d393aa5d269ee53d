// tollvane-cli: the command line of Tollvane.

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "TollvaneVersion.h"
#include "app/cli/AudioDevicesCommand.h"
#include "app/cli/ChaseCommand.h"
#include "app/cli/ClicksCommand.h"
#include "app/cli/CommandLineError.h"
#include "app/cli/DemoCommand.h"
#include "app/cli/ExportClicksCommand.h"
#include "app/cli/ExportCommands.h"
#include "app/cli/ImportCSVCommand.h"
#include "app/cli/ImportSMFCommand.h"
#include "app/cli/InfoCommand.h"
#include "app/cli/MappingCommand.h"
#include "app/cli/MidiDumpCommand.h"
#include "app/cli/MidiMonitorCommand.h"
#include "app/cli/MidiSourcesCommand.h"
#include "app/cli/MtcSendCommand.h"
#include "app/cli/NewCommand.h"
#include "app/cli/ProcessStreamersCommand.h"
#include "app/cli/RehearseCommand.h"
#include "app/cli/RelinkCommand.h"
#include "app/cli/SmfInfoCommand.h"
#include "app/cli/TimecodeCommand.h"

namespace {

const char* kUsage =
    "usage: tollvane-cli [--help] [--version] COMMAND [ARGS...]\n"
    "\n"
    "Commands:\n"
    "  timecode VALUE [options]   convert a timecode between frames, seconds, feet and frames\n"
    "                             and its printed forms, at any of the eight frame rates\n"
    "                             (tollvane-cli timecode --help for its options)\n"
    "  smf-info FILE [--json]     list a Standard MIDI File's tracks, tempo map and meters,\n"
    "                             or say why it cannot be read\n"
    "  clicks [options] [--json]  list every audible and visual click of a cue built from\n"
    "                             the options (tollvane-cli clicks --help for them)\n"
    "  clicks FILE --cue TITLE|ID [--json]\n"
    "                             the same for a cue of a document\n"
    "  new FILE [--rate RATE] [--force]\n"
    "                             write a new, empty document at a project frame rate\n"
    "  info FILE [--json]         list a document's reels, cues and ADR/Foley events\n"
    "  export-json FILE [-o OUT]  write a document's cue list as JSON\n"
    "  export-tsv FILE [-o OUT]   write a document's cue list as tab-delimited text\n"
    "  rehearse FILE --cue TITLE|ID [--from TC] [--seconds N] [--realtime]\n"
    "                             rehearse a cue through the transport and list every click,\n"
    "                             streamer, punch and beep it gives, in time order\n"
    "  chase FILE [--cue TITLE|ID] [--midi jack|alsa|none] [--audio jack|alsa|null]\n"
    "        [--output DEVICE:CHANNEL[:stereo]] [--seconds N]\n"
    "                             follow MIDI Time Code as on a scoring stage: clicks and beeps\n"
    "                             on the audio output, a line per streamer, punch, beep run and\n"
    "                             cue start, and a live status line; Ctrl-C stops it\n"
    "  demo [DIR] [--force]       write the demonstration document \"Tollvane Demo.tollvane\"\n"
    "                             (reels, three cues, ADR/Foley lines) into DIR\n"
    "  import-csv FILE TEXT [--delimiter D] [--columns LIST]\n"
    "                             import a delimited text file into a document's ADR/Foley\n"
    "                             list and save the document\n"
    "  midi-dump FILE [--packets N] [--json]\n"
    "                             parse a file of raw MIDI bytes and list every message,\n"
    "                             with MTC, MMC and MSC decoded (midi-dump --help)\n"
    "  midi-sources [--midi jack|alsa|loopback] [--json]\n"
    "                             list the MIDI system in use and its sources with their IDs\n"
    "  midi-monitor [--midi NAME] [--source ID|all|none] [--rate FPS] [--seconds S]\n"
    "                             print every MIDI message received with its host time, and\n"
    "                             the timecodes assembled from MTC\n"
    "  mtc-send [--rate FPS] [--start TC] [--duration S] [--to PORT] [--print-schedule]\n"
    "                             send MIDI Time Code from a JACK client\n"
    "  export-clicks FILE --cue TITLE|ID [-o OUT] [--format wav|aiff] [--rate HZ] [--bits 16|24|32]\n"
    "                             write a cue's click track as a mono WAVE or AIFF file\n"
    "                             (tollvane-cli export-clicks --help for its options)\n"
    "  audio-devices [--audio jack|alsa|null] [--json]\n"
    "                             list the audio outputs of one audio system, with rate,\n"
    "                             buffer and latency\n"
    "  import-smf FILE MIDI [--tracks LIST] [--drop-bars N] [--start-bar N] [--list]\n"
    "                             import a Standard MIDI File as a new cue of a document\n"
    "                             and save the document\n"
    "  process-streamers MIDI -o OUT\n"
    "                             move the notes of a MIDI file's \"Streamers\" track earlier\n"
    "                             by each streamer's length or punch's lead and write the\n"
    "                             processed copy to OUT\n"
    "  relink FILE DIR            find the missing movies of a document's reels in DIR\n"
    "                             and save the document\n"
    "  mapping [--json] [--load FILE | --reset] [--save FILE]\n"
    "                             print the MIDI event mapping, load or save a preset, or\n"
    "                             go back to the shipped default\n"
    "\n"
    "The commands that open a document refuse one made by a later version of Tollvane\n"
    "unless given --open-anyway (or --yes); each command's --help says more.\n"
    "\n"
    "Options:\n"
    "  -h, --help      print this help\n"
    "  --version       print the version\n"
    "\n"
    "Exit status: 0 on success, 2 for a bad option or value, 1 for any other failure.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        if (arguments.empty() || arguments[0] == "-h" || arguments[0] == "--help") {
            std::cout << kUsage;
            return arguments.empty() ? 2 : 0;
        }
        if (arguments[0] == "--version") {
            std::cout << "tollvane-cli " << TOLLVANE_VERSION_STRING << " (build " << TOLLVANE_BUILD_NUMBER
                      << ")\n";
            return 0;
        }
        std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
        if (arguments[0] == "timecode") return tollvane::TimecodeCommand::run(rest, std::cout);
        if (arguments[0] == "smf-info") return tollvane::SmfInfoCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "clicks") return tollvane::ClicksCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "new") return tollvane::NewCommand::run(rest, std::cout);
        if (arguments[0] == "info") return tollvane::InfoCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "export-json")
            return tollvane::ExportCommands::runJSON(rest, std::cout, std::cerr);
        if (arguments[0] == "export-tsv") return tollvane::ExportCommands::runTSV(rest, std::cout, std::cerr);
        if (arguments[0] == "rehearse") return tollvane::RehearseCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "chase") return tollvane::ChaseCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "demo") return tollvane::DemoCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "import-csv") return tollvane::ImportCSVCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "midi-dump") return tollvane::MidiDumpCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "export-clicks")
            return tollvane::ExportClicksCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "audio-devices") return tollvane::AudioDevicesCommand::run(rest, std::cout);
        if (arguments[0] == "import-smf") return tollvane::ImportSMFCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "midi-sources")
            return tollvane::MidiSourcesCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "midi-monitor")
            return tollvane::MidiMonitorCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "mtc-send") return tollvane::MtcSendCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "process-streamers")
            return tollvane::ProcessStreamersCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "relink") return tollvane::RelinkCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "mapping") return tollvane::MappingCommand::run(rest, std::cout, std::cerr);
        if (arguments[0].starts_with("-"))
            throw tollvane::CommandLineError("unknown option '" + arguments[0] + "'");
        throw tollvane::CommandLineError("unknown command '" + arguments[0] + "' (try --help)");
    } catch (const tollvane::CommandLineError& error) {
        std::fprintf(stderr, "tollvane-cli: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tollvane-cli: %s\n", error.what());
        return 1;
    }
}
