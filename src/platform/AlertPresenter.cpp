#include "platform/AlertPresenter.h"

#include <atomic>

#include "platform/Log.h"

namespace tollvane {

namespace {

class LoggingAlertPresenter final : public AlertPresenter {
public:
    int runAlert(const Alert& alert) override {
        TLLog("Alert: %s: %s [%s]", alert.title.c_str(), alert.text.c_str(),
              alert.shownButtons().front().c_str());
        return 0;
    }
};

LoggingAlertPresenter& loggingPresenter() {
    static LoggingAlertPresenter presenter;
    return presenter;
}

std::atomic<AlertPresenter*>& installedPresenter() {
    static std::atomic<AlertPresenter*> presenter{nullptr};
    return presenter;
}

}  // namespace

std::vector<std::string> Alert::shownButtons() const {
    if (buttons.empty()) return {"OK"};
    return buttons;
}

AlertPresenter& AlertPresenter::shared() {
    AlertPresenter* presenter = installedPresenter().load(std::memory_order_acquire);
    return presenter ? *presenter : loggingPresenter();
}

AlertPresenter* AlertPresenter::setShared(AlertPresenter* presenter) {
    AlertPresenter* old = installedPresenter().exchange(presenter, std::memory_order_acq_rel);
    return old ? old : &loggingPresenter();
}

}  // namespace tollvane
