#include "document/Document.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEventSoundCue.h"
#include "model/ReelArrayController.h"

namespace tollvane {

namespace {

struct HandleRegistry {
    std::mutex mutex;
    std::map<uint32_t, std::weak_ptr<Document>> documents;
};

HandleRegistry& registry() {
    static HandleRegistry instance;
    return instance;
}

uint32_t nextHandle() {
    // Never 0, so a zeroed record names no document.
    static std::atomic<uint32_t> counter{0};
    return ++counter;
}

}  // namespace

Document::Document() : undoController_(this, undoManager_), handle_(nextHandle()) {}

void Document::setViewType(int32_t viewType) { viewType_.store(viewType, std::memory_order_release); }

void Document::performUndoOperation(const std::string&, const Value&) {}

Document::~Document() {
    std::lock_guard lock(registry().mutex);
    registry().documents.erase(handle_);
}

std::shared_ptr<Document> Document::create() {
    auto document = std::make_shared<Document>();
    document->registerHandle();
    return document;
}

void Document::registerHandle() {
    std::lock_guard lock(registry().mutex);
    registry().documents[handle_] = weak_from_this();
}

std::shared_ptr<Document> Document::documentForHandle(uint32_t handle) {
    std::lock_guard lock(registry().mutex);
    auto it = registry().documents.find(handle);
    return it == registry().documents.end() ? nullptr : it->second.lock();
}

std::vector<std::shared_ptr<CueEventSoundCue>> Document::adrFoleyRehearsalEvents() const {
    if (!selectedADRFoleyEvents_.empty()) return selectedADRFoleyEvents_;
    auto arranged = adrFoleyEvents_;
    std::stable_sort(arranged.begin(), arranged.end(),
                     [](const auto& a, const auto& b) { return a->compareTimecode(*b) < 0; });
    return arranged;
}

}  // namespace tollvane
