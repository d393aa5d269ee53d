#include "model/CueEventMusicIn.h"

#include "platform/archive/ArchiveClassRegistry.h"

namespace tollvane {

std::shared_ptr<CueEventMusicIn> CueEventMusicIn::musicInEventWithCue(const std::shared_ptr<Cue>& cue) {
    UndoSuspension noUndo(cue);
    return makeEvent<CueEventMusicIn>(cue);
}

void CueEventMusicIn::initKindDefaults() {}

void CueEventMusicIn::registerArchiveClass() {
    ArchiveClassRegistry::registerClass("CueEventMusicIn", &decodeEvent<CueEventMusicIn>);
}

std::shared_ptr<CueEvent> CueEventMusicIn::makeEmptyCopy() const {
    return makeEvent<CueEventMusicIn>(cue());
}

void CueEventMusicIn::copyKindFieldsTo(CueEvent&) const {}

void CueEventMusicIn::encodeKindFields(KeyedArchiver&) const {}

void CueEventMusicIn::decodeKindFields(KeyedUnarchiver&) {}

bool CueEventMusicIn::keyAffectsEventProxy(std::string_view) const {
    return false;
}

bool CueEventMusicIn::performKindUndoOperation(const std::string&, const Value&) {
    return false;
}

}  // namespace tollvane
