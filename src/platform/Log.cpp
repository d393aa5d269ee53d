#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace tollvane {

namespace {

// Never destroyed, so that a line logged from another static's destructor or
// an exit hook still finds them.
std::mutex& sinkMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

Log::Sink& currentSink() {
    static auto* sink = new Log::Sink;
    return *sink;
}

}  // namespace

Log::Sink Log::setSink(Sink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    Sink old = std::move(currentSink());
    currentSink() = std::move(sink);
    return old;
}

void Log::write(const std::string& line) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (currentSink()) {
        currentSink()(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

void TLLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        line.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    Log::write(line);
}

}  // namespace tollvane
