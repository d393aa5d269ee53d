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

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "document/Document.h"
#include "model/Cue.h"
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

struct Options {
    std::optional<std::string> file;
    std::optional<std::string> cue;
    std::optional<std::string> from;
    double seconds = 20.0;
    bool realtime = false;
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
        .flag("--realtime", options.realtime);
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

std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

std::string colour(float red, float green, float blue) {
    return format("rgb %.2f %.2f %.2f", red, green, blue);
}

// The application a scoring stage would run, reduced to a list of what it
// was asked to show and sound.
class RehearsalApplication final : public PlaybackApplication {
public:
    RehearsalApplication(Timeline& timeline, const HostClock& clock) : timeline_(timeline), clock_(clock) {}

    void addStreamerWithRed(float red, float green, float blue, double feet, int size,
                            double skippingSeconds) override {
        std::string what = format("streamer %.1f ft, size %.0f, ", feet, size) + colour(red, green, blue);
        if (skippingSeconds > 0.0) what += format(", %.3f s already run", skippingSeconds);
        add(std::move(what));
    }
    void addPunchWithHoles(int holes, float red, float green, float blue, int size) override {
        addPunchWithHoles(holes, red, green, blue, size, 0.0);
    }
    void addPunchWithHoles(int holes, float red, float green, float blue, int size,
                           double afterDelay) override {
        timeline_.add(clock_.now() + HostClock::ticksFromSeconds(afterDelay),
                      format(holes == 1 ? "punch, %.0f hole, size %.0f, " : "punch, %.0f holes, size %.0f, ",
                             holes, size) +
                          colour(red, green, blue));
    }
    void cancelAllPunches() override {
        if (timeline_.cancelAfter(clock_.now(), "punch") > 0) add("punches cancelled");
    }
    void addBeepsWithTime(double time, int count, bool punches) override {
        add(format("%.0f beeps over %.2f s", count, time) + (punches ? ", with punches" : ""));
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

// The playback environment at the document's frame rate.
class RehearsalEnvironment final : public PlaybackEnvironment {
public:
    RehearsalEnvironment(TransportController& transport, CueController& cues, SyncController& sync,
                         TLEventController& events, EMTimecodeFramerate rate)
        : PlaybackEnvironment(transport, cues, sync, &events), rate_(rate) {}
    EMTimecodeFramerate projectFramerate() const override { return rate_; }

private:
    EMTimecodeFramerate rate_;
};

// The controllers of a rehearsal, made on one clock, and everything they
// reach installed for as long as they live.
class Rehearsal {
public:
    Rehearsal(const HostClock& clock, EMTimecodeFramerate rate, bool threads)
        : timeline_(sync_, clock.now()),
          application_(std::make_shared<RehearsalApplication>(timeline_, clock)),
          clicks_(timeline_, clock),
          events_(clock),
          cues_(nullptr, clock),
          sync_(clock),
          transport_(cues_, sync_),
          previousApplication_(PlaybackApplication::install(application_)),
          previousEnvironment_(CueEnvironment::install(
              std::make_shared<RehearsalEnvironment>(transport_, cues_, sync_, events_, rate))) {
        sync_.setCueController(&cues_);
        sync_.setAudioController(&clicks_);
        sync_.setSyncThreadEnabled(threads);
        if (!threads) {
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

void start(Rehearsal& rehearsal, const std::shared_ptr<EMTimecode>& from) {
    if (from) {
        rehearsal.sync().rehearseFromTimecode(*from);
    } else {
        rehearsal.transport().setRehearsalActive(true);
    }
}

void runVirtual(Rehearsal& rehearsal, ManualRunLoop& loop, const std::shared_ptr<EMTimecode>& from,
                double seconds) {
    loop.advance(kSettleSeconds);
    start(rehearsal, from);
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

void runRealtime(Rehearsal& rehearsal, BlockingRunLoop& loop, const std::shared_ptr<EMTimecode>& from,
                 double seconds) {
    loop.runUntil(loop.now() + kSettleSeconds);
    start(rehearsal, from);
    loop.runUntil(loop.now() + seconds);
    rehearsal.transport().setRehearsalActive(false);
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

}  // namespace

const char* RehearseCommand::usage() {
    return "usage: tollvane-cli rehearse FILE --cue TITLE|ID [--from TIMECODE] [--seconds N] [--realtime]\n"
           "\n"
           "Rehearses one cue of a document as the transport does: from just before the\n"
           "cue's rehearsal start (the count-off into its playback start), or from\n"
           "--from TIMECODE, for N seconds (20 by default). Prints, in time order, every\n"
           "click, streamer, punch, beep run, cue start, overlay text and status change:\n"
           "seconds from the start of the run, the timecode, and what it was.\n"
           "\n"
           "By default the rehearsal runs on virtual time and prints at once; --realtime\n"
           "runs it on the system clock with the sync and player threads, taking N seconds.\n"
           "Latency compensation comes from the user defaults \"latencyCompensation\" and\n"
           "\"latencyCompensationAudio\".\n"
           "\n"
           "  --cue TITLE|ID   the cue: its ID, its exact title, or the one title holding the text\n"
           "  --from TIMECODE  start there instead of before the rehearsal start\n"
           "  --seconds N      how long to run (default 20)\n"
           "  --realtime       run on the system clock\n";
}

int RehearseCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage() << "\n" << DocumentCommands::alertSwitchesUsage();
        return 0;
    }
    std::unique_ptr<ManualRunLoop> virtualLoop;
    std::unique_ptr<BlockingRunLoop> realLoop;
    if (options.realtime) {
        realLoop = std::make_unique<BlockingRunLoop>();
    } else {
        virtualLoop = std::make_unique<ManualRunLoop>(kVirtualStart);
    }
    RunLoop* loop = options.realtime ? static_cast<RunLoop*>(realLoop.get()) : virtualLoop.get();
    RunLoop* previousLoop = RunLoop::setMain(loop);
    const HostClock* previousClock = options.realtime ? nullptr : HostClock::setShared(&virtualLoop->clock());
    struct Restore {
        RunLoop* loop;
        const HostClock* clock;
        bool restoreClock;
        ~Restore() {
            RunLoop::setMain(loop);
            if (restoreClock) HostClock::setShared(clock);
        }
    } restore{previousLoop, previousClock, !options.realtime};

    try {
        DocumentCommands::Session session(options.switches, err);
        const std::shared_ptr<Document> document = session.open(*options.file);
        const std::shared_ptr<Cue> cue = DocumentCommands::findCue(*document, *options.file, *options.cue);
        const EMTimecodeFramerate rate = session.environment().projectFramerate();
        const std::shared_ptr<EMTimecode> from = parseFrom(options, rate);

        Rehearsal rehearsal(HostClock::shared(), rate, options.realtime);
        rehearsal.cues().setSelectedCue(cue);
        out << "Rehearsing \"" << DocumentCommands::printable(cue->title()) << "\" (cue " << cue->cueID()
            << ") of " << *options.file << " for " << format("%.1f", options.seconds) << " s"
            << (options.realtime ? "" : " of virtual time") << "\n";
        if (options.realtime) {
            runRealtime(rehearsal, *realLoop, from, options.seconds);
        } else {
            runVirtual(rehearsal, *virtualLoop, from, options.seconds);
        }
        rehearsal.timeline().print(out);
        return 0;
    } catch (const CommandLineError&) {
        throw;
    } catch (const std::exception& error) {
        err << "tollvane-cli rehearse: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace tollvane
