#include "model/CueEnvironment.h"

#include <atomic>

namespace tollvane {

namespace {

std::shared_ptr<CueEnvironment>& installed() {
    static std::shared_ptr<CueEnvironment> environment = std::make_shared<CueEnvironment>();
    return environment;
}

}  // namespace

CueEnvironment& CueEnvironment::current() {
    return *std::atomic_load(&installed());
}

std::shared_ptr<CueEnvironment> CueEnvironment::install(std::shared_ptr<CueEnvironment> environment) {
    if (!environment) environment = std::make_shared<CueEnvironment>();
    return std::atomic_exchange(&installed(), std::move(environment));
}

}  // namespace tollvane
