// The program end to end on a jackd of its own (dummy driver), run as a user
// runs it: tollvane-cli chase follows MIDI Time Code sent into "Tollvane",
// and a capture client records its JACK output. Every click the cue lists
// must sound within a millisecond of where the timecode puts it, streamers
// and punches must come at their times, and the clicks must stop with the
// timecode. A rehearsal without MTC clicks the same; MIDI Show Control and
// mapped notes reach the program; an unreadable document is refused.
// Skipped when jackd is not installed.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <time.h>
#include <unistd.h>
#include <mutex>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "midi/MTCGenerator.h"
#include "midi/jack/FFMIDIJackBackend.h"
#include "midi/jack/MTCJackSender.h"
#include "platform/HostClock.h"
#include "platform/SystemHostClock.h"
#include "platform/UserDefaults.h"
#include "support/ChildProcess.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"
#include "support/PrivateSettings.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kSampleRate = 48000;
constexpr uint32_t kPeriod = 256;
constexpr const char* kCue = "1M1 Opening";
constexpr double kAudioLatency = 0.005;

const std::string kSettingsFolder = usePrivateSettingsFolder("tollvane-chase-tests");

// Host time (ns) minus JACK time (µs, as ns), read in the narrowest window.
int64_t hostMinusJack() {
    int64_t best = 0;
    int64_t narrowest = INT64_MAX;
    for (int i = 0; i < 16; ++i) {
        const uint64_t before = SystemHostClock::instance().now();
        const jack_time_t jack = jack_get_time();
        const uint64_t after = SystemHostClock::instance().now();
        const auto window = static_cast<int64_t>(after - before);
        if (window < narrowest) {
            narrowest = window;
            best = static_cast<int64_t>(before + (after - before) / 2) - static_cast<int64_t>(jack * 1000);
        }
    }
    return best;
}

// Where a click starts in a recording, as a host time, and whether the cycle
// that wrote it ran late (a late cycle may see a later cycle's timing than
// the buffer it fills, so its placement cannot be judged).
struct Onset {
    int64_t hostTime;
    bool late;
};

// The first sample that is not silent after at least 30 ms of silence.
std::vector<Onset> clickOnsets(const CaptureClient& capture, int64_t hostMinusJackNs) {
    const jack_time_t period = kPeriod * 1000000ull / kSampleRate;
    std::vector<Onset> onsets;
    const std::vector<float>& samples = capture.channel(0);
    const size_t frames = capture.framesRecorded();
    const size_t quiet = kSampleRate * 30 / 1000;
    size_t silent = quiet;
    size_t cycle = 0;
    for (size_t i = 0; i < frames; ++i) {
        if (std::fabs(samples[i]) < 1e-6f) {
            ++silent;
            continue;
        }
        if (silent >= quiet) {
            while (cycle + 1 < capture.cyclesRecorded() && capture.cycle(cycle + 1).recordedAt <= i) ++cycle;
            const CaptureClient::Cycle& c = capture.cycle(cycle);
            const double jackNs = c.start * 1000.0 + (i - c.recordedAt) * 1e9 / kSampleRate;
            onsets.push_back({static_cast<int64_t>(jackNs) + hostMinusJackNs, c.late >= period});
        }
        silent = 0;
    }
    return onsets;
}

