#pragma once

// A presenter for tests: records every alert shown and answers from a
// script, in order; once the script is used up, every alert gets its default
// (first) button. An answer given as a button title that the alert does not
// have is a fault of the test and throws std::logic_error.
//
// Threads: any (a mutex guards the record and the script).

#include <deque>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "platform/AlertPresenter.h"

namespace tollvane {

class ScriptedAlertPresenter final : public AlertPresenter {
public:
    int runAlert(const Alert& alert) override;

    // Queues the answer to the next unanswered alert: a button index, or a button title.
    void answer(int index);
    void answer(std::string buttonTitle);

    std::vector<Alert> shownAlerts() const;
    size_t shownCount() const;
    // Answers queued and not yet used.
    size_t pendingAnswers() const;
    void reset();

private:
    mutable std::mutex mutex_;
    std::deque<std::variant<int, std::string>> script_;
    std::vector<Alert> shown_;
};

}  // namespace tollvane
