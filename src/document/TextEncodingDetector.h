#pragma once

// Reads the bytes of a text file into UTF-8, finding out how they were
// encoded: a byte-order mark says UTF-8 or UTF-16 (big or little endian);
// without one, text that is valid UTF-8 is taken as UTF-8 and anything else
// as Latin-1 (ISO 8859-1), which every byte sequence is, except that NUL
// bytes without a byte-order mark mean the file is not text we can read.
//
// Threads: any (no shared state).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tollvane {

class TextEncodingDetector {
public:
    enum class Encoding { UTF8, UTF8WithBOM, UTF16BigEndian, UTF16LittleEndian, Latin1 };

    struct Result {
        // The text as UTF-8, without its byte-order mark; empty on failure.
        std::string text;
        Encoding encoding = Encoding::UTF8;
        // Why the bytes could not be read; empty on success.
        std::string error;
        bool ok() const { return error.empty(); }
    };

    // The largest file read as text.
    static constexpr size_t kLargestFile = 256u * 1024u * 1024u;

    static Result stringFromBytes(std::string_view bytes);
    // Reads the file whole; the error names the failure ("No such file or
    // directory", "not a text file", ...).
    static Result stringWithContentsOfFile(const std::string& path);

    static const char* encodingName(Encoding encoding);
};

}  // namespace tollvane
