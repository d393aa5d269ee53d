#include "app/cli/ClicksCommand.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>

#include "app/cli/CommandLineCueEnvironment.h"
#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "app/cli/DocumentCommands.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueDefaults.h"
#include "model/CueEnvironment.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventTempoChange.h"
#include "platform/UserDefaults.h"
#include "playback/FFMusicSequence.h"
#include "playback/TLEvent.h"
#include "timebase/EMTimecode.h"
#include "timebase/NoteDuration.h"

namespace tollvane {

namespace {

constexpr int32_t kMaxBar = 9999;
constexpr int32_t kDefaultBarsShown = 8;
// Each query starts just past the previous answer, as the click-track
// export steps.
constexpr double kStep = 0.01;
constexpr double kResumeStep = 0.25;

struct TempoOption {
    double bpm;
    int32_t bar;
};

struct MeterOption {
    TimeSignature meter;
    int32_t bar;
};

struct ClickOption {
    int32_t code;
    std::vector<uint32_t> pattern;
    int32_t bar;
};

struct PunchOption {
    int32_t value;  // bar punch: holes (0 off); beat punch: note-duration code
    int32_t bar;
};

struct CountoffOption {
    int32_t beats;
    int32_t bar;
};

struct Options {
    std::string sync = "1:00:00:00";
    EMTimecodeFramerate rate = EMTimecodeFramerate::framerateForIndex(4);
    std::vector<TempoOption> tempos;
    std::vector<MeterOption> meters;
    std::vector<ClickOption> clicks;
    std::vector<PunchOption> barPunches;
    std::vector<PunchOption> beatPunches;
    bool warningPunches = false;
    std::vector<CountoffOption> countoffs;
    uint32_t warningBeats = 4;
    int32_t startBar = 1;
    uint32_t mute = 0;
    std::optional<int32_t> bars;
    std::optional<int32_t> from;
    std::optional<int32_t> to;
    bool json = false;
    bool help = false;
    // The document form: a cue of a document instead of one built from options.
    std::optional<std::string> file;
    std::optional<std::string> cue;
    CommandLineAlertPresenter::Switches switches;
    // The first option given that builds a cue (none go with a document).
    std::string builderOption;
};

struct Click {
    double position = 0.0;
    std::string barBeat;
    std::string timecode;
    // Exact seconds of timecode (from 0:00:00:00), for tools that place clicks
    // closer than a frame.
    std::optional<double> timecodeSeconds;
    bool sounds = false;  // audible clicks
    int64_t holes = 0;    // visual clicks: the punch's holes, 0 without a punch
};

int64_t parseInteger(const std::string& text, const std::string& what, int64_t low, int64_t high) {
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        throw CommandLineError("'" + text + "' is not " + what + " (" + std::to_string(low) + " to " +
                               std::to_string(high) + ")");
    }
    return value;
}

bool isPowerOfTwoUpTo(int64_t value, int64_t high) {
    for (int64_t d = 1; d <= high; d *= 2) {
        if (value == d) return true;
    }
    return false;
}

// "VALUE@BAR" into VALUE and the bar; bar 1 without "@".
std::pair<std::string, int32_t> splitAtBar(const std::string& text) {
    const size_t at = text.rfind('@');
    if (at == std::string::npos) return {text, 1};
    return {text.substr(0, at),
            static_cast<int32_t>(parseInteger(text.substr(at + 1), "a bar number", 1, kMaxBar))};
}

double parseBpm(const std::string& text) {
    double value = 0.0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value <= 0.0 ||
        value > 1000.0) {
        throw CommandLineError("'" + text + "' is not a tempo in bpm (above 0, at most 1000)");
    }
    return value;
}

TimeSignature parseMeter(const std::string& text) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) throw CommandLineError("'" + text + "' is not a meter (like 7/8)");
    const int64_t numerator = parseInteger(text.substr(0, slash), "a meter numerator", 1, 99);
    const int64_t denominator = parseInteger(text.substr(slash + 1), "a meter denominator", 1, 128);
    if (!isPowerOfTwoUpTo(denominator, 128)) {
        throw CommandLineError("'" + text + "' is not a meter: the denominator is 1, 2, 4, ... or 128");
    }
    return TimeSignature{static_cast<uint16_t>(numerator), static_cast<uint16_t>(denominator)};
}

