#include "app/cli/MtcSendCommand.h"

#include <cstdio>
#include <thread>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/StopSignals.h"
#include "midi/MTCGenerator.h"
#include "midi/jack/MTCJackSender.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

namespace {

// The schedule kept for --print-schedule when no duration bounds it: an hour at 30 fps.
constexpr size_t kUnboundedRecord = 4 * 30 * 3600;

struct Options {
    EMTimecodeFramerate rate = EMTimecodeFramerate::framerateForIndex(3);
    std::string start = "01:00:00:00";
    double duration = 0;  // 0: until a signal
    std::string to;
    bool printSchedule = false;
};

// HH:MM:SS:FF with ':', ';' or '.' between the fields.
bool isTimecodeText(const std::string& text) {
    if (text.size() != 11) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2 ? (c != ':' && c != ';' && c != '.') : (c < '0' || c > '9')) return false;
    }
    return true;
}

}  // namespace

const char* MtcSendCommand::usage() {
    return "usage: tollvane-cli mtc-send [--rate FPS] [--start HH:MM:SS:FF] [--duration S] [--to PORT]\n"
           "                            [--print-schedule]\n"
           "\n"
           "Sends MIDI Time Code from a JACK client (\"tollvane-mtc\") with one MIDI output\n"
           "port: a full frame at the start, then quarter frames on schedule, each at the\n"
           "exact sample its time falls on. Needs a running JACK server ($JACK_DEFAULT_SERVER\n"
           "picks one). Stops after --duration, or on Ctrl-C.\n"
           "\n"
           "  --rate FPS          24, 25, 29.97df, 29.97 (non-drop) or 30; also 23.976,\n"
           "                      24.975 and 30df (default 25)\n"
           "  --start TC          the first timecode sent (default 01:00:00:00)\n"
           "  --duration S        seconds to send (default: until stopped)\n"
           "  --to PORT           connect the output to this MIDI input port: a full name,\n"
           "                      or a port name such as Tollvane (midi-monitor's input)\n"
           "  --print-schedule    after the run, list every quarter frame sent with the\n"
           "                      host time (seconds) of the sample it went out on\n";
}

int MtcSendCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    Options options;
    CommandLineOptions reader("mtc-send");
    reader.value("--rate", [&](const std::string& value) {
        const int index = EMTimecodeFramerate::indexForName(value);
        if (index < 0)
            throw CommandLineError("--rate takes 24, 25, 29.97df, 29.97 or 30, not '" + value + "'");
        options.rate = EMTimecodeFramerate::framerateForIndex(index);
    });
    reader.value("--start", [&](const std::string& value) {
        if (!isTimecodeText(value))
            throw CommandLineError("--start takes a timecode HH:MM:SS:FF, not '" + value + "'");
        options.start = value;
    });
    reader.value("--duration", [&](const std::string& value) {
        options.duration = CommandLineOptions::number("--duration", value);
        if (!(options.duration > 0) || options.duration > 86400)
            throw CommandLineError("--duration takes seconds above 0 and up to 86400, not '" + value + "'");
    });
    reader.value("--to", options.to);
    reader.flag("--print-schedule", options.printSchedule);
    if (!reader.parse(arguments, 0, 0)) {
        out << usage();
        return 0;
    }
    const auto start = EMTimecode::timecodeWithFramerate(options.rate, options.start);
    const int64_t startFrame = start->framesFromZero();

    MTCJackSender sender;
    if (!sender.open("tollvane-mtc")) {
        err << "tollvane-cli: " << sender.error() << "\n";
        return 1;
    }
    if (!options.to.empty() && !sender.connectTo(options.to)) {
        err << "tollvane-cli: " << sender.error() << "\n";
        return 1;
    }
    const MTCGenerator generator(options.rate, startFrame, sender.sampleRate());
    const uint64_t count = options.duration > 0 ? generator.countWithin(options.duration) : 0;
    const size_t record =
        options.printSchedule ? (count > 0 ? static_cast<size_t>(count) : kUnboundedRecord) : 0;

    out << "sending " << options.rate.label() << " MTC from " << start->stringRepresentation() << " on "
        << sender.portName();
    if (!options.to.empty()) out << " to " << options.to;
    out << " (" << sender.sampleRate() << " Hz, " << sender.bufferSize() << " frames a period)\n"
        << std::flush;

    {
        const StopSignals signals;
        sender.start(generator, count, record);
        while (!sender.finished() && !signals.requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sender.stop();
    }

    if (options.printSchedule) {
        const std::vector<uint64_t> times = sender.sentHostTimes();
        char line[96];
        for (size_t k = 0; k < times.size(); ++k) {
            const uint8_t data = generator.quarterFrameData(k);
            std::snprintf(line, sizeof line, "qf %zu piece %d data %02X host %.9f\n", k, data >> 4, data,
                          static_cast<double>(times[k]) / 1e9);
            out << line;
        }
    }
    out << "sent " << sender.sentCount() << " quarter frames";
    if (sender.xrunCount() > 0) out << ", " << sender.xrunCount() << " JACK cycles late or skipped";
    if (sender.lostEventCount() > 0) out << ", " << sender.lostEventCount() << " events lost";
    out << "\n";
    return 0;
}

}  // namespace tollvane
