#include "app/cli/ExportClicksCommand.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "audio/ClickTrackExporter.h"
#include "audio/TLAudioController.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "platform/UserDefaults.h"

namespace tollvane {

namespace {

struct Options {
    std::optional<std::string> file;
    std::optional<std::string> cue;
    std::optional<std::string> output;
    std::optional<bool> aiff;
    std::optional<double> rate;
    std::optional<int> bits;
    std::optional<double> preroll;
    bool noFrameAlign = false;
    bool help = false;
    CommandLineAlertPresenter::Switches switches;
};

double parseNumber(const std::string& text, const std::string& what, double low, double high) {
    double value = 0.0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < low ||
        value > high) {
        char range[64];
        std::snprintf(range, sizeof range, " (%g to %g)", low, high);
        throw CommandLineError("'" + text + "' is not " + what + range);
    }
    return value;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) != suffix[i]) {
            return false;
        }
    }
    return true;
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("export-clicks");
    DocumentCommands::addAlertSwitches(reader, options.switches);
    const auto output = [&](const std::string& value) {
        if (value.empty()) throw CommandLineError("-o needs a file name");
        options.output = value;
    };
    reader.value("--cue", [&](const std::string& value) { options.cue = value; })
        .value("-o", output)
        .value("--output", output)
        .value("--format",
               [&](const std::string& format) {
                   if (format != "wav" && format != "aiff") {
                       throw CommandLineError("unknown format '" + format + "' for --format (wav, aiff)");
                   }
                   options.aiff = format == "aiff";
               })
        .value("--rate",
               [&](const std::string& value) {
                   const double rate = parseNumber(value, "a sample rate in hertz", 8000, 384000);
                   if (rate != std::trunc(rate))
                       throw CommandLineError("--rate takes a whole number of hertz");
                   options.rate = rate;
               })
        .value("--bits",
               [&](const std::string& text) {
                   if (text != "16" && text != "24" && text != "32") {
                       throw CommandLineError("'" + text + "' is not a bit depth (16, 24, or 32 for floats)");
                   }
                   options.bits = std::stoi(text);
               })
        .value("--preroll",
               [&](const std::string& value) {
                   options.preroll = parseNumber(value, "a number of seconds", 0, 3600);
               })
        .flag("--no-frame-align", options.noFrameAlign);
    options.help = !reader.parse(arguments, 1, 1, "a document FILE");
    if (options.help) return options;
    options.file = reader.operands()[0];
    if (!options.cue) throw CommandLineError("export-clicks " + *options.file + " needs --cue TITLE|ID");
    return options;
}

// A bar of 30 cells on a terminal, redrawn in place.
class ProgressBar {
public:
    ProgressBar(std::ostream& err, std::string title) : err_(err), title_(std::move(title)) {}
    ~ProgressBar() {
        if (shown_) err_ << "\n";
    }

    void show(double fraction) {
        const int percent = static_cast<int>(std::lround(100.0 * fraction));
        if (percent == lastPercent_) return;
        lastPercent_ = percent;
        shown_ = true;
        const int cells = percent * 30 / 100;
        err_ << "\rExporting " << title_ << " [" << std::string(cells, '#') << std::string(30 - cells, ' ')
             << "] " << percent << "%" << std::flush;
    }

private:
    std::ostream& err_;
    std::string title_;
    int lastPercent_ = -1;
    bool shown_ = false;
};

}  // namespace