// The note-duration code of a note value given as a fraction of a whole
// note ("1/4", "3/8"), or the click-off code for "off".
int32_t parseNote(const std::string& text) {
    if (text == "off") return NoteDuration::kOff;
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        const int64_t count = parseInteger(text.substr(0, slash), "a note count", 1, 8);
        const int64_t division = parseInteger(text.substr(slash + 1), "a note division", 1, 64);
        const double quarters = 4.0 * static_cast<double>(count) / static_cast<double>(division);
        for (int32_t code = 0; code <= 14; ++code) {
            // Code 13 is stored with a length no note has.
            if (code != 13 && NoteDuration::quarterNotes(code) == quarters) return code;
        }
    }
    throw CommandLineError("'" + text +
                           "' is not a click note (off, 2/1, 3/2, 1/1, 3/4, 1/2, 3/8, 1/4, 3/16, 1/8, "
                           "3/32, 1/16, 3/64, 1/32, 1/64)");
}

// "2,2,3" or "2+2+3", optionally "/8" for the pulse (an eighth by default).
ClickOption parsePattern(const std::string& text, int32_t bar) {
    ClickOption click{0, {}, bar};
    std::string groups = text;
    int64_t division = 8;
    if (const size_t slash = text.find('/'); slash != std::string::npos) {
        groups = text.substr(0, slash);
        division = parseInteger(text.substr(slash + 1), "a pulse division", 1, 64);
        if (!isPowerOfTwoUpTo(division, 64)) {
            throw CommandLineError("'" + text + "' is not a pattern: the pulse is 1, 2, 4, ... or 64");
        }
    }
    size_t begin = 0;
    while (true) {
        const size_t end = groups.find_first_of(",+", begin);
        click.pattern.push_back(static_cast<uint32_t>(
            parseInteger(groups.substr(begin, end - begin), "a group of pulses", 1, 99)));
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    if (click.pattern.size() > 32) throw CommandLineError("'" + text + "' has more than 32 groups");
    click.code = parseNote("1/" + std::to_string(division));
    return click;
}

std::string checkedTimecode(const std::string& text) {
    const bool readable = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == ':' || c == ';' || c == '.' || c == ',';
    });
    if (!readable) throw CommandLineError("'" + text + "' is not a timecode (like 1:00:00:00)");
    return text;
}

EMTimecodeFramerate parseRate(const std::string& name) {
    const int index = EMTimecodeFramerate::indexForName(name);
    if (index < 0) {
        throw CommandLineError("unknown frame rate '" + name +
                               "' for --rate (23.976, 24, 24.975, 25, 29.97nd, 29.97df, 30, 30df)");
    }
    return EMTimecodeFramerate::framerateForIndex(index);
}

