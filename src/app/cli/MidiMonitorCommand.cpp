#include "app/cli/MidiMonitorCommand.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/MidiMessageDescription.h"
#include "app/cli/StopSignals.h"
#include "document/Document.h"
#include "document/DocumentController.h"
#include "midi/FFMIDIBackendChooser.h"
#include "midi/FFMIDIClient.h"
#include "midi/FFMIDIMessageDestination.h"
#include "midi/FFMIDIPortInputStream.h"
#include "midi/FFMIDIVirtualInputStream.h"
#include "midi/TLMIDIController.h"
#include "platform/AlertPresenter.h"
#include "platform/BlockingRunLoop.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "playback/PlaybackApplication.h"
#include "playback/SyncController.h"
#include "playback/TLEventController.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

namespace {

// How often the loop looks for a stop signal.
constexpr double kSignalPollInterval = 0.05;

struct Options {
    std::string midi;
    std::string source = "all";
    int rateIndex = 3;
    double seconds = 0;  // 0: until a signal
};

std::string hostSeconds(uint64_t hostTime) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(hostTime) / 1e9);
    return text;
}

// Prints every timecode the controller accepts, with the host time of the
// message it came from.
class TimecodePrinter final : public PlaybackApplication {
public:
    explicit TimecodePrinter(std::ostream& out) : out_(out) {}
    void setController(const TLMIDIController* controller) { controller_ = controller; }
    void setMessageTime(uint64_t hostTime) { messageTime_ = hostTime; }

    void setLastReceivedTimecode(const EMTimecode& timecode) override {
        const bool running = controller_ && controller_->mtcValidMask() == TLMIDIController::kCompleteMask;
        out_ << hostSeconds(messageTime_) << "  timecode           " << timecode.stringRepresentation()
             << (running ? "  running" : "  assembling") << "\n";
    }

private:
    std::ostream& out_;
    const TLMIDIController* controller_ = nullptr;
    uint64_t messageTime_ = 0;
};

// Prints each message, then hands it to the MIDI controller, one at a time
// so that what the controller makes of it follows it.
class Printer final : public FFMIDIMessageDestination {
public:
    Printer(std::ostream& out, TLMIDIController& controller, TimecodePrinter& timecodes)
        : out_(out), controller_(controller), timecodes_(timecodes) {}

    void takeMIDIMessages(const FFMIDIMessageList& messages) override {
        for (const auto& message : messages) {
            if (!message) continue;
            const MidiMessageDescription description = MidiMessageDescription::describe(*message);
            char head[64];
            std::snprintf(head, sizeof head, "%s  %-18s ", hostSeconds(message->timeStamp()).c_str(),
                          description.type.c_str());
            std::string line = head + MidiMessageDescription::hex(description.bytes);
            if (description.channel) line += "  ch " + std::to_string(*description.channel);
            if (!description.meaning.empty()) line += "  " + description.meaning;
            if (const auto& endpoint = message->originatingEndpoint()) line += "  [" + endpoint->name() + "]";
            out_ << line << "\n";
            timecodes_.setMessageTime(message->timeStamp());
            controller_.takeMIDIMessages({message});
        }
        out_ << std::flush;
    }

private:
    std::ostream& out_;
    TLMIDIController& controller_;
    TimecodePrinter& timecodes_;
};

// Alerts (a selected source gone, a full frame at the wrong rate) as lines.
class AlertPrinter final : public AlertPresenter {
public:
    explicit AlertPrinter(std::ostream& err) : err_(err) {}
    int runAlert(const Alert& alert) override {
        err_ << "tollvane-cli: " << alert.title << ": " << alert.text << "\n";
        return 0;
    }

private:
    std::ostream& err_;
};

Options parseOptions(const std::vector<std::string>& arguments, bool& help) {
    Options options;
    CommandLineOptions reader("midi-monitor");
    reader.value("--midi", [&](const std::string& value) {
        const auto names = FFMIDIBackendChooser::backendNames();
        if (std::find(names.begin(), names.end(), value) == names.end())
            throw CommandLineError("--midi takes jack, alsa or loopback, not '" + value + "'");
        options.midi = value;
    });
    reader.value("--source", [&](const std::string& value) {
        if (value != "all" && value != "none") CommandLineOptions::integer("--source", value);
        options.source = value;
    });
    reader.value("--rate", [&](const std::string& value) {
        options.rateIndex = EMTimecodeFramerate::indexForName(value);
        if (options.rateIndex < 0)
            throw CommandLineError("--rate takes 24, 25, 29.97df, 29.97 or 30, not '" + value + "'");
    });
    reader.value("--seconds", [&](const std::string& value) {
        options.seconds = CommandLineOptions::number("--seconds", value);
        if (!(options.seconds > 0))
            throw CommandLineError("--seconds takes a number of seconds above 0, not '" + value + "'");
    });
    help = !reader.parse(arguments, 0, 0);
    return options;
}

}  // namespace

