#include "app/cli/LiveSession.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <stdexcept>

#include "app/TLAppDelegate.h"
#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/ConsoleStreamerView.h"
#include "app/cli/DocumentCommands.h"
#include "app/cli/EventDescriptions.h"
#include "app/cli/LiveLog.h"
#include "app/cli/LiveStatusLine.h"
#include "app/cli/StopSignals.h"
#include "audio/MTCoreAudioDevice.h"
#include "audio/TLAudioController.h"
#include "audio/alsa/AlsaAudioDevice.h"
#include "audio/jack/AudioDeviceLayerFactory.h"
#include "audio/jack/JackAudioDevice.h"
#include "document/Document.h"
#include "midi/TLMIDIController.h"
#include "platform/BlockingRunLoop.h"
#include "platform/HostClock.h"
#include "platform/UserDefaults.h"
#include "playback/PlaybackApplication.h"

namespace tollvane {

namespace {

// How often the status line is redrawn and the stop conditions looked at.
constexpr double kTickInterval = 0.04;

// The delegate as the core's application, with a line for what no view
// shows: beep runs, status texts and cue selections.
class LiveApplication final : public PlaybackApplication {
public:
    LiveApplication(TLAppDelegate& delegate, LiveLog& log) : delegate_(delegate), log_(log) {}

    void addStreamerWithRed(float red, float green, float blue, double feet, int size,
                            double skippingSeconds) override {
        delegate_.addStreamerWithRed(red, green, blue, feet, size, skippingSeconds);
    }
    void addPunchWithHoles(int holes, float red, float green, float blue, int size) override {
        delegate_.addPunchWithHoles(holes, red, green, blue, size);
    }
    void addPunchWithHoles(int holes, float red, float green, float blue, int size,
                           double afterDelay) override {
        delegate_.addPunchWithHoles(holes, red, green, blue, size, afterDelay);
    }
    void cancelAllPunches() override { delegate_.cancelAllPunches(); }
    void addBeepsWithTime(double time, int count, bool punches) override {
        log_.event(HostClock::shared().now(), EventDescriptions::beeps(time, count, punches));
        delegate_.addBeepsWithTime(time, count, punches);
    }
    void addClickWithVolume(double volume) override {
        log_.event(HostClock::shared().now(), "live click");
        delegate_.addClickWithVolume(volume);
    }
    void setCueStart() override { delegate_.setCueStart(); }
    void setDisplayText(const std::string& text) override {
        log_.event(HostClock::shared().now(), "text \"" + DocumentCommands::printable(text) + "\"");
        delegate_.setDisplayText(text);
    }
    void setMovieMuted(bool muted) override { delegate_.setMovieMuted(muted); }
    void selectCueMatching(uint32_t documentHandle, const std::string& cueNumber) override {
        log_.event(HostClock::shared().now(),
                   "select cue \"" + DocumentCommands::printable(cueNumber) + "\"");
        delegate_.selectCueMatching(documentHandle, cueNumber);
    }
    void setMTCOfflineForRehearsal(bool offline) override { delegate_.setMTCOfflineForRehearsal(offline); }
    bool MTCOnline() const override { return delegate_.MTCOnline(); }
    void setLastReceivedTimecode(const EMTimecode& timecode) override {
        delegate_.setLastReceivedTimecode(timecode);
    }
    void setFreeTimeClockVisibleForAllWindows(bool visible) override {
        delegate_.setFreeTimeClockVisibleForAllWindows(visible);
    }
    void setMTCStatus(const std::string& status) override {
        log_.event(HostClock::shared().now(), "MTC: " + status);
        delegate_.setMTCStatus(status);
    }

private:
    TLAppDelegate& delegate_;
    LiveLog& log_;
};

// The terminal, unbuffered and silent, while a key may stop the session.
class KeyWatch {
public:
    KeyWatch() {
        if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios raw = saved_;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~KeyWatch() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    KeyWatch(const KeyWatch&) = delete;
    KeyWatch& operator=(const KeyWatch&) = delete;

    bool keyPressed() const {
        if (!active_) return false;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 0) <= 0) return false;
        char key = 0;
        return ::read(STDIN_FILENO, &key, 1) == 1;
    }

private:
    termios saved_{};
    bool active_ = false;
};

std::string streamFigures(const MTCoreAudioDevice* device) {
    double rate = 0.0;
    uint32_t frames = 0;
    if (const auto* jack = dynamic_cast<const JackAudioDevice*>(device)) {
        rate = jack->sampleRate();
        frames = jack->bufferFrames();
    } else if (const auto* alsa = dynamic_cast<const AlsaAudioDevice*>(device)) {
        rate = alsa->sampleRate();
        frames = alsa->bufferFrames();
    }
    if (rate <= 0.0 || frames == 0) return "";
    // Each system hands over one channel per buffer: its float count is its
    // frame count.
    return EventDescriptions::format(", %.0f Hz, %.0f frames, click allowance %.3f ms", rate, frames,
                                     TLAudioController::outputAllowance(frames) * 1000.0);
}

// One of a fixed set of names, or a CommandLineError listing them.
void checkChoice(const std::string& option, const std::string& value,
                 const std::vector<std::string>& allowed) {
    if (std::find(allowed.begin(), allowed.end(), value) != allowed.end()) return;
    std::string names;
    for (size_t i = 0; i < allowed.size(); ++i)
        names += (i == 0 ? "" : i + 1 == allowed.size() ? " or " : ", ") + allowed[i];
    throw CommandLineError(option + " takes " + names + ", not '" + value + "'");
}

}  // namespace

