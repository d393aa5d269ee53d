#pragma once

// The import dialog for delimited text ("ImportCSV") as a plain object: the
// file it imports, the delimiter, the preview of the parsed rows, and the
// preview table's columns, which the user drags into the file's column
// order. The window itself only lays this out and forwards to it.
//
// The table starts with the four named columns "cuenumber", "sync", "tags"
// and "text"; after each parse it also has "(ignore)" columns (each with an
// identifier of its own) up to the length of the longest row.
//
// Threads: main thread only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "document/ADRFoleyEventArrayController.h"

namespace tollvane {

class ImportCSVWindowController {
public:
    struct Column {
        std::string identifier;
        std::string title;
        bool operator==(const Column&) const = default;
    };

    static constexpr const char* kIgnoreTitle = "(ignore)";
    static constexpr const char* kNoFileName = "(no file)";
    // The preset menu's item for a delimiter of the user's own.
    static constexpr int32_t kCustomDelimiterTag = 0;

    // Parses the file for the preview at once (with ",").
    ImportCSVWindowController(ADRFoleyEventArrayController& controller, std::optional<std::string> path);

    const std::optional<std::string>& path() const { return path_; }
    // The file's name, or "(no file)".
    std::string fileName() const;

    const std::string& delimiter() const { return delimiter_; }
    // A preset: the tag is the delimiter's character; kCustomDelimiterTag
    // shows the custom field and takes its text. Re-parses.
    void selectDelimiterTag(int32_t tag);
    int32_t selectedDelimiterTag() const { return selectedTag_; }
    bool customDelimiterFieldVisible() const { return selectedTag_ == kCustomDelimiterTag; }
    const std::string& customDelimiter() const { return customDelimiter_; }
    // Typing in the custom field; re-parses while the custom item is chosen.
    void setCustomDelimiter(std::string delimiter);

    // Reads and splits the file again. A file that cannot be read logs
    // "Error parsing text file: %@" and keeps the preview as it was.
    // Answers whether the preview was refreshed.
    bool parse();
    const std::vector<std::vector<std::string>>& rows() const { return rows_; }

    const std::vector<Column>& columns() const { return columns_; }
    std::vector<std::string> columnIdentifiers() const;
    // A column dragged from one place to another.
    void moveColumn(size_t from, size_t to);

    // "OK": the import with the columns in their order left to right.
    ADRFoleyEventArrayController::ImportResult ok();
    // "Cancel".
    void cancel();

private:
    void fitColumnsToRows();
    std::string newIgnoreIdentifier() const;

    ADRFoleyEventArrayController& controller_;
    std::optional<std::string> path_;
    std::string delimiter_ = ",";
    int32_t selectedTag_ = ',';
    std::string customDelimiter_;
    std::vector<std::vector<std::string>> rows_;
    std::vector<Column> columns_;
};

}  // namespace tollvane
