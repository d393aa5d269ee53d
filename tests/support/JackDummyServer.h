#pragma once

// A private jackd on the dummy driver for one test or benchmark, under a
// server name of its own so that it never meets the user's server.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tollvane {

// Finds an executable on PATH; empty when there is none.
inline std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

// jackd -n NAME --no-realtime -d dummy -r RATE -p PERIOD, stopped (TERM,
// then KILL after 5 s) when this goes.
class JackDummyServer {
public:
    JackDummyServer(std::string name, unsigned rate, unsigned period) : name_(std::move(name)) {
        const std::string jackd = findProgram("jackd");
        if (jackd.empty()) return;
        std::vector<std::string> args = {jackd, "-n",
                                         name_, "--no-realtime",
                                         "-d",  "dummy",
                                         "-r",  std::to_string(rate),
                                         "-p",  std::to_string(period)};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, jackd.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~JackDummyServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    JackDummyServer(const JackDummyServer&) = delete;
    JackDummyServer& operator=(const JackDummyServer&) = delete;

    bool started() const { return pid_ > 0; }
    // Whether the process is still there (it exits when it cannot start).
    bool alive() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = 0;
        return pid_ > 0;
    }
    const std::string& name() const { return name_; }
    // Polls `ready` (e.g. whether a client can open) until it answers true,
    // the server exits, or `limit` passes; answers whether it came true.
    template <typename Ready>
    bool waitUntil(Ready ready, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (alive()) {
            if (ready()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    std::string name_;
    pid_t pid_ = 0;
};

}  // namespace tollvane
