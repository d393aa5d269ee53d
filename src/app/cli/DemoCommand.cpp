#include "app/cli/DemoCommand.h"

#include <array>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "document/ADRFoleyEventArrayController.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventPunch.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "timebase/EMTimecode.h"
#include "timebase/NoteDuration.h"

namespace tollvane {

namespace {

// 25 fps: the index of "25" among the eight project rates.
constexpr int64_t kProjectFramerate = 3;
constexpr int64_t kSelectByTimecode = 1;
// Note-duration codes beside NoteDuration's named ones.
constexpr int32_t kDottedQuarter = 5;
constexpr int32_t kEighth = 8;

struct Options {
    std::string directory = ".";
    bool force = false;
    bool help = false;
};

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("demo");
    reader.flag("--force", options.force);
    options.help = !reader.parse(arguments, 0, 1);
    if (!options.help && !reader.operands().empty()) options.directory = reader.operands()[0];
    return options;
}

// Making a document writes the rate and view it was given into the user
// defaults as the ones to start the next new document with; the demo is
// not the user's choice, so they are put back.
class KeptUserDefaults {
public:
    KeptUserDefaults() {
        for (size_t i = 0; i < kKeys.size(); ++i) values_[i] = defaults().objectForKey(kKeys[i]);
    }
    ~KeptUserDefaults() {
        for (size_t i = 0; i < kKeys.size(); ++i) defaults().setObject(kKeys[i], values_[i]);
    }
    KeptUserDefaults(const KeptUserDefaults&) = delete;
    KeptUserDefaults& operator=(const KeptUserDefaults&) = delete;

private:
    static constexpr std::array<std::string_view, 2> kKeys{"lastProjectFramerate", "lastDocumentViewType"};
    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }
    std::array<Value, 2> values_;
};

// --- Building blocks -------------------------------------------------------------

std::shared_ptr<EMTimecode> timecode(std::string_view text) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(kProjectFramerate), text);
}

std::shared_ptr<Color> rgb(double red, double green, double blue) {
    return Color::calibrated(red, green, blue);
}

// Events of a musical cue sit on downbeats: they stay there when a tempo
// before them changes.
template <class Event>
std::shared_ptr<Event> atBar(std::shared_ptr<Event> event, int32_t bar) {
    event->setLockType(CueEvent::kLockTypeBar);
    event->setLockBar(bar);
    return event;
}

void addTempoChange(const std::shared_ptr<Cue>& cue, double bpm, int32_t noteDuration, int32_t bar) {
    cue->addEvent(atBar(CueEventTempoChange::tempoChangeEventWithCue(cue, bpm, noteDuration, 0.0), bar));
}

void addMeterChange(const std::shared_ptr<Cue>& cue, uint16_t numerator, uint16_t denominator, int32_t bar) {
    cue->addEvent(CueEventMeterChange::meterChangeWithCue(cue, TimeSignature{numerator, denominator},
                                                          NoteDuration::kNoChange, bar));
}

// A click of `noteDuration` (grouped by `pattern` when one is given) from
// `bar` on, with a punch of `barPunchHoles` on every downbeat (0: none).
void addClickChange(const std::shared_ptr<Cue>& cue, int32_t bar, int32_t noteDuration,
                    std::vector<uint32_t> pattern, int32_t barPunchHoles) {
    auto change = atBar(CueEventClickChange::clickChangeWithCue(cue, noteDuration, 0.0), bar);
    change->setClickPattern(std::move(pattern));
    change->setChangePunches(true);
    change->setBarPunchEnabled(barPunchHoles > 0);
    if (barPunchHoles > 0) change->setBarPunchHoles(barPunchHoles);
    cue->addEvent(change);
}