LiveSession::Output LiveSession::parseOutput(const std::string& text) {
    Output output;
    std::string rest = text;
    if (rest.ends_with(":stereo")) {
        output.stereo = true;
        rest.resize(rest.size() - 7);
    }
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw CommandLineError("--output takes DEVICE:CHANNEL[:stereo], not '" + text + "'");
    output.device = rest.substr(0, colon);
    const std::string channel = rest.substr(colon + 1);
    const int64_t number = CommandLineOptions::integer("--output", channel);
    if (number < 1 || number > 1024)
        throw CommandLineError("--output's channel counts from 1, not '" + channel + "'");
    output.channel = static_cast<int>(number);
    return output;
}

void LiveSession::addOptions(CommandLineOptions& reader, Options& live) {
    reader.value("--midi", [&](const std::string& value) {
        checkChoice("--midi", value, {"jack", "alsa", "loopback", "none"});
        live.engine.midi = value;
    });
    reader.value("--audio", [&](const std::string& value) {
        checkChoice("--audio", value, AudioDeviceLayerFactory::backendNames());
        live.engine.audio = value;
    });
    reader.value("--output",
                 [&](const std::string& value) { live.output = LiveSession::parseOutput(value); });
}

LiveSession::LiveSession(std::ostream& out, std::ostream& err)
    : out_(out),
      err_(err),
      startedAt_(HostClock::shared().now()),
      loop_(std::make_unique<BlockingRunLoop>()) {
    previousLoop_ = RunLoop::setMain(loop_.get());
}

LiveSession::~LiveSession() {
    stop("");
    status_.reset();
    engine_.reset();
    RunLoop::setMain(previousLoop_);
}

void LiveSession::start(const std::string& file, const std::shared_ptr<Document>& document, Options options) {
    options_ = std::move(options);
    if (options_.commandStarted != 0) startedAt_ = options_.commandStarted;
    options_.engine.windowFactory = [this](uint32_t number) -> std::shared_ptr<StreamerView> {
        auto view = std::make_shared<ConsoleStreamerView>(number, printingView_ ? nullptr : log_.get(),
                                                          HostClock::shared(), *loop_);
        if (!printingView_) printingView_ = view;
        return view;
    };
    engine_ = std::make_unique<Engine>(UserDefaults::standardUserDefaults(), *loop_, options_.engine);
    log_ = std::make_unique<LiveLog>(out_, engine_->syncController(), ::isatty(STDOUT_FILENO) != 0);
    engine_->start();
    // Console views wait for no window server: open them now rather than
    // half a second on, so nothing triggered at once goes unseen. The
    // delegate's own launch later skips windows already open.
    engine_->delegate().launchAllWindows();
    if (options_.online) engine_->midiController().setMTCOnline(true);
    previousApplication_ =
        PlaybackApplication::install(std::make_shared<LiveApplication>(engine_->delegate(), *log_));
    engine_->openDocument(document);
    if (options_.output) chooseOutput(*options_.output);
    status_ = std::make_unique<LiveStatusLine>(*engine_);
    printHeader(file);
}

