#include "app/cli/RehearseCommand.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "app/Engine.h"
#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "app/cli/EventDescriptions.h"
#include "app/cli/LiveSession.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "platform/BlockingRunLoop.h"
#include "platform/HostClock.h"
#include "platform/ManualHostClock.h"
#include "platform/ManualRunLoop.h"
#include "platform/UserDefaults.h"
#include "playback/ClickScheduler.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/FFMusicSequence.h"
#include "playback/PlaybackApplication.h"
#include "playback/PlaybackEnvironment.h"
#include "playback/SyncController.h"
#include "playback/TLEventController.h"
#include "playback/TransportController.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

namespace {

// Virtual time starts here rather than at 0, so that nothing mistakes it for
// "no host time".
constexpr uint64_t kVirtualStart = 1'000'000'000;
// Virtual time moves in these steps; user events fall due within one.
constexpr double kVirtualStep = 0.001;
// How often the sync controller's pass runs, as its thread does.
constexpr int kStepsPerSyncPass = 50;
// Lets the cues' deferred rebuilds and the transport's parking settle.
constexpr double kSettleSeconds = 0.5;
// How long a rehearsal on virtual time runs unless told.
constexpr double kVirtualSeconds = 20.0;

struct Options {
    std::optional<std::string> file;
    std::optional<std::string> cue;
    std::optional<std::string> from;
    std::optional<double> seconds;
    bool realtime = false;
    bool pickup = false;
    LiveSession::Options live;
    bool help = false;
    CommandLineAlertPresenter::Switches switches;
};

double parseSeconds(const std::string& text) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value <= 0.0 ||
        value > 24 * 3600.0) {
        throw CommandLineError("'" + text + "' is not a number of seconds (more than 0, at most a day)");
    }
    return value;
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("rehearse");
    DocumentCommands::addAlertSwitches(reader, options.switches);
    reader.value("--cue", [&](const std::string& value) { options.cue = value; })
        .value("--from", [&](const std::string& value) { options.from = value; })
        .value("--seconds", [&](const std::string& value) { options.seconds = parseSeconds(value); })
        .flag("--realtime", options.realtime)
        .flag("--pickup", options.pickup);
    LiveSession::addOptions(reader, options.live);
    options.help = !reader.parse(arguments, 1, 1, "a document FILE");
    if (options.help) return options;
    options.file = reader.operands()[0];
    if (!options.cue)
        throw CommandLineError("rehearse " + *options.file + " needs --cue TITLE|ID to choose the cue");
    return options;
}

// What the rehearsal showed and sounded, by host time. The sync thread adds
// clicks while the main thread adds the rest.
class Timeline {
public:
    Timeline(const SyncController& sync, uint64_t origin) : sync_(sync), origin_(origin) {}

    void add(uint64_t hostTime, std::string what) {
        const auto timecode = sync_.timecodeAtHostTime(hostTime);
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back({hostTime, entries_.size(), timecode->stringRepresentation(), std::move(what)});
    }

    // Drops what was due after `hostTime` and began with `kind`; answers
    // how many.
    size_t cancelAfter(uint64_t hostTime, std::string_view kind) {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::erase_if(entries_, [&](const Entry& entry) {
            return entry.hostTime > hostTime && entry.what.starts_with(kind);
        });
    }

    void print(std::ostream& out) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.hostTime != b.hostTime ? a.hostTime < b.hostTime : a.order < b.order;
        });
        for (const Entry& entry : entries_) {
            char line[64];
            std::snprintf(line, sizeof line, "%+9.3f  %s  ",
                          HostClock::secondsBetween(origin_, entry.hostTime), entry.timecode.c_str());
            out << line << entry.what << '\n';
        }
    }

private:
    struct Entry {
        uint64_t hostTime;
        size_t order;
        std::string timecode;
        std::string what;
    };
    const SyncController& sync_;
    const uint64_t origin_;
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

// The application a scoring stage would run, reduced to a list of what it
// was asked to show and sound.
class RehearsalApplication final : public PlaybackApplication {
public:
    RehearsalApplication(Timeline& timeline, const HostClock& clock) : timeline_(timeline), clock_(clock) {}

