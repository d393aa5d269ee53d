// tollvane-cli chase as a user runs it, measured from outside the process on
// a private jackd (dummy driver, not real-time) with the demo document:
//
// - start-up: wall time from spawning chase to its "ready after" line
//   (output polled every millisecond), beside chase's own "ready after N ms"
//   figure, over five starts; the time per iteration is the median. Chase
//   counts from the start of its command, the document's loading included;
//   the wall figure also holds exec and loading the program;
// - CPU: chase's user plus system time from /proc/PID/stat over 20 s of MTC
//   sent into "Tollvane" from 1:00:05:00 with cue "1M1 Opening" selected,
//   and over 10 s with no MTC. The time per iteration is the CPU time per
//   second of MTC, so 20 ms per iteration is 2% of one core. The work in the
//   jackd process that serves chase's ports is not counted.
//
// The program is taken from $TOLLVANE_CLI, else build/src/tollvane-cli under
// the current folder, else ../src/tollvane-cli beside this program. Without
// it, or without jackd, the benchmarks print why and are skipped.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchTargets.h"
#include "midi/MTCGenerator.h"
#include "midi/jack/FFMIDIJackBackend.h"
#include "midi/jack/MTCJackSender.h"
#include "platform/Log.h"
#include "support/ChildProcess.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"
#include "timebase/EMTimecode.h"
#include "timebase/EMTimecodeFramerate.h"

namespace tollvane {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kSampleRate = 48000;
constexpr unsigned kPeriod = 256;
constexpr int kStarts = 5;
constexpr const char* kCue = "1M1 Opening";
constexpr double kMtcSeconds = 20.0;
constexpr double kIdleSeconds = 10.0;

std::string cliPath() {
    if (const char* given = std::getenv("TOLLVANE_CLI"); given && *given) return given;
    std::vector<std::filesystem::path> candidates = {std::filesystem::current_path() /
                                                     "build/src/tollvane-cli"};
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) candidates.push_back(self.parent_path().parent_path() / "src/tollvane-cli");
    for (const auto& candidate : candidates) {
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.lexically_normal().string();
    }
    return {};
}

// utime + stime of a process (or of one of its threads) in clock ticks;
// empty once it has gone.
std::optional<long long> cpuTicks(pid_t pid, pid_t thread = 0) {
    std::ifstream in("/proc/" + std::to_string(pid) +
                     (thread ? "/task/" + std::to_string(thread) : std::string()) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return std::nullopt;
    // The command name is in parentheses and may hold spaces; the fields
    // after it start with the state (field 3), so utime (14) is the 12th.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i == 12) utime = std::stoll(field);
        if (i == 13) stime = std::stoll(field);
    }
    return fields ? std::optional<long long>(utime + stime) : std::nullopt;
}

// utime + stime of each thread of a process, by thread.
std::map<std::string, long long> threadTicks(pid_t pid) {
    std::map<std::string, long long> ticks;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        const pid_t tid = std::stoi(task.path().filename().string());
        // Threads not named by the program carry the program's name.
        const std::string label = tid == pid               ? "main thread"
                                  : name == "tollvane-cli" ? "thread " + std::to_string(tid)
                                                           : name + " (" + std::to_string(tid) + ")";
        if (const auto used = cpuTicks(pid, tid)) ticks[label] = *used;
    }
    return ticks;
}

// The threads that used most between two snapshots, busiest first.
std::string busiestThreads(const std::map<std::string, long long>& before,
                           const std::map<std::string, long long>& after, double ticksPerSecond) {
    std::vector<std::pair<long long, std::string>> used;
    for (const auto& [thread, ticks] : after) {
        const auto earlier = before.find(thread);
        const long long delta = ticks - (earlier == before.end() ? 0 : earlier->second);
        if (delta > 0) used.emplace_back(delta, thread);
    }
    std::sort(used.rbegin(), used.rend());
    std::string text;
    for (size_t i = 0; i < used.size() && i < 4; ++i) {
        char part[96];
        std::snprintf(part, sizeof part, "%s%s %.2f s", i == 0 ? "" : ", ", used[i].second.c_str(),
                      static_cast<double>(used[i].first) / ticksPerSecond);
        text += part;
    }
    return text.empty() ? "none measurable" : text;
}

int countLines(const std::string& output, const std::string& what) {
    static const std::regex event(R"(^\s*[0-9.]+\s+\S+\s+(.*)$)");
    int count = 0;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, event) && m[1].str().starts_with(what)) ++count;
    }
    return count;
}

