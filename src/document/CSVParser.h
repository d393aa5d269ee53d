#pragma once

// Splits delimited text (comma-, tab- or otherwise separated) into rows of
// fields. Quotes group a field that holds delimiters or line ends; a doubled
// quote inside quotes stands for one quote. Line ends outside quotes end the
// row, so blank lines vanish; white space after a delimiter is skipped; an
// empty last field and a row without fields are dropped.
//
// The delimiter may be several characters long. A character of it met on its
// own (without the rest of the delimiter right after it) is an ordinary
// character of the field. White space that is part of the delimiter (a tab
// delimiter) is never skipped after a delimiter, so empty fields between two
// tabs survive.
//
// Text is UTF-8; the newline characters are LF, VT, FF, CR, NEL, LS and PS.
//
// Threads: any (no shared state).

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tollvane {

class CSVParser {
public:
    using Row = std::vector<std::string>;
    using RowHandler = std::function<void(Row&& row)>;

    static constexpr const char* kDefaultDelimiter = ",";

    // csvRowsWithDelimiter: an empty delimiter means ",".
    static std::vector<Row> csvRowsWithDelimiter(std::string_view text, std::string_view delimiter);
    // The same, handing each row over as it ends; answers the number of rows.
    static size_t forEachRow(std::string_view text, std::string_view delimiter, const RowHandler& handler);
};

}  // namespace tollvane
