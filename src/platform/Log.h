#pragma once

// Log lines, printf-style, with the program's own texts. Lines go to stderr
// unless a sink is installed; tests install one to read what was logged.
// Callable from any thread except real-time ones (it formats and writes).

#include <functional>
#include <string>

namespace tollvane {

#if defined(__GNUC__)
#define TOLLVANE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TOLLVANE_PRINTF(fmt, args)
#endif

void TLLog(const char* format, ...) TOLLVANE_PRINTF(1, 2);

class Log {
public:
    using Sink = std::function<void(const std::string& line)>;
    // Replaces where lines go; an empty sink restores stderr. Returns the old sink.
    static Sink setSink(Sink sink);
    static void write(const std::string& line);
};

}  // namespace tollvane
