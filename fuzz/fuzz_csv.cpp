// Feeds bytes to the text-encoding detection and the delimited-text splitter.
// The first byte picks the delimiter: its low two bits a length of 0 to 3,
// taken from the bytes after it (an empty delimiter means ","). Checks what
// must hold of any input: decoded text is valid UTF-8, no row is empty, and
// the fields never hold more bytes than the text (every field byte comes
// from a byte of the text, a doubled quote gives one).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "document/CSVParser.h"
#include "document/TextEncodingDetector.h"
#include "platform/UTF8.h"

using namespace tollvane;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void split(std::string_view text, std::string_view delimiter) {
    size_t bytes = 0;
    const size_t rows = CSVParser::forEachRow(text, delimiter, [&](CSVParser::Row&& row) {
        check(!row.empty());
        for (const auto& field : row) bytes += field.size();
    });
    check(rows <= text.size());
    check(bytes <= text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t delimiterLength = std::min<size_t>(data[0] & 3, size - 1);
    const std::string_view delimiter = all.substr(1, delimiterLength);
    const std::string_view bytes = all.substr(1 + delimiterLength);

    split(bytes, delimiter);
    const TextEncodingDetector::Result decoded = TextEncodingDetector::stringFromBytes(bytes);
    if (decoded.ok()) {
        check(UTF8::isValid(decoded.text));
        split(decoded.text, delimiter);
    } else {
        check(decoded.text.empty());
    }
    return 0;
}
