// Feeds arbitrary bytes to the keyed unarchiver. Whatever it reads must write
// back, read again and write back to the same bytes.

#include <cstdint>
#include <cstdlib>

#include "platform/archive/ArchiveError.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

using namespace tollvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Value value;
    try {
        value = KeyedUnarchiver::unarchivedObjectWithData(data, size);
    } catch (const ArchiveError&) {
        return 0;
    }
    const Data first = KeyedArchiver::archivedDataWithRootObject(value);
    const Value again = KeyedUnarchiver::unarchivedObjectWithData(first);
    const Data second = KeyedArchiver::archivedDataWithRootObject(again);
    if (first != second) std::abort();
    return 0;
}