// `beats` quarter-note clicks, each with a punch, into `bar`, and a streamer
// into the bar; none into the first click, which is where rehearsal starts.
void addCountoff(const std::shared_ptr<Cue>& cue, int32_t beats, int32_t bar) {
    constexpr bool kClick = true, kPunches = true, kStreamerIntoFirstBeat = false, kStreamerIntoBar = true;
    cue->addEvent(
        atBar(CueEventCountoff::countoffEventWithCue(cue, 0.0, beats, NoteDuration::kQuarter, kClick,
                                                     kPunches, kStreamerIntoFirstBeat, kStreamerIntoBar),
              bar));
}

void addStreamer(const std::shared_ptr<Cue>& cue, int32_t bar, std::shared_ptr<Color> color, float feet) {
    cue->addEvent(atBar(CueEventStreamer::streamerEventWithCue(cue, std::move(color), feet, 1.0f, 0.0), bar));
}

void addPunch(const std::shared_ptr<Cue>& cue, int32_t bar, std::shared_ptr<Color> color, int32_t holes) {
    cue->addEvent(atBar(CueEventPunch::punchEventWithCue(cue, std::move(color), holes, 1.0f, 0.0), bar));
}

void addCueEnd(const std::shared_ptr<Cue>& cue, int32_t bar) {
    cue->addEvent(atBar(CueEventCueEnd::cueEndEventWithCue(cue), bar));
}

// A cue whose bar 1 is at `sync`, on `reel`, held from rebuilding until
// finishCue: every event added meanwhile would ask for one.
std::shared_ptr<Cue> beginCue(uint32_t cueID, const char* title, const std::shared_ptr<Reel>& reel,
                              std::string_view sync) {
    std::shared_ptr<Cue> cue = Cue::create();
    cue->setUpdatesSuspended(true);
    cue->setCueID(cueID);
    cue->setTitle(title);
    cue->setReel(reel);
    cue->setSyncTimecode(timecode(sync));
    return cue;
}

// The first rebuild places the bar-locked events; the second sorts the
// meter and click changes by the positions they were given and derives the
// count-offs and the rehearsal start from them.
void finishCue(Document& document, const std::shared_ptr<Cue>& cue) {
    cue->setUpdatesSuspended(false);
    document.cueController().addObject(cue);
    cue->reallyUpdateSequence();
    cue->reallyUpdateSequence();
    if (!cue->sequence()) throw std::runtime_error("the demo cue \"" + cue->title() + "\" did not compile");
}

// --- The cues ----------------------------------------------------------------------

// Two bars of count-off from 01:00:06:00 into the music at bar 3, 01:00:10:00;
// 100 bpm from bar 9, 3/4 from bar 13, the end after bar 16. Without warning
// beats the rehearsal starts with the count-off itself.
std::shared_ptr<Cue> opening(Document& document, const std::shared_ptr<Reel>& reel) {
    std::shared_ptr<Cue> cue = beginCue(101, "1M1 Opening", reel, "01:00:10:00");
    constexpr int32_t kMusicBar = 3;
    cue->setSyncPrerollShiftedBeats(Value(Cue::kPrerollBeats + 4.0 * (kMusicBar - 1)));
    cue->setWarningBeats(0);

    addTempoChange(cue, 120.0, NoteDuration::kQuarter, 1);
    addMeterChange(cue, 4, 4, 1);
    addCountoff(cue, 8, kMusicBar);
    cue->addEvent(atBar(CueEventMusicIn::musicInEventWithCue(cue), kMusicBar));
    addClickChange(cue, kMusicBar, NoteDuration::kQuarter, {}, 3);

    addStreamer(cue, 5, rgb(1.0, 1.0, 1.0), 3.0f);
    addTempoChange(cue, 100.0, NoteDuration::kQuarter, 9);
    addStreamer(cue, 9, rgb(0.2, 0.9, 0.3), 4.0f);
    addPunch(cue, 9, rgb(0.2, 0.9, 0.3), 3);
    // The waltz clicks eighths in groups of two: the off-beats stay silent.
    addMeterChange(cue, 3, 4, 13);
    addClickChange(cue, 13, kEighth, {2, 2, 2}, 3);
    addStreamer(cue, 13, rgb(1.0, 0.85, 0.1), 4.0f);
    addPunch(cue, 13, rgb(1.0, 0.85, 0.1), 5);
    addCueEnd(cue, 17);
    finishCue(document, cue);
    return cue;
}