const char* ExportClicksCommand::usage() {
    return "usage: tollvane-cli export-clicks FILE --cue TITLE|ID [-o OUT] [--format wav|aiff]\n"
           "                                  [--rate HZ] [--bits 16|24|32] [--preroll SECONDS]\n"
           "                                  [--no-frame-align] [--yes] [--open-anyway]\n"
           "\n"
           "Writes the click track of a cue as a mono audio file that a recording system can\n"
           "line up with picture: silence, then every click of the cue at its exact sample, the\n"
           "file starting --preroll seconds before the first click, moved back to the start of\n"
           "its frame unless --no-frame-align is given. Muted clicks are left silent.\n"
           "\n"
           "--cue names a cue by its ID, its exact title, or a part of its title that only one\n"
           "cue has (tollvane-cli info FILE lists them). The options default to the click-track\n"
           "export settings of the application (2 s, frame-aligned, 48000 Hz, 24 bit, WAVE).\n"
           "  -o OUT             the file to write; without it, the suggested name\n"
           "                     TITLE_HHMMSSFF_clix.wav (.aif for AIFF) in the current folder\n"
           "  --format wav|aiff  the file type (default: from OUT's extension, else WAVE)\n"
           "  --rate HZ          samples per second, 8000 to 384000\n"
           "  --bits 16|24|32    bits per sample: 16 or 24 bit integers, or 32 bit floats\n"
           "  --preroll SECONDS  lead before the first click\n"
           "  --no-frame-align   start exactly --preroll seconds before the first click\n"
           "A cue without a cue-end event renders up to two hours of clicks: the question that\n"
           "asks first is refused unless --yes is given. The file is written whole or not at\n"
           "all; a folder, a device or a pipe is never replaced.\n"
           "\n"
           "Example: tollvane-cli export-clicks film.tollvane --cue 1M3 -o 1M3.wav --bits 16\n";
}

int ExportClicksCommand::run(const std::vector<std::string>& arguments, std::ostream& out,
                             std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }

    DocumentCommands::Session session(options.switches, err);
    const std::shared_ptr<Document> document = session.open(*options.file);
    const std::shared_ptr<Cue> cue = DocumentCommands::findCue(*document, *options.file, *options.cue);
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    if (document->viewType() != Document::kCueViewType) {
        // The ADR/Foley view silences a scoring cue's clicks; the program
        // remembers the view last shown, which an export should not change.
        const Value remembered = defaults.objectForKey("lastDocumentViewType");
        document->setViewType(Document::kCueViewType);
        defaults.setObject("lastDocumentViewType", remembered);
    }
    cue->reallyUpdateSequence();
    if (!cue->sequence()) throw std::runtime_error("the cue could not be compiled");

    TLAudioController audio(defaults);
    const auto exporter = ClickTrackExporter::exporterWithCue(cue, audio);
    exporter->readOptionsFromDefaults(defaults);
    if (options.aiff) {
        exporter->setFormat(*options.aiff ? ClickTrackExporter::kAIFFFormat
                                          : ClickTrackExporter::kWAVEFormat);
    } else if (options.output) {
        const bool aiff = endsWith(*options.output, ".aif") || endsWith(*options.output, ".aiff");
        exporter->setFormat(aiff ? ClickTrackExporter::kAIFFFormat : ClickTrackExporter::kWAVEFormat);
    }
    if (options.rate) exporter->setSampleRate(*options.rate);
    if (options.bits) exporter->setBitDepth(*options.bits);
    if (options.preroll) exporter->setSecondsPrerollBeforeFirstClick(*options.preroll);
    if (options.noFrameAlign) exporter->setExtendHeadToAlignWithFrameBoundary(false);

    std::string path;
    if (options.output) {
        path = *options.output;
    } else {
        // The suggestion keeps ".wav" whatever the format; a file named here
        // carries the extension of what it holds.
        path = exporter->suggestedFilename();
        for (char& c : path) {
            if (c == '/') c = '_';
        }
        if (exporter->writesAIFF()) path = path.substr(0, path.size() - 4) + ".aif";
    }

    if (!exporter->confirmCueEnd())
        throw std::runtime_error("export cancelled: the cue has no cue end event");
    std::optional<ProgressBar> bar;
    if (::isatty(STDERR_FILENO)) bar.emplace(err, DocumentCommands::printable(cue->title()));
    exporter->setProgressHandler([&bar](double fraction) {
        if (bar) bar->show(fraction);
    });
    const bool written = exporter->renderToURL(path);
    bar.reset();
    if (!written) throw std::runtime_error("could not write " + path);
    out << "wrote " << path << "\n";
    return 0;
}

}  // namespace tollvane