template <class Option>
void refuseSecondAtBar(const std::vector<Option>& options, int32_t bar, const char* name) {
    for (const Option& option : options) {
        if (option.bar == bar)
            throw CommandLineError(std::string("two ") + name + " at bar " + std::to_string(bar));
    }
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    CommandLineOptions reader("clicks");
    DocumentCommands::addAlertSwitches(reader, options.switches);
    // The options that build a cue, noting the first one given (they do not
    // go with a document's cue).
    const auto builder = [&](const char* name, std::function<void(const std::string&)> action) {
        reader.value(name, [&options, name, action = std::move(action)](const std::string& value) {
            if (options.builderOption.empty()) options.builderOption = name;
            action(value);
        });
    };
    // "VALUE[@BAR]": one per bar for each kind of change.
    const auto atBar = [](auto& list, const std::string& value, const char* what, auto parse) {
        auto [text, at] = splitAtBar(value);
        refuseSecondAtBar(list, at, what);
        list.push_back(parse(text, at));
    };
    const auto bar = [](const std::string& value, const char* what) {
        return static_cast<int32_t>(parseInteger(value, what, 1, kMaxBar));
    };
    builder("--sync", [&](const std::string& value) { options.sync = checkedTimecode(value); });
    builder("--rate", [&](const std::string& value) { options.rate = parseRate(value); });
    builder("--tempo", [&](const std::string& value) {
        atBar(options.tempos, value, "--tempo", [](const std::string& text, auto at) {
            return TempoOption{parseBpm(text), at};
        });
    });
    builder("--meter", [&](const std::string& value) {
        atBar(options.meters, value, "--meter", [](const std::string& text, auto at) {
            return MeterOption{parseMeter(text), at};
        });
    });
    builder("--click", [&](const std::string& value) {
        atBar(options.clicks, value, "click changes (--click, --pattern)",
              [](const std::string& text, auto at) {
                  return ClickOption{parseNote(text), {}, at};
              });
    });
    builder("--pattern", [&](const std::string& value) {
        atBar(options.clicks, value, "click changes (--click, --pattern)",
              [](const std::string& text, auto at) { return parsePattern(text, at); });
    });
    builder("--bar-punch", [&](const std::string& value) {
        atBar(options.barPunches, value, "--bar-punch", [](const std::string& text, auto at) {
            return PunchOption{static_cast<int32_t>(parseInteger(text, "a count of holes", 0, 16)), at};
        });
    });
    builder("--beat-punch", [&](const std::string& value) {
        atBar(options.beatPunches, value, "--beat-punch", [](const std::string& text, auto at) {
            return PunchOption{parseNote(text), at};
        });
    });
    builder("--countoff", [&](const std::string& value) {
        atBar(options.countoffs, value, "--countoff", [](const std::string& text, auto at) {
            return CountoffOption{static_cast<int32_t>(parseInteger(text, "a count of beats", 1, 64)), at};
        });
    });
    builder("--warning-beats", [&](const std::string& value) {
        options.warningBeats = static_cast<uint32_t>(parseInteger(value, "a count of warning beats", 0, 64));
    });
    builder("--mute", [&](const std::string& value) {
        options.mute = static_cast<uint32_t>(parseInteger(value, "a click mute setting", 0, 2));
    });
    builder("--bars", [&](const std::string& value) { options.bars = bar(value, "a number of bars"); });
    reader
        .flag("--warning-punches",
              [&] {
                  if (options.builderOption.empty()) options.builderOption = "--warning-punches";
                  options.warningPunches = true;
              })
        .flag("--json", options.json)
        .value("--start", [&](const std::string& value) { options.startBar = bar(value, "a bar number"); })
        .value("--from", [&](const std::string& value) { options.from = bar(value, "a bar number"); })
        .value("--to", [&](const std::string& value) { options.to = bar(value, "a bar number"); })
        .value("--cue", [&](const std::string& value) { options.cue = value; });
    options.help = !reader.parse(arguments, 0, 1);
    if (options.help) return options;
    if (!reader.operands().empty()) options.file = reader.operands()[0];
    if (options.file && !options.cue)
        throw CommandLineError("clicks " + *options.file + " needs --cue TITLE|ID to choose the cue");
    if (options.cue && !options.file) throw CommandLineError("--cue needs a document FILE");
    if (options.file && !options.builderOption.empty()) {
        throw CommandLineError(options.builderOption +
                               " builds a cue from options and does not go with a document's cue");
    }
    if (options.from && options.to && *options.from > *options.to) {
        throw CommandLineError("--from " + std::to_string(*options.from) + " is after --to " +
                               std::to_string(*options.to));
    }
    return options;
}

void lockToBar(CueEvent& event, int32_t bar) {
    event.setLockType(CueEvent::kLockTypeBar);
    event.setLockBar(bar);
}

double downbeatOfCueBar(const FFMusicSequence& sequence, int64_t cueBar) {
    return sequence.beatsForBarNumber(static_cast<int32_t>(cueBar + Cue::kPrerollBars), 1);
}

// One click change per bar that changes the click or the punches. A click
// change that changes punches sets both kinds, so the kind not named at a bar
// carries on from the bar before.
void addClickChanges(const std::shared_ptr<Cue>& cue, const Options& options) {
    std::map<int32_t, std::shared_ptr<CueEventClickChange>> changes;
    auto changeAt = [&](int32_t bar) {
        auto& event = changes[bar];
        if (!event) {
            event = CueEventClickChange::clickChangeWithCue(cue, NoteDuration::kQuarter, 0.0);
            event->setChangeClick(false);
            lockToBar(*event, bar);
        }
        return event;
    };
    for (const ClickOption& click : options.clicks) {
        auto event = changeAt(click.bar);
        event->setChangeClick(true);
        event->setClickNoteDuration(click.code);
        event->setClickPattern(click.pattern);
    }
    std::map<int32_t, std::pair<std::optional<int32_t>, std::optional<int32_t>>> punches;
    for (const PunchOption& punch : options.barPunches) punches[punch.bar].first = punch.value;
    for (const PunchOption& punch : options.beatPunches) punches[punch.bar].second = punch.value;
    int32_t barHoles = 0;
    int32_t beatCode = NoteDuration::kOff;
    for (const auto& [bar, punch] : punches) {
        barHoles = punch.first.value_or(barHoles);
        beatCode = punch.second.value_or(beatCode);
        auto event = changeAt(bar);
        event->setChangePunches(true);
        event->setBarPunchEnabled(barHoles > 0);
        if (barHoles > 0) event->setBarPunchHoles(barHoles);
        event->setBeatPunchNoteDuration(beatCode);
    }
    for (const auto& [bar, event] : changes) cue->meterEvents().push_back(event);
}

