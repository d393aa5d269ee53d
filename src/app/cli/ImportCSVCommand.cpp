#include "app/cli/ImportCSVCommand.h"

#include <memory>
#include <stdexcept>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "document/ADRFoleyEventArrayController.h"
#include "document/CSVParser.h"
#include "document/Document.h"
#include "document/TextEncodingDetector.h"
#include "model/CueEventSoundCue.h"
#include "timebase/EMTimecodeFormatter.h"

namespace tollvane {

namespace {

struct Options {
    std::string documentPath;
    std::string textPath;
    std::string delimiter = ",";
    std::vector<std::string> columns{"cuenumber", "sync", "tags", "text"};
    bool help = false;
    CommandLineAlertPresenter::Switches switches;
};

std::string delimiterFromOption(const std::string& value) {
    if (value == "tab" || value == "\\t") return "\t";
    if (value.empty()) throw CommandLineError("--delimiter needs at least one character");
    return value;
}

std::vector<std::string> columnsFromOption(const std::string& value) {
    std::vector<std::string> columns;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        const std::string name =
            value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (name == "cuenumber" || name == "sync" || name == "tags" || name == "text") {
            columns.push_back(name);
        } else if (name == "ignore") {
            columns.push_back("(ignore)");
        } else {
            throw CommandLineError("unknown column '" + name +
                                   "' in --columns (use cuenumber, sync, tags, text, ignore)");
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return columns;
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("import-csv");
    DocumentCommands::addAlertSwitches(reader, options.switches);
    reader
        .value("--delimiter",
               [&](const std::string& value) { options.delimiter = delimiterFromOption(value); })
        .value("--columns", [&](const std::string& value) { options.columns = columnsFromOption(value); });
    options.help = !reader.parse(arguments, 2, 2, "a document FILE and a TEXT file");
    if (options.help) return options;
    options.documentPath = reader.operands()[0];
    options.textPath = reader.operands()[1];
    return options;
}

}  // namespace

std::string ImportCSVCommand::usage() {
    return std::string(
               "usage: tollvane-cli import-csv FILE TEXT [--delimiter D] [--columns LIST]\n"
               "                               [--open-anyway] [--yes]\n"
               "\n"
               "Imports the delimited text file TEXT into the ADR/Foley list of the Tollvane\n"
               "document FILE, one event per row, and saves FILE (replaced whole or not at\n"
               "all). The text may be UTF-8 (with or without a byte-order mark), UTF-16 with a\n"
               "byte-order mark, or Latin-1. Fields may be quoted with double quotes (a doubled\n"
               "quote inside stands for one); blank lines are skipped.\n"
               "\n"
               "  --delimiter D   what separates the fields: one or more characters, or 'tab'\n"
               "                  (default ',')\n"
               "  --columns LIST  the file's columns left to right, separated by commas (default\n"
               "                  cuenumber,sync,tags,text):\n"
               "                    cuenumber  the event's title\n"
               "                    sync       the timecode it is locked to, at the project rate\n"
               "                    tags       tags separated by commas (quote the field)\n"
               "                    text       the line's text\n"
               "                    ignore     a column to skip\n"
               "\n"
               "Nothing is imported, and FILE is left as it was, when TEXT cannot be read, holds\n"
               "no rows, has a row with more fields than there are columns, or has a sync field\n"
               "that is not a timecode; the message names the row. Exit status 1 then.\n"
               "\n") +
           DocumentCommands::alertSwitchesUsage();
}

int ImportCSVCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    const TextEncodingDetector::Result text =
        TextEncodingDetector::stringWithContentsOfFile(options.textPath);
    if (!text.ok()) throw std::runtime_error("cannot read " + options.textPath + ": " + text.error);
    const std::vector<CSVParser::Row> rows = CSVParser::csvRowsWithDelimiter(text.text, options.delimiter);
    if (rows.empty()) throw std::runtime_error(options.textPath + ": no rows to import");
    if (const std::string problem = ADRFoleyEventArrayController::problemWithRows(rows, options.columns);
        !problem.empty()) {
        throw std::runtime_error(options.textPath + ", " + problem);
    }

    DocumentCommands::Session session(options.switches, err);
    const std::shared_ptr<Document> document = session.open(options.documentPath);
    // Sync fields are read at the document's rate, which the session gives
    // the timecode formatters.
    ADRFoleyEventArrayController::Events added;
    {
        ADRFoleyEventArrayController controller(*document);
        added = controller.importRows(rows, options.columns);
    }

    std::string error;
    if (!document->writeToFile(options.documentPath, &error)) {
        throw std::runtime_error("cannot save " + options.documentPath + (error.empty() ? "" : ": " + error));
    }
    out << "added " << added.size() << (added.size() == 1 ? " ADR/Foley event" : " ADR/Foley events")
        << " from " << options.textPath << " (" << TextEncodingDetector::encodingName(text.encoding)
        << "); saved " << options.documentPath << "\n";
    for (const auto& event : added) {
        out << "  " << event->lockTimeString() << "  " << DocumentCommands::printable(event->title()) << "  "
            << DocumentCommands::printable(event->text());
        if (!event->tags().empty()) {
            out << "  [";
            for (size_t i = 0; i < event->tags().size(); ++i)
                out << (i ? ", " : "") << DocumentCommands::printable(event->tags()[i]);
            out << "]";
        }
        out << "\n";
    }
    return 0;
}

}  // namespace tollvane