// Checks each expected click (host times of their first sample) against the
// nearest onset; answers how many could be judged. A cycle that ran late
// on this non-real-time server can read a neighbouring cycle's times (the
// capture's own lateness does not always show it), moving a click by whole
// periods: such a click is counted as moved, not judged.
int expectClicksAt(const std::vector<Onset>& onsets, const std::vector<double>& expected) {
    constexpr double kPeriodNs = kPeriod * 1e9 / kSampleRate;
    int judged = 0;
    int moved = 0;
    for (double at : expected) {
        const auto nearest =
            std::min_element(onsets.begin(), onsets.end(), [&](const Onset& a, const Onset& b) {
                return std::fabs(a.hostTime - at) < std::fabs(b.hostTime - at);
            });
        if (nearest == onsets.end()) {
            ADD_FAILURE() << "no click sounded";
            return judged;
        }
        const double off = nearest->hostTime - at;
        const double periods = std::round(off / kPeriodNs);
        if (nearest->late || (periods != 0.0 && std::fabs(off - periods * kPeriodNs) < 0.1e6)) {
            ++moved;
            continue;
        }
        EXPECT_LT(std::fabs(off), 1e6) << "a click is off by " << off / 1e6 << " ms";
        ++judged;
    }
    // More than a few moved clicks is no longer the server's occasional slip.
    EXPECT_LE(moved, std::max(1, judged / 10)) << moved << " clicks moved by whole periods";
    return judged;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A line of what a session showed: host seconds (live) or seconds from the
// start (virtual), the timecode as frames, and what.
struct Shown {
    double seconds;
    int64_t frames;
    std::string what;
};

std::vector<Shown> shownLines(const std::string& output, const std::string& kind) {
    static const std::regex line(R"(^\s*([+-]?[0-9.]+)\s+(\d+):(\d\d):(\d\d):(\d\d)\s+(.*)$)");
    std::vector<Shown> shown;
    for (const std::string& text : linesOf(output)) {
        std::smatch m;
        if (!std::regex_match(text, m, line) || !m[6].str().starts_with(kind)) continue;
        const int64_t frames =
            ((std::stoll(m[2]) * 60 + std::stoll(m[3])) * 60 + std::stoll(m[4])) * 25 + std::stoll(m[5]);
        shown.push_back({std::stod(m[1]), frames, m[6]});
    }
    return shown;
}

double allowanceSeconds(const std::string& output) {
    std::smatch m;
    static const std::regex allowance(R"(click allowance ([0-9.]+) ms)");
    return std::regex_search(output, m, allowance) ? std::stod(m[1]) / 1000.0 : NAN;
}

class ChaseEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(kSettingsFolder.empty());
        if (findProgram("jackd").empty()) GTEST_SKIP() << "jackd is not installed";
        server_ = "tollvane-chase-" + std::to_string(getpid());
        jackd_ = std::make_unique<JackDummyServer>(server_, kSampleRate, kPeriod);
        if (!jackd_->started()) GTEST_SKIP() << "jackd could not be started";
        if (!jackd_->waitUntil([&] { return FFMIDIJackBackend::serverRunning(server_); })) {
            if (!jackd_->alive()) GTEST_SKIP() << "jackd exited at start-up";
            FAIL() << "jackd did not accept clients within 10 s";
        }
        work_ = std::filesystem::path(kSettingsFolder) / ("run-" + std::to_string(++runs_));
        std::filesystem::create_directories(work_ / "settings");
        environment_ = {{"JACK_DEFAULT_SERVER", server_},
                        {"TOLLVANE_CONFIG_DIR", (work_ / "settings").string()}};
        int status = -1;
        cli({"demo", work_.string()}, "demo", &status);
        ASSERT_EQ(status, 0) << read(work_ / "demo.err");
        document_ = (work_ / "Tollvane Demo.tollvane").string();
        // A first run writes the first-launch defaults; the audio latency
        // set after it stays.
        cli({"chase", document_, "--midi", "none", "--audio", "null", "--seconds", "0.1"}, "first-launch",
            &status);
        ASSERT_EQ(status, 0) << read(work_ / "first-launch.err");
        UserDefaults defaults((work_ / "settings" / "Defaults.plist").string());
        defaults.setDouble("latencyCompensationAudio", kAudioLatency);
        defaults.setBool("mscOnline", true);
        ASSERT_TRUE(defaults.synchronize());
    }

    void TearDown() override { jackd_.reset(); }

    std::string cli(std::vector<std::string> arguments, const std::string& name, int* status = nullptr) {
        arguments.insert(arguments.begin(), TOLLVANE_CLI);
        return ChildProcess::run(arguments, environment_, (work_ / name).string(), status);
    }
    std::unique_ptr<ChildProcess> startCli(std::vector<std::string> arguments, const std::string& name) {
        arguments.insert(arguments.begin(), TOLLVANE_CLI);
        return std::make_unique<ChildProcess>(arguments, environment_, (work_ / name).string());
    }
    static std::string read(const std::filesystem::path& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The audible clicks the cue lists, in seconds of timecode.
    std::vector<double> listedClicks() {
        const auto json =
            nlohmann::json::parse(cli({"clicks", document_, "--cue", kCue, "--json"}, "clicks"));
        std::vector<double> seconds;
        for (const auto& click : json["audibleClicks"]) {
            if (click["sounds"].get<bool>()) seconds.push_back(click["timecodeSeconds"].get<double>());
        }
        return seconds;
    }

    static inline int runs_ = 0;
    std::string server_;
    std::unique_ptr<JackDummyServer> jackd_;
    std::filesystem::path work_;
    std::map<std::string, std::string> environment_;
    std::string document_;
};