// The first rebuild places the bar-locked events; the playback start needs
// the meters in place, and the second rebuild sorts the changes by their
// placed positions and derives the warning beats from the start.
void compileFromPlaybackStart(Cue& cue, int32_t startBar, CommandLineCueEnvironment& environment) {
    cue.reallyUpdateSequence();
    std::shared_ptr<FFMusicSequence> sequence = cue.sequence();
    if (!sequence) throw std::runtime_error("the cue could not be compiled");
    const double start = downbeatOfCueBar(*sequence, startBar);
    environment.setPlaybackStart(start);
    cue.setPlaybackStartTimeStamp(start - Cue::kPrerollBeats);
    cue.reallyUpdateSequence();
    if (!cue.sequence()) throw std::runtime_error("the cue could not be compiled");
}

std::shared_ptr<Cue> buildCue(const Options& options, CommandLineCueEnvironment& environment) {
    std::shared_ptr<Cue> cue = Cue::create();
    cue->setUpdatesSuspended(true);
    cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(options.rate, options.sync));
    for (const TempoOption& tempo : options.tempos) {
        auto event =
            CueEventTempoChange::tempoChangeEventWithCue(cue, tempo.bpm, NoteDuration::kQuarter, 0.0);
        lockToBar(*event, tempo.bar);
        cue->tempoEvents().push_back(event);
    }
    for (const MeterOption& meter : options.meters) {
        cue->meterEvents().push_back(
            CueEventMeterChange::meterChangeWithCue(cue, meter.meter, NoteDuration::kNoChange, meter.bar));
    }
    addClickChanges(cue, options);
    for (const CountoffOption& countoff : options.countoffs) {
        auto event = CueEventCountoff::countoffEventWithCue(cue, 0.0, countoff.beats, NoteDuration::kQuarter,
                                                            true, false, true, true);
        lockToBar(*event, countoff.bar);
        cue->countoffEvents().push_back(event);
    }
    cue->setWarningBeats(options.warningBeats);
    cue->setClickMuteSetting(options.mute);
    cue->setWarningBeatPunchesEnabled(options.warningPunches);
    if (options.bars) {
        auto end = CueEventCueEnd::cueEndEventWithCue(cue);
        lockToBar(*end, *options.bars + 1);
        cue->setCueEndEvent(end);
    }
    cue->setUpdatesSuspended(false);
    compileFromPlaybackStart(*cue, options.startBar, environment);
    return cue;
}

Click describe(const Cue& cue, double position) {
    Click click;
    click.position = position;
    click.barBeat = cue.barBeatStringForTimeStamp(position - Cue::kPrerollBeats);
    const std::shared_ptr<EMTimecode> timecode = cue.timecodeForPrerollShiftedBeats(position);
    click.timecode = timecode ? timecode->stringRepresentation() : "-";
    if (const auto sync = cue.syncTimecode())
        click.timecodeSeconds =
            sync->secondsFromZero() + cue.secondsFromSyncPointForPrerollShiftedBeats(position);
    return click;
}

// Where to ask again after the cue answered that no click follows x. It
// answers only for the stretch ahead of x (the next warning click, which may
// be a silent pulse; the bar of x and the next; a count-off from a beat
// before its first click), and the sync thread keeps asking as time moves
// on, so clicks that resume later still sound. The list asks the same way:
// from the rehearsal start (before it nothing falls) in small steps up to the
// playback start, then every quarter of a beat.
double resumeAfterNoClick(const Cue& cue, double x) {
    const double rehearsalStart = cue.rehearsalStartPrerollShiftedBeats();
    if (x < rehearsalStart) return rehearsalStart;
    const double playbackStart = cue.playbackStartTimeStamp() + Cue::kPrerollBeats;
    return x + (x < playbackStart - 0.01 ? kStep : kResumeStep);
}

