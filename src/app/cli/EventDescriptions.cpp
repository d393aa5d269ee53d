#include "app/cli/EventDescriptions.h"

#include <cstdio>

namespace tollvane {

std::string EventDescriptions::format(const char* pattern, double a, double b, double c) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

std::string EventDescriptions::colour(float red, float green, float blue) {
    return format("rgb %.2f %.2f %.2f", red, green, blue);
}

std::string EventDescriptions::streamer(float red, float green, float blue, double feet, int size,
                                        double skippingSeconds) {
    std::string what = format("streamer %.1f ft, size %.0f, ", feet, size) + colour(red, green, blue);
    if (skippingSeconds > 0.0) what += format(", %.3f s already run", skippingSeconds);
    return what;
}

std::string EventDescriptions::punch(int holes, float red, float green, float blue, int size) {
    return format(holes == 1 ? "punch, %.0f hole, size %.0f, " : "punch, %.0f holes, size %.0f, ", holes,
                  size) +
           colour(red, green, blue);
}

std::string EventDescriptions::beeps(double time, int count, bool punches) {
    return format("%.0f beeps over %.2f s", count, time) + (punches ? ", with punches" : "");
}

}  // namespace tollvane
