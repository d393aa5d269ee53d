#include "model/ReelArrayController.h"

#include "model/Reel.h"

namespace tollvane {

ReelArrayController::ReelArrayController(Document& document) : document_(document) {}

ReelArrayController::~ReelArrayController() = default;

}  // namespace tollvane
