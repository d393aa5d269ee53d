#include "app/cli/InfoCommand.h"

#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEvent.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventSoundCue.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "timebase/EMTimecodeFramerate.h"

namespace tollvane {

namespace {

struct Options {
    std::string path;
    bool json = false;
    bool help = false;
    CommandLineAlertPresenter::Switches switches;
};

struct ReelInfo {
    uint32_t reelID = 0;
    std::string title;
    std::string start;
    std::string end;
    std::string path;
    // "ok", "missing" (a path that is not a movie we can open) or "none".
    std::string movie;
};

struct CueInfo {
    uint32_t cueID = 0;
    std::string title;
    std::string sync;
    std::string end;  // empty without a cue-end event
    uint32_t reelID = 0;
    std::string reelTitle;
    // The reel column: the reel's ID, the way a marker chooses one, or "-".
    std::string reelText = "-";
    size_t eventCount = 0;
    std::map<std::string, size_t> eventsByKind;
};

struct ADRFoleyInfo {
    std::string timecode;
    std::string title;
    std::string text;
    std::vector<std::string> tags;
    bool enabled = true;
};

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("info");
    DocumentCommands::addAlertSwitches(reader, options.switches);
    reader.flag("--json", options.json);
    options.help = !reader.parse(arguments, 1, 1, "a FILE to read");
    if (!options.help) options.path = reader.operands()[0];
    return options;
}

// The event list's kinds, with names for the two that the list shows only
// as "Event".
std::string kindName(const CueEvent& event) {
    if (dynamic_cast<const CueEventCueEnd*>(&event)) return "Cue End";
    if (dynamic_cast<const CueEventMusicIn*>(&event)) return "Music In";
    return event.eventTypeString();
}

ReelInfo reelInfo(const Reel& reel) {
    ReelInfo info;
    info.reelID = reel.reelID();
    info.title = reel.title();
    info.start = reel.startTimecodeString();
    info.end = reel.endTimecodeString();
    info.path = reel.path();
    info.movie = reel.validFile() ? "ok" : info.path.empty() ? "none" : "missing";
    return info;
}

CueInfo cueInfo(Cue& cue) {
    CueInfo info;
    info.cueID = cue.cueID();
    info.title = cue.title();
    info.sync = cue.syncTimecodeString();
    if (const std::shared_ptr<CueEventCueEnd> end = cue.cueEndEvent()) {
        if (const std::shared_ptr<EMTimecode> timecode = end->lockTimecode())
            info.end = timecode->stringRepresentation();
    }
    if (const std::shared_ptr<Reel> reel = cue.reel()) {
        info.reelID = reel->reelID();
        info.reelTitle = reel->title();
        switch (reel->reelID()) {
            case Reel::kManualSelectionMarkerID:
                info.reelText = "manual";
                break;
            case Reel::kTimecodeSelectionMarkerID:
                info.reelText = "by timecode";
                break;
            case Reel::kDefaultSelectionMarkerID:
                info.reelText = "default";
                break;
            default:
                info.reelText = std::to_string(reel->reelID());
        }
    }
    for (const std::shared_ptr<CueEvent>& event : cue.eventsForArrayController()) {
        ++info.eventCount;
        ++info.eventsByKind[kindName(*event)];
    }
    return info;
}

ADRFoleyInfo adrFoleyInfo(const CueEventSoundCue& event) {
    ADRFoleyInfo info;
    const std::shared_ptr<EMTimecode> timecode = event.lockTimecode();
    info.timecode = timecode ? timecode->stringRepresentation() : "-:--:--";
    info.title = event.title();
    info.text = event.text();
    info.tags = event.tags();
    info.enabled = event.enabled();
    return info;
}

const char* reelSelectionText(int64_t mode) {
    switch (mode) {
        case 0:
            return "reels selected manually";
        case 2:
            return "reels selected by cue";
        default:
            return "reels selected by timecode";
    }
}

std::string column(const std::string& text, int width) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%-*s", width, text.c_str());
    return buffer;
}

