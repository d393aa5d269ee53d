#include "model/CueArrayController.h"

#include "model/Cue.h"

namespace tollvane {

CueArrayController::CueArrayController(Document& document) : document_(document) {}

CueArrayController::~CueArrayController() = default;

}  // namespace tollvane
