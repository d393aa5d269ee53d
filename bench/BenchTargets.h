#pragma once

// Targets that a benchmark's figure is printed beside. A benchmark registers
// its target next to its definition:
//   TOLLVANE_BENCH_TARGET(BM_framesFromZero, "at most 50 ns per call");

#include <map>
#include <string>

namespace tollvane::bench {

std::map<std::string, std::string>& targets();

struct TargetRegistration {
    TargetRegistration(const char* name, const char* target) { targets()[name] = target; }
};

}  // namespace tollvane::bench

#define TOLLVANE_BENCH_TARGET(name, text) \
    static ::tollvane::bench::TargetRegistration name##_target_registration(#name, text)