    void addStreamerWithRed(float red, float green, float blue, double feet, int size,
                            double skippingSeconds) override {
        add(EventDescriptions::streamer(red, green, blue, feet, size, skippingSeconds));
    }
    void addPunchWithHoles(int holes, float red, float green, float blue, int size) override {
        addPunchWithHoles(holes, red, green, blue, size, 0.0);
    }
    void addPunchWithHoles(int holes, float red, float green, float blue, int size,
                           double afterDelay) override {
        timeline_.add(clock_.now() + HostClock::ticksFromSeconds(afterDelay),
                      EventDescriptions::punch(holes, red, green, blue, size));
    }
    void cancelAllPunches() override {
        if (timeline_.cancelAfter(clock_.now(), "punch") > 0) add("punches cancelled");
    }
    void addBeepsWithTime(double time, int count, bool punches) override {
        add(EventDescriptions::beeps(time, count, punches));
    }
    void addClickWithVolume(double) override { add("live click"); }
    void setCueStart() override { add("cue start"); }
    void setDisplayText(const std::string& text) override {
        add("text \"" + DocumentCommands::printable(text) + "\"");
    }
    void setMovieMuted(bool muted) override { add(muted ? "movie muted" : "movie unmuted"); }
    void selectCueMatching(uint32_t, const std::string& cueNumber) override {
        add("select cue \"" + DocumentCommands::printable(cueNumber) + "\"");
    }
    void setMTCStatus(const std::string& status) override { add("status: " + status); }

private:
    void add(std::string what) { timeline_.add(clock_.now(), std::move(what)); }

    Timeline& timeline_;
    const HostClock& clock_;
};

class RehearsalClicks final : public ClickScheduler {
public:
    RehearsalClicks(Timeline& timeline, const HostClock& clock) : timeline_(timeline), clock_(clock) {}
    void addClickAtHostTime(uint64_t hostTime) override { timeline_.add(hostTime, "click"); }
    void removeAllScheduledClicks() override { timeline_.cancelAfter(clock_.now(), "click"); }

private:
    Timeline& timeline_;
    const HostClock& clock_;
};

// The controllers of a rehearsal, made on one clock, and everything they
// reach installed for as long as they live.
class Rehearsal {
public:
    Rehearsal(const HostClock& clock, EMTimecodeFramerate rate)
        : timeline_(sync_, clock.now()),
          application_(std::make_shared<RehearsalApplication>(timeline_, clock)),
          clicks_(timeline_, clock),
          events_(clock),
          cues_(nullptr, clock),
          sync_(clock),
          transport_(cues_, sync_),
          previousApplication_(PlaybackApplication::install(application_)),
          previousEnvironment_(CueEnvironment::install(
              std::make_shared<PlaybackEnvironment>(transport_, cues_, sync_, &events_, rate))) {
        sync_.setCueController(&cues_);
        sync_.setAudioController(&clicks_);
        sync_.setSyncThreadEnabled(false);
        // No player thread either: the virtual clock hands out the user
        // events (Rehearsal::deliver).
        cues_.setPlayerFactory([this, &clock](Cue& cue) -> std::unique_ptr<FFMusicPlayer> {
            auto sequence = cue.sequence();
            if (!sequence) return nullptr;
            sequence->setUserEventDestination(&events_);
            auto player = std::make_unique<FFMusicPlayer>(clock, MusicPlayer::Delivery::stepped);
            player->setSequence(sequence);
            player->goToTime(0.0);
            return player;
        });
    }

    ~Rehearsal() {
        sync_.pause();
        CueEnvironment::install(previousEnvironment_);
        PlaybackApplication::install(previousApplication_);
    }

    Timeline& timeline() { return timeline_; }
    CueController& cues() { return cues_; }
    SyncController& sync() { return sync_; }
    TransportController& transport() { return transport_; }

