#pragma once

// A program run by a test: its standard output and error go to files that
// the test reads while it runs, it gets extra environment variables, and it
// can be sent a signal and waited for with a time limit.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tollvane {

class ChildProcess {
public:
    // Starts `arguments` (the program first) with `environment` added to ours;
    // output goes to `outputPrefix`.out and .err.
    ChildProcess(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment, const std::string& outputPrefix)
        : outPath_(outputPrefix + ".out"), errPath_(outputPrefix + ".err") {
        std::vector<std::string> variables;
        for (char** entry = environ; *entry; ++entry) {
            const std::string variable = *entry;
            if (!environment.count(variable.substr(0, variable.find('=')))) variables.push_back(variable);
        }
        for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
        std::vector<char*> argv;
        std::vector<std::string> args = arguments;
        for (std::string& argument : args) argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            wait(std::chrono::seconds(5));
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int number) {
        if (pid_ > 0 && !exited_) ::kill(pid_, number);
    }
    // The exit status, or -1 when it has not exited within `limit` (or was
    // ended by a signal: 128 + the signal).
    int wait(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!exited_) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exited_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return status_;
    }
    // Waits until the output so far satisfies `ready` (or the program ends).
    bool waitForOutput(const std::function<bool(const std::string&)>& ready,
                       std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (ready(output())) return true;
            if (wait(std::chrono::milliseconds(0)) >= 0) return ready(output());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::string output() const { return read(outPath_); }
    std::string errors() const { return read(errPath_); }

    // Runs a program to its end and answers its standard output.
    static std::string run(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment,
                           const std::string& outputPrefix, int* status = nullptr) {
        ChildProcess child(arguments, environment, outputPrefix);
        const int exit = child.wait(std::chrono::seconds(60));
        if (status) *status = exit;
        return child.output();
    }

private:
    static std::string read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string outPath_;
    std::string errPath_;
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
};

}  // namespace tollvane
