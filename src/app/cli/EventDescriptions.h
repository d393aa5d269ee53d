#pragma once

// The words the command line uses for what the program shows and sounds:
// one phrase per streamer, punch, beep run and colour, the same whether a
// rehearsal is listed on virtual time or a live session prints as it goes.

#include <string>

namespace tollvane {

class EventDescriptions {
public:
    static std::string colour(float red, float green, float blue);
    static std::string streamer(float red, float green, float blue, double feet, int size,
                                double skippingSeconds);
    static std::string punch(int holes, float red, float green, float blue, int size);
    static std::string beeps(double time, int count, bool punches);
    // printf into a string, for numbers in those phrases.
    static std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0);
};

}  // namespace tollvane