std::string plural(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void printText(const std::string& path, Document& document, const std::vector<ReelInfo>& reels,
               const std::vector<CueInfo>& cues, const std::vector<ADRFoleyInfo>& events, std::ostream& out) {
    using P = DocumentCommands;
    out << path << ": " << EMTimecodeFramerate::framerateForIndex(document.projectFramerate()).label() << ", "
        << reelSelectionText(document.reelSelectionMode()) << ", cues selected "
        << (document.cueSelectionMode() == 1 ? "by timecode" : "manually") << ", "
        << (document.documentViewType() == Document::kADRFoleyViewType ? "ADR/Foley view" : "scoring view")
        << "\n";

    out << "\nreels: " << reels.size() << "\n";
    if (!reels.empty()) {
        out << "  " << column("id", 11) << column("start", 13) << column("end", 13) << column("movie", 9)
            << "title\n";
    }
    for (const ReelInfo& reel : reels) {
        out << "  " << column(std::to_string(reel.reelID), 11) << column(reel.start, 13)
            << column(reel.end.empty() ? "-" : reel.end, 13) << column(reel.movie, 9)
            << P::printable(reel.title) << "\n";
        if (!reel.path.empty()) out << "    movie file: " << P::printable(reel.path) << "\n";
    }

    out << "\ncues: " << cues.size() << "\n";
    if (!cues.empty()) {
        out << "  " << column("id", 11) << column("sync", 13) << column("end", 13) << column("reel", 12)
            << "title\n";
    }
    for (const CueInfo& cue : cues) {
        out << "  " << column(std::to_string(cue.cueID), 11) << column(cue.sync, 13)
            << column(cue.end.empty() ? "-" : cue.end, 13) << column(cue.reelText, 12)
            << P::printable(cue.title) << "\n";
        out << "    " << plural(cue.eventCount, "event", "events");
        const char* separator = ": ";
        for (const auto& [kind, count] : cue.eventsByKind) {
            out << separator << count << " " << kind;
            separator = ", ";
        }
        out << "\n";
    }

    out << "\nADR/Foley events: " << events.size() << "\n";
    if (!events.empty()) out << "  " << column("timecode", 13) << "title / text\n";
    for (const ADRFoleyInfo& event : events) {
        out << "  " << column(event.timecode, 13) << P::printable(event.title);
        if (!event.text.empty()) out << " / " << P::printable(event.text);
        if (!event.enabled) out << " (disabled)";
        out << "\n";
    }
}

void printJson(const std::string& path, Document& document, const std::vector<ReelInfo>& reels,
               const std::vector<CueInfo>& cues, const std::vector<ADRFoleyInfo>& events, std::ostream& out) {
    nlohmann::ordered_json json;
    json["file"] = path;
    json["projectFramerate"] = document.projectFramerate();
    json["rate"] = EMTimecodeFramerate::framerateForIndex(document.projectFramerate()).label();
    json["reelSelectionMode"] = document.reelSelectionMode();
    json["cueSelectionMode"] = document.cueSelectionMode();
    json["documentViewType"] = document.documentViewType();
    json["hasBrokenReels"] = document.reelController().hasBrokenReels();
    json["reels"] = nlohmann::ordered_json::array();
    for (const ReelInfo& reel : reels) {
        json["reels"].push_back({{"reelID", reel.reelID},
                                 {"title", reel.title},
                                 {"start", reel.start},
                                 {"end", reel.end},
                                 {"path", reel.path},
                                 {"movie", reel.movie},
                                 {"broken", reel.movie != "ok"}});
    }
    json["cues"] = nlohmann::ordered_json::array();
    for (const CueInfo& cue : cues) {
        nlohmann::ordered_json entry;
        entry["cueID"] = cue.cueID;
        entry["title"] = cue.title;
        entry["sync"] = cue.sync;
        entry["end"] = cue.end.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(cue.end);
        entry["reelID"] = cue.reelID;
        entry["reelTitle"] = cue.reelTitle;
        entry["eventCount"] = cue.eventCount;
        entry["events"] = nlohmann::ordered_json::object();
        for (const auto& [kind, count] : cue.eventsByKind) entry["events"][kind] = count;
        json["cues"].push_back(std::move(entry));
    }
    json["adrFoleyEvents"] = nlohmann::ordered_json::array();
    for (const ADRFoleyInfo& event : events) {
        json["adrFoleyEvents"].push_back({{"timecode", event.timecode},
                                          {"title", event.title},
                                          {"text", event.text},
                                          {"tags", event.tags},
                                          {"enabled", event.enabled}});
    }
    // A damaged file's texts need not be UTF-8.
    out << json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

}  // namespace

std::string InfoCommand::usage() {
    return std::string(
               "usage: tollvane-cli info FILE [--json] [--open-anyway] [--yes]\n"
               "\n"
               "Lists what the Tollvane document FILE holds: the project frame rate and the reel\n"
               "and cue selection modes; each reel (in start order) with its ID, start and end\n"
               "timecodes, movie file, and whether the movie is ok, missing (the file cannot be\n"
               "found or opened as a movie) or none; each cue (in sync order) with its ID, sync\n"
               "timecode, end (its cue-end event's timecode; - without one), reel and events by\n"
               "kind; and the ADR/Foley events with their timecodes, titles and texts.\n"
               "A file that cannot be opened is named with the reason, and the exit status is 1.\n"
               "\n"
               "  --json          print the same as a JSON object\n"
               "\n") +
           DocumentCommands::alertSwitchesUsage();
}

int InfoCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    DocumentCommands::Session session(options.switches, err);
    const std::shared_ptr<Document> document = session.open(options.path);

    std::vector<ReelInfo> reels;
    for (const std::shared_ptr<Reel>& reel : document->reelController().arrangedObjects())
        reels.push_back(reelInfo(*reel));
    std::vector<CueInfo> cues;
    for (const std::shared_ptr<Cue>& cue : document->cueController().arrangedObjects())
        cues.push_back(cueInfo(*cue));
    std::vector<ADRFoleyInfo> events;
    for (const std::shared_ptr<CueEventSoundCue>& event : document->adrFoleyEvents())
        events.push_back(adrFoleyInfo(*event));

    if (options.json) {
        printJson(options.path, *document, reels, cues, events, out);
    } else {
        printText(options.path, *document, reels, cues, events, out);
    }
    return 0;
}

}  // namespace tollvane