bool ready(const std::string& output) {
    return output.find("ready after") != std::string::npos;
}

TEST_F(ChaseEndToEndTest, ChaseClicksWhereTheTimecodePutsEachClickAndStopsWithIt) {
    const std::vector<double> listed = listedClicks();
    ASSERT_FALSE(listed.empty());
    const std::string rehearsal = cli({"rehearse", document_, "--cue", kCue, "--seconds", "30"}, "rehearse");

    CaptureClient capture(server_, kSampleRate * 40);
    auto chase = startCli({"chase", document_, "--midi", "jack", "--audio", "jack"}, "chase");
    ASSERT_TRUE(chase->waitForOutput(ready, 10s)) << chase->output() << chase->errors();
    const double allowance = allowanceSeconds(chase->output());
    ASSERT_TRUE(std::isfinite(allowance)) << chase->output();
    const EMTimecodeFramerate rate25 = EMTimecodeFramerate::framerateForIndex(3);
    const auto start = EMTimecode::timecodeWithFramerate(rate25, 1, 0, 5, 0);
    MTCJackSender sender(server_);
    ASSERT_TRUE(sender.open("mtc-send")) << sender.error();
    ASSERT_TRUE(sender.connectTo("Tollvane")) << sender.error();
    // The program gives the new source a port of its own; the recording
    // starts once the graph has settled, since a reordered graph can hand
    // the capture a cycle before the player has written it.
    std::this_thread::sleep_for(1s);
    const auto outputs = capture.outputsMatching("^Tollvane.*:out_");
    ASSERT_EQ(outputs.size(), 2u);
    ASSERT_TRUE(capture.connectTo(outputs));
    std::this_thread::sleep_for(200ms);
    const MTCGenerator generator(rate25, start->framesFromZero(), sender.sampleRate());
    const uint64_t count = generator.countWithin(16.0);
    sender.start(generator, count, count);
    while (!sender.finished()) std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(1s);
    chase->signal(SIGINT);
    ASSERT_EQ(chase->wait(10s), 0) << chase->errors();
    capture.stop();

    const std::string shown = chase->output();
    if (shown.find("MTC: Playing from") != shown.rfind("MTC: Playing from"))
        GTEST_SKIP() << "MTC dropped out on this loaded machine; timing cannot be judged\n" << shown;

    // Where the timecode puts a time: quarter frame k carries start + k/100 s.
    const std::vector<uint64_t> sent = sender.sentHostTimes();
    // The median, so that a quarter frame a skipped cycle held back does not
    // move it.
    std::vector<double> anchors;
    for (size_t k = 0; k < sent.size(); ++k) anchors.push_back(static_cast<double>(sent[k]) - k * 1e7);
    std::nth_element(anchors.begin(), anchors.begin() + anchors.size() / 2, anchors.end());
    const double anchor = anchors[anchors.size() / 2];
    // A dummy server on a loaded machine lets its sample clock fall behind
    // the host's; the program rightly follows host time between timecodes,
    // so clicks can only be judged against timecode that kept time.
    double drift = 0.0;
    for (double a : anchors) drift = std::max(drift, std::fabs(a - anchor));
    if (drift > 0.5e6)
        GTEST_SKIP() << "the JACK server's clock wandered " << drift / 1e6 << " ms from host time";
    const double startSeconds = start->secondsFromZero();
    const double endSeconds = startSeconds + 16.0;
    auto hostTimeOf = [&](double timecodeSeconds) { return anchor + (timecodeSeconds - startSeconds) * 1e9; };

    std::vector<double> expected;
    for (double click : listed) {
        // The start rule needs two timecodes; the last ones may be cut off.
        if (click < startSeconds + 0.5 || click > endSeconds - 0.5) continue;
        expected.push_back(hostTimeOf(click) - (kAudioLatency + allowance) * 1e9);
    }
    const std::vector<Onset> onsets = clickOnsets(capture, hostMinusJack());
    if (expectClicksAt(onsets, expected) < 8) GTEST_SKIP() << "too many cycles ran late to judge the clicks";
    const double lastQuarterFrame = static_cast<double>(sent.back());
    for (const Onset& onset : onsets)
        EXPECT_LT(onset.hostTime, lastQuarterFrame + 0.2e9) << "a click sounded after the timecode stopped";

    // Streamers and punches at the frames where a rehearsal puts them.
    for (const char* kind : {"streamer", "punch"}) {
        const auto live = shownLines(shown, kind);
        for (const Shown& planned : shownLines(rehearsal, kind)) {
            const double at = planned.frames / 25.0;
            if (at < startSeconds + 1.0 || at > endSeconds - 0.5) continue;
            const bool found = std::any_of(live.begin(), live.end(), [&](const Shown& s) {
                return s.what == planned.what && std::llabs(s.frames - planned.frames) <= 1;
            });
            EXPECT_TRUE(found) << "no '" << planned.what << "' within a frame of frame " << planned.frames
                               << "\n"
                               << shown;
        }
    }
    EXPECT_NE(shown.find("stopped by signal"), std::string::npos) << shown;
}

