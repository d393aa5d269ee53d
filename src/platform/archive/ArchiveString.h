#pragma once

// Strings as archives can hold them. libplist writes strings up to their
// first NUL and converts UTF-8 to UTF-16 for anything beyond ASCII, which
// garbles invalid UTF-8; so both directions cut at the first NUL and replace
// every invalid sequence (overlong forms, surrogates, code points past
// U+10FFFF, stray bytes) by U+FFFD. A string read and written back is then
// the string that was read.

#include <string>
#include <string_view>

namespace tollvane {

std::string archivableString(std::string_view text);

}  // namespace tollvane
