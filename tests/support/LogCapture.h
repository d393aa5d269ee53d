#pragma once

// Collects the log's lines, and what goes to stderr, while it lives: for
// tests that check what a failure says and that a library prints nothing of
// its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Log.h"

namespace tollvane {

class LogCapture {
public:
    LogCapture() : previous_(Log::setSink([this](const std::string& line) { lines_.push_back(line); })) {
        testing::internal::CaptureStderr();
    }
    ~LogCapture() {
        if (!stopped_) stop();
        Log::setSink(previous_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Ends the stderr capture (the log's lines are still collected).
    void stop() {
        stderr_ = testing::internal::GetCapturedStderr();
        stopped_ = true;
    }
    const std::vector<std::string>& lines() const { return lines_; }
    const std::string& standardError() const { return stderr_; }
    bool logged(const std::string& text) const {
        return std::any_of(lines_.begin(), lines_.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

private:
    std::vector<std::string> lines_;
    Log::Sink previous_;
    std::string stderr_;
    bool stopped_ = false;
};

}  // namespace tollvane
