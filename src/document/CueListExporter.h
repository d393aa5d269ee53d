#pragma once

// A document's cue list for other tools: JSON (reels and cues, pretty
// printed) and tab-delimited text (one line per cue). Both read reel and
// cue numbers out of cue titles by the "2M14 Main Title" convention, each
// with its own small rules, kept as they are because files made with them
// exist. Files are written atomically.
//
// Threads: main thread.

#include <cstdint>
#include <string>

namespace tollvane {

class Document;

class CueListExporter {
public:
    struct SplitTitle {
        int64_t reelNumber = 0;
        std::string cueNumber;
        std::string title;
    };
    // The JSON rule and the tab-delimited rule.
    static SplitTitle splitTitleForJSON(const std::string& title);
    static SplitTitle splitTitleForTabDelimitedList(const std::string& title);

    // The texts, and the files (false with `error` saying why; "Unable to
    // create JSON data: %@" is logged when the JSON cannot be made).
    static std::string jsonString(Document& document);
    static std::string tabDelimitedString(Document& document);
    static bool exportJSON(Document& document, const std::string& path, std::string* error);
    static bool saveTabDelimitedCueList(Document& document, const std::string& path, std::string* error);
};

}  // namespace tollvane