// 6/8 felt in two (dotted quarters of three eighths), faster from bar 9.
std::shared_ptr<Cue> chase(Document& document, const std::shared_ptr<Reel>& reel) {
    std::shared_ptr<Cue> cue = beginCue(102, "1M2 Chase", reel, "01:01:00:00");
    cue->setWarningBeatNoteDuration(kDottedQuarter);

    addMeterChange(cue, 6, 8, 1);
    addTempoChange(cue, 120.0, kDottedQuarter, 1);
    addClickChange(cue, 1, kEighth, {3, 3}, 0);
    addPunch(cue, 5, rgb(1.0, 1.0, 1.0), 3);
    addStreamer(cue, 9, rgb(0.3, 0.6, 1.0), 3.0f);
    addTempoChange(cue, 132.0, kDottedQuarter, 9);
    addPunch(cue, 9, rgb(0.3, 0.6, 1.0), 3);
    addCueEnd(cue, 17);
    finishCue(document, cue);
    return cue;
}

// 4/4 at 96, four bars of 7/8 (2+2+3) from bar 5, back to 4/4 at bar 9 and
// a last hit on bar 13.
std::shared_ptr<Cue> finale(Document& document, const std::shared_ptr<Reel>& reel) {
    std::shared_ptr<Cue> cue = beginCue(201, "2M1 Finale", reel, "02:00:20:00");

    addTempoChange(cue, 96.0, NoteDuration::kQuarter, 1);
    addMeterChange(cue, 4, 4, 1);
    addMeterChange(cue, 7, 8, 5);
    addClickChange(cue, 5, kEighth, {2, 2, 3}, 2);
    addStreamer(cue, 5, rgb(1.0, 1.0, 1.0), 3.0f);
    addPunch(cue, 5, rgb(1.0, 1.0, 1.0), 3);
    addMeterChange(cue, 4, 4, 9);
    addClickChange(cue, 9, NoteDuration::kQuarter, {}, 0);
    addPunch(cue, 9, rgb(1.0, 1.0, 1.0), 3);
    addStreamer(cue, 13, rgb(1.0, 0.2, 0.2), 6.0f);
    addPunch(cue, 13, rgb(1.0, 0.2, 0.2), 7);
    addCueEnd(cue, 14);
    finishCue(document, cue);
    return cue;
}

// --- Reels and the ADR/Foley list ------------------------------------------------

std::shared_ptr<Reel> addReel(Document& document, const char* title, std::string_view start) {
    std::shared_ptr<Reel> reel = Reel::create();
    reel->setTitle(title);
    reel->setStartTimecode(timecode(start));
    document.reelController().addObject(reel);
    return reel;
}

struct ADRFoleyLine {
    const char* timecode;
    const char* title;  // the cue number
    const char* text;
    std::vector<std::string> tags;  // kind, then the character
    bool beeps;
};

// Dialogue lines come with three beeps ahead of the line; the effect only
// with its streamer.
void addADRFoleyLines(Document& document) {
    const ADRFoleyLine lines[] = {
        {"01:00:42:00", "A101", "Where were you last night?", {"dx", "MARA"}, true},
        {"01:00:45:12", "A102", "Out. Walking.", {"dx", "JONAH"}, true},
        {"01:00:49:00", "F101", "Door slams", {"foley"}, false},
        {"01:00:52:00", "A103", "(breath, turns away)", {"dx", "efforts", "MARA"}, true},
    };
    ADRFoleyEventArrayController list(document);
    for (const ADRFoleyLine& line : lines) {
        std::shared_ptr<CueEventSoundCue> event = list.addEvent();
        event->setLockTimecode(timecode(line.timecode));
        event->setTitle(line.title);
        event->setText(line.text);
        event->setTags(line.tags);
        event->setStreamerEnabled(true);
        event->setStreamerFeet(4.0);
        event->setStreamerColor(line.beeps ? rgb(0.2, 0.9, 0.3) : rgb(1.0, 0.6, 0.1));
        event->setBeepsEnabled(line.beeps);
        event->setBeepsCount(3);
        event->setBeepsSeconds(2.0);
        event->setBeepOnCuePoint(false);
        event->setPunchOnEachBeep(true);
    }
    list.setSelectedEvents({});
}

