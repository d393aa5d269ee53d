#include "app/cli/ExportCommands.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "document/CueListExporter.h"
#include "document/Document.h"

namespace tollvane {

namespace {

enum class Format { json, tsv };

struct Options {
    std::string path;
    std::optional<std::string> output;
    bool help = false;
    CommandLineAlertPresenter::Switches switches;
};

const char* commandName(Format format) {
    return format == Format::json ? "export-json" : "export-tsv";
}

const char* extension(Format format) {
    return format == Format::json ? ".json" : ".txt";
}

Options parseOptions(Format format, const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader(commandName(format));
    DocumentCommands::addAlertSwitches(reader, options.switches);
    const auto output = [&](const std::string& value) {
        if (value.empty()) throw CommandLineError("-o needs a file name, or - for stdout");
        options.output = value;
    };
    reader.value("-o", output).value("--output", output);
    options.help = !reader.parse(arguments, 1, 1, "a FILE to read");
    if (!options.help) options.path = reader.operands()[0];
    return options;
}

std::string usage(Format format) {
    const bool json = format == Format::json;
    std::string text = std::string("usage: tollvane-cli ") + commandName(format) +
                       " FILE [-o OUT] [--open-anyway] [--yes]\n\n";
    if (json) {
        text +=
            "Writes the cue list of the Tollvane document FILE as JSON, as the program's JSON\n"
            "export does: \"reels\" (reelID, title, start, end; in start order) and \"cues\"\n"
            "(reelNumber, cueNumber, title, start, end, reelID; in sync order). Reel and cue\n"
            "numbers come from titles like \"2M14 Main Title\"; \"12 Untitled\" gives cue 12 of\n"
            "reel 0, and a title without a leading number gives cue \"-\". A cue's end is its\n"
            "cue-end event's timecode, or its sync timecode without one.\n";
    } else {
        text +=
            "Writes the cue list of the Tollvane document FILE as tab-delimited text, as the\n"
            "program's tab-delimited export does: one line per cue, in the order the cues are\n"
            "stored, with reel number, cue number, title, sync timecode, an empty field, end\n"
            "timecode, and a tab before the line end. Reel and cue numbers come from titles\n"
            "like \"2M14 Main Title\"; a title that does not have that form keeps its whole text\n"
            "with an empty cue number (and reel number 12 for \"12 Untitled\"). Tabs and line\n"
            "breaks inside a title become spaces.\n";
    }
    text += std::string(
                "\n  -o OUT          where to write: - for stdout; by default FILE with its extension\n"
                "                  replaced by ") +
            extension(format) + ". The file is replaced whole or not at all.\n\n";
    text += DocumentCommands::alertSwitchesUsage();
    return text;
}

int run(Format format, const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(format, arguments);
    if (options.help) {
        out << usage(format);
        return 0;
    }
    std::string output = options.output.value_or(
        std::filesystem::path(options.path).replace_extension(extension(format)).string());
    if (output != "-" && DocumentCommands::sameFile(output, options.path)) {
        throw std::runtime_error("will not write the export over the document " + options.path +
                                 " (choose another file with -o)");
    }

    DocumentCommands::Session session(options.switches, err);
    const std::shared_ptr<Document> document = session.open(options.path);
    if (output == "-") {
        if (format == Format::json) {
            const std::string json = CueListExporter::jsonString(*document);
            if (json.empty()) throw std::runtime_error("cannot make the JSON of " + options.path);
            out << json;
        } else {
            out << CueListExporter::tabDelimitedString(*document);
        }
        return 0;
    }
    std::string error;
    const bool written = format == Format::json
                             ? CueListExporter::exportJSON(*document, output, &error)
                             : CueListExporter::saveTabDelimitedCueList(*document, output, &error);
    if (!written) throw std::runtime_error("cannot write " + output + (error.empty() ? "" : ": " + error));
    out << "wrote " << output << "\n";
    return 0;
}

}  // namespace

std::string ExportCommands::jsonUsage() {
    return usage(Format::json);
}

std::string ExportCommands::tsvUsage() {
    return usage(Format::tsv);
}

int ExportCommands::runJSON(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    return run(Format::json, arguments, out, err);
}

int ExportCommands::runTSV(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    return run(Format::tsv, arguments, out, err);
}

}  // namespace tollvane