// Walks from `begin` (inclusive) to `end` (exclusive). `nextAfter(x, flag)`
// answers the next click at or after x (0.0 for none) and may set the flag;
// `fill(click, flag)` completes the click found.
template <class NextAfter, class Fill>
std::vector<Click> walk(const Cue& cue, double begin, double end, NextAfter nextAfter, Fill fill) {
    std::vector<Click> clicks;
    double x = begin;
    double last = -1.0;
    while (x < end) {
        bool flag = true;
        const double next = nextAfter(x, flag);
        if (next <= 0.0) {
            x = resumeAfterNoClick(cue, x);
            continue;
        }
        if (next >= end) break;
        if (next >= begin && next > last + 0.001) {
            Click click = describe(cue, next);
            fill(click, flag);
            clicks.push_back(std::move(click));
            last = next;
        }
        // Every query moves on by at least a step, so the walk ends even if an
        // answer lay behind the question.
        x = std::max(x, next) + kStep;
    }
    return clicks;
}

const char* muteText(uint32_t mute) {
    switch (mute) {
        case 1:
            return "no clicks from the playback start on";
        case 2:
            return "no clicks";
        default:
            return "clicks sound";
    }
}

std::string holesText(int64_t holes) {
    if (holes <= 0) return "-";
    return std::to_string(holes) + (holes == 1 ? " hole" : " holes");
}

void printTable(const char* title, const char* lastColumn, const std::vector<Click>& clicks, bool audible,
                std::ostream& out) {
    out << title << ": " << clicks.size() << "\n";
    if (clicks.empty()) return;
    char line[160];
    std::snprintf(line, sizeof line, "  %10s  %-12s  %-14s  %s\n", "position", "bar|beat", "timecode",
                  lastColumn);
    out << line;
    for (const Click& click : clicks) {
        const std::string last = audible ? (click.sounds ? "yes" : "no") : holesText(click.holes);
        std::snprintf(line, sizeof line, "  %10.3f  %-12s  %-14s  %s\n", click.position,
                      click.barBeat.c_str(), click.timecode.c_str(), last.c_str());
        out << line;
    }
}

nlohmann::ordered_json clickJson(const Click& click, bool audible) {
    nlohmann::ordered_json json;
    json["position"] = click.position;
    json["barBeat"] = click.barBeat;
    json["timecode"] = click.timecode;
    if (click.timecodeSeconds) json["timecodeSeconds"] = *click.timecodeSeconds;
    if (audible) {
        json["sounds"] = click.sounds;
    } else {
        json["punch"] = click.holes > 0;
        json["holes"] = click.holes;
    }
    return json;
}

// What heads the list: the cue's sync point and the settings it plays with.
struct Heading {
    std::string file;  // the document form only
    std::optional<uint32_t> cueID;
    std::string title;
    std::string syncAt;  // "bar 1", or the sync point's bar|beat
    EMTimecodeFramerate rate;
};