std::shared_ptr<Document> demoDocument() {
    std::shared_ptr<Document> document = Document::create();
    // A document made whole, not edited: nothing to undo.
    document->undoManager().disableUndoRegistration();
    document->setProjectFramerate(kProjectFramerate);
    document->setViewType(Document::kCueViewType);
    document->setReelSelectionMode(kSelectByTimecode);
    document->setCueSelectionMode(kSelectByTimecode);

    const std::shared_ptr<Reel> reel1 = addReel(*document, "Reel 1", "01:00:00:00");
    const std::shared_ptr<Reel> reel2 = addReel(*document, "Reel 2", "02:00:00:00");
    const std::shared_ptr<Cue> first = opening(*document, reel1);
    chase(*document, reel1);
    finale(*document, reel2);
    addADRFoleyLines(*document);
    document->cueController().setSelectedObjects({first});
    document->undoManager().enableUndoRegistration();
    return document;
}

// Where the demo goes; refuses a folder that is not there and a file that
// is, unless it may be replaced.
std::string targetPath(const Options& options) {
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::file_status folder = fs::status(options.directory, code);
    if (!fs::exists(folder))
        throw std::runtime_error("cannot write the demo into " + options.directory + ": no such folder");
    if (!fs::is_directory(folder))
        throw std::runtime_error("cannot write the demo into " + options.directory + ": not a folder");
    const std::string path = (fs::path(options.directory) / DemoCommand::kFileName).string();
    if (fs::exists(fs::symlink_status(path, code)) && !options.force)
        throw std::runtime_error(path + " already exists (--force replaces it)");
    return path;
}

}  // namespace

const char* DemoCommand::usage() {
    return "usage: tollvane-cli demo [DIR] [--force]\n"
           "\n"
           "Writes a demonstration document, \"Tollvane Demo.tollvane\", into the folder DIR (by\n"
           "default the current one) and prints its path. At 25 fps, with reels and cues\n"
           "selected by the incoming timecode, it holds:\n"
           "  Reel 1 from 01:00:00:00 and Reel 2 from 02:00:00:00 (no movies);\n"
           "  1M1 Opening  a two-bar count-off from 01:00:06:00 into the music at 01:00:10:00,\n"
           "               120 bpm 4/4, 100 bpm from bar 9, 3/4 from bar 13, streamers, punches;\n"
           "  1M2 Chase    6/8 in two from 01:01:00:00, faster from bar 9;\n"
           "  2M1 Finale   4/4 from 02:00:20:00, 7/8 (2+2+3) from bar 5, punches;\n"
           "  four ADR/Foley lines on Reel 1 with streamers and beeps.\n"
           "An existing file is left alone unless --force is given.\n"
           "\n"
           "  --force   replace an existing \"Tollvane Demo.tollvane\" in DIR\n"
           "\n"
           "Try: tollvane-cli rehearse \"Tollvane Demo.tollvane\" --cue \"1M1 Opening\"\n";
}

int DemoCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    const std::string path = targetPath(options);

    DocumentCommands::Session session({}, err);
    session.environment().setProjectFramerate(EMTimecode::framerateForIndex(kProjectFramerate));
    const KeptUserDefaults kept;
    const std::shared_ptr<Document> document = demoDocument();
    std::string error;
    // The save's own message names the file and the reason.
    if (!document->writeToFile(path, &error))
        throw std::runtime_error(error.empty() ? "cannot write " + path : error);
    out << path << "\n";
    return 0;
}

}  // namespace tollvane
