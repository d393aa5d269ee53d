#pragma once

// A live session of the command line: the engine running on the system clock
// with a document in front, the console's streamer view, a line for each
// streamer, punch, beep run, cue start and status text, the live status
// line, and a clean stop on SIGINT, SIGTERM, a key, a time limit or the
// caller's own condition. chase and rehearse --realtime share it.
//
// Threads: main thread.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Engine.h"

namespace tollvane {

class BlockingRunLoop;
class CommandLineOptions;
class ConsoleStreamerView;
class Document;
class LiveLog;
class LiveStatusLine;
class PlaybackApplication;

class LiveSession {
public:
    // --output DEVICE:CHANNEL[:stereo]; the channel counts from 1.
    struct Output {
        std::string device;
        int channel = 1;
        bool stereo = false;
    };
    // Throws CommandLineError when the text is not of that form.
    static Output parseOutput(const std::string& text);

    struct Options {
        Engine::Options engine;
        std::optional<Output> output;
        // Seconds to run; 0 runs until stopped.
        double seconds = 0.0;
        // Follow MTC even when the settings say offline (the transport
        // bar's Online button; a full frame at the wrong rate turns it off).
        bool online = false;
        // Any key on the terminal stops the session.
        bool stopOnKey = false;
        // Host time the command began, for "ready after" (0: when the
        // session was made).
        uint64_t commandStarted = 0;
    };

    // --midi, --audio, --output and --online, for every live command.
    static void addOptions(CommandLineOptions& reader, Options& options);

    LiveSession(std::ostream& out, std::ostream& err);
    ~LiveSession();
    LiveSession(const LiveSession&) = delete;
    LiveSession& operator=(const LiveSession&) = delete;

    // Starts the engine with `document` in front and the chosen output, and
    // prints what it listens to and plays through, then "ready". Throws
    // std::runtime_error when the output cannot be found.
    void start(const std::string& file, const std::shared_ptr<Document>& document, Options options);
    Engine& engine() { return *engine_; }
    LiveLog& log() { return *log_; }

    // Runs the loop for a while (deferred work settles), ignoring stops.
    void settle(double seconds);
    // Runs until a stop signal, a key (when asked), the time limit, or
    // `finished` answering true (checked 25 times a second). Answers why it
    // stopped, for the closing line.
    std::string run(const std::function<bool()>& finished = {});
    // Quits in order (output stopped, mapping saved) and prints the counts.
    void stop(const std::string& why);

private:
    void chooseOutput(const Output& output);
    void printHeader(const std::string& file);
    void tick();

    std::ostream& out_;
    std::ostream& err_;
    uint64_t startedAt_;
    std::unique_ptr<BlockingRunLoop> loop_;
    RunLoop* previousLoop_ = nullptr;
    std::unique_ptr<LiveLog> log_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<LiveStatusLine> status_;
    std::shared_ptr<ConsoleStreamerView> printingView_;
    std::shared_ptr<PlaybackApplication> previousApplication_;
    Options options_;
    bool stopped_ = false;
};

}  // namespace tollvane
