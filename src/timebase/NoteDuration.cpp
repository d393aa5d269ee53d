#include "timebase/NoteDuration.h"

#include <array>
#include <cstddef>

namespace tollvane {

namespace {

struct Entry {
    double quarterNotes;
    int32_t clocksPerClick;
};

constexpr std::array<Entry, 15> kTable{{
    {8.0, 192},
    {6.0, 144},
    {4.0, 96},
    {3.0, 72},
    {2.0, 48},
    {1.5, 36},
    {1.0, 24},
    {0.75, 18},
    {0.5, 12},
    {0.375, 9},
    {0.25, 6},
    {0.1875, 24},
    {0.125, 24},
    {0.08125, 24},
    {0.0625, 24},
}};

}  // namespace

double NoteDuration::quarterNotes(int32_t code) {
    if (code == kSameAsClick) return 53.0;
    if (code < 0 || code >= static_cast<int32_t>(kTable.size())) return 1.0;
    return kTable[static_cast<std::size_t>(code)].quarterNotes;
}

int32_t NoteDuration::clocksPerClick(int32_t code) {
    if (code < 0 || code > 10) return 24;
    return kTable[static_cast<std::size_t>(code)].clocksPerClick;
}

}  // namespace tollvane