TEST_F(ChaseEndToEndTest, ARehearsalWithoutTimecodeClicksTheSameRelativeToItsStart) {
    const std::vector<double> listed = listedClicks();
    CaptureClient capture(server_, kSampleRate * 20);
    auto rehearsal = startCli({"rehearse", document_, "--cue", kCue, "--realtime", "--midi", "none",
                               "--audio", "jack", "--seconds", "8"},
                              "rehearse-live");
    ASSERT_TRUE(rehearsal->waitForOutput(ready, 10s)) << rehearsal->output() << rehearsal->errors();
    const auto outputs = capture.outputsMatching("^Tollvane.*:out_");
    ASSERT_EQ(outputs.size(), 2u);
    ASSERT_TRUE(capture.connectTo(outputs));
    ASSERT_EQ(rehearsal->wait(20s), 0) << rehearsal->errors();
    capture.stop();

    // The run starts before the rehearsal start, so its clicks are the cue's
    // listed ones from the first on, at the listed spacing; the median
    // offset places the list, so that one moved click cannot move it.
    const std::vector<Onset> onsets = clickOnsets(capture, hostMinusJack());
    ASSERT_GE(onsets.size(), 8u) << rehearsal->output();
    std::vector<double> offsets;
    for (size_t i = 0; i < onsets.size() && i < listed.size(); ++i)
        offsets.push_back(static_cast<double>(onsets[i].hostTime) - listed[i] * 1e9);
    std::nth_element(offsets.begin(), offsets.begin() + offsets.size() / 2, offsets.end());
    const double origin = offsets[offsets.size() / 2];
    std::vector<double> expected;
    for (double click : listed) {
        const double at = origin + click * 1e9;
        if (at < static_cast<double>(onsets.back().hostTime) + 1e6) expected.push_back(at);
    }
    EXPECT_EQ(expected.size(), onsets.size()) << "clicks missed or added";
    if (expectClicksAt(onsets, expected) < 8) GTEST_SKIP() << "too many cycles ran late to judge the clicks";
    EXPECT_NE(rehearsal->output().find("cue start"), std::string::npos) << rehearsal->output();
}

