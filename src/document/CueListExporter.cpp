#include "document/CueListExporter.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>
#include <system_error>
#include <vector>

#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEvent.h"
#include "model/CueEventCueEnd.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

// The byte length of the white space or line break that starts at `pos`, 0
// when there is none: the ASCII controls \t to \r, the space, and the
// Unicode space separators, line and paragraph separators and NEL, as the
// platform's white-space-and-newline set holds them.
size_t whitespaceLength(std::string_view text, size_t pos) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[pos + k]); };
    const unsigned char lead = byte(0);
    if (lead == ' ' || (lead >= '\t' && lead <= '\r')) return 1;
    const size_t length = textscan::characterLength(text, pos);
    if (length == 2) {
        const uint32_t code = (uint32_t(lead & 0x1F) << 6) | (byte(1) & 0x3F);
        return code == 0x85 || code == 0xA0 ? 2 : 0;
    }
    if (length == 3) {
        const uint32_t code =
            (uint32_t(lead & 0x0F) << 12) | (uint32_t(byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        const bool space = code == 0x1680 || (code >= 0x2000 && code <= 0x200A) || code == 0x2028 ||
                           code == 0x2029 || code == 0x202F || code == 0x205F || code == 0x3000;
        return space ? 3 : 0;
    }
    return 0;
}

void skipWhitespace(std::string_view text, size_t& pos) {
    while (pos < text.size()) {
        const size_t length = whitespaceLength(text, pos);
        if (length == 0) return;
        pos += length;
    }
}

// Up to (not including) the next white space or the end.
std::string scanUpToWhitespace(std::string_view text, size_t& pos) {
    const size_t begin = pos;
    while (pos < text.size() && whitespaceLength(text, pos) == 0) pos += textscan::characterLength(text, pos);
    return std::string(text.substr(begin, pos - begin));
}

// One or more "M" or "m".
bool scanMLetters(std::string_view text, size_t& pos) {
    const size_t begin = pos;
    while (pos < text.size() && (text[pos] == 'M' || text[pos] == 'm')) ++pos;
    return pos > begin;
}

// The text as valid UTF-8, each byte of a broken sequence replaced by
// U+FFFD: a title damaged on disk keeps its readable part rather than
// costing the user the whole export, and both lists are the UTF-8 text they
// say they are.
std::string validUTF8(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        const size_t length = textscan::characterLength(text, pos);
        bool ok = lead < 0x80 || length > 1;
        if (length > 1) {
            // Overlong forms, surrogates and values past U+10FFFF are not text.
            const auto second = static_cast<unsigned char>(text[pos + 1]);
            if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
                (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90) || lead > 0xF4 ||
                lead < 0xC2) {
                ok = false;
            }
        }
        if (ok) {
            valid.append(text.substr(pos, length));
        } else {
            valid.append("\xEF\xBF\xBD");
        }
        pos += ok ? length : 1;
    }
    return valid;
}

// One field of a tab-delimited line: a tab or line break inside a title
// would split the cue's line, so each becomes a space.
std::string tabField(std::string_view text) {
    std::string field = validUTF8(text);
    for (char& c : field) {
        if (c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') c = ' ';
    }
    return field;
}

std::string cueEndStringForJSON(const Cue& cue) {
    if (const std::shared_ptr<CueEventCueEnd> end = cue.cueEndEvent()) {
        if (const std::shared_ptr<EMTimecode> timecode = end->lockTimecode())
            return timecode->stringRepresentation();
    }
    return cue.syncTimecodeString();
}

std::string cueEndStringForTabDelimitedList(Cue& cue) {
    for (const std::shared_ptr<CueEvent>& event : cue.eventsForArrayController()) {
        if (!dynamic_cast<const CueEventCueEnd*>(event.get())) continue;
        if (const std::shared_ptr<EMTimecode> timecode = event->lockTimecode())
            return timecode->stringRepresentation();
        break;
    }
    return cue.syncTimecodeString();
}

// Writes through AtomicFile, which renames a new file over the old one. A
// link is followed so that it stays a link; a target that is not a regular
// file (a folder, a device, a pipe) is refused, since the rename would
// replace it.
std::string writeList(const std::string& path, const std::string& text) {
    namespace fs = std::filesystem;
    std::error_code code;
    std::string target = path;
    if (fs::is_symlink(fs::symlink_status(path, code))) {
        const fs::path resolved = fs::weakly_canonical(path, code);
        if (code) return "cannot follow the link " + path + ": " + code.message();
        target = resolved.string();
    }
    const fs::file_status status = fs::status(target, code);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        return target == path ? "not a regular file" : "the link leads to " + target + ", not a regular file";
    }
    return AtomicFile::write(target, std::vector<uint8_t>(text.begin(), text.end()));
}

