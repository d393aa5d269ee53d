// Property lists from outside (the user-defaults file): any bytes must give
// a value or a PropertyListError, and a value read must write back out.

#include <cstddef>
#include <cstdint>

#include "platform/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tollvane::PropertyList;
    try {
        tollvane::Value value = PropertyList::valueFromData(data, size);
        for (auto format : {PropertyList::Format::Binary, PropertyList::Format::XML}) {
            try {
                PropertyList::valueFromData(PropertyList::dataFromValue(value, format));
            } catch (const tollvane::PropertyListError&) {
                // Text libplist decoded into something we will not write (bad UTF-16, say).
            }
        }
    } catch (const tollvane::PropertyListError&) {
    }
    return 0;
}
