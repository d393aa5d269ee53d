#pragma once

// Something an undo step can be performed on. An undo step is a target, an
// operation and one argument: the operation is named by the setter that
// restores the value ("setTitle:"), and performing it calls that setter with
// the argument, which registers the redo through the same path.

#include <string>

#include "platform/archive/Value.h"

namespace tollvane {

class UndoTarget {
public:
    virtual ~UndoTarget() = default;
    virtual void performUndoOperation(const std::string& operation, const Value& argument) = 0;
};

}  // namespace tollvane