// A jackd of its own, a settings folder of its own and the demo document,
// all removed when it goes. `skipReason` says why it could not be set up.
class ChaseRig {
public:
    ChaseRig() {
        cli_ = cliPath();
        if (!cli_.empty() && ::access(cli_.c_str(), X_OK) != 0) {
            skipReason = "TOLLVANE_CLI names " + cli_ + ", which is not a program";
            return;
        }
        if (cli_.empty()) {
            skipReason =
                "tollvane-cli not found (set TOLLVANE_CLI, or run from the source folder after a build)";
            return;
        }
        if (findProgram("jackd").empty()) {
            skipReason = "jackd is not installed";
            return;
        }
        std::string folder = std::filesystem::temp_directory_path().string() + "/tollvane-bench-chase-XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) {
            skipReason = "no temporary folder";
            return;
        }
        work_ = folder;
        std::filesystem::create_directories(work_ / "settings");
        server_ = std::make_unique<JackDummyServer>("tollvane-bench-chase-" + std::to_string(::getpid()),
                                                    kSampleRate, kPeriod);
        if (!server_->started() ||
            !server_->waitUntil([&] { return FFMIDIJackBackend::serverRunning(server_->name()); })) {
            skipReason = "the jackd dummy server did not accept clients";
            return;
        }
        environment_ = {{"JACK_DEFAULT_SERVER", server_->name()},
                        {"TOLLVANE_CONFIG_DIR", (work_ / "settings").string()}};
        int status = -1;
        ChildProcess::run({cli_, "demo", work_.string()}, environment_, (work_ / "demo").string(), &status);
        document_ = (work_ / "Tollvane Demo.tollvane").string();
        if (status != 0 || !std::filesystem::exists(document_)) {
            skipReason = "tollvane-cli demo did not write the demo document";
            return;
        }
        // The first run writes the first-launch defaults; no start measured
        // later pays for that.
        ChildProcess::run({cli_, "chase", document_, "--midi", "none", "--audio", "null", "--seconds", "0.1"},
                          environment_, (work_ / "first-launch").string(), &status);
        if (status != 0) skipReason = "a first chase without MIDI or audio failed";
    }
    ~ChaseRig() {
        server_.reset();
        if (!work_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(work_, ignored);
        }
    }
    ChaseRig(const ChaseRig&) = delete;
    ChaseRig& operator=(const ChaseRig&) = delete;

    std::unique_ptr<ChildProcess> startChase(const std::string& name) const {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{cli_, "chase", document_, "--cue", kCue, "--midi", "jack", "--audio",
                                     "jack"},
            environment_, (work_ / name).string());
    }
    std::string run(const std::vector<std::string>& arguments, const std::string& name) const {
        std::vector<std::string> command = {cli_};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return ChildProcess::run(command, environment_, (work_ / name).string());
    }
    const std::string& serverName() const { return server_->name(); }
    const std::string& document() const { return document_; }

    std::string skipReason;

private:
    std::string cli_;
    std::filesystem::path work_;
    std::unique_ptr<JackDummyServer> server_;
    std::map<std::string, std::string> environment_;
    std::string document_;
};

bool skipped(benchmark::State& state, const ChaseRig& rig, const char* what) {
    if (rig.skipReason.empty()) return false;
    std::printf("%s: skipped, %s\n", what, rig.skipReason.c_str());
    state.SkipWithError(rig.skipReason.c_str());
    return true;
}

// Stops chase as a user does; answers whether it said so and exited 0.
bool interrupt(ChildProcess& chase) {
    chase.signal(SIGINT);
    return chase.wait(10s) == 0 && chase.output().find("stopped by signal") != std::string::npos;
}

struct Spread {
    double median;
    double worst;
};

Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

