#include "app/cli/StopSignals.h"

#include <csignal>

namespace tollvane {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int) {
    stopSignal = 1;
}

}  // namespace

StopSignals::StopSignals() {
    stopSignal = 0;
    previousInt_ = std::signal(SIGINT, requestStop);
    previousTerm_ = std::signal(SIGTERM, requestStop);
}

StopSignals::~StopSignals() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
}

bool StopSignals::requested() const {
    return stopSignal != 0;
}

}  // namespace tollvane