void LiveSession::chooseOutput(const Output& output) {
    std::shared_ptr<MTCoreAudioDevice> chosen;
    for (const auto& device : engine_->audioLayer().allDevices()) {
        const std::string name = device->deviceName().value_or("");
        if (name == output.device || std::to_string(device->deviceID()) == output.device) chosen = device;
    }
    if (!chosen) {
        throw std::runtime_error("no " + engine_->audioSystem() + " audio output is called '" +
                                 output.device + "' (see audio-devices)");
    }
    const auto channels = chosen->channelsForDirection(MTCoreAudioDirection::kOutput);
    if (static_cast<uint32_t>(output.channel + (output.stereo ? 1 : 0)) > channels) {
        throw std::runtime_error("'" + output.device + "' has " + std::to_string(channels) +
                                 " output channels; channel " + std::to_string(output.channel) +
                                 (output.stereo ? " and the next" : "") + " cannot be used");
    }
    engine_->audioController().startOnDevice(chosen, output.channel - 1, output.stereo);
}

void LiveSession::printHeader(const std::string& file) {
    Engine& engine = *engine_;
    std::string midi = "MIDI: none";
    if (engine.midiClient()) {
        midi =
            "MIDI: \"Tollvane\" over " + engine.midiSystem() +
            (engine.midiController().MTCOnline() ? ", following MTC" : ", MTC offline (--online follows it)");
    }
    const TLAudioController& audio = engine.audioController();
    log_->line("document: " + file);
    log_->line(midi);
    log_->line("audio: " + audio.audioOutputDescription() + " (" + engine.audioSystem() + ")" +
               streamFigures(audio.outDevice().get()));
    log_->line(EventDescriptions::format(
        "ready after %.0f ms", HostClock::secondsBetween(startedAt_, HostClock::shared().now()) * 1000.0));
}

void LiveSession::settle(double seconds) {
    loop_->runUntil(loop_->now() + seconds);
}

std::string LiveSession::run(const std::function<bool()>& finished) {
    const StopSignals signals;
    const KeyWatch keys;
    std::string why;
    const auto ticker = loop_->scheduleTimer(kTickInterval, true, std::function<void()>([&] {
                                                 tick();
                                                 if (signals.requested()) {
                                                     why = "stopped by signal";
                                                 } else if (options_.stopOnKey && keys.keyPressed()) {
                                                     why = "stopped by a key";
                                                 } else if (finished && finished()) {
                                                     why = "finished";
                                                 }
                                                 if (!why.empty()) loop_->stop();
                                             }));
    if (options_.seconds > 0.0) {
        if (!loop_->runUntil(loop_->now() + options_.seconds) && why.empty()) why = "stopped";
        if (why.empty()) why = "time limit reached";
    } else {
        loop_->run();
    }
    ticker->invalidate();
    return why;
}

void LiveSession::tick() {
    if (!status_) return;
    const uint64_t now = HostClock::shared().now();
    status_->update(now);
    log_->status(now, status_->text(), status_->stableText());
}

void LiveSession::stop(const std::string& why) {
    if (stopped_ || !engine_) return;
    stopped_ = true;
    PlaybackApplication::install(previousApplication_);
    engine_->terminate();
    if (!log_) return;
    log_->finish();
    if (why.empty()) return;
    const ConsoleStreamerView::Counts counts =
        printingView_ ? printingView_->counts() : ConsoleStreamerView::Counts{};
    log_->line(why + EventDescriptions::format(": %.0f cue starts, %.0f streamers, %.0f punches shown",
                                               counts.cueStarts, counts.streamers, counts.punches));
}

}  // namespace tollvane
