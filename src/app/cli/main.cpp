// tollvane-cli: the command line of Tollvane.

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "TollvaneVersion.h"
#include "app/cli/ClicksCommand.h"
#include "app/cli/CommandLineError.h"
#include "app/cli/SmfInfoCommand.h"
#include "app/cli/TimecodeCommand.h"

namespace {

const char* kUsage =
    "usage: tollvane-cli [--help] [--version] COMMAND [ARGS...]\n"
    "\n"
    "Commands:\n"
    "  timecode VALUE [options]   convert a timecode between frames, seconds, feet and frames\n"
    "                             and its printed forms, at any of the eight frame rates\n"
    "                             (tollvane-cli timecode --help for its options)\n"
    "  smf-info FILE [--json]     list a Standard MIDI File's tracks, tempo map and meters,\n"
    "                             or say why it cannot be read\n"
    "  clicks [options] [--json]  list every audible and visual click of a cue built from\n"
    "                             the options (tollvane-cli clicks --help for them)\n"
    "\n"
    "Options:\n"
    "  -h, --help      print this help\n"
    "  --version       print the version\n"
    "\n"
    "Exit status: 0 on success, 2 for a bad option or value, 1 for any other failure.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        if (arguments.empty() || arguments[0] == "-h" || arguments[0] == "--help") {
            std::cout << kUsage;
            return arguments.empty() ? 2 : 0;
        }
        if (arguments[0] == "--version") {
            std::cout << "tollvane-cli " << TOLLVANE_VERSION_STRING << " (build " << TOLLVANE_BUILD_NUMBER
                      << ")\n";
            return 0;
        }
        std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
        if (arguments[0] == "timecode") return tollvane::TimecodeCommand::run(rest, std::cout);
        if (arguments[0] == "smf-info") return tollvane::SmfInfoCommand::run(rest, std::cout, std::cerr);
        if (arguments[0] == "clicks") return tollvane::ClicksCommand::run(rest, std::cout);
        if (arguments[0].starts_with("-"))
            throw tollvane::CommandLineError("unknown option '" + arguments[0] + "'");
        throw tollvane::CommandLineError("unknown command '" + arguments[0] + "' (try --help)");
    } catch (const tollvane::CommandLineError& error) {
        std::fprintf(stderr, "tollvane-cli: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tollvane-cli: %s\n", error.what());
        return 1;
    }
}