// A JACK client that sends MIDI messages into another client's input.
class MidiSender {
public:
    explicit MidiSender(const std::string& server) {
        client_ = jack_client_open("tollvane-midi-send",
                                   static_cast<jack_options_t>(JackNoStartServer | JackServerName), nullptr,
                                   server.c_str());
        if (!client_) return;
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &MidiSender::process, this);
    }
    ~MidiSender() {
        if (client_) jack_client_close(client_);
    }
    bool connectTo(const std::string& shortName) {
        if (!client_ || !port_ || jack_activate(client_) != 0) return false;
        const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
        bool connected = false;
        for (const char** port = ports; ports && *port && !connected; ++port) {
            const std::string name = *port;
            if (name.substr(name.find(':') + 1) == shortName)
                connected = jack_connect(client_, jack_port_name(port_), *port) == 0;
        }
        if (ports) jack_free(ports);
        return connected;
    }
    // Goes out in the next cycle.
    void send(std::vector<uint8_t> message) {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(message));
    }
    bool drained() {
        std::lock_guard lock(mutex_);
        return queue_.empty();
    }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<MidiSender*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, frames);
        jack_midi_clear_buffer(buffer);
        std::unique_lock lock(self->mutex_, std::try_to_lock);
        if (!lock.owns_lock() || self->queue_.empty()) return 0;
        jack_midi_event_write(buffer, 0, self->queue_.front().data(), self->queue_.front().size());
        self->queue_.erase(self->queue_.begin());
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::mutex mutex_;
    std::vector<std::vector<uint8_t>> queue_;
};

TEST_F(ChaseEndToEndTest, ShowControlLoadSelectsACueAndAMappedNoteFiresAStreamer) {
    auto chase = startCli({"chase", document_, "--midi", "jack", "--audio", "null"}, "chase-msc");
    ASSERT_TRUE(chase->waitForOutput(ready, 10s)) << chase->output() << chase->errors();
    MidiSender sender(server_);
    ASSERT_TRUE(sender.connectTo("Tollvane"));
    // LOAD (5) to every device (127), cue "1M2"; then note 62, a 3-foot
    // streamer in the shipped mapping.
    sender.send({0xF0, 0x7F, 0x7F, 0x02, 0x7F, 0x05, '1', 'M', '2', 0xF7});
    EXPECT_TRUE(chase->waitForOutput(
        [](const std::string& output) { return output.find("cue \"1M2 Chase\"") != std::string::npos; }, 5s))
        << chase->output();
    sender.send({0x90, 62, 100});
    sender.send({0x80, 62, 0});
    EXPECT_TRUE(chase->waitForOutput(
        [](const std::string& output) { return output.find("streamer 3.0 ft, size 1") != std::string::npos; },
        5s))
        << chase->output();
    chase->signal(SIGTERM);
    EXPECT_EQ(chase->wait(10s), 0) << chase->errors();
    // Quitting saved the mapping it used, whole.
    EXPECT_NE(cli({"mapping"}, "mapping").find("30 entries"), std::string::npos);
}

TEST_F(ChaseEndToEndTest, AnUnreadableDocumentIsRefusedAndNothingIsWritten) {
    const std::filesystem::path bad = work_ / "bad.tollvane";
    { std::ofstream(bad) << "not a document"; }
    const std::filesystem::path settings = work_ / "settings" / "Defaults.plist";
    const auto settingsBefore = std::filesystem::last_write_time(settings);
    int status = -1;
    const std::string output =
        cli({"chase", bad.string(), "--midi", "jack", "--audio", "jack"}, "chase-bad", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(output, "");
    const std::string errors = read(work_ / "chase-bad.err");
    EXPECT_NE(errors.find("tollvane-cli chase: cannot open " + bad.string()), std::string::npos) << errors;
    EXPECT_EQ(read(bad), "not a document");
    EXPECT_EQ(std::filesystem::last_write_time(settings), settingsBefore);
}

}  // namespace
}  // namespace tollvane