// Lists the clicks of a compiled cue whose playback start is set.
int listClicks(const Cue& cue, const Options& options, const Heading& heading, std::ostream& out) {
    const std::shared_ptr<FFMusicSequence> sequence = cue.sequence();
    const double playbackStart = cue.playbackStartTimeStamp() + Cue::kPrerollBeats;
    const bool hasEnd = cue.hasCueEndEvent();

    const double begin = options.from ? downbeatOfCueBar(*sequence, *options.from) : 0.0;
    double end = 0.0;
    if (options.to) {
        end = downbeatOfCueBar(*sequence, int64_t{*options.to} + 1);
    } else if (hasEnd) {
        // A click on the cue end still counts.
        end = cue.lengthInBeats() + kStep;
    } else {
        end = downbeatOfCueBar(*sequence, int64_t{options.startBar} + kDefaultBarsShown);
    }

    const std::vector<Click> audible = walk(
        cue, begin, end,
        [&](double x, bool& sounds) { return cue.nextClickTimeAfterPrerollShiftedBeats(x, &sounds); },
        [&](Click& click, bool sounds) {
            // A silent pulse of a pattern, or a click the cue turns off there.
            click.sounds = sounds && cue.audioClickAtPrerollShiftedBeats(click.position);
        });
    const std::vector<Click> visual = walk(
        cue, begin, end, [&](double x, bool&) { return cue.nextVisualClickTimeAfterPrerollShiftedBeats(x); },
        [&](Click& click, bool) {
            if (const std::shared_ptr<TLEvent> punch = cue.visualClickAtPrerollShiftedBeats(click.position))
                click.holes = std::max<int64_t>(1, punch->valueForKey("eventLength").toInt64(1));
        });

    const std::shared_ptr<EMTimecode> syncTimecode = cue.syncTimecode();
    const std::string sync = syncTimecode ? syncTimecode->stringRepresentation() : options.sync;
    const Click start = describe(cue, playbackStart);
    const bool toCueEnd = !options.to && hasEnd;
    const uint32_t warningBeats = cue.warningBeats();
    const uint32_t mute = cue.clickMuteSetting();
    if (options.json) {
        nlohmann::ordered_json json;
        if (heading.cueID) {
            json["file"] = heading.file;
            json["cueID"] = *heading.cueID;
            json["title"] = heading.title;
        }
        json["sync"] = sync;
        json["rate"] = heading.rate.label();
        json["playbackStart"] = {
            {"position", start.position}, {"barBeat", start.barBeat}, {"timecode", start.timecode}};
        json["rehearsalStart"] = cue.rehearsalStartPrerollShiftedBeats();
        json["warningBeats"] = warningBeats;
        json["mute"] = mute;
        json["cueEnd"] = hasEnd ? nlohmann::ordered_json(cue.lengthInBeats()) : nlohmann::ordered_json();
        json["from"] = begin;
        json["to"] = toCueEnd ? nlohmann::ordered_json(cue.lengthInBeats()) : nlohmann::ordered_json(end);
        json["audibleClicks"] = nlohmann::ordered_json::array();
        for (const Click& click : audible) json["audibleClicks"].push_back(clickJson(click, true));
        json["visualClicks"] = nlohmann::ordered_json::array();
        for (const Click& click : visual) json["visualClicks"].push_back(clickJson(click, false));
        out << json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
        return 0;
    }

    if (heading.cueID) {
        out << "cue \"" << DocumentCommands::printable(heading.title) << "\" (ID " << *heading.cueID
            << ") of " << heading.file << "\n";
    }
    out << "sync " << sync << " (" << heading.rate.label() << ") at " << heading.syncAt << "; playback start "
        << start.barBeat << " at " << start.timecode << "; " << warningBeats
        << (warningBeats == 1 ? " warning beat; " : " warning beats; ") << muteText(mute) << "\n";
    if (hasEnd) {
        const Click cueEnd = describe(cue, cue.lengthInBeats());
        out << "cue end " << cueEnd.barBeat << " at " << cueEnd.timecode << "\n";
    }
    out << "\n";
    printTable("audible clicks", "sounds", audible, true, out);
    out << "\n";
    printTable("visual clicks", "punch", visual, false, out);
    return 0;
}

// The document form: the cue as the document keeps it, heard in the scoring
// view, from the playback start the options give.
int runDocument(const Options& options, std::ostream& out, std::ostream& err) {
    DocumentCommands::Session session(options.switches, err);
    const std::shared_ptr<Document> document = session.open(*options.file);
    const std::shared_ptr<Cue> cue = DocumentCommands::findCue(*document, *options.file, *options.cue);
    if (document->viewType() != Document::kCueViewType) {
        // The ADR/Foley view silences a scoring cue's clicks; the program
        // remembers the view last shown, which a listing should not change.
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        const Value remembered = defaults.objectForKey("lastDocumentViewType");
        document->setViewType(Document::kCueViewType);
        defaults.setObject("lastDocumentViewType", remembered);
    }
    compileFromPlaybackStart(*cue, options.startBar, session.environment());

    Heading heading;
    heading.file = *options.file;
    heading.cueID = cue->cueID();
    heading.title = cue->title();
    heading.syncAt = cue->barBeatStringForTimeStamp(cue->syncPrerollShiftedBeats() - Cue::kPrerollBeats);
    const std::shared_ptr<EMTimecode> sync = cue->syncTimecode();
    heading.rate = sync ? sync->framerate() : session.environment().projectFramerate();
    return listClicks(*cue, options, heading, out);
}

}  // namespace