// Answers false with the reason when the JSON cannot be made.
bool makeJSON(Document& document, std::string& json, std::string& reason) {
    try {
        nlohmann::ordered_json root;
        root["reels"] = nlohmann::ordered_json::array();
        for (const std::shared_ptr<Reel>& reel : document.reelController().arrangedObjects()) {
            nlohmann::ordered_json entry;
            entry["reelID"] = reel->reelID();
            entry["title"] = validUTF8(reel->title());
            entry["start"] = reel->startTimecodeString();
            entry["end"] = reel->endTimecodeString();
            root["reels"].push_back(std::move(entry));
        }
        root["cues"] = nlohmann::ordered_json::array();
        for (const std::shared_ptr<Cue>& cue : document.cueController().arrangedObjects()) {
            const CueListExporter::SplitTitle split = CueListExporter::splitTitleForJSON(cue->title());
            const std::shared_ptr<Reel> reel = cue->reel();
            nlohmann::ordered_json entry;
            entry["reelNumber"] = split.reelNumber;
            entry["cueNumber"] = validUTF8(split.cueNumber);
            entry["title"] = validUTF8(split.title);
            entry["start"] = cue->syncTimecodeString();
            entry["end"] = cueEndStringForJSON(*cue);
            entry["reelID"] = reel ? reel->reelID() : uint32_t{0};
            root["cues"].push_back(std::move(entry));
        }
        json = root.dump(2) + "\n";
        return true;
    } catch (const std::exception& error) {
        reason = error.what();
        return false;
    }
}

}  // namespace

CueListExporter::SplitTitle CueListExporter::splitTitleForJSON(const std::string& title) {
    SplitTitle split;
    size_t pos = 0;
    int64_t number = 0;
    if (!textscan::scanInteger(title, pos, number)) {
        split.cueNumber = "-";
        split.title = title;
        return split;
    }
    if (scanMLetters(title, pos)) {
        split.reelNumber = number;
        split.cueNumber = scanUpToWhitespace(title, pos);
    } else {
        split.cueNumber = std::to_string(number);
    }
    skipWhitespace(title, pos);
    split.title = title.substr(pos);
    return split;
}

CueListExporter::SplitTitle CueListExporter::splitTitleForTabDelimitedList(const std::string& title) {
    // White space is skipped before each item, as a scanner with the
    // white-space set to skip does.
    SplitTitle split;
    split.title = title;
    size_t pos = 0;
    int64_t number = 0;
    skipWhitespace(title, pos);
    if (!textscan::scanInteger(title, pos, number)) return split;
    skipWhitespace(title, pos);
    if (!scanMLetters(title, pos)) {
        split.reelNumber = number;
        return split;
    }
    skipWhitespace(title, pos);
    std::string cueNumber = scanUpToWhitespace(title, pos);
    if (cueNumber.empty()) {
        split.reelNumber = number;
        return split;
    }
    split.reelNumber = number;
    split.cueNumber = std::move(cueNumber);
    // Such a scanner is at its end when only white space is left.
    size_t rest = pos;
    skipWhitespace(title, rest);
    if (rest < title.size()) pos += textscan::characterLength(title, pos);
    split.title = title.substr(pos);
    return split;
}

std::string CueListExporter::jsonString(Document& document) {
    std::string json;
    std::string reason;
    if (!makeJSON(document, json, reason)) {
        TLLog("Unable to create JSON data: %s", reason.c_str());
        return {};
    }
    return json;
}

std::string CueListExporter::tabDelimitedString(Document& document) {
    std::string text;
    // A copy: asking a cue for its events may touch the list.
    const std::vector<std::shared_ptr<Cue>> cues = document.cueController().content();
    for (const std::shared_ptr<Cue>& cue : cues) {
        const SplitTitle split = splitTitleForTabDelimitedList(cue->title());
        text += std::to_string(split.reelNumber);
        text += '\t';
        text += tabField(split.cueNumber);
        text += '\t';
        text += tabField(split.title);
        text += '\t';
        text += cue->syncTimecodeString();
        text += "\t\t";
        text += cueEndStringForTabDelimitedList(*cue);
        text += "\t\n";
    }
    return text;
}

bool CueListExporter::exportJSON(Document& document, const std::string& path, std::string* error) {
    std::string json;
    std::string reason;
    if (!makeJSON(document, json, reason)) {
        TLLog("Unable to create JSON data: %s", reason.c_str());
        if (error) *error = "Unable to create JSON data: " + reason;
        return false;
    }
    const std::string failure = writeList(path, json);
    if (!failure.empty()) {
        if (error) *error = failure;
        return false;
    }
    return true;
}

bool CueListExporter::saveTabDelimitedCueList(Document& document, const std::string& path,
                                              std::string* error) {
    const std::string text = tabDelimitedString(document);
    const std::string failure = writeList(path, text);
    if (!failure.empty()) {
        if (error) *error = failure;
        return false;
    }
    return true;
}

}  // namespace tollvane
