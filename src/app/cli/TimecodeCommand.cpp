#include "app/cli/TimecodeCommand.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

namespace {

enum class Form { Timecode, Bits, Full, Frames, Seconds, Feet35, Feet16 };

struct FormName {
    const char* name;
    Form form;
    const char* label;
};

constexpr FormName kForms[] = {
    {"timecode", Form::Timecode, "timecode"},
    {"bits", Form::Bits, "with bits"},
    {"full", Form::Full, "with rate"},
    {"frames", Form::Frames, "frames"},
    {"seconds", Form::Seconds, "seconds"},
    {"feet35", Form::Feet35, "feet+frames 35mm"},
    {"feet16", Form::Feet16, "feet+frames 16mm"},
};

struct Options {
    std::string value;
    EMTimecodeFramerate rate = EMTimecodeFramerate::framerateForIndex(4);
    std::optional<EMTimecodeFramerate> toRate;
    Form from = Form::Timecode;
    std::optional<Form> to;
    bool json = false;
    bool help = false;
};

Form parseForm(const std::string& name, const char* option) {
    for (const FormName& f : kForms) {
        if (name == f.name) return f.form;
    }
    throw CommandLineError(std::string("unknown form '") + name + "' for " + option +
                           " (timecode, bits, full, frames, seconds, feet35, feet16)");
}

EMTimecodeFramerate parseRate(const std::string& name, const char* option) {
    int index = EMTimecodeFramerate::indexForName(name);
    if (index < 0) {
        throw CommandLineError(std::string("unknown frame rate '") + name + "' for " + option +
                               " (23.976, 24, 24.975, 25, 29.97nd, 29.97df, 30, 30df)");
    }
    return EMTimecodeFramerate::framerateForIndex(index);
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("timecode");
    reader.value("--rate", [&](const std::string& value) { options.rate = parseRate(value, "--rate"); })
        .value("--to-rate", [&](const std::string& value) { options.toRate = parseRate(value, "--to-rate"); })
        .value("--from", [&](const std::string& value) { options.from = parseForm(value, "--from"); })
        .value("--to", [&](const std::string& value) { options.to = parseForm(value, "--to"); })
        .flag("--json", options.json);
    options.help = !reader.parse(arguments, 1, 1, "a value to convert");
    if (options.help) return options;
    options.value = reader.operands()[0];
    if (options.from == Form::Bits || options.from == Form::Full) options.from = Form::Timecode;
    return options;
}

int64_t parseWhole(const std::string& text, const char* what) {
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw CommandLineError("'" + text + "' is not " + what);
    }
    return value;
}

double parseSeconds(const std::string& text) {
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        throw CommandLineError("'" + text + "' is not a number of seconds");
    }
    return value;
}

// "6743+04": feet and the frames left over, at 16 (35 mm) or 40 (16 mm) frames a foot.
int64_t parseFeetFrames(const std::string& text, int64_t framesPerFoot) {
    size_t plus = text.find('+');
    if (plus == std::string::npos) throw CommandLineError("'" + text + "' is not feet+frames (like 90+00)");
    int64_t feet = parseWhole(text.substr(0, plus), "a number of feet");
    int64_t frames = parseWhole(text.substr(plus + 1), "a number of frames");
    if (feet < 0 || frames < 0 || frames >= framesPerFoot) {
        throw CommandLineError("'" + text + "' is not feet+frames (frames below " +
                               std::to_string(framesPerFoot) + ")");
    }
    return feet * framesPerFoot + frames;
}

std::shared_ptr<EMTimecode> readValue(const Options& options) {
    auto timecode = std::make_shared<EMTimecode>();
    timecode->setFramerate(options.rate);
    switch (options.from) {
        case Form::Frames:
            timecode->setFramesFromZero(parseWhole(options.value, "a frame count"));
            break;
        case Form::Seconds:
            timecode->setSecondsFromZero(parseSeconds(options.value));
            break;
        case Form::Feet35:
            timecode->setFramesFromZero(parseFeetFrames(options.value, 16));
            break;
        case Form::Feet16:
            timecode->setFramesFromZero(parseFeetFrames(options.value, 40));
            break;
        default:
            timecode->setStringRepresentation(options.value);
            break;
    }
    if (options.toRate) timecode->convertFramerateTo(*options.toRate);
    return timecode;
}

std::string formatSeconds(double seconds) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6f", seconds);
    return buffer;
}

std::string render(const EMTimecode& timecode, Form form) {
    switch (form) {
        case Form::Timecode:
            return timecode.stringRepresentation();
        case Form::Bits:
            return timecode.stringRepresentationWithBits();
        case Form::Full:
            return timecode.stringRepresentationWithBitsAndFramerate();
        case Form::Frames:
            return std::to_string(timecode.framesFromZero());
        case Form::Seconds:
            return formatSeconds(timecode.secondsFromZero());
        case Form::Feet35:
            return timecode.feetFramesRepresentation35mm();
        case Form::Feet16:
            return timecode.feetFramesRepresentation16mm();
    }
    return {};
}

void printJson(const EMTimecode& timecode, std::ostream& out) {
    nlohmann::ordered_json json;
    json["timecode"] = timecode.stringRepresentation();
    json["bits"] = timecode.bits();
    json["rate"] = timecode.framerate().label();
    json["frames"] = timecode.framesFromZero();
    json["seconds"] = timecode.secondsFromZero();
    json["feet35"] = timecode.feetFramesRepresentation35mm();
    json["feet16"] = timecode.feetFramesRepresentation16mm();
    out << json.dump(2) << "\n";
}

}  // namespace

const char* TimecodeCommand::usage() {
    return "usage: tollvane-cli timecode VALUE [--rate RATE] [--from FORM] [--to FORM] [--to-rate RATE] "
           "[--json]\n"
           "\n"
           "Reads VALUE at RATE and prints it in every form, or in the form --to names.\n"
           "\n"
           "  --rate RATE     the rate VALUE is read at (default 29.97nd)\n"
           "  --from FORM     how to read VALUE: timecode (default; 1:00:00;00, 1.0.0.0 or packed\n"
           "                  01000000), frames, seconds, feet35, feet16 (feet+frames, like 90+00)\n"
           "  --to FORM       print only this form: timecode, bits, full, frames, seconds,\n"
           "                  feet35, feet16\n"
           "  --to-rate RATE  convert to another rate first, keeping the point in time\n"
           "  --json          print every form as a JSON object\n"
           "\n"
           "Rates: 23.976, 24, 24.975, 25, 29.97nd (or 29.97), 29.97df, 30, 30df.\n"
           "Example: tollvane-cli timecode \"1:00:00;00\" --rate 29.97df --to frames   prints 107892\n";
}

int TimecodeCommand::run(const std::vector<std::string>& arguments, std::ostream& out) {
    Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    std::shared_ptr<EMTimecode> timecode = readValue(options);
    if (options.json) {
        printJson(*timecode, out);
    } else if (options.to) {
        out << render(*timecode, *options.to) << "\n";
    } else {
        for (const FormName& f : kForms) {
            char label[32];
            std::snprintf(label, sizeof label, "%-18s", f.label);
            out << label << render(*timecode, f.form) << "\n";
        }
    }
    return 0;
}

}  // namespace tollvane