const char* ClicksCommand::usage() {
    return "usage: tollvane-cli clicks [options] [--json]\n"
           "       tollvane-cli clicks FILE --cue TITLE|ID [--start BAR] [--from BAR] [--to BAR] [--json]\n"
           "\n"
           "Lists every audible click and every visual click (punch) of a cue: the position in\n"
           "pre-roll-shifted beats (the cue's bar 1 is at 128), the bar|beat, the timecode, and\n"
           "whether the click sounds or which punch it flashes. Warning clicks before bar 1 show\n"
           "as -|-|---. Where the click is off for a while, the list looks further on, as\n"
           "playback does.\n"
           "\n"
           "Reading a cue from a document: FILE is a Tollvane document and --cue names one of\n"
           "its cues by its ID, by its exact title, or by a part of its title (any case) that\n"
           "only one cue has (tollvane-cli info FILE lists the IDs). The cue plays with its own\n"
           "tempo, meters, clicks, warning beats and mute setting, as in the scoring view; only\n"
           "--start, --from, --to and --json go with it, and --open-anyway and --yes answer\n"
           "the document's alerts (tollvane-cli info --help says how). A document that cannot\n"
           "be opened, or no cue or several matching --cue, ends with one line and status 1.\n"
           "\n"
           "Otherwise the cue is built from the options below. Bars are the cue's own bars (bar\n"
           "1 is at the sync point); @BAR defaults to bar 1.\n"
           "  --sync TIMECODE      timecode of bar 1 (default 1:00:00:00)\n"
           "  --rate RATE          frame rate: 23.976, 24, 24.975, 25, 29.97nd (default), 29.97df,\n"
           "                       30, 30df\n"
           "  --tempo BPM[@BAR]    tempo change in quarter notes a minute (default 120)\n"
           "  --meter N/D[@BAR]    meter change (default 4/4)\n"
           "  --click NOTE[@BAR]   click change: off, or a note as a fraction of a whole note:\n"
           "                       1/4 (the default click), 1/8, 3/8 (dotted quarter), 1/2, ...\n"
           "  --pattern G[/D][@BAR]\n"
           "                       click pattern: groups of pulses, like 2+2+3 or 2,2,3, with the\n"
           "                       pulse 1/D of a whole note (default /8); each group's first pulse\n"
           "                       clicks\n"
           "  --bar-punch HOLES[@BAR]\n"
           "                       punch of HOLES holes (1 to 16; 0: none) on every downbeat\n"
           "  --beat-punch NOTE[@BAR]\n"
           "                       one-hole punch every NOTE (like 1/4; off: none); visual clicks\n"
           "                       fall every NOTE, or every beat when off\n"
           "  --warning-punches    a punch on each warning click\n"
           "  --countoff BEATS[@BAR]\n"
           "                       count-off of BEATS quarter-note clicks into the bar\n"
           "  --warning-beats N    warning clicks before the playback start (default 4)\n"
           "  --mute 0|1|2         0: clicks sound (default); 1: only the warning clicks; 2: none\n"
           "  --bars N             the cue ends after bar N (a cue-end event)\n"
           "\n"
           "Both forms:\n"
           "  --start BAR          playback start (default 1)\n"
           "  --from BAR, --to BAR list only the clicks from bar FROM to the end of bar TO (default:\n"
           "                       from the first warning click to the cue's end, or for a cue\n"
           "                       without an end, to the end of the eighth bar from the playback\n"
           "                       start)\n"
           "  --json               print the same as a JSON object\n"
           "\n"
           "Examples: tollvane-cli clicks --tempo 96 --meter 7/8@5 --pattern 2+2+3@5 --bars 8\n"
           "          tollvane-cli clicks film.tollvane --cue 1M3 --to 4\n";
}

int ClicksCommand::run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const Options options = parseOptions(arguments);
    if (options.help) {
        out << usage();
        return 0;
    }
    if (options.file) return runDocument(options, out, err);

    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    auto environment = std::make_shared<CommandLineCueEnvironment>(options.rate);
    std::shared_ptr<CueEnvironment> previous = CueEnvironment::install(environment);
    struct Restore {
        std::shared_ptr<CueEnvironment> environment;
        ~Restore() { CueEnvironment::install(environment); }
    } restore{previous};

    const std::shared_ptr<Cue> cue = buildCue(options, *environment);
    Heading heading;
    heading.syncAt = "bar 1";
    heading.rate = options.rate;
    return listClicks(*cue, options, heading, out);
}

}  // namespace tollvane
