#include "document/ImportCSVWindowController.h"

#include <algorithm>
#include <random>

#include "document/CSVParser.h"
#include "document/TextEncodingDetector.h"
#include "platform/Log.h"

namespace tollvane {

namespace {

const std::vector<ImportCSVWindowController::Column>& namedColumns() {
    static const std::vector<ImportCSVWindowController::Column> columns{
        {"cuenumber", "Cue Number"}, {"sync", "Sync"}, {"tags", "Tags"}, {"text", "Text"}};
    return columns;
}

bool isNamed(const std::string& identifier) {
    const auto& named = namedColumns();
    return std::any_of(named.begin(), named.end(), [&](const auto& c) { return c.identifier == identifier; });
}

}  // namespace

ImportCSVWindowController::ImportCSVWindowController(ADRFoleyEventArrayController& controller,
                                                     std::optional<std::string> path)
    : controller_(controller), path_(std::move(path)), columns_(namedColumns()) {
    parse();
}

std::string ImportCSVWindowController::fileName() const {
    if (!path_ || path_->empty()) return kNoFileName;
    const size_t slash = path_->find_last_of('/');
    return slash == std::string::npos ? *path_ : path_->substr(slash + 1);
}

void ImportCSVWindowController::selectDelimiterTag(int32_t tag) {
    selectedTag_ = tag;
    if (tag == kCustomDelimiterTag) {
        delimiter_ = customDelimiter_;
    } else {
        // A character's code; a tag past one byte names a character we keep as UTF-8.
        char32_t c = static_cast<char32_t>(tag);
        std::string text;
        if (c < 0x80) {
            text.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            text.push_back(static_cast<char>(0xC0 | (c >> 6)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xE0 | ((c >> 12) & 0x0F)));
            text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
        delimiter_ = std::move(text);
    }
    parse();
}

void ImportCSVWindowController::setCustomDelimiter(std::string delimiter) {
    customDelimiter_ = std::move(delimiter);
    if (selectedTag_ == kCustomDelimiterTag) {
        delimiter_ = customDelimiter_;
        parse();
    }
}

bool ImportCSVWindowController::parse() {
    if (!path_) return false;
    const TextEncodingDetector::Result text = TextEncodingDetector::stringWithContentsOfFile(*path_);
    if (!text.ok()) {
        TLLog("Error parsing text file: %s", text.error.c_str());
        return false;
    }
    rows_ = CSVParser::csvRowsWithDelimiter(text.text, delimiter_);
    fitColumnsToRows();
    return true;
}

void ImportCSVWindowController::fitColumnsToRows() {
    std::erase_if(columns_, [](const Column& column) { return !isNamed(column.identifier); });
    size_t longest = namedColumns().size();
    for (const auto& row : rows_) longest = std::max(longest, row.size());
    while (columns_.size() < longest) columns_.push_back({newIgnoreIdentifier(), kIgnoreTitle});
}

std::string ImportCSVWindowController::newIgnoreIdentifier() const {
    static std::mt19937 generator{std::random_device{}()};
    for (;;) {
        const std::string identifier = "ignore-" + std::to_string(generator());
        if (std::none_of(columns_.begin(), columns_.end(),
                         [&](const Column& column) { return column.identifier == identifier; })) {
            return identifier;
        }
    }
}

std::vector<std::string> ImportCSVWindowController::columnIdentifiers() const {
    std::vector<std::string> identifiers;
    identifiers.reserve(columns_.size());
    for (const auto& column : columns_) identifiers.push_back(column.identifier);
    return identifiers;
}

void ImportCSVWindowController::moveColumn(size_t from, size_t to) {
    if (from >= columns_.size() || to >= columns_.size() || from == to) return;
    Column moving = std::move(columns_[from]);
    columns_.erase(columns_.begin() + static_cast<std::ptrdiff_t>(from));
    columns_.insert(columns_.begin() + static_cast<std::ptrdiff_t>(to), std::move(moving));
}

ADRFoleyEventArrayController::ImportResult ImportCSVWindowController::ok() {
    if (!path_) return {};
    return controller_.finishImportingCSV(*path_, delimiter_, columnIdentifiers());
}

void ImportCSVWindowController::cancel() {
    controller_.cancelImportingCSV();
}

}  // namespace tollvane
