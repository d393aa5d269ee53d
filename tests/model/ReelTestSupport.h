#pragma once

// What the reel, alias and reel-list tests share: the movie fixtures, a
// scratch folder, captured log lines, counted notifications and scripted
// alerts.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "model/CueEnvironment.h"
#include "platform/AlertPresenter.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/ScriptedAlertPresenter.h"

namespace tollvane::reeltest {

inline std::string moviesDirectory() {
    return std::string(TOLLVANE_TEST_DATA) + "/movies";
}
inline std::string twoSecondMovie() {
    return moviesDirectory() + "/two-seconds.mov";
}
inline std::string sixtySecondMovie() {
    return moviesDirectory() + "/sixty-seconds.mov";
}

// A fresh folder, removed with everything in it at the end of the test.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tollvane-reels-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Writes a file (and the folders on its way) with the given bytes.
    std::string write(const std::string& relative, const std::string& bytes) const {
        const std::filesystem::path file = std::filesystem::path(path_) / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
        return file.string();
    }
    // Copies a fixture movie to a relative path.
    std::string copyMovie(const std::string& movie, const std::string& relative) const {
        const std::filesystem::path file = std::filesystem::path(path_) / relative;
        std::filesystem::create_directories(file.parent_path());
        std::filesystem::copy_file(movie, file, std::filesystem::copy_options::overwrite_existing);
        return file.string();
    }

private:
    std::string path_;
};

class LogCapture {
public:
    LogCapture() {
        previous_ = Log::setSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { Log::setSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines;

private:
    Log::Sink previous_;
};

class NotificationCounter {
public:
    explicit NotificationCounter(const char* name) {
        token_ =
            NotificationCenter::defaultCenter().addObserver(name, [this](const Notification&) { ++count; });
    }
    ~NotificationCounter() { NotificationCenter::defaultCenter().removeObserver(token_); }
    NotificationCounter(const NotificationCounter&) = delete;
    NotificationCounter& operator=(const NotificationCounter&) = delete;

    int count = 0;

private:
    NotificationCenter::ObserverToken token_ = 0;
};

class ScriptedAlerts {
public:
    ScriptedAlerts() { previous_ = AlertPresenter::setShared(&presenter); }
    ~ScriptedAlerts() { AlertPresenter::setShared(previous_); }
    ScriptedAlerts(const ScriptedAlerts&) = delete;
    ScriptedAlerts& operator=(const ScriptedAlerts&) = delete;

    ScriptedAlertPresenter presenter;

private:
    AlertPresenter* previous_ = nullptr;
};

// The project rate that reels without a start parse at, for one test.
class InstalledProjectRate {
public:
    explicit InstalledProjectRate(int64_t index) {
        previous_ =
            CueEnvironment::install(std::make_shared<Rate>(EMTimecodeFramerate::framerateForIndex(index)));
    }
    ~InstalledProjectRate() { CueEnvironment::install(previous_); }
    InstalledProjectRate(const InstalledProjectRate&) = delete;
    InstalledProjectRate& operator=(const InstalledProjectRate&) = delete;

private:
    struct Rate : CueEnvironment {
        explicit Rate(EMTimecodeFramerate rate) : rate(rate) {}
        EMTimecodeFramerate projectFramerate() const override { return rate; }
        EMTimecodeFramerate rate;
    };
    std::shared_ptr<CueEnvironment> previous_;
};

}  // namespace tollvane::reeltest