void BM_chaseStartUp(benchmark::State& state) {
    const Log::Sink previousSink = Log::setSink([](const std::string&) {});
    for (auto _ : state) {
        const ChaseRig rig;
        if (skipped(state, rig, "Start-up to ready")) break;
        std::vector<double> wall;
        std::vector<double> own;
        std::string failure;
        int unclean = 0;
        static const std::regex ready(R"(ready after ([0-9]+) ms)");
        for (int i = 0; i < kStarts && failure.empty(); ++i) {
            const auto spawned = std::chrono::steady_clock::now();
            auto chase = rig.startChase("start-" + std::to_string(i));
            std::smatch m;
            std::string output;
            while (!std::regex_search(output = chase->output(), m, ready)) {
                if (chase->wait(0ms) >= 0 || std::chrono::steady_clock::now() - spawned > 10s) {
                    failure = "chase did not get ready: " + chase->errors();
                    break;
                }
                std::this_thread::sleep_for(1ms);
            }
            if (!failure.empty()) break;
            wall.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - spawned)
                    .count());
            own.push_back(std::stod(m[1]));
            if (!interrupt(*chase)) ++unclean;
        }
        if (!failure.empty()) {
            std::printf("Start-up to ready: %s\n", failure.c_str());
            state.SkipWithError("chase did not get ready");
            break;
        }
        const Spread wallSpread = spreadOf(wall);
        const Spread ownSpread = spreadOf(own);
        state.SetIterationTime(wallSpread.median / 1000.0);
        state.counters["median_ms"] = wallSpread.median;
        state.counters["worst_ms"] = wallSpread.worst;
        state.counters["own_median_ms"] = ownSpread.median;
        std::printf(
            "\nStart-up to ready (document loaded, JACK connected), %d starts of chase on the demo "
            "document:\n",
            kStarts);
        std::printf(
            "  spawn to \"ready after\" line: median %.0f ms, worst %.0f ms  (target: at most 300 ms)\n",
            wallSpread.median, wallSpread.worst);
        std::printf("  chase's own \"ready after\": median %.0f ms, worst %.0f ms\n", ownSpread.median,
                    ownSpread.worst);
        if (unclean > 0) std::printf("  %d of the starts did not stop cleanly on SIGINT\n", unclean);
        std::printf("\n");
    }
    Log::setSink(previousSink);
}
BENCHMARK(BM_chaseStartUp)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_chaseStartUp,
                      "at most 300 ms with the demo document (the median, spawn to \"ready after\")");

// The clicks the cue lists that sound from `from` to `to` seconds of timecode,
// both included: the click on the last timecode sent sounds, since audio
// plays ahead by the output latency.
int listedClicks(const ChaseRig& rig, double from, double to) {
    const auto json = nlohmann::json::parse(
        rig.run({"clicks", rig.document(), "--cue", kCue, "--json"}, "clicks"), nullptr, false);
    if (json.is_discarded() || !json.contains("audibleClicks")) return -1;
    int count = 0;
    for (const auto& click : json["audibleClicks"]) {
        const double at = click["timecodeSeconds"].get<double>();
        if (click["sounds"].get<bool>() && at >= from && at <= to) ++count;
    }
    return count;
}

// Starts of sound after at least 30 ms of silence.
int onsets(const CaptureClient& capture) {
    const std::vector<float>& samples = capture.channel(0);
    const size_t quiet = kSampleRate * 30 / 1000;
    size_t silent = quiet;
    int count = 0;
    for (size_t i = 0; i < capture.framesRecorded(); ++i) {
        if (std::fabs(samples[i]) < 1e-6f) {
            ++silent;
            continue;
        }
        if (silent >= quiet) ++count;
        silent = 0;
    }
    return count;
}