    // The user events of the cue player's player that have fallen due.
    void deliver(uint64_t hostTime) {
        std::lock_guard<std::recursive_mutex> lock(cues_.lock());
        if (FFMusicPlayer* player = cues_.player()) player->musicPlayer().deliverUntil(hostTime);
    }

private:
    // Declared first: the timeline reads the sync controller, declared later,
    // only when something is added.
    Timeline timeline_;
    std::shared_ptr<RehearsalApplication> application_;
    RehearsalClicks clicks_;
    TLEventController events_;
    CueController cues_;
    SyncController sync_;
    TransportController transport_;
    std::shared_ptr<PlaybackApplication> previousApplication_;
    std::shared_ptr<CueEnvironment> previousEnvironment_;
};

void start(TransportController& transport, SyncController& sync, const std::shared_ptr<EMTimecode>& from) {
    if (from) {
        sync.rehearseFromTimecode(*from);
    } else {
        transport.setRehearsalActive(true);
    }
}

void runVirtual(Rehearsal& rehearsal, ManualRunLoop& loop, const std::shared_ptr<EMTimecode>& from,
                bool pickup, double seconds) {
    if (pickup) rehearsal.transport().setPickupActive(true);
    loop.advance(kSettleSeconds);
    start(rehearsal.transport(), rehearsal.sync(), from);
    const uint64_t end = loop.clock().now() + HostClock::ticksFromSeconds(seconds);
    while (loop.clock().now() < end) {
        rehearsal.sync().runSyncPass();
        for (int step = 0; step < kStepsPerSyncPass && loop.clock().now() < end; ++step) {
            loop.advance(kVirtualStep);
            rehearsal.deliver(loop.clock().now());
        }
    }
    rehearsal.transport().setRehearsalActive(false);
    loop.runPending();
}

// HH:MM:SS:FF, with ':' ';' or '.' between the fields.
bool looksLikeTimecode(const std::string& text) {
    static const char* kShape = "99x99x99x99";
    if (text.size() != 11) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        const bool separator = text[i] == ':' || text[i] == ';' || text[i] == '.';
        if (kShape[i] == '9' ? !digit : !separator) return false;
    }
    return true;
}

std::shared_ptr<EMTimecode> parseFrom(const Options& options, EMTimecodeFramerate rate) {
    if (!options.from) return nullptr;
    if (!looksLikeTimecode(*options.from)) {
        throw CommandLineError("'" + DocumentCommands::printable(*options.from) +
                               "' is not a timecode (HH:MM:SS:FF at the document's frame rate)");
    }
    return EMTimecode::timecodeWithFramerate(rate, *options.from);
}

int rehearseVirtually(const Options& options, ManualRunLoop& loop, const std::shared_ptr<Cue>& cue,
                      EMTimecodeFramerate rate, const std::shared_ptr<EMTimecode>& from, std::ostream& out) {
    const double seconds = options.seconds.value_or(kVirtualSeconds);
    Rehearsal rehearsal(HostClock::shared(), rate);
    rehearsal.cues().setSelectedCue(cue);
    out << "Rehearsing \"" << DocumentCommands::printable(cue->title()) << "\" (cue " << cue->cueID()
        << ") of " << *options.file << " for " << EventDescriptions::format("%.1f", seconds)
        << " s of virtual time\n";
    runVirtual(rehearsal, loop, from, options.pickup, seconds);
    rehearsal.timeline().print(out);
    return 0;
}

// Whether the running rehearsal has reached the cue's end.
bool pastCueEnd(SyncController& sync, const Cue& cue) {
    const auto end = cue.cueEndTimecode();
    const auto now = sync.timecodeAtHostTime(HostClock::shared().now());
    return end && now && now->framesFromZero() >= end->framesFromZero();
}

int rehearseLive(Options options, const std::shared_ptr<Document>& document, const std::shared_ptr<Cue>& cue,
                 const std::shared_ptr<EMTimecode>& from, std::ostream& out, std::ostream& err) {
    document->cueController().setSelectedObjects({cue});
    LiveSession session(out, err);
    options.live.seconds = options.seconds.value_or(0.0);
    options.live.stopOnKey = true;
    session.start(*options.file, document, options.live);
    Engine& engine = session.engine();
    if (options.pickup) engine.transportController().setPickupActive(true);
    session.settle(kSettleSeconds);
    start(engine.transportController(), engine.syncController(), from);
    const std::string why = session.run([&] {
        SyncController& sync = engine.syncController();
        return !sync.rehearsalActive() || pastCueEnd(sync, *cue);
    });
    session.stop(why == "finished" ? "rehearsal ended" : why);
    return 0;
}

}  // namespace