const char* MidiMonitorCommand::usage() {
    return "usage: tollvane-cli midi-monitor [--midi jack|alsa|loopback] [--source ID|all|none]\n"
           "                                [--rate FPS] [--seconds S]\n"
           "\n"
           "Listens on Tollvane's virtual MIDI input \"Tollvane\" and on the chosen sources,\n"
           "and prints every message with its host time (seconds), type and bytes, and\n"
           "every timecode assembled from MIDI Time Code, as the application would take\n"
           "it (\"assembling\" until a whole quarter-frame cycle has arrived, then\n"
           "\"running\"). Runs until --seconds have passed, or until Ctrl-C.\n"
           "\n"
           "  --midi NAME     use that MIDI system (default: JACK, else ALSA)\n"
           "  --source WHICH  a source's unique ID (see midi-sources), all (default) or\n"
           "                  none (the virtual input only)\n"
           "  --rate FPS      the project frame rate MTC is checked against: 24, 25,\n"
           "                  29.97df, 29.97, 30, ... (default 25)\n"
           "  --seconds S     stop after S seconds\n";
}

int MidiMonitorCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    bool help = false;
    const Options options = parseOptions(arguments, help);
    if (help) {
        out << usage();
        return 0;
    }

    BlockingRunLoop loop;
    auto printer = std::make_shared<TimecodePrinter>(out);
    struct Restore {
        RunLoop* loop;
        std::shared_ptr<PlaybackApplication> application;
        Log::Sink sink;
        ~Restore() {
            Log::setSink(sink);
            PlaybackApplication::install(application);
            RunLoop::setMain(loop);
        }
    } restore{RunLoop::setMain(&loop), PlaybackApplication::install(printer),
              Log::setSink([&err](const std::string& line) { err << "tollvane-cli: " << line << "\n"; })};

    std::unique_ptr<FFMIDIBackend> backend = FFMIDIBackendChooser::chooseBackend(options.midi);
    if (!backend) return 1;
    const std::string backendName = backend->name();
    FFMIDIClient client(std::move(backend), "Tollvane", loop);
    if (!client.isValid()) return 1;

    // Nothing here is saved: the settings live in memory only.
    UserDefaults defaults{""};
    defaults.setBool("mtcOnline", true);
    defaults.setString("selectedMIDISourceEndpointID", "None");
    DocumentController documents;
    const std::shared_ptr<Document> document = Document::create();
    document->setProjectFramerate(options.rateIndex);
    documents.addDocument(document);
    SyncController sync;
    sync.setSyncThreadEnabled(false);
    TLEventController events;
    AlertPrinter alerts(err);

    TLMIDIController controller(nullptr, defaults, loop);
    controller.setSyncController(&sync);
    controller.setDocumentController(&documents);
    controller.setEventController(&events);
    controller.setAlertPresenter(&alerts);
    controller.start();
    printer->setController(&controller);
    Printer tap(out, controller, *printer);

    // The controller's own streams would hide the messages from us; these
    // two listen as its would and show each batch before handing it on.
    FFMIDIVirtualInputStream destination(client);
    destination.setMessageDestination(&tap);
    destination.setActive(true);
    std::unique_ptr<FFMIDIPortInputStream> sources;
    std::string listening = "no sources";
    try {
        sources = std::make_unique<FFMIDIPortInputStream>(client);
        sources->setMessageDestination(&tap);
        if (options.source == "all") {
            sources->setInputSources(client.sources());
            listening = "all sources (" + std::to_string(sources->inputSources().size()) + ")";
        } else if (options.source != "none") {
            const auto id =
                static_cast<FFMIDIUniqueID>(CommandLineOptions::integer("--source", options.source));
            const auto source = client.sourceWithUniqueID(id);
            if (!source) {
                err << "tollvane-cli: no MIDI source has the ID " << options.source
                    << " (see midi-sources)\n";
                printer->setController(nullptr);
                return 1;
            }
            sources->setInputSources({source});
            listening = "\"" + source->name() + "\"";
        }
    } catch (const std::exception&) {
        sources.reset();
    }
    if (!destination.isActive() && !sources) {
        err << "tollvane-cli: cannot listen to MIDI over " << backendName << "\n";
        printer->setController(nullptr);
        return 1;
    }

    out << "listening on \"Tollvane\"" << (destination.isActive() ? "" : " (not available)") << " and "
        << listening << " over " << backendName << ", MTC checked against "
        << EMTimecode::framerateForIndex(options.rateIndex).label() << "\n"
        << std::flush;

    {
        const StopSignals signals;
        const auto poll = loop.scheduleTimer(kSignalPollInterval, true, std::function<void()>([&] {
                                                 if (signals.requested()) loop.stop();
                                             }));
        if (options.seconds > 0) {
            loop.runUntil(loop.now() + options.seconds);
        } else {
            loop.run();
        }
        poll->invalidate();
    }
    printer->setController(nullptr);
    out << std::flush;
    return 0;
}

}  // namespace tollvane
