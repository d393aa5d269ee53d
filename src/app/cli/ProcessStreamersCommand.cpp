#include "app/cli/ProcessStreamersCommand.h"

#include <filesystem>
#include <optional>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "document/Sequencer.h"

namespace tollvane {

namespace {

struct Options {
    std::string midiPath;
    std::optional<std::string> outputPath;
    bool help = false;
};

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("process-streamers");
    const auto output = [&](const std::string& value) { options.outputPath = value; };
    reader.value("-o", output).value("--output", output);
    options.help = !reader.parse(arguments, 1, 1, "a MIDI file");
    if (options.help) return options;
    options.midiPath = reader.operands()[0];
    if (!options.outputPath || options.outputPath->empty()) {
        throw CommandLineError("process-streamers needs -o OUT, the file to write the processed copy to");
    }
    return options;
}

}  // namespace

std::string ProcessStreamersCommand::usage() {
    return "usage: tollvane-cli process-streamers MIDI -o OUT\n"
           "\n"
           "Moves the notes of the track named \"Streamers\" (in any letter case) of the\n"
           "Standard MIDI File MIDI earlier, so that the streamers and punches they fire\n"
           "start ahead of their hits, and writes the processed copy to OUT (replaced whole\n"
           "or not at all). MIDI itself is left as it is.\n"
           "\n"
           "  notes 48, 50, 52, 53 (C, D, E, F)   punches, 0, 2, 4 and 6 frames (30 fps) earlier\n"
           "  notes 60-71, 72-83, 84-95          streamers, 2, 2 2/3 and 3 1/3 seconds earlier\n"
           "  other notes                        stay\n"
           "\n"
           "A note that would move before the start of the file stays, with a warning.\n"
           "\n"
           "  -o, --output OUT   the file to write (not MIDI itself)\n"
           "\n"
           "Nothing is written when MIDI cannot be read or has no \"Streamers\" track.\n"
           "Exit status 1 then, 2 without -o.\n";
}

int ProcessStreamersCommand::run(const std::vector<std::string>& arguments, std::ostream& out,
                                 std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    if (DocumentCommands::sameFile(options.midiPath, *options.outputPath)) {
        throw CommandLineError("-o names the MIDI file itself; give another file for the processed copy");
    }

    Sequencer sequencer;
    if (!sequencer.processMIDIFile(options.midiPath)) {
        out << sequencer.log().text();
        err << "tollvane-cli: " << options.midiPath << " not processed; nothing written\n";
        return 1;
    }
    const bool saved = sequencer.saveMIDIFile(*options.outputPath);
    out << sequencer.log().text();
    if (!saved) {
        err << "tollvane-cli: cannot write " << *options.outputPath << "\n";
        return 1;
    }
    out << "wrote " << *options.outputPath << "\n";
    return 0;
}

}  // namespace tollvane
