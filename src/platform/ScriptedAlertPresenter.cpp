#include "platform/ScriptedAlertPresenter.h"

#include <stdexcept>

namespace tollvane {

int ScriptedAlertPresenter::runAlert(const Alert& alert) {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back(alert);
    if (script_.empty()) return 0;
    auto next = std::move(script_.front());
    script_.pop_front();
    std::vector<std::string> buttons = alert.shownButtons();
    if (const int* index = std::get_if<int>(&next)) {
        if (*index < 0 || static_cast<size_t>(*index) >= buttons.size()) {
            throw std::logic_error("scripted answer " + std::to_string(*index) +
                                   " is not a button of alert \"" + alert.title + "\"");
        }
        return *index;
    }
    const std::string& title = std::get<std::string>(next);
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i] == title) return static_cast<int>(i);
    }
    throw std::logic_error("scripted answer \"" + title + "\" is not a button of alert \"" + alert.title +
                           "\"");
}

void ScriptedAlertPresenter::answer(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.emplace_back(index);
}

void ScriptedAlertPresenter::answer(std::string buttonTitle) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.emplace_back(std::move(buttonTitle));
}

std::vector<Alert> ScriptedAlertPresenter::shownAlerts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
}

size_t ScriptedAlertPresenter::shownCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_.size();
}

size_t ScriptedAlertPresenter::pendingAnswers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return script_.size();
}

void ScriptedAlertPresenter::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.clear();
    shown_.clear();
}

}  // namespace tollvane
