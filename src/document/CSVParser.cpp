#include "document/CSVParser.h"

#include <array>

namespace tollvane {

namespace {

constexpr char kQuote = '"';

// The length of the newline character at `pos`, 0 when there is none.
size_t newlineLength(std::string_view text, size_t pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte >= 0x0A && byte <= 0x0D) return 1;
    const std::string_view rest = text.substr(pos);
    if (rest.starts_with("\xC2\x85")) return 2;
    if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) return 3;
    return 0;
}

// The length of the white space character at `pos` (tab, or a space
// separator), 0 when there is none.
size_t whitespaceLength(std::string_view text, size_t pos) {
    const char byte = text[pos];
    if (byte == ' ' || byte == '\t') return 1;
    const std::string_view rest = text.substr(pos);
    if (rest.starts_with("\xC2\xA0")) return 2;
    if (rest.size() < 3) return 0;
    if (rest.starts_with("\xE1\x9A\x80") || rest.starts_with("\xE3\x80\x80") ||
        rest.starts_with("\xE2\x80\xAF") || rest.starts_with("\xE2\x81\x9F")) {
        return 3;
    }
    if (rest.starts_with("\xE2\x80")) {
        const auto third = static_cast<unsigned char>(rest[2]);
        if (third >= 0x80 && third <= 0x8A) return 3;
    }
    return 0;
}

class Splitter {
public:
    Splitter(std::string_view text, std::string_view delimiter)
        : text_(text),
          delimiter_(delimiter.empty() ? std::string_view(CSVParser::kDefaultDelimiter) : delimiter) {
        for (char c : delimiter_) special_[static_cast<unsigned char>(c)] = true;
        special_[static_cast<unsigned char>(kQuote)] = true;
        for (unsigned char c : {0x0A, 0x0B, 0x0C, 0x0D, 0xC2, 0xE2}) special_[c] = true;
    }

    size_t run(const CSVParser::RowHandler& handler) {
        size_t rows = 0;
        while (pos_ < text_.size()) {
            CSVParser::Row row;
            if (readRow(row)) {
                ++rows;
                handler(std::move(row));
            }
        }
        return rows;
    }

private:
    // Reads up to the end of a row; answers whether the row has fields.
    bool readRow(CSVParser::Row& row) {
        std::string field;
        bool inQuotes = false;
        for (;;) {
            const size_t start = pos_;
            while (pos_ < text_.size() && !special_[static_cast<unsigned char>(text_[pos_])]) ++pos_;
            field.append(text_.data() + start, pos_ - start);
            if (pos_ >= text_.size()) break;

            if (size_t length = newlineLength(text_, pos_)) {
                const size_t runStart = pos_;
                while (length != 0) {
                    pos_ += length;
                    length = pos_ < text_.size() ? newlineLength(text_, pos_) : 0;
                }
                if (!inQuotes) break;
                field.append(text_.data() + runStart, pos_ - runStart);
            } else if (text_[pos_] == kQuote) {
                if (inQuotes && pos_ + 1 < text_.size() && text_[pos_ + 1] == kQuote) {
                    field.push_back(kQuote);
                    pos_ += 2;
                } else {
                    inQuotes = !inQuotes;
                    ++pos_;
                }
            } else if (text_.substr(pos_).starts_with(delimiter_)) {
                pos_ += delimiter_.size();
                if (inQuotes) {
                    field.append(delimiter_);
                } else {
                    row.push_back(std::move(field));
                    field.clear();
                    skipWhitespace();
                }
            } else {
                // A lone character of a longer delimiter, or a lead byte that
                // starts no newline: part of the field.
                field.push_back(text_[pos_++]);
            }
        }
        if (!field.empty()) row.push_back(std::move(field));
        return !row.empty();
    }

    void skipWhitespace() {
        while (pos_ < text_.size()) {
            const size_t length = whitespaceLength(text_, pos_);
            // Skipping part of the next delimiter would lose the field before it.
            if (length == 0 || delimiter_.find(text_.substr(pos_, length)) != std::string_view::npos) return;
            pos_ += length;
        }
    }

    std::string_view text_;
    std::string_view delimiter_;
    std::array<bool, 256> special_{};
    size_t pos_ = 0;
};

}  // namespace

std::vector<CSVParser::Row> CSVParser::csvRowsWithDelimiter(std::string_view text,
                                                            std::string_view delimiter) {
    std::vector<Row> rows;
    forEachRow(text, delimiter, [&rows](Row&& row) { rows.push_back(std::move(row)); });
    return rows;
}

size_t CSVParser::forEachRow(std::string_view text, std::string_view delimiter, const RowHandler& handler) {
    return Splitter(text, delimiter).run(handler);
}

}  // namespace tollvane
