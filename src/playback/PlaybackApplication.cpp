#include "playback/PlaybackApplication.h"

#include <atomic>

#include "document/Document.h"
#include "playback/CueController.h"

namespace tollvane {

namespace {

std::shared_ptr<PlaybackApplication>& installed() {
    static std::shared_ptr<PlaybackApplication> application = std::make_shared<PlaybackApplication>();
    return application;
}

}  // namespace

void PlaybackApplication::setDisplayText(const std::string& text) {
    CueController::sharedCueController().setDisplayText(text);
}

void PlaybackApplication::selectCueMatching(uint32_t documentHandle, const std::string& cueNumber) {
    if (auto document = Document::documentForHandle(documentHandle)) document->selectCueMatching(cueNumber);
}

PlaybackApplication& PlaybackApplication::current() {
    return *std::atomic_load(&installed());
}

std::shared_ptr<PlaybackApplication> PlaybackApplication::install(
    std::shared_ptr<PlaybackApplication> application) {
    if (!application) application = std::make_shared<PlaybackApplication>();
    return std::atomic_exchange(&installed(), std::move(application));
}

}  // namespace tollvane