const char* RehearseCommand::usage() {
    return "usage: tollvane-cli rehearse FILE --cue TITLE|ID [--from TIMECODE] [--pickup] [--seconds N]\n"
           "                             [--realtime [--midi NAME] [--audio NAME] [--output "
           "DEVICE:CHANNEL[:stereo]]\n"
           "                                         [--online]]\n"
           "\n"
           "Rehearses one cue of a document as the transport does: from just before the\n"
           "cue's rehearsal start (the count-off into its playback start), or from\n"
           "--from TIMECODE; --pickup rehearses with the transport's pickup settings.\n"
           "\n"
           "By default the rehearsal runs on virtual time for N seconds (20 by default) and\n"
           "prints at once, in time order, every click, streamer, punch, beep run, cue start,\n"
           "overlay text and status change: seconds from the start of the run, the\n"
           "timecode, and what it was.\n"
           "\n"
           "--realtime rehearses live, as the program does: the click and beeps play on the\n"
           "audio output, and a line is printed for each streamer, punch, beep run and cue\n"
           "start as it happens (host time in seconds, timecode, what) under a live status\n"
           "line, as chase prints them. It stops at the cue's end, after --seconds, on any\n"
           "key at the terminal, or on Ctrl-C.\n"
           "Latency compensation comes from the user defaults \"latencyCompensation\" and\n"
           "\"latencyCompensationAudio\".\n"
           "\n"
           "  --cue TITLE|ID   the cue: its ID, its exact title, or the one title holding the text\n"
           "  --from TIMECODE  start there instead of before the rehearsal start\n"
           "  --pickup         use the pickup settings (Pickup on the transport)\n"
           "  --seconds N      how long to run (virtual time: 20 by default)\n"
           "  --realtime       rehearse live on the system clock\n"
           "  --midi NAME      live: the MIDI system, jack, alsa, loopback or none\n"
           "  --audio NAME     live: the audio system, jack, alsa or null\n"
           "  --output DEVICE:CHANNEL[:stereo]\n"
           "                   live: play on this output (see audio-devices; channels from 1)\n"
           "  --online         live: follow MTC again even when the settings say offline\n";
}

int RehearseCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const uint64_t began = HostClock::shared().now();
    Options options = parseOptions(arguments);
    options.live.commandStarted = began;
    if (options.help) {
        out << usage() << "\n" << DocumentCommands::alertSwitchesUsage();
        return 0;
    }
    // Virtual time is in place before the document opens, so that its cues'
    // rebuilds run on it.
    std::optional<ManualRunLoop> virtualLoop;
    if (!options.realtime) virtualLoop.emplace(kVirtualStart);
    struct Restore {
        RunLoop* loop;
        const HostClock* clock;
        ~Restore() {
            RunLoop::setMain(loop);
            HostClock::setShared(clock);
        }
    } restore{virtualLoop ? RunLoop::setMain(&*virtualLoop) : RunLoop::mainIfInstalled(),
              virtualLoop ? HostClock::setShared(&virtualLoop->clock()) : &HostClock::shared()};
    try {
        DocumentCommands::Session session(options.switches, err);
        const std::shared_ptr<Document> document = session.open(*options.file);
        const std::shared_ptr<Cue> cue = DocumentCommands::findCue(*document, *options.file, *options.cue);
        const EMTimecodeFramerate rate = session.environment().projectFramerate();
        const std::shared_ptr<EMTimecode> from = parseFrom(options, rate);
        if (options.realtime) return rehearseLive(options, document, cue, from, out, err);
        return rehearseVirtually(options, *virtualLoop, cue, rate, from, out);
    } catch (const CommandLineError&) {
        throw;
    } catch (const std::exception& error) {
        err << "tollvane-cli rehearse: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace tollvane