void BM_chaseCpuFollowingMtc(benchmark::State& state) {
    const Log::Sink previousSink = Log::setSink([](const std::string&) {});
    const double ticksPerSecond = static_cast<double>(::sysconf(_SC_CLK_TCK));
    for (auto _ : state) {
        const ChaseRig rig;
        if (skipped(state, rig, "CPU use of chase")) break;
        auto chase = rig.startChase("cpu");
        if (!chase->waitForOutput(
                [](const std::string& out) { return out.find("ready after") != std::string::npos; }, 10s)) {
            std::printf("CPU use of chase: chase did not get ready: %s\n", chase->errors().c_str());
            state.SkipWithError("chase did not get ready");
            break;
        }
        // Idle: the cue selected, waiting for MTC.
        std::this_thread::sleep_for(1s);
        const auto idleThreadsFrom = threadTicks(chase->pid());
        const auto idleFrom = cpuTicks(chase->pid());
        const auto idleStart = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
        const auto idleTo = cpuTicks(chase->pid());
        const auto idleThreadsTo = threadTicks(chase->pid());
        const double idleWall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - idleStart).count();

        MTCJackSender sender(rig.serverName());
        if (!idleFrom || !idleTo || !sender.open("bench-mtc") || !sender.connectTo("Tollvane")) {
            std::printf("CPU use of chase: could not send MTC to chase: %s\n", sender.error().c_str());
            state.SkipWithError("could not send MTC");
            break;
        }
        CaptureClient capture(rig.serverName(), static_cast<size_t>(kSampleRate * (kMtcSeconds + 5)));
        const auto outputs = capture.outputsMatching("^Tollvane.*:out_");
        const bool capturing = outputs.size() == 2 && capture.connectTo(outputs);
        const size_t outputBefore = chase->output().size();
        const EMTimecodeFramerate rate25 = EMTimecodeFramerate::framerateForIndex(3);
        const auto start = EMTimecode::timecodeWithFramerate(rate25, 1, 0, 5, 0);
        const MTCGenerator generator(rate25, start->framesFromZero(), sender.sampleRate());
        const uint64_t count = generator.countWithin(kMtcSeconds);
        const auto busyThreadsFrom = threadTicks(chase->pid());
        const auto busyFrom = cpuTicks(chase->pid());
        const auto busyStart = std::chrono::steady_clock::now();
        sender.start(generator, count, 0);
        while (!sender.finished()) std::this_thread::sleep_for(10ms);
        const auto busyTo = cpuTicks(chase->pid());
        const auto busyThreadsTo = threadTicks(chase->pid());
        const double busyWall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - busyStart).count();
        std::this_thread::sleep_for(1s);
        capture.stop();
        const bool clean = interrupt(*chase);
        if (!busyFrom || !busyTo) {
            std::printf("CPU use of chase: chase went away during the MTC run: %s\n",
                        chase->errors().c_str());
            state.SkipWithError("chase went away");
            break;
        }

        const std::string during = chase->output().substr(outputBefore);
        const int cueStarts = countLines(during, "cue start");
        const int punches = countLines(during, "punch");
        const int streamers = countLines(during, "streamer");
        const double startSeconds = start->secondsFromZero();
        const int listed = listedClicks(rig, startSeconds, startSeconds + kMtcSeconds);
        const int heard = capturing ? onsets(capture) : -1;

        const double busySeconds = static_cast<double>(*busyTo - *busyFrom) / ticksPerSecond;
        const double idleSeconds = static_cast<double>(*idleTo - *idleFrom) / ticksPerSecond;
        const double busyPercent = 100.0 * busySeconds / busyWall;
        const double idlePercent = 100.0 * idleSeconds / idleWall;
        // CPU seconds per second of MTC: 0.02 is 2% of one core.
        state.SetIterationTime(busySeconds / kMtcSeconds);
        state.counters["cpu_percent"] = busyPercent;
        state.counters["idle_cpu_percent"] = idlePercent;
        state.counters["punches"] = punches;

        std::printf("\nCPU use of chase while following MTC with a cue selected (\"%s\", demo document):\n",
                    kCue);
        std::printf(
            "  %.0f s of 25 fps MTC from %s: %.2f s of CPU in %.1f s, %.2f%% of one core  "
            "(target: at most 2%%)\n",
            kMtcSeconds, start->stringRepresentation().c_str(), busySeconds, busyWall, busyPercent);
        std::printf("  %.0f s waiting, no MTC: %.2f s of CPU, %.2f%% of one core\n", kIdleSeconds,
                    idleSeconds, idlePercent);
        std::printf("  busiest threads with MTC: %s\n",
                    busiestThreads(busyThreadsFrom, busyThreadsTo, ticksPerSecond).c_str());
        std::printf("  busiest threads waiting: %s\n",
                    busiestThreads(idleThreadsFrom, idleThreadsTo, ticksPerSecond).c_str());
        std::printf(
            "  (user + system time from /proc/PID/stat, %.0f ticks a second; %llu JACK cycles of the sender "
            "ran late or were skipped)\n",
            ticksPerSecond, static_cast<unsigned long long>(sender.xrunCount()));
        std::printf("  work done in the window: %d cue start, %d punches, %d streamers shown; ", cueStarts,
                    punches, streamers);
        if (heard >= 0) {
            std::printf("%d clicks heard on chase's outputs, %d listed for the window\n", heard, listed);
        } else {
            std::printf("chase's outputs could not be recorded\n");
        }
        if (!clean) std::printf("  chase did not stop cleanly on SIGINT: %s\n", chase->errors().c_str());
        if (cueStarts == 0 || punches == 0)
            std::printf("  no cue start or punch was shown: the figure is not for a chase that clicked\n");
        std::printf("\n");
    }
    Log::setSink(previousSink);
}
BENCHMARK(BM_chaseCpuFollowingMtc)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_chaseCpuFollowingMtc,
                      "at most 2% of one core: 20 ms of CPU per second of MTC (the time per iteration)");

}  // namespace
}  // namespace tollvane
